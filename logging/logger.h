#pragma once

#include "logging/debuggate.h"
#include "logging/logmessage.h"

#include <QHash>
#include <QList>
#include <QMutexLocker>
#include <QObject>
#include <QRecursiveMutex>
#include <QString>
#include <QThreadStorage>

namespace weblet {

// Turns the framework's diagnostics into formatted lines on standard error. Once installed as
// the process-wide message handler it receives the messages of every thread; a thread may hold
// its low-level messages back in a ring buffer until one of sufficient level arrives.
class Logger : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(Logger)

public:
    explicit Logger(QObject *parent = nullptr);
    Logger(const QString &msgFormat, const QString &timestampFormat, QtMsgType minLevel,
        int bufferSize, QObject *parent = nullptr);
    ~Logger() override;

    virtual void log(QtMsgType type, const QString &message, const QString &file = QString(),
        const QString &function = QString(), int line = 0);
    virtual void clear(bool buffer = true, bool variables = true);
    void installMsgHandler();
    static void set(const QString &name, const QString &value);

protected:
    // Held for every piece of logger work, in every thread. It serialises output, buffers,
    // variables and settings changes of all loggers, and marks the thread as inside the logger
    // so that a message raised meanwhile (a file error, say) goes straight to standard error.
    class Lock
    {
    public:
        Lock();
        ~Lock();

    private:
        Q_DISABLE_COPY(Lock)
        QMutexLocker locker;
        bool wasInside;
    };

    virtual void write(const LogMessage *logMessage);
    void uninstallMsgHandler();
    // Changes the level and the buffer size together with what the call sites see of them.
    // The caller holds the lock.
    void setLevels(QtMsgType minLevel, int bufferSize);

    QString msgFormat;
    QString timestampFormat;
    QtMsgType minLevel; // changed only through setLevels
    int bufferSize; // changed only through setLevels

private:
    static void msgHandler(
        QtMsgType type, const QMessageLogContext &context, const QString &message);
    static void updateDebugGate();

    static Logger *defaultLogger;
    static QThreadStorage<QHash<QString, QString>> logVars;
    static QRecursiveMutex mutex;
    QThreadStorage<QList<LogMessage> *> buffers; // deleted with its thread
};

} // namespace weblet
