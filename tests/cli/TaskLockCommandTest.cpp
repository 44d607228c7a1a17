// One task at a time per database, between real ovsqlcli processes: an
// update, a creation over the database or a restore of it is refused at once
// while another task holds it, and changes nothing; a restore is refused
// while a connection has the database open; two creations of one new name
// leave one complete database.

#include "create/CreateTestSupport.h"
#include "data/Connection.h"
#include "data/Recordset.h"
#include "data/ServerAdmin.h"
#include "support/CliProgram.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class TaskLockCommandTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(ovtest::InstallCli(m_dir.path()));
        ASSERT_TRUE(ovtest::CopyDist(m_dir.path()));
        ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("data")));
        m_admin = ov::ServerAdmin::create(server(), true, QString(), QString());
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString server() const { return QStringLiteral("sqlite:") + path(QStringLiteral("data")); }

    ovtest::CliResult run(const QStringList& args) const
    {
        return ovtest::RunCli(m_dir.path(),
                              QStringList({args.first(), "--server", "sqlite:data"}) + args.mid(1));
    }

    std::unique_ptr<ov::Connection> connect(const QString& database) const
    {
        auto cn = std::make_unique<ov::Connection>();
        EXPECT_TRUE(cn->Open(QStringLiteral("Data Source=%1;Initial Catalog=%2").arg(server(), database)));
        return cn;
    }

    QStringList query(const QString& database, const QString& sql) const
    {
        const auto cn = connect(database);
        ov::Recordset rs;
        if (!rs.Open(sql, *cn))
            return {QStringLiteral("(fails)")};
        QStringList out;
        for (; !rs.Eof(); rs.MoveNext())
            out << rs.Fields(0).Value().toString();
        return out;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<ov::ServerAdmin> m_admin;
};

TEST_F(TaskLockCommandTest, ATaskOnADatabaseAnotherTaskHoldsIsRefusedAndChangesNothing)
{
    ASSERT_TRUE(m_admin->createDatabase(QStringLiteral("crm")));
    ASSERT_TRUE(connect(QStringLiteral("crm"))->Execute(QStringLiteral("CREATE TABLE kept (id INT)")));
    // A database without a version is refused by every update; this one has
    // the version row that the product's databases carry.
    ASSERT_TRUE(
        connect(QStringLiteral("crm"))
            ->Execute(QStringLiteral("CREATE TABLE tblVarible (Module NVARCHAR(50), VaribleName "
                                     "NVARCHAR(50), VaribleValue NVARCHAR(255), UserID NVARCHAR(50))")));
    ASSERT_TRUE(connect(QStringLiteral("crm"))
                    ->Execute(QStringLiteral("INSERT INTO tblVarible VALUES ('DB', 'Version', '0', '')")));
    ASSERT_TRUE(m_admin->backupDatabase(QStringLiteral("crm"), path(QStringLiteral("crm.bak"))));
    ASSERT_TRUE(connect(QStringLiteral("crm"))->Execute(QStringLiteral("INSERT INTO kept VALUES (1)")));
    QFile script(path(QStringLiteral("step.txt")));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("CREATE TABLE added (id INT)\r\nGO\r\n");
    script.close();
    const QStringList update = {"update", "--database", "crm", "--no-backup", "--script", "step.txt"};
    const QString tables = QStringLiteral(
        "SELECT name FROM sqlite_master WHERE type = 'table' AND name <> 'tblVarible' ORDER BY name");

    std::shared_ptr<ov::DatabaseLock> held = m_admin->lockDatabase(QStringLiteral("CRM"));
    ASSERT_TRUE(held);
    const QStringList commands[] = {
        update,
        // Refused before its check decides on a database another task changes.
        {"update", "--database", "crm", "--no-backup", "--rerun", "1.4"},
        {"create", "--database", "crm", "--blank", "--replace", "--yes"},
        {"restore", "--database", "crm", "--from", path(QStringLiteral("crm.bak")), "--replace", "--yes"},
    };
    for (const QStringList& command : commands) {
        SCOPED_TRACE(command.first().toStdString());
        const ovtest::CliResult r = run(command);
        // An update that could not start says so with exit code 2.
        EXPECT_EQ(r.exitCode, command.first() == QLatin1String("update") ? 2 : 1);
        EXPECT_TRUE(r.err.contains(QStringLiteral(
            "数据库 [crm] 正在被另一个任务（升级、创建或还原数据库）使用，请等该任务完成后再试。")))
            << r.err.toStdString();
        EXPECT_FALSE(r.err.contains(QStringLiteral("成功"))) << r.err.toStdString();
        EXPECT_EQ(query(QStringLiteral("crm"), tables), QStringList({"kept"}));
        EXPECT_EQ(query(QStringLiteral("crm"), QStringLiteral("SELECT id FROM kept")), QStringList({"1"}));
    }

    // Once the task has ended, the same update runs to its end. The check
    // after it finds the product's tables missing from this bare database,
    // which exit code 3 says beside the success.
    held.reset();
    const ovtest::CliResult r = run(update);
    EXPECT_EQ(r.exitCode, 3) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("数据库升级成功！"))) << r.err.toStdString();
    EXPECT_EQ(query(QStringLiteral("crm"), tables), QStringList({"added", "kept"}));
}

