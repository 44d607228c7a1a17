#include "common/Cp936.h"
#include "data/Connection.h"
#include "data/Recordset.h"
#include "support/CliProgram.h"
#include "support/ScopedProgramFolder.h"
#include "support/ScriptedUi.h"
#include "support/TdsPeer.h"
#include "update/UpdateScript.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

// A copy of the built ovsqlcli in a temporary program folder, beside the
// shipped scripts and an embedded server "sqlite:data" of that folder.
class DatabaseCommandsTest : public ::testing::Test
{
protected:
    using Result = ovtest::CliResult;

    void SetUp() override
    {
        ASSERT_TRUE(ovtest::MakeCliFolder(
            m_dir, {QStringLiteral("OVScriptEmpty.txt"), QStringLiteral("OVScriptUpdate.txt")}));
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString server() const { return QStringLiteral("sqlite:") + path(QStringLiteral("data")); }

    Result run(const QStringList& args, const QByteArray& input = QByteArray()) const
    {
        return ovtest::RunCli(m_dir.path(), args, input);
    }

    // A database as the create procedure leaves a bare one before its update:
    // the schema script run, and the version row "0".
    void makeBareDatabase(const QString& name)
    {
        QFile f(path(QStringLiteral("data/") + name + QStringLiteral(".sqlite")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.close();
        ovtest::ScriptedUi ui;
        ovtest::RecordingStatus status;
        ovtest::RecordingProgress progress;
        ASSERT_TRUE(mdlOVSqlUpdateDB::RunUpdateScript(server(), name, true, QString(), QString(),
                                                      path(QStringLiteral("OVScriptEmpty.txt")), status,
                                                      progress));
        ASSERT_TRUE(ui.messages().isEmpty());
        exec(name, QStringLiteral("INSERT INTO tblVarible VALUES ('DB', 'Version', '0', '')"));
        QFile::remove(path(QStringLiteral("UpdateDBSqlLog.Txt")));
    }

    void exec(const QString& database, const QString& sql)
    {
        ov::Connection cn;
        ASSERT_TRUE(cn.Open(QStringLiteral("Data Source=%1;Initial Catalog=%2").arg(server(), database)));
        ASSERT_TRUE(cn.Execute(sql)) << cn.lastError().description.toStdString();
    }

    QString version(const QString& database, const QString& folder = QStringLiteral("data"))
    {
        ov::Connection cn;
        if (!cn.Open(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=%2").arg(path(folder), database)))
            return QStringLiteral("(no database)");
        ov::Recordset rs;
        if (!rs.Open(QStringLiteral("SELECT VaribleValue FROM tblVarible WHERE [Module] = 'DB'"), cn) ||
            rs.Eof())
            return QStringLiteral("(no version)");
        return rs.Fields(0).Value().toString();
    }

    void writeFile(const QString& name, const QByteArray& bytes)
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    ovtest::ScopedProgramFolder m_dir;
};

TEST_F(DatabaseCommandsTest, DatabasesListsTheServersDatabases)
{
    for (const char* name : {"crm", "Archive", "demo"}) {
        QFile f(path(QStringLiteral("data/%1.sqlite").arg(QLatin1String(name))));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    Result r = run({QStringLiteral("databases"), QStringLiteral("--server"), server()});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QStringList listed = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    listed.sort(Qt::CaseInsensitive);
    EXPECT_EQ(listed,
              (QStringList{QStringLiteral("Archive"), QStringLiteral("crm"), QStringLiteral("demo")}));

    r = run({QStringLiteral("databases"), QStringLiteral("--server"), QStringLiteral("sqlite:nosuch")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("nosuch"))) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
}

TEST_F(DatabaseCommandsTest, LoginOptionsAndTheirDefaults)
{
    QFile f(path(QStringLiteral("data/crm.sqlite")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    writeFile(QStringLiteral("q.sql"), "SELECT 42 AS answer");
    const QString config =
        QStringLiteral("[MAIN]\r\nDBServer=sqlite:data\r\nDBName=crm\r\nDBIsTrustMode=1\r\n");
    const QStringList sql{QStringLiteral("sql"), QStringLiteral("--file"), QStringLiteral("q.sql")};
    struct Case
    {
        const char* what;
        QStringList args;
        QByteArray input;
        int exitCode;
        const char* stdoutText; // nullptr: not looked at
        const char* stderrPart;
    };
    const QList<Case> cases = {
        {"server and database come from the configuration file", sql, {}, 0, "answer\n42\n", ""},
        {"a SQL Server login on the embedded engine needs no password",
         sql + QStringList{"--user", "u1"},
         {},
         0,
         "answer\n42\n",
         ""},
        {"the password is read from standard input and never shown",
         sql + QStringList{"--user", "u1", "--password-stdin"}, "pw-on-stdin\n", 0, "answer\n42\n", ""},
        {"--trusted and --user exclude each other",
         sql + QStringList{"--trusted", "--user", "u1"},
         {},
         2,
         "",
         "--trusted and --user exclude each other"},
        {"--password-stdin goes with a SQL Server login",
         sql + QStringList{"--password-stdin"},
         {},
         2,
         "",
         "--password-stdin goes with a SQL Server login"},
        {"a SQL Server login without a terminal needs --password-stdin",
         sql + QStringList{"--server", "127.0.0.1,1", "--user", "sa"},
         {},
         1,
         "",
         "needs a password"},
        {"a refused login shows the connection message, never the password",
         sql + QStringList{"--server", "127.0.0.1,1", "--user", "sa", "--password-stdin"},
         "Secret;Database=x\n", 1, "", "连接数据库失败！\n\n错误编号:"},
        {"an unknown option is a usage error",
         sql + QStringList{"--pasword-stdin"},
         {},
         2,
         "",
         "unknown argument: --pasword-stdin"},
    };
    writeFile(QStringLiteral("OrvaneSqlConfig.ini"), config.toLatin1());
    for (const Case& c : cases) {
        const Result r = run(c.args, c.input);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.what << "\n" << r.err.toStdString();
        if (c.stdoutText) {
            EXPECT_EQ(r.out, QString::fromUtf8(c.stdoutText)) << c.what;
        }
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.stderrPart))) << c.what << "\n" << r.err.toStdString();
        EXPECT_FALSE((r.out + r.err).contains(QStringLiteral("Secret"))) << c.what;
        EXPECT_FALSE((r.out + r.err).contains(QStringLiteral("pw-on-stdin"))) << c.what;
    }
}

TEST_F(DatabaseCommandsTest, SqlPrintsTheRowsAsATabSeparatedTable)
{
    QFile f(path(QStringLiteral("data/crm.sqlite")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    exec(QStringLiteral("crm"),
         QStringLiteral("CREATE TABLE c (id INT, name NVARCHAR(50), note NVARCHAR(50)); "
                        "INSERT INTO c VALUES (1, '北京', NULL); "
                        "INSERT INTO c VALUES (2, '', 'a\tb\\c')"));
    // The batch file is in code page 936, as every text file of the program.
    writeFile(QStringLiteral("q.sql"),
              ov::cp936::encode(QStringLiteral("-- 客户\r\nSELECT id, name, note FROM c WHERE name <> '上海' "
                                               "ORDER BY id\r\n")));
    const QStringList login{QStringLiteral("--server"), server(), QStringLiteral("--database"),
                            QStringLiteral("crm")};
    Result r =
        run(QStringList{QStringLiteral("sql"), QStringLiteral("--file"), QStringLiteral("q.sql")} + login);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("id\tname\tnote\n1\t北京\tNULL\n2\t\ta\\tb\\\\c\n"));

    writeFile(QStringLiteral("bad.sql"), "SELECT * FROM nosuch");
    r = run(QStringList{QStringLiteral("sql"), QStringLiteral("--file"), QStringLiteral("bad.sql")} + login);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("对象名 nosuch 无效"))) << r.err.toStdString();

    r = run(QStringList{QStringLiteral("sql")} + login);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("--file is required"))) << r.err.toStdString();
}

// sql on SQL Server reads every result of the batch: an error after the
// rows of a first statement, or in a later result, ends the run with the
// error; messages and later row sets do not.
TEST_F(DatabaseCommandsTest, SqlReadsEveryResultOfTheBatch)
{
    const struct
    {
        const char* what;
        const char* reply;
        int exitCode;
        const char* stdoutText;
        const char* stderrPart;
    } cases[] = {
        {"an error after the rows",
         R"j([{"columns": [{"name": "a", "type": "int"}], "rows": [[1], [2]]}, {"done": {"count": 2}},
              {"error": {"number": 50000, "class": 16, "message": "late failure"}}, {"done": {}}])j",
         1, "a\n1\n2\n", "late failure"},
        {"an error after a second set of rows",
         R"j([{"columns": [{"name": "a", "type": "int"}], "rows": [[1]]}, {"done": {"count": 1}},
              {"columns": [{"name": "b", "type": "int"}], "rows": [[2]]}, {"done": {"count": 1}},
              {"info": {"number": 0, "class": 0, "message": "printed"}},
              {"error": {"number": 547, "class": 16, "message": "constraint conflict"}}, {"done": {}}])j",
         1, "a\n1\n", "constraint conflict"},
        {"an error before the rows",
         R"j([{"error": {"number": 208, "class": 16, "message": "Invalid object name 'x'."}}, {"done": {}},
              {"columns": [{"name": "a", "type": "int"}], "rows": [[1]]}, {"done": {"count": 1}}])j",
         1, nullptr, "Invalid object name 'x'."},
        {"messages and a second set of rows",
         R"j([{"info": {"number": 0, "class": 0, "message": "printed"}},
              {"columns": [{"name": "a", "type": "int"}], "rows": [[1]]}, {"done": {"count": 1}},
              {"columns": [{"name": "b", "type": "int"}], "rows": [[2]]}, {"done": {"count": 1}},
              {"info": {"number": 0, "class": 0, "message": "printed again"}}, {"done": {}}])j",
         0, "a\n1\n", ""},
    };
    writeFile(QStringLiteral("q.sql"), "SELECT a FROM t; SELECT b FROM u");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QJsonObject rule{{QStringLiteral("match"), QStringLiteral("SELECT a FROM t; SELECT b FROM u")},
                               {QStringLiteral("reply"), QJsonDocument::fromJson(c.reply).array()}};
        ovtest::TdsPeer peer(QJsonObject{{QStringLiteral("rules"), QJsonArray{rule}}});
        ASSERT_TRUE(peer.isRunning()) << peer.error().toStdString();
        const Result r = run({QStringLiteral("sql"), QStringLiteral("--file"), QStringLiteral("q.sql"),
                              QStringLiteral("--server"), peer.server(), QStringLiteral("--database"),
                              QStringLiteral("crm"), QStringLiteral("--user"), QStringLiteral("sa"),
                              QStringLiteral("--password-stdin")},
                             "pw\n");
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        if (c.stdoutText) {
            EXPECT_EQ(r.out, QString::fromUtf8(c.stdoutText));
        }
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.stderrPart))) << r.err.toStdString();
        EXPECT_TRUE(peer.statements().contains(QStringLiteral("SELECT a FROM t; SELECT b FROM u")))
            << peer.statements().join(QLatin1Char('\n')).toStdString();
    }
}

