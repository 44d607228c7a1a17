#pragma once

#include "data/DataBackend.h"
#include "data/DataError.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <memory>

// Reading Jet 4 database files (the single-user ".cdb" files) over mdbtools'
// libmdb. libmdb finds the catalog, the table definitions and the data pages;
// the values are decoded here from the row bytes, so that dates keep their
// full range, currency stays exact, text is decoded without a code-page
// round trip and NULL stays distinct from an empty text.
//
// The file is checked before libmdb sees it (header, size, page references),
// and every page and long-value reference is checked against the file, so a
// missing, foreign or damaged file gives an error instead of wrong rows.
typedef struct S_MdbTableDef MdbTableDef;

namespace ov {

// Error numbers the Jet provider gives the same situations.
namespace JetErr {
constexpr qint32 CannotOpen = -2147467259;       // 0x80004005: missing, foreign or damaged file
constexpr qint32 WrongPassword = -2147217843;    // 0x80040E4D: not a valid password
constexpr qint32 NoSuchTable = -2147217865;      // 0x80040E37: cannot find the input table
constexpr qint32 SyntaxError = -2147217900;      // 0x80040E14: syntax error in the statement
constexpr qint32 MissingParameter = -2147217904; // 0x80040E10: an unknown name in the statement
constexpr qint32 TypeMismatch = -2147217913;     // 0x80040E07: data type mismatch in criteria
} // namespace JetErr

class JetTable;

// One open database file. Tables read from it each get their own libmdb
// handle on the same file, so several can be read at the same time.
class JetFile
{
public:
    // Opens and checks path. On failure returns nothing and fills error.
    static std::unique_ptr<JetFile> open(const QString& path, DataError& error);
    ~JetFile();
    JetFile(const JetFile&) = delete;
    JetFile& operator=(const JetFile&) = delete;

    QString path() const { return m_path; }
    // The database password stored in the header; empty when there is none.
    QString password() const { return m_password; }
    // The user tables, in catalog order.
    QStringList tableNames() const { return m_tables; }
    // Opens a table (name compared without case) for reading from its first row.
    std::unique_ptr<JetTable> openTable(const QString& name, DataError& error) const;

private:
    struct Handle;
    JetFile() = default;

    QString m_path;
    QString m_password;
    QStringList m_tables;
    quint32 m_pageCount = 0;
    std::unique_ptr<Handle> m_handle;
};

// The rows of one table, read forward one data page at a time: memory does
// not depend on the number of rows.
class JetTable
{
public:
    ~JetTable();
    JetTable(const JetTable&) = delete;
    JetTable& operator=(const JetTable&) = delete;

    QString name() const { return m_name; }
    const QVector<ColumnInfo>& columns() const { return m_columns; }
    // The row count kept in the table definition.
    qint64 storedRowCount() const;

    // Reads the next row: one value per column (NULL is an invalid QVariant).
    // With row null the row is only found and checked, not decoded.
    CursorBackend::Fetch next(QVector<QVariant>* row, DataError& error);

private:
    friend class JetFile;
    struct Handle;
    JetTable() = default;
    bool nextDataPage(DataError& error);
    bool decodeField(int column, bool isNull, int start, int size, QVariant& value, DataError& error);
    bool readLongValue(int start, int size, QByteArray& bytes, DataError& error);
    bool damaged(DataError& error, const QString& what);

    QString m_name;
    QString m_path;
    QVector<ColumnInfo> m_columns;
    quint32 m_pageCount = 0;
    std::unique_ptr<Handle> m_handle;
    MdbTableDef* m_table = nullptr;
    unsigned int m_row = 0;
    qint64 m_rowsRead = 0; // rows given out, compared at the end with the recorded count
    bool m_started = false;
    bool m_ended = false;
};

// Text as Jet 4 stores it: UCS-2 little-endian, or the compressed form that
// begins with FF FE and switches between one-byte and two-byte characters at
// each 0x00 byte.
QString decodeJetText(const char* data, int size);
// An OLE automation date (days since 1899-12-30, the fraction the time of day
// even before that day) as a date and time, to the millisecond. The stored
// value has no time zone: it comes back as the same wall-clock date and time
// in a QDateTime of Qt::UTC spec (date() and time() are the stored ones).
// Invalid for a value outside 0100-01-01 .. 9999-12-31.
QDateTime oleDateToDateTime(double value);
// A currency value (an integer in units of 1/10000) as exact decimal text
// with four decimals.
QString currencyText(qint64 units);

} // namespace ov
