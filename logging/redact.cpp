#include "logging/redact.h"

#include <QRegularExpression>
#include <QStringList>

namespace redact {

namespace {

constexpr int keptIdCharacters = 4;

bool isPasswordName(const QString &name)
{
    return name.contains(QLatin1String("password"), Qt::CaseInsensitive);
}

} // namespace

QByteArray sessionId(const QByteArray &id)
{
    return id.left(keptIdCharacters) + mask;
}

QByteArray fieldValue(const QByteArray &name, const QByteArray &value)
{
    return isPasswordName(QString::fromUtf8(name)) ? QByteArray(mask) : value;
}

QString formBody(const QString &body)
{
    QStringList fields = body.split(QLatin1Char('&'));
    for (QString &field : fields) {
        const int equals = field.indexOf(QLatin1Char('='));
        if (equals >= 0 && isPasswordName(field.left(equals)))
            field = field.left(equals + 1) + QLatin1String(mask);
    }
    return fields.join(QLatin1Char('&'));
}

QString json(const QString &text)
{
    // A member name holding "password", then its value: a string (escapes included) or any
    // other scalar up to the next separator.
    static const QRegularExpression member(
        QStringLiteral(R"(("[^"\\]*password[^"\\]*"\s*:\s*)("(?:[^"\\]|\\.)*"|[^\s,}\]]+))"),
        QRegularExpression::CaseInsensitiveOption);
    QString result = text;
    result.replace(member, QStringLiteral("\\1\"%1\"").arg(QLatin1String(mask)));
    return result;
}

} // namespace redact