// A restore does not slip in while another program has the database open:
// SQL Server's refusal, and the database as it was.
TEST_F(TaskLockCommandTest, RestoreIsRefusedWhileAConnectionHasTheDatabaseOpen)
{
    ASSERT_TRUE(m_admin->createDatabase(QStringLiteral("crm")));
    ASSERT_TRUE(connect(QStringLiteral("crm"))->Execute(QStringLiteral("CREATE TABLE kept (id INT)")));
    ASSERT_TRUE(m_admin->backupDatabase(QStringLiteral("crm"), path(QStringLiteral("crm.bak"))));
    const auto user = connect(QStringLiteral("crm"));
    ASSERT_TRUE(user->Execute(QStringLiteral("INSERT INTO kept VALUES (1)")));
    const QStringList restore = {"restore",   "--database", "crm", "--from", path(QStringLiteral("crm.bak")),
                                 "--replace", "--yes"};
    ovtest::CliResult r = run(restore);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("恢复数据库失败！")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("数据库正在被使用，无法独占访问。"))) << r.err.toStdString();
    EXPECT_EQ(query(QStringLiteral("crm"), QStringLiteral("SELECT id FROM kept")), QStringList({"1"}));

    user->Close();
    r = run(restore);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(query(QStringLiteral("crm"), QStringLiteral("SELECT id FROM kept")), QStringList());
}

// Two creations of one new name at the same moment: one makes the database,
// the other is refused (by the task lock, or by the database it then finds),
// and the database is complete.
TEST_F(TaskLockCommandTest, TwoCreationsOfOneNewNameLeaveOneCompleteDatabase)
{
    for (const char* name : {"fresh1", "fresh2"}) {
        SCOPED_TRACE(name);
        const QStringList args = {"create", "--server", "sqlite:data", "--database", QLatin1String(name),
                                  "--bare", "--yes"};
        QProcess first;
        QProcess second;
        for (QProcess* p : {&first, &second}) {
            p->setWorkingDirectory(m_dir.path());
            p->start(path(QStringLiteral("ovsqlcli")), args);
            p->closeWriteChannel();
        }
        for (QProcess* p : {&first, &second})
            ASSERT_TRUE(p->waitForFinished(120000));
        const int succeeded = int(first.exitCode() == 0) + int(second.exitCode() == 0);
        EXPECT_EQ(succeeded, 1) << first.readAllStandardError().toStdString() << "\n---\n"
                                << second.readAllStandardError().toStdString();
        EXPECT_EQ(query(QLatin1String(name),
                        QStringLiteral("SELECT VaribleValue FROM tblVarible WHERE [Module] = 'DB'")),
                  QStringList({ovtest::ShippedVersions().last()}));
    }
}

} // namespace
