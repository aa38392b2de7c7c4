#include "store/operatordb.h"
#include "store/sqlconnection.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

// The operator database works on "login_sql.db" of the working directory, so every case runs in
// a fresh temporary directory of its own.
class TestOperatorDb : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startUpCreatesTablesAndSuperUser_data();
    void startUpCreatesTablesAndSuperUser();
    void startUpKeepsExistingOperators();
    void startUpRestoresASuperUser_data();
    void startUpRestoresASuperUser();
    void failedStartUpCheckChangesNothing();
    void quotesAreData();
    void loginAllowed_data();
    void loginAllowed();
    void replacesListAsAWhole();
    void counterStartsOnFirstUse();
    void countersAreBounded();
    void unopenableFileGivesFailureResults();
    void filesArePrivate();

private:
    QScopedPointer<QTemporaryDir> dir;
    QString previousDir;
};

namespace {

const QStringList superUserRow
    = {QStringLiteral("dorx"), QStringLiteral("6172839405"), QString::fromUtf8("超级用户"), "1"};

void addUser(const QString &name, const QString &password, int enable = 1)
{
    QCOMPARE(OperatorDb::add_note(QStringLiteral("user"), {name, password, "op", enable}), 0);
}

} // namespace

void TestOperatorDb::init()
{
    dir.reset(new QTemporaryDir);
    previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir->path()));
}

void TestOperatorDb::cleanup()
{
    QDir::setCurrent(previousDir);
    dir.reset();
}

void TestOperatorDb::startUpCreatesTablesAndSuperUser_data()
{
    QTest::addColumn<bool>("emptyFileFirst");
    QTest::newRow("fresh directory") << false;
    QTest::newRow("existing empty file") << true;
}

void TestOperatorDb::startUpCreatesTablesAndSuperUser()
{
    QFETCH(bool, emptyFileFirst);
    if (emptyFileFirst)
        QVERIFY(QFile(QStringLiteral("login_sql.db")).open(QIODevice::WriteOnly));
    QTest::ignoreMessage(QtDebugMsg, "Succeed to connect database.");
    QTest::ignoreMessage(QtDebugMsg, "Table record created!");
    QTest::ignoreMessage(QtDebugMsg, "Table txid created!");
    OperatorDb::check_sql();
    QCOMPARE(OperatorDb::get_operate_db(), superUserRow);
    QCOMPARE(OperatorDb::get_note(QStringLiteral("select count(*) from txid")), QString("0,"));
}

void TestOperatorDb::startUpKeepsExistingOperators()
{
    OperatorDb::check_sql();
    QCOMPARE(OperatorDb::upgrade_password(QStringLiteral("dorx"), QStringLiteral("changed")), 0);
    addUser(QStringLiteral("second"), QStringLiteral("pw"));

    QTest::ignoreMessage(QtDebugMsg, "Succeed to connect database.");
    OperatorDb::check_sql();
    QTest::ignoreMessage(
        QtDebugMsg, QRegularExpression("^Error: Fail to create table.record .*already exists"));
    QTest::ignoreMessage(
        QtDebugMsg, QRegularExpression("^Error: Fail to create table.txid .*already exists"));
    OperatorDb::init_sql();
    QCOMPARE(OperatorDb::get_user_count(), 2u);
    QCOMPARE(OperatorDb::get_operate_db_by_username(QStringLiteral("dorx")).value(1),
        QStringLiteral("changed"));

    QCOMPARE(OperatorDb::clear_user(), 0);
    QCOMPARE(OperatorDb::get_user_count(), 0u);
    QCOMPARE(OperatorDb::get_operate_db_by_username(QStringLiteral("dorx")), QStringList());
}

