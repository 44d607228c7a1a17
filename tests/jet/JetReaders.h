#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// The two independent readers that the Jet writer tests check files with:
// mdbtools' command-line tools and the npm package mdb-reader (through
// tests/jet/mdb-dump.mjs). Each call fills *error and returns false when the
// tool is missing or fails, so a test fails rather than skips.
namespace jettest {

// mdb-tables -1: the user tables, one per line.
bool mdbTables(const QString& file, QStringList* names, QString* error);
// mdb-count: the row count the table definition holds.
bool mdbCount(const QString& file, const QString& table, qint64* count, QString* error);
// mdb-export as CSV with dates as "yyyy-MM-dd HH:mm:ss", parsed; the header
// row is the first. NULL and empty text both come out as an empty field.
bool mdbExport(const QString& file, const QString& table, QList<QStringList>* rows, QString* error);
// mdb-schema for one table: column name -> type as mdbtools shows it
// ("Long Integer", "Text (40)", ...), in column order.
bool mdbSchema(const QString& file, const QString& table, QList<QPair<QString, QString>>* columns,
               QString* error);

// Everything mdb-reader reads from the file (see mdb-dump.mjs for the shape).
bool mdbReaderDump(const QString& file, QJsonObject* dump, QString* error);
// The table of that name from a dump, or an empty object.
QJsonObject dumpedTable(const QJsonObject& dump, const QString& name);

// mdb-reader turns a stored OLE date into milliseconds since 1970 by
// stretching it linearly (days - 25569) * 86400000; this undoes that, giving
// the stored value back to within a millisecond.
double oleFromMdbReader(double milliseconds);

} // namespace jettest
