// What the SQL Server backup and restore send, through the real ODBC layer on
// a connection that writes its statements down: the check that keeps a backup
// from being added to an existing file, the replacement, and the backup set
// the restore names. The connection reaches the SQLite ODBC driver, which
// refuses every backup statement as a server without the permission would.

#include "DataTestSupport.h"

#include "data/StatementTranscript.h"

#include <QTemporaryDir>

using namespace ov;

namespace {

class MssqlBackupSets : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(
            m_cn.Open(QStringLiteral("Driver=SQLite3;Database=") + m_dir.filePath(QStringLiteral("x.db"))))
            << m_cn.lastError().description.toStdString();
        m_cn.transcribe(m_sent);
        m_admin = ServerAdmin::create(QStringLiteral("DBHOST"), true, QString(), QString());
        ASSERT_EQ(m_admin->engine(), QStringLiteral("mssql"));
    }

    QTemporaryDir m_dir;
    StatementTranscript m_sent; // outlives the connection that writes to it
    Connection m_cn;
    std::unique_ptr<ServerAdmin> m_admin;
};

const QString kPath = QStringLiteral("D:\\o'neil\\crm.dat");

// Not knowing whether the file exists is not knowing that the backup would
// not be added to it: the backup is refused, with the server's reason, and
// only the question was sent.
TEST_F(MssqlBackupSets, ABackupThatCannotCheckTheFileIsNotSent)
{
    EXPECT_FALSE(m_admin->backupDatabase(m_cn, QStringLiteral("crm"), kPath));
    const QString why = m_admin->lastError().description;
    EXPECT_TRUE(why.startsWith(QStringLiteral("无法确认备份文件 D:\\o'neil\\crm.dat 是否已存在")))
        << why.toStdString();
    EXPECT_TRUE(why.contains(QStringLiteral("RESTORE"))) << why.toStdString();
    EXPECT_EQ(m_sent.text(),
              QStringLiteral("RESTORE HEADERONLY From DISK = N'D:\\o''neil\\crm.dat'\r\nGO\r\n"));

    bool exists = false;
    EXPECT_FALSE(m_admin->backupFileExists(m_cn, kPath, exists));
}

// Replacing asks nothing and overwrites the sets of the file.
TEST_F(MssqlBackupSets, ReplacingSendsInitAndNoCheck)
{
    ASSERT_TRUE(m_admin->backupDatabase(m_cn, QStringLiteral("\"crm\""), kPath, true))
        << m_admin->lastError().description.toStdString();
    EXPECT_EQ(m_sent.text(),
              QStringLiteral("BackUp Database \"crm\" to disk=N'D:\\o''neil\\crm.dat' WITH INIT\r\nGO\r\n"));
}

// The restore names the set it restores in the verification and in the
// restore, and the verification checks the targets the restore writes to.
TEST_F(MssqlBackupSets, RestoreNamesItsSetAndVerifiesItsTargets)
{
    const QList<QPair<QString, QString>> moves = {
        {QStringLiteral("crm_Data"), QStringLiteral("E:\\new\\crm.mdf")},
        {QStringLiteral("crm_Log"), QStringLiteral("E:\\new\\crm_log.ldf")},
    };
    ASSERT_TRUE(m_admin->restoreDatabase(m_cn, QStringLiteral("crm"), kPath, moves, false, 2))
        << m_admin->lastError().description.toStdString();
    const QString moveText = QStringLiteral(",move N'crm_Data' to N'E:\\new\\crm.mdf',move N'crm_Log' to "
                                            "N'E:\\new\\crm_log.ldf'");
    EXPECT_EQ(
        m_sent.text(),
        QStringLiteral("RESTORE VERIFYONLY FROM DISK = N'D:\\o''neil\\crm.dat' WITH FILE = 2") + moveText +
            QStringLiteral("\r\nGO\r\nRESTORE DATABASE \"crm\" FROM DISK = N'D:\\o''neil\\crm.dat' WITH "
                           "RECOVERY") +
            moveText + QStringLiteral(",FILE = 2\r\nGO\r\n"));

    // A set number that no header gives is refused before anything is sent.
    const QString before = m_sent.text();
    EXPECT_FALSE(m_admin->restoreDatabase(m_cn, QStringLiteral("crm"), kPath, moves, false, 0));
    EXPECT_EQ(m_admin->lastError().number, DataErr::InvalidArgument);
    QList<BackupFileInfo> files;
    EXPECT_FALSE(m_admin->readBackupFileList(m_cn, kPath, files, -1));
    EXPECT_EQ(m_sent.text(), before);
}

} // namespace
