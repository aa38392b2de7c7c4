#include "store/records.h"

#include "store/recordfields.h"
#include "store/storetext.h"

#include <QStringList>
#include <QVector>

namespace {

struct PipeWriter
{
    QStringList parts;
    void number(const char *, quint32 n) { parts << QString::number(n); }
    void quotedNumber(const char *name, quint32 n) { number(name, n); }
    void text(const char *, const QString &t) { parts << storetext::encode(t); }
    void numericText(const char *name, const QString &t) { text(name, t); }
    void sqlOnlyText(const char *, const QString &) { }
};

struct SqlWriter
{
    QStringList parts;
    void number(const char *, quint32 n) { parts << QString::number(n); }
    void quotedNumber(const char *, quint32 n) { parts << storetext::sqlText(QString::number(n)); }
    void text(const char *, const QString &t) { parts << storetext::sqlText(t); }
    void numericText(const char *name, const QString &t) { text(name, t); }
    void sqlOnlyText(const char *name, const QString &t) { text(name, t); }
};

struct PipeReader
{
    QVector<QStringRef> sections;
    int next = 0;
    QStringRef take() { return next < sections.size() ? sections.at(next++) : QStringRef(); }
    void number(const char *, quint32 &n) { n = storetext::toNumber(take().toString()); }
    void quotedNumber(const char *name, quint32 &n) { number(name, n); }
    void text(const char *, QString &t) { t = storetext::decode(take().toString()); }
    void numericText(const char *name, QString &t) { text(name, t); }
    void sqlOnlyText(const char *, QString &t) { t.clear(); }
};

template<class R> QString toPipe(R record)
{
    PipeWriter writer;
    records::fields(record, writer);
    return writer.parts.join(QLatin1Char('|'));
}

template<class R> QString toSql(R record)
{
    SqlWriter writer;
    records::fields(record, writer);
    return writer.parts.join(QLatin1Char(','));
}

template<class R> R fromPipe(const QString &text)
{
    R record;
    PipeReader reader;
    reader.sections = text.splitRef(QLatin1Char('|'));
    records::fields(record, reader);
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
