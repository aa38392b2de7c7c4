#include "httpserver/httprequesthandler.h"

#include "httpserver/httprequest.h"
#include "httpserver/httpresponse.h"

namespace weblet {

HttpRequestHandler::HttpRequestHandler(QObject *parent)
    : QObject(parent)
{ }

HttpRequestHandler::~HttpRequestHandler() = default;

// Answers 501: a handler that reaches this has no service of its own.
void HttpRequestHandler::service(HttpRequest &request, HttpResponse &response)
{
    qCritical("HttpRequestHandler: you need to override the service() function");
    qDebug("HttpRequestHandler: request=%s %s %s", request.getMethod().constData(),
        request.getPath().constData(), request.getVersion().constData());
    response.setStatus(501, "not implemented");
    response.write("501 not implemented", true);
}

// Sends data as the whole UTF-8 body with the status the response holds; the request is not
// needed but kept in the signature every command handler calls.
void HttpRequestHandler::SendReponse(HttpRequest &, HttpResponse &response, const QString &data)
{
    response.setHeader("Content-Type", "text/shtml; charset=UTF-8");
    response.setHeader("Access-Control-Allow-Origin", "*");
    response.write(data.toUtf8(), true);
}

} // namespace weblet
