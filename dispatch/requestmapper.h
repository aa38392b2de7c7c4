#pragma once

#include "commands/commandcontext.h"
#include "httpserver/httprequesthandler.h"

#include <QMutex>

#include <atomic>

// Serialises command handling: login, commands, databases and settings files never see two
// requests at once.
extern QMutex mutex;
// Command requests admitted: the one being served and those waiting for mutex.
extern std::atomic<quint8> mutex_num;

// The one handler the listener is given. Hands every path outside the command interface to the
// file handler at once; admits at most a few command requests at once and serves them one at a
// time under the process-wide mutex, each by path to the browser login or to a fresh command
// handler.
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
