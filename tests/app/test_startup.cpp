#include "serverprocess.h"

#include <QTcpServer>
#include <QtTest>

const QByteArray listenerGroup = "[listener]\nhost=127.0.0.1\n";

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void refusedStart_data();
    void refusedStart();
    void linkedConfigAndOrderlyStop();
};

void TestStartup::refusedStart_data()
{
    QTest::addColumn<QStringList>("arguments"); // "busy": a port another socket listens on
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output"); // "%1": the port (a line of it), "%2": the fixture folder
    const QString range
        = "DORXWebOnDevice: the port must be a number from 1 to 65535, not \"%1\"\n";
    QString unconfigured;
    for (const char *searched :
        {"", "/etc", "/../etc", "/../DORXWebOnDevice/etc", "/../../DORXWebOnDevice/etc"})
        unconfigured += QStringLiteral("%2") + searched + "/DORXWebOnDevice.ini not found\n";
    QTest::newRow("no argument") << QStringList() << 255 << QString();
    QTest::newRow("no configuration") << QStringList {
        "8080"} << 1 << unconfigured + "Cannot find config file DORXWebOnDevice.ini\n";
    QTest::newRow("80 modulo 2^32") << QStringList {"4294967376"} << 1 << range;
    QTest::newRow("trailing letters") << QStringList {"80x"} << 1 << range;
    QTest::newRow("in use") << QStringList {"busy"} << 1
                            << "DORXWebOnDevice: cannot listen on port %1: The bound address is "
                               "already in use\n";
}

// A service manager must see a failed start: status 1 and a line on standard error (255 and
// nothing for a wrong argument count), never a process that runs without listening or listens on
// a port nobody asked for. Nothing is created.
void TestStartup::refusedStart()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, output);
    QTcpServer occupant;
    if (arguments == QStringList {"busy"}) {
        QVERIFY(occupant.listen(QHostAddress::LocalHost));
        arguments = QStringList {QString::number(occupant.serverPort())};
    }
    ServerProcess server;
    if (!output.startsWith("%2"))
        server.writeConfig(listenerGroup);
    const auto entries = [&] {
        return QDir(server.dir())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    };
    const QStringList before = entries();
    QCOMPARE(server.runToExit(arguments), status);
    QCOMPARE(server.qprocess().exitStatus(), QProcess::NormalExit);
    if (output.contains("%1"))
        QVERIFY2(server.output().contains(output.arg(arguments[0]).toUtf8()), server.output());
    else
        QCOMPARE(QString::fromUtf8(server.output()),
            output.replace("%2", QFileInfo(server.dir()).canonicalFilePath()));
    QCOMPARE(entries(), before);
}

// The search order shows in refusedStart(no configuration); a symbolic link beside the executable
// names the configuration file here.
void TestStartup::linkedConfigAndOrderlyStop()
{
    ServerProcess server;
    server.writeFile("real/settings.ini", listenerGroup);
    QVERIFY(
        QFile::link(server.filePath("real/settings.ini"), server.filePath("DORXWebOnDevice.ini")));
    QVERIFY(server.start());
    const QString canonical = QFileInfo(server.filePath("real/settings.ini")).canonicalFilePath();
    QTRY_VERIFY2(server.output().contains("Using config file " + canonical.toUtf8() + '\n'),
        server.output());
    // The fixture names a session bus where nothing listens: the server warns once and listens.
    QTRY_VERIFY(server.output().contains("Application has started"));
    QCOMPARE(QString::fromUtf8(server.output())
                 .count(QRegularExpression(
                     "No D-Bus session bus \\(.+\\): door and face actions answer as if the access "
                     "daemon were absent\n")),
        1);
    // SIGTERM ends the event loop in order: the stop is logged and the status is 0.
    server.stop();
    QCOMPARE(server.qprocess().exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.qprocess().exitCode(), 0);
    QVERIFY(server.output().contains("Application has stopped"));
}

QTEST_GUILESS_MAIN(TestStartup)
#include "test_startup.moc"
