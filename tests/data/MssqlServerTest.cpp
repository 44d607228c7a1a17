// SQL Server end to end. Runs only when a server is given (CTest label
// "mssql"):
//   OV_TEST_MSSQL_SERVER    server name as the program takes it (host, host,port, host\instance)
//   OV_TEST_MSSQL_USER      SQL Server login (Windows login when empty)
//   OV_TEST_MSSQL_PASSWORD  its password
//   OV_TEST_MSSQL_FOLDER    a folder on the server where it may write backups
//   OV_TEST_MSSQL_REQUIRED  when set, a run without a server fails instead of
//                           skipping (CI, where a server is always given)
// The login must be allowed to create databases, back up and restore
// (dbcreator and sysadmin, or sa). tests/mssql/README.md tells how to start a
// disposable server.

#include "DataTestSupport.h"

#include "backup/mdlOVSqlRestore.h"
#include "common/Clock.h"
#include "common/Cp936.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "convert/TableTransfer.h"
#include "create/CreateDatabase.h"
#include "data/StatementTranscript.h"
#include "data/odbc/MssqlStatements.h"
#include "support/CliProgram.h"
#include "support/ScopedProgramFolder.h"
#include "support/ScriptedUi.h"
#include "update/SchemaCheck.h"
#include "update/UpdateScript.h"
#include "update/VersionTable.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>

using namespace ov;
using ovtest::str;

namespace {

class MssqlServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_server = qEnvironmentVariable("OV_TEST_MSSQL_SERVER");
        if (m_server.isEmpty() && qEnvironmentVariableIsSet("OV_TEST_MSSQL_REQUIRED"))
            FAIL() << "OV_TEST_MSSQL_REQUIRED is set but OV_TEST_MSSQL_SERVER is not";
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

    // A connection of the test's own to database.
    std::unique_ptr<Connection> connect(const QString& database) const
    {
        auto cn = std::make_unique<Connection>();
        cn->setCursorLocation(adUseClient);
        EXPECT_TRUE(cn->Open(connectionString(database))) << str(cn->lastError().description);
        return cn;
    }
    QString scalar(const QString& database, const QString& sql) const
    {
        const auto cn = connect(database);
        Recordset rs;
        if (!rs.Open(sql, *cn) || rs.Eof())
            return QStringLiteral("(none)");
        return rs.Fields(0).Value().toString();
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
    ASSERT_TRUE(m_admin->backupDatabase(m_database, backup)) << str(m_admin->lastError().description);

    QList<BackupFileInfo> files;
    ASSERT_TRUE(m_admin->readBackupFileList(backup, files)) << str(m_admin->lastError().description);
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(files[0].type, QStringLiteral("D"));
    EXPECT_EQ(files[1].type, QStringLiteral("L"));
    BackupHeader header;
    ASSERT_TRUE(m_admin->readBackupHeader(backup, header));
    EXPECT_EQ(header.databaseName, m_database);
    EXPECT_TRUE(header.backupFinishDate.isValid());

    QList<FolderEntry> entries;
    ASSERT_TRUE(m_admin->listFolder(tempdb, folder, entries)) << str(m_admin->lastError().description);
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [&](const FolderEntry& e) {
        return !e.isFolder && e.name.compare(m_database + QStringLiteral(".dat"), Qt::CaseInsensitive) == 0;
    }));

    // Over the existing database only with replace; as a copy with moved files.
    cn.Close();
    EXPECT_FALSE(m_admin->restoreDatabase(m_database + QStringLiteral("_copy"), backup, {}, false));
    QList<QPair<QString, QString>> moves;
    for (const BackupFileInfo& f : files)
        moves.append({f.logicalName, f.physicalName + QStringLiteral(".copy")});
    ASSERT_TRUE(m_admin->restoreDatabase(m_database + QStringLiteral("_copy"), backup, moves, false))
        << str(m_admin->lastError().description);
    ASSERT_TRUE(m_admin->restoreDatabase(m_database, backup, {}, true))
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

