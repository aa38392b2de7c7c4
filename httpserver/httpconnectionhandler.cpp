#include "httpserver/httpconnectionhandler.h"

#include "httpserver/httprequest.h"
#include "httpserver/httprequesthandler.h"
#include "httpserver/httpresponse.h"

#include <QDeadlineTimer>
#include <QSslSocket>
#include <QThread>

#include <unistd.h>

namespace weblet {

namespace {

// Most bytes a socket holds for the parser; the parser drains them on every readyRead().
constexpr qint64 readBufferBytes = 65536;

bool equalsIgnoringCase(const QByteArray &a, const char *b)
{
    return qstricmp(a.constData(), b) == 0;
}

} // namespace

HttpConnectionHandler::HttpConnectionHandler(
    HttpRequestHandler *requestHandler, const QSslConfiguration *sslConfig)
    : thread(std::make_unique<QThread>())
    , requestHandler(requestHandler)
    , sslConfig(sslConfig)
{
    moveToThread(thread.get());
    readTimeoutTimer.moveToThread(thread.get());
    readTimeoutTimer.setSingleShot(true);
    requestTimer.moveToThread(thread.get());
    requestTimer.setSingleShot(true);
    if (sslConfig) {
        auto sslSocket = std::make_unique<QSslSocket>();
        sslSocket->setSslConfiguration(*sslConfig);
        socket = std::move(sslSocket);
        qDebug("HttpConnectionHandler (%p): SSL is enabled", static_cast<void *>(this));
    } else {
        socket = std::make_unique<QTcpSocket>();
    }
    // Qt would otherwise take in everything a client sends, also while this thread waits for
    // a client that does not read its responses; a bounded buffer leaves the rest in the kernel.
    socket->setReadBufferSize(readBufferBytes);
    socket->moveToThread(thread.get());
    connect(socket.get(), &QTcpSocket::readyRead, this, &HttpConnectionHandler::read);
    // Queued, so that a connection that breaks while a request is being served (a write that
    // fails aborts the socket) frees the handler only once read() has returned: a handler marked
    // idle too early could be handed out or deleted while its request still runs.
    connect(socket.get(), &QTcpSocket::disconnected, this, &HttpConnectionHandler::disconnected,
        Qt::QueuedConnection);
    connect(&readTimeoutTimer, &QTimer::timeout, this, &HttpConnectionHandler::readTimeout);
    connect(&requestTimer, &QTimer::timeout, this, &HttpConnectionHandler::requestTimeout);
    connect(thread.get(), &QThread::finished, this, &HttpConnectionHandler::thread_done);
    qDebug("HttpConnectionHandler (%p): constructed", static_cast<void *>(this));
    // Started only now: the thread finds everything it uses made, and never meets a member
    // while this constructor is still writing it.
    thread->start();
    qDebug("HttpConnectionHandler (%p): thread started", static_cast<void *>(this));
}

// Waits for the worker thread to finish what it is doing; its socket goes with it. The pool
// deletes only idle handlers while it serves, so this waits only at shutdown, and then no
// longer than a request may take.
HttpConnectionHandler::~HttpConnectionHandler()
{
    thread->quit();
    thread->wait();
    qDebug("HttpConnectionHandler (%p): destroyed", static_cast<void *>(this));
}

// Runs in the worker thread as it ends, where the socket and the timers live.
void HttpConnectionHandler::thread_done()
{
    readTimeoutTimer.stop();
    requestTimer.stop();
    socket->close();
    socket.reset();
    pendingRequest.reset();
    qDebug("HttpConnectionHandler (%p): thread stopped", static_cast<void *>(this));
}

// Adopts an accepted connection in this handler's thread; config is the listener's settings at
// the moment of the accept.
void HttpConnectionHandler::handleConnection(
    tSocketDescriptor socketDescriptor, const ListenerConfig &config)
{
    qDebug("HttpConnectionHandler (%p): handle new connection", static_cast<void *>(this));
    busy = true;
    this->config = config;
    // The socket object is reused for every connection of this handler, so anything a previous
    // client left in its write buffer must go before the new descriptor is attached.
    socket->connectToHost(QString(), 0);
    socket->abort();
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        qCritical("HttpConnectionHandler (%p): cannot initialize socket: %s",
            static_cast<void *>(this), qPrintable(socket->errorString()));
        // No disconnected() will follow for a socket that never connected: the descriptor is
        // ours to close and the handler must be free again.
        ::close(int(socketDescriptor));
        busy = false;
        return;
    }
    // The head and the first piece of a body leave in one write; without this the next
    // response's first segment would wait for the client's delayed acknowledgement.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (sslConfig) {
        qDebug("HttpConnectionHandler (%p): Starting encryption", static_cast<void *>(this));
        static_cast<QSslSocket *>(socket.get())->startServerEncryption();
    }
    readTimeoutTimer.start(config.readTimeoutMs);
    pendingRequest.reset();
}

