#include "dispatch/operatordb.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
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
    void valuesWithQuotesAreData();
    void loginAllowed_data();
    void loginAllowed();
    void countsUsers();
    void replacesListAsAWhole();
    void counterStartsOnFirstUse();
    void refusesUnknownTable();
    void unopenableFileGivesFailureResults();
    void worksFromAnotherThread();

private:
    QTemporaryDir *dir = nullptr;
    QString previousDir;
};

namespace {

const QString superType = QString::fromUtf8("超级用户");

QStringList superUserRow()
{
    return {QStringLiteral("dorx"), QStringLiteral("6172839405"), superType, QStringLiteral("1")};
}

void addUser(const QString &name, const QString &password, const QString &type, int enable)
{
    QCOMPARE(OperatorDb::add_note(QStringLiteral("user"), {name, password, type, enable}), 0);
}

} // namespace

void TestOperatorDb::init()
{
    dir = new QTemporaryDir;
    QVERIFY(dir->isValid());
    previousDir = QDir::currentPath();
    QDir::setCurrent(dir->path());
}

void TestOperatorDb::cleanup()
{
    QDir::setCurrent(previousDir);
    delete dir;
    dir = nullptr;
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
    if (emptyFileFirst) {
        QFile file(QStringLiteral("login_sql.db"));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QTest::ignoreMessage(QtDebugMsg, "Succeed to connect database.");
    QTest::ignoreMessage(QtDebugMsg, "Table record created!");
    QTest::ignoreMessage(QtDebugMsg, "Table txid created!");
    OperatorDb::check_sql();

    QVERIFY(QFile::exists(QStringLiteral("login_sql.db")));
    QCOMPARE(OperatorDb::get_operate_db(), superUserRow());
    QCOMPARE(
        OperatorDb::get_note(QStringLiteral("select count(*) from txid")), QStringLiteral("0,"));
}

void TestOperatorDb::startUpKeepsExistingOperators()
{
    OperatorDb::check_sql();
    QCOMPARE(OperatorDb::upgrade_password(QStringLiteral("dorx"), QStringLiteral("changed")), 0);
    addUser(QStringLiteral("second"), QStringLiteral("pw"), QStringLiteral("op"), 1);

    QTest::ignoreMessage(QtDebugMsg, "Succeed to connect database.");
    OperatorDb::check_sql();
    QCOMPARE(OperatorDb::get_user_count(), 2u);
    QCOMPARE(OperatorDb::get_operate_db_by_username(QStringLiteral("dorx")).value(1),
        QStringLiteral("changed"));

    // An explicit second table creation leaves the stored operators alone.
    QTest::ignoreMessage(
        QtDebugMsg, QRegularExpression("^Error: Fail to create table.record .*already exists"));
    QTest::ignoreMessage(
        QtDebugMsg, QRegularExpression("^Error: Fail to create table.txid .*already exists"));
    OperatorDb::init_sql();
    QCOMPARE(OperatorDb::get_user_count(), 2u);
}

void TestOperatorDb::valuesWithQuotesAreData()
{
    OperatorDb::check_sql();
    const QString name = QStringLiteral("o'brien");
    const QString password = QStringLiteral("it's'); delete from user; --");
    addUser(name, password, QStringLiteral("a'b"), 1);

    QCOMPARE(OperatorDb::get_operate_db_by_username(name),
        QStringList({name, password, QStringLiteral("a'b"), QStringLiteral("1")}));
    QVERIFY(OperatorDb::login_allowed(name, password));
    QCOMPARE(OperatorDb::upgrade_password(name, QStringLiteral("new'one")), 0);
    QVERIFY(OperatorDb::login_allowed(name, QStringLiteral("new'one")));
    QCOMPARE(OperatorDb::get_user_count(), 2u);

    QCOMPARE(OperatorDb::get_txid_db(QStringLiteral("10.0.0.1'x")), 0u);
    QCOMPARE(OperatorDb::get_txid_db(QStringLiteral("10.0.0.1'x")), 1u);
}

void TestOperatorDb::loginAllowed_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("built-in super-user") << "dorx"
                                         << "6172839405" << true;
    QTest::newRow("wrong password") << "dorx"
                                    << "6172839404" << false;
    QTest::newRow("name in other letter case") << "DORX"
                                               << "6172839405" << false;
    QTest::newRow("unknown name") << "nobody"
                                  << "6172839405" << false;
    QTest::newRow("account not enabled") << "off"
                                         << "pw" << false;
    QTest::newRow("first of two rows decides") << "twice"
                                               << "first" << true;
    QTest::newRow("second of two rows ignored") << "twice"
                                                << "second" << false;
    QTest::newRow("empty name matches nothing") << ""
                                                << "" << false;
}

