#include "store/sqlite.h"

#include "store/storetext.h"

#include <QMutex>

using namespace records;

// Every table has the same family of operations:
//   clear_*, delete_*_by_*, update_*  true when the database took the change; update_* replaces
//                                     the rows of the record's key in one transaction;
//   get_*_count                       the number of rows, 0 when the table cannot be read;
//   get_*_by_*                        the first row with that key, without its ","; empty if none;
//   get_*_index                       rows offset+1 .. offset+count in key order, each followed
//                                     by ","; empty if none.
// Row values are encoded as storetext.h describes.

// What tells one table of the family from another.
struct StoreTable
{
    const char *name;
    bool recordFile; // in "record_database.db", reached through the "_re" runners
    const char *keyColumn; // as delete and replace name the key
    const char *keyColumn2; // the door settings' second key column; null elsewhere
    const char *fetchWhere; // condition of the fetch by key: the key as %1 (the second as %2)
    const char *pageOrder;
};

namespace {

const StoreTable personTable = {"person", false, "personid", nullptr, "Personid = %1", "Personid"};
const StoreTable cardidTable = {"cardid", false, "personid", nullptr, "Personid = %1", "Personid"};
const StoreTable recordTable = {"record", true, "recordid", nullptr, "recordid = %1", "Recordid"};
const StoreTable permitTable
    = {"permit", false, "permitrank", nullptr, "Permitrank = %1", "Permitrank"};
const StoreTable doorsetTable = {"doorset", false, "doornum", "direction",
    "Doornum = %1 and Direction =%2", "Doornum,Direction"};
const StoreTable warrantTable
    = {"warrant", false, "warrantid", nullptr, "Warrantid = %1", "Warrantid"};
const StoreTable timezoneTable
    = {"timezone", false, "timezoneid", nullptr, "Timezoneid = %1", "Timezoneid"};
const StoreTable holidayTable
    = {"holiday", false, "holidayid", nullptr, "Holidayid = %1", "holidayid"};
const StoreTable specialdayTable
    = {"specialday", false, "specialdayid", nullptr, "Specialdayid = %1", "specialdayid"};
const StoreTable stayTable = {"stay", false, "stayid", nullptr, "Stayid = %1", "stayid"};

// Record inserts that fail are tried this many times in all before the record is given up.
const int recordInsertAttempts = 5;

QString number(quint32 value)
{
    return QString::number(value);
}

QString selectWhere(const char *table, const QString &condition)
{
    return QStringLiteral("select * from %1 where %2").arg(QLatin1String(table), condition);
}

// The first row of a result text, without its ","; values inside it are encoded, so the first
// "," ends the row.
QString firstRow(const QString &rows)
{
    return rows.left(rows.indexOf(QLatin1Char(',')));
}

quint32 firstNumber(const QString &rows)
{
    return storetext::toNumber(firstRow(rows));
}

} // namespace

bool Sqlite::clearTable(const StoreTable &table)
{
    const QString name = QLatin1String(table.name);
    return (table.recordFile ? clear_note_re(name) : clear_note(name)) == 0;
}

bool Sqlite::deleteByKey(const StoreTable &table, quint32 key, quint32 key2)
{
    const QString name = QLatin1String(table.name);
    const QString column = QLatin1String(table.keyColumn);
    if (table.keyColumn2) {
        return delete_note_two_codition(
                   name, column, number(key), QLatin1String(table.keyColumn2), number(key2))
            == 0;
    }
    return (table.recordFile ? delete_note_re(name, column, number(key))
                             : delete_note(name, column, number(key)))
        == 0;
}

bool Sqlite::replaceByKey(const StoreTable &table, quint32 key, quint32 key2, const QString &values)
{
    const QString column2 = table.keyColumn2 ? QLatin1String(table.keyColumn2) : QString();
    return replace_note(QLatin1String(table.name), QLatin1String(table.keyColumn), number(key),
        column2, table.keyColumn2 ? number(key2) : QString(), values);
}

quint32 Sqlite::countRows(const StoreTable &table)
{
    return firstNumber(
        rowsOf(table, QStringLiteral("select count(*) from %1").arg(QLatin1String(table.name))));
}

QString Sqlite::fetchByKey(const StoreTable &table, quint32 key, quint32 key2)
{
    // The keys are digits, so filling %1 first cannot create a %2.
    QString condition = QString::fromLatin1(table.fetchWhere).arg(number(key));
    if (table.keyColumn2)
        condition = condition.arg(number(key2));
    return firstRow(rowsOf(table, selectWhere(table.name, condition)));
}

QString Sqlite::fetchPage(const StoreTable &table, quint32 offset, quint32 count)
{
    return rowsOf(table,
        QStringLiteral("select * from %1 order by %2 limit %3,%4")
            .arg(QLatin1String(table.name), QLatin1String(table.pageOrder), number(offset),
                number(count)));
}

QString Sqlite::rowsOf(const StoreTable &table, const QString &sql)
{
    return table.recordFile ? get_note_re(sql) : get_note(sql);
}