// A silent client, before, inside or between requests, loses its connection without a reply.
void HttpConnectionHandler::readTimeout()
{
    qDebug("HttpConnectionHandler (%p): read timeout occured", static_cast<void *>(this));
    closeConnection();
    pendingRequest.reset();
}

// A request that has not arrived whole by its deadline loses its connection without a reply,
// however steadily its bytes trickle in: slow clients cannot hold the handlers for long.
void HttpConnectionHandler::requestTimeout()
{
    qDebug("HttpConnectionHandler (%p): request not complete within %i ms",
        static_cast<void *>(this), config.requestTimeoutMs);
    closeConnection();
    pendingRequest.reset();
}

// The only place where the handler becomes idle again. Queued: read() has returned, so no
// request of this connection is running.
void HttpConnectionHandler::disconnected()
{
    qDebug("HttpConnectionHandler (%p): disconnected", static_cast<void *>(this));
    socket->close();
    readTimeoutTimer.stop();
    requestTimer.stop();
    busy = false;
}

// Gives queued output its chance to leave, within the time one request may take; a client that
// stopped reading is cut off rather than left to hold the handler in the closing state.
void HttpConnectionHandler::closeConnection()
{
    const QDeadlineTimer deadline(config.requestTimeoutMs);
    while (socket->bytesToWrite() > 0 && !deadline.hasExpired()
        && socket->waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime())))) { }
    if (socket->bytesToWrite() > 0)
        socket->abort();
    else
        socket->disconnectFromHost();
}

// Serves every request the available bytes complete, pipelined ones included, in order.
void HttpConnectionHandler::read()
{
    while (socket->bytesAvailable() > 0) {
        if (!pendingRequest) {
            pendingRequest = std::make_unique<HttpRequest>(config, socket->peerAddress());
            requestTimer.start(config.requestTimeoutMs);
        }
        while (socket->bytesAvailable() > 0 && !pendingRequest->isFinished()) {
            pendingRequest->readFromSocket(socket.get());
            // A long upload does not time out while its data keeps coming; the request
            // deadline still bounds it.
            if (pendingRequest->getStatus() == HttpRequest::readingBody)
                readTimeoutTimer.start(config.readTimeoutMs);
        }
        if (!pendingRequest->isFinished())
            continue;
        readTimeoutTimer.stop();
        requestTimer.stop();
        if (pendingRequest->getStatus() != HttpRequest::complete) {
            // The client's fault is a 413; the server's own (a full disk) a 500. Either way
            // the rest of what the client sends cannot be read as requests any more.
            socket->write(pendingRequest->getStatus() == HttpRequest::aborted
                    ? "HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n"
                      "413 Entity too large\r\n"
                    : "HTTP/1.1 500 internal server error\r\nConnection: close\r\n\r\n"
                      "500 Internal server error\r\n");
            closeConnection();
            pendingRequest.reset();
            return;
        }

        qDebug("HttpConnectionHandler (%p): received request", static_cast<void *>(this));
        bool closing = equalsIgnoringCase(pendingRequest->getHeader("Connection"), "close")
            || equalsIgnoringCase(pendingRequest->getVersion(), "HTTP/1.0");
        {
            HttpResponse response(socket.get());
            // Set before the handler runs, so that the response never turns chunked for a
            // client that reads the body up to the end of the connection.
            if (closing)
                response.setHeader("Connection", "close");
            requestHandler->service(*pendingRequest, response);
            if (!response.hasSentLastPart())
                response.write(QByteArray(), true);
            qDebug("HttpConnectionHandler (%p): finished request", static_cast<void *>(this));
            // Sent only now that the request handler has returned, and so released whatever
            // lock it took: a client that does not read holds only its own connection.
            const bool sent = response.send(QDeadlineTimer(config.requestTimeoutMs));
            const QMap<QByteArray, QByteArray> &headers = response.getHeaders();
            // Without a length or chunked framing the client sees the end of the body only by
            // the end of the connection. A response that could not be sent whole must not be
            // followed by the answer to a pipelined request.
            closing = closing || !sent || equalsIgnoringCase(headers.value("Connection"), "close")
                || (!headers.contains("Content-Length")
                    && !equalsIgnoringCase(headers.value("Transfer-Encoding"), "chunked"))
                || socket->state() != QAbstractSocket::ConnectedState;
        }
        pendingRequest.reset();
        if (closing) {
            closeConnection();
            return;
        }
        readTimeoutTimer.start(config.readTimeoutMs);
    }
}

} // namespace weblet