void TestOperatorDb::loginAllowed()
{
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(bool, allowed);
    OperatorDb::check_sql();
    addUser(QStringLiteral("off"), QStringLiteral("pw"), QStringLiteral("op"), 0);
    addUser(QStringLiteral("twice"), QStringLiteral("first"), QStringLiteral("op"), 1);
    addUser(QStringLiteral("twice"), QStringLiteral("second"), QStringLiteral("op"), 1);
    QCOMPARE(OperatorDb::login_allowed(name, password), allowed);
}

void TestOperatorDb::countsUsers()
{
    OperatorDb::check_sql();
    QCOMPARE(OperatorDb::get_user_count(), 1u);
    QCOMPARE(OperatorDb::clear_user(), 0);
    QCOMPARE(OperatorDb::get_user_count(), 0u);
    QCOMPARE(OperatorDb::get_operate_db(), QStringList());
    QCOMPARE(OperatorDb::get_operate_db_by_username(QStringLiteral("dorx")), QStringList());
    QCOMPARE(OperatorDb::add_note(QStringLiteral("user"), OperatorDb::builtInSuperUser()), 0);
    QCOMPARE(OperatorDb::get_operate_db(), superUserRow());
}

void TestOperatorDb::replacesListAsAWhole()
{
    OperatorDb::check_sql();
    const QList<QVariantList> two = {{"a", "pa", "op", 1}, {"b'", "pb", "op", 1}};
    QCOMPARE(OperatorDb::replace_users(two), 0);
    const QStringList stored = {"a", "pa", "op", "1", "b'", "pb", "op", "1"};
    QCOMPARE(OperatorDb::get_operate_db(), stored);

    // A row that cannot be inserted leaves the previous list untouched.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^OperatorDb: \"INSERT INTO user"));
    QCOMPARE(OperatorDb::replace_users({{"c", "pc", "op", 1}, {"short"}}), -2);
    QCOMPARE(OperatorDb::get_operate_db(), stored);
}

void TestOperatorDb::counterStartsOnFirstUse()
{
    OperatorDb::check_sql();
    const QString key = QStringLiteral("127.0.0.1");
    QCOMPARE(OperatorDb::get_txid_db(key), 0u);
    QCOMPARE(
        OperatorDb::get_note(QStringLiteral("select * from txid")), QStringLiteral("127.0.0.1|1,"));
    QCOMPARE(OperatorDb::get_txid_db(key), 1u);
    QCOMPARE(OperatorDb::upgrade_txid(key, 5000000), 0);
    QCOMPARE(OperatorDb::get_txid_db(key), 5000000u);
    QCOMPARE(OperatorDb::get_txid_db(QStringLiteral("127.0.0.1tag")), 0u);
    QCOMPARE(
        OperatorDb::get_note(QStringLiteral("select count(*) from txid")), QStringLiteral("2,"));
}

void TestOperatorDb::refusesUnknownTable()
{
    OperatorDb::check_sql();
    QTest::ignoreMessage(QtWarningMsg, "OperatorDb: refusing insert into unknown table user;x");
    QCOMPARE(OperatorDb::add_note(QStringLiteral("user;x"), {1}), -2);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^OperatorDb: \"INSERT INTO user"));
    QCOMPARE(OperatorDb::add_note(QStringLiteral("user"), {1}), -2);
}

void TestOperatorDb::unopenableFileGivesFailureResults()
{
    QVERIFY(QDir().mkdir(QStringLiteral("login_sql.db")));
    const QRegularExpression cannotOpen("^OperatorDb: cannot open login_sql.db");
    for (int i = 0; i < 6; ++i)
        QTest::ignoreMessage(QtWarningMsg, cannotOpen);
    QCOMPARE(OperatorDb::get_operate_db(), QStringList());
    QCOMPARE(OperatorDb::get_user_count(), 0u);
    QCOMPARE(OperatorDb::add_note(QStringLiteral("user"), OperatorDb::builtInSuperUser()), -1);
    QCOMPARE(OperatorDb::clear_user(), -1);
    QCOMPARE(OperatorDb::get_txid_db(QStringLiteral("k")), 0u);
    QVERIFY(!OperatorDb::login_allowed(QStringLiteral("dorx"), QStringLiteral("6172839405")));
}

// Handler threads use the database while the main thread made it: each needs its own connection.
void TestOperatorDb::worksFromAnotherThread()
{
    OperatorDb::check_sql();
    int added = 1;
    QStringList seen;
    QThread *worker = QThread::create([&added, &seen] {
        added = OperatorDb::add_note(QStringLiteral("user"), {"worker", "pw", "op", 1});
        seen = OperatorDb::get_operate_db();
    });
    worker->start();
    QVERIFY(worker->wait(60000));
    delete worker;
    QCOMPARE(added, 0);
    QCOMPARE(seen.size(), 8);
    QCOMPARE(OperatorDb::get_operate_db(), seen);
}

QTEST_GUILESS_MAIN(TestOperatorDb)
#include "test_operatordb.moc"
