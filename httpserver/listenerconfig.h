#pragma once

#include <QMetaType>
#include <QString>

class QSettings;

namespace weblet {

// Settings of the "listener" group. Handler threads work only with such snapshots, taken on
// the main thread, and never touch the QSettings object the main thread uses.
struct ListenerConfig
{
    QString host; // "host": empty binds every address
    int minThreads = 1; // "minThreads": idle handlers that survive cleanup
    int maxThreads = 100; // "maxThreads": handlers, busy or idle
    int cleanupIntervalMs = 1000; // "cleanupInterval"
    int readTimeoutMs = 10000; // "readTimeout": silence inside a request or between two
    // "requestTimeout": one request from its first byte to its last, and sending its response;
    // four times "readTimeout" when not set
    int requestTimeoutMs = 4 * readTimeoutMs;
    int maxRequestSize = 16000; // "maxRequestSize": request line, headers, plain body
    int maxMultiPartSize = 1000000; // "maxMultiPartSize": multipart body
    QString sslKeyFile; // "sslKeyFile": PEM RSA key without pass phrase
    QString sslCertFile; // "sslCertFile": PEM certificate
    QString caCertFile; // "caCertFile": not supported, only reported
    bool verifyPeer = false; // "verifyPeer"

    static ListenerConfig read(const QSettings &group);
};

} // namespace weblet

// Travels with a connection through the queued call that hands it to a handler thread.
Q_DECLARE_METATYPE(weblet::ListenerConfig)
