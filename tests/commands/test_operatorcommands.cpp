#include "crypto/aescipher.h"
#include "crypto/des.h"
#include "serverprocess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QtTest>

namespace {

const QByteArray envelopeKey = "KQWZ5830271946mv";
const char serialNumber[] = "12345";

// Seals a message as the management client does, built here from the cipher itself so that the
// server's envelope code is checked against an independent client.
QByteArray sealed(const QJsonObject &message)
{
    return AesCipher::Crypt(AesCipher::AES_128, AesCipher::ECB,
        QJsonDocument(message).toJson(QJsonDocument::Compact), envelopeKey, QByteArray(),
        AesCipher::ZERO)
        .toBase64();
}

QJsonObject opened(const QByteArray &body)
{
    QByteArray plain = AesCipher::Decrypt(AesCipher::AES_128, AesCipher::ECB,
        QByteArray::fromBase64(body), envelopeKey, QByteArray(), AesCipher::ZERO);
    while (plain.endsWith('\0'))
        plain.chop(1);
    return QJsonDocument::fromJson(plain).object();
}

QJsonObject message(const QJsonValue &id, const QString &devicesn, const QJsonObject &datas = {})
{
    return {{QStringLiteral("id"), id}, {QStringLiteral("devicesn"), devicesn},
        {QStringLiteral("datas"), datas}};
}

QJsonObject loginMessage(const QString &name, const QString &password,
    const QString &devicesn = QString::fromLatin1(serialNumber))
{
    return message(QStringLiteral("L1"), devicesn,
        {{QStringLiteral("username"), name}, {QStringLiteral("password"), password}});
}

int respondOf(const QByteArray &body)
{
    return opened(body).value(QLatin1String("respond")).toInt(-1);
}

QString text(const QByteArray &body)
{
    return QString::fromUtf8(body);
}

QString superUser()
{
    return QString::fromUtf8("超级用户");
}

// A browser or management client: one connection per request, presenting the session cookie
// that the server set last.
class Client
{
public:
    explicit Client(const ServerProcess &server)
        : server(server)
    { }

    QByteArray post(const QByteArray &path, const QByteArray &body)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server.port());
        if (!socket.waitForConnected(5000))
            return "no connection";
        QByteArray request = "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
            + "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        if (!cookie.isEmpty())
            request += "Cookie: " + cookie + "\r\n";
        socket.write(request + "\r\n" + body);
        QByteArray content;
        const QByteArray whole = readHttpResponse(socket, 10000, &content);
        for (const QByteArray &line : whole.split('\n')) {
            if (line.toLower().startsWith("set-cookie:"))
                cookie = line.mid(11).trimmed().split(';').first();
        }
        return content;
    }

    int login(const QString &name, const QString &password)
    {
        return respondOf(post("/command/tplogin", sealed(loginMessage(name, password))));
    }

    QByteArray cookie;

private:
    const ServerProcess &server;
};

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
    void login_data();
    void login();
    void login_refuses_a_disabled_account();
    void login_with_a_name_beyond_ascii();
    void gated_paths_need_a_login();
    void tplogout_closes_the_gate();
    void tplogout_with_wrong_serial_number_keeps_the_session();
    void browser_logout_closes_the_gate();
    void get_txid_counts_per_address_and_tag();
    void get_txid_refuses_wrong_serial_number();
    void operator_get_lists_names_and_types();
    void rights_are_for_super_users_only();
    void opera_add_refuses_duplicates_and_a_sixth_operator();
    void opera_add_without_type_stores_empty_type();
    void opera_del_keeps_passwords_by_position();
    void opera_mdf_resets_marked_operators_only();
    void tppassword_set_data();
    void tppassword_set();
    void failed_writes_are_not_answered_as_done();
    void tpactive_both_ways();

