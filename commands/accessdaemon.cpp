#include "commands/accessdaemon.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMutex>
#include <QSettings>

#include <atomic>

namespace {

const char service[] = "com.vadorx.access.service";
const char objectPath[] = "/vadorx/path";
const char interfaceName[] = "com.vadorx.access";
const char method[] = "dbus_pro";

std::atomic<int> callTimeoutMs {DaemonConfig().callTimeoutMs};

// The session bus, connected afresh whenever there is no live connection: the bus may come up
// after the server, or start again while it runs, and Qt's own session-bus connection, once it
// has failed or dropped, never connects again.
QDBusConnection sessionBus()
{
    static QMutex lock;
    const QMutexLocker locker(&lock);
    const QString name = QStringLiteral("AccessDaemon");
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    if (!bus.isConnected()) {
        QDBusConnection::disconnectFromBus(name);
        bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    }
    return bus;
}

// Sends command and logs "<what> result:" with the answer or "<what> Call failed".
void notify(const char *what, const QString &command)
{
    if (const std::optional<QString> answer = accessdaemon::call(command))
        qDebug("%s result:%s", what, qUtf8Printable(*answer));
    else
        qDebug("%s Call failed", what);
}

} // namespace

// A timeout that is not a positive number of ms would leave the calls to the bus's own 25 s, so
// the default stands in for it.
DaemonConfig DaemonConfig::read(const QSettings &group)
{
    DaemonConfig config;
    bool valid = false;
    const int timeoutMs = group.value("callTimeout", config.callTimeoutMs).toInt(&valid);
    if (valid && timeoutMs > 0)
        config.callTimeoutMs = timeoutMs;
    else
        qWarning("AccessDaemon: callTimeout must be a positive number of ms, using %d",
            config.callTimeoutMs);
    return config;
}

namespace accessdaemon {

void configure(const DaemonConfig &config)
{
    callTimeoutMs = config.callTimeoutMs;
}

std::optional<QString> call(const QString &command)
{
    QDBusConnection bus = sessionBus();
    if (!bus.isConnected()) {
        qWarning("AccessDaemon: no session bus for \"%s\": %s", qUtf8Printable(command),
            qUtf8Printable(bus.lastError().message()));
        return std::nullopt;
    }
    // A plain method call: an interface object would first ask the daemon to describe itself,
    // a second call that a hung daemon would hold without our timeout.
    QDBusMessage message = QDBusMessage::createMethodCall(QLatin1String(service),
        QLatin1String(objectPath), QLatin1String(interfaceName), QLatin1String(method));
    message << command;
    const QDBusMessage reply = bus.call(message, QDBus::Block, callTimeoutMs.load());
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        qWarning("AccessDaemon: \"%s\" failed: %s", qUtf8Printable(command),
            qUtf8Printable(reply.errorMessage()));
        return std::nullopt;
    }
    return reply.arguments().constFirst().toString();
}

void open(quint8 doornum)
{
    notify("open", QStringLiteral("open.%1").arg(doornum));
}

quint8 ycqr(quint32 personid, quint8 doornum, quint8 direction, quint8 result)
{
    const std::optional<QString> answer = call(
        QStringLiteral("ycqr.%1.%2.%3.%4").arg(personid).arg(doornum).arg(direction).arg(result));
    if (!answer) {
        qDebug("open Call failed");
        return 4;
    }
    qDebug("open result:%s", qUtf8Printable(*answer));
    return quint8(answer->toUInt());
}

void send_faceinput(const QString &personid, const QString &type, const QString &devicekey)
{
    notify("faceinput", QStringLiteral("face.%1.%2.%3").arg(personid, type, devicekey));
}

void sendchange()
{
    notify("open", QStringLiteral("change"));
}

void checktime()
{
    notify("open", QStringLiteral("time"));
}

} // namespace accessdaemon
