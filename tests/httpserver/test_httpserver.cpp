#include "httpserver/httpcookie.h"
#include "httpserver/httplistener.h"
#include "httpserver/httprequest.h"
#include "httpserver/httprequesthandler.h"
#include "httpserver/httpresponse.h"
#include "httpserver/httpsession.h"
#include "httpserver/httpsessionstore.h"
#include "serverprocess.h"

#include <QBuffer>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QSemaphore>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>
#include <QtTest>

#include <functional>
#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <vector>

using namespace weblet;
using Status = HttpRequest::RequestStatus;
using Requests = std::vector<std::unique_ptr<HttpRequest>>;
using Uploads = QMap<QByteArray, QByteArray>; // form field -> uploaded content

class TestHttpServer : public QObject
{
    Q_OBJECT

private slots:
    void requestStream_data();
    void requestStream();
    void headersParametersAndCookies();
    void sizeLimits_data();
    void sizeLimits();
    void multipartUploads_data();
    void multipartUploads();
    void handlesSurviveConcurrentUse();
    void cookieAttributes();
    void sessionFromCookie_data();
    void sessionFromCookie();
    void sessionsLeaveByExpiryOrRemoval();
    void fullStoreDropsAnUnusedSession();
    void responses_data();
    void responses();
    void largeBodyStreamsWithBoundedBuffer();
    void handlerBusyUntilRequestEnds();

private:
    QTemporaryDir dir;
};

namespace {

// Feeds bytes arriving in pieces of `step` as the connection handler does (limits: 16000 bytes,
// multipart 100000).
Requests parse(const QByteArray &bytes, int step = 1 << 30)
{
    weblet::ListenerConfig config;
    config.maxMultiPartSize = 100000;
    Requests requests;
    QByteArray arrived;
    for (int at = 0; at < bytes.size(); at += step) {
        arrived += bytes.mid(at, step);
        QBuffer device(&arrived);
        device.open(QIODevice::ReadOnly);
        while (device.bytesAvailable() > 0) {
            if (requests.empty() || requests.back()->getStatus() == HttpRequest::complete)
                requests.push_back(
                    std::make_unique<HttpRequest>(config, QHostAddress(QHostAddress::LocalHost)));
            else if (requests.back()->isFinished())
                return requests;
            requests.back()->readFromSocket(&device);
        }
        const qint64 consumed = device.pos();
        device.close();
        arrived.remove(0, int(consumed));
    }
    return requests;
}

QByteArray multipart(const QByteArray &boundary, const QByteArray &body, int length = -1)
{
    return "POST /up HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=" + boundary
        + "\r\nContent-Length: " + QByteArray::number(length < 0 ? body.size() : length)
        + "\r\n\r\n" + body;
}

QByteArray filePart(const QByteArray &field, const QByteArray &data)
{
    return "--B\r\nContent-Disposition: form-data; name=\"" + field + "\"; filename=\"f\"\r\n\r\n"
        + data + (data.isEmpty() ? "" : "\r\n");
}

void addRow(const char *tag, const QByteArray &bytes, Status status, const QByteArray &text)
{
    QTest::newRow(tag) << bytes << status << text;
}

} // namespace

Q_DECLARE_METATYPE(Status)
Q_DECLARE_METATYPE(Uploads)

// Each row arrives whole and byte by byte; other framing is fuzzed (fuzz/fuzz_httprequest.cpp).
void TestHttpServer::requestStream_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Status>("status"); // of the last request
    QTest::addColumn<QByteArray>("lines");
    addRow("broken request line", "GET /\r\n\r\n", Status::aborted, "  ");
    addRow("body ends at its length",
        "PUT / HTTP/1.1\r\nContent-Length: 4\r\n\r\nbodyGET /n HTTP/1.1\r\n\r\n", Status::complete,
        "PUT / HTTP/1.1|GET /n HTTP/1.1");
    addRow("chunked without length complete at the header end",
        "PUT / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nGET /n HTTP/1.1\r\n\r\n",
        Status::complete, "PUT / HTTP/1.1|GET /n HTTP/1.1");
}

void TestHttpServer::requestStream()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Status, status);
    QFETCH(QByteArray, lines);
    for (const int step : {1 << 30, 1}) {
        if (status == Status::aborted)
            QTest::ignoreMessage(
                QtWarningMsg, "HttpRequest: received broken HTTP request, invalid first line");
        const Requests requests = parse(bytes, step);
        QList<QByteArray> parsed;
        for (const auto &r : requests)
            parsed << r->getMethod() + ' ' + r->getPath() + ' ' + r->getVersion();
        QCOMPARE(parsed.join('|'), lines);
        QCOMPARE(requests.back()->getStatus(), status);
    }
}

