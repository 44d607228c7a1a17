#pragma once

#include "common/mdlCommon.h"
#include "data/DataError.h"

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <memory>

namespace ov {

class Connection;

// How paths on a server are written: Windows style (backslash, drive letters)
// for SQL Server on Windows, POSIX style ("/") for SQL Server on Linux and for
// the embedded engine.
using PathStyle = mdlCommon::PathStyle;

// One database file recorded in a backup (a row of RESTORE FILELISTONLY).
struct BackupFileInfo
{
    QString logicalName;
    QString physicalName; // where the file was when the backup was made
    QString type;         // "D" data, "L" log
};

// What RESTORE HEADERONLY tells of one backup set of a backup file.
struct BackupHeader
{
    // The backup types of RESTORE HEADERONLY's BackupType that matter here.
    enum Type
    {
        FullDatabase = 1,
        TransactionLog = 2,
        DifferentialDatabase = 5
    };

    QString databaseName;
    QDateTime backupStartDate;
    QDateTime backupFinishDate;
    int position = 1;              // the set's number in its file, from 1, in the order written
    int backupType = FullDatabase; // BackupType: 1 full database, 2 log, 5 differential…
};

// One entry of a server folder.
struct FolderEntry
{
    QString name;
    bool isFolder = false;
};

// Counts of one bulk load.
struct BulkLoadResult
{
    qint64 rowsCopied = 0;
    qint64 rowsRejected = 0;
};

// A task's hold on one database of a server (see ServerAdmin::lockDatabase).
// It ends when the last handle to it is destroyed, or with the process.
class DatabaseLock
{
public:
    virtual ~DatabaseLock();

protected:
    DatabaseLock() = default;
};

// The management side of a server, one implementation per engine, made from
// the server name and the login: probe the server, list, create and drop its
// databases, bulk-load tab-delimited files; and the server-side file work of
// backup and restore. Each of these opens the connections it needs itself
// (SQL Server: one to master, or to the database itself for a backup; the
// embedded engine works on its folder), with the time-out setCommandTimeout
// gave. Only the folder browser's listing (listFolder, pathStyle) runs on the
// connection the browser window holds.
//
// Every operation returns false on failure and leaves the error in lastError().
class ServerAdmin
{
public:
    // The embedded engine for "sqlite:FOLDER", SQL Server for any other name.
    static std::unique_ptr<ServerAdmin> create(const QString& server, bool trusted, const QString& user,
                                               const QString& password);

    // What a server name tells without connecting, for callers that must
    // not care which engine answers it.
    //
    // The program folder, in which a server given as a relative folder lies;
    // set once at start-up (and by tests). Until then the current folder.
    static void setProgramFolder(const QString& folder);
    // The folder setProgramFolder gave last, with "/" separators; empty
    // until then.
    static QString programFolder();
    // The folder of a server that is a folder of this machine (the embedded
    // engine's "sqlite:FOLDER"), or an empty string for a server on the
    // network.
    static QString localFolder(const QString& server);
    // How paths on the server are most likely written, before any path of it
    // has been seen.
    static PathStyle likelyPathStyle(const QString& server);
    virtual ~ServerAdmin();

    const DataError& lastError() const { return m_error; }
    // The seconds each management statement may take; 0 (the default) waits
    // as long as the server needs.
    void setCommandTimeout(int seconds) { m_commandTimeout = seconds; }
    // "mssql" or "sqlite".
    virtual QString engine() const = 0;

    // Makes sure the server answers (SQL Server: a connection to master; the
    // embedded engine: its folder exists).
    virtual bool probe() = 0;
    // The names of the server's databases in the server's order.
    virtual bool listDatabases(QStringList& names) = 0;
    // Creates an empty database with the server's defaults and the two options
    // the program's databases need.
    virtual bool createDatabase(const QString& name) = 0;
    virtual bool dropDatabase(const QString& name) = 0;
    // Creates an empty database as createDatabase does, for a procedure that
    // builds it whole before anyone may use it. The embedded engine makes it
    // a hidden side file of the server folder, which the connections of this
    // process reach by the database's name and other processes do not see,
    // until publishDatabase gives it its name; a side file that a process
    // left when it died is removed by the next task on the folder. SQL Server
    // creates the database itself: its procedure marks it as unfinished
    // instead.
    virtual bool createUnpublished(const QString& name) { return createDatabase(name); }
    // Gives the database that createUnpublished made its name, on the disk
    // when the call returns. Every connection to it must be closed. An
    // existing database of that name stays and fails the call.
    virtual bool publishDatabase(const QString& name)
    {
        (void)name;
        return true;
    }
    // Removes what createUnpublished made when the procedure did not finish
    // (the embedded engine's side file; nothing on SQL Server).
    virtual void discardUnpublished(const QString& name) { (void)name; }
    // Loads a tab-delimited, CR LF-terminated text file (code page 936, or
    // UTF-8 after a byte-order mark) into the existing table of database, in
    // one server-side bulk path. Rows the server rejects go to errorFile, and
    // the counts to logFile; a rejected row does not stop the load.
    virtual bool bulkLoad(const QString& database, const QString& table, const QString& dataFile,
                          const QString& logFile, const QString& errorFile,
                          BulkLoadResult* result = nullptr) = 0;

