#pragma once

#include "httpserver/httprequesthandler.h"

namespace weblet {
class HttpSessionStore;
}

// The browser login: the form posts the operator name and the password as hexadecimal DES
// ciphertext; a match marks the HTTP session as logged in. Created for one request.
class LoginController : public weblet::HttpRequestHandler
{
    Q_OBJECT

public:
    // sessions (the one session registry) is not owned and must outlive the controller.
    explicit LoginController(weblet::HttpSessionStore *sessions);

    void service(weblet::HttpRequest &request, weblet::HttpResponse &response) override;

private:
    weblet::HttpSessionStore *const sessions;
};
