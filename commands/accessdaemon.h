#pragma once

#include <QString>

#include <optional>

class QSettings;

// Settings of the "daemon" group, read once at start-up.
struct DaemonConfig
{
    // "callTimeout": ms one call may take. Every call is made under the request mapper's mutex,
    // so a hung daemon holds every other request for this long, never for the bus's own 25 s.
    int callTimeoutMs = 3000;

    static DaemonConfig read(const QSettings &group);
};

// The access daemon, a process of its own on the D-Bus session bus that drives the doors and
// readers. Every call sends one text to its "dbus_pro" method and waits, bounded, for one text.
namespace accessdaemon {

// Applies config to every later call; start-up calls it once, before the first request.
void configure(const DaemonConfig &config);

// The daemon's answer to command; nothing when no session bus is reachable, the daemon is not
// running, the call failed or no answer came within the timeout (each logged with the reason).
std::optional<QString> call(const QString &command);

// Door and reader actions. Those without a result log the daemon's answer and return; the
// caller never learns whether the daemon was there.
void open(quint8 doornum); // "open.<door>", doors numbered from 1
// "ycqr.<person>.<door>.<direction>.<result>": the low 8 bits of the daemon's numeric answer (0
// for a text that is not a number), or 4 when the call failed.
quint8 ycqr(quint32 personid, quint8 doornum, quint8 direction, quint8 result);
void send_faceinput(const QString &personid, const QString &type, const QString &devicekey);
void sendchange(); // "change": settings the daemon reads have changed
void checktime(); // "time": the clock has been set

} // namespace accessdaemon
