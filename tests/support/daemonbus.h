#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A private D-Bus session bus of the test's own and, on it, the fake access daemon, which notes
// every command it receives. Servers reach it through ServerProcess::useBus(address()); nothing
// here touches the machine's own bus. Both processes are stopped by their pids on destruction.
class DaemonBus
{
public:
    DaemonBus() = default;
    ~DaemonBus();

    // Starts the bus; false when dbus-daemon did not start or print its address within 10 s.
    bool startBus();
    // Starts the fake daemon on the bus with its arguments (--answer, --delay, --hang; the log is
    // the fixture's) and waits until it owns its service name; false when it did not.
    bool startDaemon(const QStringList &arguments = {});
    void stopDaemon();

    QString address() const { return busAddress; }
    // The commands the daemon received so far, in order.
    QStringList commands() const;
    // The daemon's own complaints, for failure messages.
    QByteArray daemonErrors();

private:
    QTemporaryDir dir;
    QProcess bus;
    QProcess daemon;
    QString busAddress;
};
