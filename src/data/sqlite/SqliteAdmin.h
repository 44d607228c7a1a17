#pragma once

#include "data/ServerAdmin.h"

#include <QFileInfo>

#include <future>

namespace ov {

// The embedded engine's server management: databases are files of the server
// folder; backups are SQLite databases written with SQLite's online backup API
// that also carry a small table describing the backup (what the file-list and
// header readers report); the folder browser lists the local file system.
class SqliteAdmin : public ServerAdmin
{
public:
    explicit SqliteAdmin(const QString& folder);

    QString engine() const override { return QStringLiteral("sqlite"); }
    QString folder() const { return m_folder; }

    bool probe() override;
    bool listDatabases(QStringList& names) override;
    bool createDatabase(const QString& name) override;
    bool dropDatabase(const QString& name) override;
    bool createUnpublished(const QString& name) override;
    bool publishDatabase(const QString& name) override;
    void discardUnpublished(const QString& name) override;
    bool bulkLoad(const QString& database, const QString& table, const QString& dataFile,
                  const QString& logFile, const QString& errorFile,
                  BulkLoadResult* result = nullptr) override;

    bool backupDatabase(const QString& database, const QString& pathFile, bool replace) override;
    bool backupFileExists(const QString& pathFile, bool& exists) override;
    bool readBackupFileList(const QString& pathFile, QList<BackupFileInfo>& files, int backupSet) override;
    bool readBackupHeader(const QString& pathFile, BackupHeader& header) override;
    bool restoreDatabase(const QString& database, const QString& pathFile,
                         const QList<QPair<QString, QString>>& moves, bool replace, int backupSet) override;
    QString proposedTarget(const QString& database, const BackupFileInfo& file) const override;
    QString refusedTarget(const QString& database, const QString& logicalName,
                          const QString& target) const override;
    bool listFolder(Connection& cn, const QString& folder, QList<FolderEntry>& entries) override;
    PathStyle pathStyle(Connection& cn) override;

    // The table inside a backup file that describes it.
    static QString backupSetTable();

protected:
    QString lockKey(const QString& database) const override;
    std::unique_ptr<DatabaseLock> takeLock(const QString& database) override;

private:
    bool requireFolder();
    // Makes file a database of the engine (it exists, empty); removes it and
    // fails when it cannot be.
    bool initDatabaseFile(const QString& file);
    // Removes the side files of new databases whose building process is gone:
    // a side file whose database's task lock nobody holds. The lock of
    // heldName is the caller's own.
    void removeDeadSideFiles(const QString& heldName = QString());
    bool checkDatabase(const QString& name);
    // checkDatabase, and no database of that name is there.
    bool checkNewDatabase(const QString& name);
    bool readBackupSet(const QString& pathFile, QList<BackupFileInfo>* files, BackupHeader* header,
                       int limitSeconds);
    // The time limit of reading a backup's description, in seconds: the
    // command time-out when it is shorter than the engine's own limit.
    int readLimit() const;
    // What is wrong with a backup file: its content does not match the
    // checksum it carries, or SQLite's integrity check finds a fault; empty
    // when both pass.
    static QString backupDamage(const QString& pathFile);
    bool failDamaged(const QString& pathFile, const QString& damage);
    // Restores the backup at pathFile as the database file file, over the
    // database there when over is set; the copy takes the file's name only
    // when damage, the check running beside it, finds nothing.
    bool restoreFile(const QString& name, const QString& pathFile, const QString& file, bool over,
                     std::future<QString>& damage);
    // A database file (or its journal) of the server folder.
    bool isServerFile(const QFileInfo& file) const;
    // A backup file of this engine holds one backup set, number 1.
    bool requireOnlySet(const QString& pathFile, int backupSet);
    // The file the database name has in the server folder: the existing
    // one, or the one a new database gets.
    QString databaseFile(const QString& name) const;
    // refusedTarget for a name already taken out of its quotes.
    QString refusedTargetOf(const QString& name, const QString& logicalName, const QString& target) const;

    QString m_folder;
};

} // namespace ov
