#include "httpserver/httplistener.h"
#include "httpserver/httprequest.h"
#include "httpserver/httprequesthandler.h"
#include "httpserver/httpresponse.h"
#include "httpserver/httpsessionstore.h"
#include "serverprocess.h"

#include <QTcpServer>
#include <QtTest>

#include <poll.h>
#include <sys/socket.h>
#include <thread>

using namespace weblet;
using Status = HttpRequest::RequestStatus;
using Requests = std::vector<std::unique_ptr<HttpRequest>>;
using Script = std::function<void(HttpResponse &)>; // what a handler does with "GET /"
Q_DECLARE_METATYPE(Status)
Q_DECLARE_METATYPE(Script)

class TestHttpServer : public QObject
{
    Q_OBJECT

private slots:
    void requests_data();
    void requests();
    void headersParametersAndCookies();
    void multipartUploads();
    void handlesSurviveConcurrentUse();
    void sessionStore();
    void responses_data();
    void responses();
    void largeBodyStreamsWithBoundedBuffer();
    void handlerBusyUntilRequestEnds();

private:
    std::unique_ptr<HttpListener> startListener(HttpRequestHandler *handler, int threads)
    {
        settings = std::make_unique<QSettings>(dir.filePath("listener.ini"), QSettings::IniFormat);
        settings->beginGroup("listener");
        settings->setValue("host", "127.0.0.1");
        settings->setValue("maxThreads", threads);
        return std::make_unique<HttpListener>(settings.get(), ServerProcess::freePort(), handler);
    }

    QTemporaryDir dir;
    std::unique_ptr<QSettings> settings; // read by the listener while it runs
};

namespace {

// Feeds bytes arriving in pieces of `step` as the connection handler does (limits: 16000 bytes,
// multipart 100000).
Requests parse(const QByteArray &bytes, int step = 1 << 30)
{
    ListenerConfig config;
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
        arrived.remove(0, int(device.pos()));
    }
    return requests;
}

QByteArray multipart(const QByteArray &body, int length = -1)
{
    return "POST /up HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=B\r\nContent-Length: "
        + QByteArray::number(length < 0 ? body.size() : length) + "\r\n\r\n" + body;
}

// Runs the script for "/" and leaves the response to any other path empty.
struct ScriptHandler : HttpRequestHandler
{
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

} // namespace

// Each row arrives whole and byte by byte; other framing is fuzzed (fuzz/fuzz_httprequest.cpp).
void TestHttpServer::requests_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Status>("status"); // of the last request
    QTest::addColumn<QByteArray>("warning");
    QTest::addColumn<QByteArray>("lines"); // request lines, when the row names them
    const auto row = [](const char *tag, const QByteArray &bytes, Status status,
                         const QByteArray &warning = {}, const QByteArray &lines = {}) {
        QTest::newRow(tag) << bytes << status << warning << lines;
    };
    // `size` bytes of request line and headers announcing a body of `length` bytes.
    const auto announcing = [](int size, const QByteArray &length) {
        const QByteArray head = "POST / HTTP/1.1\r\nContent-Length: " + length + "\r\nX: ";
        return head + QByteArray(size - head.size() - 4, 'p') + "\r\n\r\n";
    };
    const QByteArray tooMany = "HttpRequest: received too many bytes";
    const QByteArray tooLarge = "HttpRequest: expected body is too large";
    const QByteArray line = "GET /" + QByteArray(16000 - 18, 'a') + " HTTP/1.1\r\n";
    row("broken request line", "GET /\r\n\r\n", Status::aborted,
        "HttpRequest: received broken HTTP request, invalid first line", "  ");
    row("body ends at its length",
        "PUT / HTTP/1.1\r\nContent-Length: 4\r\n\r\nbodyGET /n HTTP/1.1\r\n\r\n", Status::complete,
        {}, "PUT / HTTP/1.1|GET /n HTTP/1.1");
    row("chunked without length complete at the header end",
        "PUT / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nGET /n HTTP/1.1\r\n\r\n",
        Status::complete, {}, "PUT / HTTP/1.1|GET /n HTTP/1.1");
    row("15990 header bytes announcing 100", announcing(15990, "100"), Status::aborted, tooLarge);
    row("15990 header bytes announcing 10", announcing(15990, "10"), Status::readingBody);
    row("huge length", announcing(100, "99999999999"), Status::aborted, tooLarge);
    row("negative length means no body", announcing(100, "-5"), Status::complete);
    row("exactly the limit", line + "\r\n", Status::complete);
    row("one byte beyond", line + "X\r\n", Status::aborted, tooMany);
    row("endless line", "GET /" + QByteArray(20000, 'a'), Status::aborted, tooMany);
    row("continuation lines charged for their copies",
        "GET / HTTP/1.1\r\nX: a\r\n" + QByteArray(" b\r\n").repeated(1000), Status::aborted,
        tooMany);
    row("multipart below its limit", multipart(QByteArray(99999, 'v')), Status::complete);
    row("multipart of exactly its limit", multipart(QByteArray(100000, 'v')), Status::aborted,
        "HttpRequest: received too many multipart bytes");
    row("multipart announced beyond its limit", multipart("", 100001), Status::aborted,
        "HttpRequest: expected multipart body is too large");
}