    // Takes database for one task (an update, a creation, a restore) while
    // the handle lives. When another process holds it, the call fails at once,
    // without waiting, with the number DataErr::LockTimeout. Within one
    // process the calls for one database share one hold, so a task that runs
    // another inside it (the create procedure runs the script runner) does not
    // refuse itself. The database need not exist.
    std::shared_ptr<DatabaseLock> lockDatabase(const QString& database);

    // Writes a full backup of database into pathFile on the server. An
    // existing file is replaced only with replace; without it the backup is
    // refused before anything is written when the file exists, or when the
    // server cannot tell whether it does (SQL Server would add the backup to
    // the sets of an existing file).
    virtual bool backupDatabase(const QString& database, const QString& pathFile, bool replace = false) = 0;
    // Whether pathFile exists on the server, as a backup would find it. False
    // (with the error) when the server cannot tell.
    virtual bool backupFileExists(const QString& pathFile, bool& exists) = 0;
    // The database files that backup set backupSet of pathFile holds, in
    // order. The embedded engine's backup files hold one set.
    virtual bool readBackupFileList(const QString& pathFile, QList<BackupFileInfo>& files,
                                    int backupSet = 1) = 0;
    // The header of the first backup set of pathFile.
    virtual bool readBackupHeader(const QString& pathFile, BackupHeader& header) = 0;
    // The headers of every backup set of pathFile, in the order written. The
    // engines whose backup files hold one set answer its header.
    virtual bool readBackupSets(const QString& pathFile, QList<BackupHeader>& sets);
    // Restores database from backup set backupSet of pathFile, each logical
    // file moved to its target path (first: logical name, second: target);
    // replace allows overwriting an existing database. The backup set is
    // checked whole, with the same targets, before anything is restored from
    // it.
    virtual bool restoreDatabase(const QString& database, const QString& pathFile,
                                 const QList<QPair<QString, QString>>& moves, bool replace,
                                 int backupSet = 1) = 0;
    // Where file of a backup goes when database is restored from it and the
    // user changes nothing: the path recorded in the backup, unless the
    // engine keeps the database's file in a place of its own.
    virtual QString proposedTarget(const QString& database, const BackupFileInfo& file) const
    {
        (void)database;
        return file.physicalName;
    }
    // Why the engine refuses to restore database's file logicalName (the
    // first file of the backup) to target, in the user's words; empty when it
    // takes it. Asks nothing of the server.
    virtual QString refusedTarget(const QString& database, const QString& logicalName,
                                  const QString& target) const
    {
        (void)database;
        (void)logicalName;
        (void)target;
        return QString();
    }
    // The entries of a folder on the server: folders first, then files, each
    // group by name.
    virtual bool listFolder(Connection& cn, const QString& folder, QList<FolderEntry>& entries) = 0;
    // How the server writes paths; Windows when it cannot be told.
    virtual PathStyle pathStyle(Connection& cn) = 0;

protected:
    ServerAdmin() = default;
    // The same text for every spelling of a database's name on this server.
    virtual QString lockKey(const QString& database) const = 0;
    // Takes the engine's lock on database without waiting; nullptr with the
    // error set when it cannot.
    virtual std::unique_ptr<DatabaseLock> takeLock(const QString& database) = 0;
    bool fail(qint32 number, const QString& description, const QString& source);
    bool fail(const DataError& error);
    // Refuses a connection of another engine than this server's.
    bool requireEngine(Connection& cn, const QString& engine);

    DataError m_error;
    int m_commandTimeout = 0;
};

} // namespace ov
