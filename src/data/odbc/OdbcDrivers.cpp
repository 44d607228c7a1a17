#include "data/odbc/OdbcDrivers.h"

#include <sql.h>
#include <sqlext.h>

namespace ov {

QStringList installedOdbcDrivers()
{
    // An environment of its own, freed at once: the list is read afresh each
    // time, so a driver registered meanwhile is seen.
    QStringList names;
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        return names;
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLWCHAR description[512];
    SQLWCHAR attributes[2048];
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
        SQLSMALLINT descriptionLength = 0;
        SQLSMALLINT attributesLength = 0;
        const SQLRETURN r =
            SQLDriversW(env, direction, description, SQLSMALLINT(std::size(description)), &descriptionLength,
                        attributes, SQLSMALLINT(std::size(attributes)), &attributesLength);
        if (!SQL_SUCCEEDED(r))
            break;
        const int length = qMin<int>(descriptionLength, int(std::size(description)) - 1);
        names.append(QString::fromUtf16(reinterpret_cast<const char16_t*>(description), length));
        direction = SQL_FETCH_NEXT;
    }
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return names;
}

} // namespace ov
