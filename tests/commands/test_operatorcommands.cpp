#include "commandclient.h"
#include "crypto/des.h"
#include "readonlydirectory.h"
#include "serverprocess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

namespace {

const QString superUser = QString::fromUtf8("超级用户");
const QByteArray defaultHex = des0_out(QStringLiteral("6172839405")).toLatin1();
// Permission bits of the group and of others: files with secrets have none of them.
const QFile::Permissions groupAndOthers(0x0077);

} // namespace

// The operator, serial-number and transaction-counter commands against the real server, one
// fresh server (and so fresh databases and settings files) per test.
class TestOperatorCommands : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void writesn_sets_serial_number_and_door_count_once();
    void tplogin_data();
    void tplogin();
    void logouts_close_the_gate();
    void get_txid_counts_per_address_and_tag();
    void rights_are_for_super_users_only();
    void opera_add_and_operator_get();
    void opera_mdf_and_opera_del_by_position();
    void tppassword_set_data();
    void tppassword_set();
    void failed_writes_are_not_answered_as_done();
    void tpactive_both_ways();
    void files_holding_secrets_are_private();
    void read_only_storage_is_reported();
    void logins_are_throttled_per_address();

private:
    // Runs statements on the server's operator database, then answers the rows of select in
    // table order, each as its values joined by "|".
    QStringList sql(const QStringList &statements, const QString &select);
    QStringList stored() { return sql({}, QStringLiteral("select * from user")); }
    // Creates the database with these operators (and the extra statements) before the start.
    void seed(const QList<QStringList> &users, const QStringList &statements = {});
    void start() { QVERIFY2(server->start(), server->output().constData()); }
    // Starts the server and logs a client in (a failed login shows in the test's next check).
    Client startLoggedIn(const QString &name = "dorx", const QString &password = "6172839405");

    ServerProcess *server = nullptr;
};

void TestOperatorCommands::init()
{
    server = new ServerProcess;
    // Devices run under the C locale; names must still reach the database and replies intact.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    environment.remove(QStringLiteral("LANG"));
    server->qprocess().setProcessEnvironment(environment);
    server->writeConfig(QStringLiteral("[listener]\nreadTimeout=2000\n"));
    server->writeFile(QStringLiteral("sqlconfig.ini"), "[General]\nDEVICESN=12345\n");
}

Client TestOperatorCommands::startLoggedIn(const QString &name, const QString &password)
{
    start();
    Client client(*server);
    if (client.login(name, password) != 1)
        qWarning("login of %s refused", qUtf8Printable(name));
    return client;
}

void TestOperatorCommands::cleanup()
{
    delete server;
    server = nullptr;
}

QStringList TestOperatorCommands::sql(const QStringList &statements, const QString &select)
{
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "test");
        db.setDatabaseName(server->filePath(QStringLiteral("login_sql.db")));
        db.open();
        QSqlQuery query(db);
        for (const QString &statement : statements) {
            if (!query.exec(statement))
                qWarning("%s failed", qUtf8Printable(statement));
        }
        query.exec(select);
        while (query.next()) {
            QStringList values;
            for (int column = 0; column < query.record().count(); ++column)
                values << query.value(column).toString();
            rows << values.join('|');
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("test"));
    return rows;
}

void TestOperatorCommands::seed(const QList<QStringList> &users, const QStringList &statements)
{
    QStringList all = {"create table user(username text,password text,type text,enable int)",
        "create table txid(ip text,txid int)"};
    for (const QStringList &row : users)
        all << "insert into user values('" + row.join("','") + "')";
    sql(all + statements, QStringLiteral("select 1"));
}

void TestOperatorCommands::writesn_sets_serial_number_and_door_count_once()
{
    server->writeFile(QStringLiteral("sqlconfig.ini"), QByteArray());
    start();
    Client client(*server);
    QCOMPARE(client.post("/command/writesn", "AB 123 45\r\n"), QStringLiteral("OK-12345"));
    QCOMPARE(client.post("/command/writesn", "67890"), QStringLiteral("ERROR-12345"));
    QCOMPARE(client.post("/command/writesn", "9"), QStringLiteral("error-para"));
    QCOMPARE(client.post("/command/writesn", "12"), QString());
    QCOMPARE(client.post("/command/writesn", "4"), QStringLiteral("OK-4"));
    QCOMPARE(client.post("/command/writesn", "2"), QStringLiteral("ERROR-writed"));
    QSettings net(server->filePath(QStringLiteral("netconfig.ini")), QSettings::IniFormat);
    QCOMPARE(net.value(QStringLiteral("DOORCOUNT")).toString(), QStringLiteral("4"));
    // The serial number written is the one every envelope is now checked against.
    QCOMPARE(client.login(QStringLiteral("dorx"), QStringLiteral("6172839405")), 1);
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
    QTest::newRow("wrong devicesn") << loginMessage(name, password, "54321") << 2 << "L1";
    QTest::newRow("numeric id echoed as text")
        << loginMessage(name, password, serialNumber, 12) << 1 << "12";
    QTest::newRow("undecryptable body") << QByteArray("this is not an envelope at all") << 6 << "";
    QTest::newRow("decrypts to no JSON object") << sealedText("[1,2,3]") << 6 << "";
}

