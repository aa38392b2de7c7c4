#include "serverprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

struct Reply
{
    QByteArray statusLine;
    QMap<QByteArray, QByteArray> headers; // lower-case names
    QByteArray body; // de-chunked
};

// Sends one GET on a kept-alive connection and reads its framed response.
Reply get(QTcpSocket &socket, const QByteArray &target)
{
    socket.write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    Reply reply;
    const QByteArray whole = readHttpResponse(socket, 15000, &reply.body);
    const QList<QByteArray> lines = whole.left(whole.indexOf("\r\n\r\n")).split('\n');
    reply.statusLine = lines.value(0).trimmed();
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines.at(i).indexOf(':');
        reply.headers.insert(
            lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
    }
    return reply;
}

// A framed body has exactly one framing: a length, or chunks.
bool hasOneFraming(const Reply &reply)
{
    return reply.headers.contains("content-length") != reply.headers.contains("transfer-encoding");
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &b : bytes)
        b = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

const QByteArray indexPage = "<html><body>terminal</body></html>\n";

} // namespace

class TestStaticFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void replies_data();
    void replies();
    void forbiddenPathIsLogged();
    void largeFileStreamsExactlyAndIsNeverCached();
    void smallFileComesFromCacheUntilCacheTime();
    void cacheKeepsWithinCacheSize();
    void http10LargeFileEndsWithConnection();

private:
    // Starts the server on a docroot of sample files with the given "[docroot]" keys.
    void start(const QString &docrootKeys);
    void connect(QTcpSocket &socket);
    QByteArray logText();

    std::unique_ptr<ServerProcess> server;
    QByteArray big;
};

void TestStaticFiles::init()
{
    server = std::make_unique<ServerProcess>();
    big = randomBytes(70000);
    server->writeFile("docroot/index.html", indexPage);
    server->writeFile("docroot/notes.txt", "notes");
    server->writeFile("docroot/pic.png", "png");
    server->writeFile("docroot/IMAGE.PNG", "PNG");
    server->writeFile("docroot/big.bin", big);
    server->writeFile("docroot/small.txt", QByteArray(1000, 'a'));
    server->writeFile("docroot/other.txt", QByteArray(1000, 'o'));
    server->writeFile("docroot/sub/page.html", "sub");
    server->writeFile("docroot/settings.INI", "[login]\npassword=secret\n");
    server->writeFile("docroot/login_sql.db", "operators");
    server->writeFile("secret.txt", "secret");
    // Shares the docroot's name as a prefix: a target without a leading slash would reach it.
    server->writeFile("docroot-private/secret.txt", "private");
}

void TestStaticFiles::cleanup()
{
    server.reset();
}

void TestStaticFiles::start(const QString &docrootKeys)
{
    server->writeConfig("[logging]\nfileName=server.log\nmsgFormat=\"{type}|{msg}\"\n"
                        "[listener]\nreadTimeout=5000\n"
                        "[docroot]\npath=docroot\n"
        + docrootKeys + "\n");
    QVERIFY2(server->start(), server->output().constData());
}

void TestStaticFiles::connect(QTcpSocket &socket)
{
    socket.connectToHost(QHostAddress::LocalHost, server->port());
    QVERIFY(socket.waitForConnected(10000));
}

