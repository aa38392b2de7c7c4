#include "crypto/des.h"
#include "serverprocess.h"

#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

// A running server with the documents "/a.txt" and "/b.txt"; listenerKeys go into "[listener]".
std::unique_ptr<ServerProcess> startServer(const QString &listenerKeys)
{
    auto server = std::make_unique<ServerProcess>();
    server->writeFile("a.txt", "A");
    server->writeFile("b.txt", "B");
    server->writeConfig("[listener]\n" + listenerKeys + "\n");
    return server->start() ? std::move(server) : nullptr;
}

std::unique_ptr<QTcpSocket> connectTo(const ServerProcess &server)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, server.port());
    socket->waitForConnected(10000);
    return socket;
}

QByteArray get(
    const QByteArray &path, const QByteArray &headers = "", const QByteArray &version = "HTTP/1.1")
{
    return "GET " + path + ' ' + version + "\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
}

// A multipart POST to /a.txt carrying one file of size bytes.
QByteArray upload(int size)
{
    const QByteArray body
        = "--B\r\nContent-Disposition: form-data; name=\"f\"; filename=\"u\"\r\n\r\n"
        + QByteArray(size, 'u') + "\r\n--B--\r\n";
    return "POST /a.txt HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=B\r\n"
           "Content-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

int logLines(ServerProcess &server, const char *text)
{
    return server.output().count(text);
}

} // namespace

class TestListener : public QObject
{
    Q_OBJECT

private slots:
    void keepAliveAndClose_data();
    void keepAliveAndClose();
    void refusedRequests_data();
    void refusedRequests();
    void nonReadingClientHoldsNoOneElse();
    void slowRequestsEndAtTheirDeadline();
    void uploadTheServerCannotKeepIs500_data();
    void uploadTheServerCannotKeepIs500();
    void poolShrinksBackAfterLoad();
    void httpsServesConnectionAfterConnection();
};

void TestListener::keepAliveAndClose_data()
{
    QTest::addColumn<QByteArray>("requests"); // sent in one write
    QTest::addColumn<QByteArray>("bodies"); // one letter per response, in order
    QTest::addColumn<bool>("closes");
    QTest::newRow("HTTP/1.0") << get("/a.txt", "", "HTTP/1.0") << QByteArray("A") << true;
    QTest::newRow("Connection: CLOSE")
        << get("/a.txt", "Connection: CLOSE\r\n") << QByteArray("A") << true;
    // Far larger than any socket buffer: consumed to its last byte and not one byte further.
    QTest::newRow("large upload, then a request")
        << upload(8 * 1024 * 1024) + get("/b.txt") << QByteArray("AB") << false;
}

// The read timeout is far away, so only the close rules can end these connections. A key file
// without a certificate file leaves SSL off without a word.
void TestListener::keepAliveAndClose()
{
    QFETCH(QByteArray, requests);
    QFETCH(QByteArray, bodies);
    QFETCH(bool, closes);
    const auto server
        = startServer("readTimeout=60000\nmaxMultiPartSize=20000000\nsslKeyFile=key.pem");
    QVERIFY(server);
    const auto socket = connectTo(*server);
    socket->write(requests);
    if (!closes)
        bodies += 'B'; // asked for on the same connection once the others are answered
    for (int i = 0; i < bodies.size(); ++i) {
        if (i == bodies.size() - 1 && !closes)
            socket->write(get("/b.txt"));
        QByteArray body;
        const QByteArray head = readHttpResponse(*socket, 60000, &body);
        QVERIFY2(head.startsWith("HTTP/1.1 200 OK\r\n"), head);
        QCOMPARE(body, bodies.mid(i, 1));
        QCOMPARE(head.contains("\r\nConnection: close\r\n"), closes);
    }
    if (closes)
        QTRY_COMPARE_WITH_TIMEOUT(socket->state(), QAbstractSocket::UnconnectedState, 10000);
    QCOMPARE(socket->state() == QAbstractSocket::ConnectedState, !closes);
    QVERIFY(!server->output().toLower().contains("ssl"));
}