void TestOperatorCommands::tplogin()
{
    QFETCH(QByteArray, body);
    QFETCH(int, respond);
    QFETCH(QString, id);
    seed({{"dorx", "6172839405", superUser, "1"}, {"off", "pw", superUser, "0"},
        {QString::fromUtf8("张三"), QString::fromUtf8("密码"), QString::fromUtf8("操作员"), "1"}});
    start();
    Client client(*server);
    const QJsonObject reply = opened(client.post("/command/tplogin", body).toLatin1());
    QCOMPARE(reply.value(QLatin1String("respond")).toInt(), respond);
    QCOMPARE(reply.value(QLatin1String("id")).toString(), id);
    QCOMPARE(reply.value(QLatin1String("devicesn")).toString(), serialNumber);
    // Only a successful login opens the gated paths to this session.
    QCOMPARE(client.loggedIn(), respond == 1);
}

// tplogout answers 7 when it logged out; a wrong serial number (2) or an undecryptable body (6)
// leaves the session logged in. The browser logout answers "OK".
void TestOperatorCommands::logouts_close_the_gate()
{
    Client client = startLoggedIn();
    QCOMPARE(client.send("/command/tplogout", message("out", "99999")), 2);
    QCOMPARE(client.send("/command/tplogout", "not an envelope"), 6);
    QVERIFY(client.loggedIn());
    const QJsonObject reply
        = opened(client.post("/command/tplogout", message("out", serialNumber)).toLatin1());
    QCOMPARE(reply.value(QLatin1String("respond")).toInt(), 7);
    QCOMPARE(reply.value(QLatin1String("id")).toString(), QStringLiteral("out"));
    QVERIFY(!client.loggedIn());

    QCOMPARE(client.login(QStringLiteral("dorx"), QStringLiteral("6172839405")), 1);
    QCOMPARE(client.post("/command/logout", ""), QStringLiteral("OK"));
    QCOMPARE(client.post("/command/logout", ""), QStringLiteral("login"));
}

void TestOperatorCommands::get_txid_counts_per_address_and_tag()
{
    Client client = startLoggedIn();
    const auto ask = [&](const QJsonObject &extra) {
        const QJsonObject reply = opened(
            client.post("/command/getinfo/txid", message("tx", serialNumber, extra)).toLatin1());
        return qMakePair(
            reply.value("datas").toObject().value("txid").toInt(), reply.value("txid").toInt());
    };
    // A new key is stored with 1 and read as 0: the object offers 1, the reply's counter is 2.
    QCOMPARE(ask({}), qMakePair(1, 2));
    QCOMPARE(ask({}), qMakePair(3, 3));
    QCOMPARE(ask({{"processtag", "P7"}}), qMakePair(1, 2));
    QCOMPARE(ask({}), qMakePair(4, 4));
    // Rows in the order of their last use.
    QCOMPARE(sql({}, QStringLiteral("select * from txid")),
        QStringList({"127.0.0.1P7|2", "127.0.0.1|4"}));

    const QJsonObject refused
        = opened(client.post("/command/getinfo/txid", message(7, "00000")).toLatin1());
    QCOMPARE(refused.value(QLatin1String("respond")).toInt(), 2);
    QCOMPARE(refused.value(QLatin1String("id")).toString(), QStringLiteral("7"));
    QVERIFY(!refused.contains(QLatin1String("txid")));
}

