#include "data/sqlite/SqliteAdmin.h"

#include "common/Clock.h"
#include "common/FileCommit.h"
#include "common/mdlCommon.h"
#include "data/Connection.h"
#include "data/DataBackend.h"
#include "data/sqlite/BackupDigest.h"
#include "data/sqlite/EmbeddedServer.h"
#include "data/sqlite/FileLock.h"
#include "data/sqlite/SqliteBackend.h"
#include "data/sqlite/Statement.h"
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
// How long a reader of a file waits for another reader of it.
constexpr int kReaderWaitMs = 2000;
// The longest a backup's description may take to read, in seconds: a crafted
// file must not hold the reader for ever.
constexpr int kReadLimitSeconds = 10;

const char* const kSetTable = "_ov_backup_set";
// The table inside a backup file that holds the checksum of its content
// (see BackupDigest.h): one row, on the one page the checksum leaves out.
const char* const kSumTable = "_ov_backup_sum";
// What the checksum row holds until the checksum is known: as long as the
// checksum, so that storing it rewrites that row in its place.
const char* const kSumPlaceholder = "0000000000000000000000000000000000000000000000000000000000000000";

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
        if (rc == SQLITE_OK) {
            sqlite3_extended_result_codes(m_db, 1);
            // Two readers of one file in WAL mode (the copy and its check
            // run side by side) wait for each other while one rebuilds the
            // WAL's index instead of failing with "database is locked".
            sqlite3_busy_timeout(m_db, kReaderWaitMs);
        }
        return rc;
    }
    void close()
    {
        if (m_db)
            sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
    sqlite3* get() const { return m_db; }
    QString message() const
    {
        return m_db ? embedded::engineMessage(QString::fromUtf8(sqlite3_errmsg(m_db))) : QString();
    }
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
        // The codes are extended: a reader that meets another one rebuilding
        // the index of a WAL gets SQLITE_BUSY_RECOVERY, which passes as well.
        const int primary = rc & 0xff;
        if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
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
    embedded::Statement stmt;
    const QByteArray sql =
        QByteArray("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = '") + kSetTable + "'";
    return db.open(pathFile, SQLITE_OPEN_READONLY) == SQLITE_OK &&
           stmt.prepare(db.get(), sql.constData()) == SQLITE_OK && sqlite3_step(stmt.get()) == SQLITE_ROW;
}

// Runs one statement that gives one value, or none; SQLite's result code.
int singleValue(sqlite3* db, const QByteArray& sql, QByteArray* value)
{
    embedded::Statement stmt;
    int rc = stmt.prepare(db, sql.constData());
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(stmt.get());
        if (rc == SQLITE_ROW && value)
            *value = QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0)));
        rc = rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : sqlite3_extended_errcode(db);
    }
    return rc;
}

// Makes the database of db one in the engine's rollback-journal mode. A copy
// of a database in WAL mode says WAL in its header; the mode is read (and
// the WAL opened) when the file is next read, so it is read first.
int toRollbackJournal(sqlite3* db)
{
    QByteArray mode;
    int rc = singleValue(db, "SELECT count(*) FROM sqlite_master", nullptr);
    if (rc == SQLITE_OK)
        rc = singleValue(db, "PRAGMA journal_mode=DELETE", &mode);
    if (rc == SQLITE_OK && mode != "delete")
        rc = SQLITE_ERROR;
    return rc;
}

