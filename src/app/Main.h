#pragma once

#include <QStringList>

namespace mdlOVSqlUpdateDB {

// Start-up: sets the process-wide folder values, then StartUp(arguments).
bool Main(const QStringList& arguments);

// Reads the connection settings, looks at the command line (the arguments
// after the program name) and opens exactly one window: the task window the
// switch names, or the menu. Returns false, having opened nothing and
// written nothing, when the switch names a task whose window this build does
// not have.
bool StartUp(const QStringList& arguments);

} // namespace mdlOVSqlUpdateDB
