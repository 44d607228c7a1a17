// What backups and restores of the embedded engine leave behind: the part
// files of a process that died are removed by the next task on their folder,
// those of a live process stay; a restored database never holds the backup's
// own description; a backup of a database in WAL mode or with another page
// size is restored as a database in the engine's rollback-journal mode.

#include "FaultSupport.h"
#include "backup/mdlOVSqlBackup.h"
#include "backup/mdlOVSqlRestore.h"
#include "common/FileCommit.h"
#include "config/ConfigFiles.h"
#include "data/ServerAdmin.h"

#include <QFileInfo>

#include <sqlite3.h>

#include <sys/syscall.h>

using namespace ovtest;

namespace {

const QString kBackupDone = QStringLiteral("1 备份数据库成功！");

// The part files (".NAME.XXXXXX.part") of a folder.
QStringList partFilesIn(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden, QDir::Name);
}

// One value of a query on a SQLite file opened outside the engine, or
// "<error: …>".
QString rawValue(const QString& file, const char* sql)
{
    sqlite3* db = nullptr;
    QString value = QStringLiteral("<cannot open>");
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
            value = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        else
            value = QStringLiteral("<error: %1>").arg(QString::fromUtf8(sqlite3_errmsg(db)));
        sqlite3_finalize(stmt);
    }
    sqlite3_close_v2(db);
    return value;
}

class BackupLeftovers : public FaultFixture
{
protected:
    void SetUp() override
    {
        FaultFixture::SetUp();
        makeBackupFolderAndDatabase(QStringLiteral("crm"),
                                    {QStringLiteral("CREATE TABLE t ([id] INT, [name] NVARCHAR(20))"),
                                     QStringLiteral("INSERT INTO t VALUES (1, 'one')")});
    }

    // A backup in a child process, killed when it first enters the system
    // call killAt (none with -1); its result and messages.
    QString backupInChild(const QString& database, const QString& target, long killAt = -1,
                          bool replace = false)
    {
        return runInChild([&] {
            if (killAt >= 0 && !killAtSystemCall(killAt))
                return QStringLiteral("<no seccomp>");
            ScriptedUi ui;
            const bool ok = mdlOVSqlBackup::DoBackup(m_server, database, true, QString(), QString(), target,
                                                     replace ? mdlOVSqlBackup::IfExists::Replace
                                                             : mdlOVSqlBackup::IfExists::Refuse);
            return QStringLiteral("%1 %2").arg(ok).arg(ui.texts().join(QLatin1Char('/')));
        });
    }

    // A restore in a child process, killed as backupInChild says; the error
    // text (empty on success).
    QString restoreInChild(const QString& database, const QString& backup, const QString& logical,
                           const QString& target, bool replace, long killAt = -1)
    {
        return runInChild([&] {
            if (killAt >= 0 && !killAtSystemCall(killAt))
                return QStringLiteral("<no seccomp>");
            ScriptedUi ui;
            const QString error = mdlOVSqlRestore::RestoreDatabase(
                m_server, database, QString(), QString(), backup, {logical}, {target}, replace, true);
            return error.isEmpty() ? QStringLiteral("restored") : error;
        });
    }
};

const QString kKilled = QStringLiteral("<killed by signal %1>").arg(SIGSYS);

} // namespace

// A backup killed once its part file is complete (it is being flushed)
// leaves the part file; the next backup into that folder removes it, for a
// new name and for a replaced backup alike.
TEST_F(BackupLeftovers, PartFilesOfAKilledBackupGoWithTheNextBackup)
{
    const QString bak = path(QStringLiteral("bak"));
    ASSERT_EQ(backupInChild(QStringLiteral("crm"), path(QStringLiteral("bak/old.dat"))), kBackupDone);
    ASSERT_EQ(backupInChild(QStringLiteral("crm"), path(QStringLiteral("bak/new.dat")), SYS_fsync), kKilled);
    const QStringList first = partFilesIn(bak);
    ASSERT_EQ(first.size(), 1);
    // A killed backup --replace leaves the old file, and its own part file.
    const QByteArray old = readBytes(path(QStringLiteral("bak/old.dat")));
    ASSERT_EQ(backupInChild(QStringLiteral("crm"), path(QStringLiteral("bak/old.dat")), SYS_fsync, true),
              kKilled);
    EXPECT_TRUE(readBytes(path(QStringLiteral("bak/old.dat"))) == old);
    const QStringList second = partFilesIn(bak);
    ASSERT_EQ(second.size(), 1);
    EXPECT_NE(second, first);

    EXPECT_EQ(backupInChild(QStringLiteral("crm"), path(QStringLiteral("bak/next.dat"))), kBackupDone);
    EXPECT_EQ(filesLeftIn(bak), QStringList({QStringLiteral("next.dat"), QStringLiteral("old.dat")}));
}

