#pragma once

#include "httpserver/httprequesthandler.h"

// The one handler the listener is given. Admits at most a few requests at once, serves them one
// at a time under the process-wide mutex and hands each by path to the browser login, to a
// fresh command handler or to the file handler.
class RequestMapper : public weblet::HttpRequestHandler
{
    Q_OBJECT

public:
    // fileHandler (the static-file controller) serves every path that is not a command; it is
    // not owned and must outlive the mapper.
    explicit RequestMapper(weblet::HttpRequestHandler *fileHandler, QObject *parent = nullptr);
    ~RequestMapper() override;

    void service(weblet::HttpRequest &request, weblet::HttpResponse &response) override;

private:
    weblet::HttpRequestHandler *const fileHandler;
};
