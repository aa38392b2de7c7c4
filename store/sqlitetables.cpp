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

namespace {

// Record inserts that fail are tried this many times in all before the record is given up.
const int recordInsertAttempts = 5;

QString number(quint32 value)
{
    return QString::number(value);
}

QString keyIs(const char *column, quint32 key)
{
    return QStringLiteral("%1 = %2").arg(QLatin1String(column), number(key));
}

QString doorKeyIs(quint32 doornum, quint32 direction)
{
    return QStringLiteral("Doornum = %1 and Direction =%2").arg(number(doornum), number(direction));
}

QString selectWhere(const char *table, const QString &condition)
{
    return QStringLiteral("select * from %1 where %2").arg(QLatin1String(table), condition);
}

QString page(const char *table, const char *order, quint32 offset, quint32 count)
{
    return QStringLiteral("select * from %1 order by %2 limit %3,%4")
        .arg(QLatin1String(table), QLatin1String(order), number(offset), number(count));
}

QString countOf(const char *table)
{
    return QStringLiteral("select count(*) from %1").arg(QLatin1String(table));
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

bool Sqlite::clear_person()
{
    return clear_note(QStringLiteral("person")) == 0;
}

bool Sqlite::delete_person_by_personid(quint32 personid)
{
    return delete_note(QStringLiteral("person"), QStringLiteral("personid"), number(personid)) == 0;
}

bool Sqlite::update_person(PersonStruct record)
{
    return replace_note(
        QStringLiteral("person"), keyIs("personid", record.personid), person_to_str_db(record));
}

quint32 Sqlite::get_person_count()
{
    return firstNumber(get_note(countOf("person")));
}

QString Sqlite::get_person_by_personid(quint32 personid)
{
    return firstRow(get_note(selectWhere("person", keyIs("Personid", personid))));
}

QString Sqlite::get_person_index(quint32 offset, quint32 count)
{
    return get_note(page("person", "Personid", offset, count));
}

bool Sqlite::clear_cardid()
{
    return clear_note(QStringLiteral("cardid")) == 0;
}

bool Sqlite::delete_cardid_by_personid(quint32 personid)
{
    return delete_note(QStringLiteral("cardid"), QStringLiteral("personid"), number(personid)) == 0;
}

bool Sqlite::update_cardid(CardidStruct record)
{
    return replace_note(
        QStringLiteral("cardid"), keyIs("personid", record.personid), cardid_to_str_db(record));
}

quint32 Sqlite::get_cardid_count()
{
    return firstNumber(get_note(countOf("cardid")));
}

QString Sqlite::get_cardid_by_personid(quint32 personid)
{
    return firstRow(get_note(selectWhere("cardid", keyIs("Personid", personid))));
}

QString Sqlite::get_cardid_index(quint32 offset, quint32 count)
{
    return get_note(page("cardid", "Personid", offset, count));
}

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
    return clear_note_re(QStringLiteral("record")) == 0;
}

bool Sqlite::delete_record_by_recordid(quint32 recordid)
{
    return delete_note_re(QStringLiteral("record"), QStringLiteral("recordid"), number(recordid))
        == 0;
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
    return firstNumber(get_note_re(countOf("record")));
}

QString Sqlite::get_record_by_recordid(quint32 recordid)
{
    return firstRow(get_note_re(selectWhere("record", keyIs("recordid", recordid))));
}

QString Sqlite::get_record_index(quint32 offset, quint32 count)
{
    return get_note_re(page("record", "Recordid", offset, count));
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
        "record", keyIs("Personid", personid) + QStringLiteral(" order by Time desc limit 1")));
}

// The person's newest record by Time with that result code, or an empty text.
QString Sqlite::get_record_by_personid_resultcode_last(quint32 personid, quint32 resultcode)
{
    return get_note_re(selectWhere("record",
        keyIs("Personid", personid) + QStringLiteral(" and ") + keyIs("Resultcode", resultcode)
            + QStringLiteral(" order by Time desc limit 1")));
}

quint32 Sqlite::get_recordid_min()
{
    return firstNumber(get_note_re(QStringLiteral("select min(Recordid) from record")));
}

quint32 Sqlite::get_recordid_max()
{
    return firstNumber(get_note_re(QStringLiteral("select max(Recordid) from record")));
}

bool Sqlite::clear_permit()
{
    return clear_note(QStringLiteral("permit")) == 0;
}

bool Sqlite::delete_permit_by_permitrank(quint32 permitrank)
{
    return delete_note(QStringLiteral("permit"), QStringLiteral("permitrank"), number(permitrank))
        == 0;
}

bool Sqlite::update_permit(PermitStruct record)
{
    return replace_note(
        QStringLiteral("permit"), keyIs("permitrank", record.permitrank), permit_to_str_db(record));
}

quint32 Sqlite::get_permit_count()
{
    return firstNumber(get_note(countOf("permit")));
}

QString Sqlite::get_permit_by_permitrank(quint32 permitrank)
{
    return firstRow(get_note(selectWhere("permit", keyIs("Permitrank", permitrank))));
}

QString Sqlite::get_permit_index(quint32 offset, quint32 count)
{
    return get_note(page("permit", "Permitrank", offset, count));
}

bool Sqlite::clear_doorset()
{
    return clear_note(QStringLiteral("doorset")) == 0;
}

bool Sqlite::delete_doorset_by_doornum_direction(quint32 doornum, quint32 direction)
{
    return delete_note_two_codition(QStringLiteral("doorset"), QStringLiteral("doornum"),
               number(doornum), QStringLiteral("direction"), number(direction))
        == 0;
}

bool Sqlite::update_doorset(DoorSetStruct record)
{
    return replace_note(QStringLiteral("doorset"), doorKeyIs(record.doornum, record.direction),
        doorset_to_str_db(record));
}

