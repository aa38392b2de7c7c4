#include "crypto/des.h"
#include "serverprocess.h"

#include <QtTest>

// The command paths' session gate against the real server: which paths need a logged-in
// session, and what a logged-in session gets for a path that no command serves.
class TestTxDealRouting : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void gatedPathsNeedLogin_data();
    void gatedPathsNeedLogin();
    void ungatedPathsServeWithoutLogin_data();
    void ungatedPathsServeWithoutLogin();
    void unknownPathsWhenLoggedIn_data();
    void unknownPathsWhenLoggedIn();
    void logoutClosesGate();

private:
    QByteArray logIn();

    ServerProcess server;
};

void TestTxDealRouting::initTestCase()
{
    server.writeConfig("[listener]\nreadTimeout=2000\n");
    QVERIFY(server.start());
}

QByteArray TestTxDealRouting::logIn()
{
    const ServerProcess::Reply reply = server.post(
        "/command/login", "username=dorx&password=" + des0_out("6172839405").toLatin1());
    return reply.body == "OK" ? reply.sessionId : QByteArray();
}

void TestTxDealRouting::gatedPathsNeedLogin_data()
{
    QTest::addColumn<QByteArray>("path");
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
        QTest::newRow(path) << QByteArray(path);
    QTest::newRow("ungated prefix in other letter case") << QByteArray("/command/Active");
    QTest::newRow("ungated word later in the path") << QByteArray("/command/x/active");
}

// Reboot, factory default and the like must never run for a caller without a login; the reply
// is the plain "login" together with a new session cookie.
void TestTxDealRouting::gatedPathsNeedLogin()
{
    QFETCH(QByteArray, path);
    const ServerProcess::Reply reply = server.post(path, "isActive=?");
    QCOMPARE(reply.body, QByteArray("login"));
    QVERIFY(!reply.sessionId.isEmpty());
}

void TestTxDealRouting::ungatedPathsServeWithoutLogin_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("device account query")
        << QByteArray("/command/active") << QByteArray("isActive=?") << QByteArray("isActive=0");
    QTest::newRow("device account query, longer path")
        << QByteArray("/command/activex") << QByteArray("isActive=?") << QByteArray("isActive=0");
}

void TestTxDealRouting::ungatedPathsServeWithoutLogin()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, reply);
    const ServerProcess::Reply answer = server.post(path, body);
    QCOMPARE(answer.body, reply);
    // No session is needed, so none is made.
    QCOMPARE(answer.sessionId, QByteArray());
}

void TestTxDealRouting::unknownPathsWhenLoggedIn_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("unknown command") << QByteArray("/command/nosuchthing");
    QTest::newRow("command root") << QByteArray("/command");
    QTest::newRow("command with more letters") << QByteArray("/commandx");
    QTest::newRow("known command in other letter case") << QByteArray("/command/LOGOUT");
    QTest::newRow("prefix of a command") << QByteArray("/command/getinfo");
}

void TestTxDealRouting::unknownPathsWhenLoggedIn()
{
    QFETCH(QByteArray, path);
    const QByteArray session = logIn();
    QVERIFY(!session.isEmpty());
    const ServerProcess::Reply reply = server.post(path, "", session);
    QCOMPARE(QString::fromUtf8(reply.body), QString::fromUtf8("该交易不支持"));
    QCOMPARE(reply.sessionId, session);
}

// The browser logout passes the gate once; the same cookie is then refused again.
void TestTxDealRouting::logoutClosesGate()
{
    const QByteArray session = logIn();
    QVERIFY(!session.isEmpty());
    QCOMPARE(server.post("/command/logout", "", session).body, QByteArray("OK"));
    QCOMPARE(server.post("/command/logout", "", session).body, QByteArray("login"));
    QCOMPARE(server.post("/command/nosuchthing", "", session).body, QByteArray("login"));
}

QTEST_GUILESS_MAIN(TestTxDealRouting)
#include "test_txdealrouting.moc"
