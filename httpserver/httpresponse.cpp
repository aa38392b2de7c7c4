#include "httpserver/httpresponse.h"

#include <QDeadlineTimer>
#include <QIODevice>
#include <QTcpSocket>

namespace weblet {

namespace {

// Output waits while more than this many bytes are pending in the socket, so a large body
// streams instead of piling up in memory.
constexpr qint64 maxPendingBytes = 16384;
// A file body is read and handed to the socket in pieces of this size.
constexpr qint64 filePieceSize = 65536;

} // namespace

// socket is the connection's, not owned; only send() touches it.
HttpResponse::HttpResponse(QTcpSocket *socket)
    : socket(socket)
{ }

HttpResponse::~HttpResponse() = default;

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
            output += QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n";
        } else if (announcedLength >= 0) {
            // Bytes beyond the announced length would be read as the client's next response.
            const QByteArray part
                = data.left(int(qMin<qint64>(data.size(), announcedLength - bodyBytesSent)));
            output += part;
            bodyBytesSent += part.size();
        } else {
            output += data;
        }
    }
    if (lastPart) {
        if (chunkedTransfer)
            output += "0\r\n\r\n";
        sentLastPart = true;
    }
}

// Makes the size bytes that file holds from its current position the whole body, under a
// "Content-Length" of size: the last part of a fresh response. The file is read only by send(),
// piece by piece, so a file too large to hold is never in memory whole.
void HttpResponse::writeFile(std::unique_ptr<QIODevice> file, qint64 size)
{
    Q_ASSERT(!sentHeaders && file && size >= 0);
    headers.insert("Content-Length", QByteArray::number(size));
    announcedLength = size;
    bodyFile = std::move(file);
    writeHeaders();
    sentLastPart = true;
}

// 303 to url with the body "Redirect", as the last part.
void HttpResponse::redirect(const QByteArray &url)
{
    setStatus(303, "See Other");
    setHeader("Location", url);
    write("Redirect", true);
}

// Hands the finished response to the socket: what the handler wrote, then the file body piece by
// piece. The head leaves in one write with the first piece of the body, so that the client
// never waits for the acknowledgement of a lone head. Every wait ends at deadline. False when
// the connection must end: the client took the bytes too slowly, a write failed, or the body
// fell short of its announced length (the client would take the next response for its rest).
bool HttpResponse::send(const QDeadlineTimer &deadline)
{
    Q_ASSERT(sentLastPart);
    QByteArray pending = output;
    output.clear();
    while (bodyFile && bodyBytesSent < announcedLength) {
        const QByteArray piece
            = bodyFile->read(qMin(filePieceSize, announcedLength - bodyBytesSent));
        if (piece.isEmpty())
            break;
        bodyBytesSent += piece.size();
        pending += piece;
        if (!writeToSocket(pending, deadline))
            return false;
        pending.clear();
    }
    bodyFile.reset();
    if (!pending.isEmpty() && !writeToSocket(pending, deadline))
        return false;
    if (bodyBytesSent < announcedLength) {
        qWarning("HttpResponse: body ended %lli bytes short of its length, closing the connection",
            announcedLength - bodyBytesSent);
        return false;
    }
    return true;
}

// Status line, headers in byte order of their names, then cookies by name, in one buffer.
void HttpResponse::writeHeaders()
{
    QByteArray buffer
        = "HTTP/1.1 " + QByteArray::number(statusCode) + ' ' + statusDescription + "\r\n";
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        buffer += it.key() + ": " + it.value() + "\r\n";
    for (const HttpCookie &cookie : qAsConst(cookies))
        buffer += "Set-Cookie: " + cookie.toByteArray() + "\r\n";
    buffer += "\r\n";
    output += buffer;
    sentHeaders = true;
}

// Queues data, lets the socket take what it can at once and waits while more than
// maxPendingBytes are left, so memory stays bounded. False when the output stopped: a write
// error, a connection that ended meanwhile, or a client that did not take the bytes by deadline,
// whose connection is dropped so that it cannot hold this thread any longer.
bool HttpResponse::writeToSocket(const QByteArray &data, const QDeadlineTimer &deadline)
{
    if (!socket->isOpen() || socket->write(data) != data.size())
        return false;
    socket->flush();
    while (socket->bytesToWrite() > maxPendingBytes) {
        const int waitMs
            = deadline.isForever() ? -1 : int(qMax<qint64>(1, deadline.remainingTime()));
        if (!socket->waitForBytesWritten(waitMs) || deadline.hasExpired()) {
            if (socket->state() == QAbstractSocket::ConnectedState) {
                qWarning("HttpResponse: client reads too slowly, dropping the connection");
                socket->abort();
            }
            return false;
        }
    }
    return true;
}

} // namespace weblet
