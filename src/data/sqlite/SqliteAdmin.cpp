#include "data/sqlite/SqliteAdmin.h"

#include "common/Clock.h"
#include "common/FileCommit.h"
#include "common/mdlCommon.h"
#include "data/Connection.h"
#include "data/DataBackend.h"
#include "data/sqlite/EmbeddedServer.h"
#include "data/sqlite/FileLock.h"
#include "data/sqlite/SqliteBackend.h"
#include "data/sqlite/TabFileLoader.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryFile>

#include <filesystem>
#include <functional>
#include <future>
#include <system_error>

#include <sqlite3.h>

#ifdef Q_OS_WIN
#include <windows.h>
#endif
#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace ov {

namespace {

// Marks the files the embedded engine makes ("OVDB").
constexpr int kApplicationId = 0x4F564442;
// How long a restore waits for other connections to let go of the database.
constexpr int kExclusiveWaitMs = 2000;
// The longest a backup's description may take to read, in seconds: a crafted
// file must not hold the reader for ever.
constexpr int kReadLimitSeconds = 10;

const char* const kSetTable = "_ov_backup_set";

// A raw SQLite handle that closes itself.
class Handle
{
public:
    Handle() = default;
    ~Handle() { close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    int open(const QString& path, int flags)
    {
        close();
        const QByteArray file = QFile::encodeName(path);
        const int rc = sqlite3_open_v2(file.constData(), &m_db, flags, nullptr);
        if (rc == SQLITE_OK)
            sqlite3_extended_result_codes(m_db, 1);
        return rc;
    }
    void close()
    {
        if (m_db)
            sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
    sqlite3* get() const { return m_db; }
    QString message() const { return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString(); }
    int code() const { return m_db ? sqlite3_extended_errcode(m_db) : SQLITE_CANTOPEN; }

private:
    sqlite3* m_db = nullptr;
};

// Copies the main database of src into dest with the online backup API. A
// database another connection holds is waited for up to waitMs. With
// mayCommit, the copy goes in steps and asks it before the step that commits
// the copy to dest; when it says no, the copy is rolled back and the result is
// SQLITE_ABORT.
int copyDatabase(sqlite3* dest, sqlite3* src, int waitMs, const std::function<bool()>& mayCommit = {})
{
    sqlite3_backup* backup = sqlite3_backup_init(dest, "main", src, "main");
    if (!backup)
        return sqlite3_extended_errcode(dest);
    // Pages per step when the commit waits for mayCommit; no step commits
    // before the copy knows how many pages remain.
    constexpr int kStepPages = 4096;
    int pages = mayCommit ? 0 : -1;
    bool asked = false;
    QElapsedTimer clock;
    clock.start();
    int rc = SQLITE_OK;
    for (;;) {
        if (mayCommit && !asked && pages > 0 && sqlite3_backup_remaining(backup) <= kStepPages) {
            asked = true;
            if (!mayCommit()) {
                rc = SQLITE_ABORT;
                break;
            }
        }
        rc = sqlite3_backup_step(backup, pages);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
            if (clock.elapsed() > waitMs)
                break;
            sqlite3_sleep(20);
            continue;
        }
        if (rc != SQLITE_OK)
            break;
        if (mayCommit)
            pages = kStepPages;
    }
    // Finishing a copy that did not end rolls back what it wrote to dest.
    const int finish = sqlite3_backup_finish(backup);
    return rc == SQLITE_DONE ? finish : rc;
}

QString isoText(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QDateTime fromIsoText(const QString& text)
{
    QString iso = text;
    if (iso.size() > 10 && iso[10] == QLatin1Char(' '))
        iso[10] = QLatin1Char('T');
    return QDateTime::fromString(iso, Qt::ISODateWithMs);
}

bool samePath(const QString& a, const QString& b)
{
    const QFileInfo fa(QDir::cleanPath(QDir::fromNativeSeparators(a)));
    const QFileInfo fb(QDir::cleanPath(QDir::fromNativeSeparators(b)));
    if (fa.fileName().compare(fb.fileName(), Qt::CaseInsensitive) != 0)
        return false;
    const QString da = QFileInfo(fa.absolutePath()).canonicalFilePath();
    const QString db = QFileInfo(fb.absolutePath()).canonicalFilePath();
    return !da.isEmpty() ? da == db : fa.absolutePath() == fb.absolutePath();
}

void removeDatabaseFiles(const QString& file)
{
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        QFile::remove(file + QLatin1String(suffix));
}

// A task's hold on a database: its task lock file, locked exclusively.
class EmbeddedDatabaseLock : public DatabaseLock
{
public:
    embedded::FileLock file;
};

// Stops a statement once its time is up.
struct Deadline
{
    QElapsedTimer clock;
    qint64 limitMs = 0;
    bool expired = false;

    static int check(void* self)
    {
        auto* d = static_cast<Deadline*>(self);
        d->expired = d->clock.elapsed() > d->limitMs;
        return d->expired ? 1 : 0;
    }
};

// True when the backup description of the file at pathFile is a table. The
// restore removes it from the restored database with DROP TABLE, after the
// copy has committed; a view or anything else of that name makes the file no
// backup to restore.
bool describedByTable(const QString& pathFile)
{
    Handle db;
    sqlite3_stmt* stmt = nullptr;
    const QByteArray sql =
        QByteArray("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = '") + kSetTable + "'";
    const bool table = db.open(pathFile, SQLITE_OPEN_READONLY) == SQLITE_OK &&
                       sqlite3_prepare_v2(db.get(), sql.constData(), -1, &stmt, nullptr) == SQLITE_OK &&
                       sqlite3_step(stmt) == SQLITE_ROW;
    sqlite3_finalize(stmt);
    return table;
}

} // namespace

SqliteAdmin::SqliteAdmin(const QString& folder) : m_folder(folder) {}

QString SqliteAdmin::backupSetTable()
{
    return QLatin1String(kSetTable);
}

bool SqliteAdmin::requireFolder()
{
    if (QFileInfo(m_folder).isDir())
        return true;
    return fail(17, QStringLiteral("The folder '%1' of the embedded server does not exist.").arg(m_folder),
                embedded::errorSource());
}

bool SqliteAdmin::checkDatabase(const QString& name)
{
    return embedded::checkName(name, QStringLiteral("database"), m_error) && requireFolder();
}

bool SqliteAdmin::probe()
{
    m_error.clear();
    // The embedded server is its folder. One that is not there is a server
    // that cannot be reached, as for every other task: a mistyped name must
    // not quietly become a new server.
    return requireFolder();
}

bool SqliteAdmin::listDatabases(QStringList& names)
{
    m_error.clear();
    names.clear();
    if (!requireFolder())
        return false;
    removeDeadSideFiles();
    names = embedded::listDatabases(m_folder);
    return true;
}

bool SqliteAdmin::createDatabase(const QString& typed)
{
    m_error.clear();
    const QString name = unquotedName(typed);
    if (!checkDatabase(name))
        return false;
    if (embedded::isTempdb(name) || !embedded::findDatabaseFile(m_folder, name).isEmpty())
        return fail(
            1801, QStringLiteral("Database '%1' already exists. Choose a different database name.").arg(name),
            embedded::errorSource());
    // A SQLite database needs neither of the two options a SQL Server database
    // gets here: it keeps no transaction log between transactions, and it is
    // never closed behind the program's back. The file is made only when no
    // file of that name is there (another creation may have made it since
    // the check above), and only a file this call made is removed again. It
    // is written at once, so the new database is a complete (empty) database
    // file, marked as one of the engine's.
    const QString file = embedded::newDatabaseFile(m_folder, name);
    {
        QFile made(file);
        if (!made.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFileInfo(file).exists() || QFileInfo(file).isSymLink())
                return fail(1801,
                            QStringLiteral("Database '%1' already exists. Choose a different database name.")
                                .arg(name),
                            embedded::errorSource());
            return fail(5123,
                        QStringLiteral("CREATE FILE encountered an error while attempting to create '%1': %2")
                            .arg(file, made.errorString()),
                        embedded::errorSource());
        }
    }
    return initDatabaseFile(file);
}

bool SqliteAdmin::initDatabaseFile(const QString& file)
{
    Handle db;
    int rc = db.open(file, SQLITE_OPEN_READWRITE);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(
            db.get(), QByteArray("PRAGMA application_id=" + QByteArray::number(kApplicationId)).constData(),
            nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        fail(db.code(), QStringLiteral("%1 (%2)").arg(db.message(), file), QStringLiteral("SQLite"));
        db.close();
        removeDatabaseFiles(file);
        return false;
    }
    return true;
}

bool SqliteAdmin::createUnpublished(const QString& typed)
{
    m_error.clear();
    const QString name = unquotedName(typed);
    if (!checkDatabase(name))
        return false;
    if (embedded::isTempdb(name) || !embedded::findDatabaseFile(m_folder, name).isEmpty())
        return fail(
            1801, QStringLiteral("Database '%1' already exists. Choose a different database name.").arg(name),
            embedded::errorSource());
    removeDeadSideFiles(name);
    // The side file is new (QTemporaryFile makes it only when no file has
    // its name) and hidden; its name tells whose database it is, so that
    // once its process is gone the next task on the folder knows it for a
    // leftover.
    QString side;
    {
        QTemporaryFile made(
            QDir(m_folder).filePath(embedded::sideFilePrefix(name) + QStringLiteral("XXXXXX")));
        made.setAutoRemove(false);
        if (!made.open())
            return fail(5123,
                        QStringLiteral("CREATE FILE encountered an error while attempting to create '%1': %2")
                            .arg(embedded::newDatabaseFile(m_folder, name), made.errorString()),
                        embedded::errorSource());
        side = made.fileName();
    }
    if (!initDatabaseFile(side))
        return false;
    embedded::stageDatabase(m_folder, name, side);
    return true;
}

bool SqliteAdmin::publishDatabase(const QString& typed)
{
    m_error.clear();
    const QString name = unquotedName(typed);
    const QString side = embedded::stagedDatabaseFile(m_folder, name);
    if (side.isEmpty())
        return fail(911,
                    QStringLiteral("Database '%1' is not being created by this program; there is nothing to "
                                   "give its name.")
                        .arg(name),
                    embedded::errorSource());
    const QString file = embedded::newDatabaseFile(m_folder, name);
    // The whole database is on the disk before it takes its name, and the
    // name is on the disk before the procedure says it is done. A database
    // of that name that appeared meanwhile stays.
    if (!syncFile(side))
        return fail(5123,
                    QStringLiteral("The file '%1' of database '%2' could not be flushed to the disk.")
                        .arg(file, name),
                    embedded::errorSource());
    const QString existing = [&] {
        embedded::unstageDatabase(m_folder, name);
        const QString found = embedded::findDatabaseFile(m_folder, name);
        embedded::stageDatabase(m_folder, name, side);
        return found;
    }();
    if (!existing.isEmpty() || !renameIfFree(side, file))
        return fail(
            1801, QStringLiteral("Database '%1' already exists. Choose a different database name.").arg(name),
            embedded::errorSource());
    embedded::unstageDatabase(m_folder, name);
    mdlCommon::SyncFolder(m_folder);
    removeDatabaseFiles(side);
    QFile::remove(embedded::useLockFile(side));
    return true;
}

void SqliteAdmin::discardUnpublished(const QString& typed)
{
    const QString name = unquotedName(typed);
    const QString side = embedded::stagedDatabaseFile(m_folder, name);
    if (side.isEmpty())
        return;
    embedded::unstageDatabase(m_folder, name);
    removeDatabaseFiles(side);
    QFile::remove(embedded::useLockFile(side));
}

void SqliteAdmin::removeDeadSideFiles(const QString& heldName)
{
    const QDir dir(m_folder);
    const QStringList files =
        dir.entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden | QDir::System);
    QHash<QString, QStringList> byDatabase;
    for (const QString& file : files) {
        const QString name = embedded::sideFileDatabase(file);
        if (!name.isEmpty())
            byDatabase[name.toCaseFolded()].append(file);
    }
    for (auto it = byDatabase.cbegin(); it != byDatabase.cend(); ++it) {
        // The process that builds a database holds its task lock until the
        // database has its name: a lock that can be taken has no holder.
        // Held by the caller, it is the caller's own task, which builds
        // nothing yet.
        embedded::FileLock probe;
        const bool own = !heldName.isEmpty() && heldName.toCaseFolded() == it.key();
        if (!own && probe.take(embedded::taskLockFile(m_folder, it.key()),
                               embedded::FileLock::Mode::Exclusive) != embedded::FileLock::Result::Taken)
            continue;
        for (const QString& file : it.value()) {
            // Never one this process builds under that name.
            QString sideName;
            embedded::sideFileDatabase(file, &sideName);
            if (embedded::stagedDatabaseFile(m_folder, it.key()) == dir.filePath(sideName))
                continue;
            QFile::remove(dir.filePath(file));
        }
    }
}

