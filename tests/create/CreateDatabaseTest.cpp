// The create procedure on the embedded engine with the shipped scripts and
// data sets: the three modes, the overwrite question, failures of its steps.

#include "create/CreateDatabase.h"
#include "CreateTestSupport.h"

#include <QRegularExpression>

namespace {

class CreateDatabase : public ovtest::CreateFixture
{
protected:
    bool create(const QString& database, int mode)
    {
        return mdlOVSqlUpdateDB::CreateDatabase(m_server, database, true, QString(), QString(), mode,
                                                m_status, m_progress);
    }
    // The hidden files of the server folder but the task locks.
    QStringList sideFiles() const
    {
        QStringList out;
        for (const QString& f : QDir(path(QStringLiteral("data"))).entryList(QDir::Files | QDir::Hidden)) {
            if (f.startsWith(QLatin1Char('.')) && !f.endsWith(QStringLiteral("-task")))
                out << f;
        }
        return out;
    }
    int count(const QString& database, const QString& table) const
    {
        return rows(database, QStringLiteral("SELECT COUNT(*) FROM ") + table).value(0).toInt();
    }
};

// Every mode ends at the newest version with every block of the update script
// run over it: the data sets, like the bare schema, start at version "0".
TEST_F(CreateDatabase, EachModeEndsAtTheNewestVersion)
{
    const QStringList blocks = shippedVersions();
    ASSERT_FALSE(blocks.isEmpty());
    const struct
    {
        int mode;
        const char* database;
        int users;
    } cases[] = {{0, "bare", 0}, {1, "blank", 1}, {2, "demo", 9}, {7, "other", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        m_ui.clear();
        const QString db = QLatin1String(c.database);
        EXPECT_TRUE(create(db, c.mode));
        EXPECT_EQ(m_ui.texts(), QStringList({"创建数据库成功！"}));
        EXPECT_EQ(m_ui.messages()[0].style, ov::MsgStyle::Information);
        EXPECT_EQ(version(db), blocks.last());
        EXPECT_EQ(appliedVersions(db), blocks);
        EXPECT_EQ(count(db, QStringLiteral("tblUser")), c.users);
        EXPECT_FALSE(m_ui.busy());
    }
}

// Mode 0 writes the version row "0" with an empty user; with nothing to update
// it stays the only row.
TEST_F(CreateDatabase, BareModeWritesVersionZero)
{
    writeLines(QStringLiteral("OVScriptUpdate.txt"), {});
    EXPECT_TRUE(create(QStringLiteral("bare"), mdlOVSqlUpdateDB::CreateBare));
    EXPECT_EQ(
        rows(QStringLiteral("bare"), QStringLiteral("SELECT [Module], VaribleName, VaribleValue, UserID "
                                                    "FROM tblVarible")),
        QStringList({"DB|Version|0|"}));
}

// The blank set holds the administrator and the lookup values; the demo set a
// sample company whose rows all load and point at each other.
TEST_F(CreateDatabase, DataSetsLoadWholeAndConsistent)
{
    ASSERT_TRUE(create(QStringLiteral("blank"), mdlOVSqlUpdateDB::CreateBlank));
    EXPECT_EQ(
        rows(QStringLiteral("blank"), QStringLiteral("SELECT LoginName, IsAdmin, IsDisabled FROM tblUser")),
        QStringList({"admin|1|0"}));
    EXPECT_GT(
        rows(QStringLiteral("blank"), QStringLiteral("SELECT * FROM tblVarible WHERE [Module] = 'Lookup'"))
            .size(),
        20);
    EXPECT_EQ(count(QStringLiteral("blank"), QStringLiteral("tblCompany")), 0);

    ASSERT_TRUE(create(QStringLiteral("demo"), mdlOVSqlUpdateDB::CreateDemo));
    const QString demo = QStringLiteral("demo");
    EXPECT_GE(count(demo, QStringLiteral("tblCompany")), 100);
    EXPECT_GE(count(demo, QStringLiteral("tblContact")), 300);
    EXPECT_GE(count(demo, QStringLiteral("tblActivity")), 300);
    // Every row of every data file loaded: no rejected rows.
    for (const QString& err : QDir(path(QStringLiteral("DBDataFiles/Demo"))).entryList({"*.err"}))
        EXPECT_EQ(readFile(QStringLiteral("DBDataFiles/Demo/") + err), QByteArray()) << err.toStdString();
    // The rows hold Chinese text, decoded from code page 936.
    EXPECT_TRUE(rows(demo, QStringLiteral("SELECT CompanyName FROM tblCompany"))
                    .join(QString())
                    .contains(QStringLiteral("有限公司")));
    // Foreign keys: contacts belong to companies, activities to a contact of
    // their company and to a user; owners are users.
    const QStringList orphans = {
        "SELECT ContactID FROM tblContact WHERE CompanyID NOT IN (SELECT CompanyID FROM tblCompany)",
        "SELECT a.ActivityID FROM tblActivity a LEFT JOIN tblContact c ON c.ContactID = a.ContactID "
        "WHERE c.ContactID IS NULL OR c.CompanyID <> a.CompanyID",
        "SELECT ActivityID FROM tblActivity WHERE UserID NOT IN (SELECT UserID FROM tblUser)",
        "SELECT CompanyID FROM tblCompany WHERE OwnerUserID NOT IN (SELECT UserID FROM tblUser)",
        "SELECT ContactID FROM tblContact WHERE OwnerUserID NOT IN (SELECT UserID FROM tblUser)",
    };
    for (const QString& sql : orphans)
        EXPECT_EQ(rows(demo, sql), QStringList()) << sql.toStdString();
    // The update script moved the contacts' numbers into their own table.
    EXPECT_GT(count(demo, QStringLiteral("tblContactPhone")), count(demo, QStringLiteral("tblContact")));
}

// The label shows the schema script, then the import, then the update script.
TEST_F(CreateDatabase, StatusFollowsTheSteps)
{
    ASSERT_TRUE(create(QStringLiteral("crm"), mdlOVSqlUpdateDB::CreateBlank));
    const QStringList h = m_status.history();
    const QStringList expected = {"数据库结构创建完成。", "向数据库 crm 中导入数据，请等待...",
                                  "正在导入 tblVarible",  "正在导入 tblUser",
                                  "完成数据导入",         "数据库升级完成。"};
    qsizetype at = -1;
    for (const QString& text : expected) {
        const qsizetype next = h.indexOf(text, at + 1);
        EXPECT_GT(next, at) << text.toStdString() << " in " << h.join(QStringLiteral(" / ")).toStdString();
        at = next;
    }
    EXPECT_EQ(m_progress.value(), 0);
}

// An existing database matches in any letter case; No leaves it as it was and
// says nothing more, Yes replaces it.
TEST_F(CreateDatabase, ExistingDatabaseIsReplacedOnlyOnYes)
{
    ASSERT_TRUE(QFile(path(QStringLiteral("data/CRM.sqlite"))).open(QIODevice::WriteOnly));
    exec(QStringLiteral("CRM"), QStringLiteral("CREATE TABLE kept (id INT)"));
    const QString question = QStringLiteral("数据库 [crm] 已经存在,是否要将它覆盖？");

    m_ui.answer(ov::MsgAnswer::No);
    EXPECT_FALSE(create(QStringLiteral("crm"), mdlOVSqlUpdateDB::CreateDemo));
    EXPECT_EQ(m_ui.texts(), QStringList({question}));
    EXPECT_EQ(m_ui.messages()[0].style, ov::MsgStyle::QuestionYesNo);
    EXPECT_EQ(rows(QStringLiteral("CRM"), QStringLiteral("SELECT COUNT(*) FROM kept")), QStringList({"0"}));
    EXPECT_TRUE(m_status.history().isEmpty());
    EXPECT_FALSE(m_ui.busy());

    m_ui.clear();
    m_ui.answer(ov::MsgAnswer::Yes);
    EXPECT_TRUE(create(QStringLiteral("crm"), mdlOVSqlUpdateDB::CreateBlank));
    EXPECT_EQ(m_ui.texts(), QStringList({question, "创建数据库成功！"}));
    EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT COUNT(*) FROM kept")),
              QStringList({"(fails)"}));
    EXPECT_EQ(version(QStringLiteral("crm")), shippedVersions().last());
}

TEST_F(CreateDatabase, NameIsTrimmed)
{
    EXPECT_TRUE(create(QStringLiteral("  crm  "), mdlOVSqlUpdateDB::CreateBlank));
    EXPECT_EQ(QDir(path(QStringLiteral("data"))).entryList(QDir::Files), QStringList({"crm.sqlite"}));
    EXPECT_EQ(version(QStringLiteral("crm")), shippedVersions().last());
}

// A failure of a server step: the number and the description under
// "创建数据库失败!", no icon, and nothing else runs.
TEST_F(CreateDatabase, ServerStepFailuresAreTold)
{
    writeFile(QStringLiteral("afile"), "");
    const struct
    {
        const char* server;
        const char* database;
    } cases[] = {
        {"afile", "crm"}, // the server's folder is a file
        {"data", "a/b"},  // a name the server refuses
        {"data", "  "},   // no name at all
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.database);
        m_ui.clear();
        EXPECT_FALSE(mdlOVSqlUpdateDB::CreateDatabase(
            QStringLiteral("sqlite:") + path(QLatin1String(c.server)), QLatin1String(c.database), true,
            QString(), QString(), mdlOVSqlUpdateDB::CreateBlank, m_status, m_progress));
        ASSERT_EQ(m_ui.messages().size(), 1);
        const QStringList lines = m_ui.messages()[0].text.split(QStringLiteral("\r\n"));
        ASSERT_EQ(lines.size(), 3) << m_ui.messages()[0].text.toStdString();
        EXPECT_EQ(lines[0], QStringLiteral("创建数据库失败!"));
        EXPECT_NE(lines[1].toInt(), 0);
        EXPECT_FALSE(lines[2].isEmpty());
        EXPECT_EQ(m_ui.messages()[0].style, ov::MsgStyle::Plain);
        EXPECT_FALSE(m_ui.busy());
    }
    EXPECT_TRUE(QDir(path(QStringLiteral("data"))).isEmpty());
    EXPECT_TRUE(m_status.history().isEmpty());
}

