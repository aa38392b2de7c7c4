// Times the store as the command handlers use it, through its command language: a replace and a
// fetch by key in a table of persons, and a page and a record-number range in a large record
// table. The tables are filled directly in one transaction each, as only the timed commands
// matter. Runs in a temporary directory that it removes afterwards.

#include "benchdata.h"
#include "store/sqlite.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

namespace {

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

    if (!fill(QStringLiteral("access_database.db"), "person", persons,
            [](quint32 id) { return records::person_to_str_db(benchPerson(id)); }))
        return 1;
    if (!fill(QStringLiteral("record_database.db"), "record", records,
            [](quint32 id) { return records::record_to_str_db(benchRecord(id, persons)); }))
        return 1;

    const auto ok = [](const QString &reply) { return reply == QLatin1String("0"); };
    const auto data = [](const QString &reply) { return reply.startsWith(QLatin1String("0.")); };
    const quint32 stride = 7919; // spreads the keys over the whole table
    bool done = measure(
        "replace a person (1.3) among 10,000", runs,
        [&](int i) {
            return QStringLiteral("1.3.")
                + records::person_to_str(benchPerson(quint32(i) * stride % persons));
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
