#pragma once

#include <QString>

class LoginThrottle;
namespace weblet {
class HttpSessionStore;
}

// What every request handler needs of the running server, fixed at start-up.
struct CommandContext
{
    weblet::HttpSessionStore *sessions = nullptr; // the one session registry; not owned
    QString configFileName; // DORXWebOnDevice.ini, whose "login" group the commands write
    LoginThrottle *loginThrottle = nullptr; // shared by both logins; not owned
};