// Stores the checksum of the content of the backup db is writing into
// file (see BackupDigest.h): a row of its own table, written first as a
// placeholder of the same length, then overwritten in place once the file
// is known, so that the checksum's page is the only one that changes.
int storeChecksum(sqlite3* db, const QString& file, QString& error)
{
    const QByteArray create = QByteArray("DROP TABLE IF EXISTS ") + kSumTable + ";CREATE TABLE " + kSumTable +
                              " (ContentSha256 TEXT);INSERT INTO " + kSumTable + " VALUES ('" +
                              kSumPlaceholder + "')";
    int rc = sqlite3_exec(db, create.constData(), nullptr, nullptr, nullptr);
    QByteArray root;
    if (rc == SQLITE_OK)
        rc = singleValue(db,
                         QByteArray("SELECT rootpage FROM sqlite_master WHERE type = 'table' AND name = '") +
                             kSumTable + "'",
                         &root);
    if (rc != SQLITE_OK)
        return rc;
    const QByteArray digest = embedded::backupDigest(file, root.toLongLong(), error);
    if (digest.isEmpty())
        return SQLITE_IOERR;
    return sqlite3_exec(
        db, (QByteArray("UPDATE ") + kSumTable + " SET ContentSha256 = '" + digest + "'").constData(),
        nullptr, nullptr, nullptr);
}

// Why the content of the backup at pathFile does not match the checksum it
// carries, in the user's words; empty when it matches or when the backup
// carries none (one made before backups carried it), which only its
// structure check then vouches for.
QString contentMismatch(const QString& pathFile)
{
    const QString damaged =
        QStringLiteral("备份文件中记下的校验和已损坏，无法确认备份的内容完好，不能用它还原。");
    QByteArray root;
    QByteArray stored;
    QByteArray count;
    {
        Handle db;
        int rc = db.open(pathFile, SQLITE_OPEN_READONLY);
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db.get(), "PRAGMA trusted_schema=OFF", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            rc = singleValue(
                db.get(),
                QByteArray("SELECT rootpage FROM sqlite_master WHERE type = 'table' AND name = '") +
                    kSumTable + "'",
                &root);
        if (rc != SQLITE_OK)
            return damaged;
        if (root.isEmpty())
            return QString();
        rc = singleValue(
            db.get(), QByteArray("SELECT count(*) FROM (SELECT 1 FROM ") + kSumTable + " LIMIT 2)", &count);
        if (rc == SQLITE_OK)
            rc = singleValue(db.get(), QByteArray("SELECT ContentSha256 FROM ") + kSumTable, &stored);
        if (rc != SQLITE_OK || count != "1" || stored.size() != 64 || root.toLongLong() < 2)
            return damaged;
    }
    // SQLite reads the pages of a WAL beside the file over the file's own,
    // which the checksum does not cover; the backup leaves none.
    const QString wal = pathFile + QStringLiteral("-wal");
    if (QFileInfo(wal).size() > 0)
        return QStringLiteral(
                   "备份文件旁有记着改动的日志文件 %1：文件在备份之后被改动过，这些改动不受备份时记下的"
                   "校验和保证，不能用它还原。")
            .arg(wal);
    QString error;
    const QByteArray digest = embedded::backupDigest(pathFile, root.toLongLong(), error);
    if (digest.isEmpty())
        return QStringLiteral("备份文件无法读取（%1），不能用它还原。").arg(error);
    if (digest != stored)
        return QStringLiteral(
            "备份文件的内容与备份时记下的校验和不符：文件在备份之后被改动过或已损坏，不能用它还原。");
    return QString();
}

// What a user is told when a new database's name is taken (SQL Server's
// number 1801 goes with it).
QString alreadyExists(const QString& name)
{
    return QStringLiteral("数据库 %1 已经存在，请换一个数据库名称。").arg(name);
}

// Why the file pathFile (target) cannot take a backup: it is no file in an
// existing folder, it belongs to a database of the server (serverFile), or it
// exists and replace is not set. Empty when it can.
QString refusedBackupTarget(const QFileInfo& target, const QString& pathFile, bool replace, bool serverFile)
{
    if (pathFile.trimmed().isEmpty())
        return QStringLiteral("没有指定备份文件：请输入备份文件在服务器上的完整路径和文件名。");
    if (!target.absoluteDir().exists() || target.isDir())
        return QStringLiteral(
                   "无法打开备份文件 %1：操作系统错误 3（找不到指定的路径），请检查备份文件名及其文件夹。")
            .arg(pathFile);
    // The files of the server's databases are never a backup's target, asked
    // or not; any other existing file is replaced only when asked to.
    if (serverFile)
        return QStringLiteral(
                   "无法写入备份文件 "
                   "%1：该文件已经存在，它是本服务器上数据库的文件，备份从不替换它，请换一个备份文件名。")
            .arg(pathFile);
    if (target.exists() && !replace)
        return QStringLiteral("备份文件 %1 已经存在：只有确认覆盖后，备份才会替换已有的文件。").arg(pathFile);
    return QString();
}

