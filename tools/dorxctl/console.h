#pragma once

#include <QByteArray>
#include <QString>

// Exit statuses of dorxctl, documented in its help text.
enum ExitStatus {
    ExitDone = 0, // the device did it (encrypted replies: "respond" 1)
    ExitFailed = 1, // no device, no valid answer, not logged in, state file trouble
    ExitUsage = 2, // bad arguments or a message that is not a JSON object
    ExitRefused = 3, // the device answered an encrypted reply with another "respond" code
};

// Writes text to standard output, ending it with a line end unless it has one.
void printLine(const QByteArray &text);
// Writes "dorxctl: message" as one line to standard error and answers status.
int fail(int status, const QString &message);
