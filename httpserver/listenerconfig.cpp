#include "httpserver/listenerconfig.h"

#include <QSettings>

namespace weblet {

// Reads the group the settings view is confined to; the defaults sit beside the fields.
ListenerConfig ListenerConfig::read(const QSettings &group)
{
    ListenerConfig config;
    config.host = group.value("host").toString();
    config.minThreads = group.value("minThreads", config.minThreads).toInt();
    config.maxThreads = group.value("maxThreads", config.maxThreads).toInt();
    config.cleanupIntervalMs = group.value("cleanupInterval", config.cleanupIntervalMs).toInt();
    config.readTimeoutMs = group.value("readTimeout", config.readTimeoutMs).toInt();
    config.requestTimeoutMs = group.value("requestTimeout", 4 * config.readTimeoutMs).toInt();
    config.maxRequestSize = group.value("maxRequestSize", config.maxRequestSize).toInt();
    config.maxMultiPartSize = group.value("maxMultiPartSize", config.maxMultiPartSize).toInt();
    config.sslKeyFile = group.value("sslKeyFile").toString();
    config.sslCertFile = group.value("sslCertFile").toString();
    config.caCertFile = group.value("caCertFile").toString();
    config.verifyPeer = group.value("verifyPeer", "false").toBool();
    return config;
}

} // namespace weblet
