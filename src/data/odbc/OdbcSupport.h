#pragma once

#include "data/DataError.h"

#include <QString>

#include <sql.h>
#include <sqlext.h>

// Small pieces that the ODBC engine's connection, cursor and appender share.
namespace ov::odbc {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager must use 16-bit wide characters");

// The UTF-16 text of a QString as the driver manager's wide characters; valid
// while text lives unchanged.
SQLWCHAR* wide(const QString& text);
QString fromWide(const SQLWCHAR* text, qsizetype length);

// Drains the remaining results of a statement of the connection dbc. The
// first error found is kept in error (when it holds none yet); returns false
// when there was one.
bool drainResults(SQLHDBC dbc, SQLHSTMT stmt, DataError& error);

// Marks error, when it is set, as a failure of the machine when the
// connection dbc has been lost. FreeTDS reports a connection the server
// dropped in the middle of its answer as HY000 "Unknown error", without a
// number; only the next call on it says 08S01.
void noteLostConnection(SQLHDBC dbc, DataError& error);

// Whether one of the diagnostic records of handle has the SQLSTATE state.
bool hasDiagState(SQLSMALLINT handleType, SQLHANDLE handle, QLatin1String state);

// True for the SQL types whose column size counts characters or bytes, so a
// parameter's size is that of its value.
bool isCharType(SQLSMALLINT sqlType);

} // namespace ov::odbc
