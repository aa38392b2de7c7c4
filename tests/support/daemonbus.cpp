#include "daemonbus.h"

#include <QFile>

namespace {

// Ends a process of ours by its pid: asked first, killed when it does not end within 5 s.
void stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

// Reads the process's first line of standard output; empty when none came within 10 s.
QByteArray firstLine(QProcess &process)
{
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(10000))
            return QByteArray();
    }
    return process.readLine().trimmed();
}

} // namespace

DaemonBus::~DaemonBus()
{
    stopDaemon();
    stopProcess(bus);
}

bool DaemonBus::startBus()
{
    // The session configuration, but a bus of this fixture's own: its address is random and given
    // only to the processes that the test starts.
    bus.start(QStringLiteral("dbus-daemon"),
        {QStringLiteral("--session"), QStringLiteral("--nofork"),
            QStringLiteral("--print-address=1")});
    busAddress = QString::fromUtf8(firstLine(bus));
    return !busAddress.isEmpty();
}

bool DaemonBus::startDaemon(const QStringList &arguments)
{
    Q_ASSERT(!busAddress.isEmpty());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    daemon.setProcessEnvironment(environment);
    daemon.setProcessChannelMode(QProcess::SeparateChannels);
    daemon.start(QStringLiteral(FAKE_ACCESS_DAEMON_PATH),
        QStringList {QStringLiteral("--log"), dir.filePath(QStringLiteral("commands"))}
            + arguments);
    return firstLine(daemon) == "ready";
}

void DaemonBus::stopDaemon()
{
    stopProcess(daemon);
}

QStringList DaemonBus::commands() const
{
    QFile log(dir.filePath(QStringLiteral("commands")));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QByteArray DaemonBus::daemonErrors()
{
    return daemon.readAllStandardError();
}