bool SqliteAdmin::dropDatabase(const QString& typed)
{
    m_error.clear();
    const QString name = unquotedName(typed);
    if (!checkDatabase(name))
        return false;
    if (embedded::isTempdb(name))
        return fail(
            3708, QStringLiteral("Cannot drop the database '%1' because it is a system database.").arg(name),
            embedded::errorSource());
    const QString file = embedded::findDatabaseFile(m_folder, name);
    if (file.isEmpty())
        return fail(
            3701,
            QStringLiteral("Cannot drop the database '%1', because it does not exist or you do not have "
                           "permission.")
                .arg(name),
            embedded::errorSource());
    // A database that a connection of any process is using stays; one whose
    // file is damaged, or no database at all, goes like any other.
    embedded::FileLock exclusive;
    const embedded::FileLock::Result taken =
        exclusive.take(embedded::useLockFile(file), embedded::FileLock::Mode::Exclusive);
    if (taken == embedded::FileLock::Result::Busy)
        return fail(3702,
                    QStringLiteral("Cannot drop database \"%1\" because it is currently in use.").arg(name),
                    embedded::errorSource());
    if (taken == embedded::FileLock::Result::Failed)
        return fail(3702, exclusive.errorString(), embedded::errorSource());
    {
        // A program other than this one that holds a lock on the file stays
        // too; anything else the file says (not a database, damaged) does not
        // keep it.
        Handle db;
        int rc = db.open(file, SQLITE_OPEN_READWRITE);
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db.get(), "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
        if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED)
            return fail(
                3702, QStringLiteral("Cannot drop database \"%1\" because it is currently in use.").arg(name),
                embedded::errorSource());
        if (rc == SQLITE_OK)
            sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
    if (!QFile::remove(file))
        return fail(3702, QStringLiteral("Cannot remove the file '%1' of database \"%2\".").arg(file, name),
                    embedded::errorSource());
    removeDatabaseFiles(file);
    return true;
}

