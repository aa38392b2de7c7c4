#include "dispatch/requestmapper.h"
#include "httpserver/httprequest.h"
#include "httpserver/httpresponse.h"

#include <QSemaphore>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

#include <atomic>

using namespace weblet;

// The admission gate; routing by path is tested end to end (test_browserlogin).
class TestRequestMapper : public QObject
{
    Q_OBJECT

private slots:
    void gateRefusesTwelfthRequest();
};

namespace {

// Stands in for the static-file controller: holds each request until the test lets it go, so
// that others pile up behind the mapper's mutex.
class SlowHandler : public HttpRequestHandler
{
public:
    void service(HttpRequest &, HttpResponse &response) override
    {
        entered.release();
        proceed.acquire();
        response.write("file", true);
    }

    QSemaphore entered;
    QSemaphore proceed;
};

} // namespace

// Eleven requests are admitted (one served, ten waiting for the mutex); the twelfth is refused
// at once with 503, and the count goes back to 0 when the eleven are done.
void TestRequestMapper::gateRefusesTwelfthRequest()
{
    SlowHandler files;
    RequestMapper mapper(&files, CommandContext());
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
    QCOMPARE(int(mutex_num), 0);
}

QTEST_GUILESS_MAIN(TestRequestMapper)
#include "test_requestmapper.moc"
