#pragma once

#include "httpserver/httprequesthandler.h"

#include <QByteArray>
#include <QCache>
#include <QMutex>
#include <QString>

class QSettings;

namespace weblet {

// Serves the files below the document root, holding small ones in memory for a while. One
// instance serves every connection thread; only the cache is shared between them.
class StaticFileController : public HttpRequestHandler
{
    Q_OBJECT
    Q_DISABLE_COPY(StaticFileController)

public:
    explicit StaticFileController(const QSettings *settings, QObject *parent = nullptr);

    void service(HttpRequest &request, HttpResponse &response) override;

private:
    struct CacheEntry
    {
        QByteArray content;
        qint64 storedAt = 0; // ms since the epoch
        QByteArray fileName; // opened path below the docroot; picks the content type
    };

    void setContentType(const QString &fileName, HttpResponse &response) const;
    void setCacheControl(HttpResponse &response) const;
    void sendFile(
        const QByteArray &requestPath, const QByteArray &path, qint64 now, HttpResponse &response);

    QString encoding;
    QString docroot;
    int maxAge;
    int cacheTimeout;
    int maxCachedFileSize;
    QCache<QString, CacheEntry> cache;
    QMutex mutex;
};

} // namespace weblet
