#pragma once

#include "httpserver/httpcookie.h"

#include <QByteArray>
#include <QMap>

#include <memory>

class QDeadlineTimer;
class QIODevice;
class QTcpSocket;

namespace weblet {

// One HTTP/1.1 response on a connection's socket. A single write(body, true) is sent with
// "Content-Length"; a body written in several parts goes out chunked unless "Connection" is
// "close", in which case it ends with the connection, or unless the handler set
// "Content-Length" first, in which case the parts go out raw under that length.
//
// Handlers only compose the response: nothing reaches the socket until the connection handler
// calls send() after the handler has returned, so a client that does not read can never hold a
// handler, or a lock the handler took, while its reply waits.
class HttpResponse
{
    Q_DISABLE_COPY(HttpResponse)

public:
    explicit HttpResponse(QTcpSocket *socket);
    ~HttpResponse();

    void setStatus(int statusCode, const QByteArray &description = QByteArray());
    int getStatusCode() const { return statusCode; }
    void setHeader(const QByteArray &name, const QByteArray &value);
    void setHeader(const QByteArray &name, int value);
    QMap<QByteArray, QByteArray> &getHeaders() { return headers; }
    void setCookie(const HttpCookie &cookie);
    QMap<QByteArray, HttpCookie> &getCookies() { return cookies; }

    void write(const QByteArray &data, bool lastPart = false);
    void writeFile(std::unique_ptr<QIODevice> file, qint64 size);
    void redirect(const QByteArray &url);
    bool hasSentLastPart() const { return sentLastPart; }

    bool send(const QDeadlineTimer &deadline);

private:
    void writeHeaders();
    bool writeToSocket(const QByteArray &data, const QDeadlineTimer &deadline);

    QMap<QByteArray, QByteArray> headers;
    QTcpSocket *socket;
    int statusCode = 200;
    QByteArray statusDescription = "OK";
    bool sentHeaders = false;
    bool sentLastPart = false;
    bool chunkedTransfer = false;
    qint64 announcedLength = -1; // "Content-Length" of a body sent in raw parts; -1 when none
    qint64 bodyBytesSent = 0;
    QMap<QByteArray, HttpCookie> cookies;
    QByteArray output; // composed, not yet handed to the socket
    std::unique_ptr<QIODevice> bodyFile; // read and sent after output by send()
};

} // namespace weblet