TEST_F(DatabaseCommandsTest, UpdateBacksUpFirstOrIsToldNotTo)
{
    const QString bak = path(QStringLiteral("bak"));
    ASSERT_TRUE(QDir().mkpath(bak));
    struct Case
    {
        const char* what;
        QStringList options;
        int exitCode;
        const char* stderrPart;
        const char* versionAfter;
        bool logWritten;
    };
    const QList<Case> cases = {
        {"no backup option: refused before anything happens", {}, 2, "--backup-to PATH", "0", false},
        {"two backup options: refused",
         {"--no-backup", "--backup-to", bak + "/x.sqlite"},
         2,
         "--backup-to PATH",
         "0",
         false},
        {"--no-backup runs the update", {"--no-backup"}, 0, "数据库升级成功！", "1.6", true},
        {"--backup-to backs up, then updates",
         {"--backup-to", bak + "/before.sqlite"},
         0,
         "备份数据库成功！",
         "1.6",
         true},
        {"a failed backup stops the update",
         {"--backup-to", bak + "/nosuch/before.sqlite"},
         1,
         "备份数据库失败！\n3201\n",
         "0",
         false},
        {"--dry-run changes nothing", {"--dry-run"}, 0, "", "0", false},
        // Nothing could start: exit code 2.
        {"a missing script",
         {"--no-backup", "--script", "nosuch.txt"},
         2,
         "文件 nosuch.txt 不存在！",
         "0",
         false},
    };
    int n = 0;
    for (const Case& c : cases) {
        const QString db = QStringLiteral("crm%1").arg(++n);
        makeBareDatabase(db);
        const Result r = run(QStringList{QStringLiteral("update"), QStringLiteral("--server"), server(),
                                         QStringLiteral("--database"), db} +
                             c.options);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.what << "\n" << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.stderrPart))) << c.what << "\n" << r.err.toStdString();
        EXPECT_EQ(version(db), QString::fromUtf8(c.versionAfter)) << c.what;
        EXPECT_EQ(QFileInfo::exists(path(QStringLiteral("UpdateDBSqlLog.Txt"))), c.logWritten) << c.what;
        QFile::remove(path(QStringLiteral("UpdateDBSqlLog.Txt")));
    }
    // The backup holds the database as it was before the update.
    EXPECT_EQ(version(QStringLiteral("before"), QStringLiteral("bak")), QStringLiteral("0"));
}

