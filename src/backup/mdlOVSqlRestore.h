#pragma once

#include "data/DataError.h"
#include "data/ServerAdmin.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace ov {
class Server;
} // namespace ov

// Restoring a product database from a backup file on its server, and reading
// what such a file holds. Shared by the restore window and ovsqlcli; the
// grid preparation of the restore window is in mdlOVSqlRestoreGrid.h.
namespace mdlOVSqlRestore {

// Restores database from backup set backupSet of backupFile (a path on the
// server) on a connection of its own to the server's Tempdb, without a time
// limit: logicalNames[i] goes to targetNames[i]; force restores over an
// existing database. backupSet is the set that was read and shown (see
// ReadBackupFileContents); 0 takes the set ChooseBackupSet chooses now.
// Returns "" on success, otherwise the description of the first error (the
// login refused, the statement refused by the server). Shows nothing.
QString RestoreDatabase(const QString& server, const QString& database, const QString& login,
                        const QString& password, const QString& backupFile, const QStringList& logicalNames,
                        const QStringList& targetNames, bool force, bool trusted, int backupSet = 0);
// The same on a server handle; a recording handle (ov::Server::record)
// writes the restore's statements.
QString RestoreDatabase(const ov::Server& server, const QString& database, const QString& backupFile,
                        const QStringList& logicalNames, const QStringList& targetNames, bool force,
                        int backupSet = 0);

// Where file of a backup is proposed to go when database of server is
// restored from it: the path recorded in the backup on SQL Server; on the
// embedded engine, which keeps every database as a file of its folder, the
// file the name database has there, so that the proposal follows the name.
QString ProposedTarget(const QString& server, const QString& database, const ov::BackupFileInfo& file);

// Why server refuses to restore database with the first logical file going
// to the first target, in the user's words; empty when it takes them or can
// only tell by restoring. Asks nothing of the server.
QString RefusedTargets(const QString& server, const QString& database, const QStringList& logicalNames,
                       const QStringList& targetNames);

// The backup set of a file that a restore into database uses, as an index
// into sets (the file's sets in the order written), or -1 when the file
// holds no full database backup. A file may hold several sets (backups
// added to it, differential and log backups, backups of other databases):
// the set is the last full database backup of database written into the
// file, names compared without case; when the file holds no backup of
// database (a backup restored under another name), the last full database
// backup in the file. database may be empty.
int ChooseBackupSet(const QList<ov::BackupHeader>& sets, const QString& database);

// What a backup file holds, read on a connection to Tempdb with a time-out of
// 10 seconds: its backup sets (RESTORE HEADERONLY), the set a restore into
// database uses (ChooseBackupSet), and that set's database files (RESTORE
// FILELISTONLY).
struct BackupFileContents
{
    bool setsRead = false;   // the sets were read (sets holds them)
    bool headerRead = false; // a set to restore was found (header is it)
    bool filesRead = false;  // its file list was read too (files holds it)
    QList<ov::BackupHeader> sets;
    QList<ov::BackupFileInfo> files;
    ov::BackupHeader header; // the set restored; backupFinishDate invalid when unknown
    ov::DataError error;     // the first error, when a step failed
};
BackupFileContents ReadBackupFileContents(const QString& server, bool trusted, const QString& login,
                                          const QString& password, const QString& backupFile,
                                          const QString& database = QString());

// "原备份日期：" with the finish date of the backup, as the restore window
// and ovsqlcli show it.
QString BackupDateText(const ov::BackupHeader& header);
// The same for the set a restore uses; when the file holds more than one
// set, it says which one and of which database.
QString BackupDateText(const BackupFileContents& contents);
// One line that describes a backup set: its number, kind, database and
// finish date, separated by tabs.
QString BackupSetLine(const ov::BackupHeader& set);

} // namespace mdlOVSqlRestore
