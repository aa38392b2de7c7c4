#pragma once

#include "store/records.h"

// Each kind lists its fields once, in position order (the order of the pipe text form, of the SQL
// values form and of the table's columns), under the names that the command interface uses for
// them. The text forms of records.cpp, the command handlers and dorxctl walk these lists with a
// visitor that has, for each way a field is carried, a member taking the name and the field:
//   number        unsigned decimal in both text forms;
//   quotedNumber  decimal, but a quoted literal in the SQL form (holiday "type");
//   text          encoded in the pipe form, a quoted literal in the SQL form;
//   numericText   a text like any other, but its column has numeric affinity (holiday and special
//                 day "daytime", time zone "interval1"): SQLite keeps a text that reads as a
//                 number as that number (storetext::keptByNumericColumn);
//   sqlOnlyText   absent from the pipe form (doorset "form1"/"form2"), quoted in the SQL form.
namespace records {

template<class V> void fields(PersonStruct &r, V &v)
{
    v.number("personid", r.personid);
    v.number("persontype", r.persontype);
    v.number("accountstatus", r.accountstatus);
    v.text("name", r.name);
    v.text("group", r.group);
    v.text("iden", r.iden);
    v.text("mobil", r.mobil);
    v.text("password", r.password);
    v.number("regtime", r.regtime);
    v.number("voliditystart", r.voliditystart);
    v.number("volidityend", r.volidityend);
    v.text("form1", r.form1);
    v.text("form2", r.form2);
}

template<class V> void fields(CardidStruct &r, V &v)
{
    v.number("personid", r.personid);
    v.text("cardid", r.cardid);
    v.text("fingerid", r.fingerid);
    v.text("xp", r.xp);
    v.text("form1", r.form1);
    v.text("form2", r.form2);
}

template<class V> void fields(RecordStruct &r, V &v)
{
    v.number("recordid", r.recordid);
    v.number("personid", r.personid);
    v.text("cardid", r.cardid);
    v.number("type", r.type);
    v.number("time", r.time);
    v.number("resultcode", r.resultcode);
    v.number("doornum", r.doornum);
    v.number("direction", r.direction);
    v.text("form1", r.form1);
    v.text("form2", r.form2);
}

template<class V> void fields(PermitStruct &r, V &v)
{
    v.number("permitrank", r.permitrank);
    v.number("holidayflag", r.holidayflag);
    v.number("specialday", r.specialday);
    v.number("multiuser", r.multiuser);
    v.number("releasetime", r.releasetime);
    v.number("opentime", r.opentime);
    v.number("openalarmtime", r.openalarmtime);
    v.number("enable", r.enable);
    v.number("verifymode", r.verifymode);
    v.number("pinwrongtime", r.pinwrongtime);
    v.number("pinwrongdistime", r.pinwrongdistime);
    v.number("fhsbtime", r.fhsbtime);
    v.number("dcsbtime", r.dcsbtime);
    v.number("isremote", r.isremote);
    v.number("jgms", r.jgms);
    v.number("retryset", r.retryset);
    v.number("fgzrflag", r.fgzrflag);
    v.text("form1", r.form1);
    v.text("form2", r.form2);
}

template<class V> void fields(DoorSetStruct &r, V &v)
{
    v.number("doornum", r.doornum);
    v.number("direction", r.direction);
    v.number("skqnum", r.skqnum);
    v.number("verifymode", r.verifymode);
    v.number("pinwrongtime", r.pinwrongtime);
    v.number("pinwrongdistime", r.pinwrongdistime);
    v.number("fhsbtime", r.fhsbtime);
    v.number("dcsbtime", r.dcsbtime);
    v.number("isremote", r.isremote);
    v.number("jgms", r.jgms);
    v.number("retryset", r.retryset);
    v.number("enable", r.enable);
    v.sqlOnlyText("form1", r.form1);
    v.sqlOnlyText("form2", r.form2);
}

template<class V> void fields(WarrantStruct &r, V &v)
{
    v.number("warrantid", r.warrantid);
    v.number("groupid", r.groupid);
    v.number("doornum", r.doornum);
    v.number("direction", r.direction);
    v.number("permitrank", r.permitrank);
    v.number("timezoneid", r.timezoneid);
    v.number("enable", r.enable);
    v.number("type", r.type);
    v.number("opennum", r.opennum);
    v.text("form1", r.form1);
    v.text("form2", r.form2);
}

template<class V> void fields(TimezoneStruct &r, V &v)
{
    v.number("timezoneid", r.timezoneid);
    v.number("starttime", r.starttime);
    v.number("endtime", r.endtime);
    v.numericText("interval1", r.interval1);
    v.text("interval2", r.interval2);
    v.text("interval3", r.interval3);
    v.text("interval4", r.interval4);
    v.text("interval5", r.interval5);
    v.text("interval6", r.interval6);
    v.text("interval7", r.interval7);
    v.text("intervals", r.intervals);
    v.text("intervalh", r.intervalh);
    v.number("enable", r.enable);
    v.text("intervalf", r.intervalf);
    v.text("form1", r.form1);
    v.text("form2", r.form2);
}

template<class V> void fields(HolidayStruct &r, V &v)
{
    v.number("holidayid", r.holidayid);
    v.numericText("daytime", r.daytime);
    v.number("enable", r.enable);
    v.quotedNumber("type", r.type);
    v.text("form1", r.form1);
    v.text("form2", r.form2);
}

template<class V> void fields(SpecialdayStruct &r, V &v)
{
    v.number("specialdayid", r.specialdayid);
    v.numericText("daytime", r.daytime);
    v.number("enable", r.enable);
    v.text("form1", r.form1);
    v.text("form2", r.form2);
}

template<class V> void fields(StayStruct &r, V &v)
{
    v.number("stayid", r.stayid);
    v.number("doornum", r.doornum);
    v.number("direction", r.direction);
    v.number("holidayflag", r.holidayflag);
    v.number("specialday", r.specialday);
    v.number("mode", r.mode);
    v.number("timezoneid", r.timezoneid);
    v.number("enable", r.enable);
    v.text("form1", r.form1);
    v.text("form2", r.form2);
    v.number("fgzrflag", r.fgzrflag);
}

} // namespace records
