#include "logging/filelogger.h"
#include "logging/redact.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace weblet;

namespace {

// Keeps the lines instead of printing them, so the tests read what the logger would write.
class CollectingLogger : public Logger
{
public:
    using Logger::Logger;
    QStringList lines;

protected:
    void write(const LogMessage *logMessage) override
    {
        lines << logMessage->toString(msgFormat, timestampFormat);
    }
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

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

class TestLogger : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void bufferAndFormat();
    void minLevelWords();
    void droppedDebugLinesAreNotBuilt();
    void rotationKeepsAtMostMaxBackups();
    void concurrentThreadsWriteWholeLines();
    void fatalMessageIsWrittenThenAborts();
    void redactsPasswords();
    void fileSwitchesAndFailuresFallBackToStandardError(); // last: it keeps standard error

private:
    // Writes the "[logging]" group with the given lines into the settings file, which opens
    // again as the returned view (its directory resolves the relative log file names).
    std::unique_ptr<QSettings> writeSettings(const QString &lines);

    std::unique_ptr<QTemporaryDir> dir;
    QString iniPath;
    QtMessageHandler testHandler = nullptr; // the test framework's, replaced by an installed logger
    QtMessageHandler defaultHandler = nullptr;
};

void TestLogger::init()
{
    dir = std::make_unique<QTemporaryDir>();
    iniPath = dir->filePath(QStringLiteral("test.ini"));
    testHandler = qInstallMessageHandler(nullptr);
    defaultHandler = qInstallMessageHandler(testHandler);
}

void TestLogger::cleanup()
{
    // A logger installed during the test put the framework's default back when it went.
    const QtMessageHandler left = qInstallMessageHandler(testHandler);
    QVERIFY(left == testHandler || left == defaultHandler);
    // Thread variables are process-wide per thread: each test starts without any.
    CollectingLogger().clear(false, true);
}

std::unique_ptr<QSettings> TestLogger::writeSettings(const QString &lines)
{
    QFile ini(iniPath);
    if (ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
        ini.write("[logging]\n" + lines.toUtf8() + "\n");
    auto settings = std::make_unique<QSettings>(iniPath, QSettings::IniFormat);
    settings->beginGroup(QStringLiteral("logging"));
    return settings;
}

void TestLogger::bufferAndFormat()
{
    CollectingLogger logger(QStringLiteral("{type}{msg}{user}"), QString(), QtWarningMsg, 3);
    const std::unique_ptr<QThread> other(
        QThread::create([&logger] { logger.log(QtDebugMsg, QStringLiteral("held")); }));
    other->start();
    QVERIFY(other->wait(10000));
    for (int i = 1; i <= 5; ++i)
        logger.log(QtDebugMsg, QString::number(i));
    QVERIFY(logger.lines.isEmpty());
    // The ring keeps the last three, the triggering warning included; the other thread's
    // message stays in that thread's buffer.
    logger.log(QtWarningMsg, QStringLiteral("w"));
    QCOMPARE(logger.lines,
        (QStringList {"DEBUG   4{user}\n", "DEBUG   5{user}\n", "WARNING w{user}\n"}));
    // The warning emptied the buffer; clear drops held messages and the thread's variables.
    Logger::set(QStringLiteral("user"), QStringLiteral("@a"));
    logger.log(QtDebugMsg, QStringLiteral("dropped"));
    logger.clear(true, false);
    logger.log(QtCriticalMsg, QStringLiteral("c"));
    logger.clear(false, true);
    logger.log(QtCriticalMsg, QStringLiteral("d"));
    QCOMPARE(logger.lines.mid(3), (QStringList {"CRITICALc@a\n", "CRITICALd{user}\n"}));

    Logger::set(QStringLiteral("user"), QStringLiteral("alice"));
    const struct
    {
        const char *format;
        int type;
        const char *message;
        const char *line;
    } rows[] = {{"{type}|{msg}", 1, "x", "WARNING |x\n"}, {"{type}|{msg}", 2, "x", "CRITICAL|x\n"},
        {"{user}: {msg}", 4, "m", "alice: m\n"}, {"{nobody}", 0, "", "{nobody}\n"},
        {"{timestamp}", 0, "", "T\n"},
        // Return, tab, terminal escape, DEL and C1 controls.
        {"{msg}", 1, "a\r\t\x1b[2Jb", "a\\r\\t\\x1b[2Jb\n"},
        {"{msg}", 1, "\x7f\u0085", "\\x7f\\x85\n"}};
    for (const auto &row : rows) {
        CollectingLogger formatted(row.format, QStringLiteral("'T'"), QtDebugMsg, 0);
        formatted.log(QtMsgType(row.type), QString::fromUtf8(row.message));
        QCOMPARE(formatted.lines, QStringList {row.line});
    }
}

// Upper-case names and Qt's numbers, aliases, and an unknown word that leaves the level as it
// was; a relative file name lies beside the settings file.
void TestLogger::minLevelWords()
{
    for (const auto &[word, printed] : {std::pair {"ALL", "d\ni\nw\nc\n"}, {"INFO", "i\nw\nc\n"},
             {"WARN", "w\nc\n"}, {"2", "c\n"}, {"warning", "d\ni\nw\nc\n"}}) {
        {
            const auto settings = writeSettings(
                QStringLiteral("fileName=%1.log\nmsgFormat={msg}\nminLevel=%1").arg(word));
            FileLogger logger(settings.get(), 0);
            for (const auto &[type, text] : {std::pair {QtDebugMsg, "d"}, {QtInfoMsg, "i"},
                     {QtWarningMsg, "w"}, {QtCriticalMsg, "c"}})
                logger.log(type, QString::fromLatin1(text));
        }
        QCOMPARE(readFile(dir->filePath(word + QStringLiteral(".log"))), QByteArray(printed));
    }
}

// The arguments of a debug line are evaluated only when the installed logger writes it (at ALL)
// or holds it (in a buffer), not when it drops it (at INFO); the level follows a refresh of the
// settings, and without a logger every line is built for the framework's own handler.
void TestLogger::droppedDebugLinesAreNotBuilt()
{
    int evaluated = 0;
    const auto argument = [&evaluated] {
        ++evaluated;
        return "argument";
    };
    for (const auto &[settings, writes] : {std::pair {"minLevel=ALL", true},
             {"minLevel=INFO", false}, {"minLevel=INFO\nbufferSize=2", true}}) {
        const bool built = writes; // a binding cannot be captured
        evaluated = 0;
        const auto view = writeSettings(QStringLiteral("fileName=gate.log\n") + settings);
        FileLogger logger(view.get(), 50);
        logger.installMsgHandler();
        qDebug("%s", argument());
        QCOMPARE(evaluated, built ? 1 : 0);
        writeSettings(built ? "fileName=gate.log\nminLevel=WARNING" : "fileName=gate.log");
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const int before = evaluated;
                qDebug("%s", argument());
                return (evaluated > before) != built;
            }(),
            10000);
    }
    evaluated = 0;
    qInstallMessageHandler(testHandler);
    QTest::ignoreMessage(QtDebugMsg, "argument");
    qDebug("%s", argument());
    QCOMPARE(evaluated, 1);
}

