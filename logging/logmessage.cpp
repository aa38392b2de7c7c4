#include "logging/logmessage.h"

#include <algorithm>

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

// C0 controls, DEL and the C1 controls: a line feed would start a forged line of its own, an
// escape sequence would rewrite what a terminal shows.
bool isControl(QChar c)
{
    const ushort u = c.unicode();
    return u < 0x20 || (u >= 0x7f && u <= 0x9f);
}

} // namespace

// text with every control character written as an escape ("\n", "\r", "\t", "\x1b"), so one
// message is always one line, whoever chose its text. Any other text, backslashes and non-ASCII
// letters included, comes back unchanged.
QString LogMessage::escaped(const QString &text)
{
    if (std::none_of(text.cbegin(), text.cend(), isControl))
        return text;
    QString result;
    result.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (!isControl(c))
            result += c;
        else if (c == QLatin1Char('\n'))
            result += QLatin1String("\\n");
        else if (c == QLatin1Char('\r'))
            result += QLatin1String("\\r");
        else if (c == QLatin1Char('\t'))
            result += QLatin1String("\\t");
        else
            result += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    }
    return result;
}

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

// The message text is inserted first (escaped), so placeholders written inside a message are
// expanded as well; the result ends with a line feed.
QString LogMessage::toString(const QString &msgFormat, const QString &timestampFormat) const
{
    QString text = msgFormat + QLatin1Char('\n');
    text.replace(QLatin1String("{msg}"), escaped(message));
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
