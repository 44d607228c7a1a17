// What the SQL Server backup and restore send, through the real ODBC layer
// and the FreeTDS driver against the scripted TDS peer, on connections the
// admin opens itself from a recording handle: the check that keeps a backup
// from being added to an existing file, the replacement, and the backup set
// the restore names. The header read is sent; the backup and the restore go
// to the transcript.

#include "PeerTaskSupport.h"

#include "data/Server.h"
#include "data/StatementTranscript.h"
#include "data/odbc/MssqlStatements.h"
#include "support/TdsPeer.h"

using namespace ov;
using namespace ovtest;

namespace {

const QString kPath = QStringLiteral("D:\\o'neil\\crm.dat");

// A server with master and crm whose header read of kPath is refused with
// an error that does not say the file is missing.
QJsonObject refusingServer()
{
    return QJsonObject{
        {QStringLiteral("databases"), QJsonArray{QStringLiteral("master"), QStringLiteral("crm")}},
        {QStringLiteral("rules"),
         QJsonArray{exactRule(mssql::headerStatement(kPath),
                              QJsonArray{error(3201, QStringLiteral("Cannot open backup device "
                                                                    "'D:\\o'neil\\crm.dat'. Operating system "
                                                                    "error 5(Access is denied.).")),
                                         error(3013, QStringLiteral("RESTORE HEADERONLY is terminating "
                                                                    "abnormally.")),
                                         doneWithError()})}}};
}

class MssqlBackupSets : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_peer.isRunning()) << str(m_peer.error());
        m_handle.record(m_sent);
        m_admin = m_handle.admin();
        ASSERT_EQ(m_admin->engine(), QStringLiteral("mssql"));
    }

    // The database each connection of the peer logged in to, in order.
    QStringList loginDatabases() const
    {
        QStringList databases;
        for (const QJsonObject& login : m_peer.events(QStringLiteral("login")))
            databases.append(login.value(QStringLiteral("database")).toString());
        return databases;
    }

    TdsPeer m_peer{refusingServer()};
    StatementTranscript m_sent; // outlives the connections that write to it
    Server m_handle{{m_peer.server(), QString(), false, QStringLiteral("sa"), QStringLiteral("pw")}};
    std::unique_ptr<ServerAdmin> m_admin;
};

// Not knowing whether the file exists is not knowing that the backup would
// not be added to it: the backup is refused, with the server's reason, and
// only the question was sent, on a connection to the database itself.
TEST_F(MssqlBackupSets, ABackupThatCannotCheckTheFileIsNotSent)
{
    EXPECT_FALSE(m_admin->backupDatabase(QStringLiteral("crm"), kPath));
    const QString why = m_admin->lastError().description;
    EXPECT_TRUE(why.startsWith(QStringLiteral("无法确认备份文件 D:\\o'neil\\crm.dat 是否已存在")))
        << why.toStdString();
    EXPECT_TRUE(why.contains(QStringLiteral("RESTORE"))) << why.toStdString();
    EXPECT_EQ(m_sent.text(),
              QStringLiteral("RESTORE HEADERONLY From DISK = N'D:\\o''neil\\crm.dat'\r\nGO\r\n"));
    EXPECT_EQ(m_peer.statements(), QStringList{mssql::headerStatement(kPath)});
    EXPECT_EQ(loginDatabases(), QStringList{QStringLiteral("crm")});

    // Asked alone, on a connection to master.
    bool exists = false;
    EXPECT_FALSE(m_admin->backupFileExists(kPath, exists));
    EXPECT_EQ(loginDatabases(), (QStringList{QStringLiteral("crm"), QStringLiteral("master")}));
}

// Replacing asks nothing and overwrites the sets of the file.
TEST_F(MssqlBackupSets, ReplacingSendsInitAndNoCheck)
{
    ASSERT_TRUE(m_admin->backupDatabase(QStringLiteral("\"crm\""), kPath, true))
        << m_admin->lastError().description.toStdString();
    EXPECT_EQ(m_sent.text(),
              QStringLiteral("BackUp Database \"crm\" to disk=N'D:\\o''neil\\crm.dat' WITH INIT\r\nGO\r\n"));
    EXPECT_TRUE(m_peer.statements().isEmpty()) << str(m_peer.statements().join(QLatin1Char('\n')));
    EXPECT_EQ(loginDatabases(), QStringList{QStringLiteral("crm")});
}

// A database the server does not have fails the backup as the server
// refuses its login, and nothing is sent.
TEST_F(MssqlBackupSets, ABackupOfAMissingDatabaseFailsAtTheLogin)
{
    EXPECT_FALSE(m_admin->backupDatabase(QStringLiteral("other"), kPath, true));
    EXPECT_TRUE(m_admin->lastError().description.contains(
        QStringLiteral("Cannot open database \"other\" requested by the login.")))
        << str(m_admin->lastError().description);
    EXPECT_TRUE(m_sent.text().isEmpty());
    EXPECT_TRUE(m_peer.statements().isEmpty());
}

// The restore names the set it restores in the verification and in the
// restore, and the verification checks the targets the restore writes to.
TEST_F(MssqlBackupSets, RestoreNamesItsSetAndVerifiesItsTargets)
{
    const QList<QPair<QString, QString>> moves = {
        {QStringLiteral("crm_Data"), QStringLiteral("E:\\new\\crm.mdf")},
        {QStringLiteral("crm_Log"), QStringLiteral("E:\\new\\crm_log.ldf")},
    };
    ASSERT_TRUE(m_admin->restoreDatabase(QStringLiteral("crm"), kPath, moves, false, 2))
        << m_admin->lastError().description.toStdString();
    const QString moveText = QStringLiteral(",move N'crm_Data' to N'E:\\new\\crm.mdf',move N'crm_Log' to "
                                            "N'E:\\new\\crm_log.ldf'");
    EXPECT_EQ(
        m_sent.text(),
        QStringLiteral("RESTORE VERIFYONLY FROM DISK = N'D:\\o''neil\\crm.dat' WITH FILE = 2") + moveText +
            QStringLiteral("\r\nGO\r\nRESTORE DATABASE \"crm\" FROM DISK = N'D:\\o''neil\\crm.dat' WITH "
                           "RECOVERY") +
            moveText + QStringLiteral(",FILE = 2\r\nGO\r\n"));
    // On one connection to master, which holds no product database.
    EXPECT_EQ(loginDatabases(), QStringList{QStringLiteral("master")});

    // A set number that no header gives is refused before anything is sent.
    const QString before = m_sent.text();
    EXPECT_FALSE(m_admin->restoreDatabase(QStringLiteral("crm"), kPath, moves, false, 0));
    EXPECT_EQ(m_admin->lastError().number, DataErr::InvalidArgument);
    QList<BackupFileInfo> files;
    EXPECT_FALSE(m_admin->readBackupFileList(kPath, files, -1));
    EXPECT_EQ(m_sent.text(), before);
    EXPECT_TRUE(m_peer.statements().isEmpty());
}

} // namespace
