// SQL Server end to end. Runs only when a server is given (CTest label
// "mssql"):
//   OV_TEST_MSSQL_SERVER    server name as the program takes it (host, host,port, host\instance)
//   OV_TEST_MSSQL_USER      SQL Server login (Windows login when empty)
//   OV_TEST_MSSQL_PASSWORD  its password
//   OV_TEST_MSSQL_FOLDER    a folder on the server where it may write backups
// The login must be allowed to create databases, back up and restore.

#include "DataTestSupport.h"

#include "common/Cp936.h"

#include <QCoreApplication>
#include <QFileInfo>

using namespace ov;
using ovtest::str;

namespace {

class MssqlServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_server = qEnvironmentVariable("OV_TEST_MSSQL_SERVER");
        if (m_server.isEmpty())
            GTEST_SKIP() << "no SQL Server given: set OV_TEST_MSSQL_SERVER (and OV_TEST_MSSQL_USER, "
                            "OV_TEST_MSSQL_PASSWORD, OV_TEST_MSSQL_FOLDER) to run this test";
        m_user = qEnvironmentVariable("OV_TEST_MSSQL_USER");
        m_password = qEnvironmentVariable("OV_TEST_MSSQL_PASSWORD");
        m_folder = qEnvironmentVariable("OV_TEST_MSSQL_FOLDER");
        m_trusted = m_user.isEmpty();
        m_admin = ServerAdmin::create(m_server, m_trusted, m_user, m_password);
        m_database = QStringLiteral("ovtest_%1").arg(QCoreApplication::applicationPid());
        ASSERT_TRUE(m_admin->probe()) << str(m_admin->lastError().description);
    }
    void TearDown() override
    {
        if (!m_admin)
            return;
        for (const QString& db : {m_database, m_database + QStringLiteral("_copy")})
            m_admin->dropDatabase(db);
    }

    QString connectionString(const QString& database) const
    {
        using connstr::oleDbValue;
        if (m_trusted)
            return ovtest::oleDbString(m_server, database);
        return QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=True;User ID=") +
               oleDbValue(m_user) + QStringLiteral(";PASSWORD=") + oleDbValue(m_password) +
               QStringLiteral(";Initial Catalog=") + oleDbValue(database) + QStringLiteral(";Data Source=") +
               oleDbValue(m_server);
    }

    QString m_server;
    QString m_user;
    QString m_password;
    QString m_folder;
    QString m_database;
    bool m_trusted = true;
    std::unique_ptr<ServerAdmin> m_admin;
};