// Adds the table that describes the backup to the copy dest of the database
// file source, the backup having started at started; SQLite's result code.
int describeBackup(sqlite3* dest, const QString& source, const QDateTime& started)
{
    const QByteArray sql = QByteArray("DROP TABLE IF EXISTS ") + kSetTable + ";CREATE TABLE " + kSetTable +
                           " (LogicalName TEXT, PhysicalName TEXT, Type TEXT, DatabaseName TEXT, "
                           "BackupStartDate TEXT, BackupFinishDate TEXT)";
    int rc = sqlite3_exec(dest, sql.constData(), nullptr, nullptr, nullptr);
    embedded::Statement insert;
    if (rc == SQLITE_OK)
        rc = insert.prepare(dest,
                            (QByteArray("INSERT INTO ") + kSetTable + " VALUES (?,?,?,?,?,?)").constData());
    if (rc != SQLITE_OK)
        return rc;
    const QString logical = QFileInfo(source).completeBaseName();
    const QVariant values[] = {logical,
                               QFileInfo(source).absoluteFilePath(),
                               QStringLiteral("D"),
                               logical,
                               isoText(started),
                               isoText(Clock::now())};
    for (int i = 0; i < 6; ++i)
        sqlitevalue::bind(insert.get(), i + 1, values[i]);
    return sqlite3_step(insert.get()) == SQLITE_DONE ? SQLITE_OK : sqlite3_extended_errcode(dest);
}

