#include "crypto/des.h"
#include "serverprocess.h"

#include <QSslSocket>
#include <QtTest>

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

} // namespace

class TestListener : public QObject
{
    Q_OBJECT

private slots:
    void keepAliveCloseAndNonReadingClient();
    void refusedRequests();
    void slowRequestsEndAtTheirDeadline();
    void uploadTheServerCannotKeepIs500();
    void poolShrinksBackAfterLoad();
    void httpsServesConnectionAfterConnection();
};

// The timeouts are far away, so only the close rules can end these connections. A key file
// without a certificate file leaves SSL off without a word.
void TestListener::keepAliveCloseAndNonReadingClient()
{
    const auto server = startServer("readTimeout=600000\nrequestTimeout=600000\n"
                                    "maxMultiPartSize=20000000\nsslKeyFile=key.pem");
    QVERIFY(server);
    // An upload far larger than any socket buffer is consumed to its last byte, not one further;
    // the last "B" is asked for on the same connection once the others are answered.
    for (const auto &[requests, bodies, closes] :
        {std::tuple<QByteArray, QByteArray, bool> {get("/a.txt", "", "HTTP/1.0"), "A", true},
            {get("/a.txt", "Connection: CLOSE\r\n"), "A", true},
            {upload(8 * 1024 * 1024) + get("/b.txt"), "ABB", false}}) {
        const auto socket = connectTo(*server);
        socket->write(requests);
        for (int i = 0; i < bodies.size(); ++i) {
            if (i == 2)
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
    }
    QVERIFY(!server->output().toLower().contains("ssl"));

    // A client that reads none of a huge file holds only its own connection.
    server->writeFile("big.bin", QByteArray(64 * 1024 * 1024, 'b'));
    const auto stalled = connectTo(*server);
    stalled->setReadBufferSize(1);
    stalled->write(get("/big.bin"));
    QTRY_VERIFY_WITH_TIMEOUT(server->output().contains("GET /big.bin"), 60000);
    const QByteArray login = "username=dorx&password=" + des0_out("6172839405").toLatin1();
    QCOMPARE(server->post("/command/login", login, QByteArray(), 60000).body, QByteArray("OK"));
    QVERIFY(server->exchange(get("/a.txt", "Connection: close\r\n"), 60000)
                .startsWith("HTTP/1.1 200 OK"));
    QCOMPARE(stalled->state(), QAbstractSocket::ConnectedState);
}

// Over a limit: 413, closed. Silent clients, a short body too, are dropped after the read
// timeout without a reply.
void TestListener::refusedRequests()
{
    const auto server = startServer("readTimeout=1000\nmaxRequestSize=1000\nmaxMultiPartSize=2000");
    QVERIFY(server);
    const QByteArray text413
        = "HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too large\r\n";
    QCOMPARE(QByteArrayList({server->exchange("POST /a.txt HTTP/1.1\r\nContent-Length: 5000\r\n\r\n"
                                 + QByteArray(100, 'x')),
                 server->exchange("POST /a.txt HTTP/1.1\r\nContent-Type: multipart/form-data; "
                                  "boundary=b\r\nContent-Length: 3000\r\n\r\n"),
                 server->exchange(QByteArray()),
                 server->exchange("POST /a.txt HTTP/1.1\r\nContent-Length: 10\r\n\r\n12345")}),
        QByteArrayList({text413, text413, "", ""}));
    QTRY_COMPARE_WITH_TIMEOUT(server->output().count("read timeout occured"), 2, 30000);
}

// More clients than handlers drip bodies byte by byte, never hitting the read timeout: only the
// request deadline frees the handlers for a normal client.
void TestListener::slowRequestsEndAtTheirDeadline()
{
    const auto server = startServer("maxThreads=3\nreadTimeout=1000\nrequestTimeout=2000");
    QVERIFY(server);
    // The probe connection of start() holds a handler until it is seen to be gone.
    QTRY_COMPARE_WITH_TIMEOUT(server->output().count("): disconnected"), 1, 15000);
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
    QTRY_COMPARE_WITH_TIMEOUT(server->output().count("Too many incoming connections"), 2, 30000);
    // Refused with 503 until a handler is free (the drip goes on between the tries).
    QTRY_VERIFY_WITH_TIMEOUT(server->exchange(get("/a.txt", "Connection: close\r\n"), 5000)
                                 .startsWith("HTTP/1.1 200 OK"),
        60000);
    QVERIFY(server->output().count("request not complete within 2000 ms") >= 1);
}

// An upload the server cannot keep in a temporary file (the folder for them is a file, or a full
// disk) is its own fault: 500, logged critical.
void TestListener::uploadTheServerCannotKeepIs500()
{
    for (const bool full : {false, true}) {
        ServerProcess server;
        server.writeConfig("[listener]\nreadTimeout=60000\n");
        const QString tmp = server.filePath("tmp");
        bool mounted = false;
        const auto unmount = qScopeGuard([&] {
            if (mounted)
                QProcess::execute("umount", {"-l", tmp});
        });
        if (!full)
            server.writeFile("tmp", "a file where a folder belongs");
        else if (!QDir().mkpath(tmp)
            || !(mounted
                = QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", tmp}) == 0))
            QSKIP("a small tmpfs cannot be mounted here (needs root and the mount permission)");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TMPDIR", tmp);
        server.qprocess().setProcessEnvironment(environment);
        QVERIFY(server.start());
        QCOMPARE(server.exchange(upload(200000), 5000),
            QByteArray("HTTP/1.1 500 internal server error\r\nConnection: close\r\n\r\n"
                       "500 Internal server error\r\n"));
        QVERIFY(server.output().contains(full
                ? "CRITICAL HttpRequest: Error writing temp file for multipart"
                : "CRITICAL HttpRequest: cannot open temp file for multipart body"));
    }
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
    QTRY_VERIFY_WITH_TIMEOUT(server->output().count("): thread started") >= 5, 60000);
    clients.clear();
    QTRY_VERIFY_WITH_TIMEOUT(server->output().contains("pool size is now 1\n"), 20000);
    const QString output = QString::fromUtf8(server->output());
    QVERIFY(output.contains(QRegularExpression("(?s)now 4\n.*now 3\n.*now 2\n.*now 1\n")));
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
    QTRY_COMPARE_WITH_TIMEOUT(server->output().count("): disconnected"), 1, 15000);
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
        QTRY_COMPARE_WITH_TIMEOUT(server->output().count("): disconnected"), 2 + connection, 15000);
    }
    QVERIFY(!server->exchange(get("/a.txt", "Connection: close\r\n"), 3000).contains("HTTP/1.1"));
}

QTEST_GUILESS_MAIN(TestListener)
#include "test_listener.moc"