// A restore killed while its copy is being flushed leaves its part file in
// the server folder; the next task on that folder (a restore, or any task
// that takes a database of the server) removes it.
TEST_F(BackupLeftovers, PartFilesOfAKilledRestoreGoWithTheNextTask)
{
    const QString backup = path(QStringLiteral("bak/crm.dat"));
    ASSERT_EQ(backupInChild(QStringLiteral("crm"), backup), kBackupDone);
    const QString data = path(QStringLiteral("data"));
    const QString fresh = path(QStringLiteral("data/fresh.sqlite"));
    const QString crm = path(QStringLiteral("data/crm.sqlite"));

    ASSERT_EQ(restoreInChild(QStringLiteral("fresh"), backup, QStringLiteral("crm"), fresh, false, SYS_fsync),
              kKilled);
    ASSERT_FALSE(QFileInfo::exists(fresh));
    ASSERT_EQ(partFilesIn(data).size(), 1);
    EXPECT_EQ(restoreInChild(QStringLiteral("fresh"), backup, QStringLiteral("crm"), fresh, false),
              QStringLiteral("restored"));
    EXPECT_EQ(partFilesIn(data), QStringList());

    // Over an existing database; the next task is an update's hold on
    // another database of the server.
    EXPECT_EQ(restoreInChild(QStringLiteral("crm"), backup, QStringLiteral("crm"), crm, true, SYS_fsync),
              kKilled);
    EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT id, name FROM t")),
              QStringList({QStringLiteral("1|one")}));
    auto admin = ov::ServerAdmin::create(m_server, true, QString(), QString());
    EXPECT_TRUE(admin->lockDatabase(QStringLiteral("fresh")));
    EXPECT_EQ(partFilesIn(data), QStringList());
    EXPECT_EQ(rawValue(crm, "SELECT count(*) FROM sqlite_master WHERE name LIKE '\\_ov\\_%' ESCAPE '\\'"),
              QStringLiteral("0"));
}

// The part file of a process that is still writing it stays when another
// task runs on the folder, and goes with the next task once that process
// has died.
TEST_F(BackupLeftovers, PartFileOfALiveProcessStays)
{
    const QString bak = path(QStringLiteral("bak"));
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = forkTiedToTest();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(fds[0]);
        const QByteArray made =
            QFile::encodeName(ov::newPartFile(QFileInfo(bak + QStringLiteral("/slow.dat"))));
        if (write(fds[1], made.constData(), size_t(made.size())) != made.size())
            _exit(91);
        close(fds[1]);
        for (;;)
            pause();
    }
    close(fds[1]);
    char buffer[4096];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    close(fds[0]);
    ASSERT_GT(n, 0);
    const QString part = QFile::decodeName(QByteArray(buffer, int(n)));
    ASSERT_TRUE(QFileInfo::exists(part));

    // Two backups at once beside the live part file.
    QString first;
    QString second;
    {
        const pid_t other = forkTiedToTest();
        if (other == 0) {
            const QString r = backupInChild(QStringLiteral("crm"), path(QStringLiteral("bak/a.dat")));
            _exit(r == kBackupDone ? 0 : 1);
        }
        second = backupInChild(QStringLiteral("crm"), path(QStringLiteral("bak/b.dat")));
        int status = 0;
        waitpid(other, &status, 0);
        first = WIFEXITED(status) && WEXITSTATUS(status) == 0 ? kBackupDone : QStringLiteral("failed");
    }
    EXPECT_EQ(first, kBackupDone);
    EXPECT_EQ(second, kBackupDone);
    EXPECT_TRUE(QFileInfo::exists(part));

    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(backupInChild(QStringLiteral("crm"), path(QStringLiteral("bak/c.dat"))), kBackupDone);
    EXPECT_FALSE(QFileInfo::exists(part));
    EXPECT_EQ(filesLeftIn(bak),
              QStringList({QStringLiteral("a.dat"), QStringLiteral("b.dat"), QStringLiteral("c.dat")}));
}

