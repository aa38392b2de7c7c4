#pragma once

#include "httpserver/listenerconfig.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <memory>

class QSslConfiguration;
class QTcpSocket;
class QThread;

// The native handle QTcpServer::incomingConnection delivers; registered under this name so it
// can travel through a queued call.
typedef qintptr tSocketDescriptor;

namespace weblet {

class HttpRequest;
class HttpRequestHandler;

// Serves connection after connection in a worker thread of its own with one reused socket:
// reads requests, hands each complete one to the request handler and keeps the connection
// for the next request when the response allows it.
class HttpConnectionHandler : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpConnectionHandler)

public:
    HttpConnectionHandler(HttpRequestHandler *requestHandler, const QSslConfiguration *sslConfig);
    ~HttpConnectionHandler() override;

    // Only the pool calls these, under its mutex. Busy lasts from the moment the pool hands the
    // handler out until its connection is gone and no request of it is running any more.
    bool isBusy() const { return busy; }
    void setBusy() { busy = true; }

public slots:
    void handleConnection(tSocketDescriptor socketDescriptor, const weblet::ListenerConfig &config);

private slots:
    void readTimeout();
    void requestTimeout();
    void read();
    void disconnected();
    void thread_done();

private:
    void closeConnection();

    ListenerConfig config; // snapshot taken when the connection was accepted
    std::unique_ptr<QThread> thread;
    std::unique_ptr<QTcpSocket> socket; // lives in thread, and is deleted there when it ends
    QTimer readTimeoutTimer; // silence inside a request or between two
    QTimer requestTimer; // the whole of one request, from its first byte to its last
    std::unique_ptr<HttpRequest> pendingRequest;
    HttpRequestHandler *requestHandler;
    std::atomic<bool> busy {false}; // set by the pool, cleared by this handler's thread
    const QSslConfiguration *sslConfig;
};

} // namespace weblet
