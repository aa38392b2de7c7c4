#include "serverprocess.h"

#include "httpserver/httpcookie.h"
#include "httpserver/httplistener.h"
#include "httpserver/httprequest.h"
#include "httpserver/httprequesthandler.h"
#include "httpserver/httpresponse.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QSemaphore>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

using weblet::HttpCookie;
using weblet::HttpRequest;
using weblet::HttpResponse;

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

// Sets one header when `name` is given, then writes the parts, the final one as the last part
// when `last` is set (else the connection handler finishes the response).
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

// The listener and its handler threads run inside the test process with handlers that frame
// their responses in every way a handler can.
class TestHttpResponse : public QObject
{
    Q_OBJECT

private slots:
    void responses_data();
    void responses();
    void largeBodyStreamsWithBoundedBuffer();
    void handlerBusyUntilRequestEnds();
    void bindFailureIsLogged();

private:
    QTemporaryDir dir;
};

void TestHttpResponse::responses_data()
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
void TestHttpResponse::responses()
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

// The reader drains the connection from a thread of its own, so the response, which runs in
// this thread, can only finish by waiting for its pending output again and again. The file body
// is read piece by piece while it is sent.
void TestHttpResponse::largeBodyStreamsWithBoundedBuffer()
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

// The only handler's client breaks its connection while its request is still being served: the
// handler stays busy until the request ends, so a second client gets 503 meanwhile rather than a
// handler that is still at work (or that the pool might delete under it). Once the request has
// ended, the handler serves again.
void TestHttpResponse::handlerBusyUntilRequestEnds()
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

void TestHttpResponse::bindFailureIsLogged()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
    QTest::ignoreMessage(QtCriticalMsg,
        qPrintable("HttpListener: Cannot bind on port " + QString::number(occupant.serverPort())
            + ": The bound address is already in use"));
    QSettings settings(dir.filePath("DORXWebOnDevice.ini"), QSettings::IniFormat);
    settings.beginGroup("listener");
    settings.setValue("host", "127.0.0.1");
    weblet::HttpRequestHandler handler;
    weblet::HttpListener listener(&settings, occupant.serverPort(), &handler);
    QVERIFY(!listener.isListening());
}

QTEST_GUILESS_MAIN(TestHttpResponse)
#include "test_httpresponse.moc"