bool SqliteAdmin::bulkLoad(const QString& database, const QString& table, const QString& dataFile,
                           const QString& logFile, const QString& errorFile, BulkLoadResult* result)
{
    m_error.clear();
    if (!embedded::checkName(table, QStringLiteral("table"), m_error))
        return false;
    std::unique_ptr<SqliteBackend> db = SqliteBackend::open(m_folder, database, 0, m_error);
    if (!db)
        return false;
    BulkLoadResult counts;
    const bool ok = embedded::loadTabFile(db->handle(), unquotedName(database), table, dataFile, logFile,
                                          errorFile, counts, m_error);
    if (result)
        *result = counts;
    return ok;
}

bool SqliteAdmin::backupDatabase(Connection& cn, const QString& database, const QString& pathFile,
                                 bool replace)
{
    m_error.clear();
    if (!requireEngine(cn, engine()))
        return false;
    const QString name = unquotedName(database);
    if (embedded::isTempdb(name))
        return fail(3147, QStringLiteral("Backup and restore operations are not allowed on database tempdb."),
                    embedded::errorSource());
    if (!checkDatabase(name))
        return false;
    const QString source = embedded::findDatabaseFile(m_folder, name);
    if (source.isEmpty())
        return fail(
            911,
            QStringLiteral("Database '%1' does not exist. Make sure that the name is entered correctly.")
                .arg(name),
            embedded::errorSource());
    const QFileInfo target(pathFile);
    if (pathFile.trimmed().isEmpty() || !target.absoluteDir().exists() || target.isDir())
        return fail(
            3201,
            QStringLiteral("Cannot open backup device '%1'. Operating system error 3(The system cannot find "
                           "the path specified.).")
                .arg(pathFile),
            embedded::errorSource());
    // The files of the server's databases are never a backup's target, asked
    // or not; any other existing file is replaced only when asked to.
    if (isServerFile(target))
        return fail(3201,
                    QStringLiteral("Cannot open backup device '%1'. The file already exists and belongs to a "
                                   "database of this server; a backup never replaces it.")
                        .arg(pathFile),
                    embedded::errorSource());
    if (target.exists() && !replace)
        return fail(3201,
                    QStringLiteral("Cannot open backup device '%1'. The file already exists; a backup "
                                   "replaces an existing file only when asked to.")
                        .arg(pathFile),
                    embedded::errorSource());

    // The backup is written beside the target and takes its name only when it
    // is complete and on the disk: a failed or killed backup leaves the
    // target as it was, and no half-written file under its name.
    const QString part = newPartFile(target);
    if (part.isEmpty())
        return fail(
            3201,
            QStringLiteral("Cannot open backup device '%1'. Operating system error 5(Access is denied.).")
                .arg(pathFile),
            embedded::errorSource());
    const QDateTime started = Clock::now();
    Handle src;
    Handle dest;
    int rc = src.open(source, SQLITE_OPEN_READONLY);
    if (rc != SQLITE_OK) {
        fail(src.code(), QStringLiteral("%1 (%2)").arg(src.message(), source), QStringLiteral("SQLite"));
        removeDatabaseFiles(part);
        return false;
    }
    rc = dest.open(part, SQLITE_OPEN_READWRITE);
    // A file nobody else sees needs no journal; it is flushed once, whole,
    // before it is renamed.
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(dest.get(), "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF", nullptr, nullptr,
                          nullptr);
    if (rc == SQLITE_OK)
        rc = copyDatabase(dest.get(), src.get(), kExclusiveWaitMs);
    src.close();
    sqlite3_stmt* insert = nullptr;
    if (rc == SQLITE_OK) {
        const QByteArray sql = QByteArray("DROP TABLE IF EXISTS ") + kSetTable + ";CREATE TABLE " +
                               kSetTable +
                               " (LogicalName TEXT, PhysicalName TEXT, Type TEXT, DatabaseName TEXT, "
                               "BackupStartDate TEXT, BackupFinishDate TEXT)";
        rc = sqlite3_exec(dest.get(), sql.constData(), nullptr, nullptr, nullptr);
    }
    if (rc == SQLITE_OK)
        rc = sqlite3_prepare_v2(
            dest.get(), (QByteArray("INSERT INTO ") + kSetTable + " VALUES (?,?,?,?,?,?)").constData(), -1,
            &insert, nullptr);
    if (rc == SQLITE_OK) {
        const QString logical = QFileInfo(source).completeBaseName();
        const QVariant values[] = {logical,
                                   QFileInfo(source).absoluteFilePath(),
                                   QStringLiteral("D"),
                                   logical,
                                   isoText(started),
                                   isoText(Clock::now())};
        for (int i = 0; i < 6; ++i)
            sqlitevalue::bind(insert, i + 1, values[i]);
        rc = sqlite3_step(insert) == SQLITE_DONE ? SQLITE_OK : sqlite3_extended_errcode(dest.get());
    }
    sqlite3_finalize(insert);
    if (rc != SQLITE_OK) {
        fail(dest.get() ? dest.code() : rc, QStringLiteral("%1 (%2)").arg(dest.message(), pathFile),
             QStringLiteral("SQLite"));
        dest.close();
        removeDatabaseFiles(part);
        return false;
    }
    dest.close();
    if (!syncFile(part)) {
        removeDatabaseFiles(part);
        return fail(3201,
                    QStringLiteral("Cannot open backup device '%1'. The backup could not be flushed to the "
                                   "disk.")
                        .arg(pathFile),
                    embedded::errorSource());
    }
    if (!renameOver(part, target.absoluteFilePath(), replace)) {
        removeDatabaseFiles(part);
        return fail(3201,
                    replace || !(QFileInfo::exists(target.absoluteFilePath()) ||
                                 QFileInfo(target.absoluteFilePath()).isSymLink())
                        ? QStringLiteral("Cannot open backup device '%1'. Operating system error 5(Access is "
                                         "denied.).")
                              .arg(pathFile)
                        : QStringLiteral("Cannot open backup device '%1'. The file already exists; a backup "
                                         "replaces an existing file only when asked to.")
                              .arg(pathFile),
                    embedded::errorSource());
    }
    mdlCommon::SyncFolder(target.absolutePath());
    return true;
}

