#pragma once

#include <QString>

// The store command language separates fields with ".", a record's fields with "|" and the rows
// of a reply with ","; the text values travel inside these texts. So that no value can shift a
// field, a row or a command field, every text value inside a pipe text, a command argument or a
// row reply carries exactly these four characters percent-encoded:
//
//     "%" -> "%25"    "," -> "%2C"    "." -> "%2E"    "|" -> "%7C"
//
// Nothing else is touched, so ordinary values (Base64 names, digits, intervals) read the same
// encoded or not. The databases keep the plain values, as the access daemon reads the same files.
// Decoding turns back exactly these four escapes (either case of hex digit) and leaves any other
// "%" as it stands.
//
// Conversions of single values shared by the record text forms, the store's row texts and its
// command interpreter.
namespace storetext {

QString encode(const QString &text);
QString decode(const QString &text);
quint32 toNumber(const QString &text);
QString sqlText(const QString &text);
QString likeContains(const QString &text);
bool keptByNumericColumn(const QString &text);

} // namespace storetext
