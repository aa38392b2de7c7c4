// The store command language on a scratch database: every input line is one command, run as
// the command handlers run them (a fresh Sqlite object each). Each input starts from the same
// empty store, copied in from databases made once, so a saved input does again what it did.
// Checked: every reply has the language's form; a reply row has exactly its table's columns; a
// healthy store never fails a record write or a card search; and a record written reads back as
// the same record, unless it has a text that a column of numeric affinity does not keep (which
// the command handlers refuse), so the fuzzer checks that judgement too.

#include "fuzzsupport.h"

#include "recordkinds.h"
#include "store/sqlite.h"
#include "store/storetext.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>

using namespace records;

namespace {

const char *const databases[] = {"access_database.db", "record_database.db"};
// More commands an input find more, but every one opens its database afresh.
const int commandsPerInput = 8;

QString pristine(const char *database)
{
    return QStringLiteral("pristine-") + QLatin1String(database);
}

// Each database is replaced by a copy of its pristine one, made beside it and renamed over it:
// the copy is a new file while the old one still exists, so the store, which keeps its
// connection to a file until that file is replaced, always notices.
void resetStore()
{
    for (const char *database : databases) {
        const QString name = QLatin1String(database);
        const QString copy = name + QStringLiteral(".next");
        FUZZ_CHECK(QFile::copy(pristine(database), copy));
        FUZZ_CHECK(std::rename(QFile::encodeName(copy).constData(), database) == 0);
    }
    FUZZ_CHECK(!QFile::exists(QStringLiteral("sqlconfig.ini"))
        || QFile::remove(QStringLiteral("sqlconfig.ini")));
}

QString run(const QString &command)
{
    Sqlite store;
    return store.dbus_pro(command);
}

// A reply row has exactly its table's columns.
void checkRows(const QString &rows, quint8 table, bool single)
{
    int columns = 0;
    recordkinds::withKind(
        table, [&columns](auto, auto, auto, auto count) { columns = count.columns; });
    QStringList list = rows.split(QLatin1Char(','));
    if (single) {
        FUZZ_CHECK(list.size() == 1);
    } else {
        FUZZ_CHECK(list.size() >= 2 && list.last().isEmpty());
        list.removeLast();
    }
    for (const QString &row : list)
        FUZZ_CHECK(row.count(QLatin1Char('|')) == columns - 1);
}

// Whether every text of a record that sits in a column of numeric affinity (time zone
// "interval1", holiday and special day "daytime") is one that such a column keeps as it stands;
// the command handlers refuse the others.
struct KeptByColumns
{
    bool kept = true;
    void number(const char *, quint32 &) { }
    void quotedNumber(const char *, quint32 &) { }
    void text(const char *, QString &) { }
    void numericText(const char *, QString &t) { kept = kept && storetext::keptByNumericColumn(t); }
    void sqlOnlyText(const char *, QString &) { }
};

// The row of the record just written, fetched by its key (the first keyFields fields: the door
// settings have two), is the record again.
template<class R>
void checkReadBack(quint8 table, const QString &text, int keyFields, R (*fromStr)(const QString &),
    QString (*toStr)(R), QString (*toStrDb)(R))
{
    R record = fromStr(text);
    KeptByColumns columns;
    fields(record, columns);
    if (!columns.kept)
        return;
    const QString key = toStr(record).section(QLatin1Char('|'), 0, keyFields - 1);
    const QString reply = run(QStringLiteral("%1.4.").arg(table)
        + QString(key).replace(QLatin1Char('|'), QLatin1Char('.')));
    FUZZ_CHECK(reply.startsWith(QLatin1String("0.")));
    FUZZ_CHECK(toStrDb(fromStr(reply.mid(2))) == toStrDb(record));
}

// The records table numbers its records itself, so only the other tables are read back; the
// door settings have two key fields.
void checkWritten(quint8 table, const QString &text)
{
    if (table == 3)
        return;
    recordkinds::withKind(table, [&](auto fromStr, auto toStr, auto toStrDb, auto) {
        checkReadBack(table, text, table == 5 ? 2 : 1, fromStr, toStr, toStrDb);
    });
}

void checkCommand(const QString &command)
{
    const QStringList fields = command.split(QLatin1Char('.'));
    const quint8 table = quint8(storetext::toNumber(fields.value(0)));
    const quint8 operation = quint8(storetext::toNumber(fields.value(1)));
    const QString reply = run(command);

    if (table == 20 && operation == 4)
        return; // the setting's value, bare
    if (table == 80 || table == 81) {
        // Twelve counts, one, or none for an unknown count.
        const int counts = table == 80 ? 12 : (operation >= 1 && operation <= 12 ? 1 : 0);
        FUZZ_CHECK(reply.startsWith(QLatin1String("0.")));
        const QStringList numbers = reply.mid(2).split(QLatin1Char('.'), Qt::SkipEmptyParts);
        FUZZ_CHECK(numbers.size() == counts);
        for (const QString &number : numbers)
            FUZZ_CHECK(number == QString::number(storetext::toNumber(number)));
        return;
    }
    if (reply == QLatin1String("1") || reply == QLatin1String("2"))
        return;
    if (reply == QLatin1String("0") || reply == QLatin1String("3")) {
        // Only a setting without a key is refused by a healthy store.
        FUZZ_CHECK(reply == QLatin1String("0")
            || (table == 20 && storetext::decode(fields.value(2)).isEmpty()));
        if (operation == 3 && reply == QLatin1String("0"))
            checkWritten(table, fields.value(2));
        return;
    }
    FUZZ_CHECK(reply.startsWith(QLatin1String("0.")));
    const QString rows = reply.mid(2);
    FUZZ_CHECK(rows != QLatin1String("openf") && rows != QLatin1String("sqlcmdfailed"));
    // A fetch by key answers one row without its ","; every other read, rows each ended by ",".
    checkRows(rows, table, operation == 4);
}

// The working directory, made on the first input: a scratch directory (in memory where there is
// a memory file system: every command opens and syncs its database) with the pristine databases.
bool makeStore()
{
    static QTemporaryDir scratch;
    FUZZ_CHECK(scratch.isValid() && QDir::setCurrent(scratch.path()));
    FUZZ_CHECK(Sqlite::Init());
    for (const char *database : databases)
        FUZZ_CHECK(QFile::rename(QLatin1String(database), pristine(database)));
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool made = makeStore();
    Q_UNUSED(made);
    resetStore();
    const QString input = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const QStringList commands = input.split(QLatin1Char('\n'));
    for (int i = 0; i < commands.size() && i < commandsPerInput; ++i)
        checkCommand(commands.at(i));
    return 0;
}