void TestOperatorDb::startUpRestoresASuperUser_data()
{
    QTest::addColumn<QList<QVariantList>>("users");
    QTest::addColumn<QStringList>("after"); // the stored rows, each joined by "|"
    const QString super = superUserRow.join('|');
    const QString boss = QString::fromUtf8("boss|pb|超级用户|");
    QTest::newRow("list emptied") << QList<QVariantList>() << QStringList {super};
    QTest::newRow("operators only")
        << QList<QVariantList> {{"a", "pa", "op", 1}} << QStringList {"a|pa|op|1", super};
    QTest::newRow("super-user not enabled")
        << QList<QVariantList> {{"boss", "pb", superUserRow.at(2), 0}}
        << QStringList {boss + "0", super};
    QTest::newRow("built-in name demoted: replaced")
        << QList<QVariantList> {{"dorx", "mine", "op", 1}, {"b", "pb", "op", 1}}
        << QStringList {"b|pb|op|1", super};
    QTest::newRow("a super-user left: untouched")
        << QList<QVariantList> {{"boss", "pb", superUserRow.at(2), 1}} << QStringList {boss + "1"};
}

// A list rewrite may drop every super-user; the next start puts the built-in one back, loudly,
// so that someone can manage the operators again.
void TestOperatorDb::startUpRestoresASuperUser()
{
    QFETCH(QList<QVariantList>, users);
    QFETCH(QStringList, after);
    OperatorDb::check_sql();
    QCOMPARE(OperatorDb::replace_users(users), 0);
    if (after.last() == superUserRow.join('|'))
        QTest::ignoreMessage(QtWarningMsg,
            "OperatorDb: no super-user was left in login_sql.db; the built-in super-user \"dorx\" "
            "is back with the default password");
    OperatorDb::check_sql();
    QCOMPARE(OperatorDb::get_note(QStringLiteral("select * from user")), after.join(',') + ',');
}

// Every step of the check is checked: a refused insert undoes the rest of the repair too.
void TestOperatorDb::failedStartUpCheckChangesNothing()
{
    OperatorDb::check_sql();
    QCOMPARE(OperatorDb::replace_users({{"dorx", "mine", "op", 1}}), 0);
    OperatorDb::get_note(
        QStringLiteral("create trigger ro before insert on user begin select raise(abort, 'ro'); "
                       "end"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^OperatorDb: \"INSERT INTO user.* ro"));
    QTest::ignoreMessage(QtCriticalMsg,
        "OperatorDb: start-up check of login_sql.db failed; the file is left as it was");
    OperatorDb::check_sql();
    QCOMPARE(
        OperatorDb::get_note(QStringLiteral("select * from user")), QString("dorx|mine|op|1,"));
}

// Values are bound, never spliced into statements: quotes are stored and found like any text,
// and a table name (which cannot be bound) is accepted only for the two tables of the file.
void TestOperatorDb::quotesAreData()
{
    OperatorDb::check_sql();
    const QString name = QStringLiteral("o'brien");
    const QString password = QStringLiteral("it's'); delete from user; --");
    addUser(name, password);
    QCOMPARE(OperatorDb::get_operate_db_by_username(name),
        QStringList({name, password, QStringLiteral("op"), QStringLiteral("1")}));
    QCOMPARE(OperatorDb::upgrade_password(name, QStringLiteral("new'one")), 0);
    QVERIFY(OperatorDb::login_allowed(name, QStringLiteral("new'one")));
    QCOMPARE(OperatorDb::get_user_count(), 2u);
    QCOMPARE(OperatorDb::get_txid_db(QStringLiteral("10.0.0.1'x")), 0u);
    QCOMPARE(OperatorDb::get_txid_db(QStringLiteral("10.0.0.1'x")), 1u);

    QTest::ignoreMessage(QtWarningMsg, "OperatorDb: refusing insert into unknown table user;x");
    QCOMPARE(OperatorDb::add_note(QStringLiteral("user;x"), {1}), -2);
}

