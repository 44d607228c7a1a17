#pragma once

#include "data/Server.h"
#include "data/ServerAdmin.h"

namespace ov {

// SQL Server's management: T-SQL on a connection to master through ODBC,
// bulk loads through DB-Library's bulk copy, the backup and restore
// statements on connections of its own, and the folder-listing statements on
// the caller's connection.
class MssqlAdmin : public ServerAdmin
{
public:
    explicit MssqlAdmin(Server server);
    MssqlAdmin(const QString& server, bool trusted, const QString& user, const QString& password)
        : MssqlAdmin(Server({server, QString(), trusted, user, password}))
    {}

    QString engine() const override { return QStringLiteral("mssql"); }

    bool probe() override;
    bool listDatabases(QStringList& names) override;
    bool createDatabase(const QString& name) override;
    bool dropDatabase(const QString& name) override;
    bool bulkLoad(const QString& database, const QString& table, const QString& dataFile,
                  const QString& logFile, const QString& errorFile,
                  BulkLoadResult* result = nullptr) override;

    bool backupDatabase(const QString& database, const QString& pathFile, bool replace) override;
    bool backupFileExists(const QString& pathFile, bool& exists) override;
    bool readBackupFileList(const QString& pathFile, QList<BackupFileInfo>& files, int backupSet) override;
    bool readBackupHeader(const QString& pathFile, BackupHeader& header) override;
    bool readBackupSets(const QString& pathFile, QList<BackupHeader>& sets) override;
    bool restoreDatabase(const QString& database, const QString& pathFile,
                         const QList<QPair<QString, QString>>& moves, bool replace, int backupSet) override;
    bool listFolder(Connection& cn, const QString& folder, QList<FolderEntry>& entries) override;
    PathStyle pathStyle(Connection& cn) override;

protected:
    QString lockKey(const QString& database) const override;
    std::unique_ptr<DatabaseLock> takeLock(const QString& database) override;

private:
    // Opens cn on database (master when empty) with the handle's login,
    // the command time-out setCommandTimeout gave and a 30-second login.
    bool openOn(Connection& cn, const QString& database);
    bool openMaster(Connection& cn) { return openOn(cn, QString()); }
    // backupFileExists on an open connection.
    bool fileExists(Connection& cn, const QString& pathFile, bool& exists);
    bool run(Connection& cn, const QString& statement);
    bool requireBackupSet(int backupSet);
    // The bulk copy of the rows of dataFile that fit the table's columns;
    // those that do not go to errorFile, before those the server refuses.
    bool checkedBulkCopy(const QString& database, const QString& table, const QString& dataFile,
                         const QString& errorFile, qint64& copied, QStringList& messages);

    Server m_server;
};

} // namespace ov
