#pragma once

#include "data/DataError.h"

#include <QString>
#include <QStringList>

// Bulk copy into SQL Server through FreeTDS's DB-Library (bcp_init …
// bcp_exec): the server's own bulk path, one per table, reading the data file
// on this machine and writing the rows it cannot convert to an error file.
namespace ov::mssql {

struct BulkCopyLogin
{
    QString server;
    bool trusted = false;
    QString user;
    QString password;
};

// The server name as DB-Library reads it: "host,port" becomes "host:port",
// "(local)" and "." become 127.0.0.1, "host\instance" stays.
QString dblibServerName(const QString& server);

// Copies dataFile (tab-delimited, CR LF rows, code page 936 or UTF-8 after a
// byte-order mark) into table of database. rowsCopied is what the server took;
// messages are the server's and the library's messages, for the log file.
bool bulkCopyIn(const BulkCopyLogin& login, const QString& database, const QString& table,
                const QString& dataFile, const QString& errorFile, qint64& rowsCopied, QStringList& messages,
                DataError& error);

} // namespace ov::mssql
