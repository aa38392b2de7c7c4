#include "logging/logmessage.h"

namespace weblet {

namespace {

// Level words are padded to one width so that the message texts of a log file line up.
QString typeWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("DEBUG   ");
    case QtWarningMsg:
        return QStringLiteral("WARNING ");
    case QtCriticalMsg:
        return QStringLiteral("CRITICAL");
    case QtFatalMsg:
        return QStringLiteral("FATAL   ");
    case QtInfoMsg:
        return QStringLiteral("INFO    ");
    }
    return QString();
}

} // namespace

LogMessage::LogMessage(QtMsgType type, const QString &message,
    const QHash<QString, QString> *logVars, const QString &file, const QString &function, int line)
    : timestamp(QDateTime::currentDateTime())
    , type(type)
    , threadId(QThread::currentThreadId())
    , message(message)
    , file(file)
    , function(function)
    , line(line)
{
    if (logVars)
        this->logVars = *logVars;
}

// The message text is inserted first, so placeholders written inside a message are expanded
// as well; the result ends with a line feed.
QString LogMessage::toString(const QString &msgFormat, const QString &timestampFormat) const
{
    QString text = msgFormat + QLatin1Char('\n');
    text.replace(QLatin1String("{msg}"), message);
    if (text.contains(QLatin1String("{timestamp}")))
        text.replace(QLatin1String("{timestamp}"), timestamp.toString(timestampFormat));
    text.replace(QLatin1String("{typeNr}"), QString::number(int(type)));
    const QString word = typeWord(type);
    if (!word.isEmpty())
        text.replace(QLatin1String("{type}"), word);
    text.replace(QLatin1String("{file}"), file);
    text.replace(QLatin1String("{function}"), function);
    text.replace(QLatin1String("{line}"), QString::number(line));
    text.replace(QLatin1String("{thread}"),
        QStringLiteral("0x%1").arg(quintptr(threadId), 8, 16, QLatin1Char('0')));
    if (text.contains(QLatin1Char('{'))) {
        for (auto it = logVars.constBegin(); it != logVars.constEnd(); ++it)
            text.replace(QLatin1Char('{') + it.key() + QLatin1Char('}'), it.value());
    }
    return text;
}

} // namespace weblet
