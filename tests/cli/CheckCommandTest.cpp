// ovsqlcli check and the check at the end of ovsqlcli update, with the way
// back: update --rerun of a block the database claims but lacks.

#include "common/Cp936.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "data/Connection.h"
#include "data/Recordset.h"
#include "support/CliProgram.h"
#include "support/ScopedProgramFolder.h"
#include "support/ScriptedUi.h"
#include "update/UpdateScript.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

class CheckCommandTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(ovtest::InstallCli(m_dir.path()));
        ASSERT_TRUE(
            m_dir.copyDist({QStringLiteral("OVScriptEmpty.txt"), QStringLiteral("OVScriptUpdate.txt")}));
        m_dir.makeServer();
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString server() const { return QStringLiteral("sqlite:") + path(QStringLiteral("data")); }

    ovtest::CliResult run(const QStringList& args) const
    {
        return ovtest::RunCli(m_dir.path(), QStringList{args.first(), "--server", server()} + args.mid(1));
    }
    bool runScript(const QString& database, const QString& script)
    {
        ovtest::ScriptedUi ui;
        ovtest::RecordingStatus status;
        ovtest::RecordingProgress progress;
        const bool ran = mdlOVSqlUpdateDB::RunUpdateScript(server(), database, true, QString(), QString(),
                                                           script, status, progress);
        EXPECT_TRUE(ui.messages().isEmpty()) << ui.texts().join(QLatin1Char('\n')).toStdString();
        return ran;
    }
    // The shipped scripts without the version block 1.4, as a run that lost
    // it leaves a database: version 1.6, without 1.4's two columns.
    void makeDatabaseWithoutBlock14(const QString& name)
    {
        QFile f(path(QStringLiteral("data/") + name + QStringLiteral(".sqlite")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.close();
        ASSERT_TRUE(runScript(name, path(QStringLiteral("OVScriptEmpty.txt"))));
        exec(name, QStringLiteral("INSERT INTO tblVarible VALUES ('DB', 'Version', '0', '')"));
        QFile in(path(QStringLiteral("OVScriptUpdate.txt")));
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        QString text = ov::cp936::decode(in.readAll());
        const int from = text.indexOf(QStringLiteral("--<VT:1.4>"));
        const int to = text.indexOf(QStringLiteral("--</V:1.4>\r\n"));
        ASSERT_TRUE(from > 0 && to > from);
        text.remove(from, to + 12 - from);
        QFile out(path(QStringLiteral("partial.txt")));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(ov::cp936::encode(text));
        out.close();
        ASSERT_TRUE(runScript(name, path(QStringLiteral("partial.txt"))));
        QFile::remove(path(QStringLiteral("UpdateDBSqlLog.Txt")));
    }
    void exec(const QString& database, const QString& sql)
    {
        ov::Connection cn;
        ASSERT_TRUE(cn.Open(QStringLiteral("Data Source=%1;Initial Catalog=%2").arg(server(), database)));
        ASSERT_TRUE(cn.Execute(sql)) << cn.lastError().description.toStdString();
    }
    QStringList rows(const QString& database, const QString& sql)
    {
        ov::Connection cn;
        ov::Recordset rs;
        if (!cn.Open(QStringLiteral("Data Source=%1;Initial Catalog=%2").arg(server(), database)) ||
            !rs.Open(sql, cn))
            return {QStringLiteral("(fails)")};
        QStringList out;
        for (; !rs.Eof(); rs.MoveNext())
            out.append(rs.Fields(0).Value().toString());
        return out;
    }
    QString log() const
    {
        QFile f(path(QStringLiteral("UpdateDBSqlLog.Txt")));
        return f.open(QIODevice::ReadOnly) ? ov::cp936::decode(f.readAll()) : QString();
    }

    ovtest::ScopedProgramFolder m_dir;
};

// check answers 0, 1 or 2, in plain text and in JSON.
TEST_F(CheckCommandTest, CheckReportsGapsWithTheirBlocks)
{
    makeDatabaseWithoutBlock14(QStringLiteral("crm"));
    ovtest::CliResult r = run({"check", "--database", "crm"});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("  列 tblActivity.DueDate（datetime，版本块 1.4）\n")))
        << r.out.toStdString();
    EXPECT_TRUE(
        r.out.contains(QStringLiteral("  版本块 1.4：缺少 2 个对象，其对象都还不存在，可以安全地重新执行"
                                      "（ovsqlcli update --rerun 1.4）\n")))
        << r.out.toStdString();

    r = run({"check", "--database", "crm", "--json"});
    EXPECT_EQ(r.exitCode, 1);
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_EQ(o.value(QStringLiteral("status")).toString(), QStringLiteral("gaps"));
    EXPECT_EQ(o.value(QStringLiteral("version")).toString(), QStringLiteral("1.6"));
    const QJsonArray gaps = o.value(QStringLiteral("gaps")).toArray();
    ASSERT_EQ(gaps.size(), 2);
    EXPECT_EQ(gaps[0].toObject().value(QStringLiteral("column")).toString(), QStringLiteral("DueDate"));
    EXPECT_EQ(gaps[0].toObject().value(QStringLiteral("block")).toString(), QStringLiteral("1.4"));
    const QJsonArray blocks = o.value(QStringLiteral("incompleteBlocks")).toArray();
    ASSERT_EQ(blocks.size(), 1);
    EXPECT_TRUE(blocks[0].toObject().value(QStringLiteral("rerunSafe")).toBool());

    // The check changes nothing and logs nothing.
    EXPECT_EQ(log(), QString());

    const struct
    {
        const char* what;
        QStringList args;
        int exitCode;
        const char* says;
    } cases[] = {
        {"no such database", {"check", "--database", "none"}, 2, ""},
        {"no version", {"check", "--database", "crm"}, 2, "数据库没有版本"},
    };
    exec(QStringLiteral("crm"), QStringLiteral("DELETE FROM tblVarible WHERE [Module] = 'DB'"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        r = run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.says))) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    }
    // A SQL Server that refuses the connection, through FreeTDS.
    r = ovtest::RunCli(m_dir.path(),
                       {"check", "--server", "127.0.0.1,1", "--database", "cr]m'", "--user", "sa",
                        "--password-stdin", "--json"},
                       "secret\n");
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(r.out.toUtf8()).object().value(QStringLiteral("status")).toString(),
              QStringLiteral("failed"))
        << r.out.toStdString();
}

