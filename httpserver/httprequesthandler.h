#pragma once

#include <QObject>
#include <QString>

namespace weblet {

class HttpRequest;
class HttpResponse;

// Base of every request handler. One instance serves all connection threads at once, so a
// derived handler locks whatever state it shares.
class HttpRequestHandler : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpRequestHandler)

public:
    explicit HttpRequestHandler(QObject *parent = nullptr);
    ~HttpRequestHandler() override;

public slots:
    virtual void service(weblet::HttpRequest &request, weblet::HttpResponse &response);
    virtual void SendReponse(
        weblet::HttpRequest &request, weblet::HttpResponse &response, const QString &data);
};

} // namespace weblet
