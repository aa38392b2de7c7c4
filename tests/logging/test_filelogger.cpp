#include "logging/filelogger.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <unistd.h>

using weblet::FileLogger;

namespace {

// Points the process's standard error at a temporary file for the lifetime of the object.
class StderrCapture
{
public:
    StderrCapture()
    {
        file.open();
        fflush(stderr);
        saved = dup(STDERR_FILENO);
        dup2(file.handle(), STDERR_FILENO);
    }
    ~StderrCapture()
    {
        fflush(stderr);
        dup2(saved, STDERR_FILENO);
        ::close(saved);
    }
    QByteArray text()
    {
        fflush(stderr);
        QFile reader(file.fileName());
        reader.open(QIODevice::ReadOnly);
        return reader.readAll();
    }

private:
    QTemporaryFile file;
    int saved = -1;
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Keeps the test framework's own handler across tests that install the logger's.
class HandlerRestorer
{
public:
    HandlerRestorer()
        : saved(qInstallMessageHandler(nullptr))
    {
        qInstallMessageHandler(saved);
    }
    ~HandlerRestorer() { qInstallMessageHandler(saved); }

private:
    QtMessageHandler saved;
};

// Runs in a child process: logs a fatal message through the installed file logger.
int fatalChild(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QSettings settings(QString::fromLocal8Bit(argv[2]), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("logging"));
    FileLogger logger(&settings, 0);
    logger.installMsgHandler();
    qFatal("stopping here");
    return 0;
}

} // namespace

class TestFileLogger : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void relativeFileNameIsBesideTheSettings();
    void minLevelWords_data();
    void minLevelWords();
    void rotationKeepsAtMostMaxBackups();
    void changedFileNameIsPickedUp();
    void unopenableFileFallsBackToStandardError();
    void switchToUnopenableFileWhileInstalled();
    void writeErrorClosesFileAndFallsBack();
    void concurrentThreadsWriteWholeLines();
    void fatalMessageIsWrittenThenAborts();

private:
    // Writes the "[logging]" group with the given lines into a fresh settings file.
    void writeSettings(const QString &lines);
    std::unique_ptr<QSettings> openSettings();

    std::unique_ptr<QTemporaryDir> dir;
    QString iniPath;
};

void TestFileLogger::init()
{
    dir = std::make_unique<QTemporaryDir>();
    iniPath = dir->filePath(QStringLiteral("test.ini"));
}

void TestFileLogger::writeSettings(const QString &lines)
{
    QFile ini(iniPath);
    QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ini.write("[logging]\n" + lines.toUtf8() + "\n");
}

std::unique_ptr<QSettings> TestFileLogger::openSettings()
{
    auto settings = std::make_unique<QSettings>(iniPath, QSettings::IniFormat);
    settings->setIniCodec("UTF-8");
    settings->beginGroup(QStringLiteral("logging"));
    return settings;
}

void TestFileLogger::relativeFileNameIsBesideTheSettings()
{
    writeSettings("fileName=logs.txt\nmsgFormat=\"{type}|{msg}\"\nminLevel=WARNING");
    const auto settings = openSettings();
    FileLogger logger(settings.get(), 0);
    logger.log(QtDebugMsg, QStringLiteral("hidden"));
    logger.log(QtWarningMsg, QStringLiteral("x"));
    // Warnings wait for the flush tick.
    QTRY_COMPARE_WITH_TIMEOUT(
        readFile(dir->filePath("logs.txt")), QByteArray("WARNING |x\n"), 10000);
}

void TestFileLogger::minLevelWords_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<QByteArray>("printed");
    QTest::newRow("ALL") << "ALL" << QByteArray("d\ni\nw\nc\n");
    QTest::newRow("DEBUG") << "DEBUG" << QByteArray("d\ni\nw\nc\n");
    QTest::newRow("0") << "0" << QByteArray("d\ni\nw\nc\n");
    QTest::newRow("INFO") << "INFO" << QByteArray("i\nw\nc\n");
    QTest::newRow("4") << "4" << QByteArray("i\nw\nc\n");
    QTest::newRow("WARNING") << "WARNING" << QByteArray("w\nc\n");
    QTest::newRow("WARN") << "WARN" << QByteArray("w\nc\n");
    QTest::newRow("1") << "1" << QByteArray("w\nc\n");
    QTest::newRow("ERROR") << "ERROR" << QByteArray("c\n");
    QTest::newRow("CRITICAL") << "CRITICAL" << QByteArray("c\n");
    QTest::newRow("2") << "2" << QByteArray("c\n");
    QTest::newRow("FATAL") << "FATAL" << QByteArray();
    QTest::newRow("3") << "3" << QByteArray();
    QTest::newRow("lower case is unknown: level stays debug")
        << "warning" << QByteArray("d\ni\nw\nc\n");
    QTest::newRow("unknown word: level stays debug") << "LOUD" << QByteArray("d\ni\nw\nc\n");
}

void TestFileLogger::minLevelWords()
{
    QFETCH(QString, word);
    QFETCH(QByteArray, printed);
    writeSettings("fileName=levels.log\nmsgFormat={msg}\nminLevel=" + word);
    {
        const auto settings = openSettings();
        FileLogger logger(settings.get(), 0);
        logger.log(QtDebugMsg, QStringLiteral("d"));
        logger.log(QtInfoMsg, QStringLiteral("i"));
        logger.log(QtWarningMsg, QStringLiteral("w"));
        logger.log(QtCriticalMsg, QStringLiteral("c"));
    }
    QCOMPARE(readFile(dir->filePath("levels.log")), printed);
}

