#pragma once

#include "data/ConnectionSettings.h"
#include "data/DataError.h"

#include <QString>
#include <QStringList>

// Bulk copy into SQL Server through FreeTDS's DB-Library (bcp_init …
// bcp_exec): the server's own bulk path, one per table, reading the data file
// on this machine and writing the rows it cannot convert to an error file.
namespace ov::mssql {

// The server name as DB-Library reads it: "host,port" becomes "host:port",
// "(local)" and "." become 127.0.0.1, "host\instance" stays.
QString dblibServerName(const QString& server);

// Copies dataFile (tab-delimited, CR LF rows, code page 936 or UTF-8 after a
// byte-order mark) into table of the database of settings, on its server
// with its login. rowsCopied is what the server took; messages are the
// server's and the library's messages, for the log file.
bool bulkCopyIn(const ConnectionSettings& settings, const QString& table, const QString& dataFile,
                const QString& errorFile, qint64& rowsCopied, QStringList& messages, DataError& error);

} // namespace ov::mssql