// A transactional block of the shipped script that rolls back (here its new
// table exists already) stops the update there and the command fails; once
// the cause is gone, a second update brings the database to the newest
// version.
TEST_F(DatabaseCommandsTest, UpdateFailsWhenAVersionBlockRollsBackAndARerunFinishes)
{
    makeBareDatabase(QStringLiteral("crm"));
    exec(QStringLiteral("crm"), QStringLiteral("CREATE TABLE tblOpportunity (x INT)"));
    const QStringList update{
        QStringLiteral("update"),     QStringLiteral("--server"), server(),
        QStringLiteral("--database"), QStringLiteral("crm"),      QStringLiteral("--no-backup")};
    Result r = run(update);
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("版本 1.2 的升级未能完成"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(path(QStringLiteral("UpdateDBSqlLog.Txt")))) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("数据库升级成功！"))) << r.err.toStdString();
    EXPECT_EQ(version(QStringLiteral("crm")), QStringLiteral("1.1"));

    exec(QStringLiteral("crm"), QStringLiteral("DROP TABLE tblOpportunity"));
    r = run(update);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("数据库升级成功！"))) << r.err.toStdString();
    EXPECT_EQ(version(QStringLiteral("crm")), QStringLiteral("1.6"));
}

// The disk fills up inside the shipped script's phone transfer (a transfer
// block inside the --<V: block 1.3): the update fails (exit 1) naming the
// version, the cause and the log, 1.3 is not recorded and no later block
// runs, no phone row is kept; run again with room, it copies every phone.
TEST_F(DatabaseCommandsTest, AFullDiskInAVersionsTransferFailsTheUpdateAndARerunFinishesIt)
{
    makeBareDatabase(QStringLiteral("crm"));
    exec(QStringLiteral("crm"),
         QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                        "INSERT INTO tblContact ([ContactID], [ContactName], [Phone], [Mobile]) "
                        "SELECT i, 'contact ' || i, printf('010-%08d', i), printf('139%08d', i) FROM n"));
    const qint64 size = QFileInfo(path(QStringLiteral("data/crm.sqlite"))).size();
    // Room for the new tables and indexes of 1.1 to 1.3, not for 6,000 phones.
    const qint64 limitKiB = (size + 48 * 1024) / 1024;
    QProcess p;
    p.setWorkingDirectory(m_dir.path());
    p.start(QStringLiteral("bash"),
            {QStringLiteral("-c"), QStringLiteral("ulimit -f %1 && exec \"$0\" \"$@\"").arg(limitKiB),
             path(QStringLiteral("ovsqlcli")), QStringLiteral("update"), QStringLiteral("--server"), server(),
             QStringLiteral("--database"), QStringLiteral("crm"), QStringLiteral("--no-backup")});
    ASSERT_TRUE(p.waitForStarted());
    p.closeWriteChannel();
    ASSERT_TRUE(p.waitForFinished(120000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("版本 1.3 的升级因故障中止"))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("磁盘读写错误。"))) << err.toStdString();
    EXPECT_TRUE(err.contains(path(QStringLiteral("UpdateDBSqlLog.Txt")))) << err.toStdString();
    EXPECT_FALSE(err.contains(QStringLiteral("数据库升级成功！"))) << err.toStdString();
    EXPECT_EQ(version(QStringLiteral("crm")), QStringLiteral("1.2"));
    const auto scalar = [&](const QString& sql) {
        ov::Connection cn;
        if (!cn.Open(QStringLiteral("Data Source=%1;Initial Catalog=crm").arg(server())))
            return QStringLiteral("(no database)");
        ov::Recordset rs;
        if (!rs.Open(sql, cn) || rs.Eof())
            return QStringLiteral("(no rows)");
        return rs.Fields(0).Value().toString();
    };
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM tblContactPhone")), QStringLiteral("0"));
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM tblVarible WHERE [Module] = 'UpdateDB' AND "
                                    "[VaribleName] >= '1.3'")),
              QStringLiteral("0"));

    const Result r =
        run({QStringLiteral("update"), QStringLiteral("--server"), server(), QStringLiteral("--database"),
             QStringLiteral("crm"), QStringLiteral("--no-backup")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("数据库升级成功！"))) << r.err.toStdString();
    EXPECT_EQ(version(QStringLiteral("crm")), QStringLiteral("1.6"));
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM tblContactPhone")), QStringLiteral("6000"));
}