// The create procedure with each shipped data set, then an update run and
// its dry-run transcript, in a program folder with the shipped files.
TEST_F(MssqlServer, CreateWithBothDataSetsThenUpdate)
{
    ovtest::ScopedProgramFolder program;
    ASSERT_TRUE(program.copyDist());
    ovtest::ScriptedUi ui;
    for (const int mode : {mdlOVSqlUpdateDB::CreateBlank, mdlOVSqlUpdateDB::CreateDemo}) {
        SCOPED_TRACE(mode);
        PlainStatusLabel status;
        PlainProgressBar progress;
        ui.clear();
        if (mode == mdlOVSqlUpdateDB::CreateDemo)
            ui.answer(MsgAnswer::Yes); // the second creation replaces the first
        EXPECT_TRUE(mdlOVSqlUpdateDB::CreateDatabase(m_server, m_database, m_trusted, m_user, m_password,
                                                     mode, status, progress))
            << str(ui.texts().join('\n'));
        EXPECT_EQ(ui.texts().last(), QStringLiteral("创建数据库成功！"));
        EXPECT_NE(
            scalar(m_database, QStringLiteral("SELECT VaribleValue FROM tblVarible WHERE [Module] = 'DB' "
                                              "AND VaribleName = 'Version'")),
            QStringLiteral("(none)"));
        // The mark of the unfinished creation went with its last statement.
        EXPECT_EQ(scalar(m_database, QStringLiteral("SELECT COUNT(*) FROM tblVarible WHERE [Module] = 'DB' "
                                                    "AND VaribleName = 'Creating'")),
                  QStringLiteral("0"));
    }

    // An update run: its block is recorded; a dry run of the same script
    // afterwards passes it over and sends nothing that changes anything.
    const QString script = program.filePath(QStringLiteral("extra.txt"));
    ovtest::writeFile(script, "--<VT:99999.1>\r\nCREATE TABLE tExtra (a INT)\r\nGO\r\n--</V:99999.1>\r\n");
    PlainStatusLabel status;
    PlainProgressBar progress;
    ov::StatementTranscript before;
    ASSERT_TRUE(mdlOVSqlUpdateDB::TranscribeUpdateScript(m_server, m_database, m_trusted, m_user, m_password,
                                                         script, before));
    EXPECT_TRUE(before.text().contains(QStringLiteral("BEGIN TRANSACTION\r\nGO\r\nCREATE TABLE tExtra")));
    EXPECT_EQ(scalar(m_database, QStringLiteral("SELECT OBJECT_ID('tExtra')")), QString());
    ASSERT_TRUE(mdlOVSqlUpdateDB::RunUpdateScript(m_server, m_database, m_trusted, m_user, m_password, script,
                                                  status, progress));
    EXPECT_NE(scalar(m_database, QStringLiteral("SELECT OBJECT_ID('tExtra')")), QString());
}

