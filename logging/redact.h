#pragma once

#include <QByteArray>
#include <QString>

// Secrets are cut out of log texts where they are built: debug lines show requests, bodies and
// sessions, but never a password or a whole session id, whatever level the log is kept at.
// A password is the value of any field or JSON member whose name contains "password", in any
// letter case.
namespace redact {

const char mask[] = "***";

// The first four characters of the id and "***": enough to tell sessions apart in the log, too
// little to take one over.
QByteArray sessionId(const QByteArray &id);
// value, or "***" when name is that of a password.
QByteArray fieldValue(const QByteArray &name, const QByteArray &value);
// A form body ("name=value" fields joined by "&") with the value of every password field masked.
QString formBody(const QString &body);
// JSON text with the value of every password member masked; the rest of the text unchanged.
QString json(const QString &text);

} // namespace redact
