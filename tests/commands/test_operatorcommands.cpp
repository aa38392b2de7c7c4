#include "commandclient.h"
#include "conversation.h"
#include "crypto/des.h"
#include "serverprocess.h"
#include "sqlfile.h"

#include <QDir>
#include <QSettings>
#include <QtTest>

#include <memory>
#include <tuple>

namespace {

const QString superUser = QString::fromUtf8("超级用户");
const QString operatorType = QString::fromUtf8("操作员");
const QByteArray defaultHex = des0_out(QStringLiteral("6172839405")).toLatin1();
const QString config = QStringLiteral("; kept\n[listener]\nreadTimeout=2000\n[login]\n"
                                      "throttleLockout=1000\n");
// Permission bits of the group and of others: files with secrets have none of them.
const QFile::Permissions groupAndOthers(0x0077);
using Rows = QList<QStringList>;

// Makes the operators of the database file users alone, then runs the statements.
bool seed(const QString &file, const Rows &users, const QStringList &statements = {})
{
    QStringList all = {"drop trigger if exists i", "drop trigger if exists u", "delete from user",
        "delete from txid"};
    for (const QStringList &row : users)
        all << "insert into user values('" + row.join("','") + "')";
    return sqlExec(file, all + statements);
}

} // namespace

// The operator, serial-number, session and transaction-counter commands of the management client
// and the pages against one real server (under the C locale, as on devices: names must still
// arrive intact); each test has its own client, and the operators, counters, serial number and
// configuration are made afresh before it.
class TestOperatorCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void operatorForms_data();
    void operatorForms();
    void tplogin();
    void writesnOnceAndFilesWithSecretsPrivate();
    void txidCountsPerAddressThenLogoutEndsTheSession();
    void tpactiveWritesTheLoginGroupAlone();
    void loginsAreThrottledPerAddress();

private:
    Rows stored() { return sqlRows(database(), QStringLiteral("select * from user")); }
    QString database() const { return server.filePath(QStringLiteral("login_sql.db")); }

    ServerProcess server;
    std::unique_ptr<Client> client;
};

void TestOperatorCommands::initTestCase()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    environment.remove(QStringLiteral("LANG"));
    server.qprocess().setProcessEnvironment(environment);
    server.writeConfig(config);
    QVERIFY2(server.start(), server.output().constData());
}

void TestOperatorCommands::init()
{
    client = std::make_unique<Client>(server);
    server.writeConfig(config);
    server.writeFile(QStringLiteral("sqlconfig.ini"), "[General]\nDEVICESN=12345\n");
    QVERIFY(seed(database(), {{"dorx", "6172839405", superUser, "1"}}));
}

