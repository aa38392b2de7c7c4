#include "serverprocess.h"

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
    const QByteArray whole = readHttpResponse(socket, 60000, &reply.body);
    const QList<QByteArray> lines = whole.left(whole.indexOf("\r\n\r\n")).split('\n');
    reply.statusLine = lines.value(0).trimmed();
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines.at(i).indexOf(':');
        reply.headers.insert(
            lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
    }
    return reply;
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
    void replies_data();
    void replies();
    void largeFileStreamsExactlyAndIsNeverCached();
    void smallFileExpiresAfterCacheTime();
    void cacheKeepsWithinCacheSize();

private:
    // Starts the server on the sample docroot with the given "[docroot]" keys and connects.
    void start(const QString &docrootKeys, QTcpSocket &socket);
    QByteArray logText() const;

    std::unique_ptr<ServerProcess> server;
};

void TestStaticFiles::init()
{
    server = std::make_unique<ServerProcess>();
    server->writeFile("docroot/index.html", indexPage);
    server->writeFile("docroot/sub/page.html", "sub");
    server->writeFile("docroot/settings.INI", "[login]\npassword=secret\n");
    server->writeFile("docroot/login_sql.db", "operators");
    server->writeFile("docroot/server.log.1", "session ids");
    server->writeFile("secret.txt", "secret");
    // Shares the docroot's name as a prefix: a target without a leading slash would reach it.
    server->writeFile("docroot-private/secret.txt", "private");
}

void TestStaticFiles::start(const QString &docrootKeys, QTcpSocket &socket)
{
    server->writeConfig("[logging]\nfileName=server.log\nmsgFormat=\"{type}|{msg}\"\n"
                        "[listener]\nreadTimeout=60000\n[docroot]\npath=docroot\n"
        + docrootKeys + "\n");
    QVERIFY2(server->start(), server->output().constData());
    socket.connectToHost(QHostAddress::LocalHost, server->port());
    QVERIFY(socket.waitForConnected(10000));
}

QByteArray TestStaticFiles::logText() const
{
    QFile log(server->filePath("server.log"));
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
}

void TestStaticFiles::replies_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("contentType"); // empty: no header
    QTest::addColumn<QByteArray>("body"); // empty: the status's own text
    const auto row = [](const char *name, const char *target, int status,
                         const QByteArray &type = {}, const QByteArray &body = {}) {
        QTest::newRow(name) << QByteArray(target) << status << type << body;
    };
    row("root serves index.html", "/", 200, "text/html; charset=UTF-8", indexPage);
    row("directory without index.html", "/sub/", 404);
    row("dot-dot", "/../secret.txt", 403);
    row("percent-encoded dot-dot", "/sub/%2E%2E/%2e%2e/secret.txt", 403);
    row("backslash", "/sub%5c..%5c..%5csecret.txt", 403);
    row("NUL byte", "/index.html%00.png", 403);
    row("no leading slash reaches no sibling folder", "-private/secret.txt", 403);
    row("settings file is private", "/settings.INI", 403);
    row("database is private", "/login_sql.db", 403);
    row("log backup is private", "/server.log.1", 403);
}

void TestStaticFiles::replies()
{
    QFETCH(QByteArray, target);
    QFETCH(int, status);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    const QMap<int, QByteArray> texts {{200, "OK"}, {403, "forbidden"}, {404, "not found"}};
    if (body.isEmpty())
        body = QByteArray::number(status) + ' ' + texts.value(status);
    QTcpSocket socket;
    start(QString(), socket);
    // Twice: the second answer of a served file comes from the cache and must not differ.
    for (int round = 0; round < 2; ++round) {
        const Reply reply = get(socket, target);
        QCOMPARE(reply.statusLine, "HTTP/1.1 " + QByteArray::number(status) + ' ' + texts[status]);
        QCOMPARE(reply.headers.value("content-type"), contentType);
        QCOMPARE(reply.body, body);
        QCOMPARE(reply.headers.value("content-length"), QByteArray::number(body.size()));
        QCOMPARE(
            reply.headers.value("cache-control"), QByteArray(status == 200 ? "max-age=60" : ""));
    }
}

void TestStaticFiles::largeFileStreamsExactlyAndIsNeverCached()
{
    QTcpSocket socket;
    start(QStringLiteral("cacheTime=0"), socket);
    // Never cached, even though cached entries here never expire: a change shows at once.
    for (int size : {70000, 70001}) {
        const QByteArray big = randomBytes(size);
        server->writeFile("docroot/big.bin", big);
        const Reply reply = get(socket, "/big.bin");
        QCOMPARE(reply.statusLine, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(reply.headers.value("content-length"), QByteArray::number(size));
        QVERIFY(!reply.headers.contains("transfer-encoding"));
        QVERIFY(reply.body == big);
    }
    // The connection is still usable after two streamed files.
    QCOMPARE(get(socket, "/").body, indexPage);
}

// Once cacheTime has passed the file is read again; that it was cached until then shows in
// cacheKeepsWithinCacheSize, where entries never expire.
void TestStaticFiles::smallFileExpiresAfterCacheTime()
{
    QTcpSocket socket;
    start(QStringLiteral("cacheTime=500"), socket);
    server->writeFile("docroot/c.txt", QByteArray(1000, 'a'));
    QCOMPARE(get(socket, "/c.txt").body, QByteArray(1000, 'a'));
    server->writeFile("docroot/c.txt", QByteArray(1000, 'b'));
    QTRY_COMPARE_WITH_TIMEOUT(get(socket, "/c.txt").body, QByteArray(1000, 'b'), 20000);
    QCOMPARE(get(socket, "/%2e%2e/secret.txt").statusLine, QByteArray("HTTP/1.1 403 forbidden"));
    QTRY_VERIFY_WITH_TIMEOUT(logText().contains("WARNING |StaticFileController: detected forbidden "
                                                "characters in path /../secret.txt\n"),
        10000);
}

void TestStaticFiles::cacheKeepsWithinCacheSize()
{
    // Room for one 1000-byte file only, kept for ever: the second evicts the first, and is served
    // from memory after it changed on the disk.
    QTcpSocket socket;
    start(QStringLiteral("cacheTime=0\ncacheSize=1500"), socket);
    for (const char c : {'a', 'b'}) {
        const QString name = QStringLiteral("docroot/%1.txt").arg(c);
        server->writeFile(name, QByteArray(1000, c));
        QCOMPARE(get(socket, '/' + name.mid(8).toUtf8()).body, QByteArray(1000, c));
        server->writeFile(name, "changed");
    }
    QCOMPARE(get(socket, "/b.txt").body, QByteArray(1000, 'b'));
    QCOMPARE(get(socket, "/a.txt").body, QByteArray("changed"));
    QTRY_VERIFY_WITH_TIMEOUT(
        logText().contains("DEBUG   |StaticFileController: Cache hit for /b.txt\n"), 10000);
}

QTEST_GUILESS_MAIN(TestStaticFiles)
#include "test_staticfiles.moc"
