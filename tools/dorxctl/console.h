#pragma once

#include <QByteArray>
#include <QString>

// Exit statuses of dorxctl, documented in its help text (replies::help).
enum ExitStatus {
    ExitDone = 0, // the device did it (encrypted replies: "respond" 1)
    ExitFailed = 1, // no device, no valid answer, state file trouble
    ExitUsage = 2, // bad arguments or a message that is not a JSON object
    ExitRefused = 3, // the device answered with a failure text or another "respond" code
    ExitNotLoggedIn = 4, // the device answered "login": no session, or it expired
};

// Writes text to standard output, ending it with a line end unless it has one.
void printLine(const QByteArray &text);
// Writes "dorxctl: message" as one line to standard error and answers status.
int fail(int status, const QString &message);
