#pragma once

#include "httpserver/listenerconfig.h"

#include <QObject>
#include <QTimer>

#include <atomic>

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

    // Only the pool calls these, under its mutex.
    bool isBusy() const { return busy; }
    void setBusy() { busy = true; }

public slots:
    void handleConnection(tSocketDescriptor socketDescriptor, const weblet::ListenerConfig &config);

private slots:
    void readTimeout();
    void read();
    void disconnected();
    void thread_done();

private:
    void closeConnection();

    ListenerConfig config; // snapshot taken when the connection was accepted
    QTcpSocket *socket;
    QThread *thread;
    QTimer readTimeoutTimer;
    HttpRequest *pendingRequest = nullptr;
    HttpRequestHandler *requestHandler;
    std::atomic<bool> busy {false}; // set by the pool, cleared by this handler's thread
    const QSslConfiguration *sslConfig;
};

} // namespace weblet
