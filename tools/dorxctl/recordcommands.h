#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QStringList>

#include <functional>

// Seals message, posts it to path with the session and opens the reply into *answer, as
// replies::ofSealed does: ExitDone, ExitRefused not yet reported, or another status reported.
using SealedExchange
    = std::function<int(const QString &path, const QJsonObject &message, QByteArray *answer)>;

// The access-control records in readable form: "add", "show", "list", "delete", "clear" of each
// kind and "records" by number range, on top of the encrypted record commands.
bool isRecordCommand(const QString &command);
// Runs one record command; words are the command and its arguments. Answers the exit status.
int runRecordCommand(const QStringList &words, const SealedExchange &exchange);
// The part of --help on them, with every kind's fields and an example.
QByteArray recordCommandsHelp();
