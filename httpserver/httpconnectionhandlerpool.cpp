#include "httpserver/httpconnectionhandlerpool.h"

#include "httpserver/httpconnectionhandler.h"
#include "httpserver/listenerconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace weblet {

HttpConnectionHandlerPool::HttpConnectionHandlerPool(
    const QSettings *settings, HttpRequestHandler *requestHandler)
    : settings(settings)
    , requestHandler(requestHandler)
{
    loadSslConfig();
    cleanupTimer.start(ListenerConfig::read(*settings).cleanupIntervalMs);
    connect(&cleanupTimer, &QTimer::timeout, this, &HttpConnectionHandlerPool::cleanup);
}

// The handlers end before the SSL configuration they share.
HttpConnectionHandlerPool::~HttpConnectionHandlerPool()
{
    pool.clear();
    sslConfig.reset();
    qDebug("HttpConnectionHandlerPool (%p): destroyed", static_cast<void *>(this));
}

// An idle handler, already reserved for the caller, or null when "maxThreads" handlers exist
// and all are busy. Handlers are reused in list order so the oldest stay warm.
HttpConnectionHandler *HttpConnectionHandlerPool::getConnectionHandler()
{
    QMutexLocker locker(&mutex);
    for (const auto &handler : pool) {
        if (!handler->isBusy()) {
            handler->setBusy();
            return handler.get();
        }
    }
    if (int(pool.size()) >= ListenerConfig::read(*settings).maxThreads)
        return nullptr;
    pool.push_back(std::make_unique<HttpConnectionHandler>(requestHandler, sslConfig.get()));
    pool.back()->setBusy();
    return pool.back().get();
}

// Drops at most one idle handler beyond "minThreads", so a pool that grew under load shrinks
// by one handler per tick.
void HttpConnectionHandlerPool::cleanup()
{
    const int maxIdleHandlers = ListenerConfig::read(*settings).minThreads;
    QMutexLocker locker(&mutex);
    int idleCounter = 0;
    for (auto it = pool.begin(); it != pool.end(); ++it) {
        if ((*it)->isBusy() || ++idleCounter <= maxIdleHandlers)
            continue;
        void *const removed = it->get();
        pool.erase(it);
        qDebug("HttpConnectionHandlerPool: Removed connection handler (%p), pool size is now %li",
            removed, long(pool.size()));
#ifdef __GLIBC__
        // What the ended thread freed goes back to the system rather than stay with a process
        // that runs for months; at most once per tick, and only while the pool shrinks.
        malloc_trim(0);
#endif
        break;
    }
}

// SSL stays off unless both a key and a certificate file are configured and readable. Relative
// paths are taken from the directory of the configuration file.
void HttpConnectionHandlerPool::loadSslConfig()
{
    const ListenerConfig config = ListenerConfig::read(*settings);
    if (config.sslKeyFile.isEmpty() || config.sslCertFile.isEmpty())
        return;
    const QDir configDir = QFileInfo(settings->fileName()).absoluteDir();
    const QString certFileName = configDir.absoluteFilePath(config.sslCertFile);
    const QString keyFileName = configDir.absoluteFilePath(config.sslKeyFile);

    QFile certFile(certFileName);
    if (!certFile.open(QIODevice::ReadOnly)) {
        qCritical(
            "HttpConnectionHandlerPool: cannot open sslCertFile %s", qPrintable(certFileName));
        return;
    }
    const QSslCertificate certificate(&certFile, QSsl::Pem);
    certFile.close();

    QFile keyFile(keyFileName);
    if (!keyFile.open(QIODevice::ReadOnly)) {
        qCritical("HttpConnectionHandlerPool: cannot open sslKeyFile %s", qPrintable(keyFileName));
        return;
    }
    const QSslKey key(&keyFile, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey);
    keyFile.close();

    sslConfig = std::make_unique<QSslConfiguration>();
    sslConfig->setProtocol(QSsl::AnyProtocol);
    sslConfig->setLocalCertificate(certificate);
    sslConfig->setPrivateKey(key);
    if (!config.caCertFile.isEmpty())
        qCritical("HttpConnectionHandlerPool: Using a caCertFile requires Qt 5.15 or newer");
    sslConfig->setPeerVerifyMode(
        config.verifyPeer ? QSslSocket::VerifyPeer : QSslSocket::VerifyNone);
    qDebug("HttpConnectionHandlerPool: SSL settings loaded");
}

} // namespace weblet
