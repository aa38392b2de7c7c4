#pragma once

#include "serverprocess.h"

#include <QStringList>

// A private D-Bus session bus of the test's own and, on it, the fake access daemon, which notes
// every command it receives. Servers reach it through ServerProcess::useBus(address()); nothing
// here touches the machine's own bus. Both processes are stopped by their pids on destruction.
class DaemonBus
{
public:
    DaemonBus();
    ~DaemonBus();

    // Starts the bus at address(); false when dbus-daemon did not start within 10 s. It may be
    // started again after stopBus(), at the same address.
    bool startBus();
    void stopBus() { stopProcess(bus); }
    // Starts the fake daemon on the bus with its arguments (--answer, --delay, --hang; the log is
    // the fixture's) and waits until it owns its service name; false when it did not.
    bool startDaemon(const QStringList &arguments = {});
    void stopDaemon() { stopProcess(daemon); }

    // Where the bus listens once started: a socket in the fixture's own directory.
    QString address() const { return busAddress; }
    // The commands the daemon received since it was started last, in order.
    QStringList commands() const;
    // The daemon's own complaints, for failure messages.
    QByteArray daemonErrors() { return daemon.readAllStandardError(); }

private:
    QTemporaryDir dir;
    QProcess bus;
    QProcess daemon;
    QString busAddress;
};
