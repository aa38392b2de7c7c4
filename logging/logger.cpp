#include "logging/logger.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace weblet {

namespace {

// Set while the thread does logger work. The recursive lock lets such a thread raise a message
// without deadlocking; this flag sends that message to standard error instead of back into the
// logger that is busy (and possibly failing) on the same thread.
thread_local bool insideLogger = false;

// Severity rank, lowest first; QtMsgType's numbering puts info above fatal.
int severity(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return 0;
    case QtInfoMsg:
        return 1;
    case QtWarningMsg:
        return 2;
    case QtCriticalMsg:
        return 3;
    case QtFatalMsg:
        return 4;
    }
    return 4;
}

bool toPrint(QtMsgType type, QtMsgType minLevel)
{
    return severity(type) >= severity(minLevel);
}

// Log lines are written as UTF-8 whatever the process locale, so operator names and other
// non-ASCII texts survive on a terminal running under the C locale.
void writeToStandardError(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    fflush(stderr);
}

} // namespace

Logger *Logger::defaultLogger = nullptr;
QThreadStorage<QHash<QString, QString>> Logger::logVars;
QRecursiveMutex Logger::mutex;

Logger::Lock::Lock()
    : locker(&mutex)
    , wasInside(insideLogger)
{
    insideLogger = true;
}

Logger::Lock::~Lock()
{
    insideLogger = wasInside;
}

Logger::Logger(QObject *parent)
    : Logger(QStringLiteral("{timestamp} {type} {msg}"), QStringLiteral("dd.MM.yyyy hh:mm:ss.zzz"),
        QtDebugMsg, 0, parent)
{ }

Logger::Logger(const QString &msgFormat, const QString &timestampFormat, QtMsgType minLevel,
    int bufferSize, QObject *parent)
    : QObject(parent)
    , msgFormat(msgFormat)
    , timestampFormat(timestampFormat)
    , minLevel(minLevel)
    , bufferSize(bufferSize)
{ }

Logger::~Logger()
{
    uninstallMsgHandler();
    // Other threads' buffers go with their threads; this one's would outlive its storage.
    Lock lock;
    buffers.setLocalData(nullptr);
}

// Hands the framework's messages of every thread to this logger until it is destroyed.
void Logger::installMsgHandler()
{
    Lock lock;
    defaultLogger = this;
    qInstallMessageHandler(msgHandler);
    updateDebugGate();
}

// Restores the framework's default output if this logger is the installed one. Taken under the
// lock, so a message already being handled finishes before the logger goes away.
void Logger::uninstallMsgHandler()
{
    Lock lock;
    if (defaultLogger == this) {
        qInstallMessageHandler(nullptr);
        defaultLogger = nullptr;
        updateDebugGate();
    }
}

void Logger::setLevels(QtMsgType minLevel, int bufferSize)
{
    this->minLevel = minLevel;
    this->bufferSize = bufferSize;
    if (defaultLogger == this)
        updateDebugGate();
}

// Debug lines are built only when the installed logger writes them or holds them in a buffer;
// without a logger they go to the framework's handler, which shows them all. The caller holds
// the lock.
void Logger::updateDebugGate()
{
    debugMessagesWanted = !defaultLogger || defaultLogger->bufferSize > 0
        || toPrint(QtDebugMsg, defaultLogger->minLevel);
}

void Logger::msgHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // Debug lines raised inside the framework's own libraries pass no gate at their call sites.
    if (type == QtDebugMsg && !debugMessagesWanted.load(std::memory_order_relaxed))
        return;
    const QString file = QString::fromUtf8(context.file);
    const QString function = QString::fromUtf8(context.function);
    QMutexLocker locker(&mutex);
    if (defaultLogger && !insideLogger)
        defaultLogger->log(type, message, file, function, context.line);
    else
        writeToStandardError(LogMessage::escaped(message) + QLatin1Char('\n'));
    if (type == QtFatalMsg)
        abort();
}

// Prints the message when it reaches minLevel. With a buffer, every message is held first and
// a printing one releases the thread's held messages, oldest first, in front of it.
void Logger::log(
    QtMsgType type, const QString &message, const QString &file, const QString &function, int line)
{
    Lock lock;
    const QHash<QString, QString> *vars = logVars.hasLocalData() ? &logVars.localData() : nullptr;
    const bool print = toPrint(type, minLevel);
    if (bufferSize <= 0) {
        if (print) {
            const LogMessage logMessage(type, message, vars, file, function, line);
            write(&logMessage);
        }
        return;
    }
    if (!buffers.hasLocalData())
        buffers.setLocalData(new QList<LogMessage>());
    QList<LogMessage> &buffer = *buffers.localData();
    buffer.append(LogMessage(type, message, vars, file, function, line));
    // A loop, not one removal: the size limit may have shrunk since the last message.
    while (buffer.size() > bufferSize)
        buffer.removeFirst();
    if (print) {
        const QList<LogMessage> pending = std::exchange(buffer, QList<LogMessage>());
        for (const LogMessage &logMessage : pending)
            write(&logMessage);
    }
}

// Affects only the calling thread's buffer in this logger and its variables.
void Logger::clear(bool buffer, bool variables)
{
    Lock lock;
    if (buffer && buffers.hasLocalData())
        buffers.localData()->clear();
    if (variables && logVars.hasLocalData())
        logVars.localData().clear();
}

// Sets a variable of the calling thread; "{name}" in the line format then shows its value in
// every line that thread logs afterwards.
void Logger::set(const QString &name, const QString &value)
{
    Lock lock;
    logVars.localData().insert(name, value);
}

void Logger::write(const LogMessage *logMessage)
{
    writeToStandardError(logMessage->toString(msgFormat, timestampFormat));
}

} // namespace weblet
