#pragma once

#include "data/Server.h"
#include "data/ServerAdmin.h"

namespace ov {

// SQL Server's management: T-SQL on a connection to master through ODBC,
// bulk loads through DB-Library's bulk copy, and the backup, restore and
// folder-listing statements on the caller's connection.
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

    bool backupDatabase(Connection& cn, const QString& database, const QString& pathFile,
                        bool replace) override;
    bool backupFileExists(Connection& cn, const QString& pathFile, bool& exists) override;
    bool readBackupFileList(Connection& cn, const QString& pathFile, QList<BackupFileInfo>& files,
                            int backupSet) override;
    bool readBackupHeader(Connection& cn, const QString& pathFile, BackupHeader& header) override;
    bool readBackupSets(Connection& cn, const QString& pathFile, QList<BackupHeader>& sets) override;
    bool restoreDatabase(Connection& cn, const QString& database, const QString& pathFile,
                         const QList<QPair<QString, QString>>& moves, bool replace, int backupSet) override;
    bool listFolder(Connection& cn, const QString& folder, QList<FolderEntry>& entries) override;
    PathStyle pathStyle(Connection& cn) override;

protected:
    QString lockKey(const QString& database) const override;
    std::unique_ptr<DatabaseLock> takeLock(const QString& database) override;

private:
    bool openMaster(Connection& cn);
    bool run(Connection& cn, const QString& statement);
    bool requireBackupSet(int backupSet);
    // The bulk copy of the rows of dataFile that fit the table's columns;
    // those that do not go to errorFile, before those the server refuses.
    bool checkedBulkCopy(const QString& database, const QString& table, const QString& dataFile,
                         const QString& errorFile, qint64& copied, QStringList& messages);

    Server m_server;
};

} // namespace ov
