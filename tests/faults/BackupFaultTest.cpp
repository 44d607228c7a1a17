// Backup and restore on the embedded engine under faults: a target folder
// that does not exist, a disk that fills up, backup files that are cut off or
// no backup at all; and database names that hold quotes, semicolons,
// brackets, Chinese text and spaces, or are very long, through create,
// update, backup and restore.

#include "FaultSupport.h"
#include "backup/mdlOVSqlBackup.h"
#include "backup/mdlOVSqlRestore.h"
#include "config/ConfigFiles.h"
#include "data/Identifiers.h"
#include "data/ServerAdmin.h"
#include "data/sqlite/EmbeddedServer.h"
#include "update/UpdateScript.h"

#include <QFileInfo>

#include <sqlite3.h>

using namespace ovtest;

namespace {

const QString kBackupFailed = QStringLiteral("备份数据库失败！");

class BackupFaults : public FaultFixture
{
protected:
    void SetUp() override
    {
        FaultFixture::SetUp();
        makeDatabase(QStringLiteral("crm"));
    }

    void makeDatabase(const QString& name)
    {
        makeBackupFolderAndDatabase(name, {QStringLiteral("CREATE TABLE t ([id] INT, [name] NVARCHAR(20))"),
                                           QStringLiteral("INSERT INTO t VALUES (1, 'one')"),
                                           QStringLiteral("INSERT INTO t VALUES (2, 'two')")});
    }

    QStringList content(const QString& database = QStringLiteral("crm"))
    {
        return rows(database, QStringLiteral("SELECT id, name FROM t ORDER BY id"));
    }

    // Runs a backup in a child process (so a file-size limit stays there) and
    // gives back its result and messages.
    QString backupInChild(const QString& database, const QString& target, rlim_t limit = RLIM_INFINITY)
    {
        return runInChild([&] {
            if (limit != RLIM_INFINITY)
                limitFileSize(limit);
            ScriptedUi ui;
            const bool ok = mdlOVSqlBackup::DoBackup(m_server, database, true, QString(), QString(), target);
            return QStringLiteral("%1 %2").arg(ok).arg(ui.texts().join(QLatin1Char('/')));
        });
    }

    QString restore(const QString& database, const QString& file)
    {
        return mdlOVSqlRestore::RestoreDatabase(m_server, database, QString(), QString(), file, {}, {}, true,
                                                true);
    }
};

const QStringList kOneTwo{QStringLiteral("1|one"), QStringLiteral("2|two")};

} // namespace

// A backup that cannot be written says so and leaves no file and an
// unchanged database behind.
TEST_F(BackupFaults, BackupThatCannotBeWrittenFailsAndSaysSo)
{
    struct Case
    {
        const char* name;
        QString target;
        rlim_t limit;
    };
    const Case cases[] = {
        {"missing folder", path(QStringLiteral("missing/crm.dat")), RLIM_INFINITY},
        {"folder that is a file", path(QStringLiteral("data/crm.sqlite/crm.dat")), RLIM_INFINITY},
        {"full disk", path(QStringLiteral("bak/crm.dat")), 4096},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString outcome = backupInChild(QStringLiteral("crm"), c.target, c.limit);
        EXPECT_TRUE(outcome.startsWith(QStringLiteral("0 ") + kBackupFailed)) << outcome.toStdString();
        EXPECT_FALSE(QFileInfo::exists(c.target));
        EXPECT_EQ(content(), kOneTwo);
    }
}

