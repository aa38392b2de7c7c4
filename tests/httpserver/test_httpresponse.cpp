#include "loopback.h"

#include "httpserver/httpcookie.h"
#include "httpserver/httprequest.h"
#include "httpserver/httprequesthandler.h"
#include "httpserver/httpresponse.h"

#include <QtTest>

#include <poll.h>
#include <sys/socket.h>
#include <thread>

using weblet::HttpCookie;
using weblet::HttpRequest;
using weblet::HttpRequestHandler;
using weblet::HttpResponse;

namespace {

struct Write
{
    QByteArray data;
    bool lastPart;
};

} // namespace

Q_DECLARE_METATYPE(QList<Write>)
Q_DECLARE_METATYPE(HttpCookie)

class TestHttpResponse : public QObject
{
    Q_OBJECT

private slots:
    void framing_data();
    void framing();
    void headersAndCookiesInByteOrder();
    void nothingChangesAfterTheHead();
    void cookieText_data();
    void cookieText();
    void cookieParsing();
    void splitCSV_data();
    void splitCSV();
    void sendReponseAndRedirect_data();
    void sendReponseAndRedirect();
    void defaultServiceAnswers501();
    void largeBodyStreamsWithBoundedBuffer();
    void closedSocketSwallowsOutput();
    void shortBodyClosesTheConnection();
};

void TestHttpResponse::framing_data()
{
    QTest::addColumn<QByteArray>("headerName");
    QTest::addColumn<QByteArray>("headerValue");
    QTest::addColumn<QList<Write>>("writes");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("one last write gets a length")
        << QByteArray() << QByteArray() << QList<Write> {{"ab", true}}
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nab");
    QTest::newRow("empty last write gets a zero length")
        << QByteArray() << QByteArray() << QList<Write> {{"", true}}
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    QTest::newRow("parts go chunked")
        << QByteArray() << QByteArray() << QList<Write> {{"ab", false}, {"", true}}
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n0\r\n\r\n");
    QTest::newRow("chunk sizes in lower-case hex")
        << QByteArray() << QByteArray() << QList<Write> {{QByteArray(26, 'x'), false}, {"y", true}}
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1a\r\n"
               + QByteArray(26, 'x') + "\r\n1\r\ny\r\n0\r\n\r\n");
    QTest::newRow("Connection CLOSE sends the body raw")
        << QByteArray("Connection") << QByteArray("CLOSE")
        << QList<Write> {{"ab", false}, {"", true}}
        << QByteArray("HTTP/1.1 200 OK\r\nConnection: CLOSE\r\n\r\nab");
    QTest::newRow("lower-case connection close also raw")
        << QByteArray("connection") << QByteArray("close")
        << QList<Write> {{"ab", false}, {"", true}}
        << QByteArray("HTTP/1.1 200 OK\r\nconnection: close\r\n\r\nab");
    QTest::newRow("keep-alive stays chunked")
        << QByteArray("Connection") << QByteArray("keep-alive")
        << QList<Write> {{"ab", false}, {"", true}}
        << QByteArray("HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nTransfer-Encoding: "
                      "chunked\r\n\r\n2\r\nab\r\n0\r\n\r\n");
    QTest::newRow("handler's length replaced by the real one")
        << QByteArray("Content-Length") << QByteArray("99") << QList<Write> {{"ab", true}}
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nab");
    QTest::newRow("announced length sends parts raw")
        << QByteArray("Content-Length") << QByteArray("4")
        << QList<Write> {{"ab", false}, {"cd", false}, {"", true}}
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nabcd");
    QTest::newRow("bytes beyond the announced length are dropped")
        << QByteArray("Content-Length") << QByteArray("3")
        << QList<Write> {{"ab", false}, {"cd", false}, {"ef", true}}
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc");
}

void TestHttpResponse::framing()
{
    QFETCH(QByteArray, headerName);
    QFETCH(QByteArray, headerValue);
    QFETCH(QList<Write>, writes);
    QFETCH(QByteArray, expected);
    Loopback link;
    QVERIFY(link.server);
    HttpResponse response(link.server);
    if (!headerName.isEmpty())
        response.setHeader(headerName, headerValue);
    for (const Write &write : writes) {
        QVERIFY(!response.hasSentLastPart());
        response.write(write.data, write.lastPart);
    }
    QVERIFY(response.hasSentLastPart());
    QCOMPARE(link.receive(expected.size()), expected);
}

