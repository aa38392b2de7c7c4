#pragma once

#include <QString>

#include <functional>

class QSqlDatabase;

// The one way the server reaches its SQLite files (the operator database and the two access
// databases alike). Requests are served in many handler threads and a connection belongs to the
// thread that opened it, so a connection is never shared between threads. Each thread keeps its
// connection to each file open from one operation to the next (opening one costs far more than
// most statements) and closes it when the thread ends; a file deleted or replaced meanwhile is
// opened afresh, and no transaction outlives the operation that began it.
namespace sqlconnection {

// How a file keeps its journal. WriteAheadLog suits a file that only this server opens: a
// commit costs one sync of the log instead of four of a rollback journal, and is as durable
// (synchronous=FULL). A file that the access daemon opens too keeps its own journal mode.
enum class Journal { AsItIs, WriteAheadLog };

// Calls work with an open connection of the calling thread to file (a path relative to the
// working directory). A file that does not open, or stays locked by another process, is waited
// for about five seconds; then work is not called, "<owner>: cannot open <file>: <reason>" is
// logged and the answer is false. A transaction that work leaves open is rolled back. journal
// is applied when the thread's connection to file is opened.
bool use(const QString &file, const char *owner, const std::function<void(QSqlDatabase &)> &work,
    Journal journal = Journal::AsItIs);

} // namespace sqlconnection
