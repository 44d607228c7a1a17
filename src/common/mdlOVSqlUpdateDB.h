#pragma once

#include <QString>

// Process-wide values, set once at start-up and read by the rest of the program.
namespace mdlOVSqlUpdateDB {

// The program folder with a trailing separator: the configuration file, the
// scripts, the data sets and the update log lie there.
extern QString gstrAppPath;
// The user's documents folder plus "Orvane" and a trailing separator.
extern QString gstrUserPath;
// The command line after the program name, trimmed and in upper case.
extern QString gstrCommand;

// Sets gstrAppPath from the folder of the running executable (with a trailing
// separator) and gstrUserPath from the documents folder; makes no folder.
void SetProcessPaths();
// SetProcessPaths, then creates the "Orvane" folder below the documents
// folder when it is missing (the desktop tool's start-up: its file dialogs
// open there).
void InitProcessPaths();

} // namespace mdlOVSqlUpdateDB
