#include "deviceclient.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QUrl>

DeviceClient::DeviceClient(
    const QString &baseUrl, const QString &caCertificate, const QByteArray &cookie, int timeoutMs)
    : baseUrl(baseUrl)
    , caCertificate(caCertificate)
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
    const bool secure = url.scheme() == QLatin1String("https");
    if (!url.isValid() || (!secure && url.scheme() != QLatin1String("http"))
        || url.host().isEmpty()) {
        *error = QStringLiteral("not an http://HOST:PORT or https://HOST:PORT address: %1")
                     .arg(baseUrl);
        return false;
    }

    QNetworkRequest request(url);
    if (secure && !caCertificate.isEmpty()) {
        const QList<QSslCertificate> trusted = QSslCertificate::fromPath(caCertificate);
        if (trusted.isEmpty()) {
            *error = QStringLiteral("no PEM certificate in %1 (--cacert)").arg(caCertificate);
            return false;
        }
        QSslConfiguration configuration = request.sslConfiguration();
        configuration.setCaCertificates(configuration.caCertificates() + trusted);
        request.setSslConfiguration(configuration);
    }
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
            : QStringLiteral("cannot reach %1: %2%3")
                  .arg(url.toString(), answer->errorString(),
                      answer->error() == QNetworkReply::SslHandshakeFailedError
                          ? QStringLiteral(" (a device with a certificate of its own: give "
                                           "--cacert FILE)")
                          : QString());
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
