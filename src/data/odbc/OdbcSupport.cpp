#include "data/odbc/OdbcSupport.h"

#include "data/odbc/OdbcBackend.h"

namespace ov::odbc {

namespace {

bool isSequenceError(SQLSMALLINT type, SQLHANDLE handle)
{
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRecW(type, handle, 1, state, &native, nullptr, 0, &len)))
        return false;
    return fromWide(state, 5) == QLatin1String("HY010");
}

} // namespace

void noteLostConnection(SQLHDBC dbc, DataError& error)
{
    if (!error.isSet() || error.machineFailure || !dbc)
        return;
    SQLUINTEGER dead = SQL_CD_FALSE;
    if (!SQL_SUCCEEDED(SQLGetConnectAttr(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) ||
        dead != SQL_CD_TRUE)
        return;
    error.machineFailure = true;
    error.description += QStringLiteral("\n与服务器的连接已断开。");
}

bool hasDiagState(SQLSMALLINT handleType, SQLHANDLE handle, QLatin1String state)
{
    for (SQLSMALLINT i = 1; i < 50; ++i) {
        SQLWCHAR found[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT len = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRecW(handleType, handle, i, found, &native, nullptr, 0, &len)))
            return false;
        if (fromWide(found, 5) == state)
            return true;
    }
    return false;
}

SQLWCHAR* wide(const QString& text)
{
    return reinterpret_cast<SQLWCHAR*>(
        const_cast<char16_t*>(reinterpret_cast<const char16_t*>(text.utf16())));
}

QString fromWide(const SQLWCHAR* text, qsizetype length)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(text), length);
}

bool drainResults(SQLHDBC dbc, SQLHSTMT stmt, DataError& error)
{
    bool ok = true;
    // A batch has a result per statement; the bound only protects against a
    // driver that never says it is done.
    for (int i = 0; i < 1000000; ++i) {
        const SQLRETURN r = SQLMoreResults(stmt);
        if (r == SQL_NO_DATA || r == SQL_INVALID_HANDLE)
            break;
        if (r == SQL_ERROR) {
            if (isSequenceError(SQL_HANDLE_STMT, stmt))
                break;
            if (ok && !error.isSet())
                odbcDiagnostics(SQL_HANDLE_STMT, stmt, error);
            ok = false;
            // A lost connection fails every further call: no result is left.
            SQLUINTEGER dead = SQL_CD_FALSE;
            if (SQL_SUCCEEDED(SQLGetConnectAttr(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
                dead == SQL_CD_TRUE)
                break;
        }
    }
    if (!ok)
        noteLostConnection(dbc, error);
    return ok;
}

bool isCharType(SQLSMALLINT sqlType)
{
    switch (sqlType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
        return true;
    default:
        return false;
    }
}

} // namespace ov::odbc
