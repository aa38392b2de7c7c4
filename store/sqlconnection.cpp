#include "store/sqlconnection.h"

#include "store/privatefile.h"

#include <QDeadlineTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QThread>

#include <atomic>

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

} // namespace

namespace sqlconnection {

bool use(const QString &file, const char *owner, const std::function<void(QSqlDatabase &)> &work)
{
    // A name of its own for every use: Qt's connection registry is process-wide, and another
    // thread must never be handed this connection.
    static std::atomic<quint64> serial {0};
    const QString name = QStringLiteral("sqlconnection-%1").arg(++serial);
    bool opened = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        (void)privatefile::create(file); // the open reports a file that cannot be made
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(waitBoundMs));
        opened = openWithinBound(db);
        if (opened) {
            work(db);
            db.close();
        } else {
            qWarning("%s: cannot open %s: %s", owner, qUtf8Printable(file),
                qUtf8Printable(db.lastError().text()));
        }
    }
    QSqlDatabase::removeDatabase(name);
    return opened;
}

} // namespace sqlconnection
