// --sql-out FILE: the statements of update, create, backup and restore,
// written by the real ovsqlcli to a new file. Each command runs its real
// operation on a recording connection, which still reads from the server
// what the operation must know; so the file holds what the same command
// sends, which the scripted TDS peer shows.

#include "support/CliProgram.h"

#include "common/Cp936.h"
#include "data/Connection.h"
#include "support/TdsPeer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class SqlOutCommandTest : public ::testing::Test
{
protected:
    using Result = ovtest::CliResult;

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(ovtest::InstallCli(m_dir.path()));
        ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("data")));
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    Result run(const QStringList& args, const QByteArray& input = QByteArray()) const
    {
        return ovtest::RunCli(m_dir.path(), args, input);
    }
    QString text(const QString& name) const
    {
        QFile f(path(name));
        if (!f.open(QIODevice::ReadOnly))
            return QStringLiteral("(no file)");
        QByteArray bytes = f.readAll();
        EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF")) << name.toStdString();
        return QString::fromUtf8(bytes.mid(3));
    }

    QTemporaryDir m_dir;
};

TEST_F(SqlOutCommandTest, CreateBackupAndRestoreWriteWhatTheySend)
{
    const QString backup = QStringLiteral("D:\\bak\\O'Neil.dat");
    const auto rule = [](const QString& key, const QString& text, const QByteArray& reply) {
        return QJsonObject{{key, text}, {QStringLiteral("reply"), QJsonDocument::fromJson(reply).array()}};
    };
    // A server with master, Tempdb and 客户"库, whose task lock is free, on
    // which the backup file holds one full backup of that database or, for
    // a backup without --replace, is not there.
    const auto script = [&](bool fileThere) {
        const QByteArray header =
            fileThere
                ? QByteArray(R"j([{"columns": [{"name": "BackupName", "type": "nvarchar(128)"},
                {"name": "BackupType", "type": "smallint"}, {"name": "Position", "type": "smallint"},
                {"name": "DatabaseName", "type": "nvarchar(128)"},
                {"name": "BackupStartDate", "type": "datetime"}, {"name": "BackupFinishDate", "type": "datetime"}],
              "rows": [[null, 1, 1, "客户\"库", "2026-12-04 15:33:00", "2026-12-04 15:33:05"]]}])j")
                : QByteArray(
                      R"j([{"error": {"number": 3201, "class": 16, "message": "Cannot open backup device 'D:\\bak\\O'Neil.dat'. Operating system error 3(The system cannot find the path specified.)."}}])j");
        return QJsonObject{
            {QStringLiteral("databases"), QJsonArray{"master", "Tempdb", QStringLiteral("客户\"库")}},
            {QStringLiteral("rules"),
             QJsonArray{rule(QStringLiteral("regex"), QStringLiteral("SET NOCOUNT ON; DECLARE @result int.*"),
                             R"j([{"columns": [{"name": "result", "type": "int"}], "rows": [[0]]}])j"),
                        rule(QStringLiteral("regex"), QStringLiteral("RESTORE HEADERONLY .*"), header),
                        rule(QStringLiteral("regex"), QStringLiteral("RESTORE FILELISTONLY .*"),
                             R"j([{"columns": [{"name": "LogicalName", "type": "nvarchar(128)"},
                          {"name": "PhysicalName", "type": "nvarchar(260)"}, {"name": "Type", "type": "char(1)"}],
                        "rows": [["crm_Data", "C:\\old\\crm.mdf", "D"], ["crm_Log", "C:\\old\\crm_log.ldf", "L"]]}])j"),
                        rule(QStringLiteral("regex"),
                             QStringLiteral("SELECT name FROM master\\.sys\\.databases.*"),
                             R"j([{"columns": [{"name": "name", "type": "nvarchar(128)"}],
                          "rows": [["master"], ["tempdb"]]}])j")}}};
    };
    const struct
    {
        QStringList args;
        bool fileThere;
        int exitCode;            // of the command that sends
        const char* changes;     // the statement that changes the server, as the file holds it
        bool readsFirst = false; // the command reads the backup before the operation runs
    } cases[] = {
        {{QStringLiteral("backup"), QStringLiteral("--to"), backup},
         false,
         0,
         "BackUp Database \"客户\"\"库\" to disk=N'D:\\bak\\O''Neil.dat'"},
        {{QStringLiteral("backup"), QStringLiteral("--to"), backup, QStringLiteral("--replace")},
         true,
         0,
         "BackUp Database \"客户\"\"库\" to disk=N'D:\\bak\\O''Neil.dat' WITH INIT"},
        // The creation sends its statements, then cannot reach the new
        // database, which the peer does not have.
        {{QStringLiteral("create"), QStringLiteral("--bare")}, false, 1, "CREATE DATABASE [新\"库]"},
        {{QStringLiteral("restore"), QStringLiteral("--from"), backup, QStringLiteral("--move"),
          QStringLiteral("crm_Log=E:\\new\\o'neil_log.ldf"), QStringLiteral("--replace"),
          QStringLiteral("--yes")},
         true,
         0,
         "RESTORE DATABASE \"客户\"\"库\" FROM DISK = N'D:\\bak\\O''Neil.dat'",
         true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        ovtest::TdsPeer sends(script(c.fileThere));
        ovtest::TdsPeer records(script(c.fileThere));
        ASSERT_TRUE(sends.isRunning() && records.isRunning())
            << (sends.error() + records.error()).toStdString();
        // A new database for the creation, which the peer does not have.
        const QString database =
            c.args.first() == QLatin1String("create") ? QStringLiteral("新\"库") : QStringLiteral("客户\"库");
        const auto login = [&](const ovtest::TdsPeer& peer) {
            return QStringList{
                QStringLiteral("--server"), peer.server(),        QStringLiteral("--database"),      database,
                QStringLiteral("--user"),   QStringLiteral("sa"), QStringLiteral("--password-stdin")};
        };
        const Result sent = run(c.args + login(sends), "pw\n");
        EXPECT_EQ(sent.exitCode, c.exitCode) << sent.err.toStdString();
        const QString out = QStringLiteral("out%1.sql").arg(++n);
        const Result r =
            run(c.args + login(records) + QStringList{QStringLiteral("--sql-out"), path(out)}, "pw\n");
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(r.out, path(out) + QLatin1Char('\n'));

        // The file's batches, without its comments: what the command sent,
        // after the reads of the backup that precede the restore.
        QStringList batches;
        QStringList lines;
        for (const QString& line : text(out).split(QStringLiteral("\r\n"))) {
            if (line == QLatin1String("GO")) {
                batches.append(lines.join(QStringLiteral("\r\n")));
                lines.clear();
            } else if (!(lines.isEmpty() && line.startsWith(QLatin1String("--")))) {
                lines.append(line);
            }
        }
        const QStringList wire = sends.statements();
        ASSERT_GE(wire.size(), batches.size());
        EXPECT_EQ(batches, c.readsFirst ? wire.mid(wire.size() - batches.size()) : wire)
            << text(out).toStdString();
        EXPECT_TRUE(std::any_of(batches.begin(), batches.end(), [&](const QString& b) {
            return b.startsWith(QString::fromUtf8(c.changes));
        })) << text(out).toStdString();
        // The server of the recording received none of it.
        for (const QString& statement : records.statements())
            EXPECT_FALSE(statement.startsWith(QString::fromUtf8(c.changes))) << statement.toStdString();
    }
}

