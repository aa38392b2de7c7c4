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

using namespace weblet;

class TestHttpSession : public QObject
{
    Q_OBJECT

private slots:
    void handlesShareData();
    void nullSessionIgnoresWrites();
    void handlesSurviveConcurrentUse();

    void cookieAttributes_data();
    void cookieAttributes();
    void noCookieWithoutCreate();
    void sameSessionWithinOneRequest();
    void cookieFindsSessionAgain();
    void unknownIdIsNoSession();
    void idleSessionsExpireAtScan();
    void removedSessionIsGone();
};

namespace {

// A session store on a "sessions" group holding iniText, in a temporary INI file.
class StoreFixture
{
public:
    explicit StoreFixture(const QByteArray &iniText = QByteArray())
    {
        QFile file(dir.filePath("test.ini"));
        file.open(QIODevice::WriteOnly);
        file.write("[sessions]\n" + iniText);
        file.close();
        settings = new QSettings(file.fileName(), QSettings::IniFormat);
        settings->beginGroup("sessions");
        store = new HttpSessionStore(settings);
    }
    ~StoreFixture()
    {
        delete store;
        delete settings;
    }

    QTemporaryDir dir;
    QSettings *settings;
    HttpSessionStore *store;
};

// One request/response pair as a handler sees it; the socket is never connected, so nothing is
// written anywhere.
struct Exchange
{
    explicit Exchange(const QByteArray &cookie = QByteArray())
    {
        if (!cookie.isEmpty())
            request.getCookieMap().insert("sessionid", cookie);
    }
    QByteArray setCookie(const QByteArray &name = "sessionid")
    {
        return response.getCookies().contains(name)
            ? response.getCookies().value(name).toByteArray()
            : QByteArray();
    }

    ListenerConfig config;
    HttpRequest request {config};
    QTcpSocket socket;
    HttpResponse response {&socket};
};

const QString uuid = "\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}";

} // namespace

void TestHttpSession::handlesShareData()
{
    HttpSession session(true);
    QCOMPARE(session.getId().size(), 38);
    QVERIFY(!session.isNull());
    HttpSession copy(session);
    copy.set("username", "dorx");
    QCOMPARE(session.get("username").toString(), QStringLiteral("dorx"));

    HttpSession assigned;
    assigned = session;
    QCOMPARE(assigned.getId(), session.getId());
    assigned.remove("username");
    QVERIFY(!session.contains("username"));
    QVERIFY(session.getAll().isEmpty());
    QVERIFY(HttpSession(true).getId() != session.getId());

    // Assigning a session away from the last handle of other data deletes that data.
    QTest::ignoreMessage(QtDebugMsg, "HttpSession: deleting old data");
    HttpSession other(true);
    other = session;
    QTest::ignoreMessage(QtDebugMsg, "HttpSession: deleting data");
    {
        HttpSession lonely(true);
    }
}

void TestHttpSession::nullSessionIgnoresWrites()
{
    HttpSession session;
    QVERIFY(session.isNull());
    session.set("username", "dorx");
    session.setLastAccess();
    QVERIFY(!session.contains("username"));
    QVERIFY(!session.get("username").isValid());
    QVERIFY(session.getAll().isEmpty());
    QCOMPARE(session.getId(), QByteArray());
    QCOMPARE(session.getLastAccess(), qint64(0));
}