private:
    // Rows of "user" in table order, each as name|password|type|enable.
    QStringList storedUsers();
    // Replaces the operator list before the server starts.
    void seedUsers(const QList<QStringList> &rows);
    void startServer();
    Client loggedIn(const QString &name = QStringLiteral("dorx"),
        const QString &password = QStringLiteral("6172839405"));

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
    server->writeFile(
        QStringLiteral("sqlconfig.ini"), QByteArray("[General]\nDEVICESN=") + serialNumber + '\n');
}

void TestOperatorCommands::cleanup()
{
    delete server;
    server = nullptr;
}

void TestOperatorCommands::startServer()
{
    QVERIFY2(server->start(), server->output().constData());
}

Client TestOperatorCommands::loggedIn(const QString &name, const QString &password)
{
    Client client(*server);
    const int respond = client.login(name, password);
    if (respond != 1)
        qWarning("login of %s answered %d", qUtf8Printable(name), respond);
    return client;
}

QStringList TestOperatorCommands::storedUsers()
{
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "inspect");
        db.setDatabaseName(server->filePath(QStringLiteral("login_sql.db")));
        if (db.open()) {
            QSqlQuery query(QStringLiteral("select * from user"), db);
            while (query.next()) {
                rows << QStringLiteral("%1|%2|%3|%4")
                            .arg(query.value(0).toString(), query.value(1).toString(),
                                query.value(2).toString(), query.value(3).toString());
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("inspect"));
    return rows;
}

void TestOperatorCommands::seedUsers(const QList<QStringList> &rows)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "seed");
        db.setDatabaseName(server->filePath(QStringLiteral("login_sql.db")));
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(
            QStringLiteral("create table user(username text,password text,type text,enable int)")));
        QVERIFY(query.exec(QStringLiteral("create table txid(ip text,txid int)")));
        for (const QStringList &row : rows) {
            QVERIFY(query.prepare(QStringLiteral("insert into user values(?,?,?,?)")));
            for (const QString &value : row)
                query.addBindValue(value);
            QVERIFY(query.exec());
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("seed"));
}

void TestOperatorCommands::writesn_sets_serial_number_and_door_count_once()
{
    server->writeFile(QStringLiteral("sqlconfig.ini"), QByteArray());
    startServer();
    Client client(*server);
    QCOMPARE(text(client.post("/command/writesn", "AB 123 45\r\n")), QStringLiteral("OK-12345"));
    QCOMPARE(text(client.post("/command/writesn", "67890")), QStringLiteral("ERROR-12345"));
    QCOMPARE(text(client.post("/command/writesn", "9")), QStringLiteral("error-para"));
    QCOMPARE(text(client.post("/command/writesn", "12")), QString());
    QCOMPARE(text(client.post("/command/writesn", "4")), QStringLiteral("OK-4"));
    QCOMPARE(text(client.post("/command/writesn", "2")), QStringLiteral("ERROR-writed"));

    QSettings device(server->filePath(QStringLiteral("sqlconfig.ini")), QSettings::IniFormat);
    QCOMPARE(device.value(QStringLiteral("DEVICESN")).toString(), QStringLiteral("12345"));
    QSettings net(server->filePath(QStringLiteral("netconfig.ini")), QSettings::IniFormat);
    QCOMPARE(net.value(QStringLiteral("DOORCOUNT")).toString(), QStringLiteral("4"));
    // The serial number written is the one the login now demands.
    QCOMPARE(client.login(QStringLiteral("dorx"), QStringLiteral("6172839405")), 1);
}