// Writes the backup of the database file source into the new file part:
// the copy, made a plain file, its description, and last the checksum of all
// of it. False, with error set (naming pathFile, the backup's own name), when
// any step fails; part is then the caller's to discard.
bool writeBackupFile(const QString& source, const QString& part, const QString& pathFile, DataError& error)
{
    const QDateTime started = Clock::now();
    Handle src;
    Handle dest;
    int rc = src.open(source, SQLITE_OPEN_READONLY);
    if (rc != SQLITE_OK) {
        setDataError(error, src.code(), QStringLiteral("%1 (%2)").arg(src.message(), source),
                     QStringLiteral("SQLite"));
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
    // A database in WAL mode gives a copy that says so: the backup is made a
    // plain file, which is read without a WAL beside it.
    if (rc == SQLITE_OK)
        rc = toRollbackJournal(dest.get());
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(dest.get(), "PRAGMA journal_mode=OFF", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = describeBackup(dest.get(), source, started);
    // Last, the checksum of all of it.
    QString digestError;
    if (rc == SQLITE_OK)
        rc = storeChecksum(dest.get(), part, digestError);
    if (rc != SQLITE_OK) {
        setDataError(
            error, dest.get() && digestError.isEmpty() ? dest.code() : rc,
            QStringLiteral("%1 (%2)").arg(digestError.isEmpty() ? dest.message() : digestError, pathFile),
            QStringLiteral("SQLite"));
        return false;
    }
    return true;
}

// Gives the complete backup file part the name of target, once it is on the
// disk, and the name on the disk too. False, with error set, when it cannot;
// part is then the caller's to discard.
bool putBackupInPlace(const QString& part, const QFileInfo& target, const QString& pathFile, bool replace,
                      DataError& error)
{
    if (!syncFile(part)) {
        setDataError(error, 3201, QStringLiteral("无法写入备份文件 %1：备份无法写入磁盘。").arg(pathFile),
                     embedded::errorSource());
        return false;
    }
    if (!renameOver(part, target.absoluteFilePath(), replace)) {
        setDataError(error, 3201,
                     replace || !(QFileInfo::exists(target.absoluteFilePath()) ||
                                  QFileInfo(target.absoluteFilePath()).isSymLink())
                         ? QStringLiteral("无法写入备份文件 %1：操作系统错误 5（拒绝访问）。").arg(pathFile)
                         : QStringLiteral("备份文件 %1 已经存在：只有确认覆盖后，备份才会替换已有的文件。")
                               .arg(pathFile),
                     embedded::errorSource());
        return false;
    }
    mdlCommon::SyncFolder(target.absolutePath());
    return true;
}

// Why Tempdb is neither backed up nor restored.
QString tempdbRefused()
{
    return QStringLiteral("不能备份或还原系统数据库 Tempdb。");
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
    return fail(
        17,
        QStringLiteral("内置数据库服务器的文件夹 %1 不存在：请检查“服务器”框中 sqlite: 后面的文件夹。")
            .arg(m_folder),
        embedded::errorSource());
}

bool SqliteAdmin::checkDatabase(const QString& name)
{
    return embedded::checkName(name, QStringLiteral("数据库"), m_error) && requireFolder();
}

bool SqliteAdmin::checkNewDatabase(const QString& name)
{
    if (!checkDatabase(name))
        return false;
    if (embedded::isTempdb(name) || !embedded::findDatabaseFile(m_folder, name).isEmpty())
        return fail(1801, alreadyExists(name), embedded::errorSource());
    return true;
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
    if (!checkNewDatabase(name))
        return false;
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
                return fail(1801, alreadyExists(name), embedded::errorSource());
            return fail(5123, QStringLiteral("无法建立数据库文件 %1：%2").arg(file, made.errorString()),
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
    if (!checkNewDatabase(name))
        return false;
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
                        QStringLiteral("无法建立数据库文件 %1：%2")
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
        return fail(911, QStringLiteral("数据库 %1 不是本程序正在创建的数据库，无法为它命名。").arg(name),
                    embedded::errorSource());
    const QString file = embedded::newDatabaseFile(m_folder, name);
    // The whole database is on the disk before it takes its name, and the
    // name is on the disk before the procedure says it is done. A database
    // of that name that appeared meanwhile stays.
    if (!syncFile(side))
        return fail(5123, QStringLiteral("数据库 %2 的文件 %1 无法写入磁盘。").arg(file, name),
                    embedded::errorSource());
    const QString existing = [&] {
        embedded::unstageDatabase(m_folder, name);
        const QString found = embedded::findDatabaseFile(m_folder, name);
        embedded::stageDatabase(m_folder, name, side);
        return found;
    }();
    if (!existing.isEmpty() || !renameIfFree(side, file))
        return fail(1801, alreadyExists(name), embedded::errorSource());
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
        return fail(3708, QStringLiteral("不能删除数据库 %1：它是系统数据库。").arg(name),
                    embedded::errorSource());
    const QString file = embedded::findDatabaseFile(m_folder, name);
    if (file.isEmpty())
        return fail(3701,
                    QStringLiteral("不能删除数据库 %1：该数据库不存在，或者没有删除它的权限。").arg(name),
                    embedded::errorSource());
    // A database that a connection of any process is using stays; one whose
    // file is damaged, or no database at all, goes like any other.
    embedded::FileLock exclusive;
    const embedded::FileLock::Result taken =
        exclusive.take(embedded::useLockFile(file), embedded::FileLock::Mode::Exclusive);
    if (taken == embedded::FileLock::Result::Busy)
        return fail(3702, QStringLiteral("不能删除数据库 %1：它正在被使用。").arg(name),
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
            return fail(3702, QStringLiteral("不能删除数据库 %1：它正在被使用。").arg(name),
                        embedded::errorSource());
        if (rc == SQLITE_OK)
            sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
    if (!QFile::remove(file))
        return fail(3702, QStringLiteral("无法删除数据库 %2 的文件 %1。").arg(file, name),
                    embedded::errorSource());
    removeDatabaseFiles(file);
    return true;
}

bool SqliteAdmin::bulkLoad(const QString& database, const QString& table, const QString& dataFile,
                           const QString& logFile, const QString& errorFile, BulkLoadResult* result)
{
    m_error.clear();
    if (!embedded::checkName(table, QStringLiteral("表"), m_error))
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

bool SqliteAdmin::backupDatabase(const QString& database, const QString& pathFile, bool replace)
{
    m_error.clear();
    // A connection to the database, as the backup window's: it finds the
    // server and the database or says why not, and holds the database, so
    // that no restore or drop takes it while it is copied.
    const std::unique_ptr<SqliteBackend> inUse =
        SqliteBackend::open(m_folder, database, m_commandTimeout, m_error);
    if (!inUse)
        return false;
    const QString name = unquotedName(database);
    if (embedded::isTempdb(name))
        return fail(3147, tempdbRefused(), embedded::errorSource());
    if (!checkDatabase(name))
        return false;
    const QString source = embedded::findDatabaseFile(m_folder, name);
    if (source.isEmpty())
        return fail(911, QStringLiteral("数据库 %1 不存在，请检查“数据库”框中的名称。").arg(name),
                    embedded::errorSource());
    const QFileInfo target(pathFile);
    const QString refused = refusedBackupTarget(target, pathFile, replace, isServerFile(target));
    if (!refused.isEmpty())
        return fail(3201, refused, embedded::errorSource());

    // The backup is written beside the target and takes its name only when it
    // is complete and on the disk: a failed or killed backup leaves the
    // target as it was, and no half-written file under its name. What killed
    // backups left beside it goes first.
    removeDeadPartFiles(target.absolutePath());
    const QString part = newPartFile(target);
    if (part.isEmpty())
        return fail(3201, QStringLiteral("无法写入备份文件 %1：操作系统错误 5（拒绝访问）。").arg(pathFile),
                    embedded::errorSource());
    DataError error;
    if (!writeBackupFile(source, part, pathFile, error) ||
        !putBackupInPlace(part, target, pathFile, replace, error)) {
        discardPartFile(part);
        return fail(error);
    }
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
        return fail(3201,
                    QStringLiteral("无法打开备份文件 %1：操作系统错误 2（找不到指定的文件）。").arg(pathFile),
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
    embedded::Statement stmt;
    if (rc == SQLITE_OK)
        rc = stmt.prepare(db.get(), (QByteArray("SELECT LogicalName, PhysicalName, Type, DatabaseName, "
                                                "BackupStartDate, BackupFinishDate FROM ") +
                                     kSetTable + " ORDER BY rowid")
                                        .constData());
    bool any = false;
    int step = SQLITE_DONE;
    while (rc == SQLITE_OK && (step = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        auto text = [&](int i) { return sqlitevalue::read(stmt.get(), i, adVarWChar).toString(); };
        if (files)
            files->append({text(0), text(1), text(2)});
        if (header && !any) {
            header->databaseName = text(3);
            header->backupStartDate = fromIsoText(text(4));
            header->backupFinishDate = fromIsoText(text(5));
        }
        any = true;
    }
    stmt.clear();
    if (deadline.expired) {
        if (files)
            files->clear();
        return fail(
            DataErr::QueryTimeout,
            QStringLiteral("查询超时：%2 秒内未能读出备份文件 %1 的说明。").arg(pathFile).arg(limitSeconds),
            QStringLiteral("SQLite"));
    }
    if (rc != SQLITE_OK || step != SQLITE_DONE || !any)
        return fail(
            3241, QStringLiteral("备份文件 %1 的格式不正确：它不是内置数据库引擎的备份文件。").arg(pathFile),
            embedded::errorSource());
    return true;
}

int SqliteAdmin::readLimit() const
{
    const int seconds = m_commandTimeout;
    return seconds > 0 && seconds < kReadLimitSeconds ? seconds : kReadLimitSeconds;
}

bool SqliteAdmin::backupFileExists(const QString& pathFile, bool& exists)
{
    m_error.clear();
    exists = false;
    if (!requireFolder())
        return false;
    const QFileInfo target(pathFile);
    exists = target.exists() || target.isSymLink();
    return true;
}

bool SqliteAdmin::requireOnlySet(const QString& pathFile, int backupSet)
{
    if (backupSet == 1)
        return true;
    return fail(DataErr::InvalidArgument,
                QStringLiteral("备份文件 %1 中只有一个备份，没有第 %2 个备份。").arg(pathFile).arg(backupSet),
                embedded::errorSource());
}

bool SqliteAdmin::readBackupFileList(const QString& pathFile, QList<BackupFileInfo>& files, int backupSet)
{
    m_error.clear();
    files.clear();
    return requireFolder() && requireOnlySet(pathFile, backupSet) &&
           readBackupSet(pathFile, &files, nullptr, readLimit());
}

bool SqliteAdmin::readBackupHeader(const QString& pathFile, BackupHeader& header)
{
    m_error.clear();
    header = BackupHeader();
    if (!requireFolder() || !readBackupSet(pathFile, nullptr, &header, readLimit()))
        return false;
    // A backup whose content was changed after it was made shows as soon as
    // it is read, with the check its restore makes.
    const QString mismatch = contentMismatch(pathFile);
    if (mismatch.isEmpty())
        return true;
    header = BackupHeader();
    return fail(3189, QStringLiteral("%1（%2）").arg(mismatch, pathFile), embedded::errorSource());
}

QString SqliteAdmin::backupDamage(const QString& pathFile)
{
    // Runs on a thread of its own, beside the copy, on connections of its
    // own: first the content against its checksum, then the structure.
    const QString mismatch = contentMismatch(pathFile);
    if (!mismatch.isEmpty())
        return mismatch;
    Handle db;
    int rc = db.open(pathFile, SQLITE_OPEN_READONLY);
    // Reading the pages through a memory map makes the check about a third
    // cheaper.
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db.get(), "PRAGMA trusted_schema=OFF; PRAGMA mmap_size=2147418112", nullptr,
                          nullptr, nullptr);
    embedded::Statement stmt;
    if (rc == SQLITE_OK)
        rc = stmt.prepare(db.get(), "PRAGMA integrity_check(1)");
    QString verdict;
    if (rc == SQLITE_OK) {
        if (sqlite3_step(stmt.get()) == SQLITE_ROW)
            verdict = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0)));
        else
            verdict = db.message();
    } else {
        verdict = db.message();
    }
    stmt.clear();
    if (verdict == QLatin1String("ok"))
        return QString();
    verdict.remove(QStringLiteral("*** in database main ***\n"));
    return verdict.isEmpty() ? QStringLiteral("检查发现文件无法读取") : verdict;
}

bool SqliteAdmin::failDamaged(const QString& pathFile, const QString& damage)
{
    return fail(
        3183, QStringLiteral("还原时发现备份文件 %1 有错误（%2），没有还原任何内容。").arg(pathFile, damage),
        embedded::errorSource());
}

bool SqliteAdmin::restoreDatabase(const QString& database, const QString& pathFile,
                                  const QList<QPair<QString, QString>>& moves, bool replace, int backupSet)
{
    m_error.clear();
    if (!requireFolder() || !requireOnlySet(pathFile, backupSet))
        return false;
    const QString name = unquotedName(database);
    if (embedded::isTempdb(name))
        return fail(3147, tempdbRefused(), embedded::errorSource());
    if (!checkDatabase(name))
        return false;
    QList<BackupFileInfo> files;
    if (!readBackupSet(pathFile, &files, nullptr, kReadLimitSeconds))
        return false;
    if (!describedByTable(pathFile))
        return fail(
            3241, QStringLiteral("备份文件 %1 的格式不正确：它不是内置数据库引擎的备份文件。").arg(pathFile),
            embedded::errorSource());
    for (const auto& move : moves) {
        const bool known = std::any_of(files.begin(), files.end(), [&](const BackupFileInfo& f) {
            return f.logicalName.compare(move.first, Qt::CaseInsensitive) == 0;
        });
        if (!known)
            return fail(3234,
                        QStringLiteral("原文件名 %1 不是备份中数据库的文件（备份中的文件是 %2）。")
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
    const QString expected = databaseFile(name);
    const QString refused = refusedTargetOf(name, data.logicalName, targetPath);
    if (!refused.isEmpty())
        return fail(3156, refused, embedded::errorSource());
    if (!existing.isEmpty() && !replace)
        return fail(
            3154,
            QStringLiteral("数据库 %1 已经存在：只有选中“在现有数据库上强制还原”，才能还原到现有的数据库上。")
                .arg(name),
            embedded::errorSource());
    // The database is the restore's alone: a connection of any process that
    // has it open refuses the restore, and none opens it until it is done.
    embedded::FileLock exclusive;
    const embedded::FileLock::Result taken =
        exclusive.take(embedded::useLockFile(expected), embedded::FileLock::Mode::Exclusive);
    if (taken == embedded::FileLock::Result::Busy)
        return fail(3101, QStringLiteral("数据库正在被使用，无法独占访问。"), embedded::errorSource());
    if (taken == embedded::FileLock::Result::Failed)
        return fail(3101, exclusive.errorString(), embedded::errorSource());

    // Every page of the backup is checked before anything is replaced with
    // it. The check runs beside the copy, which commits (or is renamed into
    // place) only once the check has passed; otherwise it is rolled back (or
    // removed).
    removeDeadPartFiles(QFileInfo(expected).absolutePath());
    std::future<QString> damage = std::async(std::launch::async, &SqliteAdmin::backupDamage, pathFile);
    return restoreFile(name, pathFile, expected, !existing.isEmpty(), damage);
}

bool SqliteAdmin::restoreFile(const QString& name, const QString& pathFile, const QString& file, bool over,
                              std::future<QString>& damage)
{
    // The database is written beside its place and takes its name only when
    // it is complete, checked and on the disk: until then the database is the
    // old one, or there is none, also after a crash, and the restore can
    // simply run again. The backup's own description leaves the copy before
    // it takes the name, and the copy is in the engine's rollback-journal
    // mode whatever mode the backed-up database was in.
    const QString part = newPartFile(QFileInfo(file));
    if (part.isEmpty())
        return fail(3156, QStringLiteral("无法建立数据库 %2 的文件 %1。").arg(file, name),
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
        rc = toRollbackJournal(dest.get());
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(
            dest.get(),
            (QByteArray("DROP TABLE IF EXISTS ") + kSetTable + ";DROP TABLE IF EXISTS " + kSumTable)
                .constData(),
            nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        const bool backupFailed = src.code() != SQLITE_OK;
        const Handle& failed = backupFailed ? src : dest;
        fail(failed.code(), QStringLiteral("%1 (%2)").arg(failed.message(), backupFailed ? pathFile : file),
             QStringLiteral("SQLite"));
        dest.close();
        discardPartFile(part);
        return false;
    }
    dest.close();
    src.close();
    const QString found = damage.get();
    if (!found.isEmpty()) {
        discardPartFile(part);
        return failDamaged(pathFile, found);
    }
    if (over)
        QFile::setPermissions(part, QFile::permissions(file));
    if (!syncFile(part)) {
        discardPartFile(part);
        return fail(3156, QStringLiteral("数据库 %2 的文件 %1 无法写入磁盘。").arg(file, name),
                    embedded::errorSource());
    }
    if (!over) {
        // Never over a database of that name that appeared meanwhile.
        if (!renameOver(part, file, false)) {
            discardPartFile(part);
            return fail(1801, alreadyExists(name), embedded::errorSource());
        }
        mdlCommon::SyncFolder(QFileInfo(file).absolutePath());
        return true;
    }
    // The old database lets go of its name: a transaction a killed writer
    // left in its journal is rolled back and a WAL is written back and
    // removed, so that no journal of the old file meets the new one; and a
    // program other than this one that has it open keeps it. A file that is
    // no sound database has nothing to keep: its journals go with it.
    Handle old;
    rc = old.open(file, SQLITE_OPEN_READWRITE);
    if (rc == SQLITE_OK)
        rc = sqlite3_busy_timeout(old.get(), kExclusiveWaitMs);
    if (rc == SQLITE_OK)
        rc = toRollbackJournal(old.get());
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(old.get(), "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    const int primary = rc & 0xff;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
        discardPartFile(part);
        return fail(3101, QStringLiteral("数据库正在被使用，无法独占访问。"), embedded::errorSource());
    }
    if (rc != SQLITE_OK) {
        old.close();
        for (const char* suffix : {"-journal", "-wal", "-shm"})
            QFile::remove(file + QLatin1String(suffix));
    }
    if (!renameOver(part, file, true)) {
        discardPartFile(part);
        return fail(3156, QStringLiteral("无法替换数据库 %2 的文件 %1。").arg(file, name),
                    embedded::errorSource());
    }
    // The transaction ends on the old file, which has no name any more.
    old.close();
    mdlCommon::SyncFolder(QFileInfo(file).absolutePath());
    return true;
}

QString SqliteAdmin::databaseFile(const QString& name) const
{
    const QString existing = embedded::findDatabaseFile(m_folder, name);
    return existing.isEmpty() ? embedded::newDatabaseFile(m_folder, name) : existing;
}

QString SqliteAdmin::proposedTarget(const QString& database, const BackupFileInfo& file) const
{
    // The database's file is always its own file of the server folder,
    // whatever path the backup recorded; a name the engine cannot use keeps
    // the recorded path, and the restore says what is wrong with the name.
    const QString name = unquotedName(database);
    DataError unused;
    if (!embedded::checkName(name, QString(), unused))
        return file.physicalName;
    return databaseFile(name);
}

QString SqliteAdmin::refusedTarget(const QString& database, const QString& logicalName,
                                   const QString& target) const
{
    return refusedTargetOf(unquotedName(database), logicalName, target);
}

QString SqliteAdmin::refusedTargetOf(const QString& name, const QString& logicalName,
                                     const QString& target) const
{
    if (embedded::isTempdb(name))
        return tempdbRefused();
    DataError error;
    if (!embedded::checkName(name, QStringLiteral("数据库"), error))
        return error.description;
    const QString expected = databaseFile(name);
    // A name in other case is the same file, unless a file of its own is
    // there: the file of another database.
    const QFileInfo typed(QDir::cleanPath(QDir::fromNativeSeparators(target)));
    if (samePath(target, expected) && (typed.fileName() == QFileInfo(expected).fileName() ||
                                       !typed.exists() || typed == QFileInfo(expected)))
        return QString();
    return QStringLiteral(
               "文件 %1 不能还原为 %2：本服务器上数据库 %3 的文件是 %4，“还原为”一栏只能是这个路径。")
        .arg(logicalName, target, name, expected);
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
    // Every task on a database of the folder removes what killed backups
    // and restores left there.
    removeDeadPartFiles(m_folder);
    auto lock = std::make_unique<EmbeddedDatabaseLock>();
    switch (lock->file.take(embedded::taskLockFile(m_folder, name), embedded::FileLock::Mode::Exclusive)) {
    case embedded::FileLock::Result::Taken:
        removeDeadSideFiles(name);
        return lock;
    case embedded::FileLock::Result::Busy:
        fail(DataErr::LockTimeout,
             QStringLiteral("数据库 %1 正被另一个任务（升级、创建或还原）使用。").arg(name),
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
        return fail(3, QStringLiteral("操作系统错误 3：找不到指定的路径（%1）。").arg(folder),
                    embedded::errorSource());
    if (!info.isReadable())
        return fail(5, QStringLiteral("操作系统错误 5：拒绝访问（%1）。").arg(folder),
                    embedded::errorSource());
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
