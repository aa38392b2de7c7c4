#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QStringList>

// "dorxctl net-get", "dorxctl time-set 2024-05-01 08:30:00", ...: each setting of the terminal
// read or changed by name, without knowing the form fields or messages of the pages. A command
// becomes one request, which main.cpp sends as it sends its own forms and messages.
struct SettingsCall
{
    QString command; // the name the user gave, e.g. "net-get"
    QString path;
    bool sealed = false; // an encrypted message (message) rather than a form (form)
    QByteArray form;
    QJsonObject message; // "datas" and whatever else the message carries
};

// The help lines of the settings commands, one example each.
extern const char settingsHelp[];

bool isSettingsCommand(const QString &word);

// The request for words (the command name first); false with a one-line *error when the
// arguments do not fit the command.
bool settingsCall(const QStringList &words, SettingsCall *call, QString *error);

// What to print for the device's plain reply to call, a success (replies::ofForm): one
// name=value a line for the values of a reading command (addresses put together again), else the
// reply itself ("OK", "login&ADDRESS").
QByteArray settingsOutput(const SettingsCall &call, const QByteArray &reply);