// Restoring from a file that is no whole backup is refused with the server's
// text, and the database it would have replaced stays as it was.
TEST_F(BackupFaults, RestoreFromDamagedFileKeepsTheDatabase)
{
    const QString good = path(QStringLiteral("bak/good.dat"));
    ASSERT_EQ(backupInChild(QStringLiteral("crm"), good), QStringLiteral("1 备份数据库成功！"));
    const QByteArray backup = readBytes(good);
    ASSERT_GT(backup.size(), 4096);
    auto cn = connect(QStringLiteral("crm"));
    ASSERT_TRUE(cn->Execute(QStringLiteral("INSERT INTO t VALUES (3, 'three')")));
    cn.reset();
    const QStringList now{QStringLiteral("1|one"), QStringLiteral("2|two"), QStringLiteral("3|three")};

    struct Case
    {
        const char* name;
        QByteArray bytes;
    };
    QByteArray zeroedTail = backup;
    zeroedTail.replace(backup.size() - 1024, 1024, QByteArray(1024, '\0'));
    const Case cases[] = {
        {"cut after the first page", backup.left(4096)},
        {"cut in the middle", backup.left(backup.size() / 2 + 100)},
        {"header only", backup.left(100)},
        {"empty", QByteArray()},
        {"text", QByteArrayLiteral("this is no backup\r\n")},
        {"the configuration file", QByteArrayLiteral("[MAIN]\r\nDBServer=x\r\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = path(QStringLiteral("bak/bad.dat"));
        writeBytes(file, c.bytes);
        EXPECT_FALSE(restore(QStringLiteral("crm"), file).isEmpty());
        EXPECT_EQ(content(), now);
    }
    EXPECT_EQ(restore(QStringLiteral("crm"), good), QString());
    EXPECT_EQ(content(), kOneTwo);
}

// Names with every character that could break a statement, a path or a
// connection string go through create, update, backup and restore; a name
// too long for a file is refused with the engine's error.
TEST_F(BackupFaults, AwkwardNamesGoThroughEveryTask)
{
    const QString names[] = {
        QStringLiteral("a'b"),           QStringLiteral("x;Data Source=evil;y"),
        QStringLiteral("[br]ack]]ets"),  QStringLiteral("客户 数据 库"),
        QStringLiteral(" spaced name "), QStringLiteral("q\"uote"),
        QString(80, QChar(u'名')),
    };
    const QString script = path(QStringLiteral("script.txt"));
    writeBytes(script, "CREATE TABLE u ([a] INT)\r\nGO\r\nINSERT INTO u VALUES (7)\r\nGO\r\n");
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        makeDatabase(name);
        if (HasFatalFailure())
            return;
        ScriptedUi ui;
        RecordingStatus status;
        RecordingProgress progress;
        EXPECT_TRUE(mdlOVSqlUpdateDB::RunUpdateScript(m_server, name, true, QString(), QString(), script,
                                                      status, progress));
        EXPECT_EQ(rows(name, QStringLiteral("SELECT a FROM u")), QStringList{QStringLiteral("7")});
        const QString file =
            path(QStringLiteral("bak/") + QString::number(qHash(name)) + QStringLiteral(".dat"));
        EXPECT_EQ(backupInChild(name, file), QStringLiteral("1 备份数据库成功！"));
        auto cn = connect(name);
        ASSERT_TRUE(cn->Execute(QStringLiteral("DELETE FROM t")));
        cn.reset();
        EXPECT_EQ(restore(name, file), QString());
        EXPECT_EQ(content(name), kOneTwo);
        EXPECT_EQ(ui.texts(), QStringList());
    }

    auto admin = ov::ServerAdmin::create(m_server, true, QString(), QString());
    EXPECT_FALSE(admin->createDatabase(QString(300, QChar(u'长'))));
    EXPECT_FALSE(admin->lastError().description.isEmpty());
    QStringList databases;
    ASSERT_TRUE(admin->listDatabases(databases));
    EXPECT_EQ(databases.size(), 1 + int(std::size(names)));
}

// A backup writes a file that is not there yet; an existing file (another
// database's live file, an older backup, anything else) is left byte for byte
// as it was and the failure message says why.
TEST_F(BackupFaults, BackupNeverReplacesAnExistingFile)
{
    makeDatabase(QStringLiteral("other"));
    const QString older = path(QStringLiteral("bak/older.dat"));
    ASSERT_EQ(backupInChild(QStringLiteral("other"), older), QStringLiteral("1 备份数据库成功！"));
    const QString text = path(QStringLiteral("bak/notes.txt"));
    writeBytes(text, "keep me\r\n");
    const QString targets[] = {path(QStringLiteral("data/other.sqlite")), older, text};
    for (const QString& target : targets) {
        SCOPED_TRACE(target.toStdString());
        const QByteArray before = readBytes(target);
        const QString outcome = backupInChild(QStringLiteral("crm"), target);
        EXPECT_TRUE(outcome.startsWith(QStringLiteral("0 ") + kBackupFailed)) << outcome.toStdString();
        EXPECT_TRUE(outcome.contains(QStringLiteral("已经存在"))) << outcome.toStdString();
        EXPECT_EQ(readBytes(target), before);
    }
    EXPECT_EQ(content(QStringLiteral("other")), kOneTwo);
    EXPECT_EQ(QDir(path(QStringLiteral("bak"))).entryList(QDir::Files | QDir::Hidden),
              QStringList({QStringLiteral("notes.txt"), QStringLiteral("older.dat")}));
}

// A backup whose pages are damaged is refused before anything is replaced:
// the database it would have overwritten keeps its rows, and a restore to a
// new name leaves no database behind.
TEST_F(BackupFaults, RestoreChecksTheBackupBeforeItTouchesTheTarget)
{
    const QString good = path(QStringLiteral("bak/good.dat"));
    ASSERT_EQ(backupInChild(QStringLiteral("crm"), good), QStringLiteral("1 备份数据库成功！"));
    auto cn = connect(QStringLiteral("crm"));
    ASSERT_TRUE(cn->Execute(QStringLiteral("INSERT INTO t VALUES (3, 'three')")));
    cn.reset();
    const QStringList now{QStringLiteral("1|one"), QStringLiteral("2|two"), QStringLiteral("3|three")};

    // The page of table t is scribbled over; the backup's own description,
    // on another page, still reads.
    QByteArray bytes = readBytes(good);
    int root = 0;
    {
        const QString probe = path(QStringLiteral("probe.dat"));
        writeBytes(probe, bytes);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(probe).constData(), &db), SQLITE_OK);
        sqlite3_stmt* stmt = nullptr;
        ASSERT_EQ(
            sqlite3_prepare_v2(db, "SELECT rootpage FROM sqlite_master WHERE name = 't'", -1, &stmt, nullptr),
            SQLITE_OK);
        ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
        root = sqlite3_column_int(stmt, 0);
        sqlite3_finalize(stmt);
        sqlite3_close(db);
    }
    ASSERT_GT(root, 1);
    const int pageSize = 4096;
    ASSERT_GE(bytes.size(), root * pageSize);
    bytes.replace((root - 1) * pageSize + 8, pageSize - 8, QByteArray(pageSize - 8, '\x5a'));
    const QString damaged = path(QStringLiteral("bak/damaged.dat"));
    writeBytes(damaged, bytes);
    ASSERT_NE(integrity(damaged), QStringLiteral("ok"));

    const QString overExisting = restore(QStringLiteral("crm"), damaged);
    EXPECT_FALSE(overExisting.isEmpty());
    EXPECT_EQ(content(), now);
    EXPECT_EQ(integrity(path(QStringLiteral("data/crm.sqlite"))), QStringLiteral("ok"));

    const QString asNew = mdlOVSqlRestore::RestoreDatabase(
        m_server, QStringLiteral("fresh"), QString(), QString(), damaged, {QStringLiteral("crm")},
        {path(QStringLiteral("data/fresh.sqlite"))}, false, true);
    EXPECT_FALSE(asNew.isEmpty());
    EXPECT_EQ(filesLeftIn(path(QStringLiteral("data"))), QStringList({QStringLiteral("crm.sqlite")}));

    // The sound backup still restores.
    EXPECT_EQ(restore(QStringLiteral("crm"), good), QString());
    EXPECT_EQ(content(), kOneTwo);
}