TEST_F(SqlOutCommandTest, RefusedBeforeAnythingIsSent)
{
    QFile existing(path(QStringLiteral("exists.sql")));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("keep");
    existing.close();
    const QString embedded = QStringLiteral("sqlite:") + path(QStringLiteral("data"));
    const QStringList sqlServer = {QStringLiteral("--server"), QStringLiteral("127.0.0.1,1"),
                                   QStringLiteral("--database"), QStringLiteral("crm"),
                                   QStringLiteral("--trusted")};
    const struct
    {
        QStringList args;
        int exitCode;
        const char* says;
    } cases[] = {
        {QStringList{QStringLiteral("backup"), QStringLiteral("--to"), QStringLiteral("D:\\a.dat"),
                     QStringLiteral("--sql-out"), path(QStringLiteral("exists.sql"))} +
             sqlServer,
         2, "exists"},
        {{QStringLiteral("backup"), QStringLiteral("--server"), embedded, QStringLiteral("--database"),
          QStringLiteral("crm"), QStringLiteral("--to"), path(QStringLiteral("a.dat")),
          QStringLiteral("--sql-out"), path(QStringLiteral("new.sql"))},
         2,
         "embedded server"},
        {{QStringLiteral("create"), QStringLiteral("--server"), embedded, QStringLiteral("--database"),
          QStringLiteral("crm"), QStringLiteral("--bare"), QStringLiteral("--sql-out"),
          path(QStringLiteral("new.sql"))},
         2,
         "embedded server"},
        {QStringList{QStringLiteral("update"), QStringLiteral("--no-backup"), QStringLiteral("--sql-out"),
                     path(QStringLiteral("new.sql"))} +
             sqlServer,
         2, "--sql-out goes with --dry-run"},
        {QStringList{QStringLiteral("update"), QStringLiteral("--dry-run"), QStringLiteral("--sql-out"),
                     path(QStringLiteral("exists.sql"))} +
             sqlServer,
         2, "exists"},
        // The restore reads the backup's files from the server first: a
        // server that does not answer gives the restore's failure and no file.
        {QStringList{QStringLiteral("restore"), QStringLiteral("--from"), QStringLiteral("D:\\a.dat"),
                     QStringLiteral("--sql-out"), path(QStringLiteral("new.sql"))} +
             sqlServer,
         1, "恢复数据库失败"},
    };
    for (const auto& c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args.join(' ').toStdString() << "\n" << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.says))) << c.args.join(' ').toStdString() << "\n"
                                                               << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(path(QStringLiteral("new.sql"))));
    }
    QFile kept(path(QStringLiteral("exists.sql")));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("keep"));
}