void TestOperatorCommands::login_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("respond");
    QTest::addColumn<QString>("id");

    QTest::newRow("right password")
        << sealed(loginMessage(QStringLiteral("dorx"), QStringLiteral("6172839405"))) << 1 << "L1";
    QTest::newRow("wrong password")
        << sealed(loginMessage(QStringLiteral("dorx"), QStringLiteral("6172839404"))) << 7 << "L1";
    QTest::newRow("unknown operator")
        << sealed(loginMessage(QStringLiteral("DORX"), QStringLiteral("6172839405"))) << 7 << "L1";
    QTest::newRow("wrong devicesn") << sealed(
        loginMessage(QStringLiteral("dorx"), QStringLiteral("6172839405"), QStringLiteral("54321")))
                                    << 2 << "L1";
    QTest::newRow("numeric id is echoed as text")
        << sealed(message(12, QString::fromLatin1(serialNumber),
               {{QStringLiteral("username"), QStringLiteral("dorx")},
                   {QStringLiteral("password"), QStringLiteral("6172839405")}}))
        << 1 << "12";
    QTest::newRow("undecryptable body") << QByteArray("this is not an envelope at all") << 6 << "";
    QTest::newRow("decrypts to no JSON object") << AesCipher::Crypt(
        AesCipher::AES_128, AesCipher::ECB, "[1,2,3]", envelopeKey, QByteArray(), AesCipher::ZERO)
                                                       .toBase64()
                                                << 6 << "";
}

void TestOperatorCommands::login()
{
    QFETCH(QByteArray, body);
    QFETCH(int, respond);
    QFETCH(QString, id);
    startServer();
    Client client(*server);
    const QJsonObject reply = opened(client.post("/command/tplogin", body));
    QCOMPARE(reply.value(QLatin1String("respond")).toInt(), respond);
    QCOMPARE(reply.value(QLatin1String("id")).toString(), id);
    QCOMPARE(reply.value(QLatin1String("devicesn")).toString(), QString::fromLatin1(serialNumber));
    // Only a successful login opens the gated paths to this session.
    const QString listed = text(client.post("/command/operator_get", ""));
    QCOMPARE(listed.startsWith(QLatin1String("OK&Name=dorx")), respond == 1);
}

void TestOperatorCommands::login_refuses_a_disabled_account()
{
    seedUsers({{QStringLiteral("dorx"), QStringLiteral("6172839405"), superUser(), "1"},
        {QStringLiteral("off"), QStringLiteral("pw"), superUser(), "0"}});
    startServer();
    Client client(*server);
    QCOMPARE(client.login(QStringLiteral("off"), QStringLiteral("pw")), 7);
    QCOMPARE(text(client.post("/command/operator_get", "")), QStringLiteral("login"));
}

void TestOperatorCommands::login_with_a_name_beyond_ascii()
{
    seedUsers({{QString::fromUtf8("张三"), QString::fromUtf8("密码"), superUser(), "1"}});
    startServer();
    Client client(*server);
    QCOMPARE(client.login(QString::fromUtf8("张三"), QString::fromUtf8("密码")), 1);
    QCOMPARE(text(client.post("/command/operator_get", "")),
             QString::fromUtf8("OK&Name=张三&Level=超级用户"));
}

void TestOperatorCommands::gated_paths_need_a_login()
{
    startServer();
    Client client(*server);
    const QByteArray txid = sealed(message(QStringLiteral("t"), QString::fromLatin1(serialNumber)));
    QCOMPARE(text(client.post("/command/getinfo/txid", txid)), QStringLiteral("login"));
    QCOMPARE(text(client.post("/command/logout", "")), QStringLiteral("login"));
    QCOMPARE(text(client.post("/command/tplogout", txid)), QStringLiteral("login"));
    QCOMPARE(text(client.post("/command/opera_add", "name=x&type=y")), QStringLiteral("login"));
    QCOMPARE(storedUsers().size(), 1);
}

void TestOperatorCommands::tplogout_closes_the_gate()
{
    startServer();
    Client client = loggedIn();
    const QJsonObject reply = opened(client.post("/command/tplogout",
        sealed(message(QStringLiteral("out"), QString::fromLatin1(serialNumber)))));
    QCOMPARE(reply.value(QLatin1String("respond")).toInt(), 7);
    QCOMPARE(reply.value(QLatin1String("id")).toString(), QStringLiteral("out"));
    QCOMPARE(text(client.post("/command/operator_get", "")), QStringLiteral("login"));
}

