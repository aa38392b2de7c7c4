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
    void initTestCase();
    void cleanup();
    void servesAFreshDeviceEveryRun();
    void endsWithTheServersMessageWhenThePortIsTaken();

private:
    // The demo's environment: the test's scratch root, this build, the default loopback host.
    QProcessEnvironment environment() const;
    // Starts the demo and waits for "Serving on port"; fails the test when it ends first.
    void start(QProcess &demo, quint16 port, const QStringList &options = {});
    // Ends the demo as a kill of the script does (Ctrl-C takes the same way).
    void stop(QProcess &demo);
    // writesn and the default login of the walk-through; expected: the reply of writesn and its
    // exit status.
    void walkThrough(quint16 port, const QByteArray &writesnReply, int writesnStatus);
    // Processes that run in, or name, the scratch root: what the demo should have stopped.
    QStringList leftOver() const;

    QTemporaryDir root;
};

void TestDemo::initTestCase()
{
    QVERIFY(root.isValid());
}

QProcessEnvironment TestDemo::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DORX_DEMO_DIR"), root.path());
    environment.insert(QStringLiteral("DORX_BUILD_DIR"), QStringLiteral(DORX_BUILD_DIR));
    environment.remove(QStringLiteral("DORX_DEMO_HOST"));
    return environment;
}

// A failed test leaves no demo behind either: what it started is found by its scratch root.
void TestDemo::cleanup()
{
    for (const QString &process : leftOver())
        ::kill(pid_t(process.section(QLatin1Char(' '), 0, 0).toInt()), SIGKILL);
}

void TestDemo::start(QProcess &demo, quint16 port, const QStringList &options)
{
    demo.setProcessEnvironment(environment());
    demo.start(QStringLiteral(DORX_DEMO_SCRIPT), options + QStringList {QString::number(port)});
    QByteArray out;
    const QByteArray serving = "\nServing on port " + QByteArray::number(port) + ": ";
    QTRY_VERIFY_WITH_TIMEOUT((out += demo.readAllStandardOutput()).contains(serving)
            || demo.state() == QProcess::NotRunning,
        240000);
    QVERIFY2(out.contains(serving), demo.readAllStandardError().constData());
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
    QCOMPARE(writesn.exitCode, writesnStatus);
    QCOMPARE(writesn.out, writesnReply + '\n');
    const DorxctlRun login = DorxctlRun::run(
        {"--url", url, "--devicesn", "12345", "login", "dorx", "6172839405"}, state);
    QVERIFY2(login.exitCode == 0, login.err.constData());
}

QStringList TestDemo::leftOver() const
{
    QStringList processes;
    const QString ownPid = QString::number(QCoreApplication::applicationPid());
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (pid.toUInt() == 0 || pid == ownPid)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        const QString command = QString::fromLocal8Bit(cmdline.readAll()).replace('\0', ' ');
        const QString cwd = QFile::symLinkTarget(QStringLiteral("/proc/%1/cwd").arg(pid));
        if (command.contains(root.path()) || cwd.startsWith(root.path()))
            processes << pid + ' ' + command;
    }
    return processes;
}

// A second run starts from a clean state, so the walk-through works again; two demos on two ports
// run side by side; --keep keeps the device as the last run left it. Each stop leaves nothing.
void TestDemo::servesAFreshDeviceEveryRun()
{
    const quint16 port = ServerProcess::freePort();
    quint16 otherPort = ServerProcess::freePort();
    while (otherPort == port)
        otherPort = ServerProcess::freePort();

    for (int run = 0; run < 2; ++run) {
        QProcess demo;
        start(demo, port);
        walkThrough(port, "OK-12345", 0);
        if (run == 1) {
            QProcess other;
            start(other, otherPort);
            walkThrough(otherPort, "OK-12345", 0);
            stop(other);
        }
        stop(demo);
        QCOMPARE(leftOver(), QStringList());
    }

    QProcess kept;
    start(kept, port, {QStringLiteral("--keep")});
    walkThrough(port, "ERROR-12345", 3);
    stop(kept);
    QCOMPARE(leftOver(), QStringList());
}

void TestDemo::endsWithTheServersMessageWhenThePortIsTaken()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost));
    QProcess demo;
    demo.setProcessEnvironment(environment());
    demo.start(QStringLiteral(DORX_DEMO_SCRIPT), {QString::number(holder.serverPort())});
    QVERIFY(demo.waitForFinished(240000));
    QCOMPARE(demo.exitCode(), 1);
    QVERIFY(!demo.readAllStandardOutput().contains("Serving on port"));
    const QByteArray errors = demo.readAllStandardError();
    QVERIFY2(errors.contains("DORXWebOnDevice: cannot listen on port "
                 + QByteArray::number(holder.serverPort())),
        errors.constData());
    QCOMPARE(leftOver(), QStringList());
}

QTEST_GUILESS_MAIN(TestDemo)
#include "test_demo.moc"
