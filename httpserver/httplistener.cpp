#include "httpserver/httplistener.h"

#include "httpserver/httpconnectionhandler.h"
#include "httpserver/httpconnectionhandlerpool.h"
#include "httpserver/listenerconfig.h"

#include <QSettings>
#include <QTcpSocket>

#include <unistd.h>

namespace weblet {

HttpListener::HttpListener(
    const QSettings *settings, quint16 port, HttpRequestHandler *requestHandler, QObject *parent)
    : QTcpServer(parent)
    , settings(settings)
    , port(port)
    , requestHandler(requestHandler)
{
    qRegisterMetaType<tSocketDescriptor>("tSocketDescriptor");
    qRegisterMetaType<ListenerConfig>("weblet::ListenerConfig");
    listen();
}

HttpListener::~HttpListener()
{
    close();
    qDebug("HttpListener: destroyed");
}

// Binds "host" (every address when empty) at the port; a failure is logged and not retried.
void HttpListener::listen()
{
    if (!pool)
        pool = std::make_unique<HttpConnectionHandlerPool>(settings, requestHandler);
    const QString host = ListenerConfig::read(*settings).host;
    QTcpServer::listen(host.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(host), port);
    if (isListening())
        qDebug("HttpListener: Listening on port %i", port);
    else
        qCritical("HttpListener: Cannot bind on port %i: %s", port, qPrintable(errorString()));
}

// Stops listening; the handlers and their threads end with the pool.
void HttpListener::close()
{
    QTcpServer::close();
    qDebug("HttpListener: closed");
    pool.reset();
}

void HttpListener::incomingConnection(qintptr socketDescriptor)
{
    HttpConnectionHandler *handler = pool ? pool->getConnectionHandler() : nullptr;
    if (handler) {
        // The connection is adopted in the handler's own thread.
        QMetaObject::invokeMethod(handler, "handleConnection", Qt::QueuedConnection,
            Q_ARG(tSocketDescriptor, socketDescriptor),
            Q_ARG(weblet::ListenerConfig, ListenerConfig::read(*settings)));
        return;
    }
    qDebug("HttpListener: Too many incoming connections");
    auto adopted = std::make_unique<QTcpSocket>();
    if (!adopted->setSocketDescriptor(socketDescriptor)) {
        // A socket that never connected emits no disconnected() to delete it.
        ::close(int(socketDescriptor));
        return;
    }
    QTcpSocket *socket = adopted.release();
    socket->setParent(this); // until it deletes itself once disconnected
    connect(socket, &QTcpSocket::disconnected, socket, &QTcpSocket::deleteLater);
    socket->write("HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\n"
                  "Too many connections\r\n");
    socket->disconnectFromHost();
}

} // namespace weblet
