#pragma once

#include "config/ConnectionSettings.h"

#include <QString>

// The connection settings of the product, shared with its main program
// through OrvaneSqlConfig.ini in the program folder.
namespace mdlOVSqlServer {

// gstrAppPath + "OrvaneSqlConfig.ini".
QString ConfigFilePath();

// Reads the five MAIN values, each falling back to its default when missing:
// server: DBServer, default this computer's name ("127.0.0.1" when it has none);
// database: DBName, default the product's database name;
// trusted: DBIsTrustMode is exactly "1" (default "1"); anything else means a
// SQL Server login;
// user: DBUser, default "sa";
// password: DBPasswd unscrambled, default empty.
void ReadMainSettings(QString& server, QString& database, bool& trusted, QString& user, QString& password);
ConnectionSettings ReadMainSettings();

// Writes DBServer, DBName, DBIsTrustMode ("1" or "0"), DBUser and DBPasswd
// (scrambled) in one replacement of the file: all five change or none does.
bool WriteMainSettings(const QString& server, const QString& database, bool trusted, const QString& user,
                       const QString& password);

// MAIN/UpdateDBResult and MAIN/CreateDBResult: "1" for true, "0" for false.
bool WriteUpdateDBResult(bool result);
bool WriteCreateDBResult(bool result);

// The key in which a task tells the main program how it ended.
enum class ResultKey
{
    UpdateDB, // MAIN/UpdateDBResult
    CreateDB, // MAIN/CreateDBResult
};

// After a task that succeeded: writes the five values as WriteMainSettings
// does and the task's result key as "1", all in one replacement of the file,
// so that a crash leaves the old file or the new one, never the new database
// named beside the old result.
bool WriteMainSettingsAndSuccess(const ConnectionSettings& settings, ResultKey key);

// BACKUPRESTORE/DEFAULTPATHFILE: the full path, on the server, of the last
// backup file written or restored. Empty when there is none.
QString ReadDefaultPathFile();
// Key TrustServerCertificate of section OVSQLUPDATEDB: "1", "yes" or "true"
// (any case) lets Microsoft's drivers take the server's certificate unchecked.
bool ReadTrustServerCertificate();
bool WriteDefaultPathFile(const QString& path);

} // namespace mdlOVSqlServer
