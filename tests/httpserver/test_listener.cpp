#include "serverprocess.h"

#include <QDir>
#include <QRandomGenerator>
#include <QSslSocket>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

const QByteArray text503
    = "HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\nToo many connections\r\n";
const QByteArray text413
    = "HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too large\r\n";

// A server with two small documents "/a.txt" and "/b.txt"; listenerKeys go into "[listener]".
std::unique_ptr<ServerProcess> startServer(const QString &listenerKeys)
{
    auto server = std::make_unique<ServerProcess>();
    server->writeFile("a.txt", "A");
    server->writeFile("b.txt", "B");
    server->writeConfig("[listener]\n" + listenerKeys + "\n");
    if (!server->start())
        return nullptr;
    return server;
}

std::unique_ptr<QTcpSocket> connectTo(const ServerProcess &server)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, server.port());
    socket->waitForConnected(10000);
    return socket;
}

QByteArray get(const QByteArray &path, const QByteArray &extraHeaders = QByteArray(),
    const QByteArray &version = "HTTP/1.1")
{
    return "GET " + path + ' ' + version + "\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n";
}

// How often the server has logged text so far.
int logLines(ServerProcess &server, const char *text)
{
    return server.output().count(text);
}

bool hasCloseHeader(const QByteArray &head)
{
    return head.contains("\r\nConnection: close\r\n");
}

} // namespace

class TestListener : public QObject
{
    Q_OBJECT

private slots:
    void keepAliveServesRequestAfterRequest();
    void pipelinedRequestsAnsweredInOrder();
    void closeRules_data();
    void closeRules();
    void abortedRequestGets413_data();
    void abortedRequestGets413();
    void exhaustedPoolAnswers503();
    void silentClientDroppedWithoutReply_data();
    void silentClientDroppedWithoutReply();
    void handlersReusedAndPoolShrinksBack();
    void largeUploadConsumedExactly();
    void garbageLeavesServerServing();
    void httpsRoundTrip();
    void halfSslConfigServesPlainHttp();
};

void TestListener::keepAliveServesRequestAfterRequest()
{
    const auto server = startServer("readTimeout=30000");
    QVERIFY(server);
    const auto socket = connectTo(*server);
    for (const QByteArray path : {"/a.txt", "/b.txt", "/a.txt"}) {
        socket->write(get(path));
        QByteArray body;
        const QByteArray head = readHttpResponse(*socket, 10000, &body);
        QVERIFY2(head.startsWith("HTTP/1.1 200 OK\r\n"), head);
        QVERIFY(!hasCloseHeader(head));
        QCOMPARE(body, path.mid(1, 1).toUpper());
        QCOMPARE(socket->state(), QAbstractSocket::ConnectedState);
    }
}

void TestListener::pipelinedRequestsAnsweredInOrder()
{
    const auto server = startServer("readTimeout=30000");
    QVERIFY(server);
    const auto socket = connectTo(*server);
    socket->write(get("/a.txt") + get("/b.txt", "Connection: close\r\n"));
    QByteArray first;
    const QByteArray firstHead = readHttpResponse(*socket, 10000, &first);
    QByteArray second;
    const QByteArray secondHead = readHttpResponse(*socket, 10000, &second);
    QCOMPARE(first, QByteArray("A"));
    QVERIFY2(!hasCloseHeader(firstHead), firstHead);
    QCOMPARE(second, QByteArray("B"));
    QVERIFY2(hasCloseHeader(secondHead), secondHead);
    QTRY_COMPARE_WITH_TIMEOUT(socket->state(), QAbstractSocket::UnconnectedState, 10000);
}

void TestListener::closeRules_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("HTTP/1.0") << get("/a.txt", QByteArray(), "HTTP/1.0");
    QTest::newRow("Connection: close") << get("/a.txt", "Connection: close\r\n");
    QTest::newRow("Connection: CLOSE") << get("/a.txt", "Connection: CLOSE\r\n");
}

// The read timeout is far away, so only the close rule can end these connections.
void TestListener::closeRules()
{
    QFETCH(QByteArray, request);
    const auto server = startServer("readTimeout=60000");
    QVERIFY(server);
    const auto socket = connectTo(*server);
    socket->write(request);
    QByteArray body;
    const QByteArray head = readHttpResponse(*socket, 10000, &body);
    QVERIFY2(head.startsWith("HTTP/1.1 200 OK\r\n"), head);
    QVERIFY2(hasCloseHeader(head), head);
    QCOMPARE(body, QByteArray("A"));
    QTRY_COMPARE_WITH_TIMEOUT(socket->state(), QAbstractSocket::UnconnectedState, 10000);
}

