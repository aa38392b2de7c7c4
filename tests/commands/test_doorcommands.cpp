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
    void faceNoticeReachesTheDaemon();

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
    QTest::addColumn<QByteArray>("setting"); // a line added to "sqlconfig.ini" before
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("respond");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QStringList>("commands"); // as the daemon received them
    QTest::addColumn<QString>("after"); // "KEY=value" of "sqlconfig.ini" afterwards
    const auto row
        = [](const char *name, const QByteArray &path, const QByteArray &body, int respond,
              const QString &id, const QStringList &commands, const char *answer = "",
              const char *setting = "", const char *after = "") {
              QTest::newRow(name) << answer << QByteArray(setting) << "/command/" + path << body
                                  << respond << id << commands << after;
          };
    const auto sent = [&](const char *name, const QByteArray &path, const QJsonObject &datas,
                          int respond, const QStringList &commands, const char *answer = "",
                          const char *setting = "", const char *after = "") {
        row(name, path, message("t1", serialNumber, {{"datas", datas}}), respond, "t1", commands,
            answer, setting, after);
    };
    const auto door = [](int doornum) { return QJsonObject {{"doornum", doornum}}; };
    const QByteArray open = "longopen/property";
    sent("door 3 is the daemon's door 4", open, door(3), 1, {"open.4"});
    sent("door 4 refused", open, door(4), 3, {});
    sent("LONGOPEN 2 switches long-open off", open, door(1), 10, {}, "", "LONGOPEN=2");
    sent("daemon absent: the door order still counts as given", open, door(0), 1, {}, "-");

    const QJsonObject asked {{"personid", 7}, {"doornum", 3}, {"direciton", 1}, {"result", 2}};
    const QStringList ycqr {"ycqr.7.3.1.2"};
    const auto with = [&asked](const char *key, int value, const char *removed = "") {
        QJsonObject changed = asked;
        changed.insert(key, value);
        changed.remove(removed);
        return changed;
    };
    sent("confirmation: the daemon's answer", "ycqr", asked, 9, ycqr, "9");
    sent("confirmation: low 8 bits of the answer", "ycqr", asked, 7, ycqr, "263");
    sent("confirmation: answer that is no number", "ycqr", asked, 0, ycqr, "yes");
    sent("confirmation: direction spelled right", "ycqr", with("direction", 1, "direciton"), 0,
        ycqr);
    sent("confirmation: direction 2 refused", "ycqr", with("direciton", 2), 3, {});
    sent("confirmation: door 4 refused", "ycqr", with("doornum", 4), 3, {});
    sent("confirmation: daemon absent", "ycqr", asked, 4, {}, "-");

    const auto reader = [](const char *key) {
        return QJsonObject {{"facedevicekey", key}, {"readernum", 3}};
    };
    const QByteArray face = "facedevice/property";
    sent("face reader stored under its key", face, reader("FACE01"), 1, {}, "", "", "FACE01=3");
    sent("face reader without a key refused", face, reader(""), 3, {});
    sent(
        "serial number not overwritten", face, reader("DEVICESN"), 3, {}, "", "", "DEVICESN=12345");
    sent("record numbering not overwritten", face, reader("RECORDID"), 3, {}, "", "", "RECORDID=");

    // Answered with the code and no more: the session, the settings and the doors stay.
    const QByteArray foreign = message("x", QStringLiteral("54321"),
        {{"order", 1}, {"datas", QJsonObject {{"username", "dorx"}, {"password", "6172839405"}}}});
    row("login that is no JSON object", "tplogin", sealedText("[1,2,3]"), 6, "", {});
    row("unreadable device message: as for another device", "getinfo/person", "no envelope", 2, "",
        {});
    for (const char *path :
        {"tplogin", "tplogout", "person/property", "system/property", "longopen/property"})
        row(qPrintable(QStringLiteral("%1 for another device").arg(path)), path, foreign, 2, "x",
            {});
}

void TestDoorCommands::daemonCommands()
{
    QFETCH(QString, answer);
    QFETCH(QByteArray, setting);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, body);
    QFETCH(int, respond);
    QFETCH(QString, id);
    QFETCH(QStringList, commands);
    QFETCH(QString, after);
    server.writeFile("sqlconfig.ini", "[General]\nDEVICESN=12345\n" + setting + "\n");
    if (answer != "-")
        QVERIFY2(
            bus.startDaemon(answer.isEmpty() ? QStringList()
                                             : QStringList {"--answer", "ycqr.7.3.1.2=" + answer}),
            bus.daemonErrors().constData());
    QCOMPARE(client.exchange(path, body),
        QJsonObject({{"respond", respond}, {"id", id}, {"devicesn", serialNumber}}));
    QCOMPARE(bus.commands(), commands);
    QVERIFY(client.loggedIn());
    QCOMPARE(server.shellLog(), QStringList());
    const QSettings settings(
        server.filePath(QStringLiteral("sqlconfig.ini")), QSettings::IniFormat);
    if (!after.isEmpty())
        QCOMPARE(settings.value(after.section('=', 0, 0)).toString(), after.section('=', 1));
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

// Face readers post plain JSON and hold no session; the reply is empty.
void TestDoorCommands::faceNoticeReachesTheDaemon()
{
    QVERIFY(bus.startDaemon());
    const ServerProcess::Reply reply = server.post(
        "/FacePostMessage", R"({"deviceKey":"K1","path":"/img/17.jpg","personId":"17","type":2})");
    QVERIFY2(reply.head.startsWith("HTTP/1.1 200"), reply.head.constData());
    QCOMPARE(reply.body, QByteArray());
    QCOMPARE(bus.commands(), QStringList {"face.17.2.K1"});
}

QTEST_GUILESS_MAIN(TestDoorCommands)
#include "test_doorcommands.moc"