void TestOperatorDb::loginAllowed_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<QString>("password");
    QTest::newRow("built-in super-user") << "dorx" << true << "6172839405";
    QTest::newRow("wrong password") << "dorx" << false << "6172839404";
    QTest::newRow("account not enabled") << "off" << false << "pw";
    QTest::newRow("first of two rows decides") << "twice" << true << "first";
    QTest::newRow("second of two rows ignored") << "twice" << false << "second";
}

void TestOperatorDb::loginAllowed()
{
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(bool, allowed);
    OperatorDb::check_sql();
    addUser(QStringLiteral("off"), QStringLiteral("pw"), 0);
    addUser(QStringLiteral("twice"), QStringLiteral("first"));
    addUser(QStringLiteral("twice"), QStringLiteral("second"));
    QCOMPARE(OperatorDb::login_allowed(name, password), allowed);
}

void TestOperatorDb::replacesListAsAWhole()
{
    OperatorDb::check_sql();
    QCOMPARE(OperatorDb::replace_users({{"a", "pa", "op", 1}, {"b'", "pb", "op", 1}}), 0);
    const QStringList stored = {"a", "pa", "op", "1", "b'", "pb", "op", "1"};
    QCOMPARE(OperatorDb::get_operate_db(), stored);

    // A row that cannot be inserted after the delete leaves the previous list untouched.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^OperatorDb: \"INSERT INTO user"));
    QCOMPARE(OperatorDb::replace_users({{"c", "pc", "op", 1}, {"short"}}), -2);
    QCOMPARE(OperatorDb::get_operate_db(), stored);
}

void TestOperatorDb::counterStartsOnFirstUse()
{
    OperatorDb::check_sql();
    const QString key = QStringLiteral("127.0.0.1");
    QCOMPARE(OperatorDb::get_txid_db(key), 0u);
    QCOMPARE(OperatorDb::get_note(QStringLiteral("select * from txid")), QString("127.0.0.1|1,"));
    QCOMPARE(OperatorDb::get_txid_db(key), 1u);
    QCOMPARE(OperatorDb::upgrade_txid(key, 5000000), 0);
    QCOMPARE(OperatorDb::get_txid_db(key), 5000000u);
}

// Client keys are chosen by clients: beyond the bound, the key advanced longest ago goes.
void TestOperatorDb::countersAreBounded()
{
    OperatorDb::check_sql();
    OperatorDb::get_note(QStringLiteral("with recursive n(i) as (select 0 union all select i + 1 "
                                        "from n where i + 1 < ?) insert into txid select 'k' || i, "
                                        "1 from n"),
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
}

void TestOperatorDb::unopenableFileGivesFailureResults()
{
    QVERIFY(QDir().mkdir(QStringLiteral("login_sql.db")));
    // Each operation waits out the open bound (about five seconds) before it gives up.
    for (int i = 0; i < 2; ++i)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^OperatorDb: cannot open"));
    QCOMPARE(OperatorDb::get_user_count(), 0u);
    QCOMPARE(OperatorDb::add_note(QStringLiteral("user"), OperatorDb::builtInSuperUser()), -1);
}

// Passwords are readable by their owner only, in the database and in its journal alike.
void TestOperatorDb::filesArePrivate()
{
    const QFile::Permissions othersAndGroup(0x0077);
    OperatorDb::check_sql();
    QCOMPARE(
        QFile::permissions(QStringLiteral("login_sql.db")) & othersAndGroup, QFile::Permissions());
    QVERIFY(sqlconnection::use(QStringLiteral("login_sql.db"), "test", [&](QSqlDatabase &db) {
        QVERIFY(db.transaction());
        QVERIFY(QSqlQuery(db).exec(QStringLiteral("insert into txid values('k', 1)")));
        QCOMPARE(QFile::permissions(QStringLiteral("login_sql.db-journal")) & othersAndGroup,
            QFile::Permissions());
        QVERIFY(db.rollback());
    }));
}

QTEST_GUILESS_MAIN(TestOperatorDb)
#include "test_operatordb.moc"
