// ovsqlcli backup, backup-info and restore on the embedded engine: a round
// trip through a backup file, and the refusals on the way.

#include "BackupTestSupport.h"
#include "support/CliProgram.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

namespace {

class BackupCli : public ovtest::BackupFixture
{
protected:
    using Result = ovtest::CliResult;

    void SetUp() override
    {
        ovtest::BackupFixture::SetUp();
        ASSERT_TRUE(ovtest::InstallCli(m_dir.path()));
    }

    // Runs ovsqlcli of the temporary program folder on its server "sqlite:data",
    // with standard input that is no terminal.
    static QByteArray ReadBytes(const QString& file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    Result Run(const QString& command, QStringList args) const
    {
        args.prepend(QStringLiteral("sqlite:data"));
        args.prepend(QStringLiteral("--server"));
        args.prepend(command);
        return ovtest::RunCli(m_dir.path(), args);
    }
};

TEST_F(BackupCli, RoundTripRestoresExactlyTheBackedUpRows)
{
    MakeDatabase(QStringLiteral("crm"));
    const QString file = path(QStringLiteral("bak/crm.dat"));

    Result r = Run(QStringLiteral("backup"), {"--database", "crm", "--to", file});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, file + QLatin1Char('\n'));
    EXPECT_TRUE(r.err.contains(QStringLiteral("备份数据库成功！")));

    r = Run(QStringLiteral("backup-info"), {"--file", file});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString dataFile =
        QDir(path(QStringLiteral("data"))).absoluteFilePath(QStringLiteral("crm.sqlite"));
    // The date is the time the backup process wrote it.
    const QStringList lines = r.out.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^原备份日期：\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                    .match(lines[0])
                    .hasMatch())
        << lines[0].toStdString();
    EXPECT_EQ(lines[1], QStringLiteral("crm\t") + dataFile + QStringLiteral("\tD"));

    Exec(QStringLiteral("crm"),
         QStringLiteral("UPDATE t SET name = 'changed' WHERE id = 2; DELETE FROM t WHERE id = 1; "
                        "INSERT INTO t VALUES (3, 'three')"));
    const QStringList changed = {"2:changed", "3:three"};
    ASSERT_EQ(Rows(QStringLiteral("crm")), changed);

    // No terminal and no --yes: the question is refused and nothing changes.
    r = Run(QStringLiteral("restore"), {"--database", "crm", "--from", file, "--replace"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains(QStringLiteral("确定要使用 %1 来还原数据库 crm 吗？").arg(file)))
        << r.err.toStdString();
    // Without --replace the existing database stays.
    r = Run(QStringLiteral("restore"), {"--database", "crm", "--from", file, "--yes"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(
        QStringLiteral("恢复数据库失败！\n数据库 crm 已经存在：只有选中“在现有数据库上强制还原”")))
        << r.err.toStdString();
    // A logical name the backup does not hold.
    r = Run(QStringLiteral("restore"),
            {"--database", "crm", "--from", file, "--yes", "--replace", "--move", "nosuch=/tmp/x.sqlite"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains(QStringLiteral("nosuch"))) << r.err.toStdString();
    EXPECT_EQ(Rows(QStringLiteral("crm")), changed);

    r = Run(QStringLiteral("restore"),
            {"--database", "crm", "--from", file, "--yes", "--replace", "--move", "crm=" + dataFile});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("恢复数据库成功！")));
    EXPECT_EQ(Rows(QStringLiteral("crm")), QStringList({"1:one", "2:two"}));

    // Under another name without --move: the new database's own file.
    r = Run(QStringLiteral("restore"), {"--database", "crm2", "--from", file, "--yes"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(Rows(QStringLiteral("crm2")), QStringList({"1:one", "2:two"}));
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("data/crm2.sqlite"))));
}

