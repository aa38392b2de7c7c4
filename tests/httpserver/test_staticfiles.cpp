#include "serverprocess.h"

#include <QTcpSocket>
#include <QtTest>

namespace {

const QByteArray indexPage = "<html><body>terminal</body></html>\n";

// Starts server on a sample docroot with the given "[docroot]" keys and connects socket to it.
bool start(ServerProcess &server, const QString &docrootKeys, QTcpSocket &socket)
{
    server.writeFile("docroot/index.html", indexPage);
    server.writeFile("docroot/sub/page.html", "sub");
    server.writeFile("docroot/settings.INI", "[login]\npassword=secret\n");
    server.writeFile("docroot/login_sql.db", "operators");
    server.writeFile("docroot/server.log.1", "session ids");
    server.writeFile("secret.txt", "secret");
    // Shares the docroot's name as a prefix: a target without a leading slash would reach it.
    server.writeFile("docroot-private/secret.txt", "private");
    server.writeConfig("[listener]\nreadTimeout=60000\n[docroot]\npath=docroot\n" + docrootKeys);
    socket.connectToHost(QHostAddress::LocalHost, server.start() ? server.port() : 0);
    return socket.waitForConnected(10000);
}

// One GET on a kept-alive connection: the whole reply, its body to *body.
QByteArray get(QTcpSocket &socket, const QByteArray &target, QByteArray *body = nullptr)
{
    socket.write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    return readHttpResponse(socket, 60000, body);
}

QByteArray bodyOf(QTcpSocket &socket, const QByteArray &target)
{
    QByteArray body;
    get(socket, target, &body);
    return body;
}

} // namespace

// One server: cached entries never expire, room for one file of 1000 bytes, larger ones are not
// cached.
class TestStaticFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(start(server, "cacheTime=0\ncacheSize=1500\nmaxCachedFileSize=1000", socket));
    }
    void replies_data();
    void replies();
    void largeFileStreamsExactlyAndIsNeverCached();
    void cacheKeepsWithinCacheSize();
    void smallFileExpiresAfterCacheTime();

private:
    ServerProcess server;
    QTcpSocket socket;
};

void TestStaticFiles::replies_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("status");
    const auto row = [](const char *tag, const QByteArray &target, const QByteArray &status) {
        QTest::newRow(tag) << target << status;
    };
    row("directory without index.html", "/sub/", "404 not found");
    row("backslash", "/sub%5c..%5c..%5csecret.txt", "403 forbidden");
    row("NUL byte", "/index.html%00.png", "403 forbidden");
    row("no leading slash reaches no sibling folder", "-private/secret.txt", "403 forbidden");
    row("settings file is private", "/settings.INI", "403 forbidden");
    row("log backup is private", "/server.log.1", "403 forbidden");
    row("database is private", "/login_sql.db", "403 forbidden");
    row("root serves index.html", "/", "200 OK");
}

// Twice: the second answer of a served file comes from the cache and must not differ.
void TestStaticFiles::replies()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, status);
    const QByteArray ok = "200 OK";
    const QByteArray body = status == ok ? indexPage : status;
    for (int round = 0; round < 2; ++round)
        QCOMPARE(get(socket, target),
            "HTTP/1.1 " + status + (status == ok ? "\r\nCache-Control: max-age=60" : "")
                + "\r\nContent-Length: " + QByteArray::number(body.size())
                + (status == ok ? "\r\nContent-Type: text/html; charset=UTF-8" : "") + "\r\n\r\n"
                + body);
}

// Never cached, though cached entries here never expire: a change shows at once.
void TestStaticFiles::largeFileStreamsExactlyAndIsNeverCached()
{
    for (int size : {70000, 70001}) {
        QByteArray big;
        for (int i = 0; big.size() < size; ++i)
            big += char(i * 7 + size);
        server.writeFile("docroot/big.bin", big);
        QCOMPARE(get(socket, "/big.bin"),
            "HTTP/1.1 200 OK\r\nCache-Control: max-age=60\r\nContent-Length: "
                + QByteArray::number(size) + "\r\n\r\n" + big);
    }
    // The connection is still usable after two streamed files.
    QCOMPARE(bodyOf(socket, "/"), indexPage);
}

// The second file evicts the first, and is served from memory after it changed on the disk.
void TestStaticFiles::cacheKeepsWithinCacheSize()
{
    for (const char c : {'a', 'b'}) {
        server.writeFile(QStringLiteral("docroot/%1.txt").arg(c), QByteArray(1000, c));
        QCOMPARE(bodyOf(socket, '/' + QByteArray(1, c) + ".txt"), QByteArray(1000, c));
        server.writeFile(QStringLiteral("docroot/%1.txt").arg(c), "changed");
    }
    QCOMPARE(bodyOf(socket, "/b.txt"), QByteArray(1000, 'b'));
    QCOMPARE(bodyOf(socket, "/a.txt"), QByteArray("changed"));
    QTRY_VERIFY_WITH_TIMEOUT(
        server.output().contains("StaticFileController: Cache hit for /b.txt\n"), 10000);
}

void TestStaticFiles::smallFileExpiresAfterCacheTime()
{
    ServerProcess expiring;
    QTcpSocket client;
    QVERIFY(start(expiring, "cacheTime=500", client));
    expiring.writeFile("docroot/c.txt", QByteArray(1000, 'a'));
    QCOMPARE(bodyOf(client, "/c.txt"), QByteArray(1000, 'a'));
    expiring.writeFile("docroot/c.txt", QByteArray(1000, 'b'));
    QTRY_COMPARE_WITH_TIMEOUT(bodyOf(client, "/c.txt"), QByteArray(1000, 'b'), 20000);
    QVERIFY(get(client, "/%2e%2e/secret.txt").startsWith("HTTP/1.1 403 forbidden\r\n"));
    QTRY_VERIFY_WITH_TIMEOUT(
        expiring.output().contains("WARNING  StaticFileController: detected "
                                   "forbidden characters in path /../secret.txt\n"),
        10000);
}

QTEST_GUILESS_MAIN(TestStaticFiles)
#include "test_staticfiles.moc"
