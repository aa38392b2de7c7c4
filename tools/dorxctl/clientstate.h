#pragma once

#include <QByteArray>
#include <QString>

// What dorxctl remembers between runs: where the device is, which serial number it answers to
// and the session cookie of the last login. Kept in a small file readable only by its owner,
// since the cookie stands for a logged-in operator.
struct ClientState
{
    QString url; // "url": base address, e.g. http://192.168.0.242:8080
    QString devicesn; // "devicesn": the device's serial number, sent in every encrypted message
    QString caCertificate; // "cacert": PEM file of the certificate an https device is trusted by
    QByteArray cookie; // "cookie": name=value of the session cookie, empty before a login

    // The file named by DORXCTL_SESSION, else ~/.dorxctl-session.
    static QString defaultPath();
    // Reads the file; a missing file gives an empty state. False (with *error) when unreadable.
    static bool load(const QString &path, ClientState *state, QString *error);
    // Replaces the file whole, so a crash never leaves half of it; false (with *error) on failure.
    bool save(const QString &path, QString *error) const;
};