// The schema check with its reference on the server, timed against the one
// in memory (printed, not asserted): a database the shipped scripts made
// lacks nothing, and the scratch database is gone afterwards.
TEST_F(MssqlServer, SchemaCheckWithTheReferenceOnTheServer)
{
    ovtest::ScopedProgramFolder program;
    ASSERT_TRUE(program.copyDist());
    ovtest::ScriptedUi ui;
    PlainStatusLabel status;
    PlainProgressBar progress;
    ASSERT_TRUE(mdlOVSqlUpdateDB::CreateDatabase(m_server, m_database, m_trusted, m_user, m_password,
                                                 mdlOVSqlUpdateDB::CreateBlank, status, progress))
        << str(ui.texts().join('\n'));
    PlainStatusLabel updateStatus;
    PlainProgressBar updateProgress;
    ASSERT_TRUE(mdlOVSqlUpdateDB::RunUpdateScript(m_server, m_database, m_trusted, m_user, m_password,
                                                  program.filePath(QStringLiteral("OVScriptUpdate.txt")),
                                                  updateStatus, updateProgress));
    QStringList before;
    ASSERT_TRUE(m_admin->listDatabases(before));

    const auto cn = connect(m_database);
    const ConnectionSettings login{m_server, m_database, m_trusted, m_user, m_password};
    const QString empty = program.filePath(QStringLiteral("OVScriptEmpty.txt"));
    const QString update = program.filePath(QStringLiteral("OVScriptUpdate.txt"));
    QElapsedTimer timer;
    timer.start();
    const mdlOVSqlUpdateDB::SchemaCheckResult inMemory = mdlOVSqlUpdateDB::CheckSchema(*cn, empty, update);
    const qint64 memoryMs = timer.restart();
    const mdlOVSqlUpdateDB::SchemaCheckResult onServer =
        mdlOVSqlUpdateDB::CheckSchema(*cn, empty, update, &login);
    const qint64 serverMs = timer.elapsed();
    std::printf("schema check of the shipped scripts: reference in memory %lld ms, on the server %lld ms\n",
                static_cast<long long>(memoryMs), static_cast<long long>(serverMs));
    RecordProperty("reference_in_memory_ms", static_cast<int>(memoryMs));
    RecordProperty("reference_on_server_ms", static_cast<int>(serverMs));

    EXPECT_TRUE(onServer.referenceOnServer) << str(onServer.referenceNotes.join('\n'));
    EXPECT_TRUE(onServer.gaps.isEmpty()) << str(mdlOVSqlUpdateDB::SchemaReportText(onServer));
    EXPECT_TRUE(onServer.notRun.isEmpty()) << str(mdlOVSqlUpdateDB::SchemaReportText(onServer));
    EXPECT_EQ(onServer.version, inMemory.version);
    QStringList after;
    ASSERT_TRUE(m_admin->listDatabases(after));
    for (const QString& name : after)
        EXPECT_TRUE(before.contains(name) || !mdlOVSqlUpdateDB::IsScratchDatabaseName(name)) << str(name);
}

// The transfer sends its rows as parameter arrays; a row the server refuses
// is not stored and every other row is.
TEST_F(MssqlServer, TransferSendsArraysAndReportsRefusedRows)
{
    ASSERT_TRUE(m_admin->createDatabase(m_database)) << str(m_admin->lastError().description);
    auto server = connect(m_database);
    ASSERT_TRUE(server->Execute(QStringLiteral("CREATE TABLE tContact (ID INT NOT NULL PRIMARY KEY, "
                                               "Name NVARCHAR(20) NOT NULL)")));

    // The source: an embedded database with more rows than one array holds,
    // one of them a duplicate key the server refuses.
    QTemporaryDir folder;
    ovtest::writeFile(folder.filePath(QStringLiteral("src.sqlite")), QByteArray());
    Connection source;
    ASSERT_TRUE(
        source.Open(ovtest::oleDbString(QStringLiteral("sqlite:") + folder.path(), QStringLiteral("src"))));
    ASSERT_TRUE(source.Execute(QStringLiteral("CREATE TABLE tContact (ID INT, Name NVARCHAR(20))")));
    const int rows = 2 * mdlOVSqlUpdateDB::kTransferBatchRows + 7;
    ASSERT_TRUE(source.BeginTrans());
    for (int i = 1; i <= rows; ++i)
        ASSERT_TRUE(source.Execute(
            QStringLiteral("INSERT INTO tContact VALUES (%1, '联系人%1')").arg(i == 600 ? 5 : i)));
    ASSERT_TRUE(source.CommitTrans());

    ovtest::ScriptedUi ui;
    PlainStatusLabel status;
    PlainProgressBar progress;
    EXPECT_FALSE(mdlOVSqlUpdateDB::TransferDataFormCnToCn(
        &source, server.get(), {QString(), QStringLiteral("tContact")}, status, progress));
    EXPECT_EQ(scalar(m_database, QStringLiteral("SELECT COUNT(*) FROM tContact")), QString::number(rows - 1));
    EXPECT_EQ(scalar(m_database, QStringLiteral("SELECT Name FROM tContact WHERE ID = 601")),
              QStringLiteral("联系人601"));
}

