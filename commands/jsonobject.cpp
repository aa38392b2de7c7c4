#include "commands/jsonobject.h"

#include <QJsonDocument>
#include <QSet>
#include <QString>

#include <cstring>
#include <vector>

namespace {

// The text a JSON string stands for, escapes resolved, from its opening quote at `at`; `at` ends
// past its closing quote. A broken string yields some text: the parser refuses it anyway.
QString readString(const QByteArray &json, int &at)
{
    QString text;
    int run = ++at;
    while (at < json.size() && json.at(at) != '"') {
        if (json.at(at) != '\\') {
            ++at;
            continue;
        }
        text += QString::fromUtf8(json.constData() + run, at - run);
        const char escaped = at + 1 < json.size() ? json.at(at + 1) : '\0';
        if (escaped == 'u') {
            text += QChar(json.mid(at + 2, 4).toUShort(nullptr, 16));
            at += 6;
        } else {
            static const char from[] = "bfnrt";
            static const char to[] = "\b\f\n\r\t";
            const char *known = escaped ? std::strchr(from, escaped) : nullptr;
            text += QLatin1Char(known ? to[known - from] : escaped);
            at += 2;
        }
        run = at;
    }
    at = qMin(at, json.size());
    text += QString::fromUtf8(json.constData() + run, qMax(0, at - run));
    ++at;
    return text;
}

} // namespace

bool repeatsAName(const QByteArray &text)
{
    // For each object or array open at this point: the names its members had so far (arrays: none).
    std::vector<std::optional<QSet<QString>>> open;
    bool nameNext = false;
    for (int at = 0; at < text.size();) {
        const char c = text.at(at);
        if (c == '"') {
            const QString name = readString(text, at);
            if (nameNext) {
                if (open.back()->contains(name))
                    return true;
                open.back()->insert(name);
            }
            nameNext = false;
            continue;
        }
        switch (c) {
        case '{':
            open.emplace_back(QSet<QString>());
            nameNext = true;
            break;
        case '[':
            open.emplace_back();
            nameNext = false;
            break;
        case '}':
        case ']':
            if (!open.empty())
                open.pop_back();
            nameNext = false;
            break;
        case ',':
            nameNext = !open.empty() && open.back().has_value();
            break;
        }
        ++at;
    }
    return false;
}

std::optional<QJsonObject> readJsonObject(const QByteArray &text)
{
    if (repeatsAName(text))
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}
