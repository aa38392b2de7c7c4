#include "dorxctlrun.h"
#include "serverprocess.h"

#include <QDir>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

// tools/demo.sh as a new user runs it, in a scratch root of the test's own, on free loopback
// ports, with the programs this build made (its build step has nothing left to do).
class TestDemo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qputenv("DORX_DEMO_DIR", root.path().toLocal8Bit());
        qputenv("DORX_BUILD_DIR", DORX_BUILD_DIR);
        qunsetenv("DORX_DEMO_HOST");
    }
    void cleanup(); // a failed test leaves no demo behind either
    void servesAFreshDeviceEveryRun();

private:
    // Processes that name the scratch root: what the demo should have stopped.
    QStringList leftOver() const;

    QTemporaryDir root;
};

void TestDemo::cleanup()
{
    for (const QString &process : leftOver())
        ::kill(pid_t(process.toInt()), SIGKILL);
}

QStringList TestDemo::leftOver() const
{
    QStringList processes;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList({"[0-9]*"}, QDir::Dirs)) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        const QByteArray command = cmdline.open(QIODevice::ReadOnly) ? cmdline.readAll() : "";
        if (command.contains(root.path().toLocal8Bit()))
            processes << pid;
    }
    return processes;
}

// A run starts from a clean state, --keep keeps the device as the last run left it, and the
// walk-through's first step works once the demo says it serves; a port another program holds ends
// the demo with the server's message and status, without that line. A kill of the script (Ctrl-C
// takes the same way) leaves nothing running.
void TestDemo::servesAFreshDeviceEveryRun()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost));
    const quint16 port = ServerProcess::freePort();
    // What writesn answers in each run; none where the port is taken.
    for (const QByteArray writesn : {"OK-12345\n", "ERROR-12345\n", "OK-12345\n", ""}) {
        const QByteArray at = QByteArray::number(writesn.isEmpty() ? holder.serverPort() : port);
        QProcess demo;
        demo.start(DORX_DEMO_SCRIPT,
            writesn.startsWith('E') ? QStringList {"--keep", at} : QStringList {at});
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += demo.readAllStandardOutput()).contains("Serving on port")
                || demo.state() == QProcess::NotRunning,
            240000);
        if (writesn.isEmpty()) {
            QVERIFY2(!out.contains("Serving on port"), out.constData());
            QCOMPARE(demo.exitCode(), 1);
            QVERIFY(demo.readAllStandardError().contains(
                "DORXWebOnDevice: cannot listen on port " + at));
        } else {
            QVERIFY2(
                out.contains("\nServing on port " + at + ": "), out + demo.readAllStandardError());
            const QStringList writeSerial
                = {"--url", "http://127.0.0.1:" + at, "form", "/command/writesn", "SN-0012345"};
            QCOMPARE(DorxctlRun::run(writeSerial, root.filePath("state")).out, writesn);
            demo.terminate();
            QVERIFY(demo.waitForFinished(60000));
            QCOMPARE(demo.exitCode(), 143);
        }
        QCOMPARE(leftOver(), QStringList());
    }
}

QTEST_GUILESS_MAIN(TestDemo)
#include "test_demo.moc"
