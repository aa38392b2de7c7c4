#include "httpserver/httpcookie.h"

#include "httpserver/namevalue_p.h"

#include <QtGlobal>

namespace weblet {

HttpCookie::HttpCookie(const QByteArray &name, const QByteArray &value, int maxAge,
    const QByteArray &path, const QByteArray &comment, const QByteArray &domain, bool secure,
    bool httpOnly, const QByteArray &sameSite)
    : name_(name)
    , value_(value)
    , comment_(comment)
    , domain_(domain)
    , maxAge_(maxAge)
    , path_(path)
    , secure_(secure)
    , httpOnly_(httpOnly)
    , sameSite_(sameSite)
{ }

// Parses the text form of a "Set-Cookie" header; the first unknown attribute names the cookie.
HttpCookie::HttpCookie(const QByteArray &source)
{
    for (const QByteArray &piece : splitCSV(source)) {
        QByteArray name;
        QByteArray value;
        splitNameValue(piece, &name, &value);
        if (name == "Comment")
            comment_ = value;
        else if (name == "Domain")
            domain_ = value;
        else if (name == "Max-Age")
            maxAge_ = value.toInt();
        else if (name == "Path")
            path_ = value;
        else if (name == "Secure")
            secure_ = true;
        else if (name == "HttpOnly")
            httpOnly_ = true;
        else if (name == "SameSite")
            sameSite_ = value;
        else if (name == "Version")
            version_ = value.toInt();
        else if (name_.isEmpty()) {
            name_ = name;
            value_ = value;
        } else
            qWarning("HttpCookie: Ignoring unknown %s=%s", name.constData(), value.constData());
    }
}

// The value of a "Set-Cookie" header; values go out unquoted, as the clients expect them.
QByteArray HttpCookie::toByteArray() const
{
    QByteArray text = name_ + '=' + value_;
    if (!comment_.isEmpty())
        text += "; Comment=" + comment_;
    if (!domain_.isEmpty())
        text += "; Domain=" + domain_;
    if (maxAge_ != 0)
        text += "; Max-Age=" + QByteArray::number(maxAge_);
    if (!path_.isEmpty())
        text += "; Path=" + path_;
    if (secure_)
        text += "; Secure";
    if (httpOnly_)
        text += "; HttpOnly";
    if (!sameSite_.isEmpty())
        text += "; SameSite=" + sameSite_;
    text += "; Version=" + QByteArray::number(version_);
    return text;
}

// Splits a ';'-separated list; double quotes group (and are dropped), pieces come back
// trimmed, empty pieces are left out.
QList<QByteArray> HttpCookie::splitCSV(const QByteArray &source)
{
    QList<QByteArray> pieces;
    QByteArray piece;
    bool quoted = false;
    const auto finish = [&pieces, &piece]() {
        const QByteArray trimmed = piece.trimmed();
        if (!trimmed.isEmpty())
            pieces.append(trimmed);
        piece.clear();
    };
    for (const char c : source) {
        if (c == '"')
            quoted = !quoted;
        else if (c == ';' && !quoted)
            finish();
        else
            piece += c;
    }
    finish();
    return pieces;
}

} // namespace weblet