void TestHttpResponse::headersAndCookiesInByteOrder()
{
    Loopback link;
    QVERIFY(link.server);
    HttpResponse response(link.server);
    response.setStatus(404, "not found");
    response.setHeader("b", "2");
    response.setHeader("A", 1);
    response.setHeader("a", "3");
    response.setHeader("A", 4);
    response.setCookie(HttpCookie("z", "1", 0));
    response.setCookie(HttpCookie("m", "1", 0));
    response.setCookie(HttpCookie("m", "2", 0));
    response.setCookie(HttpCookie("", "ignored", 0));
    QCOMPARE(response.getStatusCode(), 404);
    response.write("x", true);
    const QByteArray expected
        = "HTTP/1.1 404 not found\r\nA: 4\r\nContent-Length: 1\r\na: 3\r\nb: 2\r\n"
          "Set-Cookie: m=2; Version=1\r\nSet-Cookie: z=1; Version=1\r\n\r\nx";
    QCOMPARE(link.receive(expected.size()), expected);
}

void TestHttpResponse::nothingChangesAfterTheHead()
{
    Loopback link;
    QVERIFY(link.server);
    HttpResponse response(link.server);
    response.write("a");
    response.setStatus(500, "late");
    response.setHeader("Late", "1");
    response.setCookie(HttpCookie("late", "1", 0));
    response.write("b", true);
    const QByteArray expected = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                "1\r\na\r\n1\r\nb\r\n0\r\n\r\n";
    QCOMPARE(link.receive(expected.size()), expected);
}

void TestHttpResponse::cookieText_data()
{
    QTest::addColumn<HttpCookie>("cookie");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("name, value, path and max-age")
        << HttpCookie("id", "x", 3600, "/") << QByteArray("id=x; Max-Age=3600; Path=/; Version=1");
    QTest::newRow("every attribute in its order")
        << HttpCookie("n", "v", 5, "/p", "c", "d.example", true, true, "Strict")
        << QByteArray("n=v; Comment=c; Domain=d.example; Max-Age=5; Path=/p; Secure; HttpOnly; "
                      "SameSite=Strict; Version=1");
    QTest::newRow("value sent unquoted")
        << HttpCookie("q", "a b;c", 0) << QByteArray("q=a b;c; Version=1");
    QTest::newRow("default cookie") << HttpCookie() << QByteArray("=; Version=1");
}

void TestHttpResponse::cookieText()
{
    QFETCH(HttpCookie, cookie);
    QFETCH(QByteArray, text);
    QCOMPARE(cookie.toByteArray(), text);
}

void TestHttpResponse::cookieParsing()
{
    QTest::ignoreMessage(QtWarningMsg, "HttpCookie: Ignoring unknown other=1");
    const HttpCookie cookie(QByteArray("sid=\"a;b\"; Path=/; Max-Age=60; Secure; HttpOnly; "
                                       "Domain=d; Comment=c; SameSite=Lax; Version=2; other=1"));
    QCOMPARE(cookie.getName(), QByteArray("sid"));
    QCOMPARE(cookie.getValue(), QByteArray("a;b"));
    QCOMPARE(cookie.getPath(), QByteArray("/"));
    QCOMPARE(cookie.getMaxAge(), 60);
    QVERIFY(cookie.getSecure());
    QVERIFY(cookie.getHttpOnly());
    QCOMPARE(cookie.getDomain(), QByteArray("d"));
    QCOMPARE(cookie.getComment(), QByteArray("c"));
    QCOMPARE(cookie.getSameSite(), QByteArray("Lax"));
    QCOMPARE(cookie.getVersion(), 2);
}

void TestHttpResponse::splitCSV_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::newRow("quotes group and vanish, empty pieces dropped")
        << QByteArray("a=1; b=\"2;3\";; c") << QList<QByteArray> {"a=1", "b=2;3", "c"};
    QTest::newRow("pieces trimmed")
        << QByteArray("  x = 1 ;\ty") << QList<QByteArray> {"x = 1", "y"};
    QTest::newRow("unterminated quote runs to the end")
        << QByteArray("a=\"1;2") << QList<QByteArray> {"a=1;2"};
    QTest::newRow("only separators") << QByteArray(" ; ;") << QList<QByteArray> {};
}

void TestHttpResponse::splitCSV()
{
    QFETCH(QByteArray, source);
    QFETCH(QList<QByteArray>, pieces);
    QCOMPARE(HttpCookie::splitCSV(source), pieces);
}