// Copies made and dropped in several threads at once must neither lose the data nor free it
// early: the count is changed only under the session's own lock.
void TestHttpSession::handlesSurviveConcurrentUse()
{
    HttpSession session(true);
    QList<QThread *> threads;
    for (int t = 0; t < 4; ++t) {
        threads << QThread::create([session, t] {
            for (int i = 0; i < 2000; ++i) {
                HttpSession copy(session);
                HttpSession assigned;
                assigned = copy;
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
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("pattern");
    QTest::newRow("defaults") << QByteArray() << QByteArray("sessionid")
                              << "^sessionid=" + uuid + "; Max-Age=3600; SameSite=Lax; Version=1$";
    QTest::newRow("Max-Age is whole seconds")
        << QByteArray("expirationTime=1500\n") << QByteArray("sessionid")
        << "^sessionid=" + uuid + "; Max-Age=1; SameSite=Lax; Version=1$";
    QTest::newRow("under a second leaves Max-Age out")
        << QByteArray("expirationTime=999\n") << QByteArray("sessionid")
        << "^sessionid=" + uuid + "; SameSite=Lax; Version=1$";
    QTest::newRow("configured name, path, comment and domain")
        << QByteArray("cookieName=sid\ncookiePath=/command\ncookieComment=c\ncookieDomain=d\n")
        << QByteArray("sid")
        << "^sid=" + uuid
            + "; Comment=c; Domain=d; Max-Age=3600; Path=/command; SameSite=Lax; "
              "Version=1$";
}

void TestHttpSession::cookieAttributes()
{
    QFETCH(QByteArray, ini);
    QFETCH(QByteArray, name);
    QFETCH(QString, pattern);
    StoreFixture fixture(ini);
    Exchange exchange;
    const HttpSession session
        = fixture.store->getSession(exchange.request, exchange.response, true);
    const QByteArray cookie = exchange.setCookie(name);
    QVERIFY2(QRegularExpression(pattern).match(QString::fromLatin1(cookie)).hasMatch(), cookie);
    QVERIFY(cookie.contains(session.getId()));
}

void TestHttpSession::noCookieWithoutCreate()
{
    StoreFixture fixture;
    Exchange exchange;
    QVERIFY(fixture.store->getSession(exchange.request, exchange.response, false).isNull());
    QVERIFY(exchange.response.getCookies().isEmpty());
    QCOMPARE(fixture.store->getSessionId(exchange.request, exchange.response), QByteArray());
}

// The login handler and the command gate may both ask while serving one request.
void TestHttpSession::sameSessionWithinOneRequest()
{
    StoreFixture fixture;
    Exchange exchange;
    QTest::ignoreMessage(
        QtDebugMsg, QRegularExpression("^HttpSessionStore: create new session with ID "));
    const HttpSession first = fixture.store->getSession(exchange.request, exchange.response, true);
    const HttpSession second = fixture.store->getSession(exchange.request, exchange.response, true);
    QCOMPARE(second.getId(), first.getId());
    QCOMPARE(fixture.store->getSessionId(exchange.request, exchange.response), first.getId());
}

void TestHttpSession::cookieFindsSessionAgain()
{
    StoreFixture fixture;
    Exchange login;
    HttpSession session = fixture.store->getSession(login.request, login.response, true);
    session.set("username", "dorx");

    Exchange next(session.getId());
    const HttpSession found = fixture.store->getSession(next.request, next.response, false);
    QCOMPARE(found.getId(), session.getId());
    QCOMPARE(found.get("username").toString(), QStringLiteral("dorx"));
    // Every use renews the browser's cookie.
    QVERIFY(next.setCookie().startsWith("sessionid=" + session.getId() + ";"));
    QCOMPARE(fixture.store->getSession(session.getId()).getId(), session.getId());
}

void TestHttpSession::unknownIdIsNoSession()
{
    StoreFixture fixture;
    const QByteArray forged = "{00000000-0000-0000-0000-000000000000}";
    Exchange refused(forged);
    QTest::ignoreMessage(QtDebugMsg,
        "HttpSessionStore: received invalid session cookie with ID "
        "{00000000-0000-0000-0000-000000000000}");
    QVERIFY(fixture.store->getSession(refused.request, refused.response, false).isNull());
    QVERIFY(refused.response.getCookies().isEmpty());

    Exchange created(forged);
    const HttpSession session = fixture.store->getSession(created.request, created.response, true);
    QVERIFY(!session.isNull());
    QVERIFY(session.getId() != forged);
    QVERIFY(created.setCookie().startsWith("sessionid=" + session.getId() + ";"));
    QVERIFY(fixture.store->getSession(forged).isNull());
}

void TestHttpSession::idleSessionsExpireAtScan()
{
    StoreFixture fixture("expirationTime=2000\n");
    QSignalSpy deleted(fixture.store, &HttpSessionStore::sessionDeleted);
    Exchange first;
    const HttpSession idleSession = fixture.store->getSession(first.request, first.response, true);
    const QByteArray idle = idleSession.getId();
    Exchange second;
    const QByteArray used
        = fixture.store->getSession(second.request, second.response, true).getId();

    // Reading the time through a held handle does not count as a use.
    QTRY_VERIFY_WITH_TIMEOUT(
        QDateTime::currentMSecsSinceEpoch() - idleSession.getLastAccess() > 2000, 20000);
    // Idle for longer than the expiration time, it is still found until the scan runs.
    Exchange beforeScan(idle);
    QCOMPARE(fixture.store->getSessionId(beforeScan.request, beforeScan.response), idle);

    fixture.store->getSession(used);
    QTest::ignoreMessage(
        QtDebugMsg, qPrintable("HttpSessionStore: session " + QString(idle) + " expired"));
    fixture.store->sessionTimerEvent();
    QCOMPARE(deleted.count(), 1);
    QCOMPARE(deleted.at(0).at(0).toByteArray(), idle);
    Exchange afterScan(idle);
    QVERIFY(fixture.store->getSession(afterScan.request, afterScan.response, false).isNull());
    QCOMPARE(fixture.store->getSession(used).getId(), used);
}

void TestHttpSession::removedSessionIsGone()
{
    StoreFixture fixture;
    QSignalSpy deleted(fixture.store, &HttpSessionStore::sessionDeleted);
    Exchange login;
    HttpSession session = fixture.store->getSession(login.request, login.response, true);
    session.set("username", "dorx");
    fixture.store->removeSession(session);
    QCOMPARE(deleted.count(), 1);
    QCOMPARE(deleted.at(0).at(0).toByteArray(), session.getId());

    Exchange without(session.getId());
    QVERIFY(fixture.store->getSession(without.request, without.response, false).isNull());
    Exchange renewed(session.getId());
    const HttpSession fresh = fixture.store->getSession(renewed.request, renewed.response, true);
    QVERIFY(fresh.getId() != session.getId());
    QVERIFY(!fresh.contains("username"));
    // A handle still held keeps its data.
    QCOMPARE(session.get("username").toString(), QStringLiteral("dorx"));
}

QTEST_GUILESS_MAIN(TestHttpSession)
#include "test_httpsession.moc"
