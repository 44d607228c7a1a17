// SQL Server's backup and restore on the wire, against the scripted TDS peer
// through the real FreeTDS driver: a file that holds two backup sets restores
// the newest, named in every statement; a backup is sent only after the
// server said the file is not there, and a replacement sends INIT.

#include "DataTestSupport.h"

#include "backup/mdlOVSqlBackup.h"
#include "backup/mdlOVSqlRestore.h"
#include "support/ScriptedUi.h"
#include "support/TdsPeer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString kPath = QStringLiteral("D:\\bak\\o'neil.dat");
const QString kPathLiteral = QStringLiteral("N'D:\\bak\\o''neil.dat'");

QJsonObject rule(const QString& key, const QString& text, const QByteArray& reply)
{
    return QJsonObject{{key, text}, {QStringLiteral("reply"), QJsonDocument::fromJson(reply).array()}};
}

// A server with crm and Tempdb, whose task lock is always free, and whose
// answers to the backup file's header are header.
QJsonObject server(const QByteArray& header, QJsonArray more = {})
{
    more.prepend(rule(QStringLiteral("regex"), QStringLiteral("SET NOCOUNT ON; DECLARE @result int.*"),
                      R"j([{"columns": [{"name": "result", "type": "int"}], "rows": [[0]]}])j"));
    more.prepend(rule(QStringLiteral("match"),
                      QStringLiteral("RESTORE HEADERONLY From DISK = ") + kPathLiteral, header));
    return QJsonObject{{QStringLiteral("databases"), QJsonArray{"master", "Tempdb", "crm"}},
                       {QStringLiteral("rules"), more}};
}

const QByteArray kTwoSets = R"j([{"columns": [{"name": "BackupName", "type": "nvarchar(128)"
},
    {"name": "BackupType", "type": "smallint"}, {"name": "Position", "type": "smallint"},
    {"name": "DatabaseName", "type": "nvarchar(128)"}, {"name": "BackupStartDate", "type": "datetime"},
    {"name": "BackupFinishDate", "type": "datetime"}],
  "rows": [[null, 1, 1, "crm", "2026-12-04 15:33:00", "2026-12-04 15:33:05"],
           [null, 5, 2, "crm", "2026-12-04 15:33:30", "2026-12-04 15:33:31"],
           [null, 1, 3, "crm", "2026-12-04 15:34:00", "2026-12-04 15:34:07"],
           [null, 1, 4, "other", "2026-12-04 15:35:00", "2026-12-04 15:35:02"]]
}])j";

TEST(MssqlBackupWire, RestoreTakesTheNewestFullBackupOfTheDatabase)
{
    const QJsonArray fileList = {rule(QStringLiteral("match"),
                                      QStringLiteral("RESTORE FILELISTONLY FROM DISK = ") + kPathLiteral +
                                          QStringLiteral(" WITH FILE = 3"),
                                      R"j([{"columns": [{"name": "LogicalName", "type": "nvarchar(128)"},
              {"name": "PhysicalName", "type": "nvarchar(260)"}, {"name": "Type", "type": "char(1)"}],
            "rows": [["crm_Data", "C:\\old\\crm.mdf", "D"], ["crm_Log", "C:\\old\\crm_log.ldf", "L"]]}])j")};
    ovtest::TdsPeer peer(server(kTwoSets, fileList));
    ASSERT_TRUE(peer.isRunning()) << peer.error().toStdString();
    ovtest::ScriptedUi ui;

    const mdlOVSqlRestore::BackupFileContents contents = mdlOVSqlRestore::ReadBackupFileContents(
        peer.server(), false, QStringLiteral("sa"), QStringLiteral("pw"), kPath, QStringLiteral("crm"));
    ASSERT_TRUE(contents.filesRead) << contents.error.description.toStdString();
    EXPECT_EQ(contents.sets.size(), 4);
    EXPECT_EQ(contents.header.position, 3);
    ASSERT_EQ(contents.files.size(), 2);
    EXPECT_TRUE(mdlOVSqlRestore::BackupDateText(contents).contains(QStringLiteral("还原其中第 3 个")));

    EXPECT_EQ(mdlOVSqlRestore::RestoreDatabase(peer.server(), QStringLiteral("crm"), QStringLiteral("sa"),
                                               QStringLiteral("pw"), kPath, {"crm_Data", "crm_Log"},
                                               {"E:\\new\\crm.mdf", "E:\\new\\crm_log.ldf"}, false, false,
                                               contents.header.position),
              QString());
    const QString moves =
        QStringLiteral(",move N'crm_Data' to N'E:\\new\\crm.mdf',move N'crm_Log' to N'E:\\new\\crm_log.ldf'");
    const QStringList sent = peer.statements();
    const qsizetype verify = sent.indexOf(QStringLiteral("RESTORE VERIFYONLY FROM DISK = ") + kPathLiteral +
                                          QStringLiteral(" WITH FILE = 3") + moves);
    const qsizetype restore =
        sent.indexOf(QStringLiteral("RESTORE DATABASE \"crm\" FROM DISK = ") + kPathLiteral +
                     QStringLiteral(" WITH RECOVERY") + moves + QStringLiteral(",FILE = 3"));
    EXPECT_GE(verify, 0) << sent.join(QLatin1Char('\n')).toStdString();
    EXPECT_GT(restore, verify) << sent.join(QLatin1Char('\n')).toStdString();
}