// Output that cannot be written does not stop a run half-way: a reader that
// goes away early (ovsqlcli update | head -1) and an output file at the
// file-size limit both leave the update to finish.
TEST_F(DatabaseCommandsTest, OutputThatCannotBeWrittenDoesNotStopTheRun)
{
    // Fills the output file up to the limit (in KiB), then appends to it.
    const QString full = path(QStringLiteral("full.txt"));
    const struct
    {
        const char* what;
        QString shell;
    } cases[] = {
        {"a reader that leaves early",
         QStringLiteral("\"$0\" \"$@\" 2>&1 | head -1 >/dev/null; exit ${PIPESTATUS[0]}")},
        {"an output file at the file-size limit",
         QStringLiteral("head -c 8388608 /dev/zero > '%1' && ulimit -f 8192 && exec \"$0\" \"$@\" 2>>'%1' "
                        ">>'%1'")
             .arg(full)},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString db = QStringLiteral("out%1").arg(++n);
        makeBareDatabase(db);
        QProcess p;
        p.setWorkingDirectory(m_dir.path());
        p.start(QStringLiteral("bash"), {QStringLiteral("-c"), c.shell, path(QStringLiteral("ovsqlcli")),
                                         QStringLiteral("update"), QStringLiteral("--server"), server(),
                                         QStringLiteral("--database"), db, QStringLiteral("--no-backup")});
        ASSERT_TRUE(p.waitForStarted());
        p.closeWriteChannel();
        ASSERT_TRUE(p.waitForFinished(120000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        EXPECT_EQ(version(db), QStringLiteral("1.6"));
    }
}

// A run whose update log cannot be written (here a folder stands where the
// log would be) does its work, says which file could not be written and
// ends non-zero: its trail is lost. Every command that writes the log.
TEST_F(DatabaseCommandsTest, ALogThatCannotBeWrittenEndsNonZero)
{
    const QString log = path(QStringLiteral("UpdateDBSqlLog.Txt"));
    const struct
    {
        const char* what;
        QStringList args;
        const char* database;
        const char* versionBefore;
    } cases[] = {
        {"update", {"update", "--database", "upd", "--no-backup"}, "upd", "0"},
        {"create", {"create", "--database", "made", "--bare"}, "made", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.versionBefore)
            makeBareDatabase(QString::fromUtf8(c.database));
        ASSERT_TRUE(QDir().mkpath(log));
        const Result r = run(c.args + QStringList{QStringLiteral("--server"), server()});
        EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QDir::toNativeSeparators(log) + QStringLiteral(" cannot be written")))
            << r.err.toStdString();
        EXPECT_EQ(r.err.count(QStringLiteral(" cannot be written")), 1) << "said once\n"
                                                                        << r.err.toStdString();
        EXPECT_EQ(version(QString::fromUtf8(c.database)), QStringLiteral("1.6"));
        ASSERT_TRUE(QDir(log).removeRecursively());
    }
}

