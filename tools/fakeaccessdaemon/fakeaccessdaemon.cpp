#include "fakeaccessdaemon.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QTimer>

FakeAccessDaemon::FakeAccessDaemon(QFile *log, const QHash<QString, QString> &answers, int delayMs)
    : log(log)
    , answers(answers)
    , delayMs(delayMs)
{ }

// Notes the command before anything else, so a caller that gave up waiting still finds it noted.
QString FakeAccessDaemon::dbus_pro(const QString &command)
{
    log->write(command.toUtf8() + '\n');
    log->flush();
    const QString answer = answers.value(command, QStringLiteral("0"));
    if (delayMs == 0)
        return answer;
    setDelayedReply(true);
    if (delayMs > 0) {
        const QDBusMessage reply = message().createReply(answer);
        QTimer::singleShot(delayMs, this, [reply] { QDBusConnection::sessionBus().send(reply); });
    }
    return QString(); // not sent: the reply is delayed
}
