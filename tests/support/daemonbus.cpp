#include "daemonbus.h"

#include "serverprocess.h"

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
    : busAddress(QStringLiteral("unix:path=") + dir.filePath(QStringLiteral("bus")))
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
    bus.start(QStringLiteral("dbus-daemon"),
        {QStringLiteral("--session"), QStringLiteral("--nofork"),
            QStringLiteral("--address=") + busAddress, QStringLiteral("--print-address=1")});
    return !firstLine(bus).isEmpty();
}

void DaemonBus::stopBus()
{
    stopProcess(bus);
}

bool DaemonBus::startDaemon(const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    daemon.setProcessEnvironment(environment);
    daemon.setProcessChannelMode(QProcess::SeparateChannels);
    QFile::remove(dir.filePath(QStringLiteral("commands")));
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