QByteArray TestStaticFiles::logText()
{
    QFile log(server->filePath("server.log"));
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

void TestStaticFiles::replies_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("statusLine");
    QTest::addColumn<QByteArray>("contentType"); // empty: no header
    QTest::addColumn<QByteArray>("body");
    const QByteArray html = "text/html; charset=UTF-8";
    const QByteArray forbidden = "HTTP/1.1 403 forbidden";
    const QByteArray notFound = "HTTP/1.1 404 not found";
    QTest::newRow("root serves index.html")
        << QByteArray("/") << QByteArray("HTTP/1.1 200 OK") << html << indexPage;
    QTest::newRow("index.html by name")
        << QByteArray("/index.html") << QByteArray("HTTP/1.1 200 OK") << html << indexPage;
    QTest::newRow("text with charset")
        << QByteArray("/notes.txt") << QByteArray("HTTP/1.1 200 OK")
        << QByteArray("text/plain; charset=UTF-8") << QByteArray("notes");
    QTest::newRow("png") << QByteArray("/pic.png") << QByteArray("HTTP/1.1 200 OK")
                         << QByteArray("image/png") << QByteArray("png");
    QTest::newRow("upper-case PNG has no type")
        << QByteArray("/IMAGE.PNG") << QByteArray("HTTP/1.1 200 OK") << QByteArray()
        << QByteArray("PNG");
    QTest::newRow("directory without index.html")
        << QByteArray("/sub/") << notFound << QByteArray() << QByteArray("404 not found");
    QTest::newRow("directory without slash")
        << QByteArray("/sub") << notFound << QByteArray() << QByteArray("404 not found");
    QTest::newRow("missing file") << QByteArray("/nothing.html") << notFound << QByteArray()
                                  << QByteArray("404 not found");
    QTest::newRow("dot-dot") << QByteArray("/../secret.txt") << forbidden << QByteArray()
                             << QByteArray("403 forbidden");
    QTest::newRow("percent-encoded dot-dot") << QByteArray("/%2e%2e/secret.txt") << forbidden
                                             << QByteArray() << QByteArray("403 forbidden");
    QTest::newRow("dot-dot below a folder")
        << QByteArray("/sub/%2E%2E/%2E%2E/secret.txt") << forbidden << QByteArray()
        << QByteArray("403 forbidden");
    QTest::newRow("backslash") << QByteArray("/sub%5c..%5c..%5csecret.txt") << forbidden
                               << QByteArray() << QByteArray("403 forbidden");
    QTest::newRow("NUL byte") << QByteArray("/index.html%00.png") << forbidden << QByteArray()
                              << QByteArray("403 forbidden");
    QTest::newRow("settings file is private")
        << QByteArray("/settings.INI") << forbidden << QByteArray() << QByteArray("403 forbidden");
    QTest::newRow("database is private")
        << QByteArray("/login_sql.db") << forbidden << QByteArray() << QByteArray("403 forbidden");
    QTest::newRow("no leading slash reaches no sibling folder") << QByteArray(
        "-private/secret.txt") << forbidden << QByteArray() << QByteArray("403 forbidden");
}

void TestStaticFiles::replies()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, statusLine);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    start(QString());
    QTcpSocket socket;
    connect(socket);
    // Twice: the second answer of a served file comes from the cache and must not differ.
    for (int round = 0; round < 2; ++round) {
        const Reply reply = get(socket, target);
        QCOMPARE(reply.statusLine, statusLine);
        QCOMPARE(reply.headers.value("content-type"), contentType);
        QCOMPARE(reply.body, body);
        QCOMPARE(reply.headers.value("content-length"), QByteArray::number(body.size()));
        if (reply.statusLine.endsWith("200 OK"))
            QCOMPARE(reply.headers.value("cache-control"), QByteArray("max-age=60"));
    }
}

void TestStaticFiles::forbiddenPathIsLogged()
{
    start(QString());
    QTcpSocket socket;
    connect(socket);
    QCOMPARE(get(socket, "/%2e%2e/secret.txt").statusLine, QByteArray("HTTP/1.1 403 forbidden"));
    QTRY_VERIFY_WITH_TIMEOUT(logText().contains("WARNING |StaticFileController: detected forbidden "
                                                "characters in path /../secret.txt\n"),
        10000);
}

