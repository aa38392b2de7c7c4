#include "httpserver/httprequest.h"
#include "httpserver/httpresponse.h"
#include "httpserver/httpsession.h"
#include "httpserver/httpsessionstore.h"

#include <QDateTime>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>

using namespace weblet;

namespace {

// A session store whose "sessions" group holds iniText; it reads the group only when made.
std::unique_ptr<HttpSessionStore> makeStore(const QByteArray &iniText = QByteArray())
{
    QTemporaryDir dir;
    QFile file(dir.filePath("test.ini"));
    if (file.open(QIODevice::WriteOnly))
        file.write("[sessions]\n" + iniText + "\n");
    file.close();
    QSettings settings(file.fileName(), QSettings::IniFormat);
    settings.beginGroup("sessions");
    return std::make_unique<HttpSessionStore>(&settings);
}

// One request/response pair as a handler sees it; the socket is never connected, so nothing is
// written anywhere.
struct Exchange
{
    explicit Exchange(const QByteArray &cookie = QByteArray())
    {
        if (!cookie.isEmpty())
            request.getCookieMap().insert("sessionid", cookie);
    }
    QByteArray setCookie()
    {
        return response.getCookies().isEmpty() ? QByteArray()
                                               : response.getCookies().first().toByteArray();
    }

    ListenerConfig config;
    HttpRequest request {config};
    QTcpSocket socket;
    HttpResponse response {&socket};
};

const QString uuid = "\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}";

} // namespace

class TestHttpSession : public QObject
{
    Q_OBJECT

private slots:
    void handlesSurviveConcurrentUse();
    void cookieAttributes_data();
    void cookieAttributes();
    void sessionFromCookie_data();
    void sessionFromCookie();
    void sessionsLeaveByExpiryOrRemoval();
    void fullStoreDropsAnUnusedSession();
};

// Copies made and dropped in several threads at once must neither lose the data nor free it
// early: the count is changed only under the session's own lock.
void TestHttpSession::handlesSurviveConcurrentUse()
{
    HttpSession session(true);
    QList<QThread *> threads;
    for (int t = 0; t < 4; ++t) {
        threads << QThread::create([session, t] {
            for (int i = 0; i < 2000; ++i) {
                HttpSession assigned;
                assigned = HttpSession(session);
                assigned.set(QByteArray::number(t), i);
            }
        });
        threads.last()->start();
    }
    for (QThread *thread : threads) {
        QVERIFY(thread->wait(60000));
        delete thread;
    }
    QCOMPARE(session.getAll().size(), 4);
    QCOMPARE(session.get("3").toInt(), 1999);
}

void TestHttpSession::cookieAttributes_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("pattern");
    const QString tail = "Max-Age=3600; SameSite=Lax; Version=1$";
    QTest::newRow("defaults") << QByteArray() << "^sessionid=" + uuid + "; " + tail;
    QTest::newRow("configured, Max-Age in whole seconds")
        << QByteArray("cookieName=sid\ncookiePath=/command\ncookieComment=c\ncookieDomain=d\n"
                      "expirationTime=1500")
        << "^sid=" + uuid
            + "; Comment=c; Domain=d; Max-Age=1; Path=/command; SameSite=Lax; Version=1$";
}

void TestHttpSession::cookieAttributes()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, pattern);
    const auto store = makeStore(ini);
    Exchange exchange;
    const HttpSession session = store->getSession(exchange.request, exchange.response);
    const QByteArray cookie = exchange.setCookie();
    QVERIFY2(QRegularExpression(pattern).match(QString::fromLatin1(cookie)).hasMatch(), cookie);
    QVERIFY(cookie.contains(session.getId()));
}

void TestHttpSession::sessionFromCookie_data()
{
    QTest::addColumn<QByteArray>("cookie"); // "live" names the stored session
    QTest::addColumn<bool>("allowCreate");
    QTest::addColumn<QString>("outcome"); // "null", "new" or "live"
    QTest::newRow("no cookie, no creation") << QByteArray() << false << "null";
    QTest::newRow("no cookie, created") << QByteArray() << true << "new";
    QTest::newRow("live cookie is refreshed") << QByteArray("live") << false << "live";
    QTest::newRow("unknown id, no creation") << QByteArray("{0}") << false << "null";
    QTest::newRow("unknown id yields a new one") << QByteArray("{0}") << true << "new";
}

