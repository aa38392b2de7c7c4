#include "crypto/aescipher.h"
#include "crypto/des.h"
#include "serverprocess.h"

#include <QtTest>

// The browser login and the command paths' session gate against the real server: the login
// form, the cookie it sets, which paths that cookie opens, and which need none.
class TestBrowserLogin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void routesByPrefix_data();
    void routesByPrefix();
    void replies_data();
    void replies();
    void cookieOpensGate();
    void gateWithoutLogin_data();
    void gateWithoutLogin();
    void ungatedPaths_data();
    void ungatedPaths();
    void unknownPathsWhenLoggedIn_data();
    void unknownPathsWhenLoggedIn();

private:
    QByteArray logIn(const QByteArray &name = "dorx");

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

QByteArray TestBrowserLogin::logIn(const QByteArray &name)
{
    const ServerProcess::Reply reply
        = server.post("/command/login", "username=" + name + "&password=" + password);
    return reply.body == "OK" ? reply.sessionId : QByteArray();
}

// The request mapper's case-sensitive prefixes: the login handler answers an empty form with
// "没有用户名", the command handler a caller without login with "login" (a face notice with
// nothing), the file handler with 404 (no document root here).
void TestBrowserLogin::routesByPrefix_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("reply");
    const QString login = QString::fromUtf8("没有用户名");
    QTest::newRow("browser login") << QByteArray("/command/login") << login;
    QTest::newRow("login with more letters") << QByteArray("/command/login/x") << login;
    QTest::newRow("login in other letter case") << QByteArray("/COMMAND/LOGIN") << "404 not found";
    QTest::newRow("login word in other case") << QByteArray("/command/Login") << "login";
    QTest::newRow("command with more letters") << QByteArray("/commandx") << "login";
    QTest::newRow("face notice and more") << QByteArray("/FacePostMessage2?a=b") << "";
    QTest::newRow("face notice in lower case") << QByteArray("/facepostmessage") << "404 not found";
    QTest::newRow("page") << QByteArray("/index.html") << "404 not found";
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
    const QString noName = QString::fromUtf8("没有用户名");
    QTest::newRow("built-in operator") << "username=dorx&password=" + password << "OK";
    QTest::newRow("fields swapped") << "password=" + password + "&username=dorx"
                                    << "OK";
    QTest::newRow("upper-case hex") << "username=dorx&password=" + password.toUpper() << "OK";
    QTest::newRow("later field replaces earlier")
        << "username=x&password=00&username=dorx&password=" + password << "OK";
    QTest::newRow("no name field") << "password=" + password << noName;
    QTest::newRow("empty name") << "username=&password=" + password << noName;
    QTest::newRow("empty password")
        << QByteArray("username=dorx&password=") << QString::fromUtf8("密码不能为空");
    QTest::newRow("name in other letter case") << "username=DORX&password=" + password << "login";
    QTest::newRow("wrong password")
        << "username=dorx&password=" + password.left(15) + '0' << "login";
    QTest::newRow("escaped name not decoded") << "username=dor%78&password=" + password << "login";
}

void TestBrowserLogin::replies()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, reply);
    const ServerProcess::Reply answer = server.post("/command/login", body);
    QCOMPARE(text(answer), reply);
    QCOMPARE(!answer.sessionId.isEmpty(), reply == "OK");
    QVERIFY(answer.head.contains("\r\nContent-Type: text/shtml; charset=UTF-8\r\n"));
}

void TestBrowserLogin::cookieOpensGate()
{
    const QByteArray session = logIn();
    QVERIFY(!session.isEmpty());
    const ServerProcess::Reply unknown = server.post("/command/nosuchthing", "", session);
    QCOMPARE(text(unknown), unsupported);
    QCOMPARE(unknown.sessionId, session);
    // A failed login leaves a logged-in session as it was; another browser shares nothing.
    QCOMPARE(text(server.post("/command/login", "username=dorx&password=00", session)), "login");
    QCOMPARE(text(server.post("/command/nosuchthing", "", session)), unsupported);
    QCOMPARE(text(server.post("/command/nosuchthing", "")), QStringLiteral("login"));

    // Operators added by the super-user log in with the default password, whatever their
    // names hold.
    for (const QByteArray name : {"o'neil", "操作员"}) {
        QCOMPARE(text(server.post("/command/opera_add", "name=" + name + "&t=op", session)), "OK");
        QCOMPARE(text(server.post("/command/nosuchthing", "", logIn(name))), unsupported);
    }

    // The browser logout passes the gate once; the same cookie is then refused again.
    QCOMPARE(text(server.post("/command/logout", "", session)), QStringLiteral("OK"));
    QCOMPARE(text(server.post("/command/nosuchthing", "", session)), QStringLiteral("login"));
}