// A script or the import that fails tells its own message and ends the
// procedure; no database of that name is left, and nothing of the one it
// was building either.
TEST_F(CreateDatabase, AStepThatFailsEndsTheProcedure)
{
    const struct
    {
        const char* removed;
        int mode;
        const char* message;
    } cases[] = {
        {"OVScriptEmpty.txt", 1, "文件 %1 不存在！"},
        {"DBDataFiles/Blank/tables.txt", 1, "%1, "},
        {"OVScriptUpdate.txt", 0, "文件 %1 不存在！"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.removed);
        m_ui.clear();
        const QString removed = QDir::toNativeSeparators(path(QLatin1String(c.removed)));
        ASSERT_TRUE(QFile::rename(removed, removed + QStringLiteral(".away")));
        EXPECT_FALSE(create(QStringLiteral("crm"), c.mode));
        ASSERT_EQ(m_ui.messages().size(), 1);
        EXPECT_TRUE(m_ui.messages()[0].text.startsWith(QString::fromUtf8(c.message).arg(removed)))
            << m_ui.messages()[0].text.toStdString();
        EXPECT_FALSE(databaseExists(QStringLiteral("crm")));
        EXPECT_EQ(sideFiles(), QStringList());
        ASSERT_TRUE(QFile::rename(removed + QStringLiteral(".away"), removed));
    }
}

