// The restore through the real ODBC code and the FreeTDS driver against the
// scripted TDS peer, answered as SQL Server documents RESTORE HEADERONLY,
// FILELISTONLY, VERIFYONLY and RESTORE DATABASE: a file holding two full
// backups of the database restores the newer, with its files moved; a
// database in use (3101) or a damaged set is not restored, and the task lock
// is given back either way. What the peer receives is what "ovsqlcli restore
// --sql-out" writes down.

#include "PeerTaskSupport.h"

#include "backup/mdlOVSqlRestore.h"
#include "support/CliProgram.h"
#include "support/ScriptedUi.h"
#include "support/TdsPeer.h"

#include <QTemporaryDir>

using namespace ovtest;

namespace {

const QString kPath = QStringLiteral("D:\\bak\\crm [o'neil].dat");

// Two full backups of crm in one file, the second added to the first.
const QList<HeaderSet> kTwoSets = {
    {1, 1, "crm", "2026-12-04 15:33:00", "2026-12-04 15:33:05"},
    {1, 2, "crm", "2026-12-05 09:10:00", "2026-12-05 09:10:07"},
};

QJsonArray restored()
{
    return QJsonArray{
        info(4035, QStringLiteral("Processed 328 pages for database 'crm', file 'crm_Data' on file 2.")),
        QJsonObject{{QStringLiteral("sleep"), 0.2}},
        info(4035, QStringLiteral("Processed 2 pages for database 'crm', file 'crm_Log' on file 2.")),
        info(3014, QStringLiteral("RESTORE DATABASE successfully processed 330 pages in 0.120 seconds "
                                  "(21.451 MB/sec).")),
        QJsonObject{{QStringLiteral("done"), QJsonObject{}}}};
}

QJsonArray inUse()
{
    return QJsonArray{
        error(3101, QStringLiteral("Exclusive access could not be obtained because the database is in use.")),
        error(3013, QStringLiteral("RESTORE DATABASE is terminating abnormally.")), doneWithError()};
}

// The server goes away while the restore runs.
QJsonArray lostMidway()
{
    QJsonArray reply = restored();
    reply.removeLast();
    reply.removeLast();
    reply.append(QJsonObject{{QStringLiteral("close"), true}});
    return reply;
}

QJsonArray verified()
{
    return QJsonArray{info(3262, QStringLiteral("The backup set on file 2 is valid.")),
                      QJsonObject{{QStringLiteral("done"), QJsonObject{}}}};
}

QJsonArray damaged()
{
    return QJsonArray{
        error(3241, QStringLiteral("The media family on device '%1' is incorrectly formed. SQL Server cannot "
                                   "process this media family.")
                        .arg(kPath)),
        error(3013, QStringLiteral("VERIFY DATABASE is terminating abnormally.")), doneWithError()};
}

// A server holding crm, answering by the kind of statement.
QJsonObject restoreServer(const QJsonArray& verifyReply, const QJsonArray& restoreReply)
{
    return QJsonObject{
        {QStringLiteral("databases"),
         QJsonArray{QStringLiteral("master"), QStringLiteral("Tempdb"), QStringLiteral("crm")}},
        {QStringLiteral("rules"),
         QJsonArray{lockRule(0), patternRule(QStringLiteral("RESTORE HEADERONLY .*"), headerReply(kTwoSets)),
                    patternRule(QStringLiteral("RESTORE FILELISTONLY .*"),
                                fileListReply({{"crm_Data", "C:\\MSSQL\\DATA\\crm.mdf", "D"},
                                               {"crm_Log", "C:\\MSSQL\\DATA\\crm_log.ldf", "L"}})),
                    patternRule(QStringLiteral("RESTORE VERIFYONLY .*"), verifyReply),
                    patternRule(QStringLiteral("RESTORE DATABASE .*"), restoreReply)}}};
}

QString joined(const QStringList& texts)
{
    return texts.join(QLatin1Char('\n'));
}

const QString kMoves = QStringLiteral(
    ",move N'crm_Data' to N'E:\\数据\\crm.mdf',move N'crm_Log' to N'C:\\MSSQL\\DATA\\crm_log.ldf'");
const QString kPathLiteral = QStringLiteral("N'D:\\bak\\crm [o''neil].dat'");

} // namespace

