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
    void refusedStart_data();
    void refusedStart();
    void configSearchAndOrderlyStop_data();
    void configSearchAndOrderlyStop();
};

void TestStartup::refusedStart_data()
{
    QTest::addColumn<bool>("configured");
    QTest::addColumn<QStringList>("arguments"); // "busy": a port another socket listens on
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output"); // all of it, or with "%1" the line naming the port
    const QString range
        = "DORXWebOnDevice: the port must be a number from 1 to 65535, not \"%1\"\n";
    QTest::newRow("no argument") << true << QStringList() << 255 << QString();
    QTest::newRow("two arguments") << true << QStringList {"8080", "8081"} << 255 << QString();
    QTest::newRow("no configuration") << false << QStringList {"8080"} << 1 << "not found\n";
    QTest::newRow("zero") << true << QStringList {"0"} << 1 << range;
    QTest::newRow("beyond 32 bits, 80 modulo 2^32")
        << true << QStringList {"4294967376"} << 1 << range;
    QTest::newRow("trailing letters") << true << QStringList {"80x"} << 1 << range;
    QTest::newRow("in use") << true << QStringList {"busy"} << 1
                            << "DORXWebOnDevice: cannot listen on port %1: The bound address is "
                               "already in use\n";
}

// A service manager must see a failed start: status 1 and a line on standard error (255 and
// nothing for a wrong argument count), never a process that runs without listening or listens on
// a port nobody asked for. Nothing is created.
void TestStartup::refusedStart()
{
    QFETCH(bool, configured);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, output);
    QTcpServer occupant;
    if (arguments == QStringList {"busy"}) {
        QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
        arguments = QStringList {QString::number(occupant.serverPort())};
    }
    ServerProcess server;
    if (configured)
        server.writeConfig(listenerGroup);
    const QStringList before = entriesOf(server.dir());
    QCOMPARE(server.runToExit(arguments), status);
    QCOMPARE(server.qprocess().exitStatus(), QProcess::NormalExit);
    if (configured && status == 1) {
        const QString line = output.arg(arguments.value(0));
        QVERIFY2(server.output().contains(line.toUtf8()), server.output());
    } else if (configured) {
        QCOMPARE(server.output(), QByteArray());
    } else {
        // Each folder searched is named, in order, then the file.
        const QString dir = QFileInfo(server.dir()).canonicalFilePath();
        QString expected;
        for (const QString &searched : {dir, dir + "/etc", dir + "/../etc",
                 dir + "/../DORXWebOnDevice/etc", dir + "/../../DORXWebOnDevice/etc"})
            expected += searched + "/DORXWebOnDevice.ini " + output;
        QCOMPARE(QString::fromUtf8(server.output()),
            expected + "Cannot find config file DORXWebOnDevice.ini\n");
    }
    QCOMPARE(entriesOf(server.dir()), before);
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
    // The fixture names a session bus where nothing listens: the server warns once and listens
    // all the same.
    QTRY_VERIFY(server.output().contains("Application has started"));
    const QRegularExpression warning("No D-Bus session bus \\(.+\\): door and face actions answer "
                                     "as if the access daemon were absent\n");
    QCOMPARE(QString::fromUtf8(server.output()).count(warning), 1);
    // SIGTERM ends the event loop in order: the stop is logged and the status is 0.
    server.stop();
    QCOMPARE(server.qprocess().exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.qprocess().exitCode(), 0);
    QVERIFY(server.output().contains("Application has stopped"));
}

QTEST_GUILESS_MAIN(TestStartup)
#include "test_startup.moc"