// What handlers read of a request; the decoding's edge cases are fuzzed. A JSON body is not a
// form.
void TestHttpServer::headersParametersAndCookies()
{
    for (const auto &[contentType, bodyIsForm] :
        {std::pair<QByteArray, bool> {"application/x-www-form-urlencoded; charset=UTF-8", true},
            {"application/json", false}}) {
        const QByteArray bytes = "POST /a%20b?x=1&y=%41+%4a&x=2 HTTP/1.1\r\nX-A: one\r\n two\r\n"
                                 "Cookie: a=1; b=\"x;y\"\r\nCookie: a=2\r\nContent-Type: "
            + contentType + "\r\nContent-Length: 7\r\n\r\nw=1%2B1";
        const Requests requests = parse(bytes);
        QCOMPARE(int(requests.size()), 1);
        HttpRequest &request = *requests.front();
        QCOMPARE(request.getStatus(), Status::complete);
        QCOMPARE(request.getPeerAddress(), QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(request.getPath(), QByteArray("/a b"));
        QCOMPARE(request.getRawPath(), QByteArray("/a%20b"));
        QCOMPARE(request.getHeader("x-a"), QByteArray("one two"));
        QCOMPARE(request.getParameter("y"), QByteArray("A J"));
        QCOMPARE(request.getParameters("x"), QList<QByteArray>({"2", "1"}));
        QCOMPARE(request.getParameter("w"), bodyIsForm ? QByteArray("1+1") : QByteArray());
        QCOMPARE(request.getBody(), QByteArray("w=1%2B1"));
        QCOMPARE(request.getCookie("a"), QByteArray("2"));
        QCOMPARE(request.getCookie("b"), QByteArray("x;y"));
    }
}

void TestHttpServer::sizeLimits_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Status>("status");
    QTest::addColumn<QByteArray>("warning");
    // `size` bytes of request line and headers announcing a body of `length` bytes.
    const auto announcing = [](int size, const QByteArray &length) {
        const QByteArray head = "POST / HTTP/1.1\r\nContent-Length: " + length + "\r\nX: ";
        return head + QByteArray(size - head.size() - 4, 'p') + "\r\n\r\n";
    };
    const QByteArray tooMany = "HttpRequest: received too many bytes";
    const QByteArray line = "GET /" + QByteArray(16000 - 18, 'a') + " HTTP/1.1\r\n";
    addRow("15990 header bytes announcing 100", announcing(15990, "100"), Status::aborted,
        "HttpRequest: expected body is too large");
    addRow("15990 header bytes announcing 10", announcing(15990, "10"), Status::readingBody, "");
    addRow("huge length", announcing(100, "99999999999"), Status::aborted,
        "HttpRequest: expected body is too large");
    addRow("negative length means no body", announcing(100, "-5"), Status::complete, "");
    addRow("exactly the limit", line + "\r\n", Status::complete, "");
    addRow("one byte beyond", line + "X\r\n", Status::aborted, tooMany);
    addRow("endless line", "GET /" + QByteArray(20000, 'a'), Status::aborted, tooMany);
    addRow("continuation lines charged for their copies",
        "GET / HTTP/1.1\r\nX: a\r\n" + QByteArray(" b\r\n").repeated(1000), Status::aborted,
        tooMany);
    addRow(
        "multipart below its limit", multipart("B", QByteArray(99999, 'v')), Status::complete, "");
    addRow("multipart of exactly its limit", multipart("B", QByteArray(100000, 'v')),
        Status::aborted, "HttpRequest: received too many multipart bytes");
    addRow("multipart announced beyond its limit", multipart("B", "", 100001), Status::aborted,
        "HttpRequest: expected multipart body is too large");
}

void TestHttpServer::sizeLimits()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Status, status);
    QFETCH(QByteArray, warning);
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, warning.constData());
    QCOMPARE(parse(bytes).back()->getStatus(), status);
}

void TestHttpServer::multipartUploads_data()
{
    QTest::addColumn<QByteArray>("boundary");
    QTest::addColumn<QByteArray>("parts"); // after a form field "note" of two lines
    QTest::addColumn<Uploads>("uploads");
    QTest::addColumn<QByteArray>("warning");
    // More than one read step, with a line that resembles a boundary.
    const QByteArray large = "one\r\n-- B\r\n" + QByteArray(70000, 'z');
    QTest::newRow("large file") << QByteArray("B") << filePart("u", large) << Uploads {{"u", large}}
                                << QByteArray();
    QTest::newRow("a fifth upload is dropped")
        << QByteArray("B")
        << filePart("a", "1") + filePart("b", "2") + filePart("c", "3") + filePart("d", "4")
            + filePart("u", "5")
        << Uploads {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}}
        << QByteArray("HttpRequest: too many uploaded files, dropping u");
}

