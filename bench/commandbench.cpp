// Helper of bench/commands.sh.
//   commandbench seal JSON      prints the sealed envelope of JSON, the body of an encrypted
//                               command (sealing is deterministic, so the body can be replayed)
//   commandbench select FILE S  runs "select * from user" on FILE for S seconds, first on one
//                               connection kept open, then through sqlconnection as every
//                               command does, and prints each rate in operations per second

#include "crypto/envelope.h"
#include "store/sqlconnection.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <cstdio>
#include <functional>

namespace {

// Operations of `operation` per second over `seconds`; 0 when one fails.
double rate(double seconds, const std::function<bool()> &operation)
{
    QElapsedTimer timer;
    timer.start();
    qint64 count = 0;
    while (timer.nsecsElapsed() < qint64(seconds * 1e9)) {
        if (!operation())
            return 0;
        ++count;
    }
    return double(count) * 1e9 / double(timer.nsecsElapsed());
}

bool selectAll(QSqlDatabase &db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("select * from user")))
        return false;
    while (query.next()) { }
    return true;
}

int select(const QString &file, double seconds)
{
    double kept = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "kept");
        db.setDatabaseName(file);
        if (db.open())
            kept = rate(seconds, [&] { return selectAll(db); });
    }
    QSqlDatabase::removeDatabase("kept");
    const double helper = rate(seconds, [&] {
        bool ok = false;
        sqlconnection::use(file, "commandbench", [&](QSqlDatabase &db) { ok = selectAll(db); });
        return ok;
    });
    std::printf("%.0f %.0f\n", kept, helper);
    return kept > 0 && helper > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "seal") == 0) {
        std::printf("%s\n", envelope::seal(QByteArray(argv[2])).constData());
        return 0;
    }
    if (argc == 4 && qstrcmp(argv[1], "select") == 0)
        return select(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toDouble());
    std::fprintf(stderr, "usage: commandbench seal JSON | commandbench select FILE SECONDS\n");
    return 2;
}