void TestStaticFiles::largeFileStreamsExactlyAndIsNeverCached()
{
    start(QStringLiteral("cacheTime=0"));
    QTcpSocket socket;
    connect(socket);
    const Reply first = get(socket, "/big.bin");
    QCOMPARE(first.statusLine, QByteArray("HTTP/1.1 200 OK"));
    QVERIFY(hasOneFraming(first));
    QCOMPARE(first.headers.value("content-length"), QByteArray("70000"));
    QCOMPARE(first.body.size(), big.size());
    QVERIFY(first.body == big);
    // Never cached, even though cached entries here never expire: a change shows at once.
    const QByteArray changed = randomBytes(70001);
    server->writeFile("docroot/big.bin", changed);
    const Reply second = get(socket, "/big.bin");
    QVERIFY(hasOneFraming(second));
    QVERIFY(second.body == changed);
    // The connection is still usable after two streamed files.
    QCOMPARE(get(socket, "/").body, indexPage);
    QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
}

void TestStaticFiles::smallFileComesFromCacheUntilCacheTime()
{
    constexpr int cacheTimeMs = 3000;
    start(QStringLiteral("cacheTime=%1").arg(cacheTimeMs));
    QTcpSocket socket;
    connect(socket);
    // The server stores a file no earlier than the moment its request was sent, so an answer
    // that arrives before cacheTime has passed since then must come from memory. On a machine
    // too slow for that window the round proves nothing and is repeated with a fresh file.
    bool proven = false;
    for (int round = 0; round < 5 && !proven; ++round) {
        const QByteArray name = "docroot/cached" + QByteArray::number(round) + ".txt";
        const QByteArray target = name.mid(7);
        const QByteArray original(1000, 'a');
        server->writeFile(name, original);
        QElapsedTimer sinceRequest;
        sinceRequest.start();
        const Reply miss = get(socket, target);
        QCOMPARE(miss.body, original);
        // Gone from the disk: only the cache can still answer.
        QVERIFY(QFile::remove(server->filePath(name)));
        const Reply hit = get(socket, target);
        if (sinceRequest.elapsed() >= cacheTimeMs)
            continue;
        proven = true;
        QCOMPARE(hit.statusLine, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(hit.body, original);
        QCOMPARE(hit.headers.value("content-type"), QByteArray("text/plain; charset=UTF-8"));
        QCOMPARE(hit.headers.value("content-length"), QByteArray("1000"));
        // After cacheTime the file is read again.
        const QByteArray changed(1000, 'b');
        server->writeFile(name, changed);
        QTRY_COMPARE_WITH_TIMEOUT(get(socket, target).body, changed, 20000);
    }
    QVERIFY2(proven, "no request pair finished within cacheTime");
    QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
    QTRY_VERIFY_WITH_TIMEOUT(
        logText().contains("DEBUG   |StaticFileController: Cache hit for /cached"), 10000);
}

void TestStaticFiles::cacheKeepsWithinCacheSize()
{
    // Room for one 1000-byte file only, kept for ever: the second evicts the first.
    start(QStringLiteral("cacheTime=0\ncacheSize=1500"));
    QTcpSocket socket;
    connect(socket);
    QCOMPARE(get(socket, "/small.txt").body, QByteArray(1000, 'a'));
    QCOMPARE(get(socket, "/other.txt").body, QByteArray(1000, 'o'));
    server->writeFile("docroot/small.txt", QByteArray(1000, 'c'));
    server->writeFile("docroot/other.txt", QByteArray(1000, 'd'));
    QCOMPARE(get(socket, "/small.txt").body, QByteArray(1000, 'c'));
    QCOMPARE(get(socket, "/small.txt").body, QByteArray(1000, 'c'));
}

void TestStaticFiles::http10LargeFileEndsWithConnection()
{
    start(QString());
    const QByteArray received = server->exchange("GET /big.bin HTTP/1.0\r\n\r\n");
    const int end = received.indexOf("\r\n\r\n");
    QVERIFY(end > 0);
    const QByteArray head = received.left(end);
    QVERIFY(head.startsWith("HTTP/1.1 200 OK\r\n"));
    QVERIFY(!head.contains("Transfer-Encoding"));
    QVERIFY(received.mid(end + 4) == big);
}

QTEST_GUILESS_MAIN(TestStaticFiles)
#include "test_staticfiles.moc"
