#pragma once

#include "data/Connection.h"
#include "data/DataError.h"
#include "data/Server.h"
#include "data/ServerAdmin.h"

#include <QString>

#include <memory>

// Connection strings and connections to the product's SQL Server database (or
// a database of the embedded engine, chosen by a server name "sqlite:FOLDER").
namespace mdlOVSqlServer {

// The OLE DB string for SQL Server. SQL Server login:
//   Provider=SQLOLEDB.1;Persist Security Info=True;User ID=…;PASSWORD=…;
//   Initial Catalog=…;Data Source=…
// Windows login (trusted), without user and password:
//   Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;
//   Initial Catalog=…;Data Source=…
// A value holding ";", "=", a quote or blanks at its ends is enclosed in double
// quotes (inner double quotes doubled), so it stays one value and can never
// add or replace a key; plain values go in as they are. The string of
// ov::Server::connectionString.
QString BuildSqlConnectionString(QString server, QString database, bool trusted, QString user,
                                 QString password);

// Opens the database on the server: client-side cursors, a command time-out
// of 600 seconds, the server's login. The busy pointer is
// shown for the duration of the call. When the connection cannot be opened,
// the error goes into the error record (module "mdlContactTrace", function
// "ConnectToDBFile", message "连接数据库失败！") and the result is empty.
std::unique_ptr<ov::Connection> ConnectToDatabase(const ov::Server& server, const QString& database);
std::unique_ptr<ov::Connection> ConnectToDBFile(const QString& server, const QString& database, bool trusted,
                                                const QString& user, const QString& password);

// Makes sure the server answers before a database is created on it: a
// connection to its master database within 30 seconds (for the embedded engine:
// its folder exists). Nobody depends on the answer; a server that is not there
// shows up at the next ConnectToDBFile. Records nothing.
bool EnsureSqlServerRunning(const ov::Server& server);
bool EnsureSqlServerRunning(const QString& server, bool trusted, const QString& user,
                            const QString& password);

// Takes the database for one task (an update, a creation, a restore) for as
// long as the handle lives, so that no other task of any process runs on it
// meanwhile (ov::ServerAdmin::lockDatabase). Empty when it cannot: error
// then says why; when another task holds the database, its number is
// ov::DataErr::LockTimeout and its description the message for the user.
std::shared_ptr<ov::DatabaseLock> LockDatabaseForTask(const ov::Server& server, const QString& database,
                                                      ov::DataError& error);
std::shared_ptr<ov::DatabaseLock> LockDatabaseForTask(const QString& server, const QString& database,
                                                      bool trusted, const QString& user,
                                                      const QString& password, ov::DataError& error);

} // namespace mdlOVSqlServer
