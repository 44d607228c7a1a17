#pragma once

#include "common/mdlCommon.h"

#include <QDateTime>
#include <QString>

#include <functional>

namespace ov {
class Server;
} // namespace ov

// The backup of a product database into a file on its server, shared by the
// backup window and ovsqlcli.
namespace mdlOVSqlBackup {

// The name the backup window proposes: the folder of the last backup file
// (storedPathFile, the remembered DEFAULTPATHFILE), then the database name,
// "-", the time as yyyymmddhhnn and ".dat". Without a stored folder the
// proposal is in defaultFolder (none when that is empty).
QString DefaultBackupPathFile(const QString& storedPathFile, const QString& database, const QDateTime& now,
                              const QString& defaultFolder, mdlCommon::PathStyle style);

// The path a backup goes to: pathFile, or defaultFolder (the server's, see
// ServerFolder::DefaultFolder) followed by its file name when it has no folder.
QString BackupTarget(const QString& pathFile, const QString& defaultFolder, mdlCommon::PathStyle style);
// True when pathFile names its folder. The windows put a path without one
// into the root; the command line, which has no folder to propose, refuses it.
bool HasFolder(const QString& pathFile, mdlCommon::PathStyle style);

// The connection string of the connection a backup runs on: the database
// itself (as typed, or as one quoted identifier), with the login but never
// the password, which goes to Open.
QString BackupConnectionString(const QString& server, const QString& database, bool trusted,
                               const QString& user);

// What a backup does when its file exists already.
enum class IfExists
{
    Refuse,       // fail, touching nothing (the file of a name the user chose)
    Replace,      // replace it (asked for with ovsqlcli backup --replace)
    TakeFreeName, // back up into FreeBackupPathFile's name instead (a name the tool proposed)
};

// pathFile when it is free, otherwise the first free name made from it by
// "-2", "-3", … before its extension: crm-202612041533.dat, then
// crm-202612041533-2.dat. taken(path, exists) answers whether path exists and
// returns false when it cannot tell; then, or when no name up to "-999" is
// free, the result is empty.
QString FreeBackupPathFile(const QString& pathFile,
                           const std::function<bool(const QString& path, bool& exists)>& taken);

// Writes a full backup of database into pathFile on the server, on a
// connection to that database without a time limit, and tells the user how
// it went: "备份数据库成功！", or "备份数据库失败！" with the error's number and
// description. True when the server wrote the backup. An existing file is
// handled as ifExists says; on SQL Server a file that the server cannot tell
// to be absent counts as existing, as a backup without INIT would add to it.
// The path written goes to writtenTo. The one backup operation of the
// windows, ovsqlcli backup and ovsqlcli update.
bool DoBackup(const QString& server, const QString& database, bool trusted, const QString& user,
              const QString& password, const QString& pathFile, IfExists ifExists = IfExists::Refuse,
              QString* writtenTo = nullptr);
// The same on a server handle; a recording handle (ov::Server::record)
// writes the backup's statements and shows no success.
bool DoBackup(const ov::Server& server, const QString& database, const QString& pathFile,
              IfExists ifExists = IfExists::Refuse, QString* writtenTo = nullptr);

} // namespace mdlOVSqlBackup
