#include "crypto/des.h"
#include "serverprocess.h"

#include <QtTest>

// The browser login and the session gate against the real server: the login form, the cookie
// it sets, and what that cookie opens.
class TestBrowserLogin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void replies_data();
    void replies();
    void cookieOpensGate();
    void gateWithoutLogin_data();
    void gateWithoutLogin();
    void newOperatorLogsIn_data();
    void newOperatorLogsIn();

private:
    ServerProcess server;
};

namespace {

// The reply body as text: replies are UTF-8.
QString text(const ServerProcess::Reply &reply)
{
    return QString::fromUtf8(reply.body);
}

QByteArray hex(const QString &password)
{
    return des0_out(password).toLatin1();
}

} // namespace

void TestBrowserLogin::initTestCase()
{
    // The device may run under the C locale; texts must still travel as UTF-8.
    qputenv("LC_ALL", "C");
    server.writeConfig("[listener]\nreadTimeout=2000\n");
    QVERIFY(server.start());
}

void TestBrowserLogin::replies_data()
{
    const QByteArray password = hex("6172839405");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("cookie");
    QTest::newRow("built-in operator") << "username=dorx&password=" + password << "OK" << true;
    QTest::newRow("fields swapped") << "password=" + password + "&username=dorx"
                                    << "OK" << true;
    QTest::newRow("upper-case hex")
        << "username=dorx&password=" + password.toUpper() << "OK" << true;
    QTest::newRow("later field replaces earlier")
        << "username=x&password=00&username=dorx&password=" + password << "OK" << true;
    QTest::newRow("no name field") << "password=" + password << "没有用户名" << false;
    QTest::newRow("empty name") << "username=&password=" + password << "没有用户名" << false;
    QTest::newRow("empty body") << QByteArray() << "没有用户名" << false;
    QTest::newRow("empty password")
        << QByteArray("username=dorx&password=") << "密码不能为空" << false;
    QTest::newRow("name in other letter case")
        << "username=DORX&password=" + password << "login" << false;
    QTest::newRow("wrong password")
        << "username=dorx&password=" + hex("6172839404") << "login" << false;
    QTest::newRow("plain password instead of cipher")
        << QByteArray("username=dorx&password=6172839405") << "login" << false;
    QTest::newRow("escaped name not decoded")
        << "username=dor%78&password=" + password << "login" << false;
    QTest::newRow("unknown name") << "username=nobody&password=" + password << "login" << false;
}

void TestBrowserLogin::replies()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, reply);
    QFETCH(bool, cookie);
    const ServerProcess::Reply answer = server.post("/command/login", body);
    QCOMPARE(text(answer), reply);
    QCOMPARE(!answer.sessionId.isEmpty(), cookie);
    QVERIFY(answer.head.contains("\r\nContent-Type: text/shtml; charset=UTF-8\r\n"));
}

void TestBrowserLogin::cookieOpensGate()
{
    const ServerProcess::Reply login
        = server.post("/command/login", "username=dorx&password=" + hex("6172839405"));
    QCOMPARE(text(login), QStringLiteral("OK"));
    QVERIFY(!login.sessionId.isEmpty());

    const ServerProcess::Reply unknown = server.post("/command/nosuchthing", "", login.sessionId);
    QCOMPARE(text(unknown), QString::fromUtf8("该交易不支持"));
    // Every use renews the same session cookie.
    QCOMPARE(unknown.sessionId, login.sessionId);

    // A second login in the same session keeps the session.
    const ServerProcess::Reply again = server.post(
        "/command/login", "username=dorx&password=" + hex("6172839405"), login.sessionId);
    QCOMPARE(text(again), QStringLiteral("OK"));
    QCOMPARE(again.sessionId, login.sessionId);

    // A failed login leaves a logged-in session as it was.
    QCOMPARE(text(server.post("/command/login", "username=dorx&password=00", login.sessionId)),
        QStringLiteral("login"));
    QCOMPARE(text(server.post("/command/nosuchthing", "", login.sessionId)),
        QString::fromUtf8("该交易不支持"));

    // Another browser does not share the login.
    QCOMPARE(text(server.post("/command/nosuchthing", "")), QStringLiteral("login"));
}

void TestBrowserLogin::gateWithoutLogin_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("cookie");
    QTest::newRow("unknown command, no cookie")
        << QByteArray("/command/nosuchthing") << QByteArray();
    QTest::newRow("browser logout") << QByteArray("/command/logout") << QByteArray();
    QTest::newRow("client logout") << QByteArray("/command/tplogout") << QByteArray();
    QTest::newRow("operator list") << QByteArray("/command/operator_get") << QByteArray();
    QTest::newRow("transaction counter") << QByteArray("/command/getinfo/txid") << QByteArray();
    QTest::newRow("forged cookie") << QByteArray("/command/operator_get")
                                   << QByteArray("{00000000-0000-0000-0000-000000000000}");
}

// Without a logged-in session a gated path answers "login", with a new session cookie.
void TestBrowserLogin::gateWithoutLogin()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, cookie);
    const ServerProcess::Reply reply = server.post(path, "", cookie);
    QCOMPARE(text(reply), QStringLiteral("login"));
    QVERIFY(!reply.sessionId.isEmpty());
    QVERIFY(reply.sessionId != cookie);
    // The new session is not logged in either.
    QCOMPARE(text(server.post(path, "", reply.sessionId)), QStringLiteral("login"));
}

// Operators added by the super-user log in with the default password, whatever their names
// hold.
void TestBrowserLogin::newOperatorLogsIn_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("quote in the name") << QByteArray("o'neil");
    QTest::newRow("non-ASCII name") << QByteArray("操作员");
}

void TestBrowserLogin::newOperatorLogsIn()
{
    QFETCH(QByteArray, name);
    const QByteArray password = hex("6172839405");
    const QByteArray session
        = server.post("/command/login", "username=dorx&password=" + password).sessionId;
    QCOMPARE(text(server.post("/command/opera_add", "name=" + name + "&level=op", session)),
        QStringLiteral("OK"));
    const ServerProcess::Reply login
        = server.post("/command/login", "username=" + name + "&password=" + password);
    QCOMPARE(text(login), QStringLiteral("OK"));
    QCOMPARE(text(server.post("/command/nosuchthing", "", login.sessionId)),
        QString::fromUtf8("该交易不支持"));
}

QTEST_GUILESS_MAIN(TestBrowserLogin)
#include "test_browserlogin.moc"
