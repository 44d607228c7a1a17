// An embedded server whose folder does not exist (a mistyped "sqlite:nosuch")
// is a server that cannot be reached, for every task alike: each says so with
// the same error, and none makes the folder.

#include "FaultSupport.h"
#include "backup/mdlOVSqlBackup.h"
#include "backup/mdlOVSqlRestore.h"
#include "config/mdlOVSqlServer.h"
#include "create/CreateDatabase.h"
#include "data/Connection.h"
#include "update/UpdateScript.h"

#include <functional>

using namespace ovtest;

namespace {

class MissingServerFolder : public FaultFixture
{
protected:
    ScriptedUi m_ui;
};

TEST_F(MissingServerFolder, EveryTaskFindsNoServerAndMakesNoFolder)
{
    const QString folder = path(QStringLiteral("nosuch"));
    const QString server = QStringLiteral("sqlite:") + folder;
    const QString reason =
        QStringLiteral("内置数据库服务器的文件夹 %1 不存在：请检查“服务器”框中 sqlite: 后面的文件夹。")
            .arg(folder);
    const QString script = path(QStringLiteral("OVScriptUpdate.txt"));
    {
        QFile f(script);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("SELECT 1\r\nGO\r\n");
    }
    RecordingStatus status;
    RecordingProgress progress;

    const struct
    {
        const char* task;
        std::function<bool()> run; // true when the task succeeded
    } tasks[] = {
        {"create",
         [&] {
             return mdlOVSqlUpdateDB::CreateDatabase(server, QStringLiteral("crm"), true, QString(),
                                                     QString(), mdlOVSqlUpdateDB::CreateBlank, status,
                                                     progress);
         }},
        {"update",
         [&] {
             return mdlOVSqlUpdateDB::RunUpdateScript(server, QStringLiteral("crm"), true, QString(),
                                                      QString(), script, status, progress);
         }},
        {"backup",
         [&] {
             return mdlOVSqlBackup::DoBackup(server, QStringLiteral("crm"), true, QString(), QString(),
                                             path(QStringLiteral("crm.dat")));
         }},
        {"read a backup",
         [&] {
             const auto contents = mdlOVSqlRestore::ReadBackupFileContents(server, true, QString(), QString(),
                                                                           path(QStringLiteral("crm.dat")));
             if (!contents.filesRead)
                 ov::MsgBox(contents.error.description);
             return contents.filesRead;
         }},
        {"restore",
         [&] {
             const QString error = mdlOVSqlRestore::RestoreDatabase(
                 server, QStringLiteral("crm"), QString(), QString(), path(QStringLiteral("crm.dat")),
                 {QStringLiteral("crm")}, {path(QStringLiteral("nosuch/crm.sqlite"))}, false, true);
             if (!error.isEmpty())
                 ov::MsgBox(error);
             return error.isEmpty();
         }},
        {"open Tempdb",
         [&] {
             ov::Connection cn;
             const bool opened = cn.Open(QStringLiteral("Data Source=%1;Initial Catalog=Tempdb").arg(server));
             if (!opened)
                 ov::MsgBox(cn.lastError().description);
             return opened;
         }},
    };
    for (const auto& t : tasks) {
        SCOPED_TRACE(t.task);
        m_ui.clear();
        EXPECT_FALSE(t.run());
        ASSERT_EQ(m_ui.messages().size(), 1) << m_ui.texts().join('\n').toStdString();
        EXPECT_TRUE(m_ui.texts()[0].contains(reason)) << m_ui.texts()[0].toStdString();
        EXPECT_FALSE(QFileInfo::exists(folder));
    }
    EXPECT_FALSE(QFileInfo::exists(mdlOVSqlServer::ConfigFilePath()));
}

} // namespace