void TestOperatorCommands::tplogout_with_wrong_serial_number_keeps_the_session()
{
    startServer();
    Client client = loggedIn();
    QCOMPARE(respondOf(client.post("/command/tplogout",
                 sealed(message(QStringLiteral("out"), QStringLiteral("99999"))))),
        2);
    QCOMPARE(respondOf(client.post("/command/tplogout", "not an envelope")), 6);
    QVERIFY(text(client.post("/command/operator_get", "")).startsWith(QLatin1String("OK")));
}

void TestOperatorCommands::browser_logout_closes_the_gate()
{
    startServer();
    Client client = loggedIn();
    QCOMPARE(text(client.post("/command/logout", "")), QStringLiteral("OK"));
    QCOMPARE(text(client.post("/command/operator_get", "")), QStringLiteral("login"));
}

void TestOperatorCommands::get_txid_counts_per_address_and_tag()
{
    startServer();
    Client client = loggedIn();
    const auto ask = [&](const QString &tag) {
        QJsonObject request = message(QStringLiteral("tx"), QString::fromLatin1(serialNumber));
        if (!tag.isEmpty())
            request.insert(QStringLiteral("processtag"), tag);
        const QJsonObject reply = opened(client.post("/command/getinfo/txid", sealed(request)));
        return qMakePair(reply.value(QLatin1String("datas")).toObject().value("txid").toInt(),
            reply.value(QLatin1String("txid")).toInt());
    };
    // A new key is stored with 1 and read as 0: the object offers 1, the reply's counter 2.
    QCOMPARE(ask(QString()), qMakePair(1, 2));
    QCOMPARE(ask(QString()), qMakePair(3, 3));
    QCOMPARE(ask(QString()), qMakePair(4, 4));
    QCOMPARE(ask(QStringLiteral("P7")), qMakePair(1, 2));
    QCOMPARE(ask(QString()), qMakePair(5, 5));

    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "txid");
        db.setDatabaseName(server->filePath(QStringLiteral("login_sql.db")));
        QVERIFY(db.open());
        QSqlQuery query(QStringLiteral("select ip, txid from txid order by ip"), db);
        while (query.next())
            rows << query.value(0).toString() + '=' + query.value(1).toString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("txid"));
    QCOMPARE(rows, QStringList({"127.0.0.1=5", "127.0.0.1P7=2"}));
}

void TestOperatorCommands::get_txid_refuses_wrong_serial_number()
{
    startServer();
    Client client = loggedIn();
    const QJsonObject reply
        = opened(client.post("/command/getinfo/txid", sealed(message(7, QStringLiteral("00000")))));
    QCOMPARE(reply.value(QLatin1String("respond")).toInt(), 2);
    QCOMPARE(reply.value(QLatin1String("id")).toString(), QStringLiteral("7"));
    QVERIFY(!reply.contains(QLatin1String("txid")));
}

void TestOperatorCommands::operator_get_lists_names_and_types()
{
    startServer();
    Client client = loggedIn();
    QCOMPARE(text(client.post("/command/operator_get", "")),
        QString::fromUtf8("OK&Name=dorx&Level=超级用户"));
    QCOMPARE(text(client.post(
                 "/command/opera_add", QString::fromUtf8("name=张三&type=操作员").toUtf8())),
        QStringLiteral("OK"));
    QCOMPARE(text(client.post("/command/operator_get", "")),
        QString::fromUtf8("OK&Name=dorx&Level=超级用户&Name=张三&Level=操作员"));
}

