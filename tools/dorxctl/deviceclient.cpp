#include "deviceclient.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

DeviceClient::DeviceClient(const QString &baseUrl, const QByteArray &cookie, int timeoutMs)
    : baseUrl(baseUrl)
    , sessionCookie(cookie)
    , timeoutMs(timeoutMs)
{ }

bool DeviceClient::post(
    const QString &path, const QByteArray &body, QByteArray *reply, QString *error)
{
    QString base = baseUrl;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const QUrl url(base + (path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path));
    if (!url.isValid() || url.scheme() != QLatin1String("http") || url.host().isEmpty()) {
        *error = QStringLiteral("not an http://HOST:PORT address: %1").arg(baseUrl);
        return false;
    }

    QNetworkRequest request(url);
    request.setHeader(
        QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    if (!sessionCookie.isEmpty())
        request.setRawHeader("Cookie", sessionCookie);
    request.setTransferTimeout(timeoutMs);

    // The device keeps its own session, so the manager must neither add nor remember cookies.
    QNetworkAccessManager manager;
    manager.setCookieJar(nullptr);
    QNetworkReply *answer = manager.post(request, body);
    QEventLoop loop;
    QObject::connect(answer, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();

    const int status = answer->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (answer->error() != QNetworkReply::NoError && status == 0) {
        *error = answer->error() == QNetworkReply::OperationCanceledError
            ? QStringLiteral("no answer from %1 within %2 s")
                  .arg(url.toString())
                  .arg(timeoutMs / 1000)
            : QStringLiteral("cannot reach %1: %2").arg(url.toString(), answer->errorString());
        delete answer;
        return false;
    }
    if (status != 200) {
        *error = QStringLiteral("%1 answered HTTP %2").arg(url.toString()).arg(status);
        delete answer;
        return false;
    }
    const QList<QNetworkCookie> cookies
        = answer->header(QNetworkRequest::SetCookieHeader).value<QList<QNetworkCookie>>();
    if (!cookies.isEmpty())
        sessionCookie = cookies.constLast().toRawForm(QNetworkCookie::NameAndValueOnly);
    *reply = answer->readAll();
    delete answer;
    return true;
}
