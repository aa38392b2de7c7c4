#include "httpserver/staticfilecontroller.h"

#include "httpserver/httprequest.h"
#include "httpserver/httpresponse.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSettings>

#include <memory>

namespace weblet {

namespace {

// Settings of the "docroot" group, read once at construction.
struct StaticFileConfig
{
    QString path = "."; // "path": docroot, relative to the directory of the settings file
    QString encoding = "UTF-8"; // "encoding": charset of text and HTML files
    int maxAgeMs = 60000; // "maxAge": browser cache lifetime, sent in seconds
    int maxCachedFileSize = 65536; // "maxCachedFileSize": bytes; larger files are not cached
    int cacheSize = 1000000; // "cacheSize": bytes the cache may hold in all
    int cacheTimeMs = 60000; // "cacheTime": lifetime of a cache entry, 0 = no expiry

    static StaticFileConfig read(const QSettings &settings);
};

StaticFileConfig StaticFileConfig::read(const QSettings &settings)
{
    StaticFileConfig c;
    c.path = settings.value(QStringLiteral("path"), c.path).toString();
    c.encoding = settings.value(QStringLiteral("encoding"), c.encoding).toString();
    c.maxAgeMs = settings.value(QStringLiteral("maxAge"), c.maxAgeMs).toInt();
    c.maxCachedFileSize
        = settings.value(QStringLiteral("maxCachedFileSize"), c.maxCachedFileSize).toInt();
    c.cacheSize = settings.value(QStringLiteral("cacheSize"), c.cacheSize).toInt();
    c.cacheTimeMs = settings.value(QStringLiteral("cacheTime"), c.cacheTimeMs).toInt();
    return c;
}

// A resource docroot is used as it stands; a file system one is made absolute against the
// settings file and cleaned, so that no trailing slash can join it to a path without one.
QString resolveDocroot(const QString &path, const QString &settingsFile)
{
    if (path.startsWith(QLatin1String(":/")) || path.startsWith(QLatin1String("qrc://")))
        return path;
    return QDir::cleanPath(QFileInfo(settingsFile).absoluteDir().absoluteFilePath(path));
}

// Paths that could name something outside the docroot. Besides "/..", a path must start with
// "/" (else "docroot" + "-private/x" reaches a sibling folder), and may hold neither NUL (the
// file system would cut the name there) nor a backslash (a separator to other readers).
bool isForbidden(const QByteArray &path)
{
    return !path.startsWith('/') || path.contains("/..") || path.contains('\0')
        || path.contains('\\');
}

// The settings files and databases hold the operators' passwords and the device's secrets, and
// the log and its backups the ids of live sessions; the default docroot is the configuration's
// own folder, where a relative log file lies too: they are never web pages.
bool isPrivateFile(const QByteArray &path)
{
    static const QRegularExpression privateEnding(
        QStringLiteral("\\.(ini|db|db-journal|db-wal|db-shm|log|log\\.\\d+)$"),
        QRegularExpression::CaseInsensitiveOption);
    return privateEnding.match(QString::fromUtf8(path)).hasMatch();
}

void sendForbidden(HttpResponse &response)
{
    response.setStatus(403, "forbidden");
    response.write("403 forbidden", true);
}

} // namespace

// settings: the "docroot" group; read here only, not kept.
StaticFileController::StaticFileController(const QSettings *settings, QObject *parent)
    : HttpRequestHandler(parent)
{
    const StaticFileConfig config = StaticFileConfig::read(*settings);
    maxAge = config.maxAgeMs;
    encoding = config.encoding;
    docroot = resolveDocroot(config.path, settings->fileName());
    qDebug("StaticFileController: docroot=%s, encoding=%s, maxAge=%i", qPrintable(docroot),
        qPrintable(encoding), maxAge);
    maxCachedFileSize = config.maxCachedFileSize;
    cache.setMaxCost(config.cacheSize);
    cacheTimeout = config.cacheTimeMs;
    qDebug("StaticFileController: cache timeout=%i, size=%li", cacheTimeout, long(cache.maxCost()));
}

// Answers with the file of the request's decoded path below the docroot. A fresh cache entry
// is sent without touching the file system; the cache is never checked against the disk.
void StaticFileController::service(HttpRequest &request, HttpResponse &response)
{
    const QByteArray path = request.getPath();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const QString key = QString::fromUtf8(path);
    QMutexLocker locker(&mutex);
    const CacheEntry *entry = cache.object(key);
    if (entry && (cacheTimeout == 0 || now - cacheTimeout < entry->storedAt)) {
        const QByteArray content = entry->content;
        const QByteArray fileName = entry->fileName;
        locker.unlock();
        qDebug("StaticFileController: Cache hit for %s", path.constData());
        setContentType(QString::fromUtf8(fileName), response);
        setCacheControl(response);
        response.write(content, true);
        return;
    }
    locker.unlock();
    qDebug("StaticFileController: Cache miss for %s", path.constData());

    if (isForbidden(path)) {
        qWarning(
            "StaticFileController: detected forbidden characters in path %s", path.constData());
        sendForbidden(response);
        return;
    }
    QByteArray filePath = path;
    if (QFileInfo(docroot + key).isDir())
        filePath += "/index.html";
    if (isPrivateFile(filePath)) {
        qWarning("StaticFileController: refused to serve settings, database or log file %s",
            path.constData());
        sendForbidden(response);
        return;
    }
    sendFile(path, filePath, now, response);
}

// Reads the file up to the size it had when opened, so a file that grows meanwhile cannot hold
// the thread. A file small enough for the cache is read here and sent in one write, framed by
// the length actually read; a larger one is handed to the response open, to be read and sent in
// pieces under the size it had when opened (the response closes the connection should it shrink
// meanwhile).
void StaticFileController::sendFile(
    const QByteArray &requestPath, const QByteArray &path, qint64 now, HttpResponse &response)
{
    auto file = std::make_unique<QFile>(docroot + QString::fromUtf8(path));
    qDebug("StaticFileController: Open file %s", qPrintable(file->fileName()));
    if (!file->open(QIODevice::ReadOnly)) {
        if (file->exists()) {
            qWarning("StaticFileController: Cannot open existing file %s for reading",
                qPrintable(file->fileName()));
            sendForbidden(response);
        } else {
            response.setStatus(404, "not found");
            response.write("404 not found", true);
        }
        return;
    }
    setContentType(QString::fromUtf8(path), response);
    setCacheControl(response);
    const qint64 size = file->size();
    if (size > maxCachedFileSize) {
        response.writeFile(std::move(file), size);
        return;
    }
    const QByteArray content = file->read(size);
    response.write(content, true);
    // A read error leaves a truncated copy that must not be served again from memory.
    if (file->error() != QFileDevice::NoError)
        return;
    auto *entry = new CacheEntry {content, now, path};
    const int cost = content.size();
    QMutexLocker locker(&mutex);
    cache.insert(QString::fromUtf8(requestPath), entry, cost);
}

void StaticFileController::setCacheControl(HttpResponse &response) const
{
    response.setHeader("Cache-Control", "max-age=" + QByteArray::number(maxAge / 1000));
}

// The ending is compared case-sensitively: "x.PNG" has no known type and goes without one.
void StaticFileController::setContentType(const QString &fileName, HttpResponse &response) const
{
    static const struct
    {
        const char *ending;
        const char *type;
    } types[] = {{".png", "image/png"}, {".jpg", "image/jpeg"}, {".gif", "image/gif"},
        {".pdf", "application/pdf"}, {".txt", "text/plain; charset="},
        {".html", "text/html; charset="}, {".htm", "text/html; charset="}, {".css", "text/css"},
        {".js", "text/javascript"}, {".svg", "image/svg+xml"}, {".woff", "font/woff"},
        {".woff2", "font/woff2"}, {".ttf", "application/x-font-ttf"},
        {".eot", "application/vnd.ms-fontobject"}, {".otf", "application/font-otf"},
        {".json", "application/json"}, {".xml", "text/xml"}};
    for (const auto &t : types) {
        if (fileName.endsWith(QLatin1String(t.ending))) {
            QByteArray type = t.type;
            if (type.endsWith('='))
                type += encoding.toUtf8();
            response.setHeader("Content-Type", type);
            return;
        }
    }
    qDebug("StaticFileController: unknown MIME type for filename '%s'", qPrintable(fileName));
}

} // namespace weblet
