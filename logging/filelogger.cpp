#include "logging/filelogger.h"

#include <QDir>
#include <QFileInfo>
#include <QTimerEvent>

#include <cstdio>
#include <utility>

namespace weblet {

namespace {

constexpr int flushIntervalMs = 1000;

// Settings of the file logger, group "logging"; re-read at every refresh tick.
struct FileLoggerConfig
{
    QString fileName; // "fileName": empty logs to stderr
    qint64 maxSize = 0; // "maxSize": bytes, 0 never rotates
    int maxBackups = 0; // "maxBackups": 0 keeps every backup
    QString msgFormat = "{timestamp} {type} {msg}"; // "msgFormat"
    QString timestampFormat = "yyyy-MM-dd hh:mm:ss.zzz"; // "timestampFormat"
    int bufferSize = 0; // "bufferSize": messages per thread
    QString minLevel = "ALL"; // "minLevel": a level word
    static FileLoggerConfig read(QSettings &settings);
};

FileLoggerConfig FileLoggerConfig::read(QSettings &settings)
{
    FileLoggerConfig c;
    c.fileName = settings.value(QStringLiteral("fileName")).toString();
    c.maxSize = settings.value(QStringLiteral("maxSize"), c.maxSize).toLongLong();
    c.maxBackups = settings.value(QStringLiteral("maxBackups"), c.maxBackups).toInt();
    c.msgFormat = settings.value(QStringLiteral("msgFormat"), c.msgFormat).toString();
    c.timestampFormat
        = settings.value(QStringLiteral("timestampFormat"), c.timestampFormat).toString();
    c.bufferSize = settings.value(QStringLiteral("bufferSize"), c.bufferSize).toInt();
    c.minLevel = settings.value(QStringLiteral("minLevel"), c.minLevel).toString();
    return c;
}

// Sets *level from a "minLevel" word (compared exactly); a word that names no level leaves it.
void applyLevelWord(const QString &word, QtMsgType *level)
{
    static const QHash<QString, QtMsgType> words = {{"ALL", QtDebugMsg}, {"DEBUG", QtDebugMsg},
        {"0", QtDebugMsg}, {"WARNING", QtWarningMsg}, {"WARN", QtWarningMsg}, {"1", QtWarningMsg},
        {"ERROR", QtCriticalMsg}, {"CRITICAL", QtCriticalMsg}, {"2", QtCriticalMsg},
        {"FATAL", QtFatalMsg}, {"3", QtFatalMsg}, {"INFO", QtInfoMsg}, {"4", QtInfoMsg}};
    const auto it = words.constFind(word);
    if (it != words.constEnd())
        *level = it.value();
}

QString backupName(const QString &fileName, int number)
{
    return QStringLiteral("%1.%2").arg(fileName).arg(number);
}

} // namespace

// settings is not owned and must outlive the logger; refreshInterval is in milliseconds, and
// 0 or less reads the settings only here.
FileLogger::FileLogger(QSettings *settings, int refreshInterval, QObject *parent)
    : Logger(parent)
    , settings(settings)
{
    if (refreshInterval > 0)
        refreshTimer.start(refreshInterval, this);
    flushTimer.start(flushIntervalMs, this);
    refreshSettings();
}

FileLogger::~FileLogger()
{
    // Leave the handler first: a handler thread that logs during shut-down must not reach a
    // logger whose file is already gone.
    uninstallMsgHandler();
    Lock lock;
    close();
    refreshTimer.stop();
    flushTimer.stop();
}

// The settings are read before the lock is taken: QSettings has locks of its own, shared with
// every other reader of the same file, and one of those readers may be logging meanwhile.
void FileLogger::refreshSettings()
{
    settings->sync();
    const FileLoggerConfig config = FileLoggerConfig::read(*settings);
    const QString newFileName = config.fileName.isEmpty()
        ? QString()
        : QFileInfo(settings->fileName()).absoluteDir().absoluteFilePath(config.fileName);
    Lock lock;
    const QString oldFileName = std::exchange(fileName, newFileName);
    maxSize = config.maxSize;
    maxBackups = config.maxBackups;
    msgFormat = config.msgFormat;
    timestampFormat = config.timestampFormat;
    QtMsgType level = minLevel;
    applyLevelWord(config.minLevel, &level);
    setLevels(level, config.bufferSize);
    if (fileName != oldFileName) {
        fprintf(stderr, "Logging to %s\n", fileName.toUtf8().constData());
        fflush(stderr);
        close();
        open();
    }
}

void FileLogger::open()
{
    if (fileName.isEmpty()) {
        qWarning("Name of logFile is empty");
        return;
    }
    file = new QFile(fileName);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        qWarning(
            "Cannot open log file %s: %s", qPrintable(fileName), qPrintable(file->errorString()));
        delete file;
        file = nullptr;
    }
}

void FileLogger::close()
{
    if (file) {
        file->close();
        delete file;
        file = nullptr;
    }
}

// Shifts fileName.1 ... fileName.n up by one, dropping the oldest beyond maxBackups, and makes
// the current file the newest backup. A gap in the numbering ends the chain.
void FileLogger::rotate()
{
    int n = 0;
    while (QFile::exists(backupName(fileName, n + 1)))
        ++n;
    if (maxBackups > 0) {
        while (n >= maxBackups) {
            QFile::remove(backupName(fileName, n));
            --n;
        }
    }
    for (int i = n; i >= 1; --i)
        QFile::rename(backupName(fileName, i), backupName(fileName, i + 1));
    QFile::rename(fileName, backupName(fileName, 1));
}

// Critical, fatal and info lines reach the disk at once; the others wait for the flush tick.
void FileLogger::write(const LogMessage *logMessage)
{
    if (!file) {
        Logger::write(logMessage);
        return;
    }
    file->write(logMessage->toString(msgFormat, timestampFormat).toUtf8());
    if (logMessage->getType() > QtWarningMsg)
        file->flush();
    if (file->error() != QFileDevice::NoError) {
        qWarning("Cannot write to log file %s: %s", qPrintable(fileName),
            qPrintable(file->errorString()));
        close();
    }
}

// The size is checked only here, so a file may outgrow maxSize by one second's lines.
void FileLogger::flushAndCheckSize()
{
    Lock lock;
    if (!file)
        return;
    file->flush();
    if (maxSize > 0 && file->size() >= maxSize) {
        close();
        rotate();
        open();
    }
}

void FileLogger::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == refreshTimer.timerId())
        refreshSettings();
    else if (event->timerId() == flushTimer.timerId())
        flushAndCheckSize();
    else
        Logger::timerEvent(event);
}

} // namespace weblet
