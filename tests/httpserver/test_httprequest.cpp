#include "loopback.h"

#include "httpserver/httprequest.h"

#include <QTemporaryFile>
#include <QtTest>

#include <memory>

using weblet::HttpRequest;
using weblet::ListenerConfig;

Q_DECLARE_METATYPE(HttpRequest::RequestStatus)

namespace {

ListenerConfig limits(int maxRequestSize = 16000, int maxMultiPartSize = 1000000)
{
    ListenerConfig config;
    config.maxRequestSize = maxRequestSize;
    config.maxMultiPartSize = maxMultiPartSize;
    return config;
}

bool finished(const HttpRequest &request)
{
    return request.getStatus() == HttpRequest::complete
        || request.getStatus() == HttpRequest::aborted;
}

// Feeds what the server end holds into request the way the connection handler does.
void feed(HttpRequest &request, QTcpSocket *socket)
{
    while (socket->bytesAvailable() > 0 && !finished(request))
        request.readFromSocket(socket);
}

// Parses bytes arriving in one piece over a real loopback connection.
std::unique_ptr<HttpRequest> parse(const QByteArray &bytes, const ListenerConfig &config = limits())
{
    Loopback link;
    auto request = std::make_unique<HttpRequest>(config);
    if (link.server && link.deliver(bytes))
        feed(*request, link.server);
    return request;
}

QByteArray multipartRequest(const QByteArray &boundaryParameter, const QByteArray &body)
{
    return "POST /upload HTTP/1.1\r\nContent-Type: multipart/form-data; boundary="
        + boundaryParameter + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n"
        + body;
}

} // namespace

class TestHttpRequest : public QObject
{
    Q_OBJECT

private slots:
    void requestLine_data();
    void requestLine();
    void bytesArrivingOneByOneParseTheSame();
    void urlDecode_data();
    void urlDecode();
    void queryAndPathDecoding();
    void formBodyParameters_data();
    void formBodyParameters();
    void cookiesLeaveTheHeaderMap();
    void headers();
    void sizeLimits_data();
    void sizeLimits();
    void bodyStopsAtContentLength();
    void multipartUpload_data();
    void multipartUpload();
    void multipartFilePartWithoutDataIsDropped();
    void multipartLimits_data();
    void multipartLimits();
};

void TestHttpRequest::requestLine_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<HttpRequest::RequestStatus>("status");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("version");
    QTest::newRow("GET without headers completes")
        << QByteArray("GET / HTTP/1.1\r\n\r\n") << HttpRequest::complete << QByteArray("GET")
        << QByteArray("HTTP/1.1");
    QTest::newRow("bare CR LF before the request line ignored")
        << QByteArray("\r\n\r\nPOST /x HTTP/1.0\r\n\r\n") << HttpRequest::complete
        << QByteArray("POST") << QByteArray("HTTP/1.0");
    QTest::newRow("method kept as sent")
        << QByteArray("get / HTTP/1.1\r\n\r\n") << HttpRequest::complete << QByteArray("get")
        << QByteArray("HTTP/1.1");
    QTest::newRow("two words aborted")
        << QByteArray("GET /\r\n\r\n") << HttpRequest::aborted << QByteArray() << QByteArray();
    QTest::newRow("four words aborted") << QByteArray("GET / x HTTP/1.1\r\n\r\n")
                                        << HttpRequest::aborted << QByteArray() << QByteArray();
    QTest::newRow("third word without HTTP aborted")
        << QByteArray("GET / FTP/1.1\r\n\r\n") << HttpRequest::aborted << QByteArray()
        << QByteArray();
    QTest::newRow("line without CR LF still waiting")
        << QByteArray("GET / HTTP/1.1\n\n") << HttpRequest::readingRequestLine << QByteArray()
        << QByteArray();
    QTest::newRow("chunked body without length completes at the header end")
        << QByteArray("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n")
        << HttpRequest::complete << QByteArray("POST") << QByteArray("HTTP/1.1");
}

void TestHttpRequest::requestLine()
{
    QFETCH(QByteArray, bytes);
    QFETCH(HttpRequest::RequestStatus, status);
    if (status == HttpRequest::aborted)
        QTest::ignoreMessage(
            QtWarningMsg, "HttpRequest: received broken HTTP request, invalid first line");
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, version);
    const auto request = parse(bytes);
    QCOMPARE(request->getStatus(), status);
    QCOMPARE(request->getMethod(), method);
    QCOMPARE(request->getVersion(), version);
    if (status == HttpRequest::complete)
        QCOMPARE(request->getPeerAddress(), QHostAddress(QHostAddress::LocalHost));
}

