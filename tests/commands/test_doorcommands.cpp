#include "commandclient.h"
#include "commands/accessdaemon.h"
#include "daemonbus.h"
#include "serverprocess.h"

#include <QSettings>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

// What the server finds on its session bus.
enum class Daemon {
    Answering, // the fake daemon, with the row's arguments
    Absent, // a private bus without the daemon
    NoBus, // no bus at all
};

} // namespace
Q_DECLARE_METATYPE(Daemon)

// Door and face-reader actions against the real server, on a private bus of each test's own with
// the fake access daemon, which notes what reaches it. Daemon calls may take 500 ms.
class TestDoorCommands : public QObject
{
    Q_OBJECT

private slots:
    void callTimeoutIsBounded_data();
    void callTimeoutIsBounded();
    void init();
    void cleanup();

    void daemonCommands_data();
    void daemonCommands();
    void hungDaemonHoldsNobodyForLong();
    void busThatComesLaterOrStartsAgainIsReached();
    void faceNoticesNeedNoLogin();
    void faceDeviceRegistration_data();
    void faceDeviceRegistration();

private:
    // Starts what the row asks for, then the server, and logs a client in.
    void start(Daemon daemon, const QStringList &daemonArguments = {});
    QString setting(const QString &key) const;

    std::unique_ptr<DaemonBus> bus;
    std::unique_ptr<ServerProcess> server;
    std::unique_ptr<Client> client;
};

void TestDoorCommands::callTimeoutIsBounded_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<bool>("warned");
    QTest::newRow("default") << QByteArray() << 3000 << false;
    QTest::newRow("set") << QByteArray("callTimeout=500") << 500 << false;
    QTest::newRow("zero would be the bus's 25 s") << QByteArray("callTimeout=0") << 3000 << true;
    QTest::newRow("not a number") << QByteArray("callTimeout=3s") << 3000 << true;
}

void TestDoorCommands::callTimeoutIsBounded()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, timeoutMs);
    QFETCH(bool, warned);
    QTemporaryDir dir;
    QFile file(dir.filePath("DORXWebOnDevice.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[daemon]\n" + ini + '\n') > 0);
    file.close();
    QSettings settings(file.fileName(), QSettings::IniFormat);
    settings.beginGroup("daemon");
    if (warned)
        QTest::ignoreMessage(
            QtWarningMsg, "AccessDaemon: callTimeout must be a positive number of ms, using 3000");
    QCOMPARE(DaemonConfig::read(settings).callTimeoutMs, timeoutMs);
}

void TestDoorCommands::init()
{
    bus = std::make_unique<DaemonBus>();
    server = std::make_unique<ServerProcess>();
    server->writeConfig(
        QStringLiteral("[listener]\nreadTimeout=2000\n[daemon]\ncallTimeout=500\n"));
    server->writeFile(QStringLiteral("sqlconfig.ini"), "[General]\nDEVICESN=12345\n");
}

void TestDoorCommands::cleanup()
{
    client.reset();
    server.reset();
    bus.reset();
}

void TestDoorCommands::start(Daemon daemon, const QStringList &daemonArguments)
{
    if (daemon != Daemon::NoBus) {
        QVERIFY(bus->startBus());
        server->useBus(bus->address());
    }
    if (daemon == Daemon::Answering)
        QVERIFY2(bus->startDaemon(daemonArguments), bus->daemonErrors().constData());
    QVERIFY2(server->start(), server->output().constData());
    client = std::make_unique<Client>(*server);
    QCOMPARE(client->login("dorx", "6172839405"), 1);
}