bool SqliteAdmin::isServerFile(const QFileInfo& file) const
{
    // The database files and their journals of the server folder.
    const QString folder = QFileInfo(m_folder).canonicalFilePath();
    const QString dir = QFileInfo(file.absolutePath()).canonicalFilePath();
    return !folder.isEmpty() && dir == folder &&
           file.fileName().contains(QLatin1String(".sqlite"), Qt::CaseInsensitive);
}

bool SqliteAdmin::readBackupSet(const QString& pathFile, QList<BackupFileInfo>* files, BackupHeader* header,
                                int limitSeconds)
{
    if (!QFileInfo(pathFile).isFile())
        return fail(
            3201,
            QStringLiteral("Cannot open backup device '%1'. Operating system error 2(The system cannot find "
                           "the file specified.).")
                .arg(pathFile),
            embedded::errorSource());
    Handle db;
    int rc = db.open(pathFile, SQLITE_OPEN_READONLY);
    // The file may be anyone's: its schema runs no function that could do
    // harm, and the read ends when its time is up.
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db.get(), "PRAGMA trusted_schema=OFF", nullptr, nullptr, nullptr);
    Deadline deadline;
    deadline.limitMs = qint64(limitSeconds) * 1000;
    deadline.clock.start();
    if (rc == SQLITE_OK)
        sqlite3_progress_handler(db.get(), 1000, &Deadline::check, &deadline);
    sqlite3_stmt* stmt = nullptr;
    if (rc == SQLITE_OK)
        rc = sqlite3_prepare_v2(
            db.get(),
            (QByteArray("SELECT LogicalName, PhysicalName, Type, DatabaseName, BackupStartDate, "
                        "BackupFinishDate FROM ") +
             kSetTable + " ORDER BY rowid")
                .constData(),
            -1, &stmt, nullptr);
    bool any = false;
    int step = SQLITE_DONE;
    while (rc == SQLITE_OK && (step = sqlite3_step(stmt)) == SQLITE_ROW) {
        auto text = [&](int i) { return sqlitevalue::read(stmt, i, adVarWChar).toString(); };
        if (files)
            files->append({text(0), text(1), text(2)});
        if (header && !any) {
            header->databaseName = text(3);
            header->backupStartDate = fromIsoText(text(4));
            header->backupFinishDate = fromIsoText(text(5));
        }
        any = true;
    }
    sqlite3_finalize(stmt);
    if (deadline.expired) {
        if (files)
            files->clear();
        return fail(DataErr::QueryTimeout,
                    QStringLiteral("Query timeout expired: the description of the backup '%1' was not read "
                                   "within %2 seconds.")
                        .arg(pathFile)
                        .arg(limitSeconds),
                    QStringLiteral("SQLite"));
    }
    if (rc != SQLITE_OK || step != SQLITE_DONE || !any)
        return fail(
            3241,
            QStringLiteral("The media family on device '%1' is incorrectly formed: the file is no backup of "
                           "the embedded engine.")
                .arg(pathFile),
            embedded::errorSource());
    return true;
}

