#pragma once

#include <QString>
#include <QStringList>

namespace ov {
class ProgressBar;
class Server;
class StatusLabel;
} // namespace ov

// Loading a shipped data set into a new database. A data set is a folder
// holding "tables.txt" (the tables to load, one a line, in load order) and
// one tab-delimited, CR LF-terminated data file "TABLE.dat" per table; the
// load writes "TABLE.log" and "TABLE.err" (the rejected rows) beside each.
namespace mdlOVSqlUpdateDB {

// Reads a list file (code page 936, or UTF-8 after a byte-order mark): list[0]
// is always "", list[1..n] are the lines that are not empty once the spaces
// at their ends are removed, so trimmed, in file order. When the file cannot
// be read the user is shown its path, ", " and why (information icon) and
// the result is false.
bool ReadListFile(const QString& path, QStringList& list);

// True when a name from tables.txt can be joined to the data set's folder
// without leaving it: no path separator of either style, no "..", no drive
// colon.
bool IsSafeTableName(const QString& table);

// Loads every table listed in folder + "tables.txt" into database, one bulk
// load per table through the server's management side. The status label
// shows what is loaded, the progress bar counts the tables, and pending
// window events run once per table.
//
// A data file that is missing, or a listed name that would reach outside the
// folder, is told to the user for the first two such tables ("Import Data"
// as caption, exclamation icon) and written to the update log for each; the
// table is not loaded and the import goes on. A table whose load fails, or
// whose rows the table rejects, does not stop the others either. The .err
// and .log files of a load lie beside its .dat file, or, where the program
// folder cannot be written, in gstrUserPath + "DBDataFiles" + the data set's
// folder name.
//
// True when the list was read and every listed table loaded completely.
// False when the list cannot be read, or the server or the database cannot be
// reached before the first table (message with the reason, exclamation icon;
// status "导入数据错误"); and false, after every table was attempted, when a
// data file was missing or a load failed or rejected rows: one message (and
// log entry) lists those tables with the places of their .err and .log files,
// and the status is "导入数据错误".
bool ImportTableData(const QString& server, const QString& database, bool integratedLogin,
                     const QString& user, const QString& password, QString folder, ov::StatusLabel& lblStatus,
                     ov::ProgressBar& prgProgress);
// The same on a server handle.
bool ImportTableData(const ov::Server& server, const QString& database, QString folder,
                     ov::StatusLabel& lblStatus, ov::ProgressBar& prgProgress);

} // namespace mdlOVSqlUpdateDB
