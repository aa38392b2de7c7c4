#include "platform/platform.h"

#include <QAbstractEventDispatcher>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QTime>
#include <QTimer>

namespace {

// Longest wait for one command. Commands run while a request holds the process-wide lock, so a
// command that hangs must not hold every other request for ever.
constexpr int commandTimeoutMs = 60000;

// Written once by configure() before the listener starts its threads, read only afterwards.
PlatformConfig config;

// text as one word of a shell command: as it stands when no shell would treat any of its
// characters specially, else in single quotes (a quote inside becoming '\'').
QString shellWord(const QString &text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./+:-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

} // namespace

PlatformConfig PlatformConfig::read(const QSettings &group)
{
    const QDir folder = QFileInfo(group.fileName()).absoluteDir();
    PlatformConfig read;
    read.shell = folder.absoluteFilePath(group.value("shell", read.shell).toString());
    read.networkFile
        = folder.absoluteFilePath(group.value("networkFile", read.networkFile).toString());
    return read;
}

namespace platform {

void configure(const PlatformConfig &settings)
{
    config = settings;
    qDebug("Platform: shell %s, network file %s", qUtf8Printable(config.shell),
        qUtf8Printable(config.networkFile));
}

QString networkFile()
{
    return config.networkFile;
}

QString networkBackup()
{
    return config.networkFile + QStringLiteral("_bak");
}

bool run(const QString &command)
{
    qDebug("Platform: running %s", qUtf8Printable(command));
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(config.shell, {QStringLiteral("-c"), command});
    if (!process.waitForStarted()) {
        qWarning("Platform: cannot start %s for \"%s\": %s", qUtf8Printable(config.shell),
            qUtf8Printable(command), qUtf8Printable(process.errorString()));
        return false;
    }
    if (!process.waitForFinished(commandTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        qWarning("Platform: \"%s\" did not end within %d ms and was killed",
            qUtf8Printable(command), commandTimeoutMs);
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning("Platform: \"%s\" failed with status %d: %s", qUtf8Printable(command),
            process.exitCode(), process.readAll().trimmed().constData());
        return false;
    }
    return true;
}

bool setClock(const QDate &date, const QTime &time)
{
    Q_ASSERT(date.isValid() && time.isValid());
    // Built from the parsed values, so nothing of what a client sent reaches the shell.
    const QString when = date.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ')
        + time.toString(QStringLiteral("hh:mm:ss"));
    return run(QStringLiteral("date -s '%1'").arg(when)) && run(QStringLiteral("hwclock -w"));
}

bool replaceNetworkFile(const QByteArray &text)
{
    // A terminal always has the file; only a first write anywhere else has nothing to keep.
    if (QFileInfo::exists(config.networkFile)
        && !run(QStringLiteral("cp %1 %2")
                    .arg(shellWord(config.networkFile), shellWord(networkBackup())))) {
        qWarning("Platform: no backup of %s, left unchanged", qUtf8Printable(config.networkFile));
        return false;
    }
    QSaveFile file(config.networkFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        qWarning("Platform: cannot write %s: %s", qUtf8Printable(config.networkFile),
            qUtf8Printable(file.errorString()));
        return false;
    }
    return true;
}

void rebootAfterReply()
{
    QAbstractEventDispatcher *loop = QAbstractEventDispatcher::instance();
    Q_ASSERT(loop); // request handlers run on threads with an event loop
    QTimer::singleShot(0, loop, [] { run(QStringLiteral("reboot")); });
}

} // namespace platform
