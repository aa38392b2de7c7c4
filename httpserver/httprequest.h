#pragma once

#include "httpserver/listenerconfig.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>

class QTcpSocket;
class QTemporaryFile;

namespace weblet {

// One HTTP/1.x request, parsed incrementally from the bytes of a connection. Values are raw
// bytes; no character set is applied.
class HttpRequest
{
    Q_DISABLE_COPY(HttpRequest)

public:
    enum RequestStatus { readingRequestLine, readingHeaders, readingBody, complete, aborted };

    explicit HttpRequest(const ListenerConfig &config);
    virtual ~HttpRequest();

    void readFromSocket(QTcpSocket *socket);
    RequestStatus getStatus() const { return status; }

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
    bool readLine(QTcpSocket *socket, QByteArray *line);
    void readRequest(QTcpSocket *socket);
    void readHeader(QTcpSocket *socket);
    void endOfHeaders();
    void readBody(QTcpSocket *socket);
    void readMultiPartBody(QTcpSocket *socket);
    void parseMultiPartFile();
    void decodeRequestParams();
    void extractCookies();

    QMultiMap<QByteArray, QByteArray> headers; // lower-case names
    QMultiMap<QByteArray, QByteArray> parameters; // query and form fields
    QMap<QByteArray, QTemporaryFile *> uploadedFiles;
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
    QTemporaryFile *multipartFile = nullptr;
    QByteArray partialLine;
};

} // namespace weblet
