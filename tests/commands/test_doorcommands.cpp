#include "commandclient.h"
#include "commands/accessdaemon.h"
#include "daemonbus.h"
#include "serverprocess.h"

#include <QSettings>
#include <QTcpSocket>
#include <QtTest>

// Door and face-reader actions against one real server on a private bus of the test's own, where
// each test starts the fake access daemon (which notes what reaches it) as it needs it. Daemon
// calls may take 500 ms.
class TestDoorCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void callTimeoutIsBounded();
    void daemonCommands_data();
    void daemonCommands();
    void hungDaemonHoldsNobodyForLong();
    void busThatComesLaterOrStartsAgainIsReached();
    void faceReaders_data();
    void faceReaders();
    void messagesNotForThisDevice_data();
    void messagesNotForThisDevice();

private:
    DaemonBus bus;
    ServerProcess server;
    Client client {server};
};

void TestDoorCommands::initTestCase()
{
    server.useBus(bus.address()); // the bus comes after the server
    server.writeConfig(QStringLiteral("[listener]\nreadTimeout=2000\n[daemon]\ncallTimeout=500\n"));
    server.writeFile(QStringLiteral("sqlconfig.ini"), "[General]\nDEVICESN=12345\n");
    QVERIFY2(server.start(), server.output().constData());
    QVERIFY(bus.startBus());
    QCOMPARE(client.login("dorx", "6172839405"), 1);
}

void TestDoorCommands::init()
{
    bus.stopDaemon();
    server.writeFile(QStringLiteral("sqlconfig.ini"), "[General]\nDEVICESN=12345\n");
}

// A value that is not positive would be the bus's own 25 s.
void TestDoorCommands::callTimeoutIsBounded()
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("DORXWebOnDevice.ini"), QSettings::IniFormat);
    settings.setValue("callTimeout", "0");
    QTest::ignoreMessage(
        QtWarningMsg, "AccessDaemon: callTimeout must be a positive number of ms, using 3000");
    QCOMPARE(DaemonConfig::read(settings).callTimeoutMs, 3000);
}

void TestDoorCommands::daemonCommands_data()
{
    QTest::addColumn<QString>("answer"); // of the daemon to "ycqr.7.3.1.2"; "-": no daemon
    QTest::addColumn<QByteArray>("longopen"); // the store setting "LONGOPEN", if any
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QJsonObject>("datas");
    QTest::addColumn<int>("respond");
    QTest::addColumn<QStringList>("commands"); // as the daemon received them
    const auto row = [](const char *name, const QByteArray &path, const QJsonObject &datas,
                         int respond, const QStringList &commands, const char *answer = "",
                         const QByteArray &longopen = {}) {
        QTest::newRow(name) << answer << longopen << "/command/" + path << datas << respond
                            << commands;
    };
    const auto door = [](int doornum) { return QJsonObject {{"doornum", doornum}}; };
    const QByteArray open = "longopen/property";
    row("door 3 is the daemon's door 4", open, door(3), 1, {"open.4"});
    row("door 4 refused", open, door(4), 3, {});
    row("LONGOPEN 2 switches long-open off", open, door(1), 10, {}, "", "2");
    row("daemon absent: the door order still counts as given", open, door(0), 1, {}, "-");

    const QJsonObject asked {{"personid", 7}, {"doornum", 3}, {"direciton", 1}, {"result", 2}};
    const QStringList sent {"ycqr.7.3.1.2"};
    const auto with = [&asked](const char *key, int value, const char *removed = "") {
        QJsonObject changed = asked;
        changed.insert(key, value);
        changed.remove(removed);
        return changed;
    };
    row("confirmation: the daemon's answer", "ycqr", asked, 9, sent, "9");
    row("confirmation: low 8 bits of the answer", "ycqr", asked, 7, sent, "263");
    row("confirmation: answer that is no number", "ycqr", asked, 0, sent, "yes");
    row("confirmation: direction spelled right", "ycqr", with("direction", 1, "direciton"), 0,
        sent);
    row("confirmation: direction 2 refused", "ycqr", with("direciton", 2), 3, {});
    row("confirmation: door 4 refused", "ycqr", with("doornum", 4), 3, {});
    row("confirmation: daemon absent", "ycqr", asked, 4, {}, "-");
}

void TestDoorCommands::daemonCommands()
{
    QFETCH(QString, answer);
    QFETCH(QByteArray, longopen);
    QFETCH(QByteArray, path);
    QFETCH(QJsonObject, datas);
    QFETCH(int, respond);
    QFETCH(QStringList, commands);
    if (!longopen.isNull())
        server.writeFile("sqlconfig.ini", "[General]\nDEVICESN=12345\nLONGOPEN=" + longopen + "\n");
    if (answer != "-")
        QVERIFY2(
            bus.startDaemon(answer.isEmpty() ? QStringList()
                                             : QStringList {"--answer", "ycqr.7.3.1.2=" + answer}),
            bus.daemonErrors().constData());
    QCOMPARE(client.send(path, {{"datas", datas}}), respond);
    QCOMPARE(bus.commands(), commands);
}