void TestBrowserLogin::gateWithoutLogin_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("cookie");
    const char *const gated[] = {"/command/tplogout", "/command/person/property",
        "/command/longopen/property", "/command/ycqr", "/command/cardid/property",
        "/command/record/property", "/command/permit/property", "/command/doorset/property",
        "/command/warrant/property", "/command/timezone/property", "/command/holiday/property",
        "/command/specialday/property", "/command/stay/property", "/command/system/property",
        "/command/facedevice/property", "/command/getinfo/system", "/command/getinfo/txid",
        "/command/getinfo/person", "/command/getinfo/cardid", "/command/getinfo/record",
        "/command/getinfo/permit", "/command/getinfo/warrant", "/command/getinfo/timezone",
        "/command/getinfo/holiday", "/command/getinfo/specialday", "/command/getinfo/stay",
        "/command/netcfg_set", "/command/netcfg_get", "/command/ident_get", "/command/ident_set",
        "/command/pfset_get", "/command/pf_set", "/command/datetime_get", "/command/datetime_set",
        "/command/rebootcfg_get", "/command/rebootcfg_set", "/command/default",
        "/command/devContent_get", "/command/logout", "/command/reboot", "/command/password_set",
        "/command/version_get", "/command/upload", "/command/operator_get", "/command/opera_add",
        "/command/opera_del", "/command/opera_mdf"};
    for (const char *path : gated)
        QTest::newRow(path) << QByteArray(path) << QByteArray();
    QTest::newRow("ungated prefix in other letter case")
        << QByteArray("/command/Active") << QByteArray();
    QTest::newRow("ungated word later in the path")
        << QByteArray("/command/x/active") << QByteArray();
    QTest::newRow("forged cookie") << QByteArray("/command/operator_get")
                                   << QByteArray("{00000000-0000-0000-0000-000000000000}");
}

// Reboot, factory default and the like must never run for a caller without a login; the reply
// is the plain "login" together with a new session cookie, which is not logged in either.
void TestBrowserLogin::gateWithoutLogin()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, cookie);
    const ServerProcess::Reply reply = server.post(path, "isActive=?", cookie);
    QCOMPARE(text(reply), QStringLiteral("login"));
    QVERIFY(!reply.sessionId.isEmpty());
    QVERIFY(reply.sessionId != cookie);
    QCOMPARE(text(server.post(path, "", reply.sessionId)), QStringLiteral("login"));
}

void TestBrowserLogin::ungatedPaths_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("device account")
        << QByteArray("/command/active") << QByteArray("isActive=?") << QByteArray("isActive=0");
    QTest::newRow("device account, longer path")
        << QByteArray("/command/activex") << QByteArray("isActive=?") << QByteArray("isActive=0");
    QTest::newRow("serial number")
        << QByteArray("/command/writesn") << QByteArray("12") << QByteArray();
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

void TestBrowserLogin::unknownPathsWhenLoggedIn_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("unknown command") << QByteArray("/command/nosuchthing");
    QTest::newRow("command root") << QByteArray("/command");
    QTest::newRow("command with more letters") << QByteArray("/commandx");
    QTest::newRow("known command in other letter case") << QByteArray("/command/LOGOUT");
    QTest::newRow("prefix of a command") << QByteArray("/command/getinfo");
}

void TestBrowserLogin::unknownPathsWhenLoggedIn()
{
    QFETCH(QByteArray, path);
    const QByteArray session = logIn();
    QCOMPARE(text(server.post(path, "", session)), unsupported);
}

QTEST_GUILESS_MAIN(TestBrowserLogin)
#include "test_browserlogin.moc"
