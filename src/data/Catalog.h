#pragma once

#include "data/DataError.h"

#include <QList>
#include <QString>

namespace ov {

class Connection;

// One column of a table as a database's catalog describes it. The engines'
// catalog queries (ConnectionBackend::catalogQuery) answer in the columns of
// SQL Server's INFORMATION_SCHEMA.COLUMNS: TABLE_NAME, COLUMN_NAME,
// DATA_TYPE, CHARACTER_MAXIMUM_LENGTH, NUMERIC_PRECISION, NUMERIC_SCALE,
// IS_NULLABLE. SQL Server gives the type's family in DATA_TYPE and its sizes
// in the numbers; the embedded engine gives the type as it was declared
// ("NVARCHAR(50)") and no numbers. Both end up here in one form.
struct CatalogColumn
{
    QString table;
    QString column;
    QString type;      // the family, lower case: "nvarchar", "int", "decimal"
    qint64 length = 0; // characters or bytes of a sized type; -1 for MAX; 0 when none was given
    int precision = 0; // decimal and numeric only
    int scale = 0;
    bool nullable = true;
};

// Fills type, length, precision and scale of column from a type as written
// in a script or declared on the embedded engine: "NVARCHAR(50)",
// "DECIMAL(18, 2)", "INT IDENTITY(1,1)", "national character varying(20)".
// Spellings that name one type on SQL Server name one family here (INTEGER
// is int, DEC is decimal, CHARACTER VARYING is varchar).
void ParseDeclaredType(const QString& declared, CatalogColumn& column);

// The type as a person reads it: "nvarchar(50)", "nvarchar(max)",
// "decimal(18,2)", "int".
QString TypeText(const CatalogColumn& column);

// The columns of the database's own tables, by table and then in column
// order, through the engine's catalog query. False, with error set, when the
// engine has none or the query fails.
bool ReadCatalog(Connection& cn, QList<CatalogColumn>& columns, DataError& error);
// The same from the answer of query, which gives the columns of a catalog
// query.
bool ReadCatalog(Connection& cn, const QString& query, QList<CatalogColumn>& columns, DataError& error);

} // namespace ov
