// ovsqlcli create against the embedded engine: the three modes, an existing
// database kept without --replace and replaced with it, usage errors.

#include "create/CreateTestSupport.h"
#include "data/Connection.h"
#include "data/Recordset.h"
#include "support/CliProgram.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// The built ovsqlcli in a temporary program folder beside the shipped
// scripts and data sets, with an embedded server "sqlite:data" there.
class CreateCommandTest : public ::testing::Test
{
protected:
    using Result = ovtest::CliResult;

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(ovtest::InstallCli(m_dir.path()));
        ASSERT_TRUE(ovtest::CopyDist(m_dir.path()));
        ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("data")));
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    Result create(const QStringList& options) const
    {
        return ovtest::RunCli(
            m_dir.path(), QStringList({"create", "--server", "sqlite:data", "--database", "crm"}) + options);
    }

    QStringList query(const QString& sql) const
    {
        ov::Connection cn;
        ov::Recordset rs;
        if (!cn.Open(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=crm")
                         .arg(path(QStringLiteral("data")))) ||
            !rs.Open(sql, cn))
            return {QStringLiteral("(fails)")};
        QStringList out;
        for (; !rs.Eof(); rs.MoveNext())
            out << rs.Fields(0).Value().toString();
        return out;
    }

    QTemporaryDir m_dir;
};

TEST_F(CreateCommandTest, ModesMakeTheDatabaseAtTheNewestVersion)
{
    const struct
    {
        const char* mode;
        int users;
        int companies;
    } cases[] = {{"--bare", 0, 0}, {"--blank", 1, 0}, {"--demo", 9, 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const Result r = create({QLatin1String(c.mode), "--replace", "--yes"});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("创建数据库成功！"))) << r.err.toStdString();
        EXPECT_EQ(query(QStringLiteral("SELECT VaribleValue FROM tblVarible WHERE [Module] = 'DB'")),
                  QStringList({ovtest::ShippedVersions().last()}));
        EXPECT_EQ(query(QStringLiteral("SELECT COUNT(*) FROM tblUser")),
                  QStringList({QString::number(c.users)}));
        EXPECT_GE(query(QStringLiteral("SELECT COUNT(*) FROM tblCompany")).value(0).toInt(), c.companies);
    }
    // The configuration file is left alone.
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("OrvaneSqlConfig.ini"))));
}

// A data set row whose value SQL Server would refuse (a key beyond INT) is
// refused here too: the creation fails naming the table's .err file, which
// holds the row, and the other rows are loaded.
TEST_F(CreateCommandTest, ARowTheTableCannotHoldFailsTheCreation)
{
    const QByteArray row = "99999999999999999999999\tbad\t\t\t\t\t\t\t2026-01-05 09:00:00\r\n";
    QFile users(path(QStringLiteral("DBDataFiles/Blank/tblUser.dat")));
    ASSERT_TRUE(users.open(QIODevice::Append));
    users.write(row);
    users.close();
    const Result r = create({"--blank"});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("tblUser：见"))) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("创建数据库成功！"))) << r.err.toStdString();
    QFile err(path(QStringLiteral("DBDataFiles/Blank/tblUser.err")));
    ASSERT_TRUE(err.open(QIODevice::ReadOnly));
    EXPECT_TRUE(err.readAll().contains("@#\r\n" + row));
}

// An existing database is kept unless --replace is given and the question is
// answered yes; kept, the command fails with the question's text.
TEST_F(CreateCommandTest, ExistingDatabaseIsReplacedOnlyWhenAsked)
{
    ASSERT_EQ(create({"--blank"}).exitCode, 0);
    {
        ov::Connection cn;
        ASSERT_TRUE(cn.Open(
            QStringLiteral("Data Source=sqlite:%1;Initial Catalog=crm").arg(path(QStringLiteral("data")))));
        ASSERT_TRUE(cn.Execute(QStringLiteral("CREATE TABLE kept (id INT)")));
    }
    const QString question = QStringLiteral("数据库 [crm] 已经存在,是否要将它覆盖？");
    const struct
    {
        QStringList options;
        bool replaced;
    } cases[] = {
        {{"--demo"}, false},
        {{"--demo", "--yes"}, false},
        {{"--demo", "--replace"}, false}, // asked, but standard input is no terminal
        {{"--demo", "--replace", "--yes"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options.join(QLatin1Char(' ')).toStdString());
        const Result r = create(c.options);
        EXPECT_EQ(r.exitCode == 0, c.replaced) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(question)) << r.err.toStdString();
        EXPECT_EQ(query(QStringLiteral("SELECT COUNT(*) FROM kept")),
                  c.replaced ? QStringList({"(fails)"}) : QStringList({"0"}));
    }
    EXPECT_GE(query(QStringLiteral("SELECT COUNT(*) FROM tblContact")).value(0).toInt(), 300);
}

// The configuration names the product's current database; a create without
// --database never takes it as the name of the database to make, even when
// told to replace.
TEST_F(CreateCommandTest, TheNewDatabaseIsNamedOnTheCommandLineOnly)
{
    QFile ini(path(QStringLiteral("OrvaneSqlConfig.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[MAIN]\r\nDBServer=sqlite:data\r\nDBName=crm\r\nDBIsTrustMode=1\r\n");
    ini.close();
    ASSERT_EQ(create({"--blank"}).exitCode, 0);
    {
        ov::Connection cn;
        ASSERT_TRUE(cn.Open(
            QStringLiteral("Data Source=sqlite:%1;Initial Catalog=crm").arg(path(QStringLiteral("data")))));
        ASSERT_TRUE(cn.Execute(QStringLiteral("CREATE TABLE kept (id INT)")));
    }
    for (const QStringList& args :
         {QStringList({"create", "--blank", "--replace", "--yes"}),
          QStringList({"create", "--database", "  ", "--demo", "--replace", "--yes"})}) {
        SCOPED_TRACE(args.join(QLatin1Char(' ')).toStdString());
        const Result r = ovtest::RunCli(m_dir.path(), args);
        EXPECT_NE(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("请指定将创建的数据库数据库名称！")))
            << r.err.toStdString();
        EXPECT_EQ(query(QStringLiteral("SELECT COUNT(*) FROM kept")), QStringList({"0"}));
    }
}

TEST_F(CreateCommandTest, ExactlyOneModeIsNeeded)
{
    for (const QStringList& options :
         {QStringList(), QStringList({"--blank", "--demo"}), QStringList({"--x"})}) {
        const Result r = create(options);
        EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("usage: ovsqlcli create"))) << r.err.toStdString();
    }
    EXPECT_TRUE(QDir(path(QStringLiteral("data"))).isEmpty());
}

} // namespace
