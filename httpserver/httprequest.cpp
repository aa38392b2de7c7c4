#include "httpserver/httprequest.h"

#include "httpserver/httpcookie.h"
#include "httpserver/namevalue_p.h"
#include "logging/redact.h"

#include <QIODevice>
#include <QTemporaryFile>

namespace weblet {

namespace {

// Longest line taken from a multipart temp file at once, and largest body step.
constexpr qint64 multipartStep = 65536;
// Each upload holds a file descriptor until the request ends; a body of many small file parts
// must not use up the descriptors the whole process needs. The device's pages send one file.
constexpr int maxUploadedFiles = 4;

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The text between mark and the next double quote, or empty when either is missing.
QByteArray quotedAfter(const QByteArray &line, const QByteArray &mark)
{
    const int start = line.indexOf(mark);
    if (start < 0)
        return QByteArray();
    const int from = start + mark.size();
    const int end = line.indexOf('"', from);
    return end < 0 ? QByteArray() : line.mid(from, end - from);
}

} // namespace

HttpRequest::HttpRequest(const ListenerConfig &config, const QHostAddress &peerAddress)
    : peerAddress(peerAddress)
    , maxRequestSize(config.maxRequestSize)
    , maxMultiPartSize(config.maxMultiPartSize)
{ }

// Uploaded files vanish from disk with their objects; a handler that keeps one copies it in its
// service.
HttpRequest::~HttpRequest() = default;

// Consumes what the current state can use of the bytes available; the caller repeats while
// bytes are left and the request is not finished.
void HttpRequest::readFromSocket(QIODevice *device)
{
    switch (status) {
    case readingRequestLine:
        readRequest(device);
        break;
    case readingHeaders:
        readHeader(device);
        break;
    case readingBody:
        if (boundary.isEmpty())
            readBody(device);
        else
            readMultiPartBody(device);
        break;
    case complete:
    case aborted:
    case failed:
        return;
    }
    if (status == failed)
        return;
    if (receivedSize > (boundary.isEmpty() ? maxRequestSize : maxMultiPartSize)) {
        qWarning("HttpRequest: received too many bytes");
        status = aborted;
        return;
    }
    if (status == complete) {
        decodeRequestParams();
        extractCookies();
    }
}

// The path without query, URL-decoded.
QByteArray HttpRequest::getPath() const
{
    return urlDecode(path);
}

// Value of the newest header of that name (any case); empty when absent.
QByteArray HttpRequest::getHeader(const QByteArray &name) const
{
    return headers.value(name.toLower());
}

// Every value of that header, newest first.
QList<QByteArray> HttpRequest::getHeaders(const QByteArray &name) const
{
    return headers.values(name.toLower());
}

// Value of the newest parameter of that (case-sensitive) name; empty when absent.
QByteArray HttpRequest::getParameter(const QByteArray &name) const
{
    return parameters.value(name);
}

// Every value of that parameter, newest first.
QList<QByteArray> HttpRequest::getParameters(const QByteArray &name) const
{
    return parameters.values(name);
}

// The open upload of that form field, rewound; null when there is none. The request owns it.
QTemporaryFile *HttpRequest::getUploadedFile(const QByteArray &fieldName) const
{
    const auto found = uploadedFiles.find(fieldName);
    if (found == uploadedFiles.end())
        return nullptr;
    found->second->seek(0);
    return found->second.get();
}

QByteArray HttpRequest::getCookie(const QByteArray &name) const
{
    return cookies.value(name);
}

// '+' becomes a space and valid %XX escapes their byte; an invalid escape stays as it is and a
// decoded '%' is not decoded again.
QByteArray HttpRequest::urlDecode(const QByteArray &source)
{
    QByteArray decoded;
    decoded.reserve(source.size());
    for (int i = 0; i < source.size(); ++i) {
        const char c = source.at(i);
        if (c == '+') {
            decoded += ' ';
        } else if (c == '%' && i + 2 < source.size() && isHexDigit(source.at(i + 1))
            && isHexDigit(source.at(i + 2))) {
            decoded += QByteArray::fromHex(source.mid(i + 1, 2));
            i += 2;
        } else {
            decoded += c;
        }
    }
    return decoded;
}

// Collects one line ended by CR LF across reads into line; false while it is incomplete.
// QIODevice::readLine(n) yields at most n - 1 bytes, so a read stops one byte beyond the limit,
// which the size check then catches, and it always takes at least one byte, so a line that
// reached the limit can never leave the caller looping on reads that return nothing.
bool HttpRequest::readLine(QIODevice *device, QByteArray *line)
{
    const QByteArray piece = device->readLine(qMax<qint64>(2, maxRequestSize - receivedSize + 2));
    receivedSize += piece.size();
    partialLine += piece;
    if (!partialLine.contains("\r\n"))
        return false;
    *line = partialLine.trimmed();
    partialLine.clear();
    return true;
}

void HttpRequest::readRequest(QIODevice *device)
{
    QByteArray line;
    if (!readLine(device, &line) || line.isEmpty())
        return;
    qDebug("HttpRequest: from %s: %s", qPrintable(peerAddress.toString()), line.constData());
    const QList<QByteArray> words = line.split(' ');
    if (words.size() != 3 || !words.at(2).contains("HTTP")) {
        qWarning("HttpRequest: received broken HTTP request, invalid first line");
        status = aborted;
        return;
    }
    method = words.at(0).trimmed();
    path = words.at(1);
    version = words.at(2);
    status = readingHeaders;
}

void HttpRequest::readHeader(QIODevice *device)
{
    QByteArray line;
    if (!readLine(device, &line))
        return;
    const int colon = line.indexOf(':');
    if (colon > 0) {
        lastHeaderName = line.left(colon).toLower();
        headers.insert(lastHeaderName, line.mid(colon + 1).trimmed());
    } else if (!line.isEmpty()) {
        if (!headers.contains(lastHeaderName))
            return;
        // The joined value is stored beside the older ones; charging the copied part to the
        // limit keeps a long run of continuation lines from costing quadratic memory.
        const QByteArray joined = headers.value(lastHeaderName) + ' ' + line;
        receivedSize += joined.size() - line.size();
        headers.insert(lastHeaderName, joined);
    } else {
        endOfHeaders();
    }
}

void HttpRequest::endOfHeaders()
{
    const QByteArray contentType = headers.value("content-type");
    const int boundaryAt = contentType.indexOf("boundary=");
    if (contentType.startsWith("multipart/form-data") && boundaryAt >= 0) {
        boundary = contentType.mid(boundaryAt + 9);
        if (boundary.size() >= 2 && boundary.startsWith('"') && boundary.endsWith('"'))
            boundary = boundary.mid(1, boundary.size() - 2);
    }
    // A negative or unparsable length counts as no body at all.
    bool ok = false;
    contentLength = qMax<qint64>(0, headers.value("content-length").toLongLong(&ok));
    if (!ok)
        contentLength = 0;
    if (contentLength == 0) {
        status = complete;
    } else if (boundary.isEmpty()) {
        // Compared without a sum: a client-chosen length near the largest qint64 would overflow.
        if (contentLength > maxRequestSize - receivedSize) {
            qWarning("HttpRequest: expected body is too large");
            status = aborted;
        } else {
            status = readingBody;
        }
    } else if (contentLength > maxMultiPartSize) {
        qWarning("HttpRequest: expected multipart body is too large");
        status = aborted;
    } else {
        status = readingBody;
    }
}

void HttpRequest::readBody(QIODevice *device)
{
    const QByteArray data = device->read(contentLength - body.size());
    receivedSize += data.size();
    body += data;
    if (body.size() >= contentLength)
        status = complete;
}

// A temporary file that cannot be opened or written (a full disk) is the server's fault, not the
// client's: the request fails at once rather than wait for bytes it could not keep.
void HttpRequest::failOnServerSide()
{
    status = failed;
    uploadedFiles.clear();
    multipartFile.reset();
}

// Streams the multipart body into a temp file, never holding it in memory whole.
void HttpRequest::readMultiPartBody(QIODevice *device)
{
    if (!multipartFile)
        multipartFile = std::make_unique<QTemporaryFile>();
    if (!multipartFile->isOpen() && !multipartFile->open()) {
        qCritical("HttpRequest: cannot open temp file for multipart body, %s",
            qPrintable(multipartFile->errorString()));
        failOnServerSide();
        return;
    }
    const QByteArray data
        = device->read(qMin(multipartStep, contentLength - multipartFile->size()));
    if (multipartFile->write(data) != data.size()) {
        qCritical("HttpRequest: Error writing temp file for multipart body, %s",
            qPrintable(multipartFile->errorString()));
        failOnServerSide();
        return;
    }
    if (multipartFile->size() >= maxMultiPartSize) {
        qWarning("HttpRequest: received too many multipart bytes");
        status = aborted;
    } else if (multipartFile->size() >= contentLength) {
        if (!multipartFile->flush()) {
            qCritical("HttpRequest: Error writing temp file for multipart body, %s",
                qPrintable(multipartFile->errorString()));
            failOnServerSide();
            return;
        }
        if (!parseMultiPartFile()) {
            failOnServerSide();
            return;
        }
        multipartFile->close();
        status = complete;
    }
}

// False when an upload could not be kept in a temp file of its own.
bool HttpRequest::parseMultiPartFile()
{
    qDebug("HttpRequest: parsing multipart temp file");
    multipartFile->seek(0);
    const QByteArray delimiter = "--" + boundary;
    bool finished = false;
    while (!multipartFile->atEnd() && multipartFile->error() == QFileDevice::NoError && !finished) {
        QByteArray fieldName;
        QByteArray fileName;
        while (!multipartFile->atEnd()) {
            const QByteArray line = multipartFile->readLine(multipartStep).trimmed();
            if (line.isEmpty())
                break;
            if (!line.startsWith("Content-Disposition:"))
                continue;
            if (line.contains("form-data")) {
                fieldName = quotedAfter(line, " name=\"");
                fileName = quotedAfter(line, " filename=\"");
            } else {
                qDebug("HttpRequest: ignoring unsupported content part %s", line.constData());
            }
        }
        QByteArray fieldValue;
        std::unique_ptr<QTemporaryFile> uploadedFile;
        while (!multipartFile->atEnd()) {
            const QByteArray line = multipartFile->readLine(multipartStep);
            if (line.startsWith(delimiter)) {
                finished = line.contains(boundary + "--");
                if (!fieldName.isEmpty() && fileName.isEmpty()) {
                    fieldValue.chop(2);
                    parameters.insert(fieldName, fieldValue);
                    qDebug("HttpRequest: set parameter %s=%s", fieldName.constData(),
                        redact::fieldValue(fieldName, fieldValue).constData());
                } else if (!fieldName.isEmpty() && !uploadedFile) {
                    qWarning("HttpRequest: format error, unexpected end of file data");
                } else if (uploadedFile && uploadedFiles.count(fieldName) == 0
                    && uploadedFiles.size() >= maxUploadedFiles) {
                    qWarning(
                        "HttpRequest: too many uploaded files, dropping %s", fieldName.constData());
                } else if (uploadedFile) {
                    qDebug("HttpRequest: set parameter %s=%s", fieldName.constData(),
                        fileName.constData());
                    if (!uploadedFile->resize(qMax<qint64>(0, uploadedFile->size() - 2))
                        || !uploadedFile->flush()) {
                        qCritical("HttpRequest: error writing temp file, %s",
                            qPrintable(uploadedFile->errorString()));
                        return false;
                    }
                    uploadedFile->seek(0);
                    parameters.insert(fieldName, fileName);
                    qDebug("HttpRequest: uploaded file size is %lli", uploadedFile->size());
                    uploadedFiles[fieldName] = std::move(uploadedFile);
                }
                break;
            }
            if (fieldName.isEmpty())
                continue;
            if (fileName.isEmpty()) {
                fieldValue += line;
                receivedSize += line.size();
                continue;
            }
            if (!uploadedFile) {
                uploadedFile = std::make_unique<QTemporaryFile>();
                if (!uploadedFile->open()) {
                    qCritical("HttpRequest: cannot open temp file for upload, %s",
                        qPrintable(uploadedFile->errorString()));
                    return false;
                }
            }
            if (uploadedFile->write(line) != line.size()) {
                qCritical("HttpRequest: error writing temp file, %s",
                    qPrintable(uploadedFile->errorString()));
                return false;
            }
        }
        // A file part cut off by the end of the body, or one upload too many, is dropped with
        // uploadedFile here.
    }
    if (multipartFile->error() != QFileDevice::NoError)
        qCritical(
            "HttpRequest: cannot read temp file, %s", qPrintable(multipartFile->errorString()));
    return true;
}

// Query string and url-encoded form body become parameters; the path loses its query.
void HttpRequest::decodeRequestParams()
{
    QByteArray rawParameters;
    const int question = path.indexOf('?');
    if (question >= 0) {
        rawParameters = path.mid(question + 1);
        path = path.left(question);
    }
    const QByteArray contentType = headers.value("content-type");
    if (!body.isEmpty()
        && (contentType.isEmpty() || contentType.startsWith("application/x-www-form-urlencoded"))) {
        if (!rawParameters.isEmpty())
            rawParameters += '&';
        rawParameters += body;
    }
    for (const QByteArray &piece : rawParameters.split('&')) {
        if (piece.isEmpty())
            continue;
        QByteArray name;
        QByteArray value;
        splitNameValue(piece, &name, &value);
        parameters.insert(urlDecode(name), urlDecode(value));
    }
}

// Cookie headers become cookies (a later one of a name wins) and leave the header map.
void HttpRequest::extractCookies()
{
    const QList<QByteArray> newestFirst = headers.values("cookie");
    for (auto it = newestFirst.crbegin(); it != newestFirst.crend(); ++it) {
        for (const QByteArray &piece : HttpCookie::splitCSV(*it)) {
            QByteArray name;
            QByteArray value;
            splitNameValue(piece, &name, &value);
            cookies.insert(name, value);
        }
    }
    headers.remove("cookie");
}

} // namespace weblet
