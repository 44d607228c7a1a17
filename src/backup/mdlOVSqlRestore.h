#pragma once

#include "data/DataError.h"
#include "data/ServerAdmin.h"

#include <QList>
#include <QString>
#include <QStringList>

// Restoring a product database from a backup file on its server, and reading
// what such a file holds. Shared by the restore window and ovsqlcli; the
// grid preparation of the restore window is in mdlOVSqlRestoreGrid.h.
namespace mdlOVSqlRestore {

// Restores database from backupFile (a path on the server) on a connection
// of its own to the server's Tempdb, without a time limit: logicalNames[i]
// goes to targetNames[i]; force restores over an existing database. Returns
// "" on success, otherwise the description of the first error (the login
// refused, the statement refused by the server). Shows nothing.
QString RestoreDatabase(const QString& server, const QString& database, const QString& login,
                        const QString& password, const QString& backupFile, const QStringList& logicalNames,
                        const QStringList& targetNames, bool force, bool trusted);

// What a backup file holds, read on a connection to Tempdb with a time-out of
// 10 seconds: its database files (RESTORE FILELISTONLY), then its header
// (RESTORE HEADERONLY).
struct BackupFileContents
{
    bool filesRead = false;  // the file list was read (files holds it)
    bool headerRead = false; // the header was read too
    QList<ov::BackupFileInfo> files;
    ov::BackupHeader header; // backupFinishDate invalid when the header has no row
    ov::DataError error;     // the first error, when one of the two failed
};
BackupFileContents ReadBackupFileContents(const QString& server, bool trusted, const QString& login,
                                          const QString& password, const QString& backupFile);

// "原备份日期：" with the finish date of the backup, as the restore window
// and ovsqlcli show it.
QString BackupDateText(const ov::BackupHeader& header);

} // namespace mdlOVSqlRestore