// A database in WAL mode with pages of 1024 bytes is backed up; its backup,
// restored over a database and as a new one, gives a database in the
// rollback-journal mode that a write through the engine leaves without a
// WAL file. A backup file that is itself in WAL mode restores the same way.
TEST_F(BackupLeftovers, BackupInWalModeRestoresInRollbackMode)
{
    const QString wal = path(QStringLiteral("data/walcrm.sqlite"));
    rawExec(wal, "PRAGMA page_size=1024; PRAGMA journal_mode=WAL; PRAGMA application_id=1330004034; "
                 "CREATE TABLE t (id INT, name TEXT); INSERT INTO t VALUES (7, 'seven');");
    const QString backup = path(QStringLiteral("bak/wal.dat"));
    ASSERT_EQ(backupInChild(QStringLiteral("walcrm"), backup), kBackupDone);
    // The same backup with its header saying WAL, as an older backup of a
    // database in WAL mode is.
    QByteArray bytes = readBytes(backup);
    ASSERT_GT(bytes.size(), 100);
    bytes[18] = 2;
    bytes[19] = 2;
    const QString walHeader = path(QStringLiteral("bak/walheader.dat"));
    writeBytes(walHeader, bytes);

    const QStringList seven{QStringLiteral("7|seven")};
    for (const QString& file : {backup, walHeader}) {
        SCOPED_TRACE(file.toStdString());
        const QString crm = path(QStringLiteral("data/crm.sqlite"));
        const QString fresh = path(QStringLiteral("data/fresh.sqlite"));
        EXPECT_EQ(restoreInChild(QStringLiteral("crm"), file, QStringLiteral("walcrm"), crm, true),
                  QStringLiteral("restored"));
        EXPECT_EQ(restoreInChild(QStringLiteral("fresh"), file, QStringLiteral("walcrm"), fresh, false),
                  QStringLiteral("restored"));
        for (const QString& name : {QStringLiteral("crm"), QStringLiteral("fresh")}) {
            const QString db = path(QStringLiteral("data/%1.sqlite").arg(name));
            const QByteArray header = readBytes(db).left(20);
            ASSERT_EQ(header.size(), 20);
            EXPECT_EQ(int(header[18]), 1) << name.toStdString();
            EXPECT_EQ(int(header[19]), 1) << name.toStdString();
            EXPECT_EQ(rows(name, QStringLiteral("SELECT id, name FROM t")), seven);
            auto cn = connect(name);
            EXPECT_TRUE(cn->Execute(QStringLiteral("INSERT INTO t VALUES (8, 'eight')")));
            cn.reset();
            EXPECT_FALSE(QFileInfo::exists(db + QStringLiteral("-wal"))) << name.toStdString();
            EXPECT_EQ(rawValue(db, "PRAGMA journal_mode"), QStringLiteral("delete"));
        }
        ov::ServerAdmin::create(m_server, true, QString(), QString())->dropDatabase(QStringLiteral("fresh"));
    }
}

// A killed backup to a name holding a line break, quotes, brackets and a
// space leaves a part file of that name too; the next backup into the
// folder removes it.
TEST_F(BackupLeftovers, PartFilesOfHostileNamesGoToo)
{
    const QString bak = path(QStringLiteral("bak"));
    const QString hostile = path(QStringLiteral("bak/a\nb 'c' [d] \"e\".dat"));
    ASSERT_EQ(backupInChild(QStringLiteral("crm"), hostile, SYS_fsync), kKilled);
    ASSERT_EQ(partFilesIn(bak).size(), 1);
    EXPECT_EQ(backupInChild(QStringLiteral("crm"), path(QStringLiteral("bak/next.dat"))), kBackupDone);
    EXPECT_EQ(filesLeftIn(bak), QStringList({QStringLiteral("next.dat")}));
}

