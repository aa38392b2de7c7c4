#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// One run of the dorxctl that this build made, to its end, with the state file given, in the
// working directory given (else the test's own) and under the C locale (the device may be
// managed from such a shell: texts must still go as UTF-8).
struct DorxctlRun
{
    int exitCode = -1; // -1: did not end within 60 s; -2: crashed
    QByteArray out;
    QByteArray err;

    static DorxctlRun run(const QStringList &arguments, const QString &stateFile,
        const QString &workingDirectory = QString());
};
