#include "httpserver/httprequest.h"

#include <QBuffer>
#include <QTemporaryFile>
#include <QtTest>

#include <memory>
#include <vector>

using weblet::HttpRequest;
using Status = HttpRequest::RequestStatus;
using Requests = std::vector<std::unique_ptr<HttpRequest>>;
using Uploads = QMap<QByteArray, QByteArray>; // form field -> uploaded content

namespace {

// Lets bytes arrive in pieces of `step` bytes and feeds what has arrived to requests the way the
// connection handler does: a new request once one is complete. The limits are 16000 bytes for a
// plain request and 100000 for a multipart body.
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

class TestHttpRequest : public QObject
{
    Q_OBJECT

private slots:
    void requestStream_data();
    void requestStream();
    void headersParametersAndCookies_data();
    void headersParametersAndCookies();
    void sizeLimits_data();
    void sizeLimits();
    void multipartUploads_data();
    void multipartUploads();
};

// Each row arrives once whole and once byte by byte; "lines" are the request lines parsed.
// Other framing is fuzzed (fuzz/fuzz_httprequest.cpp).
void TestHttpRequest::requestStream_data()
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

void TestHttpRequest::requestStream()
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

void TestHttpRequest::headersParametersAndCookies_data()
{
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<bool>("bodyIsForm");
    QTest::newRow("url-encoded with charset")
        << QByteArray("Content-Type: application/x-www-form-urlencoded; charset=UTF-8\r\n") << true;
    QTest::newRow("json stays body only")
        << QByteArray("Content-Type: application/json\r\n") << false;
}

// What handlers read of a request; the decoding's edge cases are fuzzed.
void TestHttpRequest::headersParametersAndCookies()
{
    QFETCH(QByteArray, contentType);
    QFETCH(bool, bodyIsForm);
    const QByteArray bytes = "POST /a%20b?x=1&y=%41+%4a&x=2 HTTP/1.1\r\nX-A: one\r\n two\r\n"
                             "Cookie: a=1; b=\"x;y\"\r\nCookie: a=2\r\n"
        + contentType + "Content-Length: 7\r\n\r\nw=1%2B1";
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

void TestHttpRequest::sizeLimits_data()
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

void TestHttpRequest::sizeLimits()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Status, status);
    QFETCH(QByteArray, warning);
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, warning.constData());
    QCOMPARE(parse(bytes).back()->getStatus(), status);
}

void TestHttpRequest::multipartUploads_data()
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

void TestHttpRequest::multipartUploads()
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

QTEST_GUILESS_MAIN(TestHttpRequest)
#include "test_httprequest.moc"