int SqliteAdmin::readLimit(Connection& cn)
{
    const int seconds = cn.CommandTimeout();
    return seconds > 0 && seconds < kReadLimitSeconds ? seconds : kReadLimitSeconds;
}

bool SqliteAdmin::readBackupFileList(Connection& cn, const QString& pathFile, QList<BackupFileInfo>& files)
{
    m_error.clear();
    files.clear();
    return requireEngine(cn, engine()) && readBackupSet(pathFile, &files, nullptr, readLimit(cn));
}

bool SqliteAdmin::readBackupHeader(Connection& cn, const QString& pathFile, BackupHeader& header)
{
    m_error.clear();
    header = BackupHeader();
    return requireEngine(cn, engine()) && readBackupSet(pathFile, nullptr, &header, readLimit(cn));
}

QString SqliteAdmin::backupDamage(const QString& pathFile)
{
    // Runs on a thread of its own, beside the copy, on a connection of its own.
    Handle db;
    int rc = db.open(pathFile, SQLITE_OPEN_READONLY);
    // Reading the pages through a memory map makes the check about a third
    // cheaper.
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db.get(), "PRAGMA trusted_schema=OFF; PRAGMA mmap_size=2147418112", nullptr,
                          nullptr, nullptr);
    sqlite3_stmt* stmt = nullptr;
    if (rc == SQLITE_OK)
        rc = sqlite3_prepare_v2(db.get(), "PRAGMA integrity_check(1)", -1, &stmt, nullptr);
    QString verdict;
    if (rc == SQLITE_OK) {
        if (sqlite3_step(stmt) == SQLITE_ROW)
            verdict = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        else
            verdict = db.message();
    } else {
        verdict = db.message();
    }
    sqlite3_finalize(stmt);
    if (verdict == QLatin1String("ok"))
        return QString();
    verdict.remove(QStringLiteral("*** in database main ***\n"));
    return verdict.isEmpty() ? QStringLiteral("the check found the file unreadable") : verdict;
}

