#include "commands/formfields.h"

namespace {

// The text between the first "=" of piece and the next one (or the end); "" without "=".
QString valueOf(const QString &piece)
{
    const int equals = piece.indexOf(QLatin1Char('='));
    if (equals < 0)
        return QString();
    const int next = piece.indexOf(QLatin1Char('='), equals + 1);
    return piece.mid(equals + 1, next < 0 ? -1 : next - equals - 1);
}

} // namespace

FormFields::FormFields(const QByteArray &body)
    : pieces(QString::fromUtf8(body.constData()).split(QLatin1Char('&')))
{ }

QString FormFields::value(int position) const
{
    return position >= 0 && position < pieces.size() ? valueOf(pieces.at(position)) : QString();
}

QString FormFields::lastValueStartingWith(QLatin1String prefix) const
{
    for (int position = int(pieces.size()) - 1; position >= 0; --position) {
        if (pieces.at(position).startsWith(prefix))
            return valueOf(pieces.at(position));
    }
    return QString();
}

QString FormFields::named(const QString &name) const
{
    for (int position = int(pieces.size()) - 1; position >= 0; --position) {
        const QString &piece = pieces.at(position);
        if (piece.startsWith(name) && piece.size() > name.size()
            && piece.at(name.size()) == QLatin1Char('='))
            return valueOf(piece);
    }
    return QString();
}
