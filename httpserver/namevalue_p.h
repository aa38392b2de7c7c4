#pragma once

#include <QByteArray>

namespace weblet {

// Splits "name=value" at its first '=' into trimmed halves; a piece without '=' is a name with
// an empty value. Cookies, cookie attributes and form fields all share this form.
inline void splitNameValue(const QByteArray &piece, QByteArray *name, QByteArray *value)
{
    const int equals = piece.indexOf('=');
    *name = (equals < 0 ? piece : piece.left(equals)).trimmed();
    *value = equals < 0 ? QByteArray() : piece.mid(equals + 1).trimmed();
}

} // namespace weblet
