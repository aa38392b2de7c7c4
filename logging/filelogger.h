#pragma once

#include "logging/logger.h"

#include <QBasicTimer>
#include <QFile>
#include <QSettings>

namespace weblet {

// Logger that appends its lines to a file, rotates the file by size and re-reads its settings
// group periodically, so format, level, limits and even the file change while the process runs.
// Lines go to standard error while no file is open.
class FileLogger : public Logger
{
    Q_OBJECT
    Q_DISABLE_COPY(FileLogger)

public:
    FileLogger(QSettings *settings, int refreshInterval = 10000, QObject *parent = nullptr);
    ~FileLogger() override;

protected:
    void write(const LogMessage *logMessage) override;
    void timerEvent(QTimerEvent *event) override;

private:
    void refreshSettings();
    void open();
    void close();
    void rotate();
    void flushAndCheckSize();

    QString fileName;
    qint64 maxSize = 0;
    int maxBackups = 0;
    QSettings *settings;
    QFile *file = nullptr;
    QBasicTimer refreshTimer;
    QBasicTimer flushTimer;
};

} // namespace weblet
