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

HttpConnectionHandlerPool::~HttpConnectionHandlerPool()
{
    qDeleteAll(pool);
    delete sslConfig;
    qDebug("HttpConnectionHandlerPool (%p): destroyed", static_cast<void *>(this));
}

// An idle handler, already reserved for the caller, or null when "maxThreads" handlers exist
// and all are busy. Handlers are reused in list order so the oldest stay warm.
HttpConnectionHandler *HttpConnectionHandlerPool::getConnectionHandler()
{
    QMutexLocker locker(&mutex);
    for (HttpConnectionHandler *handler : qAsConst(pool)) {
        if (!handler->isBusy()) {
            handler->setBusy();
            return handler;
        }
    }
    if (pool.count() >= ListenerConfig::read(*settings).maxThreads)
        return nullptr;
    auto *handler = new HttpConnectionHandler(requestHandler, sslConfig);
    handler->setBusy();
    pool.append(handler);
    return handler;
}

// Drops at most one idle handler beyond "minThreads", so a pool that grew under load shrinks
// by one handler per tick.
void HttpConnectionHandlerPool::cleanup()
{
    const int maxIdleHandlers = ListenerConfig::read(*settings).minThreads;
    QMutexLocker locker(&mutex);
    int idleCounter = 0;
    for (HttpConnectionHandler *handler : qAsConst(pool)) {
        if (handler->isBusy() || ++idleCounter <= maxIdleHandlers)
            continue;
        delete handler;
        pool.removeOne(handler);
        qDebug("HttpConnectionHandlerPool: Removed connection handler (%p), pool size is now %li",
            static_cast<void *>(handler), long(pool.size()));
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

    sslConfig = new QSslConfiguration;
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
