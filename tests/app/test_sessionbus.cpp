#include "serverprocess.h"

#include <QProcess>
#include <QtTest>

// The server meets the access daemon on the session bus named by DBUS_SESSION_BUS_ADDRESS; the
// service's environment file sets it. A missing bus is reported once and changes nothing else.
class TestSessionBus : public QObject
{
    Q_OBJECT

private slots:
    void startupWarnsOnceWithoutBus_data();
    void startupWarnsOnceWithoutBus();
};

void TestSessionBus::startupWarnsOnceWithoutBus_data()
{
    QTest::addColumn<bool>("withBus");
    QTest::addColumn<int>("warnings");
    QTest::newRow("address that leads to no bus warns once") << false << 1;
    QTest::newRow("private session bus reached without a warning") << true << 0;
}

void TestSessionBus::startupWarnsOnceWithoutBus()
{
    QFETCH(bool, withBus);
    QFETCH(int, warnings);
    ServerProcess server;
    server.writeConfig(QStringLiteral("[listener]\n"));
    server.writeFile(QStringLiteral("index.html"), "served");
    const QString address = "unix:path=" + server.filePath("bus");
    QProcess bus;
    if (withBus) {
        bus.start(QStringLiteral("dbus-daemon"),
            {"--session", "--nofork", "--print-address", "--address=" + address});
        QVERIFY2(bus.waitForReadyRead(10000), "dbus-daemon did not start");
        QVERIFY(bus.readAll().startsWith(address.toUtf8()));
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    server.qprocess().setProcessEnvironment(environment);

    QVERIFY(server.start());
    QTRY_VERIFY2(server.output().contains("Application has started"), server.output());
    // The server serves whether or not it has a bus.
    QVERIFY(server.exchange("GET / HTTP/1.0\r\n\r\n").endsWith("served"));
    const QRegularExpression warning(
        "No D-Bus session bus \\(.+\\): door and face actions answer as if the access daemon "
        "were absent\n");
    QCOMPARE(QString::fromUtf8(server.output()).count(warning), warnings);

    server.stop();
    QCOMPARE(server.qprocess().exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.qprocess().exitCode(), 0);
    bus.terminate();
    QVERIFY(bus.state() == QProcess::NotRunning || bus.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(TestSessionBus)
#include "test_sessionbus.moc"