void TestFileLogger::rotationKeepsAtMostMaxBackups()
{
    writeSettings("fileName=rot.log\nmaxSize=100\nmaxBackups=2\nmsgFormat={msg}");
    const auto settings = openSettings();
    FileLogger logger(settings.get(), 0);
    const QString log = dir->filePath("rot.log");
    for (int round = 1; round <= 4; ++round) {
        const QString marker = QStringLiteral("round %1 ").arg(round);
        logger.log(QtCriticalMsg, marker + QString(120, QLatin1Char('x')));
        QTRY_VERIFY_WITH_TIMEOUT(readFile(log + ".1").startsWith(marker.toUtf8()), 10000);
    }
    QVERIFY(readFile(log + ".2").startsWith("round 3 "));
    QVERIFY(!QFile::exists(log + ".3"));
    QVERIFY(QFile::exists(log));
}

void TestFileLogger::changedFileNameIsPickedUp()
{
    writeSettings("fileName=first.log\nmsgFormat={msg}");
    const auto settings = openSettings();
    FileLogger logger(settings.get(), 100);
    logger.log(QtCriticalMsg, QStringLiteral("one"));
    StderrCapture capture;
    writeSettings("fileName=second-file.log\nmsgFormat={msg}");
    const QString second = dir->filePath("second-file.log");
    QTRY_VERIFY_WITH_TIMEOUT(
        capture.text().contains("Logging to " + second.toUtf8() + "\n"), 10000);
    logger.log(QtCriticalMsg, QStringLiteral("two"));
    QCOMPARE(readFile(dir->filePath("first.log")), QByteArray("one\n"));
    QCOMPARE(readFile(second), QByteArray("two\n"));
}

void TestFileLogger::unopenableFileFallsBackToStandardError()
{
    writeSettings("fileName=no-such-dir/x.log\nmsgFormat={type}{msg}");
    const auto settings = openSettings();
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression("^Cannot open log file .*/no-such-dir/x\\.log: .+"));
    FileLogger logger(settings.get(), 0);
    StderrCapture capture;
    logger.log(QtWarningMsg, QStringLiteral("still seen"));
    QCOMPARE(capture.text(), QByteArray("WARNING still seen\n"));
}

void TestFileLogger::switchToUnopenableFileWhileInstalled()
{
    writeSettings("fileName=good.log\nmsgFormat={msg}");
    const auto settings = openSettings();
    HandlerRestorer restorer;
    FileLogger logger(settings.get(), 100);
    logger.installMsgHandler();
    StderrCapture capture;
    writeSettings("fileName=no-such-dir/y.log\nmsgFormat={msg}");
    // The complaint is raised inside the logger's own refresh: it must reach standard error
    // instead of waiting for the logger it interrupts.
    const QByteArray complaint
        = "Cannot open log file " + dir->filePath("no-such-dir/y.log").toUtf8();
    QTRY_VERIFY_WITH_TIMEOUT(capture.text().contains(complaint), 10000);
    qWarning("afterwards");
    QVERIFY(capture.text().endsWith("afterwards\n"));
}

void TestFileLogger::writeErrorClosesFileAndFallsBack()
{
    if (!QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("needs /dev/full to provoke a write error");
    writeSettings("fileName=/dev/full\nmsgFormat={type}{msg}");
    const auto settings = openSettings();
    HandlerRestorer restorer;
    FileLogger logger(settings.get(), 0);
    logger.installMsgHandler();
    StderrCapture capture;
    qCritical("lost");
    qWarning("after");
    // The logger's own complaint comes as a bare line, not through the failing file.
    QCOMPARE(capture.text(),
        QByteArray("Cannot write to log file /dev/full: No space left on device\n"
                   "WARNING after\n"));
}

void TestFileLogger::concurrentThreadsWriteWholeLines()
{
    writeSettings("fileName=threads.log\nmsgFormat={worker} {msg}");
    constexpr int threads = 4;
    constexpr int perThread = 300;
    {
        const auto settings = openSettings();
        HandlerRestorer restorer;
        FileLogger logger(settings.get(), 0);
        logger.installMsgHandler();
        QList<QThread *> workers;
        for (int t = 0; t < threads; ++t) {
            workers << QThread::create([t] {
                weblet::Logger::set(QStringLiteral("worker"), QStringLiteral("w%1").arg(t));
                for (int i = 0; i < perThread; ++i)
                    qWarning("w%d %d", t, i);
            });
            workers.last()->start();
        }
        for (QThread *worker : workers) {
            QVERIFY(worker->wait(30000));
            delete worker;
        }
    }
    const QList<QByteArray> lines = readFile(dir->filePath("threads.log")).split('\n');
    QCOMPARE(lines.size(), threads * perThread + 1);
    QVERIFY(lines.last().isEmpty());
    QVector<int> next(threads, 0);
    const QRegularExpression shape(QStringLiteral("^(w\\d) (w\\d) (\\d+)$"));
    for (int i = 0; i < lines.size() - 1; ++i) {
        const QRegularExpressionMatch m = shape.match(QString::fromUtf8(lines.at(i)));
        QVERIFY2(m.hasMatch(), lines.at(i).constData());
        // Each thread's variable is its own, and its lines keep their order.
        QCOMPARE(m.captured(1), m.captured(2));
        const int t = m.captured(2).mid(1).toInt();
        QCOMPARE(m.captured(3).toInt(), next[t]++);
    }
}

void TestFileLogger::fatalMessageIsWrittenThenAborts()
{
    writeSettings("fileName=fatal.log\nmsgFormat={type}{msg}");
    QProcess child;
    child.setWorkingDirectory(dir->path());
    child.start(
        QCoreApplication::applicationFilePath(), {QStringLiteral("--fatal-child"), iniPath});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QCOMPARE(readFile(dir->filePath("fatal.log")), QByteArray("FATAL   stopping here\n"));
}

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--fatal-child") == 0)
        return fatalChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestFileLogger test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_filelogger.moc"