void TestHttpServer::requests()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Status, status);
    QFETCH(QByteArray, warning);
    QFETCH(QByteArray, lines);
    for (const int step : {1 << 30, 1}) {
        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, warning.constData());
        const Requests requests = parse(bytes, step);
        QList<QByteArray> parsed;
        for (const auto &r : requests)
            parsed << r->getMethod() + ' ' + r->getPath() + ' ' + r->getVersion();
        if (!lines.isEmpty())
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
        const Requests requests = parse("POST /a%20b?y=%41+%4a HTTP/1.1\r\nX-A: one\r\n "
                                        "two\r\nCookie: a=1; b=\"x;y\"\r\nCookie: a=2\r\n"
                                        "Content-Type: "
            + contentType + "\r\nContent-Length: 7\r\n\r\nw=1%2B1");
        QCOMPARE(int(requests.size()), 1);
        const HttpRequest &r = *requests.front();
        QCOMPARE(r.getStatus(), Status::complete);
        QCOMPARE(r.getPeerAddress(), QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(QByteArrayList({r.getPath(), r.getHeader("x-a"), r.getParameter("y"),
                     r.getParameter("w"), r.getBody(), r.getCookie("a"), r.getCookie("b")}),
            QByteArrayList(
                {"/a b", "one two", "A J", bodyIsForm ? "1+1" : "", "w=1%2B1", "2", "x;y"}));
    }
}

// A large file takes more than one read step and holds a line resembling a boundary; a fifth
// upload is dropped; the files go with the request.
void TestHttpServer::multipartUploads()
{
    const auto part = [](const QByteArray &field, const QByteArray &data) {
        return "--B\r\nContent-Disposition: form-data; name=\"" + field
            + "\"; filename=\"f\"\r\n\r\n" + data + "\r\n";
    };
    const QMap<QByteArray, QByteArray> kept {
        {"a", "1"}, {"b", "2"}, {"c", "3"}, {"u", "one\r\n-- B\r\n" + QByteArray(70000, 'z')}};
    QByteArray body
        = "--B\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\ntwo\r\nlines\r\n";
    for (auto it = kept.begin(); it != kept.end(); ++it)
        body += part(it.key(), it.value());
    QTest::ignoreMessage(QtWarningMsg, "HttpRequest: too many uploaded files, dropping e");
    Requests requests = parse(multipart(body + part("e", "5") + "--B--\r\n"));
    const HttpRequest &request = *requests.front();
    QCOMPARE(request.getStatus(), Status::complete);
    QCOMPARE(request.getParameter("note"), QByteArray("two\r\nlines"));
    QCOMPARE(request.getBody(), QByteArray());
    QVERIFY(!request.getUploadedFile("e"));
    QStringList files;
    for (auto it = kept.begin(); it != kept.end(); ++it) {
        QTemporaryFile *file = request.getUploadedFile(it.key());
        QVERIFY(file);
        QCOMPARE(request.getParameter(it.key()), QByteArray("f"));
        QCOMPARE(file->readAll(), it.value());
        files << file->fileName();
    }
    requests.clear();
    for (const QString &file : qAsConst(files))
        QVERIFY(!QFile::exists(file));
}

