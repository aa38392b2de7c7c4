#pragma once

#include <QByteArray>
#include <QJsonObject>

#include <optional>

// The JSON object of a client's message text; nothing when the text is not a JSON object, or when
// an object in it names a member twice. Clients never repeat a name, and Qt's parser loses the
// memory of an array or object that a repeated name replaces: a client repeating such messages
// would otherwise wear the device's memory down.
std::optional<QJsonObject> readJsonObject(const QByteArray &text);
// Whether an object in the JSON text names a member twice; text that is no JSON may give either.
bool repeatsAName(const QByteArray &text);
