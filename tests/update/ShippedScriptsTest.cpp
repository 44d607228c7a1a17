#include "update/UpdateFixture.h"
#include "update/UpdateScript.h"
#include "update/VersionTable.h"

#include "data/ConnectionString.h"
#include "data/odbc/MssqlAdmin.h"

using namespace mdlOVSqlUpdateDB;

namespace {

// SQL Server's management side with a task lock granted at once: the SQLite
// driver that stands in for SQL Server's knows no application locks.
class GrantingMssqlAdmin : public ov::MssqlAdmin
{
public:
    using ov::MssqlAdmin::MssqlAdmin;

protected:
    std::unique_ptr<ov::DatabaseLock> takeLock(const QString&) override
    {
        struct Granted : ov::DatabaseLock
        {};
        return std::make_unique<Granted>();
    }
};

const QString kEmptyScript = QStringLiteral(OV_SOURCE_DIR "/dist/OVScriptEmpty.txt");
const QString kUpdateScript = QStringLiteral(OV_SOURCE_DIR "/dist/OVScriptUpdate.txt");

// The shipped scripts as the create procedure runs them on a new database:
// the schema, the version row "0" of a bare database, then the update script.
class ShippedScriptsTest : public ovtest::UpdateFixture
{
protected:
    bool run(const QString& script, const QString& server, const QString& database = QStringLiteral("crm"))
    {
        return RunUpdateScript(server, database, true, QStringLiteral("sa"), QString(), script, m_status,
                               m_progress);
    }

    // The newest version block of the update script.
    static QString newestVersion()
    {
        QList<VersionBlockPlan> plan;
        EXPECT_TRUE(PlanUpdateScript(kUpdateScript, nullptr, plan));
        QString newest = QStringLiteral("0");
        for (const VersionBlockPlan& block : plan) {
            if (CompareVersions(block.name, newest) > 0)
                newest = block.name;
        }
        return newest;
    }

    // A copy of a script that logs every failing batch.
    QString withErrorsShown(const QString& script)
    {
        ScriptFile in;
        EXPECT_TRUE(in.open(script));
        QStringList lines{QStringLiteral("--<SHOW ERR>")};
        while (!in.atEnd()) {
            const QString line = in.readLine();
            if (ClassifyScriptLine(line) != ScriptLineKind::HideErrors)
                lines.append(line);
        }
        return writeScript(lines, QFileInfo(script).fileName());
    }

