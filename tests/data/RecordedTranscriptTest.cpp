// A recording handle runs the real operation: its transcript holds, in
// order, the statements that the same operation sends to a server, here the
// scripted TDS peer through the real FreeTDS driver, while the server it
// records on receives only what the operation reads.

#include "DataTestSupport.h"

#include "backup/mdlOVSqlBackup.h"
#include "backup/mdlOVSqlRestore.h"
#include "create/CreateDatabase.h"
#include "data/OfflineServer.h"
#include "data/Server.h"
#include "data/StatementTranscript.h"
#include "data/odbc/MssqlStatements.h"
#include "support/ScopedProgramFolder.h"
#include "support/ScriptedUi.h"
#include "support/TdsPeer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <functional>

using ovtest::str;

namespace {

const QString kPath = QStringLiteral("D:\\bak\\o'neil.dat");

QJsonObject rule(const QString& key, const QString& text, const QByteArray& reply)
{
    return QJsonObject{{key, text}, {QStringLiteral("reply"), QJsonDocument::fromJson(reply).array()}};
}

// A server with master, Tempdb and crm, whose task lock is always free, that
// lists databases and answers the backup file's header with header.
QJsonObject server(const QByteArray& header, const QByteArray& databases)
{
    return QJsonObject{
        {QStringLiteral("databases"), QJsonArray{"master", "Tempdb", "crm"}},
        {QStringLiteral("rules"),
         QJsonArray{rule(QStringLiteral("regex"), QStringLiteral("SET NOCOUNT ON; DECLARE @result int.*"),
                         R"j([{"columns": [{"name": "result", "type": "int"}], "rows": [[0]]}])j"),
                    rule(QStringLiteral("match"), ov::mssql::headerStatement(kPath), header),
                    rule(QStringLiteral("match"), ov::mssql::listDatabasesStatement(), databases)}}};
}

const QByteArray kNoFile =
    R"j([{"error": {"number": 3201, "class": 16, "message": "Cannot open backup device 'D:\\bak\\o'neil.dat'. Operating system error 2(The system cannot find the file specified.)."}}])j";
const QByteArray kOneSet = R"j([{"columns": [{"name": "BackupName", "type": "nvarchar(128)"},
    {"name": "BackupType", "type": "smallint"}, {"name": "Position", "type": "smallint"},
    {"name": "DatabaseName", "type": "nvarchar(128)"}, {"name": "BackupStartDate", "type": "datetime"},
    {"name": "BackupFinishDate", "type": "datetime"}],
  "rows": [[null, 1, 1, "crm", "2026-12-04 15:33:00", "2026-12-04 15:33:05"]]}])j";
const QByteArray kMasterOnly =
    R"j([{"columns": [{"name": "name", "type": "nvarchar(128)"}], "rows": [["master"], ["tempdb"]]}])j";
const QByteArray kWithCrm = R"j([{"columns": [{"name": "name", "type": "nvarchar(128)"}],
    "rows": [["master"], ["tempdb"], ["CRM"]]}])j";

// The batches of a transcript, without its comments.
QStringList batchesOf(const QString& text)
{
    QStringList batches;
    QStringList lines;
    for (const QString& line : text.split(QStringLiteral("\r\n"))) {
        if (line == QLatin1String("GO")) {
            batches.append(lines.join(QStringLiteral("\r\n")));
            lines.clear();
        } else if (!(lines.isEmpty() && line.startsWith(QLatin1String("--")))) {
            lines.append(line);
        }
    }
    return batches;
}

// One task, as it runs on a server handle.
using Task = std::function<bool(const ov::Server& server)>;

struct Case
{
    const char* name;
    QByteArray header;
    QByteArray databases;
    Task task;
    QStringList changes; // the starts of the statements that change the server
    bool asks = false;   // the task asks whether to replace a database (answered yes)
};

} // namespace

