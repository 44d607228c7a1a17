// A backup of the embedded engine carries a checksum of its content: a backup
// whose content was changed afterwards (one byte of a text or a number, a row
// deleted or added, the checksum itself) is refused, with the reason, before
// the target is touched, when it is read as the restore window and
// backup-info read it and when it is restored; a backup without a checksum
// (an older one) still restores after the check of its structure.

#include "FaultSupport.h"
#include "backup/mdlOVSqlBackup.h"
#include "backup/mdlOVSqlRestore.h"
#include "config/ConfigFiles.h"
#include "data/ServerAdmin.h"
#include "support/CliProgram.h"

#include <QFileInfo>

#include <sqlite3.h>

using namespace ovtest;

namespace {

// Runs sql on a SQLite file in WAL mode and leaves the change in the WAL
// beside the file, as a program ended before its checkpoint does; false when
// it fails or no WAL is left.
bool walExec(const QString& file, const char* sql)
{
    sqlite3* db = nullptr;
    int rc = sqlite3_open(QFile::encodeName(file).constData(), &db);
    if (rc == SQLITE_OK)
        rc = sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return rc == SQLITE_OK && QFileInfo(file + QStringLiteral("-wal")).size() > 0;
}

// Replaces the one occurrence of from in file by to (of the same length).
bool patchOnce(const QString& file, const QByteArray& from, const QByteArray& to)
{
    QByteArray bytes = readBytes(file);
    const int at = bytes.indexOf(from);
    if (at < 0 || bytes.indexOf(from, at + 1) >= 0 || from.size() != to.size())
        return false;
    bytes.replace(at, to.size(), to);
    writeBytes(file, bytes);
    return true;
}

class BackupChecksum : public FaultFixture
{
protected:
    void SetUp() override
    {
        FaultFixture::SetUp();
        // 287454020 is 0x11223344, four bytes that occur once in the file.
        ASSERT_NO_FATAL_FAILURE(makeBackupFolderAndDatabase(
            QStringLiteral("crm"),
            {QStringLiteral("CREATE TABLE tblContactPhone ([id] INT, [contactId] INT, [phone] NVARCHAR(30))"),
             QStringLiteral("INSERT INTO tblContactPhone VALUES (1, 287454020, '13800138000')"),
             QStringLiteral("INSERT INTO tblContactPhone VALUES (2, 5, '02161234567')")}));
        ScriptedUi ui;
        ASSERT_TRUE(
            mdlOVSqlBackup::DoBackup(m_server, QStringLiteral("crm"), true, QString(), QString(), good()));
        // The database moves on after its backup.
        auto cn = connect(QStringLiteral("crm"));
        ASSERT_TRUE(cn->Execute(QStringLiteral("INSERT INTO tblContactPhone VALUES (3, 6, '13911112222')")));
    }

    QString good() const { return path(QStringLiteral("bak/good.dat")); }
    QString crmFile() const { return path(QStringLiteral("data/crm.sqlite")); }

    QStringList phones(const QString& database = QStringLiteral("crm"))
    {
        return rows(database, QStringLiteral("SELECT id, contactId, phone FROM tblContactPhone ORDER BY id"));
    }

    QString restoreOver(const QString& file)
    {
        return mdlOVSqlRestore::RestoreDatabase(m_server, QStringLiteral("crm"), QString(), QString(), file,
                                                {QStringLiteral("crm")}, {crmFile()}, true, true);
    }
    QString restoreAsNew(const QString& file)
    {
        return mdlOVSqlRestore::RestoreDatabase(m_server, QStringLiteral("fresh"), QString(), QString(), file,
                                                {QStringLiteral("crm")},
                                                {path(QStringLiteral("data/fresh.sqlite"))}, false, true);
    }
    mdlOVSqlRestore::BackupFileContents read(const QString& file)
    {
        return mdlOVSqlRestore::ReadBackupFileContents(m_server, true, QString(), QString(), file);
    }
};

const QStringList kBackedUp{QStringLiteral("1|287454020|13800138000"), QStringLiteral("2|5|02161234567")};

} // namespace

