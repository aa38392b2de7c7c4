#include "app/globals.h"
#include "dispatch/requestmapper.h"
#include "httpserver/httprequest.h"
#include "httpserver/httpresponse.h"
#include "httpserver/httpsessionstore.h"
#include "serverprocess.h"

#include <QSemaphore>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>

using namespace weblet;

class TestRequestMapper : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void routesByPrefix_data();
    void routesByPrefix();
    void gateRefusesTwelfthRequest();

private:
    QTemporaryDir dir;
    QSettings *sessionSettings = nullptr;
};

namespace {

// Stands in for the static-file controller: records what reaches it and, when told to, holds
// each request until the test lets it go, so that others pile up behind the mapper's mutex.
class FileHandler : public HttpRequestHandler
{
public:
    void service(HttpRequest &request, HttpResponse &response) override
    {
        paths << request.getPath();
        entered.release();
        if (holding)
            proceed.acquire();
        response.write("file", true);
    }

    QList<QByteArray> paths;
    bool holding = false;
    QSemaphore entered;
    QSemaphore proceed;
};

// Parses raw as a request that arrived on a loopback connection, runs the mapper on it and
// returns the body of the response the client receives.
QByteArray serve(RequestMapper &mapper, const QByteArray &raw)
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    if (!client.waitForConnected(10000) || !server.waitForNewConnection(10000))
        return "no connection";
    QTcpSocket *connection = server.nextPendingConnection();
    client.write(raw);
    client.flush();
    ListenerConfig config;
    HttpRequest request(config);
    while (request.getStatus() != HttpRequest::complete) {
        if (!connection->bytesAvailable() && !connection->waitForReadyRead(10000))
            return "request not read";
        request.readFromSocket(connection);
    }
    HttpResponse response(connection);
    mapper.service(request, response);
    QByteArray body;
    readHttpResponse(client, 10000, &body);
    return body;
}

} // namespace

void TestRequestMapper::initTestCase()
{
    QDir::setCurrent(dir.path());
    sessionSettings = new QSettings(dir.filePath("test.ini"), QSettings::IniFormat);
    sessionSettings->beginGroup("sessions");
    sessionStore = new HttpSessionStore(sessionSettings);
}

void TestRequestMapper::cleanupTestCase()
{
    delete sessionStore;
    sessionStore = nullptr;
    delete sessionSettings;
}

void TestRequestMapper::routesByPrefix_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("handler");
    QTest::newRow("browser login") << QByteArray("/command/login") << "login";
    QTest::newRow("login with a further segment") << QByteArray("/command/login/x") << "login";
    QTest::newRow("login with more letters") << QByteArray("/command/loginpage") << "login";
    QTest::newRow("login in other letter case") << QByteArray("/COMMAND/LOGIN") << "file";
    QTest::newRow("login word in other case is a command")
        << QByteArray("/command/Login") << "command";
    QTest::newRow("command root") << QByteArray("/command") << "command";
    QTest::newRow("command with more letters") << QByteArray("/commandx") << "command";
    QTest::newRow("command below") << QByteArray("/command/anything") << "command";
    QTest::newRow("face notice") << QByteArray("/FacePostMessage") << "command";
    QTest::newRow("face notice and more") << QByteArray("/FacePostMessage2?a=b") << "command";
    QTest::newRow("face notice in lower case") << QByteArray("/facepostmessage") << "file";
    QTest::newRow("page") << QByteArray("/index.html") << "file";
    QTest::newRow("root") << QByteArray("/") << "file";
}

void TestRequestMapper::routesByPrefix()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, handler);
    FileHandler files;
    RequestMapper mapper(&files);
    if (handler == "command")
        QTest::ignoreMessage(QtDebugMsg, "Body:x=1");
    const QByteArray body
        = serve(mapper, "POST " + path + " HTTP/1.1\r\nContent-Length: 3\r\n\r\nx=1");

    QCOMPARE(files.paths.isEmpty(), handler != "file");
    if (handler == "file")
        QCOMPARE(body, QByteArray("file"));
    // The login handler's reply to a body without a name.
    QCOMPARE(body == QString::fromUtf8("没有用户名").toUtf8(), handler == "login");
    QCOMPARE(int(mutex_num), 0);
}

// Eleven requests are admitted (one served, ten waiting for the mutex); the twelfth is refused
// at once with 503, and the count goes back to 0 when the eleven are done.
void TestRequestMapper::gateRefusesTwelfthRequest()
{
    FileHandler files;
    files.holding = true;
    RequestMapper mapper(&files);
    std::atomic<int> refused {0};
    std::atomic<int> served {0};
    auto request = [&] {
        ListenerConfig config;
        HttpRequest request(config);
        QTcpSocket unconnected;
        HttpResponse response(&unconnected);
        mapper.service(request, response);
        if (response.getStatusCode() == 503)
            ++refused;
        else if (response.getStatusCode() == 200)
            ++served;
    };

    QList<QThread *> threads;
    threads << QThread::create(request);
    threads.last()->start();
    QVERIFY(files.entered.tryAcquire(1, 30000));
    for (int i = 0; i < 11; ++i) {
        threads << QThread::create(request);
        threads.last()->start();
    }
    QTRY_COMPARE_WITH_TIMEOUT(refused.load(), 1, 30000);
    QCOMPARE(int(mutex_num), 11);
    QCOMPARE(served.load(), 0);

    files.proceed.release(11);
    for (QThread *thread : threads) {
        QVERIFY(thread->wait(30000));
        delete thread;
    }
    QCOMPARE(served.load(), 11);
    QCOMPARE(refused.load(), 1);
    QCOMPARE(files.paths.size(), 11);
    QCOMPARE(int(mutex_num), 0);
}

QTEST_GUILESS_MAIN(TestRequestMapper)
#include "test_requestmapper.moc"
