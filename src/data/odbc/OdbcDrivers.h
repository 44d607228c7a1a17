#pragma once

#include <QStringList>

namespace ov {

// The names of the drivers the ODBC driver manager has registered, in its
// order (SQLDrivers: on Linux the sections of unixODBC's odbcinst.ini, which
// ODBCSYSINI may move; on Windows the drivers in the registry). Empty when
// the driver manager cannot be loaded.
QStringList installedOdbcDrivers();

} // namespace ov
