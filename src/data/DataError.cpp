#include "data/DataError.h"

#include <sqlite3.h>

namespace ov {

bool isSqliteMachineFailure(int resultCode)
{
    switch (resultCode & 0xff) {
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_NOMEM:
    // The database, its folder or its journal cannot be written or opened
    // (a folder or file turned read-only, a temporary file that cannot be
    // made): no write of the run can succeed any more.
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
        return true;
    default:
        return false;
    }
}

bool isOdbcMachineFailure(qint32 nativeError, const QString& sqlState)
{
    switch (nativeError) {
    case 1101: // no room in a filegroup for a new page
    case 1105: // no room in a filegroup for an object
    case 9002: // the transaction log is full
    case 3202: // a write on a backup or database device failed
        return true;
    default:
        return sqlState.startsWith(QLatin1String("08"));
    }
}

} // namespace ov