void TestHttpServer::multipartUploads()
{
    QFETCH(QByteArray, boundary);
    QFETCH(QByteArray, parts);
    QFETCH(Uploads, uploads);
    QFETCH(QByteArray, warning);
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, warning.constData());
    Requests requests = parse(multipart(boundary,
        "--B\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\ntwo\r\nlines\r\n" + parts
            + "--B--\r\n"));
    const HttpRequest &request = *requests.front();
    QCOMPARE(request.getStatus(), Status::complete);
    QCOMPARE(request.getParameter("note"), QByteArray("two\r\nlines"));
    QCOMPARE(request.getBody(), QByteArray());
    QStringList files;
    for (const char field : QByteArray("abcdu")) {
        QTemporaryFile *file = request.getUploadedFile(QByteArray(1, field));
        QCOMPARE(bool(file), uploads.contains(QByteArray(1, field)));
        if (file) {
            QCOMPARE(request.getParameter(QByteArray(1, field)), QByteArray("f"));
            QCOMPARE(file->readAll(), uploads.value(QByteArray(1, field)));
            files << file->fileName();
        }
    }
    requests.clear();
    for (const QString &file : qAsConst(files))
        QVERIFY(!QFile::exists(file));
}

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

// One request/response pair as a handler sees it, on a socket never connected.
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

// Copies made and dropped in several threads at once neither lose the data nor free it early.
void TestHttpServer::handlesSurviveConcurrentUse()
{
    HttpSession session(true);
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back(QThread::create([session, t] {
            for (int i = 0; i < 2000; ++i) {
                HttpSession assigned;
                assigned = HttpSession(session);
                assigned.set(QByteArray::number(t), i);
            }
        }));
        threads.back()->start();
    }
    for (const auto &thread : threads)
        QVERIFY(thread->wait(60000));
    QCOMPARE(session.getAll().size(), 4);
    QCOMPARE(session.get("3").toInt(), 1999);
}

void TestHttpServer::cookieAttributes()
{
    const QString tail = "SameSite=Lax; Version=1$";
    // Defaults, then configured attributes with Max-Age in whole seconds.
    for (const auto &[ini, pattern] :
        {std::pair<QByteArray, QString> {"", "^sessionid=" + uuid + "; Max-Age=3600; " + tail},
            {"cookieName=sid\ncookiePath=/command\ncookieComment=c\ncookieDomain=d\n"
             "expirationTime=1500",
                "^sid=" + uuid + "; Comment=c; Domain=d; Max-Age=1; Path=/command; " + tail}}) {
        const auto store = makeStore(ini);
        Exchange exchange;
        const HttpSession session = store->getSession(exchange.request, exchange.response);
        const QByteArray cookie = exchange.setCookie();
        QVERIFY2(QRegularExpression(pattern).match(QString::fromLatin1(cookie)).hasMatch(), cookie);
        QVERIFY(cookie.contains(session.getId()));
    }
}

void TestHttpServer::sessionFromCookie_data()
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

void TestHttpServer::sessionFromCookie()
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

// A held handle keeps its data after expiry or removal, but the cookie finds nothing any more.
void TestHttpServer::sessionsLeaveByExpiryOrRemoval()
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

// Clients that never log in cannot grow the store without bound nor push out a logged-in one.
void TestHttpServer::fullStoreDropsAnUnusedSession()
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

// What a handler does with the response to "GET /".
using Script = std::function<void(HttpResponse &)>;
Q_DECLARE_METATYPE(Script)

namespace {

// Runs the script for "/" and leaves the response to "/next" open.
class ScriptHandler : public weblet::HttpRequestHandler
{
public:
    explicit ScriptHandler(const Script &script)
        : script(script)
    { }
    void service(HttpRequest &request, HttpResponse &response) override
    {
        if (request.getPath() == "/")
            script(response);
    }
    Script script;
};

// Sets one header when `name` is given, writes the parts, the final one as last when `last`.
Script writes(const QList<QByteArray> &parts, bool last, const QByteArray &name = QByteArray(),
    const QByteArray &value = QByteArray())
{
    return [=](HttpResponse &response) {
        if (!name.isEmpty())
            response.setHeader(name, value);
        for (int i = 0; i < parts.size(); ++i)
            response.write(parts.at(i), last && i == parts.size() - 1);
    };
}

void addRow(const char *tag, const Script &script, const QByteArray &reply, bool closes = false)
{
    QTest::newRow(tag) << script << reply << closes;
}

void sendReponse(HttpResponse &response, const QString &text)
{
    HttpRequest request {weblet::ListenerConfig()};
    weblet::HttpRequestHandler().SendReponse(request, response, text);
}

} // namespace