bool SqliteAdmin::failDamaged(const QString& pathFile, const QString& damage)
{
    return fail(3183,
                QStringLiteral("RESTORE detected an error in the backup on device '%1' (%2). Nothing was "
                               "restored; RESTORE DATABASE is terminating abnormally.")
                    .arg(pathFile, damage),
                embedded::errorSource());
}

bool SqliteAdmin::restoreDatabase(Connection& cn, const QString& database, const QString& pathFile,
                                  const QList<QPair<QString, QString>>& moves, bool replace)
{
    m_error.clear();
    if (!requireEngine(cn, engine()))
        return false;
    const QString name = unquotedName(database);
    if (embedded::isTempdb(name))
        return fail(3147, QStringLiteral("Backup and restore operations are not allowed on database tempdb."),
                    embedded::errorSource());
    if (!checkDatabase(name))
        return false;
    QList<BackupFileInfo> files;
    if (!readBackupSet(pathFile, &files, nullptr, kReadLimitSeconds))
        return false;
    if (!describedByTable(pathFile))
        return fail(
            3241,
            QStringLiteral("The media family on device '%1' is incorrectly formed: the file is no backup of "
                           "the embedded engine.")
                .arg(pathFile),
            embedded::errorSource());
    for (const auto& move : moves) {
        const bool known = std::any_of(files.begin(), files.end(), [&](const BackupFileInfo& f) {
            return f.logicalName.compare(move.first, Qt::CaseInsensitive) == 0;
        });
        if (!known)
            return fail(
                3234,
                QStringLiteral("Logical file '%1' is not part of database '%2'. Use RESTORE FILELISTONLY to "
                               "list the logical file names.")
                    .arg(move.first, files.first().logicalName),
                embedded::errorSource());
    }
    // The database has one file; it goes where its move says, or back where
    // it was. That place must be the database's own file in the server folder.
    const BackupFileInfo& data = files.first();
    QString targetPath = data.physicalName;
    for (const auto& move : moves) {
        if (move.first.compare(data.logicalName, Qt::CaseInsensitive) == 0)
            targetPath = move.second;
    }
    const QString existing = embedded::findDatabaseFile(m_folder, name);
    const QString expected = existing.isEmpty() ? embedded::newDatabaseFile(m_folder, name) : existing;
    if (!samePath(targetPath, expected))
        return fail(
            3156,
            QStringLiteral("File '%1' cannot be restored to '%2'. Database '%3' of this server is the file "
                           "'%4'; give that path as the file's target.")
                .arg(data.logicalName, targetPath, name, expected),
            embedded::errorSource());
    if (!existing.isEmpty() && !replace)
        return fail(
            3154,
            QStringLiteral("Database '%1' already exists. Restore over it only with the replace option.")
                .arg(name),
            embedded::errorSource());
    // The database is the restore's alone: a connection of any process that
    // has it open refuses the restore, and none opens it until it is done.
    embedded::FileLock exclusive;
    const embedded::FileLock::Result taken =
        exclusive.take(embedded::useLockFile(expected), embedded::FileLock::Mode::Exclusive);
    if (taken == embedded::FileLock::Result::Busy)
        return fail(3101,
                    QStringLiteral("Exclusive access could not be obtained because the database is in use."),
                    embedded::errorSource());
    if (taken == embedded::FileLock::Result::Failed)
        return fail(3101, exclusive.errorString(), embedded::errorSource());

    // Every page of the backup is checked before anything is replaced with
    // it. The check runs beside the copy, which commits (or is renamed into
    // place) only once the check has passed; otherwise it is rolled back (or
    // removed).
    std::future<QString> damage = std::async(std::launch::async, &SqliteAdmin::backupDamage, pathFile);
    return existing.isEmpty() ? restoreAsNew(name, pathFile, expected, damage)
                              : restoreOver(pathFile, existing, damage);
}

