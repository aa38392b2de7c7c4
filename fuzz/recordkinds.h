#pragma once

// The ten record kinds for the fuzz targets, found by their table code in store commands (1 person
// ... 10 stay, the order of DORX_RECORD_KINDS), so a target handles every kind in one place.

#include "store/recordfields.h"
#include "store/records.h"

namespace recordkinds {

// Counts a kind's fields: those of the pipe text form, and the table's columns, which hold the
// fields that only the SQL form writes too.
struct FieldCount
{
    int pipe = 0;
    int columns = 0;
    template<class T> void number(const char *, T &) { ++pipe, ++columns; }
    template<class T> void quotedNumber(const char *, T &) { ++pipe, ++columns; }
    template<class T> void text(const char *, T &) { ++pipe, ++columns; }
    template<class T> void numericText(const char *, T &) { ++pipe, ++columns; }
    template<class T> void sqlOnlyText(const char *, T &) { ++columns; }
};

// Calls visit(fromStr, toStr, toStrDb, FieldCount) with the text forms of the kind of the table
// code; nothing for a code of no kind.
template<class Visit> void withKind(int table, Visit &&visit)
{
    int code = 0;
#define DORX_VISIT_KIND(kind, Type)                                                                \
    if (++code == table) {                                                                         \
        Type record;                                                                               \
        FieldCount count;                                                                          \
        records::fields(record, count);                                                            \
        visit(records::kind##_from_str, records::kind##_to_str, records::kind##_to_str_db, count); \
    }
    DORX_RECORD_KINDS(DORX_VISIT_KIND)
#undef DORX_VISIT_KIND
}

} // namespace recordkinds
