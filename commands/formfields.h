#pragma once

#include <QByteArray>
#include <QLatin1String>
#include <QStringList>

// The fields of a form-style body as the device's pages send it: pieces joined by "&" (empty
// pieces kept, in order), each a name, "=" and a value. Values are used as sent, without
// percent-decoding or trimming.
class FormFields
{
public:
    // body is read as UTF-8 up to its first zero byte.
    explicit FormFields(const QByteArray &body);

    int size() const { return int(pieces.size()); }
    // Value of the field at position (counting from 0); "" beyond the last field.
    QString value(int position) const;
    // Value of the last field whose piece begins with prefix; "" when none does.
    QString lastValueStartingWith(QLatin1String prefix) const;
    // Value of the last field whose name (the text before its first "=") is name; "" when none.
    QString named(const QString &name) const;

private:
    QStringList pieces;
};