void TestOperatorCommands::rights_are_for_super_users_only()
{
    seed({{"dorx", "6172839405", superUser, "1"}, {"op", "pw", QString::fromUtf8("操作员"), "1"}});
    Client client = startLoggedIn("op", "pw");
    QCOMPARE(client.post("/command/opera_add", "name=x&type=y"),
        QString::fromUtf8("新增用户失败，权限不够！"));
    QCOMPARE(client.post("/command/opera_del", "n=dorx&t=x&d=true&n=op&t=y&d=false"),
        QString::fromUtf8("修改用户失败，权限不够！"));
    QCOMPARE(client.post("/command/opera_mdf", "a=true&b=true"),
        QString::fromUtf8("恢复密码失败，权限不够！"));
    QCOMPARE(client.post("/command/operator_get", ""),
        QString::fromUtf8("OK&Name=dorx&Level=超级用户&Name=op&Level=操作员"));
    QCOMPARE(stored(),
        QStringList({"dorx|6172839405|" + superUser + "|1", QString::fromUtf8("op|pw|操作员|1")}));
}

void TestOperatorCommands::opera_add_and_operator_get()
{
    Client client = startLoggedIn();
    QCOMPARE(
        client.post("/command/operator_get", ""), QString::fromUtf8("OK&Name=dorx&Level=超级用户"));
    QCOMPARE(client.post("/command/opera_add", "name=dorx&type=x"),
        QString::fromUtf8("新增用户失败，用户已存在！"));
    QCOMPARE(client.post("/command/opera_add", "name=张三&type=操作员"), QStringLiteral("OK"));
    QCOMPARE(client.post("/command/opera_add", "name=solo"), QStringLiteral("OK"));
    QCOMPARE(client.post("/command/opera_add", "name=&type=t"), QStringLiteral("OK"));
    QCOMPARE(client.post("/command/opera_add", "name=e'x&type=t"), QStringLiteral("OK"));
    QCOMPARE(client.post("/command/opera_add", "name=f&type=t"),
        QString::fromUtf8("新增用户失败，用户数已满！"));
    QCOMPARE(client.post("/command/operator_get", ""),
        QString::fromUtf8("OK&Name=dorx&Level=超级用户&Name=张三&Level=操作员&Name=solo&Level="
                          "&Name=&Level=t&Name=e'x&Level=t"));
    QCOMPARE(stored().at(1), QString::fromUtf8("张三|6172839405|操作员|1"));
}

// Both pair form fields with the stored operators by position in table order.
void TestOperatorCommands::opera_mdf_and_opera_del_by_position()
{
    seed({{"dorx", "pw0", superUser, "1"}, {"a", "pwA", "t", "1"}, {"b", "pwB", "t", "1"}});
    Client client = startLoggedIn("dorx", "pw0");
    QCOMPARE(
        client.post("/command/opera_mdf", "0=false&1=TRUE&2=true&3=true"), QStringLiteral("OK"));
    QCOMPARE(
        stored(), QStringList({"dorx|pw0|" + superUser + "|1", "a|pwA|t|1", "b|6172839405|t|1"}));
    // Marks false, true, false: the third operator is renamed and retyped and keeps its
    // password; a fourth group has no stored operator and an incomplete fifth one is cut short.
    QCOMPARE(client.post("/command/opera_del",
                 "n0=dorx&t0=超级用户&d0=false&n1=a&t1=t&d1=true&"
                 "n2=bee&t2=管理员&d2=false&n3=ghost&t3=t&d3=false&n4=half"),
        QStringLiteral("OK"));
    QCOMPARE(stored(),
        QStringList(
            {"dorx|pw0|" + superUser + "|1", QString::fromUtf8("bee|6172839405|管理员|1")}));
}

void TestOperatorCommands::tppassword_set_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("password");

    const QByteArray newHex = des0_out(QStringLiteral("s3cret")).toLatin1();
    const QString logInAgain = QString::fromUtf8("修改失败，请重新登录！");
    QTest::newRow("right old password") << "o=" + defaultHex + "&n=" + newHex << "OK"
                                        << "s3cret";
    QTest::newRow("old password in upper-case hex")
        << "o=" + defaultHex.toUpper() + "&n=" + newHex << "OK"
        << "s3cret";
    QTest::newRow("wrong old password")
        << "o=" + newHex + "&n=" + newHex << QString::fromUtf8("修改失败，旧密码错误！")
        << "6172839405";
    QTest::newRow("three fields") << "o=" + defaultHex + "&n=" + newHex + "&x=1" << logInAgain
                                  << "6172839405";
    QTest::newRow("one field") << "o=" + defaultHex << logInAgain << "6172839405";
}

void TestOperatorCommands::tppassword_set()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, reply);
    QFETCH(QString, password);
    Client client = startLoggedIn();
    QCOMPARE(client.post("/command/password_set", body), reply);
    QCOMPARE(Client(*server).login(QStringLiteral("dorx"), password), 1);
}

