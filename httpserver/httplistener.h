#pragma once

#include <QTcpServer>

#include <memory>

class QSettings;

namespace weblet {

class HttpConnectionHandlerPool;
class HttpRequestHandler;

// The listening socket on the port of the command line. Hands every connection to an idle
// handler thread, or answers 503 itself when all "maxThreads" handlers are busy.
class HttpListener : public QTcpServer
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpListener)

public:
    // Starts listening on port at once; neither settings nor requestHandler is owned.
    HttpListener(const QSettings *settings, quint16 port, HttpRequestHandler *requestHandler,
        QObject *parent = nullptr);
    ~HttpListener() override;

    void listen();
    void close();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    const QSettings *settings;
    const quint16 port;
    HttpRequestHandler *requestHandler;
    std::unique_ptr<HttpConnectionHandlerPool> pool; // null until listen() and after close()
};

} // namespace weblet