// --offline: the transcript of create, backup and restore made with no
// server at all (a closed port), from what the command line says: the
// database exists only when --replace is given, the backup file is not there
// unless --replace is given, the backup holds set 1 with the files --move
// names. It equals the transcript made against a server whose answers are
// the same, names and paths with quotes and brackets included.
TEST_F(SqlOutCommandTest, OfflineTranscriptEqualsTheOneMadeAgainstTheServer)
{
    const QString database = QStringLiteral("客]户\"'库");
    const QString backup = QStringLiteral("D:\\bak\\O'Neil ]].dat");
    const QString dataMove = QStringLiteral("crm'Da]ta=E:\\new\\o'neil]].mdf");
    const QString logMove = QStringLiteral("crm_Log=E:\\new\\[x]'log.ldf");
    const auto rule = [](const QString& text, const QJsonArray& reply) {
        return QJsonObject{{QStringLiteral("regex"), text}, {QStringLiteral("reply"), reply}};
    };
    const auto reply = [](const QByteArray& json) { return QJsonDocument::fromJson(json).array(); };
    // A server that has the database (or not), whose task lock is free, on
    // which the backup file holds one full backup of the database (or is not
    // there), with the two files --move names.
    const auto script = [&](bool databaseThere, bool there) {
        QJsonArray names{QStringLiteral("master"), QStringLiteral("tempdb")};
        QJsonArray databases{QStringLiteral("master"), QStringLiteral("tempdb")};
        if (databaseThere) {
            names.append(database);
            databases.append(database);
        }
        QJsonArray nameRows;
        for (const auto& n : std::as_const(names))
            nameRows.append(QJsonArray{n});
        const QJsonObject header =
            there
                ? QJsonDocument::fromJson(
                      R"j({"columns": [{"name": "BackupName", "type": "nvarchar(128)"},
                {"name": "BackupType", "type": "smallint"}, {"name": "Position", "type": "smallint"},
                {"name": "DatabaseName", "type": "nvarchar(128)"},
                {"name": "BackupStartDate", "type": "datetime"}, {"name": "BackupFinishDate", "type": "datetime"}],
              "rows": [[null, 1, 1, "x", "2026-12-04 15:33:00", "2026-12-04 15:33:05"]]})j")
                      .object()
                : QJsonObject{{QStringLiteral("error"),
                               QJsonObject{{QStringLiteral("number"), 3201},
                                           {QStringLiteral("class"), 16},
                                           {QStringLiteral("message"),
                                            QStringLiteral("Cannot open backup device '%1'. Operating system "
                                                           "error 3(The system cannot find the path "
                                                           "specified.).")
                                                .arg(backup)}}}};
        return QJsonObject{
            {QStringLiteral("databases"), databases},
            {QStringLiteral("rules"),
             QJsonArray{rule(QStringLiteral("SET NOCOUNT ON; DECLARE @result int.*"),
                             reply(R"j([{"columns": [{"name": "result", "type": "int"}], "rows": [[0]]}])j")),
                        rule(QStringLiteral("RESTORE HEADERONLY .*"), QJsonArray{header}),
                        rule(QStringLiteral("RESTORE FILELISTONLY .*"),
                             reply(R"j([{"columns": [{"name": "LogicalName", "type": "nvarchar(128)"},
                          {"name": "PhysicalName", "type": "nvarchar(260)"}, {"name": "Type", "type": "char(1)"}],
                        "rows": [["crm'Da]ta", "C:\\old\\crm.mdf", "D"], ["crm_Log", "C:\\old\\crm_log.ldf", "L"]]}])j")),
                        rule(QStringLiteral("SELECT name FROM master\\.sys\\.databases.*"),
                             QJsonArray{QJsonObject{
                                 {QStringLiteral("columns"),
                                  QJsonArray{QJsonObject{
                                      {QStringLiteral("name"), QStringLiteral("name")},
                                      {QStringLiteral("type"), QStringLiteral("nvarchar(128)")}}}},
                                 {QStringLiteral("rows"), nameRows}}})}}};
    };
    const QString move = QStringLiteral("--move");
    const struct
    {
        QStringList args;
        bool databaseThere;
        bool there; // the backup file is there
        const char* changes;
    } cases[] = {
        {{QStringLiteral("create"), QStringLiteral("--bare")}, false, false, "CREATE DATABASE [客]]户\"'库]"},
        {{QStringLiteral("create"), QStringLiteral("--demo"), QStringLiteral("--replace"),
          QStringLiteral("--yes")},
         true,
         false,
         "DROP DATABASE"},
        {{QStringLiteral("backup"), QStringLiteral("--to"), backup},
         true,
         false,
         "BackUp Database \"客]户\"\"'库\""},
        {{QStringLiteral("backup"), QStringLiteral("--to"), backup, QStringLiteral("--replace")},
         true,
         true,
         "BackUp Database \"客]户\"\"'库\" to disk=N'D:\\bak\\O''Neil ]].dat' WITH INIT"},
        // The MOVE clauses come in the order of the --move options, which
        // here is the backup's.
        {{QStringLiteral("restore"), QStringLiteral("--from"), backup, move, dataMove, move, logMove,
          QStringLiteral("--replace"), QStringLiteral("--yes")},
         true,
         true,
         "RESTORE DATABASE \"客]户\"\"'库\" FROM DISK = N'D:\\bak\\O''Neil ]].dat'"},
        {{QStringLiteral("restore"), QStringLiteral("--from"), backup, move, dataMove, move, logMove},
         true,
         true,
         "RESTORE DATABASE"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        ovtest::TdsPeer peer(script(c.databaseThere, c.there));
        ASSERT_TRUE(peer.isRunning()) << peer.error().toStdString();
        const QString online = QStringLiteral("online%1.sql").arg(++n);
        const QString offline = QStringLiteral("offline%1.sql").arg(n);
        const Result r =
            run(c.args + QStringList{QStringLiteral("--server"), peer.server(), QStringLiteral("--database"),
                                     database, QStringLiteral("--user"), QStringLiteral("sa"),
                                     QStringLiteral("--password-stdin"), QStringLiteral("--sql-out"),
                                     path(online)},
                "pw\n");
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        // Nothing listens on port 1 of this machine: a run that tried to
        // reach the server would fail.
        const Result o =
            run(c.args + QStringList{QStringLiteral("--server"), QStringLiteral("127.0.0.1,1"),
                                     QStringLiteral("--database"), database, QStringLiteral("--user"),
                                     QStringLiteral("sa"), QStringLiteral("--offline"),
                                     QStringLiteral("--sql-out"), path(offline)});
        ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
        EXPECT_EQ(o.out, path(offline) + QLatin1Char('\n'));
        const auto batches = [&](const QString& name) {
            QStringList out;
            QStringList lines;
            for (const QString& line : text(name).split(QStringLiteral("\r\n"))) {
                if (line == QLatin1String("GO")) {
                    out.append(lines.join(QStringLiteral("\r\n")));
                    lines.clear();
                } else if (!(lines.isEmpty() && line.startsWith(QLatin1String("--")))) {
                    lines.append(line);
                }
            }
            return out;
        };
        EXPECT_EQ(batches(offline), batches(online)) << text(offline).toStdString();
        const QStringList sent = batches(offline);
        EXPECT_TRUE(std::any_of(sent.begin(), sent.end(), [&](const QString& b) {
            return b.startsWith(QString::fromUtf8(c.changes));
        })) << text(offline).toStdString();
    }
}