// Triggers make every insert and update of "user" fail while reads and deletes work, so a
// rewrite of the list fails half-way after its delete.
void TestOperatorCommands::failed_writes_are_not_answered_as_done()
{
    seed({{"dorx", "6172839405", superUser, "1"}, {"a", "pwA", "t", "1"}},
        {"create trigger noinsert before insert on user begin select raise(abort, 'ro'); end",
            "create trigger noupdate before update on user begin select raise(abort, 'ro'); end"});
    const QStringList before = stored();
    Client client = startLoggedIn();
    QCOMPARE(
        client.post("/command/opera_add", "name=n&type=t"), QString::fromUtf8("新增用户失败！"));
    QCOMPARE(client.post("/command/opera_del", "n=dorx&t=x&d=false&n=a&t=t&d=true"),
        QString::fromUtf8("修改用户失败！"));
    QCOMPARE(
        client.post("/command/opera_mdf", "a=false&b=true"), QString::fromUtf8("恢复密码失败！"));
    QCOMPARE(client.post("/command/password_set", "o=" + defaultHex + "&n=" + defaultHex),
        QString::fromUtf8("修改失败，请重新登录！"));
    QCOMPARE(stored(), before);
}

// The account goes into the "login" group alone: the rest of the file, comments included, stays,
// and the file is then readable by its owner only.
void TestOperatorCommands::tpactive_both_ways()
{
    const QString config = server->filePath(QStringLiteral("DORXWebOnDevice.ini"));
    server->writeConfig(QStringLiteral("; kept\n[listener]\nreadTimeout=2000\n"));
    start();
    Client client(*server);
    QCOMPARE(client.post("/command/active", "isActive=?"), QStringLiteral("isActive=0"));
    QCOMPARE(client.post("/command/active", "username=门卫&password=p=w"), QStringLiteral("OK"));
    QCOMPARE(client.post("/command/active", "isActive=?"), QStringLiteral("OK&isActive=1"));
    QSettings ini(config, QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    QCOMPARE(ini.value(QStringLiteral("login/name")).toString(), QString::fromUtf8("门卫"));
    QCOMPARE(ini.value(QStringLiteral("login/password")).toString(), QStringLiteral("p"));
    QFile file(config);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().startsWith("; kept\n[listener]\n"));
    QCOMPARE(file.permissions() & groupAndOthers, QFile::Permissions());
}

// Databases and settings files the server creates hold passwords and access data.
void TestOperatorCommands::files_holding_secrets_are_private()
{
    QVERIFY(QFile::remove(server->filePath(QStringLiteral("sqlconfig.ini"))));
    start();
    Client client(*server);
    QCOMPARE(client.post("/command/writesn", "SN-0012345"), QStringLiteral("OK-12345"));
    QCOMPARE(client.post("/command/writesn", "4"), QStringLiteral("OK-4"));
    for (const char *name : {"login_sql.db", "access_database.db", "record_database.db",
             "sqlconfig.ini", "netconfig.ini"})
        QCOMPARE(QFile::permissions(server->filePath(QString::fromLatin1(name))) & groupAndOthers,
            QFile::Permissions());
}

// On storage that cannot be written the start-up repair fails loudly, the operators that are
// stored can still log in, and a write is never answered as done.
void TestOperatorCommands::read_only_storage_is_reported()
{
    seed({{"op", "pw", QString::fromUtf8("操作员"), "1"}});
    QFile configFile(server->filePath(QStringLiteral("DORXWebOnDevice.ini")));
    QVERIFY(configFile.open(QIODevice::ReadOnly));
    const QByteArray configText = configFile.readAll();
    const ReadOnlyDirectory readOnly(server->dir());
    if (!readOnly.isReadOnly())
        QSKIP(qPrintable(readOnly.reason()));
    Client client = startLoggedIn("op", "pw");
    QVERIFY(client.loggedIn());
    QVERIFY2(server->output().contains("OperatorDb: start-up check of login_sql.db failed; the "
                                       "file is left as it was"),
        server->output().constData());
    QCOMPARE(
        client.post("/command/active", "username=a&password=b"), QString::fromUtf8("激活失败！"));
    QFile after(server->filePath(QStringLiteral("DORXWebOnDevice.ini")));
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), configText);
    QCOMPARE(stored(), QStringList({QString::fromUtf8("op|pw|操作员|1")}));
}

// The browser's and the management client's failures count together; a locked-out address is
// answered as for a wrong password, until the lockout ends. A success starts the count afresh.
void TestOperatorCommands::logins_are_throttled_per_address()
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