void TestHttpResponse::sendReponseAndRedirect_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("empty text")
        << QString()
        << QByteArray("HTTP/1.1 200 OK\r\nAccess-Control-Allow-Origin: *\r\n"
                      "Content-Length: 0\r\nContent-Type: text/shtml; charset=UTF-8\r\n\r\n");
    QTest::newRow("text goes out in UTF-8")
        << QString::fromUtf8("超级")
        << QByteArray("HTTP/1.1 200 OK\r\nAccess-Control-Allow-Origin: *\r\n"
                      "Content-Length: 6\r\nContent-Type: text/shtml; "
                      "charset=UTF-8\r\n\r\n")
            + QString::fromUtf8("超级").toUtf8();
    QTest::newRow("redirect") << QString("/x")
                              << QByteArray("HTTP/1.1 303 See Other\r\nContent-Length: 8\r\n"
                                            "Location: /x\r\n\r\nRedirect");
}

void TestHttpResponse::sendReponseAndRedirect()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    Loopback link;
    QVERIFY(link.server);
    HttpResponse response(link.server);
    if (QByteArray(QTest::currentDataTag()) == "redirect") {
        response.redirect(text.toUtf8());
    } else {
        HttpRequest request {weblet::ListenerConfig()};
        HttpRequestHandler handler;
        handler.SendReponse(request, response, text);
    }
    QVERIFY(response.hasSentLastPart());
    QCOMPARE(link.receive(expected.size()), expected);
}

void TestHttpResponse::defaultServiceAnswers501()
{
    Loopback link;
    QVERIFY(link.server);
    HttpRequest request {weblet::ListenerConfig()};
    HttpResponse response(link.server);
    HttpRequestHandler handler;
    QTest::ignoreMessage(
        QtCriticalMsg, "HttpRequestHandler: you need to override the service() function");
    handler.service(request, response);
    const QByteArray expected = "HTTP/1.1 501 not implemented\r\nContent-Length: 19\r\n\r\n"
                                "501 not implemented";
    QCOMPARE(link.receive(expected.size()), expected);
}

// The reader drains the connection from a thread of its own, so the response, which runs in
// this thread, can only finish by waiting for its pending output again and again.
void TestHttpResponse::largeBodyStreamsWithBoundedBuffer()
{
    Loopback link;
    QVERIFY(link.server);
    const qintptr readerSocket = link.client.socketDescriptor();
    const QByteArray body = QByteArray(8 * 1024 * 1024, 'b');
    const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: 8388608\r\n\r\n";
    qint64 receivedCount = 0;
    std::thread reader([readerSocket, &receivedCount, total = head.size() + body.size()]() {
        char buffer[4096];
        while (receivedCount < total) {
            pollfd readable = {int(readerSocket), POLLIN, 0};
            if (::poll(&readable, 1, 10000) <= 0)
                break;
            const ssize_t count = ::recv(int(readerSocket), buffer, sizeof buffer, 0);
            if (count <= 0)
                break;
            receivedCount += count;
        }
    });
    HttpResponse response(link.server);
    response.write(body, true);
    const qint64 leftPending = link.server->bytesToWrite();
    while (link.server->bytesToWrite() > 0 && link.server->waitForBytesWritten(5000)) { }
    reader.join();
    QVERIFY2(leftPending <= 2 * 16384, QByteArray::number(leftPending));
    QCOMPARE(receivedCount, qint64(head.size() + body.size()));
}

void TestHttpResponse::closedSocketSwallowsOutput()
{
    Loopback link;
    QVERIFY(link.server);
    HttpResponse response(link.server);
    QVERIFY(response.isConnected());
    link.server->close();
    QVERIFY(!response.isConnected());
    response.write("ab");
    response.write("cd", true);
    QVERIFY(response.hasSentLastPart());
}

// The client counts on the announced length; a body that ends short of it may only end with
// the connection, or the next response would be read as the rest of this one.
void TestHttpResponse::shortBodyClosesTheConnection()
{
    Loopback link;
    QVERIFY(link.server);
    HttpResponse response(link.server);
    response.setHeader("Content-Length", QByteArray("10"));
    response.write("abc", false);
    QTest::ignoreMessage(QtWarningMsg,
        "HttpResponse: body ended 7 bytes short of its length, closing the connection");
    response.write(QByteArray(), true);
    const QByteArray expected = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc";
    QCOMPARE(link.receive(expected.size()), expected);
    QTRY_COMPARE(link.client.state(), QAbstractSocket::UnconnectedState);
}

QTEST_GUILESS_MAIN(TestHttpResponse)
#include "test_httpresponse.moc"