// A transactional block of the update script that rolls back fails the
// creation: the runner names the version, no success message comes, and the
// procedure answers false so that nothing records the creation as done.
TEST_F(CreateDatabase, ARolledBackVersionBlockFailsTheCreation)
{
    writeLines(QStringLiteral("OVScriptUpdate.txt"),
               {"--<VT:1.1>", "INSERT INTO no_such_table VALUES (1)", "GO", "--</V:1.1>", "--<V:1.2>",
                "UPDATE tblVarible SET VaribleValue = '1.2' WHERE [Module] = 'DB'", "GO", "--</V:1.2>"});
    EXPECT_FALSE(create(QStringLiteral("crm"), mdlOVSqlUpdateDB::CreateBare));
    ASSERT_EQ(m_ui.messages().size(), 1) << m_ui.texts().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(m_ui.texts()[0].startsWith(QStringLiteral("版本 1.1 的升级未能完成")))
        << m_ui.texts()[0].toStdString();
    EXPECT_FALSE(databaseExists(QStringLiteral("crm")));
    EXPECT_EQ(sideFiles(), QStringList());
}

// While the procedure runs, its database is a hidden side file that its own
// steps reach by the name and nobody else sees, carrying the mark of an
// unfinished creation; the name and the unmarked database come at the end.
TEST_F(CreateDatabase, TheDatabaseTakesItsNameOnlyWhenFinished)
{
    QStringList seen;
    int pumps = 0;
    m_ui.onPump = [&] {
        if (pumps++ % 25 != 0)
            return;
        const QStringList listed = QDir(path(QStringLiteral("data"))).entryList(QDir::Files);
        const QStringList sides =
            sideFiles().filter(QRegularExpression(QStringLiteral("^\\.crm\\.sqlite~\\w{6}$")));
        QString mark;
        if (sides.size() == 1)
            mark =
                rows(QStringLiteral("crm"), QStringLiteral("SELECT COUNT(*) FROM tblVarible WHERE [Module] = "
                                                           "'DB' AND VaribleName = 'Creating'"))
                    .value(0);
        seen << listed.join(QLatin1Char(',')) + QLatin1Char('/') + QString::number(sides.size()) +
                    QLatin1Char('/') + mark;
    };
    ASSERT_TRUE(create(QStringLiteral("crm"), mdlOVSqlUpdateDB::CreateBlank));
    m_ui.onPump = nullptr;
    ASSERT_FALSE(seen.isEmpty());
    // No database of that name, one side file. The schema script makes
    // tblVarible; from the end of that script on, the mark is there (or the
    // file is held by a commit for a moment).
    const qsizetype marked = seen.indexOf(QStringLiteral("/1/1"));
    ASSERT_GE(marked, 0) << seen.join(QLatin1Char(' ')).toStdString();
    for (qsizetype i = 0; i < seen.size(); ++i) {
        EXPECT_TRUE(seen[i].startsWith(QStringLiteral("/1/"))) << seen[i].toStdString();
        if (i > marked) {
            EXPECT_NE(seen[i], QStringLiteral("/1/0"));
        }
    }
    EXPECT_EQ(QDir(path(QStringLiteral("data"))).entryList(QDir::Files), QStringList({"crm.sqlite"}));
    EXPECT_EQ(sideFiles(), QStringList());
    EXPECT_EQ(
        rows(QStringLiteral("crm"), QStringLiteral("SELECT COUNT(*) FROM tblVarible WHERE VaribleName = "
                                                   "'Creating'")),
        QStringList({"0"}));
}

} // namespace
