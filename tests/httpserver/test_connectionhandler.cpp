#include "serverprocess.h"

#include "app/globals.h"
#include "httpserver/httplistener.h"
#include "httpserver/httprequest.h"
#include "httpserver/httprequesthandler.h"
#include "httpserver/httpresponse.h"

#include <QSettings>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using weblet::HttpListener;
using weblet::HttpRequest;
using weblet::HttpRequestHandler;
using weblet::HttpResponse;

namespace {

// Chooses its way of answering by path, as the handlers of the real server differ in it.
class FramingHandler : public HttpRequestHandler
{
public:
    void service(HttpRequest &request, HttpResponse &response) override
    {
        const QByteArray path = request.getPath();
        if (path == "/unframed") {
            // Lower-case "connection" keeps the body raw but is not the close header itself.
            response.setHeader("connection", "close");
            response.write("ab");
        } else if (path == "/parts") {
            response.write("a");
            response.write("b");
        } else if (path == "/asks-close") {
            response.setHeader("Connection", "close");
            response.write("ab", true);
        } else if (path == "/nothing") {
            return;
        } else {
            HttpRequestHandler::service(request, response);
        }
    }
};

} // namespace

// The listener and its handler threads inside the test process, with handlers that frame their
// responses in ways the real server's handlers never do.
class TestConnectionHandler : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void closeDecision_data();
    void closeDecision();
    void bindFailureIsLogged();

private:
    std::unique_ptr<QSettings> settings;
    QTemporaryDir dir;
};

void TestConnectionHandler::init()
{
    settings
        = std::make_unique<QSettings>(dir.filePath("DORXWebOnDevice.ini"), QSettings::IniFormat);
    settings->beginGroup("listener");
    settings->setValue("host", "127.0.0.1");
    settings->setValue("readTimeout", 60000);
    qport = QString::number(ServerProcess::freePort());
}

void TestConnectionHandler::cleanup()
{
    settings.reset();
}

void TestConnectionHandler::closeDecision_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("closed");
    QTest::newRow("body without length or chunks ends with the connection")
        << QByteArray("/unframed") << QByteArray("HTTP/1.1 200 OK\r\nconnection: close\r\n\r\nab")
        << true;
    QTest::newRow("chunked body keeps the connection")
        << QByteArray("/parts")
        << QByteArray(
               "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\na\r\n1\r\nb\r\n0\r\n\r\n")
        << false;
    QTest::newRow("handler asking to close is obeyed")
        << QByteArray("/asks-close")
        << QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nab")
        << true;
    QTest::newRow("response left open is finished with a zero length")
        << QByteArray("/nothing") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")
        << false;
    QTest::newRow("base handler answers 501")
        << QByteArray("/other")
        << QByteArray(
               "HTTP/1.1 501 not implemented\r\nContent-Length: 19\r\n\r\n501 not implemented")
        << false;
}

void TestConnectionHandler::closeDecision()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, reply);
    QFETCH(bool, closed);
    FramingHandler handler;
    HttpListener listener(settings.get(), &handler);
    QVERIFY(listener.isListening());
    if (path == "/other")
        QTest::ignoreMessage(
            QtCriticalMsg, "HttpRequestHandler: you need to override the service() function");
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, listener.serverPort());
    client.write("GET " + path + " HTTP/1.1\r\n\r\n");
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += client.readAll()).size() >= reply.size(), 10000);
    QCOMPARE(received, reply);
    if (closed) {
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 10000);
    } else {
        client.write("GET /nothing HTTP/1.1\r\n\r\n");
        const QByteArray next = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
        received.clear();
        QTRY_VERIFY_WITH_TIMEOUT((received += client.readAll()).size() >= next.size(), 10000);
        QCOMPARE(received, next);
    }
}

void TestConnectionHandler::bindFailureIsLogged()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
    qport = QString::number(occupant.serverPort());
    const QByteArray message = "HttpListener: Cannot bind on port " + qport.toUtf8()
        + ": The bound address is already in use";
    QTest::ignoreMessage(QtCriticalMsg, message.constData());
    HttpRequestHandler handler;
    HttpListener listener(settings.get(), &handler);
    QVERIFY(!listener.isListening());
}

QTEST_GUILESS_MAIN(TestConnectionHandler)
#include "test_connectionhandler.moc"
