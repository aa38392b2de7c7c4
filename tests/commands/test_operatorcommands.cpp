#include "commandclient.h"
#include "conversation.h"
#include "crypto/des.h"
#include "readonlydirectory.h"
#include "serverprocess.h"
#include "sqlfile.h"

#include <QSettings>
#include <QtTest>

#include <memory>

namespace {

const QString superUser = QString::fromUtf8("超级用户");
const QString operatorType = QString::fromUtf8("操作员");
const QByteArray defaultHex = des0_out(QStringLiteral("6172839405")).toLatin1();
// Permission bits of the group and of others: files with secrets have none of them.
const QFile::Permissions groupAndOthers(0x0077);
using Rows = QList<QStringList>;

} // namespace

// The operator, serial-number, session and transaction-counter commands of the management client
// and the pages against the real server (under the C locale, as on devices: names must still
// arrive intact), one fresh server with fresh databases and settings files per test.
class TestOperatorCommands : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void operatorForms_data();
    void operatorForms();
    void tplogin_data();
    void tplogin();
    void logoutsCloseTheGate();
    void writesnOnceAndFilesWithSecretsPrivate();
    void getTxidCountsPerAddressAndTag();
    void tpactiveWritesTheLoginGroupAlone();
    void readOnlyStorageIsReported();
    void loginsAreThrottledPerAddress();

private:
    Rows stored() { return sqlRows(database(), QStringLiteral("select * from user")); }
    QString database() const { return server->filePath(QStringLiteral("login_sql.db")); }
    // Creates the database with these operators and extra statements before the start.
    void seed(const Rows &users, const QStringList &statements = {});
    void start() { QVERIFY2(server->start(), server->output().constData()); }

    std::unique_ptr<ServerProcess> server;
};

void TestOperatorCommands::init()
{
    server = std::make_unique<ServerProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    environment.remove(QStringLiteral("LANG"));
    server->qprocess().setProcessEnvironment(environment);
    server->writeConfig(QStringLiteral("[listener]\nreadTimeout=2000\n"));
    server->writeFile(QStringLiteral("sqlconfig.ini"), "[General]\nDEVICESN=12345\n");
}

void TestOperatorCommands::seed(const Rows &users, const QStringList &statements)
{
    QStringList all = {"create table user(username text,password text,type text,enable int)",
        "create table txid(ip text,txid int)"};
    for (const QStringList &row : users)
        all << "insert into user values('" + row.join("','") + "')";
    QVERIFY(sqlExec(database(), all + statements));
}

