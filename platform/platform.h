#pragma once

#include <QByteArray>
#include <QString>

class QDate;
class QSettings;
class QTime;

// Settings of the "platform" group, read once at start-up. The defaults act on the terminal
// itself: they reboot it, set its clock and rewrite its network configuration.
struct PlatformConfig
{
    // "shell": interpreter of every operating-system command, run as <shell> -c "<command>".
    QString shell = QStringLiteral("/bin/sh");
    // "networkFile": the network configuration that the network commands rewrite; its backup is
    // the same path followed by "_bak".
    QString networkFile = QStringLiteral("/etc/network/interfaces");

    // A relative path is relative to the folder of the file that group belongs to.
    static PlatformConfig read(const QSettings &group);
};

// Everything the server asks of the operating system goes through here, so that a test or a
// demo can put a recording stand-in in place of the shell and a scratch file in place of the
// network configuration.
namespace platform {

// Applies config to every later call; start-up calls it once, before the first request.
void configure(const PlatformConfig &config);

QString networkFile();
QString networkBackup(); // networkFile() followed by "_bak"

// Runs command through the shell and waits for it, at most a minute; true when it exited with
// status 0. A failure is logged with the command's output.
bool run(const QString &command);

// Sets the system clock to date and time ("date -s '<yyyy-MM-dd hh:mm:ss>'") and then the
// hardware clock from it ("hwclock -w"); true when both did. Both must be valid.
bool setClock(const QDate &date, const QTime &time);

// Replaces the network file by text: the old file is first copied to networkBackup(), then text
// is written to a temporary file in the same folder and renamed over it, so that no reader ever
// sees a half-written file. False (and the old file untouched) when either step failed.
bool replaceNetworkFile(const QByteArray &text);

// Runs "reboot" once the calling thread is back in its event loop. A connection thread writes
// the reply of the request it serves before it returns to its loop, so the client has the whole
// reply before the terminal goes down.
void rebootAfterReply();

} // namespace platform