void TestOperatorCommands::rights_are_for_super_users_only()
{
    seedUsers({{QStringLiteral("dorx"), QStringLiteral("6172839405"), superUser(), "1"},
        {QStringLiteral("op"), QStringLiteral("pw"), QString::fromUtf8("操作员"), "1"}});
    startServer();
    Client client = loggedIn(QStringLiteral("op"), QStringLiteral("pw"));
    QCOMPARE(text(client.post("/command/opera_add", "name=x&type=y")),
        QString::fromUtf8("新增用户失败，权限不够！"));
    QCOMPARE(text(client.post("/command/opera_del", "n=dorx&t=x&d=true&n=op&t=y&d=false")),
        QString::fromUtf8("修改用户失败，权限不够！"));
    QCOMPARE(text(client.post("/command/opera_mdf", "a=true&b=true")),
        QString::fromUtf8("恢复密码失败，权限不够！"));
    QVERIFY(text(client.post("/command/operator_get", "")).startsWith(QLatin1String("OK&")));
    QCOMPARE(storedUsers(),
        QStringList({QString::fromUtf8("dorx|6172839405|超级用户|1"),
            QString::fromUtf8("op|pw|操作员|1")}));
}

void TestOperatorCommands::opera_add_refuses_duplicates_and_a_sixth_operator()
{
    startServer();
    Client client = loggedIn();
    QCOMPARE(text(client.post("/command/opera_add", "name=dorx&type=x")),
        QString::fromUtf8("新增用户失败，用户已存在！"));
    for (const QByteArray name : {"a", "b", "c", "d"})
        QCOMPARE(text(client.post("/command/opera_add", "name=" + name + "&type=t")),
            QStringLiteral("OK"));
    QCOMPARE(text(client.post("/command/opera_add", "name=e&type=t")),
        QString::fromUtf8("新增用户失败，用户数已满！"));
    const QStringList users = storedUsers();
    QCOMPARE(users.size(), 5);
    QCOMPARE(users.last(), QStringLiteral("d|6172839405|t|1"));
}

void TestOperatorCommands::opera_add_without_type_stores_empty_type()
{
    startServer();
    Client client = loggedIn();
    QCOMPARE(text(client.post("/command/opera_add", "name=solo")), QStringLiteral("OK"));
    QCOMPARE(storedUsers().last(), QStringLiteral("solo|6172839405||1"));
}

void TestOperatorCommands::opera_del_keeps_passwords_by_position()
{
    seedUsers({{QStringLiteral("dorx"), QStringLiteral("pw0"), superUser(), "1"},
        {QStringLiteral("a"), QStringLiteral("pwA"), QStringLiteral("t"), "1"},
        {QStringLiteral("b"), QStringLiteral("pwB"), QStringLiteral("t"), "1"}});
    startServer();
    Client client = loggedIn(QStringLiteral("dorx"), QStringLiteral("pw0"));
    // The third operator is renamed and retyped; a fourth group has no stored operator and an
    // incomplete fifth one is cut short: both are ignored.
    const QByteArray form = QString::fromUtf8("n0=dorx&t0=超级用户&d0=false&"
                                              "n1=a&t1=t&d1=true&"
                                              "n2=bee&t2=管理员&d2=false&"
                                              "n3=ghost&t3=t&d3=false&n4=half")
                                .toUtf8();
    QCOMPARE(text(client.post("/command/opera_del", form)), QStringLiteral("OK"));
    QCOMPARE(storedUsers(),
        QStringList(
            {QString::fromUtf8("dorx|pw0|超级用户|1"), QString::fromUtf8("bee|pwB|管理员|1")}));
    Client renamed(*server);
    QCOMPARE(renamed.login(QStringLiteral("bee"), QStringLiteral("pwB")), 1);
}

void TestOperatorCommands::opera_mdf_resets_marked_operators_only()
{
    seedUsers({{QStringLiteral("dorx"), QStringLiteral("pw0"), superUser(), "1"},
        {QStringLiteral("a"), QStringLiteral("pwA"), QStringLiteral("t"), "1"},
        {QStringLiteral("b"), QStringLiteral("pwB"), QStringLiteral("t"), "1"}});
    startServer();
    Client client = loggedIn(QStringLiteral("dorx"), QStringLiteral("pw0"));
    QCOMPARE(text(client.post("/command/opera_mdf", "0=false&1=true&2=TRUE&3=true")),
        QStringLiteral("OK"));
    QCOMPARE(storedUsers(),
        QStringList({QString::fromUtf8("dorx|pw0|超级用户|1"), QStringLiteral("a|6172839405|t|1"),
            QStringLiteral("b|pwB|t|1")}));
}

