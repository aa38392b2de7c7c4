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

    void daemonCommands_data();
    void daemonCommands();
    void hungDaemonHoldsNobodyForLong();
    void busThatComesLaterOrStartsAgainIsReached();
    void faceReaders_data();
    void faceReaders();

private:
    // Starts what the row asks for, then the server, and logs a client in.
    void start(Daemon daemon, const QStringList &daemonArguments = {});

    std::unique_ptr<DaemonBus> bus;
    std::unique_ptr<ServerProcess> server;
    std::unique_ptr<Client> client;
};

void TestDoorCommands::callTimeoutIsBounded_data()
{
    QTest::addColumn<QVariant>("value"); // of "callTimeout"; a warning when it is not taken
    QTest::addColumn<int>("timeoutMs");
    QTest::newRow("default") << QVariant() << 3000;
    QTest::newRow("set") << QVariant("500") << 500;
    QTest::newRow("zero would be the bus's 25 s") << QVariant("0") << 3000;
    QTest::newRow("not a number") << QVariant("3s") << 3000;
}

void TestDoorCommands::callTimeoutIsBounded()
{
    QFETCH(QVariant, value);
    QFETCH(int, timeoutMs);
    QTemporaryDir dir;
    QSettings settings(dir.filePath("DORXWebOnDevice.ini"), QSettings::IniFormat);
    if (value.isValid())
        settings.setValue("callTimeout", value);
    if (value.isValid() && value.toInt() != timeoutMs)
        QTest::ignoreMessage(
            QtWarningMsg, "AccessDaemon: callTimeout must be a positive number of ms, using 3000");
    QCOMPARE(DaemonConfig::read(settings).callTimeoutMs, timeoutMs);
}

void TestDoorCommands::init()
{
    client.reset();
    server = std::make_unique<ServerProcess>();
    bus = std::make_unique<DaemonBus>();
    server->writeConfig(
        QStringLiteral("[listener]\nreadTimeout=2000\n[daemon]\ncallTimeout=500\n"));
    server->writeFile(QStringLiteral("sqlconfig.ini"), "[General]\nDEVICESN=12345\n");
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

void TestDoorCommands::daemonCommands_data()
{
    QTest::addColumn<Daemon>("daemon");
    QTest::addColumn<QStringList>("daemonArguments");
    QTest::addColumn<QByteArray>("longopen"); // the store setting "LONGOPEN", if any
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QJsonObject>("datas");
    QTest::addColumn<int>("respond");
    QTest::addColumn<QStringList>("commands"); // as the daemon received them
    const auto row
        = [](const char *name, const QByteArray &path, const QJsonObject &datas, int respond,
              const QStringList &commands, Daemon daemon = Daemon::Answering,
              const QStringList &arguments = {}, const QByteArray &longopen = {}) {
              QTest::newRow(name) << daemon << arguments << longopen << "/command/" + path << datas
                                  << respond << commands;
          };
    const auto door = [](int doornum) { return QJsonObject {{"doornum", doornum}}; };
    const QByteArray open = "longopen/property";
    row("door 0 is the daemon's door 1", open, door(0), 1, {"open.1"});
    row("door 3 is the daemon's door 4", open, door(3), 1, {"open.4"});
    row("door 4 refused", open, door(4), 3, {});
    row("no door given opens the first", open, {}, 1, {"open.1"});
    row("LONGOPEN 2 switches long-open off", open, door(1), 10, {}, Daemon::Answering, {}, "2");
    row("LONGOPEN 1 leaves it on", open, door(1), 1, {"open.2"}, Daemon::Answering, {}, "1");
    row("daemon absent: the door order still counts as given", open, door(0), 1, {},
        Daemon::Absent);

    const QJsonObject asked {{"personid", 7}, {"doornum", 3}, {"direciton", 1}, {"result", 2}};
    const QStringList sent {"ycqr.7.3.1.2"};
    const auto answer = [](const char *value) {
        return QStringList {"--answer", QStringLiteral("ycqr.7.3.1.2=") + value};
    };
    const auto with = [&asked](const char *key, int value, const char *removed = "") {
        QJsonObject changed = asked;
        changed.insert(key, value);
        changed.remove(removed);
        return changed;
    };
    row("confirmation: the daemon's answer", "ycqr", asked, 9, sent, Daemon::Answering,
        answer("9"));
    row("confirmation: low 8 bits of the answer", "ycqr", asked, 7, sent, Daemon::Answering,
        answer("263"));
    row("confirmation: answer that is no number", "ycqr", asked, 0, sent, Daemon::Answering,
        answer("yes"));
    row("confirmation: direction spelled right", "ycqr", with("direction", 1, "direciton"), 0,
        sent);
    row("confirmation: direction 2 refused", "ycqr", with("direciton", 2), 3, {});
    row("confirmation: door 4 refused", "ycqr", with("doornum", 4), 3, {});
    row("confirmation: daemon absent", "ycqr", asked, 4, {}, Daemon::Absent);
    row("confirmation: no bus", "ycqr", asked, 4, {}, Daemon::NoBus);
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

void TestDoorCommands::faceReaders_data()
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

void TestDoorCommands::faceReaders()
{
    QFETCH(QJsonValue, key);
    QFETCH(int, respond);
    QFETCH(QString, stored);
    start(Daemon::Answering);
    // Face readers post plain JSON and hold no session; the reply is empty.
    const ServerProcess::Reply reply = server->post(
        "/FacePostMessage", R"({"deviceKey":"K1","path":"/img/17.jpg","personId":"17","type":2})");
    QVERIFY2(reply.head.startsWith("HTTP/1.1 200"), reply.head.constData());
    QCOMPARE(reply.body, QByteArray());
    const QJsonObject datas {{"facedevicekey", key}, {"readernum", 3}};
    QCOMPARE(client->send("/command/facedevice/property", {{"datas", datas}}), respond);
    const QString name = key.isDouble() ? QString::number(key.toInt()) : key.toString();
    QSettings settings(server->filePath(QStringLiteral("sqlconfig.ini")), QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    if (!name.isEmpty())
        QCOMPARE(settings.value(name).toString(), stored);
    QCOMPARE(settings.value("DEVICESN").toString(), QStringLiteral("12345"));
    QCOMPARE(bus->commands(), QStringList {"face.17.2.K1"});
}

QTEST_GUILESS_MAIN(TestDoorCommands)
#include "test_doorcommands.moc"