void TestOperatorCommands::operatorForms_data()
{
    QTest::addColumn<Rows>("users"); // stored before; none: the built-in super-user
    QTest::addColumn<QStringList>("statements"); // run on the database before
    QTest::addColumn<QStringList>("login"); // name and password
    QTest::addColumn<Conversation>("conversation");
    QTest::addColumn<Rows>("after"); // the operators stored afterwards, in table order

    const QStringList dorx = {"dorx", "6172839405", superUser, "1"};
    const QStringList op = {"op", "pw", operatorType, "1"};
    const auto row = [](const char *name, const Conversation &conversation, const Rows &after,
                         const Rows &users = {}, const QStringList &login = {"dorx", "6172839405"},
                         const QStringList &statements = {}) {
        QTest::newRow(name) << users << statements << login << conversation << after;
    };
    row("only super-users change operators",
        {{"opera_add", "name=x&type=y", "新增用户失败，权限不够！"},
            {"opera_del", "n=dorx&t=x&d=true&n=op&t=y&d=false", "修改用户失败，权限不够！"},
            {"opera_mdf", "a=true&b=true", "恢复密码失败，权限不够！"},
            {"operator_get", "", "OK&Name=dorx&Level=超级用户&Name=op&Level=操作员"}},
        {dorx, op}, {dorx, op}, {"op", "pw"});
    row("operators added with the default password up to five",
        {{"opera_add", "name=dorx&type=x", "新增用户失败，用户已存在！"},
            {"opera_add", "name=张三&type=操作员", "OK"}, {"opera_add", "name=solo", "OK"},
            {"opera_add", "name=&type=t", "OK"}, {"opera_add", "name=e'x&type=t", "OK"},
            {"opera_add", "name=f&type=t", "新增用户失败，用户数已满！"},
            {"operator_get", "",
                "OK&Name=dorx&Level=超级用户&Name=张三&Level=操作员&Name=solo&Level="
                "&Name=&Level=t&Name=e'x&Level=t"}},
        {dorx, {"张三", "6172839405", operatorType, "1"}, {"solo", "6172839405", "", "1"},
            {"", "6172839405", "t", "1"}, {"e'x", "6172839405", "t", "1"}});
    // Both pair the form's fields with the stored operators by position in table order.
    // opera_del's marks false, true, false: the third operator is renamed and retyped and keeps
    // its reset password; a fourth group has no stored operator and a fifth is cut short.
    row("password reset and list rewrite by position",
        {{"opera_mdf", "0=false&1=TRUE&2=true&3=true", "OK"},
            {"opera_del",
                "n0=dorx&t0=超级用户&d0=false&n1=a&t1=t&d1=true&n2=bee&t2=管理员&d2=false&"
                "n3=ghost&t3=t&d3=false&n4=half",
                "OK"}},
        {{"dorx", "pw0", superUser, "1"}, {"bee", "6172839405", "管理员", "1"}},
        {{"dorx", "pw0", superUser, "1"}, {"a", "pwA", "t", "1"}, {"b", "pwB", "t", "1"}},
        {"dorx", "pw0"});
    // Triggers make every insert and update fail while reads and deletes work, so a rewrite of
    // the list fails half-way after its delete.
    row("failed writes are not answered as done",
        {{"opera_add", "name=n&type=t", "新增用户失败！"},
            {"opera_del", "n=dorx&t=x&d=false&n=a&t=t&d=true", "修改用户失败！"},
            {"opera_mdf", "a=false&b=true", "恢复密码失败！"},
            {"password_set", "o=" + defaultHex + "&n=" + defaultHex, "修改失败，请重新登录！"}},
        {dorx, {"a", "pwA", "t", "1"}}, {dorx, {"a", "pwA", "t", "1"}}, {"dorx", "6172839405"},
        {"create trigger i before insert on user begin select raise(abort,'');end",
            "create trigger u before update on user begin select raise(abort,'');end"});

    const QByteArray newHex = des0_out(QStringLiteral("s3cret")).toLatin1();
    row("own password kept: wrong old one",
        {{"password_set", "o=" + newHex + "&n=" + newHex, "修改失败，旧密码错误！"}}, {dorx});
}

void TestOperatorCommands::operatorForms()
{
    QFETCH(Rows, users);
    QFETCH(QStringList, statements);
    QFETCH(QStringList, login);
    QFETCH(Conversation, conversation);
    QFETCH(Rows, after);
    if (!users.isEmpty())
        QVERIFY(seed(database(), users, statements));
    QCOMPARE(client->login(login.at(0), login.at(1)), 1);
    converse(*client, conversation);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(stored(), after);
}

// Only a successful login opens the gated paths to the session; names and passwords beyond ASCII
// arrive intact, and a numeric id is echoed as text.
void TestOperatorCommands::tplogin()
{
    QVERIFY(seed(database(),
        {{"dorx", "6172839405", superUser, "1"},
            {QString::fromUtf8("张三"), QString::fromUtf8("密码"), operatorType, "1"}}));
    QCOMPARE(client->exchange("/command/tplogin", loginMessage("dorx", "6172839404")),
        QJsonObject({{"respond", 7}, {"id", "L1"}, {"devicesn", serialNumber}}));
    QVERIFY(!client->loggedIn());
    const QByteArray body
        = loginMessage(QString::fromUtf8("张三"), QString::fromUtf8("密码"), serialNumber, 12);
    QCOMPARE(client->exchange("/command/tplogin", body),
        QJsonObject({{"respond", 1}, {"id", "12"}, {"devicesn", serialNumber}}));
    QVERIFY(client->loggedIn());
}

// The serial number (digits of the body, once) is what every envelope is then checked against;
// the door count may be written once. Databases and settings files the server creates hold
// passwords and access data: they are its owner's alone.
void TestOperatorCommands::writesnOnceAndFilesWithSecretsPrivate()
{
    for (const char *name : {"sqlconfig.ini", "netconfig.ini"})
        QFile::remove(server.filePath(QLatin1String(name)));
    converse(*client,
        {{"writesn", "AB 123 45\r\n", "OK-12345"}, {"writesn", "67890", "ERROR-12345"},
            {"writesn", "9", "error-para"}, {"writesn", "12", ""}, {"writesn", "4", "OK-4"},
            {"writesn", "2", "ERROR-writed"}});
    QSettings net(server.filePath(QStringLiteral("netconfig.ini")), QSettings::IniFormat);
    QCOMPARE(net.value(QStringLiteral("DOORCOUNT")).toString(), QStringLiteral("4"));
    QCOMPARE(client->login("dorx", "6172839405"), 1);
    for (const char *name : {"login_sql.db", "access_database.db", "record_database.db",
             "sqlconfig.ini", "netconfig.ini"})
        QCOMPARE(QFile::permissions(server.filePath(QString::fromLatin1(name))) & groupAndOthers,
            QFile::Permissions());
}