quint32 Sqlite::get_doorset_count()
{
    return firstNumber(get_note(countOf("doorset")));
}

QString Sqlite::get_doorset_by_doornum_direction(quint32 doornum, quint32 direction)
{
    return firstRow(get_note(selectWhere("doorset", doorKeyIs(doornum, direction))));
}

QString Sqlite::get_doorset_index(quint32 offset, quint32 count)
{
    return get_note(page("doorset", "Doornum,Direction", offset, count));
}

bool Sqlite::clear_warrant()
{
    return clear_note(QStringLiteral("warrant")) == 0;
}

bool Sqlite::delete_warrant_by_warrantid(quint32 warrantid)
{
    return delete_note(QStringLiteral("warrant"), QStringLiteral("warrantid"), number(warrantid))
        == 0;
}

bool Sqlite::update_warrant(WarrantStruct record)
{
    return replace_note(
        QStringLiteral("warrant"), keyIs("warrantid", record.warrantid), warrant_to_str_db(record));
}

quint32 Sqlite::get_warrant_count()
{
    return firstNumber(get_note(countOf("warrant")));
}

QString Sqlite::get_warrant_by_warrantid(quint32 warrantid)
{
    return firstRow(get_note(selectWhere("warrant", keyIs("Warrantid", warrantid))));
}

QString Sqlite::get_warrant_index(quint32 offset, quint32 count)
{
    return get_note(page("warrant", "Warrantid", offset, count));
}

// Warrants of the group for that door, direction and type.
QString Sqlite::get_warrant_by_gdd(
    quint32 groupid, quint32 type, quint32 doornum, quint32 direction)
{
    return get_note(selectWhere("warrant",
        QStringLiteral("Groupid = %1 and Doornum = %2 and Direction =%3 and Type = %4")
            .arg(number(groupid), number(doornum), number(direction), number(type))));
}

bool Sqlite::clear_timezone()
{
    return clear_note(QStringLiteral("timezone")) == 0;
}

bool Sqlite::delete_timezone_by_timezoneid(quint32 timezoneid)
{
    return delete_note(QStringLiteral("timezone"), QStringLiteral("timezoneid"), number(timezoneid))
        == 0;
}

bool Sqlite::update_timezone(TimezoneStruct record)
{
    return replace_note(QStringLiteral("timezone"), keyIs("timezoneid", record.timezoneid),
        timezone_to_str_db(record));
}

quint32 Sqlite::get_timezone_count()
{
    return firstNumber(get_note(countOf("timezone")));
}

QString Sqlite::get_timezone_by_timezoneid(quint32 timezoneid)
{
    return firstRow(get_note(selectWhere("timezone", keyIs("Timezoneid", timezoneid))));
}

QString Sqlite::get_timezone_index(quint32 offset, quint32 count)
{
    return get_note(page("timezone", "Timezoneid", offset, count));
}

bool Sqlite::clear_holiday()
{
    return clear_note(QStringLiteral("holiday")) == 0;
}

bool Sqlite::delete_holiday_by_holidayid(quint32 holidayid)
{
    return delete_note(QStringLiteral("holiday"), QStringLiteral("holidayid"), number(holidayid))
        == 0;
}

bool Sqlite::update_holiday(HolidayStruct record)
{
    return replace_note(
        QStringLiteral("holiday"), keyIs("holidayid", record.holidayid), holiday_to_str_db(record));
}

quint32 Sqlite::get_holiday_count()
{
    return firstNumber(get_note(countOf("holiday")));
}

QString Sqlite::get_holiday_by_holidayid(quint32 holidayid)
{
    return firstRow(get_note(selectWhere("holiday", keyIs("Holidayid", holidayid))));
}

QString Sqlite::get_holiday_index(quint32 offset, quint32 count)
{
    return get_note(page("holiday", "holidayid", offset, count));
}

bool Sqlite::clear_specialday()
{
    return clear_note(QStringLiteral("specialday")) == 0;
}

bool Sqlite::delete_specialday_by_specialdayid(quint32 specialdayid)
{
    return delete_note(
               QStringLiteral("specialday"), QStringLiteral("specialdayid"), number(specialdayid))
        == 0;
}

bool Sqlite::update_specialday(SpecialdayStruct record)
{
    return replace_note(QStringLiteral("specialday"), keyIs("specialdayid", record.specialdayid),
        specialday_to_str_db(record));
}

quint32 Sqlite::get_specialday_count()
{
    return firstNumber(get_note(countOf("specialday")));
}

QString Sqlite::get_specialday_by_specialdayid(quint32 specialdayid)
{
    return firstRow(get_note(selectWhere("specialday", keyIs("Specialdayid", specialdayid))));
}

QString Sqlite::get_specialday_index(quint32 offset, quint32 count)
{
    return get_note(page("specialday", "specialdayid", offset, count));
}

bool Sqlite::clear_stay()
{
    return clear_note(QStringLiteral("stay")) == 0;
}

bool Sqlite::delete_stay_by_stayid(quint32 stayid)
{
    return delete_note(QStringLiteral("stay"), QStringLiteral("stayid"), number(stayid)) == 0;
}

bool Sqlite::update_stay(StayStruct record)
{
    return replace_note(
        QStringLiteral("stay"), keyIs("stayid", record.stayid), stay_to_str_db(record));
}

quint32 Sqlite::get_stay_count()
{
    return firstNumber(get_note(countOf("stay")));
}

QString Sqlite::get_stay_by_stayid(quint32 stayid)
{
    return firstRow(get_note(selectWhere("stay", keyIs("Stayid", stayid))));
}

QString Sqlite::get_stay_index(quint32 offset, quint32 count)
{
    return get_note(page("stay", "stayid", offset, count));
}