// Copies made and dropped in several threads at once neither lose the data nor free it early.
void TestHttpServer::handlesSurviveConcurrentUse()
{
    HttpSession session(true);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([session, t] {
            for (int i = 0; i < 2000; ++i) {
                HttpSession assigned;
                assigned = HttpSession(session);
                assigned.set(QByteArray::number(t), i);
            }
        });
    for (std::thread &thread : threads)
        thread.join();
    QCOMPARE(session.getAll().size(), 4);
    QCOMPARE(session.get("3").toInt(), 1999);
}

// Clients that never log in cannot grow the store without bound nor push out a logged-in one;
// sessions idle for longer than the expiration time go at the next scan.
void TestHttpServer::sessionStore()
{
    QFile ini(dir.filePath("sessions.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[sessions]\ncookieName=sid\ncookiePath=/command\ncookieComment=c\ncookieDomain=d\n"
              "expirationTime=1500\nmaxSessions=3\n");
    ini.close();
    QSettings settings(ini.fileName(), QSettings::IniFormat);
    settings.beginGroup("sessions");
    HttpSessionStore store(&settings);
    QSignalSpy deleted(&store, &HttpSessionStore::sessionDeleted);
    QList<HttpSession> sessions;
    for (int i = 0; i < 6; ++i) {
        if (i == 5)
            sessions.first().remove("username");
        HttpRequest request {ListenerConfig()};
        QTcpSocket unconnected;
        HttpResponse response {&unconnected};
        sessions << store.getSession(request, response);
        sessions.first().set("username", "dorx"); // the oldest, but logged in
        QCOMPARE(response.getCookies().first().toByteArray(),
            "sid=" + sessions.last().getId()
                + "; Comment=c; Domain=d; Max-Age=1; Path=/command; SameSite=Lax; Version=1");
    }
    QCOMPARE(deleted,
        (QList<QVariantList> {
            {sessions.at(1).getId()}, {sessions.at(2).getId()}, {sessions.at(0).getId()}}));
    // Reading the time through a held handle is no use.
    QTRY_VERIFY_WITH_TIMEOUT(
        QDateTime::currentMSecsSinceEpoch() - sessions.at(3).getLastAccess() > 2000, 20000);
    store.getSession(sessions.at(5).getId());
    // The log tells sessions apart by the start of their ids, never shows a whole one.
    for (int i : {3, 4})
        QTest::ignoreMessage(QtDebugMsg,
            qPrintable(
                "HttpSessionStore: session " + sessions.at(i).getId().left(4) + "*** expired"));
    store.sessionTimerEvent();
    QVERIFY(store.getSession(sessions.at(3).getId()).isNull());
    QVERIFY(!store.getSession(sessions.at(5).getId()).isNull());
}

void TestHttpServer::responses_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("closes");
    // Sets one header when `name` is given, writes the parts, the final one as last when `last`.
    const auto writes = [](const QList<QByteArray> &parts, bool last, const QByteArray &name = {},
                            const QByteArray &value = {}) {
        return Script([=](HttpResponse &response) {
            if (!name.isEmpty())
                response.setHeader(name, value);
            for (int i = 0; i < parts.size(); ++i)
                response.write(parts.at(i), last && i == parts.size() - 1);
        });
    };
    const auto row = [](const char *tag, const Script &script, const QByteArray &reply,
                         bool closes = false) { QTest::newRow(tag) << script << reply << closes; };
    const QByteArray ok = "HTTP/1.1 200 OK\r\n";
    const QByteArray x26(26, 'x');
    row("handler's length replaced by the real one", writes({"ab"}, true, "Content-Length", "99"),
        ok + "Content-Length: 2\r\n\r\nab");
    row("parts go chunked in lower-case hex", writes({x26, "y"}, false),
        ok + "Transfer-Encoding: chunked\r\n\r\n1a\r\n" + x26 + "\r\n1\r\ny\r\n0\r\n\r\n");
    row("Connection CLOSE sends parts raw and closes", writes({"ab"}, false, "Connection", "CLOSE"),
        ok + "Connection: CLOSE\r\n\r\nab", true);
    row("Connection close with a length", writes({"ab"}, true, "Connection", "close"),
        ok + "Connection: close\r\nContent-Length: 2\r\n\r\nab", true);
    row("announced length sends parts raw, cut to it",
        writes({"ab", "cd", "ef"}, true, "Content-Length", "3"),
        ok + "Content-Length: 3\r\n\r\nabc");
    row(
        "body short of its length closes",
        [writes](HttpResponse &r) {
            QTest::ignoreMessage(QtWarningMsg,
                "HttpResponse: body ended 1 bytes short of its length, closing the connection");
            writes({"ab"}, false, "Content-Length", "3")(r);
        },
        ok + "Content-Length: 3\r\n\r\nab", true);
    row(
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
        "SameSite=Strict; Version=1\r\nSet-Cookie: z=1; Version=1\r\n\r\n1\r\nx\r\n0\r\n\r\n");
    row(
        "SendReponse in UTF-8",
        [](HttpResponse &r) {
            HttpRequest request {weblet::ListenerConfig()};
            weblet::HttpRequestHandler().SendReponse(request, r, "超级");
        },
        ok
            + "Access-Control-Allow-Origin: *\r\nContent-Length: 6\r\nContent-Type: text/shtml; "
              "charset=UTF-8\r\n\r\n"
            + "超级");
}