// An update of a database that lacks objects of its version completes: it
// says so, then names what is missing, and exits 3; the log lists every
// missing object. update --rerun runs the block that brings them, the
// version stays, and the next check and update pass.
TEST_F(CheckCommandTest, AGapAfterACompletedUpdateExitsThreeAndRerunMendsIt)
{
    makeDatabaseWithoutBlock14(QStringLiteral("crm"));
    ovtest::CliResult r = run({"update", "--database", "crm", "--no-backup"});
    EXPECT_EQ(r.exitCode, 3) << r.err.toStdString();
    const int success = int(r.err.indexOf(QStringLiteral("数据库升级成功！")));
    const int gap = int(r.err.indexOf(QStringLiteral("缺少列 tblActivity.DueDate（版本 1.4）")));
    EXPECT_TRUE(success >= 0 && gap > success) << r.err.toStdString();
    EXPECT_TRUE(
        r.err.contains(QStringLiteral("详细记录见日志文件 ") + path(QStringLiteral("UpdateDBSqlLog.Txt"))))
        << r.err.toStdString();
    for (const char* missing : {"!!! 列 tblActivity.DueDate（datetime，版本块 1.4）",
                                "!!! 列 tblActivity.Priority（int，版本块 1.4）"})
        EXPECT_TRUE(log().contains(QString::fromUtf8(missing))) << missing << log().toStdString();
    EXPECT_EQ(rows(QStringLiteral("crm"),
                   QStringLiteral("SELECT VaribleValue FROM tblVarible WHERE [Module] = 'DB'")),
              QStringList({"1.6"}));

    // Refused before anything is sent (the run could not start): a block
    // with nothing missing, a block the database does not have.
    for (const char* version : {"1.3", "1.7"}) {
        SCOPED_TRACE(version);
        r = run({"update", "--database", "crm", "--no-backup", "--rerun", version});
        EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("无需重新执行"))) << r.err.toStdString();
    }
    EXPECT_EQ(
        rows(QStringLiteral("crm"), QStringLiteral("SELECT VaribleName FROM tblVarible WHERE [Module] = "
                                                   "'UpdateDB' ORDER BY VaribleName")),
        QStringList({"1.1", "1.2", "1.3", "1.5", "1.6"}));

    r = run({"update", "--database", "crm", "--no-backup", "--rerun", "1.4"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("数据库升级成功！"))) << r.err.toStdString();
    EXPECT_EQ(rows(QStringLiteral("crm"),
                   QStringLiteral("SELECT VaribleValue FROM tblVarible WHERE [Module] = 'DB'")),
              QStringList({"1.6"}));
    EXPECT_EQ(
        rows(QStringLiteral("crm"), QStringLiteral("SELECT VaribleName FROM tblVarible WHERE [Module] = "
                                                   "'UpdateDB' ORDER BY VaribleName")),
        QStringList({"1.1", "1.2", "1.3", "1.4", "1.5", "1.6"}));
    EXPECT_EQ(run({"check", "--database", "crm"}).exitCode, 0);
    EXPECT_EQ(run({"update", "--database", "crm", "--no-backup"}).exitCode, 0);
}