void TestHttpRequest::bytesArrivingOneByOneParseTheSame()
{
    const QByteArray bytes = "POST /p?q=1 HTTP/1.1\r\nX-A: one\r\n two\r\nContent-Length: 3\r\n"
                             "Cookie: c=d\r\n\r\nr=2";
    Loopback link;
    QVERIFY(link.server);
    HttpRequest request(limits());
    for (const char byte : bytes) {
        QVERIFY(!finished(request));
        QVERIFY(link.deliver(QByteArray(1, byte)));
        feed(request, link.server);
    }
    QCOMPARE(request.getStatus(), HttpRequest::complete);
    QCOMPARE(request.getHeader("x-a"), QByteArray("one two"));
    QCOMPARE(request.getParameter("q"), QByteArray("1"));
    QCOMPARE(request.getParameter("r"), QByteArray("2"));
    QCOMPARE(request.getCookie("c"), QByteArray("d"));
    QCOMPARE(request.getBody(), QByteArray("r=2"));
}

void TestHttpRequest::urlDecode_data()
{
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<QByteArray>("out");
    QTest::newRow("plus is a space") << QByteArray("a+b") << QByteArray("a b");
    QTest::newRow("upper and lower hex") << QByteArray("%4a%4A") << QByteArray("JJ");
    QTest::newRow("escape decoded once") << QByteArray("%2541") << QByteArray("%41");
    QTest::newRow("invalid escape kept") << QByteArray("%zz") << QByteArray("%zz");
    QTest::newRow("sign is no hex digit") << QByteArray("%-1") << QByteArray("%-1");
    QTest::newRow("escape cut off at the end") << QByteArray("a%4") << QByteArray("a%4");
    QTest::newRow("escaped plus stays plus") << QByteArray("%2B") << QByteArray("+");
    QTest::newRow("escaped NUL byte") << QByteArray("a%00b") << QByteArray("a\0b", 3);
}

void TestHttpRequest::urlDecode()
{
    QFETCH(QByteArray, in);
    QFETCH(QByteArray, out);
    QCOMPARE(HttpRequest::urlDecode(in), out);
}

void TestHttpRequest::queryAndPathDecoding()
{
    const auto request = parse("GET /a%20b?x=1&y=%41+B&z&&x=2 HTTP/1.1\r\n\r\n");
    QCOMPARE(request->getStatus(), HttpRequest::complete);
    QCOMPARE(request->getPath(), QByteArray("/a b"));
    QCOMPARE(request->getRawPath(), QByteArray("/a%20b"));
    QCOMPARE(request->getParameter("y"), QByteArray("A B"));
    QVERIFY(request->getParameterMap().contains("z"));
    QCOMPARE(request->getParameter("z"), QByteArray());
    QCOMPARE(request->getParameter("x"), QByteArray("2"));
    QCOMPARE(request->getParameters("x"), QList<QByteArray>({"2", "1"}));
    QCOMPARE(request->getParameter("X"), QByteArray());
}

void TestHttpRequest::formBodyParameters_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<bool>("bodyIsForm");
    QTest::newRow("url-encoded form") << QByteArray("application/x-www-form-urlencoded") << true;
    QTest::newRow("url-encoded with charset")
        << QByteArray("application/x-www-form-urlencoded; charset=UTF-8") << true;
    QTest::newRow("no content type") << QByteArray() << true;
    QTest::newRow("json stays body only") << QByteArray("application/json") << false;
}

void TestHttpRequest::formBodyParameters()
{
    QFETCH(QByteArray, contentType);
    QFETCH(bool, bodyIsForm);
    const QByteArray typeHeader
        = contentType.isEmpty() ? QByteArray() : "Content-Type: " + contentType + "\r\n";
    const auto request
        = parse("POST /f?b=2 HTTP/1.1\r\n" + typeHeader + "Content-Length: 7\r\n\r\na=1%2B1");
    QCOMPARE(request->getStatus(), HttpRequest::complete);
    QCOMPARE(request->getBody(), QByteArray("a=1%2B1"));
    QCOMPARE(request->getParameter("b"), QByteArray("2"));
    QCOMPARE(request->getParameter("a"), bodyIsForm ? QByteArray("1+1") : QByteArray());
}

