// Database names holding quotes, semicolons, brackets, equals signs, Chinese
// text and spaces through the create procedure and the conversion on the
// embedded engine, with the settings written for them read back.

#include "FaultSupport.h"
#include "config/mdlOVSqlServer.h"
#include "convert/mdlDBConvert.h"
#include "create/CreateDatabase.h"
#include "jet/demo/DemoDatabase.h"

using namespace ovtest;

namespace {

class Names : public FaultFixture
{
protected:
    void SetUp() override
    {
        FaultFixture::SetUp();
        // The shipped files the create procedure and the conversion read.
        const QDir dist(QStringLiteral(OV_SOURCE_DIR "/dist"));
        for (const QString& f :
             {QStringLiteral("OVScriptEmpty.txt"), QStringLiteral("OVScriptUpdate.txt"),
              QStringLiteral("ConvertDataTables.ini"), QStringLiteral("ConvertDataTables.txt")})
            ASSERT_TRUE(QFile::copy(dist.filePath(f), path(f)));
        const QString demo = path(QStringLiteral("DBDataFiles/Demo/"));
        ASSERT_TRUE(QDir().mkpath(demo));
        const QDir set(dist.filePath(QStringLiteral("DBDataFiles/Demo")));
        for (const QString& f : set.entryList(QDir::Files))
            ASSERT_TRUE(QFile::copy(set.filePath(f), demo + f));
    }
};

// The first name is a plain one: every other must give what it gives.
const QString kNames[] = {
    QStringLiteral("plain"),
    QStringLiteral("a'b;c"),
    QStringLiteral("[x]]y"),
    QStringLiteral("客户 数据 库"),
    QStringLiteral("q\"u=o;Data Source=t"),
};

} // namespace

TEST_F(Names, CreateAndConvertTakeAnyName)
{
    const QString cdb = path(QStringLiteral("Demo.cdb"));
    QString error;
    ASSERT_TRUE(jetdemo::WriteDemoDatabase(cdb, &error)) << error.toStdString();
    QStringList plainMessages;
    QStringList plainCounts;
    for (const QString& name : kNames) {
        SCOPED_TRACE(name.toStdString());
        ScriptedUi ui;
        RecordingStatus status;
        RecordingProgress progress;
        EXPECT_TRUE(mdlOVSqlUpdateDB::CreateDatabase(m_server, name, true, QString(), QString(),
                                                     mdlOVSqlUpdateDB::CreateDemo, status, progress));
        EXPECT_EQ(ui.texts(), QStringList{QStringLiteral("创建数据库成功！")});
        const QStringList demoContacts = rows(name, QStringLiteral("SELECT COUNT(*) FROM tblContact"));
        EXPECT_NE(demoContacts, QStringList{QStringLiteral("0")});

        const QString converted = name + QStringLiteral(" 2");
        const ConnectionSettings values{m_server, converted, true, QStringLiteral("o'neil;x"), QString()};
        const mdlDBConvert::CreateStep create = [](const ConnectionSettings& v,
                                                   const mdlOVSqlUpdateDB::CreateFill& fill,
                                                   ov::StatusLabel& label, ov::ProgressBar& bar) {
            return mdlOVSqlUpdateDB::CreateDatabase(v.server, v.database, v.trusted, v.user, v.password,
                                                    mdlOVSqlUpdateDB::CreateBare, label, bar, &fill);
        };
        ui.clear();
        EXPECT_TRUE(mdlDBConvert::DoConvert(values, cdb, create, status, progress));
        EXPECT_EQ(ui.texts().last(), QStringLiteral("单机版数据库升级为网络版数据库完成！"));
        const QStringList counts =
            rows(converted, QStringLiteral("SELECT (SELECT COUNT(*) FROM tblContact) || '/' || "
                                           "(SELECT COUNT(*) FROM tblActivity)"));
        if (plainMessages.isEmpty()) {
            plainMessages = ui.texts();
            plainCounts = counts;
            EXPECT_NE(counts, QStringList{QStringLiteral("0/0")});
        } else {
            EXPECT_EQ(ui.texts(), plainMessages);
            EXPECT_EQ(counts, plainCounts);
        }
        const ConnectionSettings stored = mdlOVSqlServer::ReadMainSettings();
        EXPECT_EQ(stored.database, converted);
        EXPECT_EQ(stored.user, QStringLiteral("o'neil;x"));
    }
}
