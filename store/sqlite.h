#pragma once

#include "store/records.h"

#include <QObject>
#include <QString>

struct StoreTable;

// The access-control data store: "access_database.db" (persons, cards, permits, door settings,
// warrants, time zones, holidays, special days, stays) and "record_database.db" (access records),
// both in the working directory, plus the store's settings in "sqlconfig.ini".
//
// Every operation reaches its file through sqlconnection (one connection helper for every
// database of the server), so objects of this class on different threads do not disturb each
// other. A database that cannot be opened or stays locked by another process is waited for about
// five seconds, then the operation fails and the reason goes to the log.
class Sqlite : public QObject
{
    Q_OBJECT
public:
    explicit Sqlite(QObject *parent = nullptr);

    static bool Init();

    // Statement runners; "_re" ones work on the record database. Writers answer 0 or -2.
    QString database_cmd(const QString &sql);
    QString database_cmd_re(const QString &sql);
    int clear_note(const QString &table);
    int clear_note_re(const QString &table);
    int delete_note(const QString &table, const QString &column, const QString &value);
    int delete_note_re(const QString &table, const QString &column, const QString &value);
    int delete_note_two_codition(const QString &table, const QString &column1,
        const QString &value1, const QString &column2, const QString &value2);
    int delete_note_two_codition_re(const QString &table, const QString &column1,
        const QString &value1, const QString &column2, const QString &value2);
    int add_note(const QString &table, const QString &values);
    int add_note_re(const QString &table, const QString &values);
    QString get_note(const QString &sql);
    QString get_note_re(const QString &sql);
    QString get_note_card(const QString &sql);

    static bool write_userset(const QString &key, const QString &value);
    static QString read_userset(const QString &key);
    static bool write_settings_file(const QString &file, const QString &key, const QString &value);
    static QString read_settings_file(const QString &file, const QString &key);

    // Typed table operations. Writers answer true when the database took the change.
    bool clear_person();
    bool delete_person_by_personid(quint32 personid);
    bool update_person(PersonStruct record);
    quint32 get_person_count();
    QString get_person_by_personid(quint32 personid);
    QString get_person_index(quint32 offset, quint32 count);

    bool clear_cardid();
    bool delete_cardid_by_personid(quint32 personid);
    bool update_cardid(CardidStruct record);
    quint32 get_cardid_count();
    QString get_cardid_by_personid(quint32 personid);
    QString get_cardid_index(quint32 offset, quint32 count);
    QString find_cardid_by_cardid(const QString &text);
    QString find_cardid_by_fingerid(const QString &text);

    bool clear_record();
    bool delete_record_by_recordid(quint32 recordid);
    quint32 update_record(RecordStruct record, bool *ok = nullptr);
    quint32 get_record_count();
    QString get_record_by_recordid(quint32 recordid);
    QString get_record_index(quint32 offset, quint32 count);
    QString get_record_index_id(quint32 lowest, quint32 highest);
    QString get_record_by_personid_last(quint32 personid);
    QString get_record_by_personid_resultcode_last(quint32 personid, quint32 resultcode);
    quint32 get_recordid_min();
    quint32 get_recordid_max();

    bool clear_permit();
    bool delete_permit_by_permitrank(quint32 permitrank);
    bool update_permit(PermitStruct record);
    quint32 get_permit_count();
    QString get_permit_by_permitrank(quint32 permitrank);
    QString get_permit_index(quint32 offset, quint32 count);

    bool clear_doorset();
    bool delete_doorset_by_doornum_direction(quint32 doornum, quint32 direction);
    bool update_doorset(DoorSetStruct record);
    quint32 get_doorset_count();
    QString get_doorset_by_doornum_direction(quint32 doornum, quint32 direction);
    QString get_doorset_index(quint32 offset, quint32 count);

    bool clear_warrant();
    bool delete_warrant_by_warrantid(quint32 warrantid);
    bool update_warrant(WarrantStruct record);
    quint32 get_warrant_count();
    QString get_warrant_by_warrantid(quint32 warrantid);
    QString get_warrant_index(quint32 offset, quint32 count);
    QString get_warrant_by_gdd(quint32 groupid, quint32 type, quint32 doornum, quint32 direction);

    bool clear_timezone();
    bool delete_timezone_by_timezoneid(quint32 timezoneid);
    bool update_timezone(TimezoneStruct record);
    quint32 get_timezone_count();
    QString get_timezone_by_timezoneid(quint32 timezoneid);
    QString get_timezone_index(quint32 offset, quint32 count);

    bool clear_holiday();
    bool delete_holiday_by_holidayid(quint32 holidayid);
    bool update_holiday(HolidayStruct record);
    quint32 get_holiday_count();
    QString get_holiday_by_holidayid(quint32 holidayid);
    QString get_holiday_index(quint32 offset, quint32 count);

    bool clear_specialday();
    bool delete_specialday_by_specialdayid(quint32 specialdayid);
    bool update_specialday(SpecialdayStruct record);
    quint32 get_specialday_count();
    QString get_specialday_by_specialdayid(quint32 specialdayid);
    QString get_specialday_index(quint32 offset, quint32 count);

    bool clear_stay();
    bool delete_stay_by_stayid(quint32 stayid);
    bool update_stay(StayStruct record);
    quint32 get_stay_count();
    QString get_stay_by_stayid(quint32 stayid);
    QString get_stay_index(quint32 offset, quint32 count);

    // The store command language (see sqlitecommand.cpp).
    QString dbus_pro(const QString &command);
    QString dbus_pro_pra(const QString &command);

private:
    bool replace_note(const QString &table, const QString &column1, const QString &value1,
        const QString &column2, const QString &value2, const QString &values);

    // One implementation of the family every table has; the named operations above pick the
    // table. key2 is the direction of the door settings and ignored elsewhere.
    bool clearTable(const StoreTable &table);
    bool deleteByKey(const StoreTable &table, quint32 key, quint32 key2 = 0);
    bool replaceByKey(const StoreTable &table, quint32 key, quint32 key2, const QString &values);
    quint32 countRows(const StoreTable &table);
    QString fetchByKey(const StoreTable &table, quint32 key, quint32 key2 = 0);
    QString fetchPage(const StoreTable &table, quint32 offset, quint32 count);
    QString rowsOf(const StoreTable &table, const QString &sql);
};
