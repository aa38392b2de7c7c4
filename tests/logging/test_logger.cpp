#include "logging/logger.h"

#include <QStringList>
#include <QThread>
#include <QtTest>

using weblet::Logger;
using weblet::LogMessage;

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

QString threadText()
{
    return QStringLiteral("0x%1").arg(
        quintptr(QThread::currentThreadId()), 8, 16, QLatin1Char('0'));
}

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void levels_data();
    void levels();
    void bufferHoldsMessagesUntilOneIsPrinted();
    void buffersBelongToTheirThread();
    void clearDropsBufferAndVariables();
    void format_data();
    void format();
    void handlerRoutesFrameworkMessages();
};

void TestLogger::cleanup()
{
    // Thread variables are process-wide per thread: each test starts without any.
    CollectingLogger().clear(false, true);
}

void TestLogger::levels_data()
{
    QTest::addColumn<int>("minLevel");
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("printed");
    QTest::newRow("debug shown at debug") << int(QtDebugMsg) << int(QtDebugMsg) << true;
    QTest::newRow("debug hidden at info") << int(QtInfoMsg) << int(QtDebugMsg) << false;
    QTest::newRow("info shown at info") << int(QtInfoMsg) << int(QtInfoMsg) << true;
    QTest::newRow("info hidden at warning") << int(QtWarningMsg) << int(QtInfoMsg) << false;
    QTest::newRow("debug hidden at warning") << int(QtWarningMsg) << int(QtDebugMsg) << false;
    QTest::newRow("warning shown at warning") << int(QtWarningMsg) << int(QtWarningMsg) << true;
    QTest::newRow("warning hidden at critical") << int(QtCriticalMsg) << int(QtWarningMsg) << false;
    QTest::newRow("critical shown at critical") << int(QtCriticalMsg) << int(QtCriticalMsg) << true;
    QTest::newRow("critical hidden at fatal") << int(QtFatalMsg) << int(QtCriticalMsg) << false;
    QTest::newRow("fatal always shown") << int(QtFatalMsg) << int(QtFatalMsg) << true;
}

void TestLogger::levels()
{
    QFETCH(int, minLevel);
    QFETCH(int, type);
    QFETCH(bool, printed);
    CollectingLogger logger(QStringLiteral("{msg}"), QString(), QtMsgType(minLevel), 0);
    logger.log(QtMsgType(type), QStringLiteral("m"));
    QCOMPARE(logger.lines, printed ? QStringList {"m\n"} : QStringList());
}

void TestLogger::bufferHoldsMessagesUntilOneIsPrinted()
{
    CollectingLogger logger(QStringLiteral("{type}{msg}"), QString(), QtWarningMsg, 3);
    for (int i = 1; i <= 5; ++i)
        logger.log(QtDebugMsg, QString::number(i));
    QVERIFY(logger.lines.isEmpty());
    logger.log(QtWarningMsg, QStringLiteral("w"));
    QCOMPARE(logger.lines, (QStringList {"DEBUG   4\n", "DEBUG   5\n", "WARNING w\n"}));
    // The warning emptied the buffer: nothing from before it comes again.
    logger.log(QtCriticalMsg, QStringLiteral("c"));
    QCOMPARE(logger.lines.last(), QStringLiteral("CRITICALc\n"));
    QCOMPARE(logger.lines.size(), 4);
}

void TestLogger::buffersBelongToTheirThread()
{
    CollectingLogger logger(QStringLiteral("{msg}"), QString(), QtWarningMsg, 5);
    QThread *other = QThread::create([&logger] { logger.log(QtDebugMsg, QStringLiteral("held")); });
    other->start();
    QVERIFY(other->wait(10000));
    delete other;
    logger.log(QtWarningMsg, QStringLiteral("main"));
    QCOMPARE(logger.lines, QStringList {"main\n"});
}

void TestLogger::clearDropsBufferAndVariables()
{
    CollectingLogger logger(QStringLiteral("{msg}<{user}>"), QString(), QtWarningMsg, 5);
    Logger::set(QStringLiteral("user"), QStringLiteral("alice"));
    logger.log(QtDebugMsg, QStringLiteral("held"));
    logger.clear(true, false);
    logger.log(QtWarningMsg, QStringLiteral("a"));
    logger.clear(false, true);
    logger.log(QtWarningMsg, QStringLiteral("b"));
    QCOMPARE(logger.lines, (QStringList {"a<alice>\n", "b<{user}>\n"}));
}

void TestLogger::format_data()
{
    QTest::addColumn<QString>("msgFormat");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("line");
    QTest::newRow("type word is padded") << "{type}|{msg}" << int(QtWarningMsg) << "x"
                                         << "WARNING |x\n";
    QTest::newRow("critical fills the width") << "{type}|{msg}" << int(QtCriticalMsg) << "x"
                                              << "CRITICAL|x\n";
    QTest::newRow("info word") << "{type}" << int(QtInfoMsg) << ""
                               << "INFO    \n";
    QTest::newRow("type number") << "{typeNr}" << int(QtInfoMsg) << ""
                                 << "4\n";
    QTest::newRow("unknown type keeps the placeholder") << "{type}" << 9 << ""
                                                        << "{type}\n";
    QTest::newRow("no call site: line 0, empty file and function")
        << "{file}:{function}:{line}" << int(QtDebugMsg) << ""
        << "::0\n";
    QTest::newRow("placeholder inside the message is expanded")
        << "{msg}" << int(QtDebugMsg) << "at {line}"
        << "at 0\n";
    QTest::newRow("thread id in hex") << "{thread}" << int(QtDebugMsg) << "" << threadText() + "\n";
    QTest::newRow("thread variable") << "{user}: {msg}" << int(QtDebugMsg) << "m"
                                     << "alice: m\n";
    QTest::newRow("unset variable stays") << "{nobody}" << int(QtDebugMsg) << ""
                                          << "{nobody}\n";
    QTest::newRow("every occurrence") << "{msg}{msg}" << int(QtDebugMsg) << "ab"
                                      << "abab\n";
    QTest::newRow("timestamp format")
        << "{timestamp}" << int(QtDebugMsg) << "" << QStringLiteral("T\n");
}

void TestLogger::format()
{
    QFETCH(QString, msgFormat);
    QFETCH(int, type);
    QFETCH(QString, message);
    QFETCH(QString, line);
    Logger::set(QStringLiteral("user"), QStringLiteral("alice"));
    CollectingLogger logger(msgFormat, QStringLiteral("'T'"), QtDebugMsg, 0);
    logger.log(QtMsgType(type), message);
    QCOMPARE(logger.lines, QStringList {line});
}

void TestLogger::handlerRoutesFrameworkMessages()
{
    const QtMessageHandler testHandler = qInstallMessageHandler(nullptr);
    const QtMessageHandler defaultHandler = qInstallMessageHandler(nullptr);
    QStringList lines;
    {
        CollectingLogger logger(QStringLiteral("{type}{msg}"), QString(), QtDebugMsg, 0);
        logger.installMsgHandler();
        qWarning("routed %d", 1);
        qInfo("too");
        lines = logger.lines;
    }
    // The destroyed logger put the framework's default handler back.
    const QtMessageHandler afterwards = qInstallMessageHandler(testHandler);
    QVERIFY(afterwards == defaultHandler);
    QCOMPARE(lines, (QStringList {"WARNING routed 1\n", "INFO    too\n"}));
}

QTEST_GUILESS_MAIN(TestLogger)
#include "test_logger.moc"
