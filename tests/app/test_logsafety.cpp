#include "crypto/des.h"
#include "crypto/envelope.h"
#include "serverprocess.h"

#include <QtTest>

// What the log of the real server shows at its most talkative level: every request, body and
// session in debug lines, but never a password or a whole session id.
class TestLogSafety : public QObject
{
    Q_OBJECT

private slots:
    void secretsStayOutOfTheLog();
};

void TestLogSafety::secretsStayOutOfTheLog()
{
    ServerProcess server;
    server.writeConfig("[logging]\nfileName=server.log\nminLevel=ALL\nmsgFormat={type} {msg}\n");
    server.writeFile("sqlconfig.ini", "[General]\nDEVICESN=12345\n");
    QVERIFY(server.start());
    const QByteArray hex = des0_out("6172839405").toLatin1(),
                     newHex = des0_out("N3wSecret").toLatin1();
    const QByteArray sealed = envelope::seal(
        R"({"datas":{"password":"N3wSecret","username":"dorx"},"devicesn":"12345","id":"L1"})");
    const QByteArray browser
        = server.post("/command/login", "username=dorx&password=" + hex).sessionId;
    QCOMPARE(server.post("/command/operator_get", "", browser).body,
        QByteArray("OK&Name=dorx&Level=超级用户"));
    QCOMPARE(server.post("/command/active", "username=door&password=devicePw").body, "OK");
    QCOMPARE(server.post("/command/password_set", "o=" + hex + "&n=" + newHex, browser).body, "OK");
    const QByteArray client = server.post("/command/tplogin", sealed).sessionId;
    server.post("/command/tplogout", sealed, client);
    server.stop();

    QFile log(server.filePath("server.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    for (const char *masked : {"DEBUG    Body:username=door&password=***\n", "DEBUG    Body:***\n",
             "\"password\":\"***\""})
        QVERIFY2(text.contains(masked), masked);
    for (const QByteArray &secret : {QByteArray("6172839405"), hex, hex.toUpper(),
             QByteArray("N3wSecret"), newHex, QByteArray("devicePw"), sealed})
        QVERIFY2(!text.contains(secret), secret.constData());
    for (const QByteArray &id : {browser, client})
        QVERIFY2(!text.contains(id) && text.contains(id.left(4) + "***"), id.constData());
}

QTEST_GUILESS_MAIN(TestLogSafety)
#include "test_logsafety.moc"