// What the command line cannot answer is refused before anything is done:
// exit 2, the missing piece named, no file.
TEST_F(SqlOutCommandTest, OfflineRefusesWhatTheCommandLineDoesNotAnswer)
{
    const QStringList login = {QStringLiteral("--server"), QStringLiteral("127.0.0.1,1"),
                               QStringLiteral("--database"), QStringLiteral("crm"),
                               QStringLiteral("--trusted")};
    const QString out = path(QStringLiteral("new.sql"));
    const struct
    {
        QStringList args;
        const char* says;
        bool sqlServer = true; // the login of a SQL Server is added
    } cases[] = {
        // The backup's files are not known without a --move for each.
        {{QStringLiteral("restore"), QStringLiteral("--from"), QStringLiteral("D:\\a.dat"),
          QStringLiteral("--offline"), QStringLiteral("--sql-out"), out},
         "--move"},
        // One file, two targets: which one the restore takes is not known.
        {{QStringLiteral("restore"), QStringLiteral("--from"), QStringLiteral("D:\\a.dat"),
          QStringLiteral("--move"), QStringLiteral("crm=D:\\a.mdf"), QStringLiteral("--move"),
          QStringLiteral("CRM=D:\\b.mdf"), QStringLiteral("--offline"), QStringLiteral("--sql-out"), out},
         "CRM"},
        // Offline means a transcript: without --sql-out there is nothing to do.
        {{QStringLiteral("backup"), QStringLiteral("--to"), QStringLiteral("D:\\a.dat"),
          QStringLiteral("--offline")},
         "--sql-out"},
        {{QStringLiteral("create"), QStringLiteral("--bare"), QStringLiteral("--offline")}, "--sql-out"},
        {{QStringLiteral("restore"), QStringLiteral("--from"), QStringLiteral("D:\\a.dat"),
          QStringLiteral("--move"), QStringLiteral("a=D:\\a.mdf"), QStringLiteral("--offline")},
         "--sql-out"},
        // The embedded engine's work is files, offline too.
        {{QStringLiteral("backup"), QStringLiteral("--server"),
          QStringLiteral("sqlite:") + path(QStringLiteral("data")), QStringLiteral("--to"),
          path(QStringLiteral("a.dat")), QStringLiteral("--offline"), QStringLiteral("--sql-out"), out},
         "embedded server",
         false},
    };
    for (const auto& c : cases) {
        const Result r = run(c.sqlServer ? c.args + login : c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args.join(' ').toStdString() << "\n" << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.says))) << c.args.join(' ').toStdString() << "\n"
                                                               << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(out)) << c.args.join(' ').toStdString();
    }
}

