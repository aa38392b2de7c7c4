#pragma once

#include <QString>

namespace weblet {
class HttpSessionStore;
class StaticFileController;
} // namespace weblet

// Process-wide objects set once during start-up, before the listener accepts its first
// connection, and only read afterwards. Only start-up uses them: the libraries below are given
// what they need through their constructors.
extern QString qport; // TCP port text from the command line
extern QString configFileName; // canonical path of DORXWebOnDevice.ini
extern weblet::HttpSessionStore *sessionStore; // the one session registry
extern weblet::StaticFileController *staticFileController; // handler of every non-command path