// A database at a version later than the scripts reach: check cannot vouch
// for it (exit 2, its report on standard output); an update has nothing to
// do and succeeds, saying in the log how far the check went, and exits 3
// when a block the scripts know is missing.
TEST_F(CheckCommandTest, ADatabaseBeyondTheScriptsIsCheckedAsFarAsTheyReach)
{
    makeDatabaseWithoutBlock14(QStringLiteral("gap"));
    ASSERT_TRUE(
        QFile::copy(path(QStringLiteral("data/gap.sqlite")), path(QStringLiteral("data/full.sqlite"))));
    exec(QStringLiteral("full"), QStringLiteral("ALTER TABLE tblActivity ADD [DueDate] DATETIME NULL"));
    exec(QStringLiteral("full"), QStringLiteral("ALTER TABLE tblActivity ADD [Priority] INT NULL"));
    for (const char* db : {"gap", "full"})
        exec(QLatin1String(db),
             QStringLiteral("UPDATE tblVarible SET VaribleValue = '9.0' WHERE [Module] = 'DB'"));

    ovtest::CliResult r = run({"check", "--database", "full"});
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("版本 9.0 高于升级脚本的最后一个版本块（1.6）")))
        << r.out.toStdString();
    r = run({"check", "--database", "full", "--json"});
    EXPECT_EQ(r.exitCode, 2);
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_EQ(o.value(QStringLiteral("status")).toString(), QStringLiteral("partial"));
    EXPECT_EQ(o.value(QStringLiteral("scriptsEndAt")).toString(), QStringLiteral("1.6"));
    EXPECT_EQ(o.value(QStringLiteral("exitCode")).toInt(), 2);

    r = run({"update", "--database", "full", "--no-backup"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(
        log().contains(QStringLiteral("##### 数据库结构检查：版本 9.0 高于升级脚本的最后一个版本块（1.6）")))
        << log().toStdString();

    r = run({"update", "--database", "gap", "--no-backup"});
    EXPECT_EQ(r.exitCode, 3) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("缺少列 tblActivity.DueDate（版本 1.4）")))
        << r.err.toStdString();
}