// The restore operation of the window and the command line, on the set the
// file's header chose: the newer of the two full backups, set 2, named in
// the file list, the verification and the restore, with the moves. The task
// lock is taken on a connection of its own before anything is restored and
// given back at the end, whatever the server answered.
TEST(PeerRestore, NewestFullSetWithMovesAndTheServersRefusals)
{
    const struct
    {
        const char* what;
        QJsonArray verify;
        QJsonArray restore;
        const char* refusal; // the server's words the caller gets; nullptr: restored
        bool restoreSent;
    } cases[] = {
        {"restored", verified(), restored(), nullptr, true},
        {"a database in use", verified(), inUse(),
         "Exclusive access could not be obtained because the database is in use.", true},
        {"a damaged backup set", damaged(), restored(), "is incorrectly formed", false},
        {"the connection lost midway", verified(), lostMidway(), "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TdsPeer peer(restoreServer(c.verify, c.restore));
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        ScriptedUi ui;
        const mdlOVSqlRestore::BackupFileContents contents = mdlOVSqlRestore::ReadBackupFileContents(
            peer.server(), false, QStringLiteral("sa"), QStringLiteral("pw"), kPath, QStringLiteral("crm"));
        ASSERT_TRUE(contents.filesRead) << str(contents.error.description);
        EXPECT_EQ(contents.sets.size(), 2);
        EXPECT_EQ(contents.header.position, 2);
        EXPECT_EQ(contents.header.backupFinishDate, QDateTime(QDate(2026, 12, 5), QTime(9, 10, 7)));
        ASSERT_EQ(contents.files.size(), 2);
        EXPECT_EQ(contents.files[0].logicalName, QStringLiteral("crm_Data"));
        EXPECT_EQ(contents.files[1].physicalName, QStringLiteral("C:\\MSSQL\\DATA\\crm_log.ldf"));

        const QString result = mdlOVSqlRestore::RestoreDatabase(
            peer.server(), QStringLiteral("crm"), QStringLiteral("sa"), QStringLiteral("pw"), kPath,
            {QStringLiteral("crm_Data"), QStringLiteral("crm_Log")},
            {QStringLiteral("E:\\数据\\crm.mdf"), QStringLiteral("C:\\MSSQL\\DATA\\crm_log.ldf")}, false,
            false, contents.header.position);
        if (c.refusal) {
            EXPECT_FALSE(result.isEmpty());
            EXPECT_TRUE(result.contains(QString::fromUtf8(c.refusal))) << str(result);
        } else {
            EXPECT_EQ(result, QString());
        }
        EXPECT_TRUE(ui.texts().isEmpty()) << str(joined(ui.texts()));

        const QStringList sent = peer.statements();
        QStringList expected = {
            QStringLiteral("RESTORE HEADERONLY From DISK = ") + kPathLiteral,
            QStringLiteral("RESTORE FILELISTONLY FROM DISK = ") + kPathLiteral +
                QStringLiteral(" WITH FILE = 2"),
            QStringLiteral("SET NOCOUNT ON; DECLARE @result int; EXEC @result = sp_getapplock @Resource = "
                           "N'OrvaneSqlUpdateDB:crm', @LockMode = 'Exclusive', @LockOwner = 'Session', "
                           "@LockTimeout = 0; SELECT @result AS result"),
            QStringLiteral("RESTORE VERIFYONLY FROM DISK = ") + kPathLiteral +
                QStringLiteral(" WITH FILE = 2") + kMoves};
        if (c.restoreSent)
            expected.append(QStringLiteral("RESTORE DATABASE \"crm\" FROM DISK = ") + kPathLiteral +
                            QStringLiteral(" WITH RECOVERY") + kMoves + QStringLiteral(",FILE = 2"));
        expected.append(QStringLiteral(
            "EXEC sp_releaseapplock @Resource = N'OrvaneSqlUpdateDB:crm', @LockOwner = 'Session'"));
        EXPECT_EQ(sent, expected) << str(joined(sent));

        // The lock and its release on a connection to master of their own;
        // the reads and the restore on other connections to master, which
        // hold no product database.
        QMap<int, QString> databaseOf;
        for (const QJsonObject& login : peer.events(QStringLiteral("login")))
            databaseOf[login[QStringLiteral("conn")].toInt()] = login[QStringLiteral("database")].toString();
        QMap<QString, int> connOf;
        for (const QJsonObject& e : peer.events(QStringLiteral("batch")))
            connOf[e[QStringLiteral("text")].toString()] = e[QStringLiteral("conn")].toInt();
        const int lockConn = connOf.value(expected[2]);
        EXPECT_EQ(databaseOf.value(lockConn), QStringLiteral("master"));
        EXPECT_EQ(connOf.value(expected.last()), lockConn);
        EXPECT_NE(connOf.value(expected[3]), lockConn);
        EXPECT_EQ(databaseOf.value(connOf.value(expected[3])), QStringLiteral("master"));
        EXPECT_EQ(databaseOf.value(connOf.value(expected[1])), QStringLiteral("master"));
    }
}

// ovsqlcli restore against the peer: the date of the set it restores and
// which of the file's sets it is, the exit code, the refusal shown; and what
// the peer received equals the batches of the --sql-out transcript, apart
// from the reads and the lock that its comments name.
TEST(PeerRestore, TheCommandSendsWhatItsTranscriptSays)
{
    QTemporaryDir dir;
    ASSERT_TRUE(InstallCli(dir.path()));
    const struct
    {
        const char* what;
        QJsonArray restore;
        int exitCode;
        const char* shown;
        QString database;
    } cases[] = {
        {"restored", restored(), 0, "恢复数据库成功！", QStringLiteral("crm")},
        {"a database in use", inUse(), 1,
         "Exclusive access could not be obtained because the database is in use.", QStringLiteral("crm")},
        {"a name with quotes and a bracket", restored(), 0, "恢复数据库成功！",
         QStringLiteral("客户\"库] o'neil")},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString transcriptFile = dir.filePath(QStringLiteral("restore%1.sql").arg(++n));
        const QStringList args = {QStringLiteral("restore"),
                                  QStringLiteral("--database"),
                                  c.database,
                                  QStringLiteral("--user"),
                                  QStringLiteral("sa"),
                                  QStringLiteral("--password-stdin"),
                                  QStringLiteral("--from"),
                                  kPath,
                                  QStringLiteral("--move"),
                                  QStringLiteral("crm_Data=E:\\数据\\crm.mdf")};
        Transcript t;
        QStringList reads;
        {
            TdsPeer peer(restoreServer(verified(), c.restore));
            ASSERT_TRUE(peer.isRunning()) << str(peer.error());
            const CliResult written = RunCli(dir.path(),
                                             args + QStringList{QStringLiteral("--server"), peer.server(),
                                                                QStringLiteral("--sql-out"), transcriptFile},
                                             "pw\n");
            ASSERT_EQ(written.exitCode, 0) << str(written.err);
            t = readTranscript(transcriptFile);
            // Only reads: the header, the file list and the task lock.
            reads = peer.statements();
            EXPECT_TRUE(onlyReads(reads)) << str(joined(reads));
        }
        EXPECT_EQ(t.batches.filter(QStringLiteral("RESTORE ")).size(), 2) << str(joined(t.batches));

        TdsPeer peer(restoreServer(verified(), c.restore));
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        // The transcript names the server it was written for.
        const CliResult r = RunCli(
            dir.path(),
            args + QStringList{QStringLiteral("--server"), peer.server(), QStringLiteral("--yes")}, "pw\n");
        EXPECT_EQ(r.exitCode, c.exitCode) << str(r.err);
        EXPECT_TRUE(r.err.contains(QStringLiteral("还原其中第 2 个"))) << str(r.err);
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.shown)) || r.out.contains(QString::fromUtf8(c.shown)))
            << str(r.err) << str(r.out);
        const QStringList sent = peer.statements();
        EXPECT_EQ(sentBatches(sent, t, reads), t.batches) << str(joined(sent));
        for (const QString& s : sent)
            EXPECT_TRUE(t.batches.contains(s) || t.comments.contains(s) || reads.contains(s)) << str(s);
    }
}