void TestHttpRequest::cookiesLeaveTheHeaderMap()
{
    const auto request
        = parse("GET / HTTP/1.1\r\nCookie: a=1; b=\"x;y\"\r\nCookie: a=2; c\r\n\r\n");
    QCOMPARE(request->getStatus(), HttpRequest::complete);
    QCOMPARE(request->getCookie("a"), QByteArray("2"));
    QCOMPARE(request->getCookie("b"), QByteArray("x;y"));
    QVERIFY(request->getCookieMap().contains("c"));
    QCOMPARE(request->getHeader("cookie"), QByteArray());
    QVERIFY(!request->getHeaderMap().contains("cookie"));
}

void TestHttpRequest::headers()
{
    const auto request = parse("GET / HTTP/1.1\r\nX-A: one\r\n two\r\nHost:  h  \r\n"
                               ": orphan\r\nX-B: 1\r\nx-b: 2\r\n\r\n");
    QCOMPARE(request->getStatus(), HttpRequest::complete);
    QCOMPARE(request->getHeader("X-A"), QByteArray("one two"));
    QCOMPARE(request->getHeaders("x-a"), QList<QByteArray>({"one two", "one"}));
    QCOMPARE(request->getHeaders("HOST"), QList<QByteArray>({"h : orphan", "h"}));
    QCOMPARE(request->getHeaders("X-B"), QList<QByteArray>({"2", "1"}));
}

void TestHttpRequest::sizeLimits_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<HttpRequest::RequestStatus>("status");
    QTest::addColumn<QByteArray>("warning");
    const QByteArray head = "POST / HTTP/1.1\r\n";
    const auto headerBlockOf = [&head](int size, const QByteArray &contentLength) {
        const QByteArray length = "Content-Length: " + contentLength + "\r\n";
        const int padding = size - head.size() - length.size() - 5 - 2;
        return head + length + "X: " + QByteArray(padding, 'p') + "\r\n\r\n";
    };
    QTest::newRow("announced body beyond the limit aborts before any body byte")
        << headerBlockOf(15990, "100") << HttpRequest::aborted
        << QByteArray("HttpRequest: expected body is too large");
    QTest::newRow("announced body within the limit is awaited")
        << headerBlockOf(15990, "10") << HttpRequest::readingBody << QByteArray();
    QTest::newRow("huge content-length aborts")
        << headerBlockOf(100, "99999999999") << HttpRequest::aborted
        << QByteArray("HttpRequest: expected body is too large");
    QTest::newRow("negative content-length means no body")
        << headerBlockOf(100, "-5") << HttpRequest::complete << QByteArray();
    const QByteArray line = "GET /" + QByteArray(16000 - 16 - 2, 'a') + " HTTP/1.1\r\n";
    QTest::newRow("request exactly at the limit") << line + "\r\n"
                                                  << HttpRequest::complete << QByteArray();
    QTest::newRow("one byte beyond the limit") << line
            + "X\r\n" << HttpRequest::aborted << QByteArray("HttpRequest: received too many bytes");
    QTest::newRow("endless line without CR LF")
        << "GET /" + QByteArray(20000, 'a') << HttpRequest::aborted
        << QByteArray("HttpRequest: received too many bytes");
    QTest::newRow("endless header block")
        << head + QByteArray("X: y\r\n").repeated(3000) << HttpRequest::aborted
        << QByteArray("HttpRequest: received too many bytes");
    QTest::newRow("continuation run is charged for its copies")
        << head + "X: a\r\n" + QByteArray(" b\r\n").repeated(1000) + "\r\n"
        << HttpRequest::aborted << QByteArray("HttpRequest: received too many bytes");
}

void TestHttpRequest::sizeLimits()
{
    QFETCH(QByteArray, bytes);
    QFETCH(HttpRequest::RequestStatus, status);
    QFETCH(QByteArray, warning);
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, warning.constData());
    QCOMPARE(parse(bytes)->getStatus(), status);
}

void TestHttpRequest::bodyStopsAtContentLength()
{
    Loopback link;
    QVERIFY(link.server);
    QVERIFY(
        link.deliver("POST / HTTP/1.1\r\nContent-Length: 4\r\n\r\nbodyGET /next HTTP/1.1\r\n\r\n"));
    HttpRequest first(limits());
    feed(first, link.server);
    QCOMPARE(first.getStatus(), HttpRequest::complete);
    QCOMPARE(first.getBody(), QByteArray("body"));
    HttpRequest second(limits());
    feed(second, link.server);
    QCOMPARE(second.getStatus(), HttpRequest::complete);
    QCOMPARE(second.getPath(), QByteArray("/next"));
}