void TestLogger::rotationKeepsAtMostMaxBackups()
{
    const auto settings
        = writeSettings("fileName=rot.log\nmaxSize=100\nmaxBackups=2\nmsgFormat={msg}");
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

// The failures happen inside the logger's own work: each complaint must reach standard error
// instead of waiting for the logger it interrupts, and so must every line after it.
void TestLogger::fileSwitchesAndFailuresFallBackToStandardError()
{
    const auto settings = writeSettings("fileName=first.log\nmsgFormat={type}{msg}");
    FileLogger logger(settings.get(), 100);
    logger.installMsgHandler();
    qCritical("one");
    // Standard error goes to a file for the rest of the process; the test framework prints to
    // standard output.
    QTemporaryFile errors;
    QVERIFY(errors.open() && dup2(errors.handle(), STDERR_FILENO) == STDERR_FILENO);
    const auto stderrText = [&errors] {
        fflush(stderr);
        return readFile(errors.fileName());
    };
    const auto switchTo = [&](const QString &name) {
        writeSettings("fileName=" + name + "\nmsgFormat={type}{msg}");
        const QByteArray note
            = "Logging to " + QDir(dir->path()).absoluteFilePath(name).toUtf8() + "\n";
        QTRY_VERIFY_WITH_TIMEOUT(stderrText().contains(note), 10000);
    };
    switchTo("second.log");
    qCritical("two");
    QCOMPARE(readFile(dir->filePath("first.log")), QByteArray("CRITICALone\n"));
    QCOMPARE(readFile(dir->filePath("second.log")), QByteArray("CRITICALtwo\n"));

    writeSettings("fileName=no-such-dir/x.log\nmsgFormat={type}{msg}");
    QTRY_VERIFY_WITH_TIMEOUT(stderrText().contains("Cannot open log file "), 10000);
    qWarning("on stderr");
    QVERIFY(stderrText().endsWith(".log: No such file or directory\nWARNING on stderr\n"));

    switchTo("/dev/full");
    qCritical("lost");
    qWarning("after");
    QVERIFY(stderrText().endsWith(
        "Cannot write to log file /dev/full: No space left on device\nWARNING after\n"));
}

// Each line whole, each thread's variable its own, each thread's lines in their order.
void TestLogger::concurrentThreadsWriteWholeLines()
{
    constexpr int threads = 4;
    constexpr int perThread = 300;
    {
        const auto settings = writeSettings("fileName=threads.log\nmsgFormat={worker} {msg}");
        FileLogger logger(settings.get(), 0);
        logger.installMsgHandler();
        std::vector<std::unique_ptr<QThread>> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back(QThread::create([t] {
                Logger::set(QStringLiteral("worker"), QStringLiteral("w%1").arg(t));
                for (int i = 0; i < perThread; ++i)
                    qWarning("w%d %d", t, i);
            }));
            workers.back()->start();
        }
        for (const auto &worker : workers)
            QVERIFY(worker->wait(30000));
    }
    QList<QByteArray> lines = readFile(dir->filePath("threads.log")).split('\n');
    QCOMPARE(lines.takeLast(), QByteArray());
    QCOMPARE(lines.size(), threads * perThread);
    QVector<int> next(threads, 0);
    for (const QByteArray &line : lines) {
        const int t = qBound(0, line.mid(1, 1).toInt(), threads - 1);
        QCOMPARE(line, QStringLiteral("w%1 w%1 %2").arg(t).arg(next[t]++).toUtf8());
    }
}