TEST_F(MssqlServer, CreateLoadBackUpRestoreAndDrop)
{
    ASSERT_TRUE(m_admin->createDatabase(m_database)) << str(m_admin->lastError().description);
    QStringList names;
    ASSERT_TRUE(m_admin->listDatabases(names));
    EXPECT_EQ(names.mid(0, 4), QStringList({QStringLiteral("master"), QStringLiteral("tempdb"),
                                            QStringLiteral("model"), QStringLiteral("msdb")}));
    EXPECT_TRUE(names.contains(m_database));

    Connection cn;
    cn.setCursorLocation(adUseClient);
    ASSERT_TRUE(cn.Open(connectionString(m_database))) << str(cn.lastError().description);
    ASSERT_TRUE(cn.Execute(QStringLiteral("CREATE TABLE tblContact (ID INT NOT NULL, Name NVARCHAR(50));"
                                          "INSERT INTO tblContact VALUES (0, N'种子')")))
        << str(cn.lastError().description);

    // Bulk load: a row whose ID is no number goes to the error file.
    QTemporaryDir dir;
    const QString dat = dir.filePath(QStringLiteral("tblContact.dat"));
    ovtest::writeFile(dat, cp936::encode(QStringLiteral("1\t张三\r\nx\tbad\r\n2\t李四\r\n")));
    BulkLoadResult counts;
    ASSERT_TRUE(m_admin->bulkLoad(m_database, QStringLiteral("tblContact"), dat,
                                  dir.filePath(QStringLiteral("tblContact.log")),
                                  dir.filePath(QStringLiteral("tblContact.err")), &counts))
        << str(m_admin->lastError().description);
    EXPECT_EQ(counts.rowsCopied, 2);
    EXPECT_EQ(counts.rowsRejected, 1);
    EXPECT_TRUE(ovtest::readFile(dir.filePath(QStringLiteral("tblContact.err"))).contains("x\tbad"));
    Recordset rs;
    ASSERT_TRUE(rs.Open(QStringLiteral("SELECT Name FROM tblContact WHERE ID = 1"), cn));
    EXPECT_EQ(rs.Fields(0).Value().toString(), QStringLiteral("张三"));
    rs.Close();

    // A record set stays readable while other commands run on its
    // connection, which carries one result at a time.
    Recordset all;
    ASSERT_TRUE(all.Open(QStringLiteral("SELECT ID FROM tblContact ORDER BY ID"), cn));
    QStringList ids;
    for (; !all.Eof(); all.MoveNext()) {
        ids << all.Fields(0).Value().toString();
        ASSERT_TRUE(cn.Execute(QStringLiteral("UPDATE tblContact SET Name = Name WHERE ID = 0")))
            << str(cn.lastError().description);
    }
    EXPECT_EQ(ids, QStringList({QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")}));
    all.Close();

    // Backup, its file list and header, from a connection on tempdb.
    Connection tempdb;
    tempdb.setCommandTimeout(0);
    ASSERT_TRUE(tempdb.Open(connectionString(QStringLiteral("Tempdb"))));
    const PathStyle style = m_admin->pathStyle(tempdb);
    const QString sep = style == PathStyle::Posix ? QStringLiteral("/") : QStringLiteral("\\");
    QString folder = m_folder;
    if (!folder.isEmpty() && !folder.endsWith(sep))
        folder += sep;
    const QString backup = folder + m_database + QStringLiteral(".dat");
    ASSERT_TRUE(m_admin->backupDatabase(tempdb, m_database, backup)) << str(m_admin->lastError().description);

    QList<BackupFileInfo> files;
    ASSERT_TRUE(m_admin->readBackupFileList(tempdb, backup, files)) << str(m_admin->lastError().description);
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(files[0].type, QStringLiteral("D"));
    EXPECT_EQ(files[1].type, QStringLiteral("L"));
    BackupHeader header;
    ASSERT_TRUE(m_admin->readBackupHeader(tempdb, backup, header));
    EXPECT_EQ(header.databaseName, m_database);
    EXPECT_TRUE(header.backupFinishDate.isValid());

    QList<FolderEntry> entries;
    ASSERT_TRUE(m_admin->listFolder(tempdb, folder, entries)) << str(m_admin->lastError().description);
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [&](const FolderEntry& e) {
        return !e.isFolder && e.name.compare(m_database + QStringLiteral(".dat"), Qt::CaseInsensitive) == 0;
    }));

    // Over the existing database only with replace; as a copy with moved files.
    cn.Close();
    EXPECT_FALSE(m_admin->restoreDatabase(tempdb, m_database + QStringLiteral("_copy"), backup, {}, false));
    QList<QPair<QString, QString>> moves;
    for (const BackupFileInfo& f : files)
        moves.append({f.logicalName, f.physicalName + QStringLiteral(".copy")});
    ASSERT_TRUE(m_admin->restoreDatabase(tempdb, m_database + QStringLiteral("_copy"), backup, moves, false))
        << str(m_admin->lastError().description);
    ASSERT_TRUE(m_admin->restoreDatabase(tempdb, m_database, backup, {}, true))
        << str(m_admin->lastError().description);

    Connection copy;
    ASSERT_TRUE(copy.Open(connectionString(m_database + QStringLiteral("_copy"))));
    Recordset count;
    ASSERT_TRUE(count.Open(QStringLiteral("SELECT COUNT(*) FROM tblContact"), copy));
    EXPECT_EQ(count.Fields(0).Value().toInt(), 3);
    count.Close();
    copy.Close();
    tempdb.Close();

    EXPECT_TRUE(m_admin->dropDatabase(m_database + QStringLiteral("_copy")))
        << str(m_admin->lastError().description);
    EXPECT_TRUE(m_admin->dropDatabase(m_database));
}

} // namespace
