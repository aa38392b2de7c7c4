#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QTimer>

class QSettings;
class QSslConfiguration;

namespace weblet {

class HttpConnectionHandler;
class HttpRequestHandler;

// The connection handlers: grows on demand up to "maxThreads" and drops one surplus idle
// handler per "cleanupInterval" down to "minThreads". Lives in the main thread.
class HttpConnectionHandlerPool : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpConnectionHandlerPool)

public:
    HttpConnectionHandlerPool(const QSettings *settings, HttpRequestHandler *requestHandler);
    ~HttpConnectionHandlerPool() override;

    HttpConnectionHandler *getConnectionHandler();

private slots:
    void cleanup();

private:
    void loadSslConfig();

    const QSettings *settings;
    HttpRequestHandler *requestHandler;
    QList<HttpConnectionHandler *> pool;
    QTimer cleanupTimer;
    QMutex mutex;
    QSslConfiguration *sslConfig = nullptr;
};

} // namespace weblet