TEST_F(SqlOutCommandTest, UpdateDryRunWritesTheRunsStatements)
{
    // A database at version 1.0 and a script with one block to pass over
    // and one to run, on the embedded engine.
    QFile db(path(QStringLiteral("data/crm.sqlite")));
    ASSERT_TRUE(db.open(QIODevice::WriteOnly));
    db.close();
    {
        ov::Connection cn;
        ASSERT_TRUE(cn.Open(
            QStringLiteral("Data Source=sqlite:%1;Initial Catalog=crm").arg(path(QStringLiteral("data")))));
        ASSERT_TRUE(
            cn.Execute(QStringLiteral("CREATE TABLE tblVarible ([Module] NVARCHAR(50), VaribleName "
                                      "NVARCHAR(100), VaribleValue NVARCHAR(255), UserID NVARCHAR(50));"
                                      "INSERT INTO tblVarible VALUES ('DB', 'Version', '1.0', '')")));
    }
    QFile script(path(QStringLiteral("s.txt")));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(
        ov::cp936::encode(QStringLiteral("--<V:1.0>\r\nDROP TABLE tblVarible\r\nGO\r\n--</V:1.0>\r\n"
                                         "--<VT:1.1>\r\nCREATE TABLE t (a INT)\r\nGO\r\n--</V:1.1>\r\n")));
    script.close();
    const Result r =
        run({QStringLiteral("update"), QStringLiteral("--server"),
             QStringLiteral("sqlite:") + path(QStringLiteral("data")), QStringLiteral("--database"),
             QStringLiteral("crm"), QStringLiteral("--script"), path(QStringLiteral("s.txt")),
             QStringLiteral("--dry-run"), QStringLiteral("--sql-out"), path(QStringLiteral("u.sql"))});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString t = text(QStringLiteral("u.sql"));
    EXPECT_TRUE(
        t.startsWith(QStringLiteral("-- The statements that \"ovsqlcli update\" would send to database crm")))
        << t.toStdString();
    EXPECT_TRUE(
        t.contains(QStringLiteral("-- The run holds the task lock file of the database for its whole run.\r\n"
                                  "SELECT * FROM tblVarible")))
        << t.toStdString();
    EXPECT_TRUE(t.contains(QStringLiteral("BEGIN TRANSACTION\r\nGO\r\nCREATE TABLE t (a INT)\r\nGO\r\n")))
        << t.toStdString();
    EXPECT_FALSE(t.contains(QStringLiteral("DROP TABLE"))) << t.toStdString();
    // Nothing changed: the table of the block is not there, no log was written.
    ov::Connection cn;
    ASSERT_TRUE(cn.Open(
        QStringLiteral("Data Source=sqlite:%1;Initial Catalog=crm").arg(path(QStringLiteral("data")))));
    EXPECT_FALSE(cn.Execute(QStringLiteral("SELECT * FROM t")));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("UpdateDBSqlLog.Txt"))));
}

} // namespace
