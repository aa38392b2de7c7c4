#pragma once

#include "commands/commandcontext.h"
#include "httpserver/httprequesthandler.h"

// The browser login: the form posts the operator name and the password as hexadecimal DES
// ciphertext; a match marks the HTTP session as logged in. Created for one request.
class LoginController : public weblet::HttpRequestHandler
{
    Q_OBJECT

public:
    // The session store and the login throttle of context must outlive the controller.
    explicit LoginController(const CommandContext &context);

    void service(weblet::HttpRequest &request, weblet::HttpResponse &response) override;

private:
    const CommandContext &context;
};