QString TestDoorCommands::setting(const QString &key) const
{
    QSettings settings(server->filePath(QStringLiteral("sqlconfig.ini")), QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    return settings.value(key).toString();
}

void TestDoorCommands::daemonCommands_data()
{
    QTest::addColumn<Daemon>("daemon");
    QTest::addColumn<QStringList>("daemonArguments");
    QTest::addColumn<QByteArray>("longopen"); // the store setting "LONGOPEN", if any
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QJsonObject>("datas");
    QTest::addColumn<int>("respond");
    QTest::addColumn<QStringList>("commands"); // as the daemon received them

    const Daemon answering = Daemon::Answering;
    const QByteArray open = "/command/longopen/property";
    const auto door = [](int doornum) { return QJsonObject {{"doornum", doornum}}; };
    QTest::newRow("door 0 is the daemon's door 1")
        << answering << QStringList() << QByteArray() << open << door(0) << 1
        << QStringList {"open.1"};
    QTest::newRow("door 3 is the daemon's door 4")
        << answering << QStringList() << QByteArray() << open << door(3) << 1
        << QStringList {"open.4"};
    QTest::newRow("door 4 refused")
        << answering << QStringList() << QByteArray() << open << door(4) << 3 << QStringList();
    QTest::newRow("no door given opens the first")
        << answering << QStringList() << QByteArray() << open << QJsonObject() << 1
        << QStringList {"open.1"};
    QTest::newRow("LONGOPEN 2 switches long-open off")
        << answering << QStringList() << QByteArray("2") << open << door(1) << 10 << QStringList();
    QTest::newRow("LONGOPEN 1 leaves it on") << answering << QStringList() << QByteArray("1")
                                             << open << door(1) << 1 << QStringList {"open.2"};
    QTest::newRow("daemon absent: the door order still counts as given")
        << Daemon::Absent << QStringList() << QByteArray() << open << door(0) << 1 << QStringList();

    const QByteArray ycqr = "/command/ycqr";
    const QJsonObject asked {{"personid", 7}, {"doornum", 3}, {"direciton", 1}, {"result", 2}};
    const QStringList sent {"ycqr.7.3.1.2"};
    QTest::newRow("confirmation: the daemon's answer")
        << answering << QStringList {"--answer", "ycqr.7.3.1.2=9"} << QByteArray() << ycqr << asked
        << 9 << sent;
    QTest::newRow("confirmation: low 8 bits of the answer")
        << answering << QStringList {"--answer", "ycqr.7.3.1.2=263"} << QByteArray() << ycqr
        << asked << 7 << sent;
    QTest::newRow("confirmation: answer that is no number")
        << answering << QStringList {"--answer", "ycqr.7.3.1.2=yes"} << QByteArray() << ycqr
        << asked << 0 << sent;
    const auto with = [&asked](const char *key, int value) {
        QJsonObject changed = asked;
        changed.insert(key, value);
        return changed;
    };
    QJsonObject spelledRight = with("direction", 1);
    spelledRight.remove("direciton");
    QTest::newRow("confirmation: direction spelled right")
        << answering << QStringList() << QByteArray() << ycqr << spelledRight << 0 << sent;
    QTest::newRow("confirmation: direction 2 refused")
        << answering << QStringList() << QByteArray() << ycqr << with("direciton", 2) << 3
        << QStringList();
    QTest::newRow("confirmation: door 4 refused")
        << answering << QStringList() << QByteArray() << ycqr << with("doornum", 4) << 3
        << QStringList();
    QTest::newRow("confirmation: daemon absent")
        << Daemon::Absent << QStringList() << QByteArray() << ycqr << asked << 4 << QStringList();
    QTest::newRow("confirmation: no bus")
        << Daemon::NoBus << QStringList() << QByteArray() << ycqr << asked << 4 << QStringList();
}

void TestDoorCommands::daemonCommands()
{
    QFETCH(Daemon, daemon);
    QFETCH(QStringList, daemonArguments);
    QFETCH(QByteArray, longopen);
    QFETCH(QByteArray, path);
    QFETCH(QJsonObject, datas);
    QFETCH(int, respond);
    QFETCH(QStringList, commands);
    if (!longopen.isNull())
        server->writeFile(
            "sqlconfig.ini", "[General]\nDEVICESN=12345\nLONGOPEN=" + longopen + "\n");
    start(daemon, daemonArguments);
    QCOMPARE(client->send(path, {{"datas", datas}}), respond);
    QCOMPARE(bus->commands(), commands);
}

// A daemon that takes each command and never answers costs each call one timeout, long before
// the bus's own 25 s (which the client would not wait for): a remote confirmation is answered 4,
// and the requests waiting behind a hung call, or coming after it, are served.
void TestDoorCommands::hungDaemonHoldsNobodyForLong()
{
    start(Daemon::Answering, {"--hang"});
    QTcpSocket face;
    face.connectToHost(QHostAddress::LocalHost, server->port());
    QVERIFY(face.waitForConnected(5000));
    const QByteArray notice = R"({"deviceKey":"K","path":"p","personId":"1","type":"0"})";
    face.write("POST /FacePostMessage HTTP/1.1\r\nHost: x\r\nContent-Length: "
        + QByteArray::number(notice.size()) + "\r\n\r\n" + notice);
    QVERIFY(face.waitForBytesWritten(5000));

    const QJsonObject datas {{"personid", 1}, {"doornum", 0}, {"direciton", 0}, {"result", 0}};
    QCOMPARE(client->send("/command/ycqr", {{"datas", datas}}), 4);
    QVERIFY(readHttpResponse(face).startsWith("HTTP/1.1 200"));
    QCOMPARE(client->send("/command/person/property", {{"order", 1}}), 1);
    QCOMPARE(client->send("/command/longopen/property", {{"datas", QJsonObject()}}), 1);

    QStringList commands = bus->commands();
    QCOMPARE(commands.takeLast(), QStringLiteral("open.1"));
    commands.sort();
    QCOMPARE(commands, QStringList({"face.1.0.K", "ycqr.1.0.0.0"}));
    QVERIFY(server->output().contains("AccessDaemon: \"ycqr.1.0.0.0\" failed: "));
}

// The server may start before the bus, and the bus may start again while the server runs; each
// call looks for a live connection.
void TestDoorCommands::busThatComesLaterOrStartsAgainIsReached()
{
    server->useBus(bus->address());
    start(Daemon::NoBus);
    const QJsonObject door {{"datas", QJsonObject {{"doornum", 0}}}};
    QCOMPARE(client->send("/command/longopen/property", door), 1);
    QVERIFY(bus->startBus());
    QVERIFY(bus->startDaemon());
    QCOMPARE(client->send("/command/longopen/property", door), 1);
    QCOMPARE(bus->commands(), QStringList {"open.1"});

    bus->stopDaemon();
    bus->stopBus();
    QCOMPARE(client->send("/command/longopen/property", door), 1);
    QVERIFY(bus->startBus());
    QVERIFY(bus->startDaemon());
    QCOMPARE(client->send("/command/longopen/property", door), 1);
    QCOMPARE(bus->commands(), QStringList({"open.1", "open.1"}));
}

// Face readers post plain JSON and hold no session; the reply is empty.
void TestDoorCommands::faceNoticesNeedNoLogin()
{
    start(Daemon::Answering);
    const ServerProcess::Reply reply = server->post(
        "/FacePostMessage", R"({"deviceKey":"K1","path":"/img/17.jpg","personId":"17","type":2})");
    QVERIFY2(reply.head.startsWith("HTTP/1.1 200"), reply.head.constData());
    QCOMPARE(reply.body, QByteArray());
    QCOMPARE(bus->commands(), QStringList {"face.17.2.K1"});
}

void TestDoorCommands::faceDeviceRegistration_data()
{
    QTest::addColumn<QJsonValue>("key");
    QTest::addColumn<int>("respond");
    QTest::addColumn<QString>("stored"); // under the key afterwards
    QTest::newRow("reader stored under its key") << QJsonValue("FACE01") << 1 << "3";
    QTest::newRow("key with separators") << QJsonValue("face.1|a,b") << 1 << "3";
    QTest::newRow("number as key") << QJsonValue(42) << 1 << "3";
    QTest::newRow("empty key refused") << QJsonValue("") << 3 << "";
    QTest::newRow("serial number not overwritten") << QJsonValue("DEVICESN") << 3 << "12345";
    QTest::newRow("record numbering not overwritten") << QJsonValue("RECORDID") << 3 << "";
}

void TestDoorCommands::faceDeviceRegistration()
{
    QFETCH(QJsonValue, key);
    QFETCH(int, respond);
    QFETCH(QString, stored);
    start(Daemon::Answering);
    const QJsonObject datas {{"facedevicekey", key}, {"readernum", 3}};
    QCOMPARE(client->send("/command/facedevice/property", {{"datas", datas}}), respond);
    const QString name = key.isDouble() ? QString::number(key.toInt()) : key.toString();
    if (!name.isEmpty())
        QCOMPARE(setting(name), stored);
    QCOMPARE(setting("DEVICESN"), QStringLiteral("12345"));
    QCOMPARE(bus->commands(), QStringList());
}

QTEST_GUILESS_MAIN(TestDoorCommands)
#include "test_doorcommands.moc"
