#include "logging/filelogger.h"
#include "logging/redact.h"

#include <QtTest>

#include <memory>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace weblet;

static QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class TestLogger : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<QSettings> settings; // the loggers' view of the settings file

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
    }

    // The ring keeps the last three, the triggering warning included; another thread's message
    // stays in that thread's buffer. Return, tab, terminal escape, DEL and C1 controls are
    // escaped: one message, one line.
    void bufferAndEscapes()
    {
        writeSettings("fileName=buffer.log\nmsgFormat={type}{msg}\nminLevel=WARN\nbufferSize=3");
        FileLogger logger(settings.get(), 0);
        const std::unique_ptr<QThread> other(
            QThread::create([&logger] { logger.log(QtDebugMsg, QStringLiteral("held")); }));
        other->start();
        QVERIFY(other->wait(10000));
        for (int i = 1; i <= 5; ++i)
            logger.log(QtDebugMsg, QString::number(i));
        logger.log(QtWarningMsg, QStringLiteral("w"));
        logger.log(QtCriticalMsg, QString::fromUtf8("a\r\t\x1b[2Jb\x7f\u0085"));
        QTRY_COMPARE_WITH_TIMEOUT(readFile(dir->filePath("buffer.log")),
            QByteArray("DEBUG   4\nDEBUG   5\nWARNING w\nCRITICALa\\r\\t\\x1b[2Jb\\x7f\\x85\n"),
            10000);
    }

    void levels_data()
    {
        QTest::addColumn<QString>("level");
        QTest::addColumn<QByteArray>("printed");
        QTest::addColumn<bool>("built"); // the arguments of the debug line evaluated
        QTest::newRow("a name") << "minLevel=INFO" << QByteArray("i\nw\nc\n") << false;
        QTest::newRow("a number") << "minLevel=2" << QByteArray("c\n") << false;
        QTest::newRow("unknown: ALL") << "minLevel=warn" << QByteArray("d\ni\nw\nc\n") << true;
        QTest::newRow("buffer") << "minLevel=4\nbufferSize=2" << QByteArray("d\ni\nw\nc\n") << true;
    }

    // A debug line is built only when the installed logger writes it or holds it in a buffer.
    void levels()
    {
        QFETCH(QString, level);
        QFETCH(QByteArray, printed);
        QFETCH(bool, built);
        writeSettings("fileName=levels.log\nmsgFormat={msg}\n" + level);
        FileLogger logger(settings.get(), 0);
        logger.installMsgHandler();
        int evaluated = 0;
        qDebug("%s", ++evaluated ? "d" : "");
        qInfo("i");
        qWarning("w");
        qCritical("c");
        QCOMPARE(evaluated, built ? 1 : 0);
        QTRY_COMPARE_WITH_TIMEOUT(readFile(dir->filePath("levels.log")), printed, 10000);
    }

    void rotationKeepsAtMostMaxBackups()
    {
        writeSettings("fileName=rot.log\nmaxSize=100\nmaxBackups=2\nmsgFormat={msg}");
        FileLogger logger(settings.get(), 0);
        const QString log = dir->filePath("rot.log");
        for (int round = 1; round <= 4; ++round) {
            logger.log(QtCriticalMsg, QString::number(round) + QString(120, QLatin1Char('x')));
            QTRY_VERIFY_WITH_TIMEOUT(
                readFile(log + ".1").startsWith(QByteArray::number(round)), 10000);
        }
        QVERIFY(readFile(log + ".2").startsWith("3x") && !QFile::exists(log + ".3"));
    }

    // Each line whole, each thread's lines in their order.
    void concurrentThreadsWriteWholeLines()
    {
        const int threads = 4, perThread = 300;
        writeSettings("fileName=threads.log\nmsgFormat={msg}");
        FileLogger logger(settings.get(), 0);
        logger.installMsgHandler();
        std::vector<std::unique_ptr<QThread>> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back(QThread::create([t] {
                for (int i = 0; i < perThread; ++i)
                    qWarning("w%d %d", t, i);
            }));
            workers.back()->start();
        }
        for (const auto &worker : workers)
            QVERIFY(worker->wait(30000));
        const QString log = dir->filePath("threads.log");
        QTRY_COMPARE_WITH_TIMEOUT(readFile(log).count('\n'), threads * perThread, 10000);
        QList<QByteArray> lines = readFile(log).split('\n');
        QCOMPARE(lines.takeLast(), QByteArray());
        QVector<int> next(threads, 0);
        for (const QByteArray &line : lines) {
            const int t = qBound(0, line.mid(1, 1).toInt(), threads - 1);
            QCOMPARE(line, QStringLiteral("w%1 %2").arg(t).arg(next[t]++).toUtf8());
        }
    }

    void fatalMessageIsWrittenThenAborts()
    {
        writeSettings("fileName=fatal.log\nmsgFormat={type}{msg}");
        const pid_t child = fork();
        if (child == 0) {
            FileLogger logger(settings.get(), 0);
            logger.installMsgHandler();
            qFatal("stopping here");
            _exit(0); // a fatal message that did not abort
        }
        int status = 0;
        QVERIFY(child > 0 && waitpid(child, &status, 0) == child && WIFSIGNALED(status));
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

    // Settings are read again as the logger runs, the debug gate follows. Failures happen inside
    // the logger's own work: each complaint, and every line after it, goes to standard error
    // instead of waiting for the logger it interrupts. Last: it keeps standard error.
    void refreshAndFailuresFallBackToStandardError()
    {
        writeSettings("fileName=first.log\nminLevel=INFO");
        FileLogger logger(settings.get(), 100);
        logger.installMsgHandler();
        int built = 0;
        qDebug("%d", ++built);
        // Standard error goes to a file from here on; the test framework prints to standard output.
        QTemporaryFile errors;
        QVERIFY(errors.open() && dup2(errors.handle(), STDERR_FILENO) == STDERR_FILENO);
        const auto stderrText = [&errors] {
            fflush(stderr);
            return readFile(errors.fileName());
        };
        writeSettings("fileName=no-such-dir/x.log\nmsgFormat={type}{msg}");
        QTRY_VERIFY_WITH_TIMEOUT(stderrText().contains("Cannot open log file "), 10000);
        qDebug("%d", ++built);
        qWarning("on stderr");
        QVERIFY(stderrText().endsWith(
            ".log: No such file or directory\nDEBUG   1\nWARNING on stderr\n"));

        writeSettings("fileName=/dev/full\nmsgFormat={type}{msg}");
        QTRY_VERIFY_WITH_TIMEOUT(stderrText().contains("Logging to /dev/full\n"), 10000);
        qCritical("lost");
        qWarning("after");
        QVERIFY(stderrText().endsWith(
            "Cannot write to log file /dev/full: No space left on device\nWARNING after\n"));
    }
};

QTEST_GUILESS_MAIN(TestLogger)
#include "test_logger.moc"
