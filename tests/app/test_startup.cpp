#include "serverprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QtTest>

namespace {

const QByteArray listenerGroup = "[listener]\nhost=127.0.0.1\n";

QStringList entriesOf(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void wrongArgumentCount_data();
    void wrongArgumentCount();
    void missingConfigEndsTheProcess();
    void unusablePortEndsTheProcess_data();
    void unusablePortEndsTheProcess();
    void configSearchAndOrderlyStop_data();
    void configSearchAndOrderlyStop();
};

void TestStartup::wrongArgumentCount_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no argument") << QStringList();
    QTest::newRow("two arguments") << QStringList {"8080", "8081"};
}

// Nothing is logged and nothing is created: the directory holds what it held before.
void TestStartup::wrongArgumentCount()
{
    QFETCH(QStringList, arguments);
    ServerProcess server;
    server.writeConfig(listenerGroup);
    const QStringList before = entriesOf(server.dir());
    QCOMPARE(server.runToExit(arguments), 255);
    QCOMPARE(server.qprocess().exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.output(), QByteArray());
    QCOMPARE(entriesOf(server.dir()), before);
}

void TestStartup::missingConfigEndsTheProcess()
{
    ServerProcess server;
    QCOMPARE(server.runToExit({QString::number(ServerProcess::freePort())}), 1);
    QCOMPARE(server.qprocess().exitStatus(), QProcess::NormalExit);
    const QString dir = QFileInfo(server.dir()).canonicalFilePath();
    QString expected;
    for (const QString &searched : {dir, dir + "/etc", dir + "/../etc",
             dir + "/../DORXWebOnDevice/etc", dir + "/../../DORXWebOnDevice/etc"})
        expected += searched + "/DORXWebOnDevice.ini not found\n";
    expected += "Cannot find config file DORXWebOnDevice.ini\n";
    QCOMPARE(QString::fromUtf8(server.output()), expected);
    QCOMPARE(entriesOf(server.dir()), QStringList {"DORXWebOnDevice"});
}

void TestStartup::unusablePortEndsTheProcess_data()
{
    QTest::addColumn<QString>("port"); // "busy": a port another socket listens on
    QTest::addColumn<QString>("message");
    const QString range = "the port must be a number from 1 to 65535, not ";
    QTest::newRow("zero") << "0" << range + "\"0\"";
    QTest::newRow("beyond 16 bits") << "65536" << range + "\"65536\"";
    QTest::newRow("beyond 32 bits") << "4294967376" << range + "\"4294967376\"";
    QTest::newRow("negative") << "-1" << range + "\"-1\"";
    QTest::newRow("trailing letters") << "80x" << range + "\"80x\"";
    QTest::newRow("empty") << "" << range + "\"\"";
    QTest::newRow("in use") << "busy"
                            << "cannot listen on port %1: The bound address is already in use";
}

// A service manager must see a failed start: a line on standard error and status 1, never a
// process that runs without listening or listens on a port nobody asked for.
void TestStartup::unusablePortEndsTheProcess()
{
    QFETCH(QString, port);
    QFETCH(QString, message);
    QTcpServer occupant;
    if (port == "busy") {
        QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
        port = QString::number(occupant.serverPort());
        message = message.arg(port);
    }
    ServerProcess server;
    server.writeConfig(listenerGroup);
    QCOMPARE(server.runToExit({port}), 1);
    QCOMPARE(server.qprocess().exitStatus(), QProcess::NormalExit);
    QVERIFY2(
        server.output().contains("DORXWebOnDevice: " + message.toUtf8() + '\n'), server.output());
}

void TestStartup::configSearchAndOrderlyStop_data()
{
    QTest::addColumn<QStringList>("configs");
    QTest::addColumn<QString>("expected");
    // The executable runs from "a/b" of the fixture directory; paths are relative to that.
    QTest::newRow("beside the executable wins over etc") << QStringList {"a/b/DORXWebOnDevice.ini",
        "a/b/etc/DORXWebOnDevice.ini"} << "a/b/DORXWebOnDevice.ini";
    QTest::newRow("package folder two levels up") << QStringList {
        "DORXWebOnDevice/etc/DORXWebOnDevice.ini"} << "DORXWebOnDevice/etc/DORXWebOnDevice.ini";
    QTest::newRow("symbolic link reported under its resolved path")
        << QStringList {"link:a/b/DORXWebOnDevice.ini", "real/settings.ini"} << "real/settings.ini";
}

void TestStartup::configSearchAndOrderlyStop()
{
    QFETCH(QStringList, configs);
    QFETCH(QString, expected);
    ServerProcess server;
    const QString executable = server.filePath("a/b/DORXWebOnDevice");
    QVERIFY(QDir().mkpath(server.filePath("a/b")));
    QVERIFY(QFile::rename(server.filePath("DORXWebOnDevice"), executable));
    server.qprocess().setProgram(executable);
    const QString target = server.filePath(configs.last());
    for (const QString &config : configs) {
        if (config.startsWith("link:"))
            QVERIFY(QFile::link(target, server.filePath(config.mid(5))));
        else
            server.writeFile(config, listenerGroup);
    }
    QVERIFY(server.start());
    const QString canonical = QFileInfo(server.filePath(expected)).canonicalFilePath();
    QTRY_VERIFY2(server.output().contains("Using config file " + canonical.toUtf8() + '\n'),
        server.output());
    // SIGTERM ends the event loop in order: the stop is logged and the status is 0.
    server.stop();
    QCOMPARE(server.qprocess().exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.qprocess().exitCode(), 0);
    QVERIFY(server.output().contains("Application has stopped"));
}

QTEST_GUILESS_MAIN(TestStartup)
#include "test_startup.moc"
