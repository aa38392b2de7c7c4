#include "dorxctlrun.h"
#include "serverprocess.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

// tools/demo.sh as a new user runs it, the README's walk-through against it, and what it leaves:
// in a scratch root of the test's own, on free loopback ports, with the programs this build made
// (its build step has nothing left to do).
class TestDemo : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void servesAFreshDeviceEveryRun();

private:
    // Starts the demo; when serving is true, waits for "Serving on port" and fails when it ends
    // first.
    void start(QProcess &demo, quint16 port, const QStringList &options = {}, bool serving = true);
    // Ends the demo as a kill of the script does (Ctrl-C takes the same way).
    void stop(QProcess &demo);
    // writesn and the default login of the walk-through; expected: writesn's reply and status.
    void walkThrough(quint16 port, const QByteArray &writesnReply, int writesnStatus);
    // Processes that name the scratch root: what the demo should have stopped.
    QStringList leftOver() const;

    QTemporaryDir root;
};

// A failed test leaves no demo behind either.
void TestDemo::cleanup()
{
    for (const QString &process : leftOver())
        ::kill(pid_t(process.section(QLatin1Char(' '), 0, 0).toInt()), SIGKILL);
}

void TestDemo::start(QProcess &demo, quint16 port, const QStringList &options, bool serving)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DORX_DEMO_DIR"), root.path());
    environment.insert(QStringLiteral("DORX_BUILD_DIR"), QStringLiteral(DORX_BUILD_DIR));
    environment.remove(QStringLiteral("DORX_DEMO_HOST"));
    demo.setProcessEnvironment(environment);
    demo.start(QStringLiteral(DORX_DEMO_SCRIPT), options + QStringList {QString::number(port)});
    if (!serving)
        return;
    QByteArray out;
    const QByteArray line = "\nServing on port " + QByteArray::number(port) + ": ";
    QTRY_VERIFY_WITH_TIMEOUT((out += demo.readAllStandardOutput()).contains(line)
            || demo.state() == QProcess::NotRunning,
        240000);
    QVERIFY2(out.contains(line), out + demo.readAllStandardError());
}

void TestDemo::stop(QProcess &demo)
{
    demo.terminate();
    QVERIFY(demo.waitForFinished(60000));
    QCOMPARE(demo.exitCode(), 143);
}

void TestDemo::walkThrough(quint16 port, const QByteArray &writesnReply, int writesnStatus)
{
    const QString state = root.filePath(QStringLiteral("dorxctl-%1").arg(port));
    const QString url = QStringLiteral("http://127.0.0.1:%1").arg(port);
    const DorxctlRun writesn
        = DorxctlRun::run({"--url", url, "form", "/command/writesn", "SN-0012345"}, state);
    QVERIFY(writesn.exitCode == writesnStatus && writesn.out == writesnReply + '\n');
    const DorxctlRun login = DorxctlRun::run(
        {"--url", url, "--devicesn", "12345", "login", "dorx", "6172839405"}, state);
    QVERIFY2(login.exitCode == 0, login.err.constData());
}

QStringList TestDemo::leftOver() const
{
    QStringList processes;
    const QString ownPid = QString::number(QCoreApplication::applicationPid());
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (pid.toUInt() == 0 || pid == ownPid || !cmdline.open(QIODevice::ReadOnly))
            continue;
        const QString command = QString::fromLocal8Bit(cmdline.readAll()).replace('\0', ' ');
        const QString cwd = QFile::symLinkTarget(QStringLiteral("/proc/%1/cwd").arg(pid));
        if (command.contains(root.path()) || cwd.startsWith(root.path()))
            processes << pid + ' ' + command;
    }
    return processes;
}

// A second run starts from a clean state, so the walk-through works again; two demos on two ports
// run side by side; --keep keeps the device as the last run left it; a port another program holds
// ends the demo with the server's message and status. Each stop leaves nothing running.
void TestDemo::servesAFreshDeviceEveryRun()
{
    QVERIFY(root.isValid());
    const quint16 port = ServerProcess::freePort();
    for (const QString run : {"first", "second, with another beside", "--keep"}) {
        const bool kept = run.startsWith('-');
        QProcess demo;
        start(demo, port, kept ? QStringList {run} : QStringList());
        walkThrough(port, kept ? "ERROR-12345" : "OK-12345", kept ? 3 : 0);
        if (run.startsWith("second")) {
            const quint16 otherPort = ServerProcess::freePort(); // not port: the demo holds it
            QProcess beside;
            start(beside, otherPort);
            walkThrough(otherPort, "OK-12345", 0);
            stop(beside);
        }
        stop(demo);
        QCOMPARE(leftOver(), QStringList());
    }
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost));
    QProcess taken;
    start(taken, holder.serverPort(), {}, false);
    QVERIFY(taken.waitForFinished(240000));
    QCOMPARE(taken.exitCode(), 1);
    QVERIFY(!taken.readAllStandardOutput().contains("Serving on port"));
    const QByteArray errors = taken.readAllStandardError();
    QVERIFY2(errors.contains("DORXWebOnDevice: cannot listen on port "
                 + QByteArray::number(holder.serverPort())),
        errors.constData());
    QCOMPARE(leftOver(), QStringList());
}

QTEST_GUILESS_MAIN(TestDemo)
#include "test_demo.moc"