void TestHttpSession::sessionFromCookie()
{
    QFETCH(QByteArray, cookie);
    QFETCH(bool, allowCreate);
    QFETCH(QString, outcome);
    const auto store = makeStore();
    Exchange login;
    HttpSession live = store->getSession(login.request, login.response);
    live.set("username", "dorx");
    if (cookie == "{0}")
        QTest::ignoreMessage(
            QtDebugMsg, "HttpSessionStore: received invalid session cookie with ID {0}***");
    Exchange exchange(cookie == "live" ? live.getId() : cookie);
    const HttpSession session = store->getSession(exchange.request, exchange.response, allowCreate);
    QCOMPARE(session.isNull(), outcome == "null");
    QCOMPARE(session.getId() == live.getId(), outcome == "live");
    QCOMPARE(session.get("username").isValid(), outcome == "live");
    // Every session handed out renews the browser's cookie; a null one sets none.
    QCOMPARE(
        exchange.setCookie().startsWith("sessionid=" + session.getId() + ";"), outcome != "null");
    QCOMPARE(store->getSession(session.getId()).isNull(), outcome == "null");
    // The login handler and the command gate may both ask while serving one request.
    if (!session.isNull())
        QCOMPARE(store->getSession(exchange.request, exchange.response).getId(), session.getId());
}

// A session leaves the store by the expiry scan or by removal; a handle still held keeps its
// data, but the cookie finds nothing any more.
void TestHttpSession::sessionsLeaveByExpiryOrRemoval()
{
    const auto store = makeStore("expirationTime=1000");
    QSignalSpy deleted(store.get(), &HttpSessionStore::sessionDeleted);
    Exchange first;
    const HttpSession idle = store->getSession(first.request, first.response);
    Exchange second;
    HttpSession used = store->getSession(second.request, second.response);
    used.set("username", "dorx");

    // Reading the time through a held handle does not count as a use.
    QTRY_VERIFY_WITH_TIMEOUT(
        QDateTime::currentMSecsSinceEpoch() - idle.getLastAccess() > 1500, 20000);
    // Idle for longer than the expiration time, it is still found until the scan runs.
    Exchange beforeScan(idle.getId());
    QCOMPARE(store->getSessionId(beforeScan.request, beforeScan.response), idle.getId());
    store->getSession(used.getId());
    // The log tells sessions apart by the start of their ids, never shows a whole one.
    QTest::ignoreMessage(QtDebugMsg,
        qPrintable("HttpSessionStore: session " + idle.getId().left(4) + "*** expired"));
    store->sessionTimerEvent();
    QVERIFY(store->getSession(idle.getId()).isNull());
    QVERIFY(!store->getSession(used.getId()).isNull());

    store->removeSession(used);
    Exchange afterRemoval(used.getId());
    QVERIFY(store->getSession(afterRemoval.request, afterRemoval.response, false).isNull());
    QCOMPARE(used.get("username").toString(), QStringLiteral("dorx"));
    QCOMPARE(deleted, (QList<QVariantList> {{idle.getId()}, {used.getId()}}));
}

// Clients that never log in cannot grow the store without bound, nor push out an operator; once
// logged out, the operator's session is as expendable as any other.
void TestHttpSession::fullStoreDropsAnUnusedSession()
{
    const auto store = makeStore("maxSessions=3");
    QSignalSpy deleted(store.get(), &HttpSessionStore::sessionDeleted);
    QList<HttpSession> sessions;
    for (int i = 0; i < 5; ++i) {
        Exchange exchange;
        sessions << store->getSession(exchange.request, exchange.response);
        sessions.first().set("username", "dorx"); // the oldest, but logged in
    }
    QCOMPARE(deleted.count(), 2);
    QCOMPARE(deleted.at(0).at(0).toByteArray(), sessions.at(1).getId());
    QCOMPARE(deleted.at(1).at(0).toByteArray(), sessions.at(2).getId());
    for (int i : {0, 3, 4})
        QVERIFY(!store->getSession(sessions.at(i).getId()).isNull());

    sessions.first().remove("username");
    Exchange next;
    store->getSession(next.request, next.response);
    QCOMPARE(deleted.count(), 3);
    QCOMPARE(deleted.at(2).at(0).toByteArray(), sessions.at(0).getId());
}

QTEST_GUILESS_MAIN(TestHttpSession)
#include "test_httpsession.moc"