TEST_F(DatabaseCommandsTest, DryRunListsWhatARunWouldDo)
{
    makeBareDatabase(QStringLiteral("crm"));
    exec(QStringLiteral("crm"),
         QStringLiteral("UPDATE tblVarible SET VaribleValue = '1.3' WHERE [Module] = 'DB'"));
    const Result r = run({QStringLiteral("update"), QStringLiteral("--server"), server(),
                          QStringLiteral("--database"), QStringLiteral("crm"), QStringLiteral("--dry-run")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out,
              QStringLiteral("pass over\t1.1\n"
                             "pass over\t1.2\t(in a transaction)\n"
                             "pass over\t1.3\n"
                             "run\t1.4\t(in a transaction)\n"
                             "run\t1.5\n"
                             "run\t1.6\t(in a transaction)\n"
                             "3 version block(s) would run, 3 would be passed over; nothing was changed.\n"));
    EXPECT_EQ(version(QStringLiteral("crm")), QStringLiteral("1.3"));
}

// A dry run of a script it cannot read fails, and says why: a missing file
// is missing (exit 1), a file saved as UTF-16 ("Unicode") holds NUL bytes
// and is refused before anything starts (exit 2).
TEST_F(DatabaseCommandsTest, DryRunOfAScriptItCannotReadSaysWhy)
{
    makeBareDatabase(QStringLiteral("crm"));
    const QString unicode = path(QStringLiteral("unicode.txt"));
    QFile f(unicode);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArrayLiteral("\xFF\xFE-\0-\0<\0V\0:\0\x31\0>\0\r\0\n\0"));
    f.close();
    const struct
    {
        QString script;
        QString says;
        int exitCode;
    } cases[] = {
        {path(QStringLiteral("none.txt")), QStringLiteral("不存在"), 1},
        {unicode, QStringLiteral("NUL"), 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script.toStdString());
        const Result r =
            run({QStringLiteral("update"), QStringLiteral("--server"), server(), QStringLiteral("--database"),
                 QStringLiteral("crm"), QStringLiteral("--script"), c.script, QStringLiteral("--dry-run")});
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    }
}