// Any database name, and any name of a customer's table or column, leaves
// the JSON report valid with the names exact, and the plain report one line
// per finding. A name no database can have is refused with exit 2.
TEST_F(CheckCommandTest, HostileNamesLeaveBothReportsWhole)
{
    makeDatabaseWithoutBlock14(QStringLiteral("crm"));
    const QString table = QStringLiteral("t]\"a\n中;");
    const QString column = QStringLiteral("c'\r[x] DROP");
    exec(QStringLiteral("crm"), QStringLiteral("CREATE TABLE \"t]\"\"a\n中;\" ([Id] INT)"));
    exec(QStringLiteral("crm"), QStringLiteral("ALTER TABLE tblCompany ADD \"c'\r[x] DROP\" NVARCHAR(5)"));
    // Placeholders in a name stay as they are: no other value, no line break.
    exec(QStringLiteral("crm"), QStringLiteral("ALTER TABLE tblCompany ADD [{2}{CRLF}%1] INT"));
    exec(QStringLiteral("crm"),
         QStringLiteral("UPDATE tblVarible SET VaribleValue = '1.6\nResult: fine' WHERE [Module] = 'DB'"));
    const QString names[] = {QStringLiteral("a'b"),         QStringLiteral("x]y"),
                             QStringLiteral("q\"uote"),     QStringLiteral("a;b--"),
                             QStringLiteral("中文库"),      QStringLiteral("[br]"),
                             QString(128, QLatin1Char('L'))};
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(QFile::copy(path(QStringLiteral("data/crm.sqlite")),
                                path(QStringLiteral("data/") + name + QStringLiteral(".sqlite"))));
        ovtest::CliResult r = run({"check", "--database", name, "--json"});
        EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
        QJsonParseError error;
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8(), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();
        QStringList extras;
        for (const QJsonValue v : o.value(QStringLiteral("information")).toArray())
            extras.append(v.toObject().value(QStringLiteral("table")).toString() + QLatin1Char('|') +
                          v.toObject().value(QStringLiteral("column")).toString());
        EXPECT_TRUE(extras.contains(table + QLatin1Char('|'))) << extras.join(QLatin1Char(',')).toStdString();
        EXPECT_TRUE(extras.contains(QStringLiteral("tblCompany|") + column))
            << extras.join(QLatin1Char(',')).toStdString();
        EXPECT_EQ(o.value(QStringLiteral("version")).toString(), QStringLiteral("1.6\nResult: fine"));

        r = run({"check", "--database", name});
        EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
        const QStringList lines = r.out.split(QLatin1Char('\n'));
        EXPECT_TRUE(lines.contains(QStringLiteral("  表 t]\"a\uFFFD中;"))) << r.out.toStdString();
        EXPECT_TRUE(lines.contains(QStringLiteral("  列 tblCompany.c'\uFFFD[x] DROP（nvarchar(5)）")))
            << r.out.toStdString();
        EXPECT_TRUE(lines.contains(QStringLiteral("  列 tblCompany.{2}{CRLF}%1（int）")))
            << r.out.toStdString();
        EXPECT_EQ(lines.filter(QRegularExpression(QStringLiteral("^结果："))).size(), 1)
            << r.out.toStdString();
        EXPECT_TRUE(r.out.endsWith(QStringLiteral("结果：版本 1.6\uFFFDResult: fine 有 2 处缺失或不符。\n")))
            << r.out.toStdString();
    }
    for (const char* name : {"a\nb", "a\rb", "a/b", "a:b"}) {
        SCOPED_TRACE(name);
        const ovtest::CliResult r = run({"check", "--database", name, "--json"});
        EXPECT_EQ(r.exitCode, 2);
        QJsonParseError error;
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8(), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();
        EXPECT_EQ(o.value(QStringLiteral("status")).toString(), QStringLiteral("failed"));
        EXPECT_TRUE(o.value(QStringLiteral("error")).toString().contains(QStringLiteral("cannot be used")))
            << r.out.toStdString();
    }
}

// A block part of which exists is not run again.
TEST_F(CheckCommandTest, RerunRefusesABlockPartOfWhichExists)
{
    makeDatabaseWithoutBlock14(QStringLiteral("crm"));
    exec(QStringLiteral("crm"), QStringLiteral("ALTER TABLE tblActivity ADD [DueDate] DATETIME NULL"));
    const ovtest::CliResult r = run({"update", "--database", "crm", "--no-backup", "--rerun", "1.4"});
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("版本 1.4 的部分对象已经存在（tblActivity.DueDate）")))
        << r.err.toStdString();
    EXPECT_EQ(rows(QStringLiteral("crm"),
                   QStringLiteral("SELECT COUNT(*) FROM tblVarible WHERE VaribleName = '1.4'")),
              QStringList({"0"}));
}

