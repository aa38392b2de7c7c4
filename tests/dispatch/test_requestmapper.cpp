#include "commands/loginthrottle.h"
#include "dispatch/requestmapper.h"
#include "httpserver/httprequest.h"
#include "httpserver/httpresponse.h"
#include "httpserver/httpsessionstore.h"

#include <QBuffer>
#include <QSettings>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>
#include <vector>

using namespace weblet;

// The admission gate; routing by path is tested end to end (test_browserlogin).
class TestRequestMapper : public QObject
{
    Q_OBJECT

private slots:
    void gateHoldsCommandsOnly();
};

namespace {

// Stands in for the static-file controller.
class FileHandler : public HttpRequestHandler
{
public:
    void service(HttpRequest &, HttpResponse &response) override { response.write("file", true); }
};

// The status the mapper answers a GET of path with.
int statusOf(RequestMapper &mapper, const QByteArray &path)
{
    QByteArray bytes = "GET " + path + " HTTP/1.1\r\n\r\n";
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    HttpRequest request {ListenerConfig()};
    while (!request.isFinished() && device.bytesAvailable() > 0)
        request.readFromSocket(&device);
    QTcpSocket unconnected;
    HttpResponse response(&unconnected);
    mapper.service(request, response);
    return response.getStatusCode();
}

} // namespace

// While a command holds the mutex, ten more wait for it and a twelfth is refused at once with
// 503; a file is served meanwhile, past the gate and the mutex. The count goes back to 0 when
// the eleven are done.
void TestRequestMapper::gateHoldsCommandsOnly()
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("DORXWebOnDevice.ini"), QSettings::IniFormat);
    HttpSessionStore sessions(&settings);
    FileHandler files;
    LoginThrottle throttle {LoginThrottleConfig()};
    RequestMapper mapper(&files, CommandContext {&sessions, QString(), &throttle});
    std::atomic<int> served {0};
    std::vector<std::unique_ptr<QThread>> threads;
    {
        QMutexLocker held(&mutex);
        for (int i = 0; i < 11; ++i) {
            threads.emplace_back(QThread::create([&] {
                if (statusOf(mapper, "/command/operator_get") == 200)
                    ++served;
            }));
            threads.back()->start();
        }
        QTRY_COMPARE_WITH_TIMEOUT(int(mutex_num), 11, 30000);
        QCOMPARE(statusOf(mapper, "/command/operator_get"), 503);
        QCOMPARE(statusOf(mapper, "/page.html"), 200);
        QCOMPARE(int(mutex_num), 11);
        QCOMPARE(served.load(), 0);
    }
    for (const auto &thread : threads)
        QVERIFY(thread->wait(30000));
    QCOMPARE(served.load(), 11);
    QCOMPARE(int(mutex_num), 0);
}

QTEST_GUILESS_MAIN(TestRequestMapper)
#include "test_requestmapper.moc"