// A script with bytes that are not code page 936, or with a block inside one
// that has not ended, cannot be run without guessing: update, its dry run and
// its statement listing refuse it before anything starts (exit 2), naming the
// line, and the database is as it was, not backed up either.
TEST_F(DatabaseCommandsTest, AScriptItWouldHaveToGuessAtIsRefusedBeforeAnythingStarts)
{
    makeBareDatabase(QStringLiteral("crm"));
    writeFile(QStringLiteral("bytes.txt"),
              "--<V:1.1>\r\nALTER TABLE tblCompany ADD [Province] NVARCHAR(50) NULL\r\n"
              "GO\r\n-- \xFF\r\n--</V:1.1>\r\n");
    writeFile(QStringLiteral("nested.txt"),
              "--<VT:1.1>\r\nALTER TABLE tblCompany ADD [Province] NVARCHAR(50) NULL\r\n"
              "GO\r\n--<VT:1.2>\r\nGO\r\n--</V:1.2>\r\n");
    const QStringList modes[] = {
        {QStringLiteral("--no-backup")},
        {QStringLiteral("--backup-to"), path(QStringLiteral("data/crm.bak"))},
        {QStringLiteral("--dry-run")},
        {QStringLiteral("--dry-run"), QStringLiteral("--sql-out"), path(QStringLiteral("out.sql"))},
    };
    for (const auto& [script, line] : {std::pair{"bytes.txt", 4}, std::pair{"nested.txt", 4}}) {
        for (const QStringList& mode : modes) {
            SCOPED_TRACE(QStringLiteral("%1 %2").arg(QLatin1String(script), mode.join(' ')).toStdString());
            const Result r = run(QStringList{QStringLiteral("update"), QStringLiteral("--server"), server(),
                                             QStringLiteral("--database"), QStringLiteral("crm"),
                                             QStringLiteral("--script"), path(QLatin1String(script))} +
                                 mode);
            EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
            EXPECT_TRUE(r.err.contains(QStringLiteral("第 %1 行").arg(line))) << r.err.toStdString();
            EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
            EXPECT_EQ(version(QStringLiteral("crm")), QStringLiteral("0"));
            EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("data/crm.bak"))));
            EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("out.sql"))));
        }
    }
}

} // namespace