void TestHttpServer::responses_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("closes");
    const QByteArray ok = "HTTP/1.1 200 OK\r\n";
    const QByteArray x26(26, 'x');
    addRow(
        "one last write gets a length", writes({"ab"}, true), ok + "Content-Length: 2\r\n\r\nab");
    addRow("handler's length replaced by the real one",
        writes({"ab"}, true, "Content-Length", "99"), ok + "Content-Length: 2\r\n\r\nab");
    addRow("nothing written is finished with a zero length", writes({}, false),
        ok + "Content-Length: 0\r\n\r\n");
    addRow("parts go chunked in lower-case hex", writes({x26, "y"}, false),
        ok + "Transfer-Encoding: chunked\r\n\r\n1a\r\n" + x26 + "\r\n1\r\ny\r\n0\r\n\r\n");
    addRow("Connection CLOSE sends parts raw and closes",
        writes({"ab"}, false, "Connection", "CLOSE"), ok + "Connection: CLOSE\r\n\r\nab", true);
    addRow("Connection close with a length", writes({"ab"}, true, "Connection", "close"),
        ok + "Connection: close\r\nContent-Length: 2\r\n\r\nab", true);
    addRow("announced length sends parts raw, cut to it",
        writes({"ab", "cd", "ef"}, true, "Content-Length", "3"),
        ok + "Content-Length: 3\r\n\r\nabc");
    addRow(
        "body short of its length closes",
        [](HttpResponse &r) {
            QTest::ignoreMessage(QtWarningMsg,
                "HttpResponse: body ended 1 bytes short of its length, closing the connection");
            writes({"ab"}, false, "Content-Length", "3")(r);
        },
        ok + "Content-Length: 3\r\n\r\nab", true);
    addRow(
        "headers and cookies in byte order, set once",
        [](HttpResponse &r) {
            r.setStatus(404, "not found");
            r.setHeader("b", "2");
            r.setHeader("A", 1);
            r.setHeader("a", "3");
            r.setHeader("A", 4);
            r.setCookie(HttpCookie("z", "1", 0));
            r.setCookie(HttpCookie("id", "0", 0));
            r.setCookie(HttpCookie("id", "x", 3600, "/", "c", "d", true, true, "Strict"));
            r.setCookie(HttpCookie("", "ignored", 0));
            r.write("x");
            r.setStatus(500, "late");
            r.setHeader("Late", "1");
            r.setCookie(HttpCookie("late", "1", 0));
        },
        "HTTP/1.1 404 not found\r\nA: 4\r\nTransfer-Encoding: chunked\r\na: 3\r\nb: 2\r\n"
        "Set-Cookie: id=x; Comment=c; Domain=d; Max-Age=3600; Path=/; Secure; HttpOnly; "
        "SameSite=Strict; Version=1\r\nSet-Cookie: z=1; Version=1\r\n\r\n"
        "1\r\nx\r\n0\r\n\r\n");
    const QByteArray sent = ok + "Access-Control-Allow-Origin: *\r\nContent-Length: ";
    const QByteArray type = "\r\nContent-Type: text/shtml; charset=UTF-8\r\n\r\n";
    addRow(
        "SendReponse in UTF-8", [](HttpResponse &r) { sendReponse(r, QString::fromUtf8("超级")); },
        sent + '6' + type + QString::fromUtf8("超级").toUtf8());
    addRow(
        "redirect", [](HttpResponse &r) { r.redirect("/x"); },
        "HTTP/1.1 303 See Other\r\nContent-Length: 8\r\nLocation: /x\r\n\r\nRedirect");
    addRow(
        "default service answers 501",
        [](HttpResponse &r) {
            QTest::ignoreMessage(
                QtCriticalMsg, "HttpRequestHandler: you need to override the service() function");
            HttpRequest request {weblet::ListenerConfig()};
            weblet::HttpRequestHandler().service(request, r);
        },
        "HTTP/1.1 501 not implemented\r\nContent-Length: 19\r\n\r\n501 not implemented");
}