// A wrong password is the server's own refusal; a server that does not
// answer ends at the login time-out of the string.
TEST_F(MssqlServer, LoginRefusalAndLoginTimeOut)
{
    Connection wrong;
    EXPECT_FALSE(wrong.Open(QStringLiteral("Provider=SQLOLEDB.1;User ID=sa;PASSWORD=") +
                            connstr::oleDbValue(m_password + QStringLiteral("x")) +
                            QStringLiteral(";Initial Catalog=master;Data Source=") +
                            connstr::oleDbValue(m_server)));
    EXPECT_EQ(wrong.lastError().number, 18456) << str(wrong.lastError().description);
    // FreeTDS reports the refusal as SQLSTATE 42000, Microsoft's driver as 28000.
    EXPECT_TRUE(wrong.lastError().source == QLatin1String("ODBC 42000") ||
                wrong.lastError().source == QLatin1String("ODBC 28000"))
        << str(wrong.lastError().source) << " " << str(wrong.lastError().description);

    // An address that routes nowhere: nothing answers, the time-out ends it.
    Connection silent;
    EXPECT_FALSE(
        silent.Open(QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Initial Catalog=master;"
                                   "Data Source=10.255.255.1;Connect Timeout=2")));
    // FreeTDS words it "Unable to connect" (20009, a connection exception,
    // SQLSTATE class 08), Microsoft's driver "Login timeout expired" (HYT00).
    const QString state = silent.lastError().source;
    EXPECT_TRUE(state.startsWith(QLatin1String("ODBC 08")) || state == QLatin1String("ODBC HYT00"))
        << str(state) << " " << str(silent.lastError().description);
}

// ovsqlcli restore --sql-out reads the backup's files from the server and
// writes the restore's statements, MOVE clauses and all, without restoring.
TEST_F(MssqlServer, RestoreTranscriptFromTheCommandLine)
{
    ASSERT_TRUE(m_admin->createDatabase(m_database)) << str(m_admin->lastError().description);
    Connection tempdb;
    tempdb.setCommandTimeout(0);
    ASSERT_TRUE(tempdb.Open(connectionString(QStringLiteral("Tempdb"))));
    const QString sep =
        m_admin->pathStyle(tempdb) == PathStyle::Posix ? QStringLiteral("/") : QStringLiteral("\\");
    QString folder = m_folder;
    if (!folder.isEmpty() && !folder.endsWith(sep))
        folder += sep;
    const QString backup = folder + m_database + QStringLiteral("-t.dat");
    ASSERT_TRUE(m_admin->backupDatabase(m_database, backup)) << str(m_admin->lastError().description);
    QList<BackupFileInfo> files;
    ASSERT_TRUE(m_admin->readBackupFileList(backup, files));
    ASSERT_EQ(files.size(), 2);

    QTemporaryDir program;
    ASSERT_TRUE(ovtest::InstallCli(program.path()));
    const QString out = program.filePath(QStringLiteral("restore.sql"));
    QStringList args = {QStringLiteral("restore"),
                        QStringLiteral("--server"),
                        m_server,
                        QStringLiteral("--database"),
                        m_database + QStringLiteral("_copy"),
                        QStringLiteral("--from"),
                        backup,
                        QStringLiteral("--move"),
                        files[1].logicalName + QStringLiteral("=") + files[1].physicalName +
                            QStringLiteral(".x"),
                        QStringLiteral("--sql-out"),
                        out};
    args += m_trusted ? QStringList{QStringLiteral("--trusted")}
                      : QStringList{QStringLiteral("--user"), m_user, QStringLiteral("--password-stdin")};
    const ovtest::CliResult r = ovtest::RunCli(program.path(), args, m_password.toUtf8() + "\n");
    ASSERT_EQ(r.exitCode, 0) << str(r.err);
    const QList<QPair<QString, QString>> moves = {
        {files[0].logicalName, files[0].physicalName},
        {files[1].logicalName, files[1].physicalName + QStringLiteral(".x")}};
    const QString restore =
        mssql::restoreStatement(m_database + QStringLiteral("_copy"), backup, 1, moves, false);
    EXPECT_TRUE(QString::fromUtf8(ovtest::readFile(out))
                    .endsWith(mssql::verifyStatement(backup, 1, moves) + QStringLiteral("\r\nGO\r\n") +
                              restore + QStringLiteral("\r\nGO\r\n")));
    QStringList names;
    ASSERT_TRUE(m_admin->listDatabases(names));
    EXPECT_FALSE(names.contains(m_database + QStringLiteral("_copy")));
}