// What the header read answers decides whether the backup is sent at all.
TEST(MssqlBackupWire, ABackupIsSentOnlyIntoAFileThatIsNotThere)
{
    const struct
    {
        const char* header;
        bool replace;
        bool sent;
        const char* backup; // the backup statement's ending, when sent
    } cases[] = {
        {kTwoSets.constData(), false, false, nullptr},
        {R"j([{"error": {"number": 3201, "class": 16, "message": "Cannot open backup device 'D:\\bak\\o'neil.dat'. Operating system error 2(The system cannot find the file specified.)."}},
            {"error": {"number": 3013, "class": 16, "message": "RESTORE HEADERONLY is terminating abnormally."}}])j",
         false, true, "'"},
        {R"j([{"error": {"number": 3201, "class": 16, "message": "Cannot open backup device 'D:\\bak\\o'neil.dat'. Operating system error 5(Access is denied.)."}}])j",
         false, false, nullptr},
        {R"j([{"error": {"number": 262, "class": 14, "message": "CREATE DATABASE permission denied in database 'master'."}}])j",
         false, false, nullptr},
        {kTwoSets.constData(), true, true, "' WITH INIT"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.header).substr(0, 80) + (c.replace ? " replace" : ""));
        ovtest::TdsPeer peer(server(c.header));
        ASSERT_TRUE(peer.isRunning()) << peer.error().toStdString();
        ovtest::ScriptedUi ui;
        EXPECT_EQ(mdlOVSqlBackup::DoBackup(peer.server(), QStringLiteral("crm"), false, QStringLiteral("sa"),
                                           QStringLiteral("pw"), kPath,
                                           c.replace ? mdlOVSqlBackup::IfExists::Replace
                                                     : mdlOVSqlBackup::IfExists::Refuse),
                  c.sent);
        const QStringList sent = peer.statements();
        const QStringList backups = sent.filter(QStringLiteral("BackUp Database"));
        if (c.sent) {
            ASSERT_EQ(backups.size(), 1) << sent.join(QLatin1Char('\n')).toStdString();
            EXPECT_EQ(backups[0], QStringLiteral("BackUp Database \"crm\" to disk=N'D:\\bak\\o''neil.dat") +
                                      QString::fromUtf8(c.backup));
            EXPECT_EQ(sent.filter(QStringLiteral("HEADERONLY")).size(), c.replace ? 0 : 1);
        } else {
            EXPECT_TRUE(backups.isEmpty()) << sent.join(QLatin1Char('\n')).toStdString();
            ASSERT_EQ(ui.texts().size(), 1);
            EXPECT_TRUE(ui.texts()[0].startsWith(QStringLiteral("备份数据库失败！")))
                << ui.texts()[0].toStdString();
        }
    }
}

} // namespace
