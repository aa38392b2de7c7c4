#include "commands/loginthrottle.h"

#include <QtTest>

// The login throttle on a clock of the test's own: a row is a history of login attempts from one
// address, and the lockout warnings it must log, each once.
class TestLoginThrottle : public QObject
{
    Q_OBJECT

private slots:
    void history_data();
    void history();
};

static QStringList warnings;

void TestLoginThrottle::history_data()
{
    // "f": a wrong password, checked and refused; "s": the right one, accepted; "x": the right
    // one, refused unchecked; "B": the right one from another address; "+N": N ms pass; "5f":
    // five "f".
    QTest::addColumn<QString>("events");
    QTest::addColumn<QList<int>>("lockouts"); // seconds, in the order logged
    QTest::newRow("failures older than the window drop out") << "4f +600001 f s" << QList<int> {};
    QTest::newRow("each lockout doubles, never beyond the maximum")
        << "5f +60000 5f +120000 5f +240000 5f +480000 5f +899999 x +1 s"
        << QList<int> {60, 120, 240, 480, 900};
    QTest::newRow("success resets the count") << "4f s 4f s" << QList<int> {};
    QTest::newRow("success resets the doubling")
        << "5f +60000 s 5f +59999 x +1 s" << QList<int> {60, 60};
    QTest::newRow("a quiet window resets the doubling")
        << "5f +660001 5f +59999 x +1 s" << QList<int> {60, 60};
    QTest::newRow("refused attempts neither count nor extend")
        << "5f +30000 x x x x x +30000 s" << QList<int> {60};
    QTest::newRow("fifth failure locks, other addresses unaffected") << "5f B x" << QList<int> {60};
}

void TestLoginThrottle::history()
{
    QFETCH(QString, events);
    QFETCH(QList<int>, lockouts);
    qint64 now = 1000;
    LoginThrottle throttle(LoginThrottleConfig(), [&now] { return now; });
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type == QtWarningMsg)
                warnings << text;
        });
    const auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });
    for (QString event : events.split(' ')) {
        if (event.startsWith('+')) {
            now += event.mid(1).toLongLong();
            continue;
        }
        const int times = event.front().isDigit() ? event.left(1).toInt() : 1;
        event = event.right(1);
        for (int i = 0; i < times; ++i) {
            bool checked = false;
            const bool accepted = throttle.attempt(event == "B" ? "10.0.0.2" : "10.0.0.1", [&] {
                checked = true;
                return event != "f";
            });
            QCOMPARE(checked, event != "x");
            QCOMPARE(accepted, event == "s" || event == "B");
        }
    }
    QStringList expected;
    for (int seconds : lockouts)
        expected << QStringLiteral("LoginThrottle: 5 failed logins from 10.0.0.1; its logins are "
                                   "refused for %1 s")
                        .arg(seconds);
    QCOMPARE(warnings, expected);
}

QTEST_GUILESS_MAIN(TestLoginThrottle)
#include "test_loginthrottle.moc"
