#pragma once

#include "httpserver/listenerconfig.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>

#include <map>
#include <memory>

class QIODevice;
class QTemporaryFile;

namespace weblet {

// One HTTP/1.x request, parsed incrementally from the bytes of a connection (a socket in the
// server, any other device in tests). Values are raw bytes; no character set is applied.
class HttpRequest
{
    Q_DISABLE_COPY(HttpRequest)

public:
    // aborted: too large or malformed, the client's fault (413); failed: the server could not
    // keep the body, a full disk for instance (500). Both end the connection.
    enum RequestStatus {
        readingRequestLine,
        readingHeaders,
        readingBody,
        complete,
        aborted,
        failed
    };

    // peerAddress is the client's, as the connection reports it.
    explicit HttpRequest(
        const ListenerConfig &config, const QHostAddress &peerAddress = QHostAddress());
    virtual ~HttpRequest();

    void readFromSocket(QIODevice *device);
    RequestStatus getStatus() const { return status; }
    // Complete, aborted or failed: nothing more is read into this request.
    bool isFinished() const { return status >= complete; }

    QByteArray getMethod() const { return method; }
    QByteArray getPath() const;
    const QByteArray &getRawPath() const { return path; }
    QByteArray getVersion() const { return version; }
    QByteArray getHeader(const QByteArray &name) const;
    QList<QByteArray> getHeaders(const QByteArray &name) const;
    QMultiMap<QByteArray, QByteArray> getHeaderMap() const { return headers; }
    QByteArray getParameter(const QByteArray &name) const;
    QList<QByteArray> getParameters(const QByteArray &name) const;
    QMultiMap<QByteArray, QByteArray> getParameterMap() const { return parameters; }
    QByteArray getBody() const { return body; }
    QTemporaryFile *getUploadedFile(const QByteArray &fieldName) const;
    QByteArray getCookie(const QByteArray &name) const;
    QMap<QByteArray, QByteArray> &getCookieMap() { return cookies; }
    QHostAddress getPeerAddress() const { return peerAddress; }

    static QByteArray urlDecode(const QByteArray &source);

private:
    bool readLine(QIODevice *device, QByteArray *line);
    void readRequest(QIODevice *device);
    void readHeader(QIODevice *device);
    void endOfHeaders();
    void readBody(QIODevice *device);
    void readMultiPartBody(QIODevice *device);
    bool parseMultiPartFile();
    void failOnServerSide();
    void decodeRequestParams();
    void extractCookies();

    QMultiMap<QByteArray, QByteArray> headers; // lower-case names
    QMultiMap<QByteArray, QByteArray> parameters; // query and form fields
    std::map<QByteArray, std::unique_ptr<QTemporaryFile>> uploadedFiles;
    QMap<QByteArray, QByteArray> cookies;
    QByteArray body;
    QByteArray method;
    QByteArray path;
    QByteArray version;
    RequestStatus status = readingRequestLine;
    QHostAddress peerAddress;
    qint64 maxRequestSize;
    qint64 maxMultiPartSize;
    qint64 receivedSize = 0;
    qint64 contentLength = 0;
    QByteArray lastHeaderName;
    QByteArray boundary;
    std::unique_ptr<QTemporaryFile> multipartFile;
    QByteArray partialLine;
};

} // namespace weblet
