#pragma once

#include <QByteArray>
#include <QString>

// One HTTP or HTTPS exchange with the device at a time: posts a body to a path below the base
// URL, presenting the session cookie, and waits for the whole reply. An https device must show a
// certificate that the system trusts, or the one in caCertificate (a PEM file; empty for none).
class DeviceClient
{
public:
    DeviceClient(const QString &baseUrl, const QString &caCertificate, const QByteArray &cookie,
        int timeoutMs);

    // Posts body to path; true with the reply body in *reply, false with a one-line *error when
    // the device could not be reached, did not answer in time or answered other than 200.
    bool post(const QString &path, const QByteArray &body, QByteArray *reply, QString *error);

    // The session cookie as name=value: the one given, or the one the device set last.
    QByteArray cookie() const { return sessionCookie; }

private:
    QString baseUrl;
    QString caCertificate;
    QByteArray sessionCookie;
    int timeoutMs;
};