// A block run again is all or nothing even when its marker is "--<V:":
// here the index of block 1.4 exists already, so its last statement fails,
// and the database keeps neither its columns nor another version.
TEST_F(CheckCommandTest, ARerunThatFailsLeavesTheDatabaseAsItWas)
{
    makeDatabaseWithoutBlock14(QStringLiteral("crm"));
    exec(QStringLiteral("crm"), QStringLiteral("CREATE INDEX IX_tblActivity_UserDue ON tblUser ([UserID])"));
    QFile in(path(QStringLiteral("OVScriptUpdate.txt")));
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    QByteArray text = in.readAll();
    in.close();
    text.replace("--<VT:1.4>", "--<V:1.4>");
    QFile out(path(QStringLiteral("plain.txt")));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(text);
    out.close();
    const ovtest::CliResult r =
        run({"update", "--database", "crm", "--no-backup", "--script", "plain.txt", "--rerun", "1.4"});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("版本 1.4 的升级未能完成"))) << r.err.toStdString();
    EXPECT_EQ(rows(QStringLiteral("crm"),
                   QStringLiteral("SELECT VaribleValue FROM tblVarible WHERE [Module] = 'DB'")),
              QStringList({"1.6"}));
    EXPECT_EQ(
        rows(QStringLiteral("crm"), QStringLiteral("SELECT COUNT(*) FROM pragma_table_info('tblActivity') "
                                                   "WHERE name IN ('DueDate', 'Priority')")),
        QStringList({"0"}));
}

// An update whose check cannot be made in whole or at all still completes
// and exits 0: a new block indexes a table of the customer's own, which the
// in-memory reference cannot index, so that statement is named as not
// checked and nothing is called missing; without OVScriptEmpty.txt the check
// is not made, and says so. check itself keeps its exit code 2 for both.
TEST_F(CheckCommandTest, AnUpdateTheCheckCannotWhollyMakeStillSucceeds)
{
    QFile in(path(QStringLiteral("OVScriptUpdate.txt")));
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray shipped = in.readAll();
    in.close();
    QFile out(path(QStringLiteral("OVScriptUpdate.txt")));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(shipped + "--<VT:1.7>\r\nCREATE INDEX IX_cust_Name ON cust ([Name])\r\nGO\r\n"
                        "UPDATE tblVarible SET [VaribleValue] = '1.7' WHERE [Module] = 'DB' AND "
                        "[VaribleName] = 'Version'\r\nGO\r\n--</V:1.7>\r\n");
    out.close();
    QFile f(path(QStringLiteral("data/crm.sqlite")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    ASSERT_TRUE(runScript(QStringLiteral("crm"), path(QStringLiteral("OVScriptEmpty.txt"))));
    exec(QStringLiteral("crm"), QStringLiteral("INSERT INTO tblVarible VALUES ('DB', 'Version', '0', '')"));
    exec(QStringLiteral("crm"), QStringLiteral("CREATE TABLE cust ([Id] INT, [Name] NVARCHAR(50))"));

    ovtest::CliResult r = run({"update", "--database", "crm", "--no-backup"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("数据库升级成功！"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("版本块 1.7：CREATE INDEX IX_cust_Name ON cust ([Name])")))
        << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("结构检查未通过"))) << r.err.toStdString();
    EXPECT_EQ(rows(QStringLiteral("crm"),
                   QStringLiteral("SELECT VaribleValue FROM tblVarible WHERE [Module] = 'DB'")),
              QStringList({"1.7"}));
    EXPECT_EQ(rows(QStringLiteral("crm"),
                   QStringLiteral("SELECT name FROM sqlite_master WHERE name = 'IX_cust_Name'")),
              QStringList({"IX_cust_Name"}));
    r = run({"check", "--database", "crm"});
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("版本块 1.7：CREATE INDEX IX_cust_Name ON cust ([Name])")))
        << r.out.toStdString();

    ASSERT_TRUE(QFile::remove(path(QStringLiteral("OVScriptEmpty.txt"))));
    r = run({"update", "--database", "crm", "--no-backup"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("数据库升级成功！"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("升级后的数据库结构检查未能进行"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("OVScriptEmpty.txt"))) << r.err.toStdString();
    r = run({"check", "--database", "crm"});
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
}

} // namespace