void TestListener::refusedRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    const QByteArray text413
        = "HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too large\r\n";
    QTest::newRow("body over the limit")
        << "POST /a.txt HTTP/1.1\r\nContent-Length: 5000\r\n\r\n" + QByteArray(100, 'x') << text413;
    QTest::newRow("multipart over its limit") << QByteArray(
        "POST /a.txt HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=b\r\n"
        "Content-Length: 3000\r\n\r\n") << text413;
    // Silent clients are dropped after the read timeout without a reply, a short body too.
    QTest::newRow("nothing sent") << QByteArray() << QByteArray();
    QTest::newRow("body shorter than announced")
        << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Length: 10\r\n\r\n12345") << QByteArray();
}

void TestListener::refusedRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    const auto server = startServer("readTimeout=1000\nmaxRequestSize=1000\nmaxMultiPartSize=2000");
    QVERIFY(server);
    QCOMPARE(server->exchange(request), reply);
    if (reply.isEmpty())
        QTRY_VERIFY_WITH_TIMEOUT(server->output().contains("read timeout occured"), 30000);
}

// A client that reads none of a huge file holds only its own connection (its timeouts lie far
// beyond the test's waits, so the others' answers show it held no one else).
void TestListener::nonReadingClientHoldsNoOneElse()
{
    const auto server = startServer("readTimeout=600000\nrequestTimeout=600000");
    QVERIFY(server);
    server->writeFile("big.bin", QByteArray(64 * 1024 * 1024, 'b'));
    const auto stalled = connectTo(*server);
    stalled->setReadBufferSize(1);
    stalled->write(get("/big.bin"));
    QTRY_VERIFY_WITH_TIMEOUT(server->output().contains("GET /big.bin"), 60000);
    const ServerProcess::Reply login = server->post("/command/login",
        "username=dorx&password=" + des0_out(QStringLiteral("6172839405")).toLatin1(), QByteArray(),
        60000);
    QCOMPARE(login.body, QByteArray("OK"));
    const auto reader = connectTo(*server);
    reader->write(get("/a.txt"));
    QVERIFY(readHttpResponse(*reader, 60000).startsWith("HTTP/1.1 200 OK"));
    QCOMPARE(stalled->state(), QAbstractSocket::ConnectedState);
}