void TestOperatorCommands::operatorForms_data()
{
    QTest::addColumn<Rows>("users"); // stored before the start; none: the built-in super-user
    QTest::addColumn<QStringList>("statements"); // run on the database before the start
    QTest::addColumn<QStringList>("login"); // name and password
    QTest::addColumn<Conversation>("conversation");
    QTest::addColumn<Rows>("after"); // the operators stored afterwards, in table order

    const QStringList dorx = {"dorx", "6172839405", superUser, "1"};
    const QStringList op = {"op", "pw", operatorType, "1"};
    const QStringList builtIn = {"dorx", "6172839405"};
    QTest::newRow("only super-users change operators")
        << Rows {dorx, op} << QStringList() << QStringList {"op", "pw"}
        << Conversation {{"opera_add", "name=x&type=y", "新增用户失败，权限不够！"},
               {"opera_del", "n=dorx&t=x&d=true&n=op&t=y&d=false", "修改用户失败，权限不够！"},
               {"opera_mdf", "a=true&b=true", "恢复密码失败，权限不够！"},
               {"operator_get", "", "OK&Name=dorx&Level=超级用户&Name=op&Level=操作员"}}
        << Rows {dorx, op};
    QTest::newRow("operators added with the default password up to five")
        << Rows() << QStringList() << builtIn
        << Conversation {{"opera_add", "name=dorx&type=x", "新增用户失败，用户已存在！"},
               {"opera_add", "name=张三&type=操作员", "OK"}, {"opera_add", "name=solo", "OK"},
               {"opera_add", "name=&type=t", "OK"}, {"opera_add", "name=e'x&type=t", "OK"},
               {"opera_add", "name=f&type=t", "新增用户失败，用户数已满！"},
               {"operator_get", "",
                   "OK&Name=dorx&Level=超级用户&Name=张三&Level=操作员&Name=solo&Level="
                   "&Name=&Level=t&Name=e'x&Level=t"}}
        << Rows {dorx, {"张三", "6172839405", operatorType, "1"}, {"solo", "6172839405", "", "1"},
               {"", "6172839405", "t", "1"}, {"e'x", "6172839405", "t", "1"}};
    // Both pair the form's fields with the stored operators by position in table order.
    // opera_del's marks false, true, false: the third operator is renamed and retyped and keeps
    // its reset password; a fourth group has no stored operator and a fifth is cut short.
    QTest::newRow("password reset and list rewrite by position")
        << Rows {{"dorx", "pw0", superUser, "1"}, {"a", "pwA", "t", "1"}, {"b", "pwB", "t", "1"}}
        << QStringList() << QStringList {"dorx", "pw0"}
        << Conversation {{"opera_mdf", "0=false&1=TRUE&2=true&3=true", "OK"},
               {"opera_del",
                   "n0=dorx&t0=超级用户&d0=false&n1=a&t1=t&d1=true&n2=bee&t2=管理员&d2=false&"
                   "n3=ghost&t3=t&d3=false&n4=half",
                   "OK"}}
        << Rows {{"dorx", "pw0", superUser, "1"}, {"bee", "6172839405", "管理员", "1"}};
    // Triggers make every insert and update fail while reads and deletes work, so a rewrite of
    // the list fails half-way after its delete.
    QTest::newRow("failed writes are not answered as done")
        << Rows {dorx, {"a", "pwA", "t", "1"}}
        << QStringList {"create trigger i before insert on user begin select raise(abort,'');end",
               "create trigger u before update on user begin select raise(abort,'');end"}
        << builtIn
        << Conversation {{"opera_add", "name=n&type=t", "新增用户失败！"},
               {"opera_del", "n=dorx&t=x&d=false&n=a&t=t&d=true", "修改用户失败！"},
               {"opera_mdf", "a=false&b=true", "恢复密码失败！"},
               {"password_set", "o=" + defaultHex + "&n=" + defaultHex, "修改失败，请重新登录！"}}
        << Rows {dorx, {"a", "pwA", "t", "1"}};

    const QByteArray newHex = des0_out(QStringLiteral("s3cret")).toLatin1();
    const QStringList changed = {"dorx", "s3cret", superUser, "1"};
    QTest::newRow("own password changed")
        << Rows() << QStringList() << builtIn
        << Conversation {{"password_set", "o=" + defaultHex + "&n=" + newHex, "OK"}}
        << Rows {changed};
    QTest::newRow("own password changed, old one in upper-case hex")
        << Rows() << QStringList() << builtIn
        << Conversation {{"password_set", "o=" + defaultHex.toUpper() + "&n=" + newHex, "OK"}}
        << Rows {changed};
    QTest::newRow("own password kept: wrong old one")
        << Rows() << QStringList() << builtIn
        << Conversation {{"password_set", "o=" + newHex + "&n=" + newHex, "修改失败，旧密码错误！"}}
        << Rows {dorx};
    QTest::newRow("own password kept: a third field")
        << Rows() << QStringList() << builtIn
        << Conversation {{"password_set", "o=" + defaultHex + "&n=" + newHex + "&x=1",
               "修改失败，请重新登录！"}}
        << Rows {dorx};
}

void TestOperatorCommands::operatorForms()
{
    QFETCH(Rows, users);
    QFETCH(QStringList, statements);
    QFETCH(QStringList, login);
    QFETCH(Conversation, conversation);
    QFETCH(Rows, after);
    if (!users.isEmpty())
        seed(users, statements);
    start();
    Client client(*server);
    QCOMPARE(client.login(login.at(0), login.at(1)), 1);
    converse(client, conversation);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(stored(), after);
}

