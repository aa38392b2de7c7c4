#pragma once

#include <QByteArray>
#include <QString>

// What the device's answers mean, in one place for every dorxctl command: which answers are
// failures, the one line that says in English what happened and what to do, and the exit status
// (console.h). Callers print what they print on standard output; the reports here go to standard
// error.
namespace replies {

// The status of the plain reply that the device gave to a form posted to path: ExitDone for a
// success ("OK", "OK&…", "OK-…", "login&ADDRESS", "isActive=0"); any other text is reported and
// answers ExitRefused, or ExitNotLoggedIn for "login".
int ofForm(const QString &path, const QByteArray &reply);

// The status of the device's reply to a sealed message posted to path. *answer gets the
// decrypted JSON text, or the plain text the device answered instead. ExitDone when the reply
// says done ("respond" 1; 7 for the logout); ExitRefused, not yet reported, for another code or
// an unknown command; every other failure is reported here.
int ofSealed(const QString &path, const QByteArray &reply, QByteArray *answer);

// Reports why the device refused a sealed message (an answer for which ofSealed gave
// ExitRefused) and answers ExitRefused.
int refusal(const QString &path, const QByteArray &answer);

// The "respond" code of a decrypted reply; -1 when it has none.
int respondOf(const QByteArray &answer);

// The status of the store's reply to one store command: ExitDone, or reported and ExitRefused
// for "1" (unknown command), "2" (nothing found) and "3" (not written).
int ofStore(const QString &command, const QString &reply);

// The part of --help on the exit statuses and the Chinese texts that the output may hold.
extern const char help[];

} // namespace replies
