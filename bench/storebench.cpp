// Times the store as the command handlers use it, through its command language: a replace and a
// fetch by key in a table of persons, and a page and a record-number range in a large record
// table. The tables are filled directly in one transaction each, as only the timed commands
// matter. Runs in a temporary directory that it removes afterwards.

#include "store/records.h"
#include "store/sqlite.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

namespace {

bool fill(
    const char *file, const char *table, int rows, const std::function<QString(quint32)> &values)
{
    bool ok = false;
    {
        QSqlDatabase db
            = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(QString::fromLatin1(file));
        if (db.open() && db.transaction()) {
            QSqlQuery query(db);
            ok = true;
            for (int i = 0; i < rows && ok; ++i)
                ok = query.exec(QStringLiteral("INSERT INTO %1 VALUES(%2)")
                                    .arg(QLatin1String(table), values(quint32(i))));
            ok = db.commit() && ok;
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    return ok;
}

PersonStruct person(quint32 id)
{
    PersonStruct p;
    p.personid = id;
    p.persontype = 1;
    p.accountstatus = 1;
    p.name = QStringLiteral("5byg5LiJ");
    p.group = QStringLiteral("1");
    p.iden = QStringLiteral("110101199001011234");
    p.mobil = QStringLiteral("13800000000");
    p.password = QStringLiteral("123456");
    p.regtime = 1700000000;
    p.voliditystart = 1700000000;
    p.volidityend = 1900000000;
    return p;
}

// Runs the command made for each run index and prints the mean time per command.
bool measure(const char *what, int runs, const std::function<QString(int)> &command,
    const std::function<bool(const QString &)> &replyIsRight)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < runs; ++i) {
        Sqlite store;
        const QString reply = store.dbus_pro(command(i));
        if (!replyIsRight(reply)) {
            std::fprintf(stderr, "storebench: %s: unexpected reply %s\n", what,
                qUtf8Printable(reply.left(80)));
            return false;
        }
    }
    const double ms = double(timer.nsecsElapsed()) / 1e6 / runs;
    std::printf("%-52s %9.3f ms per command (%d runs)\n", what, ms, runs);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int persons = 10000;
    const int records = 100000;
    const int runs = argc > 1 ? QByteArray(argv[1]).toInt() : 200;
    QTemporaryDir dir;
    if (runs <= 0 || !dir.isValid() || !QDir::setCurrent(dir.path()) || !Sqlite::Init())
        return 1;

    if (!fill("access_database.db", "person", persons,
            [](quint32 id) { return records::person_to_str_db(person(id)); }))
        return 1;
    if (!fill("record_database.db", "record", records, [](quint32 id) {
            RecordStruct r;
            r.recordid = id;
            r.personid = id % persons;
            r.cardid = QStringLiteral("12345678");
            r.time = 1700000000 + id;
            r.doornum = id % 4;
            return records::record_to_str_db(r);
        }))
        return 1;

    const auto ok = [](const QString &reply) { return reply == QLatin1String("0"); };
    const auto data = [](const QString &reply) { return reply.startsWith(QLatin1String("0.")); };
    const quint32 stride = 7919; // spreads the keys over the whole table
    bool done = measure(
        "replace a person (1.3) among 10,000", runs,
        [&](int i) {
            return QStringLiteral("1.3.")
                + records::person_to_str(person(quint32(i) * stride % persons));
        },
        ok);
    done = done
        && measure(
            "fetch a person by key (1.4) among 10,000", runs,
            [&](int i) { return QStringLiteral("1.4.%1").arg(quint32(i) * stride % persons); },
            data);
    done = done
        && measure(
            "page of 100 records (3.5) among 100,000", runs,
            [&](int i) {
                return QStringLiteral("3.5.%1.100").arg(quint32(i) * stride % (records - 100));
            },
            data);
    done = done
        && measure(
            "record-number range of 100 (3.6) among 100,000", runs,
            [&](int i) {
                const quint32 low = quint32(i) * stride % (records - 100);
                return QStringLiteral("3.6.%1.%2")
                    .arg(QString::number(low), QString::number(low + 99));
            },
            data);
    QDir::setCurrent(QDir::rootPath());
    return done ? 0 : 1;
}
