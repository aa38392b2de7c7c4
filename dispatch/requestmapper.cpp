#include "dispatch/requestmapper.h"

#include "commands/txdeal.h"
#include "dispatch/logincontroller.h"
#include "httpserver/httprequest.h"
#include "httpserver/httpresponse.h"

#include <QMutexLocker>

using weblet::HttpRequest;
using weblet::HttpResponse;

QMutex mutex;
std::atomic<quint8> mutex_num {0};

namespace {

// Requests admitted at once: the one being served and those waiting for the mutex. More
// waiting requests would only hold connection threads; the client is told to come back.
const quint8 admissionLimit = 11;

// Counts the request in unless the gate is full; test and increment are one atomic step.
bool admit()
{
    quint8 count = mutex_num.load();
    do {
        if (count >= admissionLimit)
            return false;
    } while (!mutex_num.compare_exchange_weak(count, quint8(count + 1)));
    qDebug("mutex_num :%d", count + 1);
    return true;
}

} // namespace

RequestMapper::RequestMapper(
    weblet::HttpRequestHandler *fileHandler, const CommandContext &context, QObject *parent)
    : weblet::HttpRequestHandler(parent)
    , fileHandler(fileHandler)
    , context(context)
{
    qDebug("RequestMapper: created");
}

RequestMapper::~RequestMapper()
{
    qDebug("RequestMapper: deleted");
}

// Called in each connection's own thread. Commands are serialised, so login, commands,
// databases and settings files never see two requests at once. Files are served beside them,
// without the gate or the mutex: the file handler guards its own cache, and a page or an image
// must neither wait for a command nor be refused because commands queue.
void RequestMapper::service(HttpRequest &request, HttpResponse &response)
{
    const QByteArray path = request.getPath();
    if (!path.startsWith("/command") && !path.startsWith("/FacePostMessage")) {
        fileHandler->service(request, response);
        return;
    }
    if (!admit()) {
        response.setStatus(503, "too many requests");
        response.write("Too many requests", true);
        return;
    }
    {
        QMutexLocker locker(&mutex);
        qDebug("RequestMapper::service");
        qDebug("RequestMapper: path=%s", path.constData());

        if (path.startsWith("/command/login")) {
            LoginController controller(context);
            controller.service(request, response);
        } else {
            TxDeal deal(QString::fromUtf8(path), context);
            deal.service(request, response);
        }

        qDebug("RequestMapper: finished request");
        --mutex_num;
    }
}