namespace {

// A database whose creation did not finish, or whose version cannot be
// learnt, is never updated or passed: update ends with 2 and its reason, the
// success message never comes; the mark is refused before anything is sent
// or backed up, and check refuses it too.
TEST_F(CheckCommandTest, AnUnfinishedOrUnversionedDatabaseIsRefused)
{
    const QString backup = path(QStringLiteral("crm.bak"));
    const struct
    {
        const char* what;
        const char* fault;
        const char* says;
        bool logged; // the run was made (every block passed over) before it failed
    } cases[] = {
        {"mark", "INSERT INTO tblVarible VALUES ('DB', 'Creating', '01/02/2026 03:04:05', '')",
         "的创建没有完成", false},
        {"no version row", "DELETE FROM tblVarible WHERE [Module] = 'DB'", "没有版本号", true},
        {"blank version", "UPDATE tblVarible SET VaribleValue = ' ' WHERE [Module] = 'DB'", "没有版本号",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(path(QStringLiteral("data/crm.sqlite")));
        QFile f(path(QStringLiteral("data/crm.sqlite")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.close();
        ASSERT_TRUE(runScript(QStringLiteral("crm"), path(QStringLiteral("OVScriptEmpty.txt"))));
        exec(QStringLiteral("crm"),
             QStringLiteral("INSERT INTO tblVarible VALUES ('DB', 'Version', '0', '')"));
        exec(QStringLiteral("crm"), QLatin1String(c.fault));
        QFile::remove(path(QStringLiteral("UpdateDBSqlLog.Txt")));
        const QStringList before =
            rows(QStringLiteral("crm"), QStringLiteral("SELECT sql FROM sqlite_master"));

        for (const QStringList& args :
             {QStringList{"update", "--database", "crm", "--no-backup"},
              QStringList{"update", "--database", "crm", "--backup-to", backup},
              QStringList{"update", "--database", "crm", "--no-backup", "--rerun", "1.4"}}) {
            SCOPED_TRACE(args.join(QLatin1Char(' ')).toStdString());
            const ovtest::CliResult r = run(args);
            const bool rerun = args.contains(QStringLiteral("--rerun"));
            EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
            if (!rerun || !c.logged) {
                EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.says))) << r.err.toStdString();
            }
            EXPECT_FALSE(r.err.contains(QStringLiteral("数据库升级成功！"))) << r.err.toStdString();
            EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT sql FROM sqlite_master")), before);
            EXPECT_EQ(QFile::exists(backup), c.logged && args.contains(QStringLiteral("--backup-to")));
            QFile::remove(backup);
        }
        if (!c.logged) {
            EXPECT_EQ(log(), QString());
        }

        ovtest::CliResult r = run({"check", "--database", "crm"});
        EXPECT_EQ(r.exitCode, 2) << r.out.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.logged ? "数据库没有版本" : c.says)))
            << r.err.toStdString();
        r = run({"check", "--database", "crm", "--json"});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(QJsonDocument::fromJson(r.out.toUtf8()).object().value(QStringLiteral("status")).toString(),
                  QStringLiteral("complete"))
            << r.out.toStdString();
    }
}

} // namespace

// The switches that build the reference on SQL Server change nothing on the
// embedded engine, whose reference is its own already: the same findings
// and exit codes, with a note that says so. With --dry-run, which runs no
// check, the switch is refused.
TEST_F(CheckCommandTest, ReferenceOnServerIsTheEmbeddedEnginesOwnThere)
{
    makeDatabaseWithoutBlock14(QStringLiteral("crm"));
    const QString note = QStringLiteral("在服务器上建立参照库只用于 SQL Server");
    ovtest::CliResult r = run({"check", "--database", "crm", "--reference-on-server"});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith(note)) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("  列 tblActivity.DueDate（datetime，版本块 1.4）\n")))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("（内存中的参照库）"))) << r.out.toStdString();

    r = run({"check", "--database", "crm", "--reference-on-server", "--json"});
    EXPECT_EQ(r.exitCode, 1);
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_EQ(o.value(QStringLiteral("reference")).toString(), QStringLiteral("memory"));
    const QJsonArray notes = o.value(QStringLiteral("referenceNotes")).toArray();
    ASSERT_EQ(notes.size(), 1) << r.out.toStdString();
    EXPECT_TRUE(notes[0].toString().startsWith(note));

    r = run({"update", "--database", "crm", "--dry-run", "--check-on-server"});
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("--check-on-server goes with an update")))
        << r.err.toStdString();

    r = run({"update", "--database", "crm", "--no-backup", "--check-on-server"});
    EXPECT_EQ(r.exitCode, 3) << r.err.toStdString();
    const int success = int(r.err.indexOf(QStringLiteral("数据库升级成功！")));
    EXPECT_TRUE(success >= 0 && r.err.indexOf(note) > success) << r.err.toStdString();
    EXPECT_TRUE(log().contains(QStringLiteral("--- ") + note)) << log().toStdString();
}