void TestListener::abortedRequestGets413_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("two-word request line") << QByteArray("GET /a.txt\r\n\r\n");
    QTest::newRow("four-word request line") << QByteArray("GET /a.txt x HTTP/1.1\r\n\r\n");
    QTest::newRow("third word without HTTP") << QByteArray("GET /a.txt FTP\r\n\r\n");
    QTest::newRow("announced body over the limit")
        << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Length: 5000\r\n\r\n")
            + QByteArray(100, 'x');
    QTest::newRow("header block over the limit")
        << QByteArray("GET /a.txt HTTP/1.1\r\n") + QByteArray("X: y\r\n").repeated(300);
    QTest::newRow("multipart announced over its limit")
        << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=b\r\n"
                      "Content-Length: 3000\r\n\r\n");
    QTest::newRow("second pipelined request aborted after the first is answered")
        << get("/nothing-here.txt") + "BROKEN\r\n\r\n";
}

void TestListener::abortedRequestGets413()
{
    QFETCH(QByteArray, request);
    const auto server
        = startServer("readTimeout=30000\nmaxRequestSize=1000\nmaxMultiPartSize=2000");
    QVERIFY(server);
    const QByteArray reply = server->exchange(request);
    QVERIFY2(reply.endsWith(text413), reply);
    if (!request.startsWith("GET /nothing"))
        QCOMPARE(reply, text413);
}

void TestListener::exhaustedPoolAnswers503()
{
    const auto server = startServer("maxThreads=1\nreadTimeout=30000");
    QVERIFY(server);
    // The probe connection of start() holds the only handler until it is seen to be gone.
    QTRY_COMPARE_WITH_TIMEOUT(logLines(*server, "): disconnected"), 1, 15000);
    auto held = connectTo(*server);
    held->write(get("/a.txt"));
    QVERIFY(readHttpResponse(*held).startsWith("HTTP/1.1 200 OK"));
    QCOMPARE(server->exchange(QByteArray()), text503);
    QCOMPARE(server->exchange(get("/a.txt")), text503);
    held->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(logLines(*server, "): disconnected"), 2, 15000);
    QVERIFY(server->exchange(get("/a.txt", "Connection: close\r\n")).startsWith("HTTP/1.1 200 OK"));
}

void TestListener::silentClientDroppedWithoutReply_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("nothing sent") << QByteArray();
    QTest::newRow("half a request line") << QByteArray("GET /a.t");
    QTest::newRow("headers never ended") << QByteArray("GET /a.txt HTTP/1.1\r\nHost: x\r\n");
    QTest::newRow("body shorter than announced")
        << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Length: 10\r\n\r\n12345");
}

void TestListener::silentClientDroppedWithoutReply()
{
    QFETCH(QByteArray, request);
    const auto server = startServer("readTimeout=1000");
    QVERIFY(server);
    const auto socket = connectTo(*server);
    socket->write(request);
    QTRY_COMPARE_WITH_TIMEOUT(socket->state(), QAbstractSocket::UnconnectedState, 15000);
    QCOMPARE(socket->readAll(), QByteArray());
    QVERIFY(server->output().contains("read timeout occured"));
}

void TestListener::handlersReusedAndPoolShrinksBack()
{
    const auto server = startServer("minThreads=1\nmaxThreads=10\ncleanupInterval=300\n"
                                    "readTimeout=30000");
    QVERIFY(server);
    // The server closes these connections itself, so each finds its handler idle again.
    QVERIFY(server->exchange(get("/a.txt", "Connection: close\r\n")).startsWith("HTTP/1.1 200"));
    QTRY_COMPARE(logLines(*server, "): finished request"), 1);
    const int threadsBefore = logLines(*server, "): thread started");
    for (int i = 0; i < 10; ++i)
        QVERIFY(
            server->exchange(get("/a.txt", "Connection: close\r\n")).startsWith("HTTP/1.1 200"));
    QTRY_COMPARE(logLines(*server, "): finished request"), 11);
    QCOMPARE(logLines(*server, "): thread started"), threadsBefore);

    // Five connections held at once need five handler threads ...
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 5; ++i) {
        clients.push_back(connectTo(*server));
        clients.back()->write(get("/a.txt"));
        QVERIFY(readHttpResponse(*clients.back()).startsWith("HTTP/1.1 200"));
    }
    QTRY_COMPARE(logLines(*server, "): finished request"), 16);
    QVERIFY(logLines(*server, "): thread started") >= 5);
    QCOMPARE(logLines(*server, "): thread stopped"), 0);
    // ... and once they are gone the pool ends one idle handler per tick down to one.
    clients.clear();
    QTRY_VERIFY_WITH_TIMEOUT(server->output().contains("pool size is now 1\n"), 20000);
    QTRY_COMPARE(logLines(*server, "): thread stopped"), 4);
    const QByteArray output = server->output();
    int previous = 0;
    for (const char *size : {"now 4\n", "now 3\n", "now 2\n", "now 1\n"}) {
        const int at = output.indexOf(size, previous);
        QVERIFY2(at > previous, size);
        previous = at;
    }
    QVERIFY(!output.contains("pool size is now 0"));
}

