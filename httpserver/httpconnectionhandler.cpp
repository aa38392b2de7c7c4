#include "httpserver/httpconnectionhandler.h"

#include "httpserver/httprequest.h"
#include "httpserver/httprequesthandler.h"
#include "httpserver/httpresponse.h"

#include <QSslSocket>
#include <QThread>

#include <unistd.h>

namespace weblet {

namespace {

// Longest single wait for queued output before a connection is closed.
constexpr int closeWaitMs = 30000;
// Most bytes a socket holds for the parser; the parser drains them on every readyRead().
constexpr qint64 readBufferBytes = 65536;

bool equalsIgnoringCase(const QByteArray &a, const char *b)
{
    return qstricmp(a.constData(), b) == 0;
}

} // namespace

HttpConnectionHandler::HttpConnectionHandler(
    HttpRequestHandler *requestHandler, const QSslConfiguration *sslConfig)
    : requestHandler(requestHandler)
    , sslConfig(sslConfig)
{
    thread = new QThread;
    thread->start();
    qDebug("HttpConnectionHandler (%p): thread started", static_cast<void *>(this));
    moveToThread(thread);
    readTimeoutTimer.moveToThread(thread);
    readTimeoutTimer.setSingleShot(true);
    if (sslConfig) {
        auto *sslSocket = new QSslSocket;
        sslSocket->setSslConfiguration(*sslConfig);
        socket = sslSocket;
        qDebug("HttpConnectionHandler (%p): SSL is enabled", static_cast<void *>(this));
    } else {
        socket = new QTcpSocket;
    }
    // Qt would otherwise take in everything a client sends, also while this thread waits for
    // a client that does not read its responses; a bounded buffer leaves the rest in the kernel.
    socket->setReadBufferSize(readBufferBytes);
    socket->moveToThread(thread);
    connect(socket, &QTcpSocket::readyRead, this, &HttpConnectionHandler::read);
    connect(socket, &QTcpSocket::disconnected, this, &HttpConnectionHandler::disconnected);
    connect(&readTimeoutTimer, &QTimer::timeout, this, &HttpConnectionHandler::readTimeout);
    connect(thread, &QThread::finished, this, &HttpConnectionHandler::thread_done);
    qDebug("HttpConnectionHandler (%p): constructed", static_cast<void *>(this));
}

// Waits for the worker thread to finish what it is doing; its socket goes with it.
HttpConnectionHandler::~HttpConnectionHandler()
{
    thread->quit();
    thread->wait();
    delete thread;
    delete pendingRequest;
    qDebug("HttpConnectionHandler (%p): destroyed", static_cast<void *>(this));
}

void HttpConnectionHandler::thread_done()
{
    readTimeoutTimer.stop();
    socket->close();
    delete socket;
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
    // Head and body of a reply are two writes: the body must not wait for the client's delayed
    // acknowledgement of the head (some 40 ms on every request of a kept-alive connection).
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (sslConfig) {
        qDebug("HttpConnectionHandler (%p): Starting encryption", static_cast<void *>(this));
        static_cast<QSslSocket *>(socket)->startServerEncryption();
    }
    readTimeoutTimer.start(config.readTimeoutMs);
    delete pendingRequest;
    pendingRequest = nullptr;
}

// A silent client, before, inside or between requests, loses its connection without a reply.
void HttpConnectionHandler::readTimeout()
{
    qDebug("HttpConnectionHandler (%p): read timeout occured", static_cast<void *>(this));
    closeConnection();
    delete pendingRequest;
    pendingRequest = nullptr;
}

// The only place where the handler becomes idle again.
void HttpConnectionHandler::disconnected()
{
    qDebug("HttpConnectionHandler (%p): disconnected", static_cast<void *>(this));
    socket->close();
    readTimeoutTimer.stop();
    busy = false;
}

// Gives queued output its chance to leave, each wait bounded; a client that stopped reading is
// cut off rather than left to hold the handler in the closing state.
void HttpConnectionHandler::closeConnection()
{
    while (socket->bytesToWrite() > 0 && socket->waitForBytesWritten(closeWaitMs)) { }
    if (socket->bytesToWrite() > 0)
        socket->abort();
    else
        socket->disconnectFromHost();
}

// Serves every request the available bytes complete, pipelined ones included, in order.
void HttpConnectionHandler::read()
{
    while (socket->bytesAvailable() > 0) {
        if (!pendingRequest)
            pendingRequest = new HttpRequest(config);
        while (socket->bytesAvailable() > 0 && pendingRequest->getStatus() != HttpRequest::complete
            && pendingRequest->getStatus() != HttpRequest::aborted) {
            pendingRequest->readFromSocket(socket);
            // A long upload does not time out while its data keeps coming.
            if (pendingRequest->getStatus() == HttpRequest::readingBody)
                readTimeoutTimer.start(config.readTimeoutMs);
        }
        if (pendingRequest->getStatus() == HttpRequest::aborted) {
            socket->write("HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n"
                          "413 Entity too large\r\n");
            closeConnection();
            delete pendingRequest;
            pendingRequest = nullptr;
            return;
        }
        if (pendingRequest->getStatus() != HttpRequest::complete)
            continue;

        readTimeoutTimer.stop();
        qDebug("HttpConnectionHandler (%p): received request", static_cast<void *>(this));
        bool closing = equalsIgnoringCase(pendingRequest->getHeader("Connection"), "close")
            || equalsIgnoringCase(pendingRequest->getVersion(), "HTTP/1.0");
        {
            HttpResponse response(socket);
            // Set before the handler runs, so that the response never turns chunked for a
            // client that reads the body up to the end of the connection.
            if (closing)
                response.setHeader("Connection", "close");
            requestHandler->service(*pendingRequest, response);
            if (!response.hasSentLastPart())
                response.write(QByteArray(), true);
            qDebug("HttpConnectionHandler (%p): finished request", static_cast<void *>(this));
            const QMap<QByteArray, QByteArray> &headers = response.getHeaders();
            // Without a length or chunked framing the client sees the end of the body only by
            // the end of the connection. A response that already ended the connection (a body
            // short of its length) must not be followed by the answer to a pipelined request.
            closing = closing || equalsIgnoringCase(headers.value("Connection"), "close")
                || (!headers.contains("Content-Length")
                    && !equalsIgnoringCase(headers.value("Transfer-Encoding"), "chunked"))
                || socket->state() != QAbstractSocket::ConnectedState;
        }
        delete pendingRequest;
        pendingRequest = nullptr;
        if (closing) {
            closeConnection();
            return;
        }
        readTimeoutTimer.start(config.readTimeoutMs);
    }
}

} // namespace weblet