// A restore that meets a full disk says so and leaves the database byte for
// byte as it was, and no part file.
TEST_F(BackupLeftovers, RestoreOnAFullDiskLeavesTheDatabase)
{
    auto cn = connect(QStringLiteral("crm"));
    ASSERT_TRUE(cn->Execute(QStringLiteral("CREATE TABLE big (b BLOB)")));
    ASSERT_TRUE(cn->Execute(QStringLiteral("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
                                           "WHERE x < 300) INSERT INTO big SELECT randomblob(1000) FROM c")));
    cn.reset();
    const QString backup = path(QStringLiteral("bak/crm.dat"));
    ASSERT_EQ(backupInChild(QStringLiteral("crm"), backup), kBackupDone);
    const QString crm = path(QStringLiteral("data/crm.sqlite"));
    const QByteArray before = readBytes(crm);
    const QString result = runInChild([&] {
        limitFileSize(100000);
        ScriptedUi ui;
        return mdlOVSqlRestore::RestoreDatabase(m_server, QStringLiteral("crm"), QString(), QString(), backup,
                                                {QStringLiteral("crm")}, {crm}, true, true);
    });
    EXPECT_FALSE(result.isEmpty());
    EXPECT_FALSE(result.startsWith(QLatin1Char('<'))) << result.toStdString();
    EXPECT_TRUE(readBytes(crm) == before) << "the database file changed";
    EXPECT_EQ(filesLeftIn(path(QStringLiteral("data"))), QStringList({QStringLiteral("crm.sqlite")}));
}

// A database file that is no database any more (overwritten with other
// bytes, with a stale journal beside it) is restored over: the restore is
// what mends it, and no journal of the old file reaches the new one.
TEST_F(BackupLeftovers, RestoreMendsADatabaseThatIsNoDatabase)
{
    const QString backup = path(QStringLiteral("bak/crm.dat"));
    ASSERT_EQ(backupInChild(QStringLiteral("crm"), backup), kBackupDone);
    const QString crm = path(QStringLiteral("data/crm.sqlite"));
    writeBytes(crm, QByteArray(8192, '\x42'));
    writeBytes(crm + QStringLiteral("-journal"), QByteArray(4096, '\x17'));
    EXPECT_EQ(restoreInChild(QStringLiteral("crm"), backup, QStringLiteral("crm"), crm, true),
              QStringLiteral("restored"));
    EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT id, name FROM t")),
              QStringList({QStringLiteral("1|one")}));
    EXPECT_EQ(filesLeftIn(path(QStringLiteral("data"))), QStringList({QStringLiteral("crm.sqlite")}));
}

// A restore over a database that a program other than this one holds in a
// transaction is refused, and the database and its folder stay as they were.
TEST_F(BackupLeftovers, RestoreOverADatabaseAnotherProgramWritesIsRefused)
{
    const QString backup = path(QStringLiteral("bak/crm.dat"));
    ASSERT_EQ(backupInChild(QStringLiteral("crm"), backup), kBackupDone);
    const QString crm = path(QStringLiteral("data/crm.sqlite"));
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(crm).constData(), &other), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(other, "BEGIN IMMEDIATE; INSERT INTO t VALUES (2, 'two')", nullptr, nullptr, nullptr),
        SQLITE_OK);
    const QString result = restoreInChild(QStringLiteral("crm"), backup, QStringLiteral("crm"), crm, true);
    EXPECT_NE(result, QStringLiteral("restored"));
    EXPECT_FALSE(result.startsWith(QLatin1Char('<'))) << result.toStdString();
    ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT id, name FROM t ORDER BY id")),
              QStringList({QStringLiteral("1|one"), QStringLiteral("2|two")}));
    EXPECT_EQ(partFilesIn(path(QStringLiteral("data"))), QStringList());
}