// Each damage leaves a file whose structure is sound; each is refused, with
// the reason, by the reading of the backup and by the restore, and the
// database is not touched: its file is byte for byte what it was.
TEST_F(BackupChecksum, ChangedContentIsRefusedBeforeTheTargetIsTouched)
{
    struct Damage
    {
        const char* name;
        std::function<bool(const QString&)> apply;
    };
    const Damage damages[] = {
        {"a byte of a text value",
         [](const QString& f) { return patchOnce(f, "13800138000", "13800138001"); }},
        {"a byte of a number",
         [](const QString& f) {
             return patchOnce(f, QByteArray("\x11\x22\x33\x44", 4), QByteArray("\x11\x22\x33\x45", 4));
         }},
        {"a deleted row",
         [](const QString& f) { return rawExec(f, "DELETE FROM tblContactPhone WHERE id = 2"); }},
        {"an added row",
         [](const QString& f) {
             return rawExec(f, "INSERT INTO tblContactPhone VALUES (9, 9, '13000000000')");
         }},
        {"the checksum",
         [](const QString& f) {
             return rawExec(f, "UPDATE _ov_backup_sum SET ContentSha256 = "
                               "'0000000000000000000000000000000000000000000000000000000000000000'");
         }},
        // SQLite reads the WAL's pages over the file's.
        {"a change kept in a WAL beside the file",
         [](const QString& f) {
             return walExec(f, "UPDATE tblContactPhone SET phone = '13800138001' WHERE id = 1");
         }},
    };
    const QStringList before = phones();
    const QByteArray crmBytes = readBytes(crmFile());
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.name);
        const QString file = path(QStringLiteral("bak/damaged.dat"));
        QFile::remove(file);
        ASSERT_TRUE(QFile::copy(good(), file));
        ASSERT_TRUE(d.apply(file));
        ASSERT_EQ(integrity(file), QStringLiteral("ok"));

        const mdlOVSqlRestore::BackupFileContents contents = read(file);
        EXPECT_FALSE(contents.headerRead);
        EXPECT_TRUE(contents.error.description.contains(QStringLiteral("校验和")))
            << contents.error.description.toStdString();

        const QString over = restoreOver(file);
        EXPECT_TRUE(over.contains(QStringLiteral("校验和"))) << over.toStdString();
        EXPECT_TRUE(readBytes(crmFile()) == crmBytes) << "the database file changed";
        const QString asNew = restoreAsNew(file);
        EXPECT_TRUE(asNew.contains(QStringLiteral("校验和"))) << asNew.toStdString();
        EXPECT_EQ(filesLeftIn(path(QStringLiteral("data"))), QStringList({QStringLiteral("crm.sqlite")}));
    }
    EXPECT_EQ(phones(), before);
}

// A sound backup reads, restores over the database and as a new one, and
// holds what the database held when it was made.
TEST_F(BackupChecksum, SoundBackupReadsAndRestores)
{
    const mdlOVSqlRestore::BackupFileContents contents = read(good());
    EXPECT_TRUE(contents.headerRead) << contents.error.description.toStdString();
    EXPECT_EQ(restoreOver(good()), QString());
    EXPECT_EQ(phones(), kBackedUp);
    EXPECT_EQ(restoreAsNew(good()), QString());
    EXPECT_EQ(phones(QStringLiteral("fresh")), kBackedUp);
}

// A backup of the older format, without a checksum, still restores; one
// that is damaged is still refused by the check of its structure.
TEST_F(BackupChecksum, BackupWithoutChecksumRestoresAfterTheStructureCheck)
{
    const QString old = path(QStringLiteral("bak/old.dat"));
    ASSERT_TRUE(QFile::copy(good(), old));
    ASSERT_TRUE(rawExec(old, "DROP TABLE IF EXISTS _ov_backup_sum"));
    EXPECT_TRUE(read(old).headerRead);
    EXPECT_EQ(restoreOver(old), QString());
    EXPECT_EQ(phones(), kBackedUp);
    EXPECT_EQ(restoreAsNew(old), QString());
    EXPECT_EQ(phones(QStringLiteral("fresh")), kBackedUp);

    // Its table page scribbled over: refused, the database stays.
    QByteArray bytes = readBytes(old);
    const int at = bytes.indexOf("13800138000");
    ASSERT_GT(at, 0);
    const int page = at / 4096;
    bytes.replace(page * 4096 + 8, 4096 - 8, QByteArray(4096 - 8, '\x5a'));
    writeBytes(old, bytes);
    ASSERT_NE(integrity(old), QStringLiteral("ok"));
    const QByteArray crmBytes = readBytes(crmFile());
    EXPECT_FALSE(restoreOver(old).isEmpty());
    EXPECT_TRUE(readBytes(crmFile()) == crmBytes) << "the database file changed";
}

// ovsqlcli backup-info and restore refuse a changed backup with the reason,
// exit non-zero, and leave the database as it was.
TEST_F(BackupChecksum, CommandLineRefusesAChangedBackup)
{
    ASSERT_TRUE(InstallCli(m_dir.path()));
    const QString file = path(QStringLiteral("bak/damaged.dat"));
    ASSERT_TRUE(QFile::copy(good(), file));
    ASSERT_TRUE(patchOnce(file, "13800138000", "13800138001"));
    const QByteArray crmBytes = readBytes(crmFile());
    const CliResult info =
        RunCli(m_dir.path(), {QStringLiteral("backup-info"), QStringLiteral("--server"),
                              QStringLiteral("sqlite:data"), QStringLiteral("--file"), file});
    EXPECT_EQ(info.exitCode, 1);
    EXPECT_TRUE(info.err.contains(QStringLiteral("校验和"))) << info.err.toStdString();
    const CliResult restore = RunCli(
        m_dir.path(), {QStringLiteral("restore"), QStringLiteral("--server"), QStringLiteral("sqlite:data"),
                       QStringLiteral("--database"), QStringLiteral("crm"), QStringLiteral("--from"), file,
                       QStringLiteral("--replace"), QStringLiteral("--yes")});
    EXPECT_EQ(restore.exitCode, 1);
    EXPECT_TRUE((restore.out + restore.err).contains(QStringLiteral("校验和"))) << restore.err.toStdString();
    EXPECT_TRUE(readBytes(crmFile()) == crmBytes) << "the database file changed";
    const CliResult sound =
        RunCli(m_dir.path(), {QStringLiteral("backup-info"), QStringLiteral("--server"),
                              QStringLiteral("sqlite:data"), QStringLiteral("--file"), good()});
    EXPECT_EQ(sound.exitCode, 0) << sound.err.toStdString();
}
