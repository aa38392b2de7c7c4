#pragma once

#include "httpserver/httprequesthandler.h"

// The browser login: the form posts the operator name and the password as hexadecimal DES
// ciphertext; a match marks the HTTP session as logged in. Created for one request.
class LoginController : public weblet::HttpRequestHandler
{
    Q_OBJECT

public:
    LoginController();

    void service(weblet::HttpRequest &request, weblet::HttpResponse &response) override;
};
