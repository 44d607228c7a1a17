#pragma once

#include <QStringList>

namespace mdlOVSqlUpdateDB {

// Start-up: sets the process-wide folder values, then StartUp(arguments).
void Main(const QStringList& arguments);

// Reads the connection settings, looks at the command line (the arguments
// after the program name) and opens exactly one window: the task window the
// switch names, or the menu.
void StartUp(const QStringList& arguments);

} // namespace mdlOVSqlUpdateDB