    static QString versionInsert()
    {
        return QStringLiteral("INSERT INTO tblVarible (VaribleValue, UserID, VaribleName, Module)"
                              "    values('0', '', 'Version', 'DB')");
    }
};

TEST_F(ShippedScriptsTest, EveryBatchOfBothScriptsRunsCleanly)
{
    ASSERT_TRUE(run(withErrorsShown(kEmptyScript), m_server));
    exec(versionInsert());
    ASSERT_TRUE(run(withErrorsShown(kUpdateScript), m_server));
    // A failed batch is logged below a line of 61 hyphens.
    const QString failedBatch =
        QStringLiteral("\r\n") + QString(61, QLatin1Char('-')) + QStringLiteral("\r\n");
    EXPECT_FALSE(logText().contains(failedBatch)) << logText().toStdString();
    EXPECT_TRUE(m_ui.messages().isEmpty());
}

TEST_F(ShippedScriptsTest, ANewDatabaseEndsAtTheNewestVersionAndASecondRunPassesEverythingOver)
{
    ASSERT_TRUE(run(kEmptyScript, m_server));
    exec(versionInsert());
    // A few rows, as a data set would bring them, for the blocks that move data.
    exec(QStringLiteral("INSERT INTO tblCompany (CompanyID, CompanyName) VALUES (1, 'Acme')"));
    exec(QStringLiteral("INSERT INTO tblContact (ContactID, CompanyID, ContactName, Phone, Mobile) "
                        "VALUES (1, 1, 'Li', '010-1', '139-1')"));
    exec(QStringLiteral("INSERT INTO tblContact (ContactID, CompanyID, ContactName, Phone, Mobile) "
                        "VALUES (2, 1, 'Wang', '', '139-2')"));
    exec(QStringLiteral("INSERT INTO tblActivity (ActivityID, ContactID, ActivityDate, IsDone) "
                        "VALUES (1, 1, '2024-01-02 10:00:00', 0)"));

    ASSERT_TRUE(run(kUpdateScript, m_server));
    const QString newest = newestVersion();
    EXPECT_EQ(rows(QStringLiteral("SELECT VaribleValue FROM tblVarible WHERE [Module] = 'DB'")),
              QStringList{newest});
    QList<VersionBlockPlan> plan;
    auto cn = connect();
    ASSERT_TRUE(PlanUpdateScript(kUpdateScript, cn.get(), plan));
    ASSERT_GE(plan.size(), 5);
    QStringList names;
    for (const VersionBlockPlan& block : plan) {
        EXPECT_TRUE(block.passOver) << block.name.toStdString();
        names.append(block.name);
    }
    EXPECT_EQ(rows(QStringLiteral("SELECT VaribleName FROM tblVarible WHERE [Module] = 'UpdateDB' "
                                  "ORDER BY VaribleName")),
              names);
    EXPECT_EQ(rows(QStringLiteral("SELECT PhoneID, ContactID, PhoneType, PhoneNumber, IsDefault "
                                  "FROM tblContactPhone ORDER BY PhoneID")),
              (QStringList{QStringLiteral("1|1|Office|010-1|1"), QStringLiteral("2|1|Mobile|139-1|0"),
                           QStringLiteral("4|2|Mobile|139-2|1")}));
    EXPECT_EQ(rows(QStringLiteral("SELECT CustomerLevel FROM tblCompany")), QStringList{QStringLiteral("3")});
    EXPECT_EQ(rows(QStringLiteral("SELECT Priority, DueDate FROM tblActivity")),
              QStringList{QStringLiteral("2|2024-01-02T10:00:00.000")});
    EXPECT_TRUE(m_status.history().contains(QStringLiteral("数据库升级完成。")));
    EXPECT_TRUE(m_ui.messages().isEmpty());

    // The second run passes every block over and changes nothing.
    QFile::remove(UpdateLogPath());
    ASSERT_TRUE(run(kUpdateScript, m_server));
    const QString log = logText();
    EXPECT_EQ(log.count(QStringLiteral("Is been executed before , pass it")), plan.size())
        << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("Start"))) << log.toStdString();
    EXPECT_EQ(rows(QStringLiteral("SELECT COUNT(*) FROM tblContactPhone")), QStringList{QStringLiteral("3")});
}

TEST_F(ShippedScriptsTest, TheScriptsRunThroughTheOdbcLayerToo)
{
    // The SQLite 3 ODBC driver stands in for SQL Server's: the run goes through
    // the translated connection string, ODBC batches and ODBC transactions.
    const QString savedDriver = ov::connstr::sqlServerDriver();
    ov::connstr::setSqlServerDriver(QStringLiteral("SQLite3"));
    const QString file = m_dir.filePath(QStringLiteral("data/viaodbc.sqlite"));
    makeDatabase(QStringLiteral("viaodbc"));
    // The runs share the task lock this test holds, as they would share the
    // create procedure's.
    GrantingMssqlAdmin admin(QStringLiteral("odbc-host"), true, QString(), QString());
    const auto lock = admin.lockDatabase(file);
    ASSERT_TRUE(lock);
    const bool empty = run(kEmptyScript, QStringLiteral("odbc-host"), file);
    const bool updated = empty && [&] {
        auto cn = connect(QStringLiteral("viaodbc"));
        return cn->Execute(versionInsert());
    }() && run(kUpdateScript, QStringLiteral("odbc-host"), file);
    ov::connstr::setSqlServerDriver(savedDriver);
    ASSERT_TRUE(updated) << m_ui.texts().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(m_ui.messages().isEmpty()) << m_ui.texts().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(logText().contains(QStringLiteral("Server:odbc-host, DB:") + file));

    auto cn = connect(QStringLiteral("viaodbc"));
    ov::Recordset rs;
    ASSERT_TRUE(rs.Open(QStringLiteral("SELECT VaribleValue FROM tblVarible WHERE [Module] = 'DB'"), *cn));
    ASSERT_FALSE(rs.Eof());
    EXPECT_EQ(rs.Fields(0).Value().toString(), newestVersion());
}

} // namespace
