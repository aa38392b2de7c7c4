#include "httpserver/httpresponse.h"

#include <QTcpSocket>

namespace weblet {

namespace {

// Output waits while more than this many bytes are pending in the socket, so a large body
// streams instead of piling up in memory.
constexpr qint64 maxPendingBytes = 16384;
// A client that takes none of our pending bytes for this long is not reading any more.
constexpr int stalledWriteMs = 30000;

} // namespace

HttpResponse::HttpResponse(QTcpSocket *socket)
    : socket(socket)
{ }

// Takes effect only before the headers are sent.
void HttpResponse::setStatus(int statusCode, const QByteArray &description)
{
    this->statusCode = statusCode;
    statusDescription = description;
}

// Names are kept as given ("Connection" and "connection" are two entries); only effective
// before the headers are sent.
void HttpResponse::setHeader(const QByteArray &name, const QByteArray &value)
{
    headers.insert(name, value);
}

void HttpResponse::setHeader(const QByteArray &name, int value)
{
    headers.insert(name, QByteArray::number(value));
}

// Replaces a cookie of the same name; a cookie without a name is ignored.
void HttpResponse::setCookie(const HttpCookie &cookie)
{
    if (!cookie.getName().isEmpty())
        cookies.insert(cookie.getName(), cookie);
}

// Sends data; the first call decides the framing. Nothing may be written after the last part.
// A "Content-Length" set before a first part that is not the last announces the whole body:
// the parts then go out raw, cut to that length.
void HttpResponse::write(const QByteArray &data, bool lastPart)
{
    if (!sentHeaders) {
        if (lastPart) {
            headers.insert("Content-Length", QByteArray::number(data.size()));
        } else if (headers.contains("Content-Length")) {
            bool valid = false;
            announcedLength = headers.value("Content-Length").toLongLong(&valid);
            if (!valid || announcedLength < 0)
                announcedLength = 0;
            headers.insert("Content-Length", QByteArray::number(announcedLength));
        } else {
            const QByteArray connection = headers.contains("Connection")
                ? headers.value("Connection")
                : headers.value("connection");
            if (qstricmp(connection.constData(), "close") != 0) {
                headers.insert("Transfer-Encoding", "chunked");
                chunkedTransfer = true;
            }
        }
        writeHeaders();
    }
    if (!data.isEmpty()) {
        if (chunkedTransfer) {
            writeToSocket(QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n");
        } else if (announcedLength >= 0) {
            // Bytes beyond the announced length would be read as the client's next response.
            const QByteArray part
                = data.left(int(qMin<qint64>(data.size(), announcedLength - bodyBytesSent)));
            writeToSocket(part);
            bodyBytesSent += part.size();
        } else {
            writeToSocket(data);
        }
    }
    if (lastPart) {
        if (chunkedTransfer)
            writeToSocket("0\r\n\r\n");
        socket->flush();
        sentLastPart = true;
        // A body that fell short of its announced length can only be ended by the connection,
        // or the client would take the next response for the rest of this one.
        if (bodyBytesSent < announcedLength) {
            qWarning(
                "HttpResponse: body ended %lli bytes short of its length, closing the connection",
                announcedLength - bodyBytesSent);
            socket->disconnectFromHost();
        }
    }
}

// 303 to url with the body "Redirect", as the last part.
void HttpResponse::redirect(const QByteArray &url)
{
    setStatus(303, "See Other");
    setHeader("Location", url);
    write("Redirect", true);
}

void HttpResponse::flush()
{
    socket->flush();
}

bool HttpResponse::isConnected() const
{
    return socket->isOpen();
}

// Status line, headers in byte order of their names, then cookies by name: one buffer, one
// flush, so the client gets the head in one piece.
void HttpResponse::writeHeaders()
{
    QByteArray buffer
        = "HTTP/1.1 " + QByteArray::number(statusCode) + ' ' + statusDescription + "\r\n";
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        buffer += it.key() + ": " + it.value() + "\r\n";
    for (const HttpCookie &cookie : qAsConst(cookies))
        buffer += "Set-Cookie: " + cookie.toByteArray() + "\r\n";
    buffer += "\r\n";
    writeToSocket(buffer);
    socket->flush();
    sentHeaders = true;
}

// False when the output stopped early: a write error, or a client that read nothing for
// stalledWriteMs, whose connection is dropped so that it cannot hold this thread for ever, or
// a connection that ended meanwhile. A closed socket swallows the output silently.
bool HttpResponse::writeToSocket(const QByteArray &data)
{
    qint64 written = 0;
    while (written < data.size() && socket->isOpen()) {
        if (socket->bytesToWrite() > maxPendingBytes
            && !socket->waitForBytesWritten(stalledWriteMs)) {
            if (socket->state() == QAbstractSocket::ConnectedState) {
                qWarning("HttpResponse: client reads nothing, dropping the connection");
                socket->abort();
            }
            return false;
        }
        const qint64 count = socket->write(
            data.constData() + written, qMin(maxPendingBytes, data.size() - written));
        if (count < 0)
            return false;
        written += count;
    }
    return true;
}

} // namespace weblet
