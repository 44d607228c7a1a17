#pragma once

#include <QString>

namespace ov::mssql {

// FreeTDS's DB-Library, which the bulk copy uses, is loaded the first time a
// bulk copy needs it rather than when the program starts: with it come the
// TLS and Kerberos libraries, whose loading and binding was a third of the
// time the program took to show its first window. The library's functions
// that this program calls are defined beside this loader and call into it.
// False, with why, when it cannot be loaded or lacks one of them.
bool loadDbLibrary(QString& error);

} // namespace ov::mssql