// A daemon that takes each command and never answers costs each call one timeout, long before
// the bus's own 25 s (which the client would not wait for): a remote confirmation is answered 4,
// and the requests waiting behind a hung call, or coming after it, are served.
void TestDoorCommands::hungDaemonHoldsNobodyForLong()
{
    QVERIFY(bus.startDaemon({"--hang"}));
    QTcpSocket face;
    face.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(face.waitForConnected(5000));
    const QByteArray notice = R"({"deviceKey":"K","path":"p","personId":"1","type":"0"})";
    face.write("POST /FacePostMessage HTTP/1.1\r\nHost: x\r\nContent-Length: "
        + QByteArray::number(notice.size()) + "\r\n\r\n" + notice);
    QVERIFY(face.waitForBytesWritten(5000));

    const QJsonObject datas {{"personid", 1}, {"doornum", 0}, {"direciton", 0}, {"result", 0}};
    QCOMPARE(client.send("/command/ycqr", {{"datas", datas}}), 4);
    QVERIFY(readHttpResponse(face).startsWith("HTTP/1.1 200"));
    QCOMPARE(client.send("/command/person/property", {{"order", 1}}), 1);
    QCOMPARE(client.send("/command/longopen/property", {{"datas", QJsonObject()}}), 1);

    QStringList commands = bus.commands();
    QCOMPARE(commands.takeLast(), QStringLiteral("open.1"));
    commands.sort();
    QCOMPARE(commands, QStringList({"face.1.0.K", "ycqr.1.0.0.0"}));
    QVERIFY(server.output().contains("AccessDaemon: \"ycqr.1.0.0.0\" failed: "));
}

// The bus may start again while the server runs (it came after it in the first place): each call
// looks for a live connection.
void TestDoorCommands::busThatComesLaterOrStartsAgainIsReached()
{
    const QJsonObject door {{"datas", QJsonObject {{"doornum", 0}}}};
    for (int i = 0; i < 2; ++i) {
        bus.stopBus();
        QCOMPARE(client.send("/command/longopen/property", door), 1);
        QVERIFY(bus.startBus());
        QVERIFY(bus.startDaemon());
        QCOMPARE(client.send("/command/longopen/property", door), 1);
        QCOMPARE(bus.commands(), QStringList {"open.1"});
        bus.stopDaemon();
    }
}

void TestDoorCommands::faceReaders_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("respond");
    QTest::addColumn<QString>("stored"); // under the key afterwards
    QTest::newRow("reader stored under its key") << "FACE01" << 1 << "3";
    QTest::newRow("empty key refused") << "" << 3 << "";
    QTest::newRow("serial number not overwritten") << "DEVICESN" << 3 << "12345";
    QTest::newRow("record numbering not overwritten") << "RECORDID" << 3 << "";
}

void TestDoorCommands::faceReaders()
{
    QFETCH(QString, key);
    QFETCH(int, respond);
    QFETCH(QString, stored);
    QVERIFY(bus.startDaemon());
    // Face readers post plain JSON and hold no session; the reply is empty.
    const ServerProcess::Reply reply = server.post(
        "/FacePostMessage", R"({"deviceKey":"K1","path":"/img/17.jpg","personId":"17","type":2})");
    QVERIFY2(reply.head.startsWith("HTTP/1.1 200"), reply.head.constData());
    QCOMPARE(reply.body, QByteArray());
    const QJsonObject datas {{"facedevicekey", key}, {"readernum", 3}};
    QCOMPARE(client.send("/command/facedevice/property", {{"datas", datas}}), respond);
    QSettings settings(server.filePath(QStringLiteral("sqlconfig.ini")), QSettings::IniFormat);
    if (!key.isEmpty())
        QCOMPARE(settings.value(key).toString(), stored);
    QCOMPARE(settings.value("DEVICESN").toString(), QStringLiteral("12345"));
    QCOMPARE(bus.commands(), QStringList {"face.17.2.K1"});
}

void TestDoorCommands::messagesNotForThisDevice_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("respond");
    QTest::addColumn<QString>("id");
    const QByteArray foreign = message("x", QStringLiteral("54321"),
        {{"order", 1}, {"datas", QJsonObject {{"username", "dorx"}, {"password", "6172839405"}}}});
    QTest::newRow("login that is no JSON object")
        << QByteArray("tplogin") << sealedText("[1,2,3]") << 6 << "";
    QTest::newRow("unreadable device message: as for another device")
        << QByteArray("getinfo/person") << QByteArray("no envelope") << 2 << "";
    for (const char *path :
        {"tplogin", "tplogout", "person/property", "system/property", "longopen/property"})
        QTest::addRow("%s for another device", path) << QByteArray(path) << foreign << 2 << "x";
}

// Answered with the code and no more, and the session, the settings, the store and the doors stay
// as they were.
void TestDoorCommands::messagesNotForThisDevice()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, body);
    QFETCH(int, respond);
    QFETCH(QString, id);
    QVERIFY(bus.startDaemon());
    const QJsonObject reply = client.exchange("/command/" + path, body);
    QCOMPARE(reply, QJsonObject({{"respond", respond}, {"id", id}, {"devicesn", serialNumber}}));
    QVERIFY(client.loggedIn());
    QCOMPARE(bus.commands(), QStringList());
    QCOMPARE(server.shellLog(), QStringList());
}

QTEST_GUILESS_MAIN(TestDoorCommands)
#include "test_doorcommands.moc"
