#include "app/globals.h"

QString qport;
QString configFileName;
weblet::HttpSessionStore *sessionStore = nullptr;
weblet::StaticFileController *staticFileController = nullptr;