// A second backup into the file of the first is refused unless replacing,
// which leaves one set; a file to which a backup was added (by another tool)
// restores its newest set, and the restore window's reader says so.
TEST_F(MssqlServer, BackupsNeverAddToAFileAndRestoreTakesTheNewestSet)
{
    ASSERT_TRUE(m_admin->createDatabase(m_database)) << str(m_admin->lastError().description);
    Connection tempdb;
    tempdb.setCommandTimeout(0);
    ASSERT_TRUE(tempdb.Open(connectionString(QStringLiteral("Tempdb"))));
    const QString sep =
        m_admin->pathStyle(tempdb) == PathStyle::Posix ? QStringLiteral("/") : QStringLiteral("\\");
    QString folder = m_folder;
    if (!folder.isEmpty() && !folder.endsWith(sep))
        folder += sep;
    const QString backup = folder + m_database + QStringLiteral("-sets.dat");

    bool exists = true;
    ASSERT_TRUE(m_admin->backupFileExists(backup, exists)) << str(m_admin->lastError().description);
    EXPECT_FALSE(exists);
    ASSERT_TRUE(m_admin->backupDatabase(m_database, backup)) << str(m_admin->lastError().description);
    ASSERT_TRUE(m_admin->backupFileExists(backup, exists));
    EXPECT_TRUE(exists);
    EXPECT_FALSE(m_admin->backupDatabase(m_database, backup));
    EXPECT_EQ(m_admin->lastError().number, 3201);
    QList<BackupHeader> sets;
    ASSERT_TRUE(m_admin->readBackupSets(backup, sets));
    EXPECT_EQ(sets.size(), 1);
    ASSERT_TRUE(m_admin->backupDatabase(m_database, backup, true)) << str(m_admin->lastError().description);
    ASSERT_TRUE(m_admin->readBackupSets(backup, sets));
    ASSERT_EQ(sets.size(), 1);

    // Another tool adds a backup of the changed database to the file.
    {
        auto cn = connect(m_database);
        ASSERT_TRUE(cn->Execute(QStringLiteral("CREATE TABLE added (id INT)")));
    }
    ASSERT_TRUE(tempdb.Execute(QStringLiteral("BACKUP DATABASE ") + mssql::quotedDatabaseName(m_database) +
                               QStringLiteral(" TO DISK = ") + mssql::unicodeLiteral(backup)));
    ASSERT_TRUE(m_admin->readBackupSets(backup, sets));
    ASSERT_EQ(sets.size(), 2);
    EXPECT_EQ(sets[1].position, 2);
    EXPECT_EQ(sets[1].backupType, int(BackupHeader::FullDatabase));
    tempdb.Close();

    ovtest::ScriptedUi ui;
    const mdlOVSqlRestore::BackupFileContents contents = mdlOVSqlRestore::ReadBackupFileContents(
        m_server, m_trusted, m_user, m_password, backup, m_database + QStringLiteral("_copy"));
    ASSERT_TRUE(contents.filesRead) << str(contents.error.description);
    EXPECT_EQ(contents.header.position, 2);
    QStringList logical, targets;
    for (const BackupFileInfo& f : contents.files) {
        logical << f.logicalName;
        targets << f.physicalName + QStringLiteral(".copy");
    }
    EXPECT_EQ(mdlOVSqlRestore::RestoreDatabase(m_server, m_database + QStringLiteral("_copy"), m_user,
                                               m_password, backup, logical, targets, false, m_trusted,
                                               contents.header.position),
              QString());
    auto copy = connect(m_database + QStringLiteral("_copy"));
    Recordset rs;
    EXPECT_TRUE(rs.Open(QStringLiteral("SELECT COUNT(*) FROM added"), *copy))
        << "the restore took the older set: " << str(rs.lastError().description);
}

} // namespace
