// A program folder the user may not write: the .err and .log files of a data
// import go to the user's Orvane folder instead, the tables load, and the
// message about a table that did not load completely points there.

#include "FaultSupport.h"
#include "create/DataImport.h"
#include "data/ServerAdmin.h"

#include <QFileInfo>

using namespace ovtest;

namespace {

class ReadOnlyProgramFolder : public FaultFixture
{
protected:
    void SetUp() override
    {
        FaultFixture::SetUp();
        m_dir.makeUserFolder();
    }

    void writeFile(const QString& name, const QByteArray& bytes)
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path(name)).path()));
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
};

TEST_F(ReadOnlyProgramFolder, LoadFilesGoToTheUserFolder)
{
    const auto admin = ov::ServerAdmin::create(m_server, true, QString(), QString());
    ASSERT_TRUE(admin->createDatabase(QStringLiteral("crm")));
    ASSERT_TRUE(connect(QStringLiteral("crm"))
                    ->Execute(QStringLiteral("CREATE TABLE a (id INT NOT NULL PRIMARY KEY); "
                                             "CREATE TABLE b (id INT NOT NULL PRIMARY KEY)")));
    writeFile(QStringLiteral("DBDataFiles/Blank/tables.txt"), "a\r\nb\r\n");
    writeFile(QStringLiteral("DBDataFiles/Blank/a.dat"), "1\r\n2\r\n");
    writeFile(QStringLiteral("DBDataFiles/Blank/b.dat"), "3\r\nnot a number\r\n");
    // The data set stays root's: the child may read it, not write there.
    giveToUnprivileged(path(QStringLiteral("user")));
    giveToUnprivileged(path(QStringLiteral("data")));
    giveToUnprivileged(path(QStringLiteral("data/crm.sqlite")));

    const QString set = path(QStringLiteral("DBDataFiles/Blank"));
    const QString outcome = runInChild(
        [&] {
            ScriptedUi ui;
            RecordingStatus status;
            RecordingProgress progress;
            const bool ok = mdlOVSqlUpdateDB::ImportTableData(m_server, QStringLiteral("crm"), true,
                                                              QString(), QString(), set, status, progress);
            return QStringList({QString::number(ok), status.caption()}).join(QLatin1Char('|')) +
                   QLatin1Char('|') + ui.texts().join(QLatin1Char('|'));
        },
        true);

    const QString user = path(QStringLiteral("user/DBDataFiles/Blank/"));
    EXPECT_EQ(outcome, QStringLiteral("0|导入数据错误|以下数据表的数据没有完整导入数据库 crm：\r\n"
                                      "b：见 %1b.err 和 %1b.log")
                           .arg(user));
    EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT id FROM a UNION ALL SELECT id FROM b")),
              QStringList({"1", "2", "3"}));
    for (const char* file : {"a.err", "a.log", "b.err", "b.log"})
        EXPECT_TRUE(QFileInfo::exists(user + QLatin1String(file))) << file;
    EXPECT_EQ(QDir(set).entryList(QDir::Files), QStringList({"a.dat", "b.dat", "tables.txt"}));
    {
        QFile err(user + QStringLiteral("b.err"));
        ASSERT_TRUE(err.open(QIODevice::ReadOnly));
        EXPECT_TRUE(err.readAll().contains("not a number"));
    }
}

} // namespace