// The family of the tables with one key column, named after the table and its key field.
#define DORX_TABLE_OPERATIONS(kind, Type, key)                                                     \
    bool Sqlite::clear_##kind()                                                                    \
    {                                                                                              \
        return clearTable(kind##Table);                                                            \
    }                                                                                              \
    bool Sqlite::delete_##kind##_by_##key(quint32 key)                                             \
    {                                                                                              \
        return deleteByKey(kind##Table, key);                                                      \
    }                                                                                              \
    bool Sqlite::update_##kind(Type record)                                                        \
    {                                                                                              \
        return replaceByKey(kind##Table, record.key, 0, kind##_to_str_db(record));                 \
    }                                                                                              \
    quint32 Sqlite::get_##kind##_count()                                                           \
    {                                                                                              \
        return countRows(kind##Table);                                                             \
    }                                                                                              \
    QString Sqlite::get_##kind##_by_##key(quint32 key)                                             \
    {                                                                                              \
        return fetchByKey(kind##Table, key);                                                       \
    }                                                                                              \
    QString Sqlite::get_##kind##_index(quint32 offset, quint32 count)                              \
    {                                                                                              \
        return fetchPage(kind##Table, offset, count);                                              \
    }

DORX_TABLE_OPERATIONS(person, PersonStruct, personid)
DORX_TABLE_OPERATIONS(cardid, CardidStruct, personid)
DORX_TABLE_OPERATIONS(permit, PermitStruct, permitrank)
DORX_TABLE_OPERATIONS(warrant, WarrantStruct, warrantid)
DORX_TABLE_OPERATIONS(timezone, TimezoneStruct, timezoneid)
DORX_TABLE_OPERATIONS(holiday, HolidayStruct, holidayid)
DORX_TABLE_OPERATIONS(specialday, SpecialdayStruct, specialdayid)
DORX_TABLE_OPERATIONS(stay, StayStruct, stayid)

#undef DORX_TABLE_OPERATIONS

// Every card row whose number contains the text as it stands (ASCII letters in either case);
// "openf" or "sqlcmdfailed" when the store cannot answer.
QString Sqlite::find_cardid_by_cardid(const QString &text)
{
    return get_note_card(selectWhere(
        "cardid", QStringLiteral("Cardid like %1 escape '\\'").arg(storetext::likeContains(text))));
}

// Every card row whose fingerprint identifier contains the text as it stands.
QString Sqlite::find_cardid_by_fingerid(const QString &text)
{
    return get_note(selectWhere("cardid",
        QStringLiteral("Fingerid like %1 escape '\\'").arg(storetext::likeContains(text))));
}

bool Sqlite::clear_record()
{
    return clearTable(recordTable);
}

bool Sqlite::delete_record_by_recordid(quint32 recordid)
{
    return deleteByKey(recordTable, recordid);
}

// Adds the record under the next number of the "RECORDID" counter, whatever number it carries,
// and answers that number. The counter moves on before the insert, so a number is never given
// twice even when the insert fails; *ok tells whether the record was stored.
quint32 Sqlite::update_record(RecordStruct record, bool *ok)
{
    // Reading and moving on the counter is one step for every store object of the process.
    static QMutex counterLock;
    const QMutexLocker locker(&counterLock);
    const QString next = read_userset(QStringLiteral("RECORDID"));
    record.recordid = storetext::toNumber(next);
    bool stored = write_userset(QStringLiteral("RECORDID"), number(record.recordid + 1));
    if (stored) {
        const QString values = record_to_str_db(record);
        stored = false;
        for (int attempt = 0; attempt < recordInsertAttempts && !stored; ++attempt)
            stored = add_note_re(QStringLiteral("record"), values) == 0;
    }
    if (ok)
        *ok = stored;
    return record.recordid;
}

quint32 Sqlite::get_record_count()
{
    return countRows(recordTable);
}

QString Sqlite::get_record_by_recordid(quint32 recordid)
{
    return fetchByKey(recordTable, recordid);
}

QString Sqlite::get_record_index(quint32 offset, quint32 count)
{
    return fetchPage(recordTable, offset, count);
}

// Records numbered from lowest to highest, both included.
QString Sqlite::get_record_index_id(quint32 lowest, quint32 highest)
{
    return get_note_re(selectWhere("record",
        QStringLiteral("Recordid>=%1 and Recordid<=%2").arg(number(lowest), number(highest))));
}

// The person's newest record by Time, or an empty text.
QString Sqlite::get_record_by_personid_last(quint32 personid)
{
    return get_note_re(selectWhere(
        "record", QStringLiteral("Personid = %1 order by Time desc limit 1").arg(personid)));
}

// The person's newest record by Time with that result code, or an empty text.
QString Sqlite::get_record_by_personid_resultcode_last(quint32 personid, quint32 resultcode)
{
    return get_note_re(selectWhere("record",
        QStringLiteral("Personid = %1 and Resultcode = %2 order by Time desc limit 1")
            .arg(number(personid), number(resultcode))));
}

quint32 Sqlite::get_recordid_min()
{
    return firstNumber(get_note_re(QStringLiteral("select min(Recordid) from record")));
}

quint32 Sqlite::get_recordid_max()
{
    return firstNumber(get_note_re(QStringLiteral("select max(Recordid) from record")));
}

bool Sqlite::clear_doorset()
{
    return clearTable(doorsetTable);
}

bool Sqlite::delete_doorset_by_doornum_direction(quint32 doornum, quint32 direction)
{
    return deleteByKey(doorsetTable, doornum, direction);
}

bool Sqlite::update_doorset(DoorSetStruct record)
{
    return replaceByKey(doorsetTable, record.doornum, record.direction, doorset_to_str_db(record));
}

quint32 Sqlite::get_doorset_count()
{
    return countRows(doorsetTable);
}

QString Sqlite::get_doorset_by_doornum_direction(quint32 doornum, quint32 direction)
{
    return fetchByKey(doorsetTable, doornum, direction);
}

QString Sqlite::get_doorset_index(quint32 offset, quint32 count)
{
    return fetchPage(doorsetTable, offset, count);
}

// Warrants of the group for that door, direction and type.
QString Sqlite::get_warrant_by_gdd(
    quint32 groupid, quint32 type, quint32 doornum, quint32 direction)
{
    return get_note(selectWhere("warrant",
        QStringLiteral("Groupid = %1 and Doornum = %2 and Direction =%3 and Type = %4")
            .arg(number(groupid), number(doornum), number(direction), number(type))));
}
