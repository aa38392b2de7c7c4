#include "store/records.h"

#include "store/storetext.h"

#include <QStringList>
#include <QVector>

namespace {

// Each kind lists its fields once, in position order; the three forms walk that list. A visitor
// sees a field as:
//   number        decimal in both forms;
//   quotedNumber  decimal, but a quoted literal in the SQL form (holiday "type");
//   text          encoded in the pipe form, a quoted literal in the SQL form;
//   sqlOnlyText   absent from the pipe form (doorset "form1"/"form2"), quoted in the SQL form.

template<class V> void fields(PersonStruct &r, V &v)
{
    v.number(r.personid);
    v.number(r.persontype);
    v.number(r.accountstatus);
    v.text(r.name);
    v.text(r.group);
    v.text(r.iden);
    v.text(r.mobil);
    v.text(r.password);
    v.number(r.regtime);
    v.number(r.voliditystart);
    v.number(r.volidityend);
    v.text(r.form1);
    v.text(r.form2);
}

template<class V> void fields(CardidStruct &r, V &v)
{
    v.number(r.personid);
    v.text(r.cardid);
    v.text(r.fingerid);
    v.text(r.xp);
    v.text(r.form1);
    v.text(r.form2);
}

template<class V> void fields(RecordStruct &r, V &v)
{
    v.number(r.recordid);
    v.number(r.personid);
    v.text(r.cardid);
    v.number(r.type);
    v.number(r.time);
    v.number(r.resultcode);
    v.number(r.doornum);
    v.number(r.direction);
    v.text(r.form1);
    v.text(r.form2);
}

template<class V> void fields(PermitStruct &r, V &v)
{
    v.number(r.permitrank);
    v.number(r.holidayflag);
    v.number(r.specialday);
    v.number(r.multiuser);
    v.number(r.releasetime);
    v.number(r.opentime);
    v.number(r.openalarmtime);
    v.number(r.enable);
    v.number(r.verifymode);
    v.number(r.pinwrongtime);
    v.number(r.pinwrongdistime);
    v.number(r.fhsbtime);
    v.number(r.dcsbtime);
    v.number(r.isremote);
    v.number(r.jgms);
    v.number(r.retryset);
    v.number(r.fgzrflag);
    v.text(r.form1);
    v.text(r.form2);
}

template<class V> void fields(DoorSetStruct &r, V &v)
{
    v.number(r.doornum);
    v.number(r.direction);
    v.number(r.skqnum);
    v.number(r.verifymode);
    v.number(r.pinwrongtime);
    v.number(r.pinwrongdistime);
    v.number(r.fhsbtime);
    v.number(r.dcsbtime);
    v.number(r.isremote);
    v.number(r.jgms);
    v.number(r.retryset);
    v.number(r.enable);
    v.sqlOnlyText(r.form1);
    v.sqlOnlyText(r.form2);
}

template<class V> void fields(WarrantStruct &r, V &v)
{
    v.number(r.warrantid);
    v.number(r.groupid);
    v.number(r.doornum);
    v.number(r.direction);
    v.number(r.permitrank);
    v.number(r.timezoneid);
    v.number(r.enable);
    v.number(r.type);
    v.number(r.opennum);
    v.text(r.form1);
    v.text(r.form2);
}

template<class V> void fields(TimezoneStruct &r, V &v)
{
    v.number(r.timezoneid);
    v.number(r.starttime);
    v.number(r.endtime);
    v.text(r.interval1);
    v.text(r.interval2);
    v.text(r.interval3);
    v.text(r.interval4);
    v.text(r.interval5);
    v.text(r.interval6);
    v.text(r.interval7);
    v.text(r.intervals);
    v.text(r.intervalh);
    v.number(r.enable);
    v.text(r.intervalf);
    v.text(r.form1);
    v.text(r.form2);
}

template<class V> void fields(HolidayStruct &r, V &v)
{
    v.number(r.holidayid);
    v.text(r.daytime);
    v.number(r.enable);
    v.quotedNumber(r.type);
    v.text(r.form1);
    v.text(r.form2);
}

template<class V> void fields(SpecialdayStruct &r, V &v)
{
    v.number(r.specialdayid);
    v.text(r.daytime);
    v.number(r.enable);
    v.text(r.form1);
    v.text(r.form2);
}

template<class V> void fields(StayStruct &r, V &v)
{
    v.number(r.stayid);
    v.number(r.doornum);
    v.number(r.direction);
    v.number(r.holidayflag);
    v.number(r.specialday);
    v.number(r.mode);
    v.number(r.timezoneid);
    v.number(r.enable);
    v.text(r.form1);
    v.text(r.form2);
    v.number(r.fgzrflag);
}

struct PipeWriter
{
    QStringList parts;
    void number(quint32 n) { parts << QString::number(n); }
    void quotedNumber(quint32 n) { number(n); }
    void text(const QString &t) { parts << storetext::encode(t); }
    void sqlOnlyText(const QString &) { }
};

struct SqlWriter
{
    QStringList parts;
    void number(quint32 n) { parts << QString::number(n); }
    void quotedNumber(quint32 n) { parts << storetext::sqlText(QString::number(n)); }
    void text(const QString &t) { parts << storetext::sqlText(t); }
    void sqlOnlyText(const QString &t) { text(t); }
};

struct PipeReader
{
    QVector<QStringRef> sections;
    int next = 0;
    QStringRef take() { return next < sections.size() ? sections.at(next++) : QStringRef(); }
    void number(quint32 &n) { n = storetext::toNumber(take().toString()); }
    void quotedNumber(quint32 &n) { number(n); }
    void text(QString &t) { t = storetext::decode(take().toString()); }
    void sqlOnlyText(QString &t) { t.clear(); }
};

template<class R> QString toPipe(R record)
{
    PipeWriter writer;
    fields(record, writer);
    return writer.parts.join(QLatin1Char('|'));
}

template<class R> QString toSql(R record)
{
    SqlWriter writer;
    fields(record, writer);
    return writer.parts.join(QLatin1Char(','));
}

template<class R> R fromPipe(const QString &text)
{
    R record;
    PipeReader reader;
    reader.sections = text.splitRef(QLatin1Char('|'));
    fields(record, reader);
    return record;
}

} // namespace

// Every kind's three named forms are the templates above applied to its type.
#define DORX_DEFINE_RECORD_FORMS(kind, Type)                                                       \
    QString kind##_to_str(Type record)                                                             \
    {                                                                                              \
        return toPipe(record);                                                                     \
    }                                                                                              \
    QString kind##_to_str_db(Type record)                                                          \
    {                                                                                              \
        return toSql(record);                                                                      \
    }                                                                                              \
    Type kind##_from_str(const QString &text)                                                      \
    {                                                                                              \
        return fromPipe<Type>(text);                                                               \
    }

namespace records {

DORX_RECORD_KINDS(DORX_DEFINE_RECORD_FORMS)

} // namespace records