bool SqliteAdmin::restoreOver(const QString& pathFile, const QString& file, std::future<QString>& damage)
{
    // Copied into the database in one transaction of its own: until it
    // commits, the database is the old one, also after a crash.
    Handle src;
    Handle dest;
    int rc = src.open(pathFile, SQLITE_OPEN_READONLY);
    if (rc != SQLITE_OK)
        return fail(src.code(), QStringLiteral("%1 (%2)").arg(src.message(), pathFile),
                    QStringLiteral("SQLite"));
    rc = dest.open(file, SQLITE_OPEN_READWRITE);
    QString found;
    if (rc == SQLITE_OK)
        rc = copyDatabase(dest.get(), src.get(), kExclusiveWaitMs, [&] {
            found = damage.get();
            return found.isEmpty();
        });
    if (rc == SQLITE_ABORT && !found.isEmpty())
        return failDamaged(pathFile, found);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(dest.get(), (QByteArray("DROP TABLE IF EXISTS ") + kSetTable).constData(), nullptr,
                          nullptr, nullptr);
    if (rc == SQLITE_OK)
        return true;
    const bool busy = (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
    if (busy)
        return fail(3101,
                    QStringLiteral("Exclusive access could not be obtained because the database is in use."),
                    embedded::errorSource());
    return fail(dest.code(), QStringLiteral("%1 (%2)").arg(dest.message(), file), QStringLiteral("SQLite"));
}

bool SqliteAdmin::restoreAsNew(const QString& name, const QString& pathFile, const QString& file,
                               std::future<QString>& damage)
{
    // The new database is written beside its place and takes its name only
    // when it is complete and on the disk: until then there is no database of
    // that name, also after a crash, and the restore can simply run again.
    const QString part = newPartFile(QFileInfo(file));
    if (part.isEmpty())
        return fail(3156, QStringLiteral("The file '%1' of database '%2' cannot be made.").arg(file, name),
                    embedded::errorSource());
    Handle src;
    Handle dest;
    int rc = src.open(pathFile, SQLITE_OPEN_READONLY);
    if (rc == SQLITE_OK)
        rc = dest.open(part, SQLITE_OPEN_READWRITE);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(dest.get(), "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF", nullptr, nullptr,
                          nullptr);
    if (rc == SQLITE_OK)
        rc = copyDatabase(dest.get(), src.get(), kExclusiveWaitMs);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(dest.get(), (QByteArray("DROP TABLE IF EXISTS ") + kSetTable).constData(), nullptr,
                          nullptr, nullptr);
    if (rc != SQLITE_OK) {
        const Handle& failed = src.code() != SQLITE_OK ? src : dest;
        fail(failed.code(), QStringLiteral("%1 (%2)").arg(failed.message(), file), QStringLiteral("SQLite"));
        dest.close();
        removeDatabaseFiles(part);
        return false;
    }
    dest.close();
    const QString found = damage.get();
    if (!found.isEmpty()) {
        removeDatabaseFiles(part);
        return failDamaged(pathFile, found);
    }
    if (!syncFile(part)) {
        removeDatabaseFiles(part);
        return fail(3156,
                    QStringLiteral("The file '%1' of database '%2' could not be flushed to the disk.")
                        .arg(file, name),
                    embedded::errorSource());
    }
    // Never over a database of that name that appeared meanwhile.
    if (!renameOver(part, file, false)) {
        removeDatabaseFiles(part);
        return fail(
            1801, QStringLiteral("Database '%1' already exists. Choose a different database name.").arg(name),
            embedded::errorSource());
    }
    mdlCommon::SyncFolder(QFileInfo(file).absolutePath());
    return true;
}

QString SqliteAdmin::lockKey(const QString& database) const
{
    const QString folder = QFileInfo(m_folder).canonicalFilePath();
    return (folder.isEmpty() ? m_folder : folder) + QLatin1Char('/') +
           unquotedName(database.trimmed()).toCaseFolded();
}

std::unique_ptr<DatabaseLock> SqliteAdmin::takeLock(const QString& database)
{
    const QString name = unquotedName(database.trimmed());
    if (!checkDatabase(name))
        return nullptr;
    auto lock = std::make_unique<EmbeddedDatabaseLock>();
    switch (lock->file.take(embedded::taskLockFile(m_folder, name), embedded::FileLock::Mode::Exclusive)) {
    case embedded::FileLock::Result::Taken:
        removeDeadSideFiles(name);
        return lock;
    case embedded::FileLock::Result::Busy:
        fail(DataErr::LockTimeout,
             QStringLiteral("Database '%1' is taken by another task (an update, a creation or a restore).")
                 .arg(name),
             embedded::errorSource());
        return nullptr;
    case embedded::FileLock::Result::Failed:
        break;
    }
    fail(5, lock->file.errorString(), embedded::errorSource());
    return nullptr;
}

bool SqliteAdmin::listFolder(Connection& cn, const QString& folder, QList<FolderEntry>& entries)
{
    m_error.clear();
    entries.clear();
    if (!requireEngine(cn, engine()))
        return false;
    const QString path = QDir(m_folder).absoluteFilePath(QDir::fromNativeSeparators(folder));
    const QFileInfo info(path);
    if (!info.isDir())
        return fail(3, QStringLiteral("The system cannot find the path specified. (%1)").arg(folder),
                    embedded::errorSource());
    if (!info.isReadable())
        return fail(5, QStringLiteral("Access is denied. (%1)").arg(folder), embedded::errorSource());
    const QFileInfoList list =
        QDir(path).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                 QDir::DirsFirst | QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& e : list)
        entries.append({e.fileName(), e.isDir()});
    return true;
}

PathStyle SqliteAdmin::pathStyle(Connection&)
{
    return PathStyle::Posix;
}

} // namespace ov
