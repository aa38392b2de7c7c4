#pragma once

#include <QMutex>
#include <QString>

#include <atomic>

namespace weblet {
class HttpSessionStore;
class StaticFileController;
} // namespace weblet

// Process-wide objects set once during start-up, before the listener accepts its first
// connection, and only read afterwards (mutex and mutex_num belong to the request mapper).
extern QString qport; // TCP port text from the command line
extern QString configFileName; // canonical path of DORXWebOnDevice.ini
extern weblet::HttpSessionStore *sessionStore; // the one session registry
extern weblet::StaticFileController *staticFileController; // handler of every non-command path
extern QMutex mutex; // serialises request handling
extern std::atomic<quint8> mutex_num; // requests admitted to the mapper
