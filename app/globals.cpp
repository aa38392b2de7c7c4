#include "app/globals.h"

QString qport;
QString configFileName;
weblet::HttpSessionStore *sessionStore = nullptr;
weblet::StaticFileController *staticFileController = nullptr;
QMutex mutex;
std::atomic<quint8> mutex_num {0};