void TestLogger::fatalMessageIsWrittenThenAborts()
{
    writeSettings("fileName=fatal.log\nmsgFormat={type}{msg}");
    QProcess child;
    child.start(
        QCoreApplication::applicationFilePath(), {QStringLiteral("--fatal-child"), iniPath});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QCOMPARE(readFile(dir->filePath("fatal.log")), QByteArray("FATAL   stopping here\n"));
}

// What the end-to-end log test (test_logsafety) does not show of the rule: any case, any form
// field holding the word; an escaped quote inside a JSON value, a number, other members.
void TestLogger::redactsPasswords()
{
    QCOMPARE(redact::formBody("oldPassWord=a&b=c"), QStringLiteral("oldPassWord=***&b=c"));
    const char *const other = R"({"passwd":"x","name":"password"})";
    for (const auto &[text, shown] :
        {std::pair {R"({"password" : "a\"b", "id":1})", R"({"password" : "***", "id":1})"},
            {"{\n    \"Password\": 1234,\n    \"x\": 2\n}",
                "{\n    \"Password\": \"***\",\n    \"x\": 2\n}"},
            {other, other}})
        QCOMPARE(redact::json(text), QString(shown));
}

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--fatal-child") == 0)
        return fatalChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestLogger test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_logger.moc"