void TestOperatorCommands::tplogin_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("respond");
    QTest::addColumn<QString>("id");

    const QString name = QStringLiteral("dorx");
    const QString password = QStringLiteral("6172839405");
    QTest::newRow("right password") << loginMessage(name, password) << 1 << "L1";
    QTest::newRow("wrong password") << loginMessage(name, "6172839404") << 7 << "L1";
    QTest::newRow("name in other letter case") << loginMessage("DORX", password) << 7 << "L1";
    QTest::newRow("disabled account") << loginMessage("off", "pw") << 7 << "L1";
    QTest::newRow("name and password beyond ASCII")
        << loginMessage(QString::fromUtf8("张三"), QString::fromUtf8("密码")) << 1 << "L1";
    QTest::newRow("numeric id echoed as text")
        << loginMessage(name, password, serialNumber, 12) << 1 << "12";
}

// Only a successful login opens the gated paths to the session.
void TestOperatorCommands::tplogin()
{
    QFETCH(QByteArray, body);
    QFETCH(int, respond);
    QFETCH(QString, id);
    seed({{"dorx", "6172839405", superUser, "1"}, {"off", "pw", superUser, "0"},
        {QString::fromUtf8("张三"), QString::fromUtf8("密码"), operatorType, "1"}});
    start();
    Client client(*server);
    const QJsonObject reply = client.exchange("/command/tplogin", body);
    QCOMPARE(reply.value(QLatin1String("respond")).toInt(), respond);
    QCOMPARE(reply.value(QLatin1String("id")).toString(), id);
    QCOMPARE(reply.value(QLatin1String("devicesn")).toString(), serialNumber);
    QCOMPARE(client.loggedIn(), respond == 1);
}

// tplogout answers 7 when it logged out; the browser's logout answers "OK", then "login" as any
// gated path without a session.
void TestOperatorCommands::logoutsCloseTheGate()
{
    start();
    Client client(*server);
    QCOMPARE(client.login(QStringLiteral("dorx"), QStringLiteral("6172839405")), 1);
    const QJsonObject reply = client.exchange("/command/tplogout", message("out", serialNumber));
    QCOMPARE(reply.value(QLatin1String("respond")).toInt(), 7);
    QCOMPARE(reply.value(QLatin1String("id")).toString(), QStringLiteral("out"));
    QVERIFY(!client.loggedIn());

    QCOMPARE(client.login(QStringLiteral("dorx"), QStringLiteral("6172839405")), 1);
    converse(client, {{"logout", "", "OK"}, {"logout", "", "login"}});
}

// The serial number (digits of the body, once) is what every envelope is then checked against;
// the door count may be written once. Databases and settings files the server creates hold
// passwords and access data: they are its owner's alone.
void TestOperatorCommands::writesnOnceAndFilesWithSecretsPrivate()
{
    QVERIFY(QFile::remove(server->filePath(QStringLiteral("sqlconfig.ini"))));
    start();
    Client client(*server);
    converse(client,
        {{"writesn", "AB 123 45\r\n", "OK-12345"}, {"writesn", "67890", "ERROR-12345"},
            {"writesn", "9", "error-para"}, {"writesn", "12", ""}, {"writesn", "4", "OK-4"},
            {"writesn", "2", "ERROR-writed"}});
    QSettings net(server->filePath(QStringLiteral("netconfig.ini")), QSettings::IniFormat);
    QCOMPARE(net.value(QStringLiteral("DOORCOUNT")).toString(), QStringLiteral("4"));
    QCOMPARE(client.login(QStringLiteral("dorx"), QStringLiteral("6172839405")), 1);
    for (const char *name : {"login_sql.db", "access_database.db", "record_database.db",
             "sqlconfig.ini", "netconfig.ini"})
        QCOMPARE(QFile::permissions(server->filePath(QString::fromLatin1(name))) & groupAndOthers,
            QFile::Permissions());
}

void TestOperatorCommands::getTxidCountsPerAddressAndTag()
{
    start();
    Client client(*server);
    QCOMPARE(client.login(QStringLiteral("dorx"), QStringLiteral("6172839405")), 1);
    const auto ask = [&](const QJsonObject &extra) {
        const QJsonObject reply
            = client.exchange("/command/getinfo/txid", message("tx", serialNumber, extra));
        return qMakePair(
            reply.value("datas").toObject().value("txid").toInt(), reply.value("txid").toInt());
    };
    // A new key is stored with 1 and read as 0: the object offers 1, the reply's counter is 2.
    QCOMPARE(ask({}), qMakePair(1, 2));
    QCOMPARE(ask({}), qMakePair(3, 3));
    QCOMPARE(ask({{"processtag", "P7"}}), qMakePair(1, 2));
    QCOMPARE(ask({}), qMakePair(4, 4));
    // Rows in the order of their last use.
    QCOMPARE(sqlRows(database(), QStringLiteral("select * from txid")),
        Rows({{"127.0.0.1P7", "2"}, {"127.0.0.1", "4"}}));
}

