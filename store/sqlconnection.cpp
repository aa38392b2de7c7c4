#include "store/sqlconnection.h"

#include "store/privatefile.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QThreadStorage>
#include <QVariant>

#include <atomic>
#include <map>

#include <sys/stat.h>

namespace {

// How long an operation keeps trying to open its file, and, once open, how long SQLite waits for
// another process's lock. Measured as elapsed time, so it holds on threads without events.
const int waitBoundMs = 5000;
const int openRetryPauseMs = 100;

bool openWithinBound(QSqlDatabase &db)
{
    const QDeadlineTimer deadline(waitBoundMs);
    while (!db.open()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(openRetryPauseMs);
    }
    return true;
}

// The file a path names at this moment; an invalid identity when there is none.
struct FileIdentity
{
    dev_t device = 0;
    ino_t inode = 0;
    bool valid = false;

    static FileIdentity of(const QString &file)
    {
        struct stat status = {};
        if (::stat(QFile::encodeName(file).constData(), &status) != 0)
            return FileIdentity();
        return FileIdentity {status.st_dev, status.st_ino, true};
    }
    bool operator==(const FileIdentity &other) const
    {
        return valid && other.valid && device == other.device && inode == other.inode;
    }
};

// One open connection of one thread to one file, kept from operation to operation. SQLite checks
// at the start of every transaction whether another process changed the file, so a kept
// connection sees the access daemon's writes as a fresh one would.
struct KeptConnection
{
    QString name; // in Qt's process-wide registry, used by this thread only
    QSqlDatabase db;
    FileIdentity identity; // of the file it opened: another one means the file was replaced
};

// The calling thread's connections by file, closed and removed when the thread ends.
class ThreadConnections
{
public:
    ThreadConnections() = default;
    Q_DISABLE_COPY(ThreadConnections)
    ~ThreadConnections()
    {
        while (!connections.empty())
            drop(connections.begin());
    }

    KeptConnection *find(const QString &file)
    {
        const auto found = connections.find(file);
        if (found == connections.end())
            return nullptr;
        // A file deleted or replaced under a kept connection would otherwise be read and written
        // through the old, unlinked copy.
        if (FileIdentity::of(file) == found->second.identity)
            return &found->second;
        drop(found);
        return nullptr;
    }

    // Opens file, waiting out the bound; null when it does not open.
    KeptConnection *open(const QString &file, const char *owner, sqlconnection::Journal journal)
    {
        // A name of its own for every connection: Qt's registry is process-wide, and another
        // thread must never be handed this connection.
        static std::atomic<quint64> serial {0};
        KeptConnection kept;
        kept.name = QStringLiteral("sqlconnection-%1").arg(++serial);
        kept.db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kept.name);
        (void)privatefile::create(file); // the open reports a file that cannot be made
        kept.db.setDatabaseName(file);
        kept.db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(waitBoundMs));
        if (!openWithinBound(kept.db)) {
            qWarning("%s: cannot open %s: %s", owner, qUtf8Printable(file),
                qUtf8Printable(kept.db.lastError().text()));
            kept.db = QSqlDatabase();
            QSqlDatabase::removeDatabase(kept.name);
            return nullptr;
        }
        if (journal == sqlconnection::Journal::WriteAheadLog)
            useWriteAheadLog(kept.db, owner, file);
        kept.identity = FileIdentity::of(file);
        return &(connections[file] = kept);
    }

private:
    // A file system that cannot hold the log leaves the file in its rollback journal, which is
    // slower but as safe.
    static void useWriteAheadLog(QSqlDatabase &db, const char *owner, const QString &file)
    {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !query.next()
            || query.value(0).toString() != QLatin1String("wal")
            || !query.exec(QStringLiteral("PRAGMA synchronous=FULL")))
            qWarning("%s: %s stays without a write-ahead log", owner, qUtf8Printable(file));
    }

    void drop(std::map<QString, KeptConnection>::iterator kept)
    {
        const QString name = kept->second.name;
        kept->second.db.close();
        connections.erase(kept); // the last handle on the connection goes with it
        QSqlDatabase::removeDatabase(name);
    }

    std::map<QString, KeptConnection> connections;
};

QThreadStorage<ThreadConnections *> threadConnections;

// A kept connection must never carry a transaction from one operation into the next: it would
// hold the file's lock against the access daemon. ROLLBACK fails harmlessly when none is open.
void endForgottenTransaction(QSqlDatabase &db, const char *owner, const QString &file)
{
    if (QSqlQuery(db).exec(QStringLiteral("ROLLBACK")))
        qWarning("%s: a transaction on %s was left open, rolled back", owner, qUtf8Printable(file));
}

} // namespace

namespace sqlconnection {

bool use(const QString &file, const char *owner, const std::function<void(QSqlDatabase &)> &work,
    Journal journal)
{
    if (!threadConnections.hasLocalData())
        threadConnections.setLocalData(new ThreadConnections); // owned by the thread storage
    ThreadConnections *connections = threadConnections.localData();
    KeptConnection *kept = connections->find(file);
    if (!kept)
        kept = connections->open(file, owner, journal);
    if (!kept)
        return false;
    work(kept->db);
    endForgottenTransaction(kept->db, owner, file);
    return true;
}

} // namespace sqlconnection