// A second request waits in the same write: only a connection kept open answers it (a response
// nothing was written to gets a zero length).
void TestHttpServer::responses()
{
    QFETCH(Script, script);
    QFETCH(QByteArray, reply);
    QFETCH(bool, closes);
    ScriptHandler handler(script);
    const auto listener = startListener(&handler, 100);
    QVERIFY(listener->isListening());
    const QByteArray expected
        = closes ? reply : reply + "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, listener->serverPort());
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
    QSemaphore entered, proceed, wrote;
    ScriptHandler handler([&](HttpResponse &response) {
        entered.release();
        proceed.acquire();
        response.write("x", false);
        wrote.release();
        proceed.acquire();
    });
    const auto listener = startListener(&handler, 1);
    QTcpSocket broken;
    broken.connectToHost(QHostAddress::LocalHost, listener->serverPort());
    broken.write("GET / HTTP/1.1\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(entered.available(), 1, 20000);
    // Closing with a zero linger time resets the connection at once.
    const linger reset = {1, 0};
    ::setsockopt(int(broken.socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    broken.abort();
    proceed.release();
    QVERIFY(wrote.tryAcquire(1, 10000));
    // Everything a new connection gets for "/next" until the listener closes it.
    const auto fetch = [&] {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, listener->serverPort());
        socket.write("GET /next HTTP/1.1\r\nConnection: close\r\n\r\n");
        const auto closed = [&] { return socket.state() == QAbstractSocket::UnconnectedState; };
        return QTest::qWaitFor(closed, 10000) ? socket.readAll() : QByteArray();
    };
    QCOMPARE(fetch(),
        QByteArray("HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\n"
                   "Too many connections\r\n"));
    proceed.release();
    QTRY_VERIFY_WITH_TIMEOUT(fetch().startsWith("HTTP/1.1 200 OK"), 20000);
}

QTEST_GUILESS_MAIN(TestHttpServer)
#include "test_httpserver.moc"
