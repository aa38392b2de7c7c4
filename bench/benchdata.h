#pragma once

#include "store/records.h"

#include <QString>

#include <functional>

// The data both benchmarks measure on: typical persons and access records, and a fast way to
// fill the tables with them (one transaction, straight into the file).
PersonStruct benchPerson(quint32 id);
RecordStruct benchRecord(quint32 id, quint32 persons);

// Inserts rows 0 .. rows-1 made by values (an SQL values form) into table of the database file;
// false when any insert fails.
bool fill(const QString &file, const char *table, int rows,
    const std::function<QString(quint32)> &values);
