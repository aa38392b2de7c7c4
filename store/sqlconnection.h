#pragma once

#include <QString>

#include <functional>

class QSqlDatabase;

// The one way the server reaches its SQLite files (the operator database and the two access
// databases alike). Requests are served in many handler threads and a connection belongs to the
// thread that opened it, so a connection is never shared between threads.
namespace sqlconnection {

// Calls work with an open connection of the calling thread to file (a path relative to the
// working directory). A file that does not open, or stays locked by another process, is waited
// for about five seconds; then work is not called, "<owner>: cannot open <file>: <reason>" is
// logged and the answer is false.
bool use(const QString &file, const char *owner, const std::function<void(QSqlDatabase &)> &work);

} // namespace sqlconnection
