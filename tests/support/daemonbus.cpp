#include "daemonbus.h"

#include <QFile>

namespace {

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

DaemonBus::DaemonBus()
    : busAddress("unix:path=" + dir.filePath("bus"))
{ }

DaemonBus::~DaemonBus()
{
    stopDaemon();
    stopBus();
}

// The session configuration, but a bus of this fixture's own, known only to the processes that
// the test starts.
bool DaemonBus::startBus()
{
    bus.start(
        "dbus-daemon", {"--session", "--nofork", "--address=" + busAddress, "--print-address=1"});
    return !firstLine(bus).isEmpty();
}

bool DaemonBus::startDaemon(const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
    daemon.setProcessEnvironment(environment);
    daemon.setProcessChannelMode(QProcess::SeparateChannels);
    QFile::remove(dir.filePath("commands"));
    daemon.start(
        FAKE_ACCESS_DAEMON_PATH, QStringList {"--log", dir.filePath("commands")} + arguments);
    return firstLine(daemon) == "ready";
}

QStringList DaemonBus::commands() const
{
    QFile log(dir.filePath("commands"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
}