// A multipart body far larger than any socket buffer, followed on the same connection by one
// more request: the body must be consumed to its last byte and not one byte further.
void TestListener::largeUploadConsumedExactly()
{
    const auto server = startServer("readTimeout=10000\nmaxMultiPartSize=20000000");
    QVERIFY(server);
    const QByteArray body
        = "--B\r\nContent-Disposition: form-data; name=\"f\"; filename=\"u\"\r\n\r\n"
        + QByteArray(8 * 1024 * 1024, 'u') + "\r\n--B--\r\n";
    const auto socket = connectTo(*server);
    socket->write("POST /a.txt HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=B\r\n"
                  "Content-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body + get("/b.txt"));
    QByteArray first;
    QVERIFY(readHttpResponse(*socket, 60000, &first).startsWith("HTTP/1.1 200 OK"));
    QCOMPARE(first, QByteArray("A"));
    QByteArray second;
    QVERIFY(readHttpResponse(*socket, 10000, &second).startsWith("HTTP/1.1 200 OK"));
    QCOMPARE(second, QByteArray("B"));
}

// Random bytes and hostile framing on many connections at once; afterwards the server still
// answers an ordinary request.
void TestListener::garbageLeavesServerServing()
{
    const auto server
        = startServer("readTimeout=1000\nmaxRequestSize=4000\nmaxMultiPartSize=20000");
    QVERIFY(server);
    QList<QByteArray> payloads = {
        "POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\nGET / HTTP/1.1\r\n\r\n",
        "POST / HTTP/1.1\r\nContent-Length: 18446744073709551617\r\n\r\n",
        "POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=\r\nContent-Length: "
        "10\r\n\r\n"
        "0123456789",
        "POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=\"\r\nContent-Length: "
        "12\r\n\r\n"
        "--\"\r\n--\"--\r\n",
        "POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=q\r\nContent-Length: "
        "60\r\n\r\n"
        "--q\r\nContent-Disposition: form-data; name=\"f\"; "
        "filename=\"x\r\n\r\n\n--q--\r\n\r\n\r\n",
        "GET / HTTP/1.1\r\n" + QByteArray(":\r\n").repeated(900) + "\r\n",
        "GET / HTTP/1.1\r\nX: a\r\n" + QByteArray(" b\r\n").repeated(2000),
        QByteArray(5000, '\n'),
        QByteArray(5000, '\0'),
    };
    QRandomGenerator random(20261206);
    for (int i = 0; i < 20; ++i) {
        QByteArray noise(4096, Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        payloads.append(noise);
    }
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (const QByteArray &payload : qAsConst(payloads)) {
        clients.push_back(connectTo(*server));
        clients.back()->write(payload);
    }
    for (const auto &client : clients)
        QTRY_COMPARE_WITH_TIMEOUT(client->state(), QAbstractSocket::UnconnectedState, 20000);
    QCOMPARE(server->qprocess().state(), QProcess::Running);
    QVERIFY(server->exchange(get("/a.txt", "Connection: close\r\n")).startsWith("HTTP/1.1 200 OK"));
}

void TestListener::httpsRoundTrip()
{
    auto server = std::make_unique<ServerProcess>();
    QProcess openssl;
    openssl.setWorkingDirectory(server->dir());
    openssl.start("openssl",
        {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out", "cert.pem",
            "-days", "2", "-subj", "/CN=localhost"});
    QVERIFY(openssl.waitForFinished(60000));
    QCOMPARE(openssl.exitCode(), 0);
    server->writeFile("a.txt", "A");
    server->writeConfig("[listener]\nsslKeyFile=key.pem\nsslCertFile=cert.pem\nmaxThreads=1\n");
    QVERIFY(server->start());
    QTRY_VERIFY(server->output().contains("HttpConnectionHandlerPool: SSL settings loaded"));
    QTRY_COMPARE_WITH_TIMEOUT(logLines(*server, "): disconnected"), 1, 15000);
    // With one handler, the second connection shows that its SSL socket serves again.
    for (int connection = 0; connection < 2; ++connection) {
        QSslSocket socket;
        socket.setPeerVerifyMode(QSslSocket::VerifyNone);
        socket.connectToHostEncrypted("127.0.0.1", server->port());
        QVERIFY2(socket.waitForEncrypted(15000), qPrintable(socket.errorString()));
        for (int request = 0; request < 2; ++request) {
            socket.write(get("/a.txt"));
            QByteArray body;
            const QByteArray head = readHttpResponse(socket, 10000, &body);
            QVERIFY2(head.startsWith("HTTP/1.1 200 OK\r\n"), head);
            QCOMPARE(body, QByteArray("A"));
        }
        socket.disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(logLines(*server, "): disconnected"), 2 + connection, 15000);
    }
    QVERIFY(!server->exchange(get("/a.txt", "Connection: close\r\n"), 3000).contains("HTTP/1.1"));
}

void TestListener::halfSslConfigServesPlainHttp()
{
    const auto server = startServer("sslKeyFile=key.pem");
    QVERIFY(server);
    QVERIFY(server->exchange(get("/a.txt", "Connection: close\r\n")).startsWith("HTTP/1.1 200 OK"));
    QTRY_VERIFY(server->output().contains("Application has started"));
    QVERIFY(!server->output().contains("SSL"));
    QVERIFY(!server->output().contains("ssl"));
}

QTEST_GUILESS_MAIN(TestListener)
#include "test_listener.moc"