TEST_F(BackupCli, FailuresEndNonZeroWithTheMessage)
{
    const struct
    {
        const char* command;
        QStringList args;
        int exitCode;
        const char* message;
    } cases[] = {
        {"backup", {"--database", "crm"}, 2, "--to PATH"},
        {"backup", {"--database", "nothing", "--to", "bak/x.dat"}, 1, "备份数据库失败！\n4060\n"},
        {"backup-info", {"--file", "bak/none.dat"}, 1, "无法打开备份文件"},
        {"restore",
         {"--database", "crm", "--from", "bak/none.dat", "--yes"},
         1,
         "恢复数据库失败，可能是访问服务器失败(比如密码不正确)，或者是备份文件不合法！"},
        {"restore", {"--database", "crm", "--from", "x", "--move", "crm"}, 2, "LOGICAL=PATH"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const Result r = Run(QLatin1String(c.command), c.args);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.message))) << r.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(ConfigPath()));
}

// An existing file is replaced only with --replace, and then by a complete
// backup; the file of a database of the server is never replaced.
TEST_F(BackupCli, BackupReplacesAFileOnlyWhenAsked)
{
    MakeDatabase(QStringLiteral("crm"));
    MakeDatabase(QStringLiteral("other"));
    const QString file = path(QStringLiteral("bak/crm.dat"));
    Result r = Run(QStringLiteral("backup"), {"--database", "crm", "--to", file});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    Exec(QStringLiteral("crm"), QStringLiteral("INSERT INTO t VALUES (3, 'three')"));
    const QByteArray first = ReadBytes(file);

    r = Run(QStringLiteral("backup"), {"--database", "crm", "--to", file});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("备份数据库失败！"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("已经存在"))) << r.err.toStdString();
    EXPECT_EQ(ReadBytes(file), first);

    r = Run(QStringLiteral("backup"), {"--database", "crm", "--to", file, "--replace"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("备份数据库成功！")));
    EXPECT_EQ(QDir(path(QStringLiteral("bak"))).entryList(QDir::Files | QDir::Hidden),
              QStringList({QStringLiteral("crm.dat")}));
    r = Run(QStringLiteral("restore"), {"--database", "copy", "--from", file, "--yes", "--move",
                                        "crm=" + path(QStringLiteral("data/copy.sqlite"))});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(Rows(QStringLiteral("copy")), QStringList({"1:one", "2:two", "3:three"}));

    const QString live = path(QStringLiteral("data/other.sqlite"));
    const QByteArray liveBytes = ReadBytes(live);
    r = Run(QStringLiteral("backup"), {"--database", "crm", "--to", live, "--replace"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("备份数据库失败！"))) << r.err.toStdString();
    EXPECT_EQ(ReadBytes(live), liveBytes);
    EXPECT_EQ(Rows(QStringLiteral("other")), QStringList({"1:one", "2:two"}));
}

// The command line has no folder to propose: a backup path without one is
// refused before anything is written, by backup and by update's backup,
// which is the same operation as the backup command's and so also refuses
// to replace a file.
TEST_F(BackupCli, BackupTargetsNeedAFullPathAndAreNeverReplacedByUpdate)
{
    MakeDatabase(QStringLiteral("crm"));
    const QString script = path(QStringLiteral("script.txt"));
    {
        QFile f(script);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("INSERT INTO t VALUES (9, 'nine')\r\nGO\r\n");
    }
    const QString bare = QStringLiteral("ovsqlcli-bare-%1.dat").arg(QCoreApplication::applicationPid());
    const QString existing = path(QStringLiteral("bak/existing.dat"));
    {
        QFile f(existing);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("an older file\r\n");
    }
    const struct
    {
        const char* command;
        QStringList args;
        int exitCode;
        const char* message;
    } cases[] = {
        {"backup", {"--database", "crm", "--to", bare}, 2, "full path"},
        {"update", {"--database", "crm", "--script", script, "--backup-to", bare}, 2, "full path"},
        {"update", {"--database", "crm", "--script", script, "--backup-to", existing}, 1, "已经存在"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const Result r = Run(QLatin1String(c.command), c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.message))) << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(path(bare)));
        EXPECT_FALSE(QFile::exists(QStringLiteral("/") + bare));
        QFile::remove(QStringLiteral("/") + bare);
    }
    EXPECT_EQ(ReadBytes(existing), QByteArray("an older file\r\n"));
    EXPECT_EQ(Rows(QStringLiteral("crm")), QStringList({"1:one", "2:two"}));
}

} // namespace
