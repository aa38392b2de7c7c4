#include "store/storetext.h"

#include <QRegularExpression>

#include <limits>

namespace {

struct Escape
{
    QChar plain;
    const char *code;
};

const Escape escapes[] = {{QLatin1Char('%'), "25"}, {QLatin1Char(','), "2C"},
    {QLatin1Char('.'), "2E"}, {QLatin1Char('|'), "7C"}};

} // namespace

namespace storetext {

// Percent-encodes "%", ",", "." and "|"; everything else is copied.
QString encode(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const Escape *escape = nullptr;
        for (const Escape &e : escapes) {
            if (e.plain == c)
                escape = &e;
        }
        if (escape) {
            out += QLatin1Char('%');
            out += QLatin1String(escape->code);
        } else {
            out += c;
        }
    }
    return out;
}

// Inverse of encode(); a "%" that does not start one of the four escapes is kept.
QString decode(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const Escape *escape = nullptr;
        if (text.at(i) == QLatin1Char('%')) {
            const QStringRef code = text.midRef(i + 1, 2);
            for (const Escape &e : escapes) {
                if (code.compare(QLatin1String(e.code), Qt::CaseInsensitive) == 0)
                    escape = &e;
            }
        }
        if (escape) {
            out += escape->plain;
            i += 2;
        } else {
            out += text.at(i);
        }
    }
    return out;
}

// Unsigned decimal digits only; empty text, any other character (a sign, a space) and values
// beyond 32 bits give 0.
quint32 toNumber(const QString &text)
{
    if (text.isEmpty())
        return 0;
    quint64 value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
        value = value * 10 + quint64(c.unicode() - '0');
        if (value > std::numeric_limits<quint32>::max())
            return 0;
    }
    return quint32(value);
}

// An SQL string literal that holds the text exactly: quotes are doubled, and a NUL character,
// which would end the statement text for the SQL parser, is spliced in with char(0).
QString sqlText(const QString &text)
{
    QString body = text;
    body.replace(QLatin1Char('\''), QLatin1String("''"));
    body.replace(QChar(0), QLatin1String("'||char(0)||'"));
    return QLatin1Char('\'') + body + QLatin1Char('\'');
}

// A "like" pattern literal, to be used with ESCAPE '\', that matches every text containing the
// given text as it stands: its own "%", "_" and "\" are escaped so they match only themselves.
QString likeContains(const QString &text)
{
    QString literal = text;
    literal.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    literal.replace(QLatin1Char('%'), QLatin1String("\\%"));
    literal.replace(QLatin1Char('_'), QLatin1String("\\_"));
    return sqlText(QLatin1Char('%') + literal + QLatin1Char('%'));
}

// Whether a column of numeric affinity gives the text back as it stands. SQLite stores a text that
// reads as a number (surrounding spaces, sign, leading zeros, fraction and exponent allowed) as
// that number, and reads it back in its own form: "0101" comes back as "101", "1.0" as "1". Only
// integers already in that form, within 64 bits, come back unchanged; any other text that reads
// as a number is not kept.
bool keptByNumericColumn(const QString &text)
{
    static const QRegularExpression number(
        QStringLiteral("^\\s*[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?\\s*\\z"));
    static const QRegularExpression integer(QStringLiteral("^(0|-?[1-9]\\d*)\\z"));
    if (!number.match(text).hasMatch())
        return true;
    bool fits = false;
    text.toLongLong(&fits);
    return fits && integer.match(text).hasMatch();
}

} // namespace storetext