// A second request waits in the same write: only a connection kept open answers it.
void TestHttpServer::responses()
{
    QFETCH(Script, script);
    QFETCH(QByteArray, reply);
    QFETCH(bool, closes);
    QSettings settings(dir.filePath("DORXWebOnDevice.ini"), QSettings::IniFormat);
    settings.beginGroup("listener");
    settings.setValue("host", "127.0.0.1");
    ScriptHandler handler(script);
    weblet::HttpListener listener(&settings, ServerProcess::freePort(), &handler);
    QVERIFY(listener.isListening());
    const QByteArray expected
        = closes ? reply : reply + "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, listener.serverPort());
    client.write("GET / HTTP/1.1\r\n\r\nGET /next HTTP/1.1\r\n\r\n");
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += client.readAll()).size() >= expected.size(), 10000);
    if (closes)
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 10000);
    QCOMPARE(received + client.readAll(), expected);
    QCOMPARE(client.state() == QAbstractSocket::UnconnectedState, closes);
}

// A reader thread drains the connection while the response streams the file piece by piece.
void TestHttpServer::largeBodyStreamsWithBoundedBuffer()
{
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, listener.serverPort());
    QVERIFY(client.waitForConnected(10000) && listener.waitForNewConnection(10000));
    QTcpSocket *const server = listener.nextPendingConnection(); // a child of listener
    QByteArray body = QByteArray(8 * 1024 * 1024, 'b');
    const qint64 total
        = body.size() + qstrlen("HTTP/1.1 200 OK\r\nContent-Length: 8388608\r\n\r\n");
    qint64 received = 0;
    std::thread reader([fd = int(client.socketDescriptor()), &received, total]() {
        char buffer[4096];
        pollfd readable = {fd, POLLIN, 0};
        for (ssize_t count = 1; count > 0 && received<total && ::poll(&readable, 1, 10000)> 0;)
            received += (count = ::recv(fd, buffer, sizeof buffer, 0)) > 0 ? count : 0;
    });
    HttpResponse response(server);
    auto file = std::make_unique<QBuffer>(&body);
    QVERIFY(file->open(QIODevice::ReadOnly));
    response.writeFile(std::move(file), body.size());
    QVERIFY(response.send(QDeadlineTimer(30000)));
    const qint64 leftPending = server->bytesToWrite();
    while (server->bytesToWrite() > 0 && server->waitForBytesWritten(5000)) { }
    reader.join();
    QVERIFY2(leftPending <= 16384, QByteArray::number(leftPending));
    QCOMPARE(received, total);
}

// The only handler's client resets its connection mid-request: the handler stays busy (503 to
// others, never reused or deleted under the request) until the request ends, then serves again.
void TestHttpServer::handlerBusyUntilRequestEnds()
{
    QSemaphore entered;
    QSemaphore proceed;
    QSemaphore wrote;
    ScriptHandler handler([&](HttpResponse &response) {
        entered.release();
        proceed.acquire();
        response.write("x", false);
        wrote.release();
        proceed.acquire();
    });
    QSettings settings(dir.filePath("DORXWebOnDevice.ini"), QSettings::IniFormat);
    settings.beginGroup("listener");
    settings.setValue("host", "127.0.0.1");
    settings.setValue("maxThreads", 1);
    weblet::HttpListener listener(&settings, ServerProcess::freePort(), &handler);
    QTcpSocket broken;
    broken.connectToHost(QHostAddress::LocalHost, listener.serverPort());
    broken.write("GET / HTTP/1.1\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(entered.available(), 1, 20000);
    // Closing with a zero linger time resets the connection at once.
    const linger reset = {1, 0};
    ::setsockopt(int(broken.socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    broken.abort();
    proceed.release();
    QVERIFY(wrote.tryAcquire(1, 10000));
    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, listener.serverPort());
    second.write("GET /next HTTP/1.1\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QAbstractSocket::UnconnectedState, 20000);
    QCOMPARE(second.readAll(),
        QByteArray("HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\n"
                   "Too many connections\r\n"));
    proceed.release();
    std::unique_ptr<QTcpSocket> next;
    const auto served = [&] {
        if (next && next->peek(100).startsWith("HTTP/1.1 200 OK"))
            return true;
        if (!next || next->state() != QAbstractSocket::ConnectedState) {
            next = std::make_unique<QTcpSocket>();
            next->connectToHost(QHostAddress::LocalHost, listener.serverPort());
            next->write("GET /next HTTP/1.1\r\n\r\n");
        }
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(served(), 20000);
}

QTEST_GUILESS_MAIN(TestHttpServer)
#include "test_httpserver.moc"