// A crafted backup whose description never ends to read (a view that counts
// for ever) is given up after the connection's time limit, with the time-out
// as the reason; the read does not run for ever.
TEST_F(BackupFaults, ReadingACraftedBackupIsBounded)
{
    const QString crafted = path(QStringLiteral("bak/crafted.dat"));
    rawExec(crafted, "CREATE VIEW _ov_backup_set AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 "
                     "FROM c) SELECT 'a' AS LogicalName, 'b' AS PhysicalName, 'D' AS Type, 'a' AS "
                     "DatabaseName, '' AS BackupStartDate, '' AS BackupFinishDate FROM c WHERE x < 0");
    const QString outcome = runInChild([&] {
        // A read that has not ended after a minute ran away.
        alarm(60);
        auto admin = ov::ServerAdmin::create(m_server, true, QString(), QString());
        admin->setCommandTimeout(1);
        QList<ov::BackupFileInfo> files;
        ov::BackupHeader header;
        const bool listed = admin->readBackupFileList(crafted, files);
        const QString listError = admin->lastError().description;
        const bool headed = admin->readBackupHeader(crafted, header);
        return QStringLiteral("%1 %2|%3 %4")
            .arg(listed)
            .arg(listError)
            .arg(headed)
            .arg(admin->lastError().description);
    });
    const QString expired = QStringLiteral("0 查询超时：1 秒内未能读出备份文件 %1 的说明。").arg(crafted);
    EXPECT_EQ(outcome, expired + QLatin1Char('|') + expired);
}