void TestOperatorCommands::tppassword_set_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("password");

    const QByteArray oldHex = des0_out(QStringLiteral("6172839405")).toLatin1();
    const QByteArray newHex = des0_out(QStringLiteral("s3cret")).toLatin1();
    QTest::newRow("right old password") << "old=" + oldHex + "&new=" + newHex << "OK"
                                        << "s3cret";
    QTest::newRow("wrong old password")
        << "old=" + newHex + "&new=" + newHex << QString::fromUtf8("修改失败，旧密码错误！")
        << "6172839405";
    QTest::newRow("three fields") << "old=" + oldHex + "&new=" + newHex + "&x=1"
                                  << QString::fromUtf8("修改失败，请重新登录！") << "6172839405";
    QTest::newRow("one field") << "old=" + oldHex << QString::fromUtf8("修改失败，请重新登录！")
                               << "6172839405";
}

void TestOperatorCommands::tppassword_set()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, reply);
    QFETCH(QString, password);
    startServer();
    Client client = loggedIn();
    QCOMPARE(text(client.post("/command/password_set", body)), reply);
    Client again(*server);
    QCOMPARE(again.login(QStringLiteral("dorx"), password), 1);
}

void TestOperatorCommands::failed_writes_are_not_answered_as_done()
{
    seedUsers({{QStringLiteral("dorx"), QStringLiteral("6172839405"), superUser(), "1"},
        {QStringLiteral("a"), QStringLiteral("pwA"), QStringLiteral("t"), "1"}});
    startServer();
    Client client = loggedIn();
    const QByteArray oldHex = des0_out(QStringLiteral("6172839405")).toLatin1();
    QStringList replies;
    {
        // Another writer holds the database: reads go on, every write fails after the busy wait.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "blocker");
        db.setDatabaseName(server->filePath(QStringLiteral("login_sql.db")));
        QVERIFY(db.open());
        QSqlQuery hold(db);
        QVERIFY(hold.exec(QStringLiteral("begin immediate")));
        replies << text(client.post("/command/opera_add", "name=n&type=t"))
                << text(client.post("/command/opera_del", "n=dorx&t=x&d=false&n=a&t=t&d=true"))
                << text(client.post("/command/opera_mdf", "a=false&b=true"))
                << text(client.post("/command/password_set", "o=" + oldHex + "&n=" + oldHex));
        QVERIFY(hold.exec(QStringLiteral("rollback")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("blocker"));

    QCOMPARE(replies,
        QStringList({QString::fromUtf8("新增用户失败！"), QString::fromUtf8("修改用户失败！"),
            QString::fromUtf8("恢复密码失败！"), QString::fromUtf8("修改失败，请重新登录！")}));
    QCOMPARE(storedUsers(),
        QStringList(
            {QString::fromUtf8("dorx|6172839405|超级用户|1"), QStringLiteral("a|pwA|t|1")}));
}

void TestOperatorCommands::tpactive_both_ways()
{
    startServer();
    Client client(*server);
    QCOMPARE(text(client.post("/command/active", "isActive=?")), QStringLiteral("isActive=0"));
    QCOMPARE(text(client.post(
                 "/command/active", QString::fromUtf8("username=门卫&password=p=w").toUtf8())),
        QStringLiteral("OK"));
    QCOMPARE(text(client.post("/command/active", "isActive=?")), QStringLiteral("OK&isActive=1"));
    QSettings ini(server->filePath(QStringLiteral("DORXWebOnDevice.ini")), QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    QCOMPARE(ini.value(QStringLiteral("login/name")).toString(), QString::fromUtf8("门卫"));
    QCOMPARE(ini.value(QStringLiteral("login/password")).toString(), QStringLiteral("p"));
}

QTEST_GUILESS_MAIN(TestOperatorCommands)
#include "test_operatorcommands.moc"
