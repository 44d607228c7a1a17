// --sql-out FILE: the statements of update, create, backup and restore,
// written by the real ovsqlcli to a new file. Create and backup need no
// answer from the server, so a SQL Server name that nothing answers to
// serves; restore reads the backup's files first and so needs one.

#include "support/CliProgram.h"

#include "common/Cp936.h"
#include "data/Connection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
    Result run(const QStringList& args) const { return ovtest::RunCli(m_dir.path(), args); }
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

TEST_F(SqlOutCommandTest, BackupAndCreateWriteTheirStatementsWithoutAServer)
{
    // Port 1 of this machine: nothing answers there, and nothing is asked.
    const QString server = QStringLiteral("127.0.0.1,1");
    const QString dataSet = QDir::toNativeSeparators(QFileInfo(m_dir.path()).canonicalFilePath()) +
                            QDir::separator() + QStringLiteral("DBDataFiles") + QDir::separator() +
                            QStringLiteral("Demo") + QDir::separator();
    const struct
    {
        QStringList args;
        QString expected;
    } cases[] = {
        {{QStringLiteral("backup"), QStringLiteral("--database"), QStringLiteral("客户\"库"),
          QStringLiteral("--to"), QStringLiteral("D:\\bak\\O'Neil.dat"), QStringLiteral("--replace")},
         QStringLiteral(
             "-- The statement that \"ovsqlcli backup\" sends to server 127.0.0.1,1, on a connection "
             "to database 客户\"库.\r\n"
             "BackUp Database \"客户\"\"库\" to disk=N'D:\\bak\\O''Neil.dat' WITH INIT\r\nGO\r\n")},
        {{QStringLiteral("create"), QStringLiteral("--database"), QStringLiteral(" cr]m "),
          QStringLiteral("--demo"), QStringLiteral("--replace")},
         QStringLiteral(
             "-- The statements with which \"ovsqlcli create\" makes database cr]m on server 127.0.0.1,1, on "
             "a connection to master.\r\n"
             "-- The run holds this lock for its whole run, on a connection of its own to master:\r\n"
             "--   SET NOCOUNT ON; DECLARE @result int; EXEC @result = sp_getapplock @Resource = "
             "N'OrvaneSqlUpdateDB:cr]m', @LockMode = 'Exclusive', @LockOwner = 'Session', @LockTimeout = 0; "
             "SELECT @result AS result\r\n"
             "-- and gives it back at its end with:\r\n"
             "--   EXEC sp_releaseapplock @Resource = N'OrvaneSqlUpdateDB:cr]m', @LockOwner = 'Session'\r\n"
             "-- It lists the databases (SELECT name FROM master.sys.databases ORDER BY database_id);\r\n"
             "-- when one of that name exists and replacing it is confirmed, it first sends\r\n"
             "--   DROP DATABASE [cr]]m]\r\n"
             "CREATE DATABASE [cr]]m]\r\nGO\r\n"
             "ALTER DATABASE [cr]]m] SET RECOVERY SIMPLE\r\nGO\r\n"
             "ALTER DATABASE [cr]]m] SET AUTO_CLOSE OFF\r\nGO\r\n"
             "-- Then, on the new database, it runs OVScriptEmpty.txt, loads the data set %1 (one bulk copy "
             "per table of tables.txt) and runs OVScriptUpdate.txt;\r\n"
             "-- \"ovsqlcli update --dry-run --sql-out FILE\" writes a script run's statements.\r\n")
             .arg(dataSet)},
    };
    int n = 0;
    for (const auto& c : cases) {
        const QString out = QStringLiteral("out%1.sql").arg(++n);
        const Result r =
            run(c.args + QStringList{QStringLiteral("--server"), server, QStringLiteral("--trusted"),
                                     QStringLiteral("--sql-out"), path(out)});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(r.out, path(out) + QLatin1Char('\n'));
        EXPECT_EQ(text(out), c.expected) << c.args.first().toStdString();
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
