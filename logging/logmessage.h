#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QThread>

namespace weblet {

// One captured diagnostic: the text, where and when it was raised, and the raising thread's
// variables as they were at that moment, so a buffered message prints as it was logged.
class LogMessage
{
public:
    LogMessage(QtMsgType type, const QString &message, const QHash<QString, QString> *logVars,
        const QString &file, const QString &function, int line);

    QtMsgType getType() const { return type; }
    QString toString(const QString &msgFormat, const QString &timestampFormat) const;

    static QString escaped(const QString &text);

private:
    QHash<QString, QString> logVars;
    QDateTime timestamp;
    QtMsgType type;
    Qt::HANDLE threadId;
    QString message;
    QString file;
    QString function;
    int line;
};

} // namespace weblet
