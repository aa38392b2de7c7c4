#include "clientstate.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

QString ClientState::defaultPath()
{
    const QByteArray fromEnvironment = qgetenv("DORXCTL_SESSION");
    if (!fromEnvironment.isEmpty())
        return QString::fromLocal8Bit(fromEnvironment);
    return QDir::home().filePath(QStringLiteral(".dorxctl-session"));
}

bool ClientState::load(const QString &path, ClientState *state, QString *error)
{
    *state = ClientState();
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    // One "key=value" per line, UTF-8; unknown keys are left for newer versions of the tool.
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const int equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = line.left(equals);
        const QByteArray value = line.mid(equals + 1);
        if (key == "url")
            state->url = QString::fromUtf8(value);
        else if (key == "devicesn")
            state->devicesn = QString::fromUtf8(value);
        else if (key == "cacert")
            state->caCertificate = QString::fromUtf8(value);
        else if (key == "cookie")
            state->cookie = value;
    }
    return true;
}

bool ClientState::save(const QString &path, QString *error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write("url=" + url.toUtf8() + '\n');
    file.write("devicesn=" + devicesn.toUtf8() + '\n');
    file.write("cacert=" + caCertificate.toUtf8() + '\n');
    file.write("cookie=" + cookie + '\n');
    if (!file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
