#include "crypto/aescipher.h"
#include "crypto/des.h"
#include "serverprocess.h"

#include <QtTest>

// The browser login and the command paths' session gate against the real server: the login
// form, the cookie it sets, which paths that cookie opens, and which need none. Which operators
// and passwords the database accepts is the operator database's own test; logouts and the
// management client's login are the command tests'.
class TestBrowserLogin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void routesByPrefix_data();
    void routesByPrefix();
    void replies_data();
    void replies();
    void failedLoginKeepsTheSession();
    void gate_data();
    void gate();
    void ungatedPaths_data();
    void ungatedPaths();

private:
    QByteArray logIn();

    ServerProcess server;
};

namespace {

const QByteArray password = des0_out(QStringLiteral("6172839405")).toLatin1();
const QString unsupported = QString::fromUtf8("该交易不支持");

QString text(const ServerProcess::Reply &reply)
{
    return QString::fromUtf8(reply.body);
}

} // namespace

void TestBrowserLogin::initTestCase()
{
    // The device may run under the C locale; texts must still travel as UTF-8.
    qputenv("LC_ALL", "C");
    server.writeConfig("[listener]\nreadTimeout=2000\n");
    QVERIFY(server.start());
}

QByteArray TestBrowserLogin::logIn()
{
    const ServerProcess::Reply reply
        = server.post("/command/login", "username=dorx&password=" + password);
    return reply.body == "OK" ? reply.sessionId : QByteArray();
}

// The request mapper's case-sensitive prefixes: the login handler answers an empty form with
// "没有用户名", the command handler a caller without login with "login" (a face notice with
// nothing), the file handler with 404 (no document root here).
void TestBrowserLogin::routesByPrefix_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("reply");
    QTest::newRow("login with more letters")
        << QByteArray("/command/login/x") << QString::fromUtf8("没有用户名");
    QTest::newRow("login word in other case is a command")
        << QByteArray("/command/Login") << "login";
    QTest::newRow("command with more letters") << QByteArray("/commandx") << "login";
    QTest::newRow("face notice and more") << QByteArray("/FacePostMessage2?a=b") << "";
    QTest::newRow("face notice in lower case is a file")
        << QByteArray("/facepostmessage") << "404 not found";
}

void TestBrowserLogin::routesByPrefix()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, reply);
    QCOMPARE(text(server.post(path, "")), reply);
}

void TestBrowserLogin::replies_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("reply");
    QTest::newRow("fields in any order, the later of a name wins")
        << "password=" + password + "&username=x&username=dorx"
        << "OK";
    QTest::newRow("no name") << "password=" + password << QString::fromUtf8("没有用户名");
    QTest::newRow("empty password")
        << QByteArray("username=dorx&password=") << QString::fromUtf8("密码不能为空");
    QTest::newRow("wrong password")
        << "username=dorx&password=" + password.left(15) + '0' << "login";
}

// Only a login that succeeds makes a session.
void TestBrowserLogin::replies()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, reply);
    const ServerProcess::Reply answer = server.post("/command/login", body);
    QCOMPARE(text(answer), reply);
    QCOMPARE(!answer.sessionId.isEmpty(), reply == "OK");
    QVERIFY(answer.head.contains("\r\nContent-Type: text/shtml; charset=UTF-8\r\n"));
}

// A failed login leaves a logged-in session as it was; another browser shares nothing.
void TestBrowserLogin::failedLoginKeepsTheSession()
{
    const QByteArray session = logIn();
    QVERIFY(!session.isEmpty());
    QCOMPARE(text(server.post("/command/login", "username=dorx&password=00", session)), "login");
    const ServerProcess::Reply unknown = server.post("/command/nosuchthing", "", session);
    QCOMPARE(text(unknown), unsupported);
    QCOMPARE(unknown.sessionId, session);
    QCOMPARE(text(server.post("/command/nosuchthing", "")), QStringLiteral("login"));
}

// One row per way through the gate. Reboot, factory default and the like must never run for a
// caller without a login: the reply is the plain "login" together with a new session cookie,
// which is not logged in either.
void TestBrowserLogin::gate_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("cookie"); // "live": a logged-in session's
    QTest::addColumn<QString>("reply");
    QTest::newRow("gated command without login")
        << QByteArray("/command/reboot") << QByteArray() << "login";
    QTest::newRow("ungated prefix in other letter case")
        << QByteArray("/command/Active") << QByteArray() << "login";
    QTest::newRow("ungated word later in the path")
        << QByteArray("/command/x/active") << QByteArray() << "login";
    QTest::newRow("forged cookie")
        << QByteArray("/command/operator_get")
        << QByteArray("{00000000-0000-0000-0000-000000000000}") << "login";
    QTest::newRow("unknown command")
        << QByteArray("/command/nosuchthing") << QByteArray("live") << unsupported;
    QTest::newRow("known command in other letter case")
        << QByteArray("/command/LOGOUT") << QByteArray("live") << unsupported;
    QTest::newRow("prefix of a command")
        << QByteArray("/command/getinfo") << QByteArray("live") << unsupported;
}

void TestBrowserLogin::gate()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, cookie);
    QFETCH(QString, reply);
    if (cookie == "live")
        cookie = logIn();
    const ServerProcess::Reply answer = server.post(path, "isActive=?", cookie);
    QCOMPARE(text(answer), reply);
    if (reply == "login") {
        QVERIFY(!answer.sessionId.isEmpty());
        QVERIFY(answer.sessionId != cookie);
        QCOMPARE(text(server.post(path, "", answer.sessionId)), QStringLiteral("login"));
    }
}

void TestBrowserLogin::ungatedPaths_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("device account, longer path")
        << QByteArray("/command/activex") << QByteArray("isActive=?") << QByteArray("isActive=0");
    // The login command answers an unreadable body with code 6 (no serial number is set).
    const QByteArray six = "{\n    \"devicesn\": \"\",\n    \"id\": \"\",\n    \"respond\": 6\n}\n";
    QTest::newRow("client login") << QByteArray("/command/tplogin") << QByteArray("x")
                                  << AesCipher::Crypt(AesCipher::AES_128, AesCipher::ECB, six,
                                         "KQWZ5830271946mv", QByteArray(), AesCipher::ZERO)
                                         .toBase64();
}

// Served without a login and without making a session.
void TestBrowserLogin::ungatedPaths()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, reply);
    const ServerProcess::Reply answer = server.post(path, body);
    QCOMPARE(answer.body, reply);
    QCOMPARE(answer.sessionId, QByteArray());
}

QTEST_GUILESS_MAIN(TestBrowserLogin)
#include "test_browserlogin.moc"
