#pragma once

#include "commands/commandcontext.h"
#include "httpserver/httprequesthandler.h"

#include <QMutex>

#include <atomic>

// Serialises request handling: login, commands, databases and settings files never see two
// requests at once.
extern QMutex mutex;
// Requests admitted to the mapper: the one being served and those waiting for mutex.
extern std::atomic<quint8> mutex_num;

// The one handler the listener is given. Admits at most a few requests at once, serves them one
// at a time under the process-wide mutex and hands each by path to the browser login, to a
// fresh command handler or to the file handler.
class RequestMapper : public weblet::HttpRequestHandler
{
    Q_OBJECT

public:
    // fileHandler (the static-file controller) serves every path that is not a command; it and
    // the session store of context are not owned and must outlive the mapper.
    RequestMapper(weblet::HttpRequestHandler *fileHandler, const CommandContext &context,
        QObject *parent = nullptr);
    ~RequestMapper() override;

    void service(weblet::HttpRequest &request, weblet::HttpResponse &response) override;

private:
    weblet::HttpRequestHandler *const fileHandler;
    const CommandContext context;
};
