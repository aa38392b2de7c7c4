#pragma once

#include <QString>

// The ten access-control record kinds. Members stand in the order of their table's columns
// (StayStruct excepted: its fgzrflag is the last column). Numbers are unsigned 32-bit, texts are
// kept exactly as received.

struct PersonStruct
{
    quint32 personid = 0;
    quint32 persontype = 0;
    quint32 accountstatus = 0;
    QString name; // the Base64 text the client sends
    QString group;
    QString iden;
    QString mobil;
    QString password;
    quint32 regtime = 0;
    quint32 voliditystart = 0;
    quint32 volidityend = 0;
    QString form1;
    QString form2;
};

struct CardidStruct
{
    quint32 personid = 0;
    QString cardid;
    QString fingerid;
    QString xp;
    QString form1;
    QString form2;
};

struct RecordStruct
{
    quint32 recordid = 0;
    quint32 personid = 0;
    QString cardid;
    quint32 type = 0;
    quint32 time = 0;
    quint32 resultcode = 0;
    quint32 doornum = 0;
    quint32 direction = 0;
    QString form1;
    QString form2;
};

struct PermitStruct
{
    quint32 permitrank = 0;
    quint32 holidayflag = 0;
    quint32 specialday = 0;
    quint32 multiuser = 0;
    quint32 releasetime = 0;
    quint32 opentime = 0;
    quint32 openalarmtime = 0;
    quint32 enable = 0;
    quint32 verifymode = 0;
    quint32 pinwrongtime = 0;
    quint32 pinwrongdistime = 0;
    quint32 fhsbtime = 0;
    quint32 dcsbtime = 0;
    quint32 isremote = 0;
    quint32 jgms = 0;
    quint32 retryset = 0;
    quint32 fgzrflag = 0;
    QString form1;
    QString form2;
};

struct DoorSetStruct
{
    quint32 doornum = 0;
    quint32 direction = 0;
    quint32 skqnum = 0;
    quint32 verifymode = 0;
    quint32 pinwrongtime = 0;
    quint32 pinwrongdistime = 0;
    quint32 fhsbtime = 0;
    quint32 dcsbtime = 0;
    quint32 isremote = 0;
    quint32 jgms = 0;
    quint32 retryset = 0;
    quint32 enable = 0;
    QString form1; // stored, but not part of the pipe text form
    QString form2; // likewise
};

struct WarrantStruct
{
    quint32 warrantid = 0;
    quint32 groupid = 0;
    quint32 doornum = 0;
    quint32 direction = 0;
    quint32 permitrank = 0;
    quint32 timezoneid = 0;
    quint32 enable = 0;
    quint32 type = 0;
    quint32 opennum = 0;
    QString form1;
    QString form2;
};

struct TimezoneStruct
{
    quint32 timezoneid = 0;
    quint32 starttime = 0;
    quint32 endtime = 0;
    QString interval1;
    QString interval2;
    QString interval3;
    QString interval4;
    QString interval5;
    QString interval6;
    QString interval7;
    QString intervals;
    QString intervalh;
    quint32 enable = 0;
    QString intervalf;
    QString form1;
    QString form2;
};

struct HolidayStruct
{
    quint32 holidayid = 0;
    QString daytime;
    quint32 enable = 0;
    quint32 type = 0;
    QString form1;
    QString form2;
};

struct SpecialdayStruct
{
    quint32 specialdayid = 0;
    QString daytime;
    quint32 enable = 0;
    QString form1;
    QString form2;
};

struct StayStruct
{
    quint32 stayid = 0;
    quint32 doornum = 0;
    quint32 direction = 0;
    quint32 holidayflag = 0;
    quint32 specialday = 0;
    quint32 mode = 0;
    quint32 timezoneid = 0;
    quint32 enable = 0;
    quint32 fgzrflag = 0; // written last in both text forms and in the table
    QString form1;
    QString form2;
};

// The three text forms of every kind, used alike by the command handlers and by the store, named
// after the kind (person_to_str, person_to_str_db, person_from_str, cardid_to_str, ...):
//  KIND_to_str     pipe text form: the fields joined by "|", numbers in decimal, texts encoded as
//                  storetext.h describes (so a value never shifts another field or command field);
//  KIND_to_str_db  SQL values form without parentheses: the column values as SQL literals;
//  KIND_from_str   parser of the pipe text form; missing or bad numbers read 0, missing texts "".
// The ten kinds, listed once for the declarations here and the definitions in records.cpp.
#define DORX_RECORD_KINDS(FORMS)                                                                   \
    FORMS(person, PersonStruct)                                                                    \
    FORMS(cardid, CardidStruct)                                                                    \
    FORMS(record, RecordStruct)                                                                    \
    FORMS(permit, PermitStruct)                                                                    \
    FORMS(doorset, DoorSetStruct)                                                                  \
    FORMS(warrant, WarrantStruct)                                                                  \
    FORMS(timezone, TimezoneStruct)                                                                \
    FORMS(holiday, HolidayStruct)                                                                  \
    FORMS(specialday, SpecialdayStruct)                                                            \
    FORMS(stay, StayStruct)

#define DORX_DECLARE_RECORD_FORMS(kind, Type)                                                      \
    QString kind##_to_str(Type record);                                                            \
    QString kind##_to_str_db(Type record);                                                         \
    Type kind##_from_str(const QString &text);

namespace records {

DORX_RECORD_KINDS(DORX_DECLARE_RECORD_FORMS)

} // namespace records

#undef DORX_DECLARE_RECORD_FORMS