// A database name typed in double quotes names the database inside them, in
// every operation of the embedded engine: create, connect, back up, restore
// and drop all reach the same file.
TEST_F(BackupFaults, QuotedNamesNameTheSameDatabaseEverywhere)
{
    const struct
    {
        const char* typed;
        const char* file;
    } cases[] = {
        {"\"q\"", "q.sqlite"},
        {"\"say \"\"hi\"\"\"", "say \"hi\".sqlite"},
        {"\"客户\"", "客户.sqlite"},
    };
    auto admin = ov::ServerAdmin::create(m_server, true, QString(), QString());
    for (const auto& c : cases) {
        const QString typed = QString::fromUtf8(c.typed);
        SCOPED_TRACE(c.typed);
        ASSERT_TRUE(admin->createDatabase(typed)) << admin->lastError().description.toStdString();
        EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("data/") + QString::fromUtf8(c.file))));
        auto cn = connect(ov::unquotedName(typed));
        ASSERT_TRUE(cn->Execute(QStringLiteral("CREATE TABLE t ([id] INT, [name] NVARCHAR(20))")));
        ASSERT_TRUE(cn->Execute(QStringLiteral("INSERT INTO t VALUES (1, 'one')")));
        cn.reset();
        const QString file = path(QStringLiteral("bak/%1.dat").arg(qHash(typed)));
        EXPECT_EQ(backupInChild(typed, file), QStringLiteral("1 备份数据库成功！"));
        EXPECT_EQ(restore(typed, file), QString());
        EXPECT_TRUE(admin->dropDatabase(typed)) << admin->lastError().description.toStdString();
        EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("data/") + QString::fromUtf8(c.file))));
    }
    EXPECT_EQ(filesLeftIn(path(QStringLiteral("data"))), QStringList({QStringLiteral("crm.sqlite")}));
}

// The longest names the file system takes, for the database and for the
// backup file, go through a backup and a restore to a new name: the files
// written beside the targets have names the file system takes too.
TEST_F(BackupFaults, LongestNamesBackUpAndRestoreToANewName)
{
    // 80 characters of three bytes: with ".sqlite", 247 of the 255 bytes a
    // file name may have.
    const QString name(80, QChar(u'名'));
    makeDatabase(name);
    const QString file =
        path(QStringLiteral("bak/") + QString(250, QLatin1Char('b')) + QStringLiteral(".dat"));
    EXPECT_EQ(backupInChild(name, file), QStringLiteral("1 备份数据库成功！"));
    auto admin = ov::ServerAdmin::create(m_server, true, QString(), QString());
    ASSERT_TRUE(admin->dropDatabase(name)) << admin->lastError().description.toStdString();
    EXPECT_EQ(
        mdlOVSqlRestore::RestoreDatabase(m_server, name, QString(), QString(), file, {}, {}, false, true),
        QString());
    EXPECT_EQ(content(name), kOneTwo);
    EXPECT_EQ(QDir(path(QStringLiteral("bak"))).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

// A damaged backup larger than one copy step: the pages copied before the
// check ended are rolled back, over an existing database and to a new name.
TEST_F(BackupFaults, LargeDamagedBackupIsRolledBackBeforeItCommits)
{
    makeDatabase(QStringLiteral("big"));
    rawExec(path(QStringLiteral("data/big.sqlite")),
            "WITH RECURSIVE c(x) AS (SELECT 3 UNION ALL SELECT x + 1 FROM c WHERE x < 12000) "
            "INSERT INTO t SELECT x, hex(randomblob(1500)) FROM c");
    const QString good = path(QStringLiteral("bak/big.dat"));
    ASSERT_EQ(backupInChild(QStringLiteral("big"), good), QStringLiteral("1 备份数据库成功！"));
    rawExec(path(QStringLiteral("data/big.sqlite")), "DELETE FROM t WHERE id > 2");
    QByteArray bytes = readBytes(good);
    const int pageSize = 4096;
    const int pages = int(bytes.size() / pageSize);
    ASSERT_GT(pages, 8192);
    // A page in the middle of table t.
    const int page = pages / 2;
    bytes.replace(page * pageSize + 8, pageSize - 8, QByteArray(pageSize - 8, '\x5a'));
    const QString damaged = path(QStringLiteral("bak/damaged.dat"));
    writeBytes(damaged, bytes);
    ASSERT_NE(integrity(damaged), QStringLiteral("ok"));

    EXPECT_TRUE(restore(QStringLiteral("big"), damaged).startsWith(QStringLiteral("还原时发现备份文件 ")));
    EXPECT_EQ(content(QStringLiteral("big")), kOneTwo);
    EXPECT_EQ(integrity(path(QStringLiteral("data/big.sqlite"))), QStringLiteral("ok"));
    EXPECT_TRUE(mdlOVSqlRestore::RestoreDatabase(m_server, QStringLiteral("fresh"), QString(), QString(),
                                                 damaged, {QStringLiteral("big")},
                                                 {path(QStringLiteral("data/fresh.sqlite"))}, false, true)
                    .startsWith(QStringLiteral("还原时发现备份文件 ")));
    EXPECT_EQ(filesLeftIn(path(QStringLiteral("data"))),
              QStringList({QStringLiteral("big.sqlite"), QStringLiteral("crm.sqlite")}));
}
