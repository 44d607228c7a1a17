#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>

#include <memory>

// Writes Jet 4 database files (Access 2000-2003 format, 4096-byte pages), the
// format of the single-user ".cdb" files. The writer makes every byte itself:
// the database header page, the catalog (MSysObjects), one table definition
// with its usage maps per table, data pages, and long-value pages for memos.
// It writes no indexes, queries, relationships or properties.
//
// Usage:
//     jet::Writer w("/tmp/demo.cdb");
//     w.setPassword("secret");
//     w.addTable("Customer", {{"Id", jet::ColumnType::Long}, {"Name", jet::ColumnType::Text, 50}});
//     w.addRow("Customer", {1, QStringLiteral("客户")});
//     QString error;
//     if (!w.save(&error)) ...
//
// Rows are streamed: a data page goes to disk as soon as it is full, so memory
// does not grow with the number of rows. The pages are written into a
// temporary file beside the target; save() completes the file and renames it
// over the target, so the target path is created or replaced only by a
// successful save().
namespace jet {

enum class ColumnType
{
    Bool,     // Yes/No; stored in the row's null mask, so it cannot be NULL (NULL is written as false)
    Byte,     // 0..255
    Integer,  // 16-bit signed
    Long,     // 32-bit signed
    Currency, // 64-bit integer in units of 1/10000
    Single,   // IEEE 754 single precision
    Double,   // IEEE 754 double precision
    DateTime, // OLE automation date, 0100-01-01 .. 9999-12-31
    Text,     // up to textLength characters (1..255)
    Memo      // long text, up to 8,388,607 characters (16 MiB of UCS-2)
};

struct Column
{
    QString name; // 1..64 characters, unique in the table (case-insensitive)
    ColumnType type;
    int textLength = 255; // Text only: the maximum number of characters
};

// An invalid QVariant (QVariant()) or a variant holding a null value is SQL
// NULL. Accepted values per kind:
//   Bool        anything QVariant::toBool() understands
//   Byte, Integer, Long
//               integers, integral doubles, or strings of an integer, in range
//   Currency    a decimal string with at most 4 decimals (exact, e.g.
//               "-922337203685477.5808"), an integer, or a double (rounded to
//               4 decimals)
//   Single, Double
//               numbers or numeric strings; a Single must lie within float range
//   DateTime    QDateTime or QDate (the wall-clock date and time as given, no
//               time-zone conversion; milliseconds are kept)
//   Text, Memo  QString (anything convertible to one); an empty string is not NULL
using Value = QVariant;

class Writer
{
public:
    explicit Writer(QString path);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // The database password: at most 20 characters; empty means none.
    void setPassword(const QString& pw);
    // The creation date stored in the header (default: the time of
    // construction). It also keys the password mask, so it is best kept after
    // 1899-12-30, where all readers agree on how to take its integer part.
    void setCreationDate(const QDateTime& date);

    // Declares a table: 1..255 columns, a name of 1..64 characters unique in
    // the database (case-insensitive). Tables appear in the catalog in the
    // order they were added. Returns false on an invalid definition.
    bool addTable(const QString& name, const QList<Column>& columns);
    // Appends a row: one value per column, in column order. Rows of different
    // tables may be interleaved. Returns false when the row is refused (unknown
    // table, wrong number of values, a value that does not fit its column, a
    // row longer than a Jet row may be).
    bool addRow(const QString& table, const QList<Value>& values);
    // Makes page the next page the file hands out (to the data page of the
    // next row that needs one): the pages between the end of the file and it
    // stay empty, a hole that reads as zeros. A table's pages can so lie
    // beyond the range of the first usage-map page (32736 pages, 128 MiB)
    // without writing as much. Refused for a page before the end of the file.
    bool leaveEmptyUntil(quint32 page);

    // Completes the file. Fails, leaving the target untouched, if any earlier
    // call was refused or the file cannot be written; the reason goes to
    // *error (if given) and errorString(). A writer saves once.
    bool save(QString* error);

    // The first error met so far, empty if none.
    QString errorString() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace jet
