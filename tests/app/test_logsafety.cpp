#include "crypto/des.h"
#include "crypto/envelope.h"
#include "serverprocess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

// What the log of the real server shows at its most talkative level: every request, body and
// session in debug lines, but never a password or a whole session id.
class TestLogSafety : public QObject
{
    Q_OBJECT

private slots:
    void secretsStayOutOfTheLog();
};

namespace {

const QByteArray password = "6172839405";
const QByteArray passwordHex = des0_out(QString::fromLatin1(password)).toLatin1();

QByteArray sealedLogin(const QByteArray &name, const QByteArray &secret)
{
    const QJsonObject datas {
        {"username", QString::fromUtf8(name)}, {"password", QString::fromUtf8(secret)}};
    const QJsonObject message {{"id", "L1"}, {"devicesn", "12345"}, {"datas", datas}};
    return envelope::seal(QJsonDocument(message).toJson(QJsonDocument::Compact));
}

} // namespace

void TestLogSafety::secretsStayOutOfTheLog()
{
    ServerProcess server;
    server.writeConfig("[logging]\nfileName=server.log\nminLevel=ALL\nmsgFormat={type} {msg}\n");
    server.writeFile("sqlconfig.ini", "[General]\nDEVICESN=12345\n");
    QVERIFY(server.start());
    const QByteArray newPassword = "N3wSecret";
    const QByteArray newHex = des0_out(QString::fromLatin1(newPassword)).toLatin1();
    QList<QByteArray> sessions;
    const auto post = [&](const QByteArray &path, const QByteArray &body,
                          const QByteArray &session = QByteArray()) {
        const ServerProcess::Reply reply = server.post(path, body, session);
        if (!reply.sessionId.isEmpty())
            sessions << reply.sessionId;
        return reply;
    };
    const QByteArray browser
        = post("/command/login", "username=dorx&password=" + passwordHex).sessionId;
    QCOMPARE(
        post("/command/operator_get", "", browser).body, QByteArray("OK&Name=dorx&Level=超级用户"));
    QCOMPARE(post("/command/active", "username=door&password=devicePw").body, QByteArray("OK"));
    QCOMPARE(post("/command/password_set", "o=" + passwordHex + "&n=" + newHex, browser).body,
        QByteArray("OK"));
    const QByteArray sealed = sealedLogin("dorx", newPassword);
    const QByteArray client = post("/command/tplogin", sealed).sessionId;
    QVERIFY(!client.isEmpty());
    post("/command/tplogout", sealedLogin("dorx", newPassword), client);
    server.stop();

    QFile log(server.filePath("server.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    QVERIFY2(text.contains("DEBUG    Body:username=door&password=***\n"), text);
    QVERIFY(text.contains("DEBUG    Body:***\n"));
    QVERIFY(text.contains("\"password\":\"***\""));
    for (const QByteArray &secret : {password, passwordHex, passwordHex.toUpper(), newPassword,
             newHex, QByteArray("devicePw"), sealed})
        QVERIFY2(!text.contains(secret), secret.constData());
    QVERIFY(!sessions.isEmpty());
    for (const QByteArray &id : sessions) {
        QVERIFY2(!text.contains(id), id.constData());
        QVERIFY2(text.contains(id.left(4) + "***"), id.constData());
    }
}

QTEST_GUILESS_MAIN(TestLogSafety)
#include "test_logsafety.moc"
