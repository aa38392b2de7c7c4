#include "store/operatordb.h"
#include "store/sqlconnection.h"

#include "sqlfile.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString superUser = QString::fromUtf8("dorx|6172839405|超级用户|1");

QString users()
{
    return OperatorDb::get_note(QStringLiteral("select * from user"));
}

// Rows of table t in file, read through the calling thread's kept connection.
int keptCount(const QString &file)
{
    int count = -1;
    sqlconnection::use(file, "Test", [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        if (query.exec(QStringLiteral("select count(*) from t")) && query.next())
            count = query.value(0).toInt();
    });
    return count;
}

} // namespace

// The operator database works on "login_sql.db" of the working directory, so every case runs in
// a fresh temporary directory of its own.
class TestOperatorDb : public QObject
{
    Q_OBJECT

    QScopedPointer<QTemporaryDir> dir;
    QString previousDir;

private slots:
    void init()
    {
        dir.reset(new QTemporaryDir);
        previousDir = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir->path()));
    }

    void cleanup()
    {
        QDir::setCurrent(previousDir);
        dir.reset();
    }

    void startUpLeavesAnEnabledSuperUser_data()
    {
        QTest::addColumn<bool>("emptyFile"); // else: a first start-up, then the list is rewritten
        QTest::addColumn<QList<QVariantList>>("list");
        QTest::addColumn<QString>("after"); // the stored rows, as get_note gives them
        const QString boss = QString::fromUtf8("boss|pb|超级用户|");
        const QVariant superName = QString::fromUtf8("超级用户");
        QTest::newRow("empty file: both tables and the built-in super-user")
            << true << QList<QVariantList>() << superUser + ',';
        QTest::newRow("list emptied: restored")
            << false << QList<QVariantList>() << superUser + ',';
        QTest::newRow("operators only: restored")
            << false << QList<QVariantList> {{"a", "pa", "op", 1}}
            << "a|pa|op|1," + superUser + ',';
        QTest::newRow("super-user not enabled: restored")
            << false << QList<QVariantList> {{"boss", "pb", superName, 0}}
            << boss + "0," + superUser + ',';
        QTest::newRow("built-in name demoted: replaced")
            << false << QList<QVariantList> {{"dorx", "mine", "op", 1}, {"b", "pb", "op", 1}}
            << "b|pb|op|1," + superUser + ',';
        QTest::newRow("a super-user left: untouched")
            << false << QList<QVariantList> {{"boss", "pb", superName, 1}} << boss + "1,";
    }

    // A list rewrite may drop every super-user; the next start puts the built-in one back, loudly,
    // so that someone can manage the operators again. Existing rows are never lost, not even to a
    // later init_sql.
    void startUpLeavesAnEnabledSuperUser()
    {
        QFETCH(bool, emptyFile);
        QFETCH(QList<QVariantList>, list);
        QFETCH(QString, after);
        if (emptyFile) {
            QVERIFY(QFile(QStringLiteral("login_sql.db")).open(QIODevice::WriteOnly));
            QTest::ignoreMessage(QtDebugMsg, "Table record created!");
            QTest::ignoreMessage(QtDebugMsg, "Table txid created!");
        } else {
            OperatorDb::check_sql();
            QCOMPARE(OperatorDb::replace_users(list), 0);
            if (after.endsWith(superUser + ','))
                QTest::ignoreMessage(QtWarningMsg,
                    "OperatorDb: no super-user was left in login_sql.db; the built-in super-user "
                    "\"dorx\" is back with the default password");
        }
        QTest::ignoreMessage(QtDebugMsg, "Succeed to connect database.");
        OperatorDb::check_sql();
        QCOMPARE(users(), after);
        for (const char *table : {"record", "txid"})
            QTest::ignoreMessage(QtDebugMsg,
                QRegularExpression(
                    QStringLiteral("^Error: Fail to create table.%1 .*already exists").arg(table)));
        OperatorDb::init_sql();
        QCOMPARE(users(), after);
        QCOMPARE(OperatorDb::get_note(QStringLiteral("select count(*) from txid")), QString("0,"));
    }

    // Every step of the check is checked: a refused insert undoes the rest of the repair too.
    void failedStartUpCheckChangesNothing()
    {
        OperatorDb::check_sql();
        QCOMPARE(OperatorDb::replace_users({{"dorx", "mine", "op", 1}}), 0);
        OperatorDb::get_note(QStringLiteral(
            "create trigger ro before insert on user begin select raise(abort, 'ro'); end"));
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression("^OperatorDb: \"INSERT INTO user.* ro"));
        QTest::ignoreMessage(QtCriticalMsg,
            "OperatorDb: start-up check of login_sql.db failed; the file is left as it was");
        OperatorDb::check_sql();
        QCOMPARE(users(), QString("dorx|mine|op|1,"));
    }

    // The login rules of the operator database itself, which the login handlers build on, and the
    // list replaced as a whole. Values are bound, never spliced into statements: quotes are data.
    void operatorRows()
    {
        OperatorDb::check_sql();
        const QString quoted = QStringLiteral("o'brien");
        for (const QVariantList &row :
            QList<QVariantList> {{"off", "pw", "op", 0}, {"twice", "first", "op", 1},
                {"twice", "second", "op", 1}, {quoted, "it's'); delete from user; --", "op", 1}})
            QCOMPARE(OperatorDb::add_note(QStringLiteral("user"), row), 0);
        QCOMPARE(OperatorDb::upgrade_password(quoted, QStringLiteral("new'one")), 0);
        QCOMPARE(OperatorDb::get_operate_db_by_username(quoted),
            QStringList({quoted, "new'one", "op", "1"}));
        QCOMPARE(OperatorDb::get_user_count(), 5u);
        const struct
        {
            QString name, password;
            bool allowed;
        } logins[] = {{"dorx", "6172839405", true}, {"dorx", "6172839404", false},
            {"Dorx", "6172839405", false}, // names compared with their case
            {"nobody", "", false}, {"off", "pw", false}, // not enabled
            {"twice", "first", true}, {"twice", "second", false}, // the first row decides
            {quoted, "new'one", true}, {quoted, "it's'); delete from user; --", false}};
        for (const auto &login : logins)
            QVERIFY2(OperatorDb::login_allowed(login.name, login.password) == login.allowed,
                qPrintable(login.name + ' ' + login.password));

        QCOMPARE(OperatorDb::replace_users({{"a", "pa", "op", 1}, {"b'", "pb", "op", 1}}), 0);
        const QStringList stored = {"a", "pa", "op", "1", "b'", "pb", "op", "1"};
        QCOMPARE(OperatorDb::get_operate_db(), stored);
        // A row that cannot be inserted after the delete leaves the previous list untouched.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^OperatorDb: \"INSERT INTO user"));
        QCOMPARE(OperatorDb::replace_users({{"c", "pc", "op", 1}, {"short"}}), -2);
        QCOMPARE(OperatorDb::get_operate_db(), stored);
        // A table name cannot be bound, so only the two tables of the file are accepted.
        QTest::ignoreMessage(QtWarningMsg, "OperatorDb: refusing insert into unknown table user;x");
        QCOMPARE(OperatorDb::add_note(QStringLiteral("user;x"), {1}), -2);
        QCOMPARE(OperatorDb::clear_user(), 0);
        QCOMPARE(OperatorDb::get_user_count(), 0u);
        QCOMPARE(OperatorDb::get_operate_db_by_username(QStringLiteral("a")), QStringList());
    }

    // Client keys are chosen by clients: beyond the bound, the key advanced longest ago goes.
    // Passwords are readable by their owner only, in the database and in its journal alike.
    void countersAreBoundedAndFilesPrivate()
    {
        OperatorDb::check_sql();
        const QFile::Permissions othersAndGroup(0x0077);
        QCOMPARE(QFile::permissions("login_sql.db") & othersAndGroup, QFile::Permissions());
        const QString key = QStringLiteral("10.0.0.1'x");
        QCOMPARE(OperatorDb::get_txid_db(key), 0u);
        QCOMPARE(OperatorDb::get_txid_db(key), 1u);
        QCOMPARE(OperatorDb::upgrade_txid(key, 5000000), 0);
        QCOMPARE(OperatorDb::get_txid_db(key), 5000000u);

        OperatorDb::get_note(QStringLiteral("delete from txid"));
        OperatorDb::get_note(QStringLiteral("with recursive n(i) as (select 0 union all select i "
                                            "+ 1 from n where i + 1 < ?) insert into txid select "
                                            "'k' || i, 1 from n"),
            {OperatorDb::mostCounters});
        QCOMPARE(OperatorDb::upgrade_txid(QStringLiteral("k0"), 7), 0);
        QCOMPARE(OperatorDb::get_txid_db(QStringLiteral("new")), 0u);
        QCOMPARE(OperatorDb::get_note(QStringLiteral("select count(*) from txid")),
            QString::number(OperatorDb::mostCounters) + ',');
        QCOMPARE(OperatorDb::get_note(QStringLiteral("select ip, txid from txid where ip in "
                                                     "('k0', 'k1', 'k2', 'new') order by ip")),
            QString("k0|7,k2|1,new|1,"));
        // Updating a key that is not stored stores nothing.
        QCOMPARE(OperatorDb::upgrade_txid(QStringLiteral("k1"), 3), 0);
        QCOMPARE(OperatorDb::get_note(QStringLiteral("select count(*) from txid where ip = 'k1'")),
            QString("0,"));

        QVERIFY(sqlconnection::use(QStringLiteral("login_sql.db"), "test", [&](QSqlDatabase &db) {
            QVERIFY(db.transaction());
            QVERIFY(QSqlQuery(db).exec(QStringLiteral("insert into txid values('x', 1)")));
            QCOMPARE(
                QFile::permissions("login_sql.db-journal") & othersAndGroup, QFile::Permissions());
            QVERIFY(db.rollback());
        }));
    }

    // Each operation waits out the open bound (about five seconds) before it gives up.
    void unopenableFileGivesFailureResults()
    {
        QVERIFY(QDir().mkdir(QStringLiteral("login_sql.db")));
        for (int i = 0; i < 2; ++i)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^OperatorDb: cannot open"));
        QCOMPARE(OperatorDb::get_user_count(), 0u);
        QCOMPARE(OperatorDb::add_note(QStringLiteral("user"), OperatorDb::builtInSuperUser()), -1);
    }

    // A thread's kept connection behaves like a fresh one for every operation: it sees what other
    // connections wrote, follows a file that was replaced, and never holds a transaction between
    // operations.
    void keptConnectionFollowsTheFile()
    {
        const QString file = dir->filePath("kept.db"), other = dir->filePath("other.db");
        QVERIFY(sqlExec(file, {"create table t(x int)"}));
        QCOMPARE(keptCount(file), 0);
        QVERIFY(sqlExec(file, {"insert into t values(1)"}));
        QCOMPARE(keptCount(file), 1);
        QVERIFY(sqlExec(other, {"create table t(x int)"}));
        QVERIFY(sqlExec(other, {"insert into t values(1), (2), (3)"}));
        QVERIFY(QFile::remove(file) && QFile::rename(other, file));
        QCOMPARE(keptCount(file), 3);

        // A transaction that work forgets is rolled back, so another writer is not locked out.
        QTest::ignoreMessage(QtWarningMsg,
            qPrintable("Test: a transaction on " + file + " was left open, rolled back"));
        QVERIFY(sqlconnection::use(file, "Test", [](QSqlDatabase &db) {
            QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE"));
            QSqlQuery(db).exec(QStringLiteral("insert into t values(4)"));
        }));
        QVERIFY(sqlExec(file, {"BEGIN EXCLUSIVE", "ROLLBACK"}));
        QCOMPARE(keptCount(file), 3);
    }
};

QTEST_GUILESS_MAIN(TestOperatorDb)
#include "test_operatordb.moc"
