#pragma once

#include <QMutex>
#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

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
    std::vector<std::unique_ptr<HttpConnectionHandler>> pool; // busy and idle, oldest first
    QTimer cleanupTimer;
    QMutex mutex; // guards pool and the handlers' busy flags while a handler is chosen or removed
    std::unique_ptr<QSslConfiguration> sslConfig; // null when SSL is off; shared by all handlers
};

} // namespace weblet