// More clients than handlers drip bodies byte by byte, never hitting the read timeout: only the
// request deadline frees the handlers for a normal client.
void TestListener::slowRequestsEndAtTheirDeadline()
{
    const auto server = startServer("maxThreads=3\nreadTimeout=1000\nrequestTimeout=2000");
    QVERIFY(server);
    // The probe connection of start() holds a handler until it is seen to be gone.
    QTRY_COMPARE_WITH_TIMEOUT(logLines(*server, "): disconnected"), 1, 15000);
    std::vector<std::unique_ptr<QTcpSocket>> slow;
    for (int i = 0; i < 5; ++i) {
        slow.push_back(connectTo(*server));
        slow.back()->write("POST /a.txt HTTP/1.1\r\nContent-Length: 1000\r\n\r\n");
    }
    QTimer drip;
    connect(&drip, &QTimer::timeout, [&slow] {
        for (const auto &client : slow)
            client->write("x");
    });
    drip.start(200);
    QTRY_COMPARE_WITH_TIMEOUT(logLines(*server, "Too many incoming connections"), 2, 30000);
    std::unique_ptr<QTcpSocket> client;
    QByteArray reply;
    const auto served = [&] {
        reply += client ? client->readAll() : QByteArray();
        if (reply.startsWith("HTTP/1.1 200 OK"))
            return true;
        if (!client || client->state() != QAbstractSocket::ConnectedState) {
            reply.clear();
            client = connectTo(*server);
            client->write(get("/a.txt", "Connection: close\r\n"));
        }
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(served(), 60000);
    QVERIFY(logLines(*server, "request not complete within 2000 ms") >= 1);
}

void TestListener::uploadTheServerCannotKeepIs500_data()
{
    QTest::addColumn<bool>("full"); // else the folder for temporary files is not a folder
    QTest::addColumn<QByteArray>("critical");
    QTest::newRow("temporary file cannot be opened")
        << false << QByteArray("HttpRequest: cannot open temp file for multipart body");
    QTest::newRow("disk full") << true
                               << QByteArray("HttpRequest: Error writing temp file for multipart");
}

// An upload the server cannot keep in a temporary file is its own fault: 500, logged critical.
void TestListener::uploadTheServerCannotKeepIs500()
{
    QFETCH(bool, full);
    QFETCH(QByteArray, critical);
    ServerProcess server;
    server.writeConfig("[listener]\nreadTimeout=60000\n");
    const QString tmp = server.filePath("tmp");
    struct Unmount
    {
        QString path;
        ~Unmount()
        {
            if (!path.isEmpty())
                QProcess::execute("umount", {"-l", path});
        }
    } unmount;
    if (!full) {
        server.writeFile("tmp", "a file where a folder belongs");
    } else {
        QVERIFY(QDir().mkpath(tmp));
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", tmp}) != 0)
            QSKIP("a small tmpfs cannot be mounted here (needs root and the mount permission)");
        unmount.path = tmp;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TMPDIR", tmp);
    server.qprocess().setProcessEnvironment(environment);
    QVERIFY(server.start());
    QCOMPARE(server.exchange(upload(200000), 5000),
        QByteArray("HTTP/1.1 500 internal server error\r\nConnection: close\r\n\r\n"
                   "500 Internal server error\r\n"));
    QVERIFY(server.output().contains("CRITICAL " + critical));
}

// After five held connections the pool ends one idle handler per tick, down to "minThreads".
void TestListener::poolShrinksBackAfterLoad()
{
    const auto server = startServer("minThreads=1\ncleanupInterval=300\nreadTimeout=30000");
    QVERIFY(server);
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 5; ++i) {
        clients.push_back(connectTo(*server));
        clients.back()->write(get("/a.txt"));
        QVERIFY(readHttpResponse(*clients.back()).startsWith("HTTP/1.1 200"));
    }
    QTRY_VERIFY_WITH_TIMEOUT(logLines(*server, "): thread started") >= 5, 60000);
    clients.clear();
    QTRY_VERIFY_WITH_TIMEOUT(server->output().contains("pool size is now 1\n"), 20000);
    const QByteArray output = server->output();
    int previous = 0;
    for (const char *size : {"now 4\n", "now 3\n", "now 2\n", "now 1\n"}) {
        QVERIFY2(output.indexOf(size, previous) > previous, size);
        previous = output.indexOf(size, previous);
    }
    QVERIFY(!output.contains("pool size is now 0"));
}

// With one handler, the second connection shows that its SSL socket serves again.
void TestListener::httpsServesConnectionAfterConnection()
{
    auto server = std::make_unique<ServerProcess>();
    QProcess openssl;
    openssl.setWorkingDirectory(server->dir());
    openssl.start("openssl",
        {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out", "cert.pem",
            "-days", "2", "-subj", "/CN=localhost"});
    QVERIFY(openssl.waitForFinished(60000) && openssl.exitCode() == 0);
    server->writeFile("a.txt", "A");
    server->writeConfig("[listener]\nsslKeyFile=key.pem\nsslCertFile=cert.pem\nmaxThreads=1\n");
    QVERIFY(server->start());
    QTRY_COMPARE_WITH_TIMEOUT(logLines(*server, "): disconnected"), 1, 15000);
    for (int connection = 0; connection < 2; ++connection) {
        QSslSocket socket;
        socket.setPeerVerifyMode(QSslSocket::VerifyNone);
        socket.connectToHostEncrypted("127.0.0.1", server->port());
        QVERIFY2(socket.waitForEncrypted(15000), qPrintable(socket.errorString()));
        socket.write(get("/a.txt") + get("/a.txt"));
        for (int request = 0; request < 2; ++request) {
            QByteArray body;
            QVERIFY(readHttpResponse(socket, 10000, &body).startsWith("HTTP/1.1 200 OK\r\n"));
            QCOMPARE(body, QByteArray("A"));
        }
        socket.disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(logLines(*server, "): disconnected"), 2 + connection, 15000);
    }
    QVERIFY(!server->exchange(get("/a.txt", "Connection: close\r\n"), 3000).contains("HTTP/1.1"));
}

QTEST_GUILESS_MAIN(TestListener)
#include "test_listener.moc"