// The account goes into the "login" group alone: the rest of the file, comments included, stays,
// and the file is then readable by its owner only.
void TestOperatorCommands::tpactiveWritesTheLoginGroupAlone()
{
    const QString config = server->filePath(QStringLiteral("DORXWebOnDevice.ini"));
    server->writeConfig(QStringLiteral("; kept\n[listener]\nreadTimeout=2000\n"));
    start();
    Client client(*server);
    converse(client,
        {{"active", "isActive=?", "isActive=0"}, {"active", "username=门卫&password=p=w", "OK"},
            {"active", "isActive=?", "OK&isActive=1"}});
    QSettings ini(config, QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    QCOMPARE(ini.value(QStringLiteral("login/name")).toString(), QString::fromUtf8("门卫"));
    QCOMPARE(ini.value(QStringLiteral("login/password")).toString(), QStringLiteral("p"));
    QFile file(config);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().startsWith("; kept\n[listener]\n"));
    QCOMPARE(file.permissions() & groupAndOthers, QFile::Permissions());
}

// On storage that cannot be written (the start-up repair fails, as tests/store shows), the
// operators that are stored can still log in, and a write is never answered as done.
void TestOperatorCommands::readOnlyStorageIsReported()
{
    seed({{"op", "pw", operatorType, "1"}});
    QFile configFile(server->filePath(QStringLiteral("DORXWebOnDevice.ini")));
    QVERIFY(configFile.open(QIODevice::ReadOnly));
    const QByteArray configText = configFile.readAll();
    const ReadOnlyDirectory readOnly(server->dir());
    if (!readOnly.isReadOnly())
        QSKIP(qPrintable(readOnly.reason()));
    start();
    Client client(*server);
    QCOMPARE(client.login(QStringLiteral("op"), QStringLiteral("pw")), 1);
    converse(client, {{"active", "username=a&password=b", "激活失败！"}});
    QFile after(server->filePath(QStringLiteral("DORXWebOnDevice.ini")));
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), configText);
    QCOMPARE(stored(), Rows({{"op", "pw", operatorType, "1"}}));
}

// The browser's and the management client's failures count together; a locked-out address is
// answered as for a wrong password, until the lockout ends. A success starts the count afresh.
void TestOperatorCommands::loginsAreThrottledPerAddress()
{
    server->writeConfig(
        QStringLiteral("[listener]\nreadTimeout=2000\n[login]\nthrottleLockout=1000\n"));
    start();
    Client client(*server);
    const auto browserLogin = [&](const QByteArray &hex) {
        return client.post("/command/login", "username=dorx&password=" + hex);
    };
    const QByteArray wrongHex = des0_out(QStringLiteral("wrong")).toLatin1();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(browserLogin(wrongHex), QStringLiteral("login"));
    for (int i = 0; i < 2; ++i)
        QCOMPARE(client.login(QStringLiteral("dorx"), QStringLiteral("wrong")), 7);
    QCOMPARE(browserLogin(defaultHex), QStringLiteral("login"));
    QCOMPARE(client.login(QStringLiteral("dorx"), QStringLiteral("6172839405")), 7);
    QCOMPARE(server->output().count("LoginThrottle: 5 failed logins from 127.0.0.1; its logins are "
                                    "refused for 1 s\n"),
        1);
    QTRY_COMPARE_WITH_TIMEOUT(browserLogin(defaultHex), QStringLiteral("OK"), 10000);

    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 4; ++i)
            QCOMPARE(client.login(QStringLiteral("dorx"), QStringLiteral("wrong")), 7);
        QCOMPARE(client.login(QStringLiteral("dorx"), QStringLiteral("6172839405")), 1);
    }
}

QTEST_GUILESS_MAIN(TestOperatorCommands)
#include "test_operatorcommands.moc"
