#pragma once

#include "common/mdlCommon.h"

#include <QDateTime>
#include <QString>

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

// Writes a full backup of database into pathFile on the server, on a
// connection to that database without a time limit, and tells the user how
// it went: "备份数据库成功！", or "备份数据库失败！" with the error's number and
// description. True when the server wrote the backup. An existing file is
// replaced only with replace (the embedded engine; SQL Server adds to a
// backup file and never replaces one). The one backup operation of the
// windows, ovsqlcli backup and ovsqlcli update.
bool DoBackup(const QString& server, const QString& database, bool trusted, const QString& user,
              const QString& password, const QString& pathFile, bool replace = false);

} // namespace mdlOVSqlBackup