void TestHttpRequest::multipartUpload_data()
{
    QTest::addColumn<QByteArray>("boundaryParameter");
    QTest::newRow("plain boundary") << QByteArray("XyZ");
    QTest::newRow("quoted boundary") << QByteArray("\"XyZ\"");
}

void TestHttpRequest::multipartUpload()
{
    QFETCH(QByteArray, boundaryParameter);
    const QByteArray fileData = QByteArray("line one\r\n-- XyZ\r\n") + QByteArray(70000, 'z');
    const QByteArray body
        = "--XyZ\r\n"
          "Content-Disposition: form-data; name=\"note\"\r\n\r\n"
          "two\r\nlines\r\n"
          "--XyZ\r\n"
          "Content-Disposition: form-data; name=\"upload\"; filename=\"a.bin\"\r\n"
          "Content-Type: application/octet-stream\r\n\r\n"
        + fileData + "\r\n--XyZ--\r\n";
    auto request = parse(multipartRequest(boundaryParameter, body));
    QCOMPARE(request->getStatus(), HttpRequest::complete);
    QCOMPARE(request->getParameter("note"), QByteArray("two\r\nlines"));
    QCOMPARE(request->getParameter("upload"), QByteArray("a.bin"));
    QCOMPARE(request->getBody(), QByteArray());
    QTemporaryFile *file = request->getUploadedFile("upload");
    QVERIFY(file);
    QCOMPARE(file->readAll(), fileData);
    QVERIFY(!request->getUploadedFile("note"));
    const QString fileName = file->fileName();
    QVERIFY(QFile::exists(fileName));
    request.reset();
    QVERIFY(!QFile::exists(fileName));
}

void TestHttpRequest::multipartFilePartWithoutDataIsDropped()
{
    const QByteArray body
        = "--B\r\nContent-Disposition: form-data; name=\"f\"; filename=\"e\"\r\n\r\n"
          "--B--\r\n";
    QTest::ignoreMessage(QtWarningMsg, "HttpRequest: format error, unexpected end of file data");
    const auto request = parse(multipartRequest("B", body));
    QCOMPARE(request->getStatus(), HttpRequest::complete);
    QVERIFY(!request->getUploadedFile("f"));
    QCOMPARE(request->getParameter("f"), QByteArray());
}

void TestHttpRequest::multipartLimits_data()
{
    QTest::addColumn<int>("bodySize");
    QTest::addColumn<int>("announcedSize");
    QTest::addColumn<HttpRequest::RequestStatus>("status");
    QTest::addColumn<QByteArray>("warning");
    QTest::newRow("just below the limit") << 299 << 299 << HttpRequest::complete << QByteArray();
    QTest::newRow("exactly the limit aborts while reading")
        << 300 << 300 << HttpRequest::aborted
        << QByteArray("HttpRequest: received too many multipart bytes");
    QTest::newRow("announced beyond the limit")
        << 0 << 301 << HttpRequest::aborted
        << QByteArray("HttpRequest: expected multipart body is too large");
}

void TestHttpRequest::multipartLimits()
{
    QFETCH(int, bodySize);
    QFETCH(int, announcedSize);
    QFETCH(HttpRequest::RequestStatus, status);
    QFETCH(QByteArray, warning);
    const QByteArray start
        = "--B\r\nContent-Disposition: form-data; name=\"v\"; filename=\"f\"\r\n\r\n";
    const QByteArray end = "\r\n--B--\r\n";
    QByteArray body = start + QByteArray(qMax(0, bodySize - start.size() - end.size()), 'v') + end;
    body.truncate(bodySize);
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, warning.constData());
    const QByteArray bytes = "POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=B\r\n"
                             "Content-Length: "
        + QByteArray::number(announcedSize) + "\r\n\r\n" + body;
    const auto request = parse(bytes, limits(16000, 300));
    QCOMPARE(request->getStatus(), status);
    if (status == HttpRequest::complete)
        QCOMPARE(
            request->getUploadedFile("v")->size(), qint64(bodySize - start.size() - end.size()));
}

QTEST_GUILESS_MAIN(TestHttpRequest)
#include "test_httprequest.moc"
