#include "logging/filelogger.h"
#include "logging/redact.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>
#include <QtTest>

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

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<QSettings> settings; // the loggers' view of the settings file
    QtMessageHandler testHandler = nullptr; // the test framework's, replaced by an installed logger

    // Replaces the settings file's lines (its directory resolves relative log file names).
    void writeSettings(const QString &lines)
    {
        QFile ini(settings->fileName());
        QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write(lines.toUtf8() + '\n') > 0);
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        settings = std::make_unique<QSettings>(dir->filePath("test.ini"), QSettings::IniFormat);
        testHandler = qInstallMessageHandler(nullptr);
        qInstallMessageHandler(testHandler);
    }

    void cleanup()
    {
        qInstallMessageHandler(testHandler);
        // Thread variables are process-wide per thread: each test starts without any.
        CollectingLogger().clear(false, true);
    }

    void bufferAndFormat()
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

        // Return, tab, terminal escape, DEL and C1 controls are escaped: one message, one line.
        Logger::set(QStringLiteral("user"), QStringLiteral("alice"));
        CollectingLogger formatted("{timestamp}{type}{user}{nobody}{msg}", "'T'", QtDebugMsg, 0);
        formatted.log(QtWarningMsg, QStringLiteral("a\r\t\x1b[2Jb"));
        formatted.log(QtCriticalMsg, QString::fromUtf8("\x7f\u0085"));
        QCOMPARE(formatted.lines,
            QStringList({"TWARNING alice{nobody}a\\r\\t\\x1b[2Jb\n",
                "TCRITICALalice{nobody}\\x7f\\x85\n"}));
    }

    void levels_data()
    {
        QTest::addColumn<QString>("level");
        QTest::addColumn<QByteArray>("printed");
        QTest::addColumn<bool>("built"); // the arguments of the debug line evaluated
        QTest::newRow("a name") << "minLevel=INFO" << QByteArray("i\nw\nc\n") << false;
        QTest::newRow("a number") << "minLevel=2" << QByteArray("c\n") << false;
        QTest::newRow("unknown word: ALL")
            << "minLevel=warning" << QByteArray("d\ni\nw\nc\n") << true;
        QTest::newRow("a buffer holds debug lines")
            << "minLevel=INFO\nbufferSize=2" << QByteArray("d\ni\nw\nc\n") << true;
    }

    // A debug line is built only when the installed logger writes it or holds it in a buffer;
    // the level follows a refresh of the settings.
    void levels()
    {
        QFETCH(QString, level);
        QFETCH(QByteArray, printed);
        QFETCH(bool, built);
        int evaluated = 0;
        const auto argument = [&evaluated] { return ++evaluated ? "d" : ""; };
        writeSettings("fileName=levels.log\nmsgFormat={msg}\n" + level);
        FileLogger logger(settings.get(), 50);
        logger.installMsgHandler();
        qDebug("%s", argument());
        qInfo("i");
        qWarning("w");
        qCritical("c");
        QCOMPARE(evaluated, built ? 1 : 0);
        QTRY_COMPARE_WITH_TIMEOUT(readFile(dir->filePath("levels.log")), printed, 10000);
        writeSettings(QStringLiteral("fileName=levels.log\nminLevel=") + (built ? "WARN" : "ALL"));
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const int before = evaluated;
                qDebug("%s", argument());
                return (evaluated > before) != built;
            }(),
            10000);
    }

    void rotationKeepsAtMostMaxBackups()
    {
        writeSettings("fileName=rot.log\nmaxSize=100\nmaxBackups=2\nmsgFormat={msg}");
        FileLogger logger(settings.get(), 0);
        const QString log = dir->filePath("rot.log");
        for (int round = 1; round <= 4; ++round) {
            const QString marker = QStringLiteral("round %1 ").arg(round);
            logger.log(QtCriticalMsg, marker + QString(120, QLatin1Char('x')));
            QTRY_VERIFY_WITH_TIMEOUT(readFile(log + ".1").startsWith(marker.toUtf8()), 10000);
        }
        QVERIFY(readFile(log + ".2").startsWith("round 3 "));
        QVERIFY(!QFile::exists(log + ".3") && QFile::exists(log));
    }

    // Each line whole, each thread's variable its own, each thread's lines in their order.
    void concurrentThreadsWriteWholeLines()
    {
        const int threads = 4, perThread = 300;
        {
            writeSettings("fileName=threads.log\nmsgFormat={worker} {msg}");
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
        QVector<int> next(threads, 0);
        for (const QByteArray &line : lines) {
            const int t = qBound(0, line.mid(1, 1).toInt(), threads - 1);
            QCOMPARE(line, QStringLiteral("w%1 w%1 %2").arg(t).arg(next[t]++).toUtf8());
        }
        QCOMPARE(next, QVector<int>(threads, perThread));
    }

    // The child is this test run again with the settings file as its argument (see main).
    void fatalMessageIsWrittenThenAborts()
    {
        writeSettings("fileName=fatal.log\nmsgFormat={type}{msg}");
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--fatal", settings->fileName()});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QCOMPARE(readFile(dir->filePath("fatal.log")), QByteArray("FATAL   stopping here\n"));
    }

    // What the end-to-end log test (test_logsafety) does not show of the rule: any case, any form
    // field holding the word; an escaped quote inside a JSON value, a number, other members.
    void redactsPasswords()
    {
        QCOMPARE(redact::formBody("oldPassWord=a&b=c"), QStringLiteral("oldPassWord=***&b=c"));
        QCOMPARE(redact::json("{\"password\" : \"a\\\"b\", \"Password\": 12, \"x\":\"password\"}"),
            QString("{\"password\" : \"***\", \"Password\": \"***\", \"x\":\"password\"}"));
    }

    // The failures happen inside the logger's own work: each complaint must reach standard error
    // instead of waiting for the logger it interrupts, and so must every line after it. Last: it
    // keeps standard error.
    void fileSwitchesAndFailuresFallBackToStandardError()
    {
        writeSettings("fileName=first.log\nmsgFormat={type}{msg}");
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
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--fatal") == 0) {
        QSettings settings(QString::fromLocal8Bit(argv[2]), QSettings::IniFormat);
        FileLogger logger(&settings, 0);
        logger.installMsgHandler();
        qFatal("stopping here");
    }
    TestLogger test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_logger.moc"