// The counter of each address (and "processtag") goes on from what is stored, starting again at 1
// after 5000000; a tplogout answers 7 when it logged out.
void TestOperatorCommands::txidCountsPerAddressThenLogoutEndsTheSession()
{
    QCOMPARE(client->login("dorx", "6172839405"), 1);
    const auto ask = [&](const QJsonObject &extra) {
        const QJsonObject reply = client->exchange("/command/getinfo/txid", extra);
        return qMakePair(reply.value("datas").toObject().value("txid").toVariant().toLongLong(),
            reply.value("txid").toVariant().toLongLong());
    };
    // A new key is stored with 1 and read as 0: the object offers 1, the reply's counter is 2.
    QCOMPARE(ask({}), qMakePair(1LL, 2LL));
    QCOMPARE(ask({}), qMakePair(3LL, 3LL));
    QCOMPARE(ask({{"processtag", "P7"}}), qMakePair(1LL, 2LL));
    QCOMPARE(ask({}), qMakePair(4LL, 4LL));
    // Rows in the order of their last use.
    QCOMPARE(sqlRows(database(), QStringLiteral("select * from txid")),
        Rows({{"127.0.0.1P7", "2"}, {"127.0.0.1", "4"}}));
    for (const auto &[stored, offered, next] : {std::make_tuple("4999999", 5000000LL, 5000000LL),
             std::make_tuple("5000000", 5000001LL, 1LL),
             std::make_tuple("4294967295", 4294967296LL, 1LL)}) {
        QVERIFY(sqlExec(database(), {"update txid set txid = ? where ip = '127.0.0.1'"}, {stored}));
        QCOMPARE(ask({}), qMakePair(offered, next));
    }
    QCOMPARE(ask({}), qMakePair(2LL, 2LL));

    const QJsonObject reply = client->exchange("/command/tplogout", QJsonObject {{"id", "out"}});
    QCOMPARE(reply.value("respond").toInt(), 7);
    QCOMPARE(reply.value("id").toString(), QStringLiteral("out"));
    QVERIFY(!client->loggedIn());
}

// The account goes into the "login" group alone: the rest of the file, comments included, stays,
// and the file is then readable by its owner only. A file that cannot be written is not answered
// as done.
void TestOperatorCommands::tpactiveWritesTheLoginGroupAlone()
{
    const QString file = server.filePath(QStringLiteral("DORXWebOnDevice.ini"));
    converse(*client,
        {{"active", "isActive=?", "isActive=0"}, {"active", "username=门卫&password=p=w", "OK"},
            {"active", "isActive=?", "OK&isActive=1"}});
    QSettings ini(file, QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    QCOMPARE(ini.value(QStringLiteral("login/name")).toString(), QString::fromUtf8("门卫"));
    QCOMPARE(ini.value(QStringLiteral("login/password")).toString(), QStringLiteral("p"));
    QFile config(file);
    QVERIFY(config.open(QIODevice::ReadOnly));
    QVERIFY(config.readAll().startsWith("; kept\n[listener]\n"));
    QCOMPARE(config.permissions() & groupAndOthers, QFile::Permissions());
    config.close();
    QVERIFY(config.remove() && QDir().mkdir(file));
    converse(*client, {{"active", "username=a&password=b", "激活失败！"}});
    QVERIFY(QDir().rmdir(file));
}

// The browser's and the management client's failures count together; a locked-out address is
// answered as for a wrong password, until the lockout ends.
void TestOperatorCommands::loginsAreThrottledPerAddress()
{
    QCOMPARE(client->login("dorx", "6172839405"), 1); // a success clears earlier failures
    const auto browserLogin = [&](const QByteArray &hex) {
        return client->post("/command/login", "username=dorx&password=" + hex);
    };
    const QByteArray wrongHex = des0_out(QStringLiteral("wrong")).toLatin1();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(browserLogin(wrongHex), QStringLiteral("login"));
    for (int i = 0; i < 2; ++i)
        QCOMPARE(client->login("dorx", "wrong"), 7);
    QCOMPARE(browserLogin(defaultHex), QStringLiteral("login"));
    QCOMPARE(client->login("dorx", "6172839405"), 7);
    QCOMPARE(server.output().count("LoginThrottle: 5 failed logins from 127.0.0.1; its logins are "
                                   "refused for 1 s\n"),
        1);
    QTRY_COMPARE_WITH_TIMEOUT(browserLogin(defaultHex), QStringLiteral("OK"), 10000);
}

QTEST_GUILESS_MAIN(TestOperatorCommands)
#include "test_operatorcommands.moc"