TEST(RecordedTranscript, MatchesWhatTheSameTaskSends)
{
    ovtest::ScopedProgramFolder program;
    const QStringList backupChanges = {QStringLiteral("BackUp Database")};
    const QStringList restoreChanges = {QStringLiteral("RESTORE VERIFYONLY"),
                                        QStringLiteral("RESTORE DATABASE"),
                                        QStringLiteral("EXEC sp_releaseapplock")};
    const QStringList createChanges = {QStringLiteral("DROP DATABASE"), QStringLiteral("CREATE DATABASE"),
                                       QStringLiteral("ALTER DATABASE"),
                                       QStringLiteral("EXEC sp_releaseapplock")};
    const Case cases[] = {
        {"backup into a new file", kNoFile, kMasterOnly,
         [](const ov::Server& s) {
             return mdlOVSqlBackup::DoBackup(s, QStringLiteral("crm"), kPath,
                                             mdlOVSqlBackup::IfExists::Refuse);
         },
         backupChanges},
        {"backup replacing a file", kOneSet, kMasterOnly,
         [](const ov::Server& s) {
             return mdlOVSqlBackup::DoBackup(s, QStringLiteral("crm"), kPath,
                                             mdlOVSqlBackup::IfExists::Replace);
         },
         backupChanges},
        {"restore with moves", kOneSet, kMasterOnly,
         [](const ov::Server& s) {
             return mdlOVSqlRestore::RestoreDatabase(s, QStringLiteral("cr]m"), kPath,
                                                     {"crm_Data", "crm_Log"},
                                                     {"E:\\new\\o'neil.mdf", "E:\\new\\crm_log.ldf"}, true, 1)
                 .isEmpty();
         },
         restoreChanges},
        {"restore choosing its set", kOneSet, kMasterOnly,
         [](const ov::Server& s) {
             return mdlOVSqlRestore::RestoreDatabase(s, QStringLiteral("crm"), kPath, {"crm_Data"},
                                                     {"E:\\new\\crm.mdf"}, false, 0)
                 .isEmpty();
         },
         restoreChanges},
        // The real creation stops at the schema script, which this program
        // folder does not have; the recording ends before it.
        {"create", kNoFile, kMasterOnly,
         [](const ov::Server& s) {
             ov::PlainStatusLabel status;
             ov::PlainProgressBar progress;
             return mdlOVSqlUpdateDB::CreateDatabase(s, QStringLiteral(" new\"db "),
                                                     mdlOVSqlUpdateDB::CreateBare, status, progress);
         },
         createChanges},
        {"create over an existing database", kNoFile, kWithCrm,
         [](const ov::Server& s) {
             ov::PlainStatusLabel status;
             ov::PlainProgressBar progress;
             return mdlOVSqlUpdateDB::CreateDatabase(s, QStringLiteral("crm"), mdlOVSqlUpdateDB::CreateDemo,
                                                     status, progress);
         },
         createChanges, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool create = QByteArray(c.name).startsWith("create");
        ovtest::TdsPeer real(server(c.header, c.databases));
        ovtest::TdsPeer recorded(server(c.header, c.databases));
        ASSERT_TRUE(real.isRunning() && recorded.isRunning()) << str(real.error() + recorded.error());
        {
            ovtest::ScriptedUi ui;
            if (c.asks)
                ui.answer(ov::MsgAnswer::Yes);
            const bool done = c.task(ov::Server(
                {real.server(), QStringLiteral("crm"), false, QStringLiteral("sa"), QStringLiteral("pw")}));
            // The real creation fails where the recording ends.
            EXPECT_EQ(done, !create) << str(ui.texts().join(QLatin1Char('\n')));
        }
        ov::StatementTranscript transcript;
        {
            ovtest::ScriptedUi ui;
            if (c.asks)
                ui.answer(ov::MsgAnswer::Yes);
            ov::Server handle({recorded.server(), QStringLiteral("crm"), false, QStringLiteral("sa"),
                               QStringLiteral("pw")});
            handle.record(transcript);
            EXPECT_TRUE(c.task(handle)) << str(ui.texts().join(QLatin1Char('\n')));
            // A recording tells of no success: nothing was done.
            EXPECT_TRUE(ui.texts().filter(QStringLiteral("成功")).isEmpty()) << str(ui.texts().join(' '));
        }
        EXPECT_EQ(batchesOf(transcript.text()), real.statements()) << str(transcript.text());
        // The server of the recording received the reads alone.
        for (const QString& sent : recorded.statements()) {
            for (const QString& change : c.changes)
                EXPECT_FALSE(sent.startsWith(change)) << str(sent);
        }
        // Every kind of change the task makes is in the transcript.
        const QStringList batches = batchesOf(transcript.text());
        EXPECT_FALSE(batches.isEmpty());
        for (const QString& b : batches)
            EXPECT_TRUE(recorded.statements().contains(b) ||
                        std::any_of(c.changes.begin(), c.changes.end(),
                                    [&b](const QString& change) { return b.startsWith(change); }))
                << str(b);
    }
}

// The embedded engine's creations, backups and restores are work on files,
// which no transcript shows: a recording handle refuses them and leaves the
// folder as it was.
TEST(RecordedTranscript, EmbeddedFileWorkIsRefused)
{
    ovtest::ScopedProgramFolder program;
    const QString name = program.makeServer();
    ov::Server handle({name, QStringLiteral("crm"), true, QString(), QString()});
    ASSERT_TRUE(handle.admin()->createDatabase(QStringLiteral("crm")));
    ov::StatementTranscript transcript;
    handle.record(transcript);
    ovtest::ScriptedUi ui;
    ov::PlainStatusLabel status;
    ov::PlainProgressBar progress;
    EXPECT_FALSE(mdlOVSqlUpdateDB::CreateDatabase(handle, QStringLiteral("other"),
                                                  mdlOVSqlUpdateDB::CreateBare, status, progress));
    EXPECT_FALSE(mdlOVSqlBackup::DoBackup(handle, QStringLiteral("crm"),
                                          program.filePath(QStringLiteral("b.dat")),
                                          mdlOVSqlBackup::IfExists::Replace));
    EXPECT_FALSE(mdlOVSqlRestore::RestoreDatabase(handle, QStringLiteral("crm"),
                                                  program.filePath(QStringLiteral("b.dat")), {"crm"},
                                                  {program.filePath(QStringLiteral("x.sqlite"))}, true, 1)
                     .isEmpty());
    QStringList names;
    ASSERT_TRUE(handle.admin()->listDatabases(names));
    EXPECT_EQ(names, QStringList{QStringLiteral("crm")});
    EXPECT_FALSE(QFile::exists(program.filePath(QStringLiteral("b.dat"))));
    EXPECT_TRUE(transcript.text().isEmpty());
}

// An offline recording reaches no server (nothing listens on port 1 of this
// machine): the reads of the operations are answered from what the caller
// gave, any other read fails and says why, and the reads are in the
// transcript as a connection to a server would have them.
TEST(RecordedTranscript, OfflineHandleAnswersTheOperationsReadsAndNoOthers)
{
    ov::Server handle({QStringLiteral("127.0.0.1,1"), QStringLiteral("crm"), true, QString(), QString()});
    ov::StatementTranscript transcript;
    ov::OfflineAnswers answers;
    answers.databases = {QStringLiteral("客]户\"库")};
    answers.backupFiles = {{QStringLiteral("crm'Data"), QStringLiteral("E:\\a]].mdf"), QString()}};
    handle.recordOffline(transcript, answers);
    const auto admin = handle.admin();

    QStringList names;
    ASSERT_TRUE(admin->listDatabases(names)) << str(admin->lastError().description);
    EXPECT_EQ(names, answers.databases);
    QList<ov::BackupFileInfo> files;
    ASSERT_TRUE(admin->readBackupFileList(kPath, files, 1)) << str(admin->lastError().description);
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(files.first().logicalName, answers.backupFiles.first().logicalName);
    EXPECT_EQ(files.first().physicalName, answers.backupFiles.first().physicalName);
    bool exists = true;
    ASSERT_TRUE(admin->backupFileExists(kPath, exists)) << str(admin->lastError().description);
    EXPECT_FALSE(exists);
    EXPECT_NE(admin->lockDatabase(QStringLiteral("crm")), nullptr) << str(admin->lastError().description);

    ov::Connection cn;
    ASSERT_TRUE(handle.open(cn, QStringLiteral("crm"), 0));
    ov::Recordset rs;
    EXPECT_FALSE(rs.Open(QStringLiteral("SELECT name FROM sys.tables"), cn));
    EXPECT_TRUE(rs.lastError().description.contains(QStringLiteral("--offline")))
        << str(rs.lastError().description);

    const QString text = transcript.text();
    for (const QString& read :
         {ov::mssql::listDatabasesStatement(), ov::mssql::fileListStatement(kPath, 1),
          ov::mssql::headerStatement(kPath), ov::mssql::taskLockStatement(QStringLiteral("crm"))})
        EXPECT_TRUE(text.contains(read + QStringLiteral("\r\nGO\r\n"))) << str(read) << "\n" << str(text);
}
