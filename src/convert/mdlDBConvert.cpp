#include "convert/mdlDBConvert.h"

#include "common/UiPort.h"
#include "common/mdlCommon.h"
#include "common/mdlOEMResource.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "config/clsIniFile.h"
#include "config/mdlOVSqlServer.h"
#include "config/mdlOVSqlServerAccess.h"
#include "config/mdlOVSqlServerConnect.h"
#include "convert/TableTransfer.h"
#include "create/CreateDatabase.h"
#include "create/DataImport.h"
#include "update/UpdateLog.h"
#include "update/UpdateScript.h"
#include "update/VersionTable.h"

#include <QDir>
#include <QTemporaryFile>

#include <climits>

namespace mdlDBConvert {

QString ConvertIniPath()
{
    return mdlOVSqlUpdateDB::gstrAppPath + QStringLiteral("ConvertDataTables.ini");
}

QString ConvertListPath()
{
    return mdlOVSqlUpdateDB::gstrAppPath + QStringLiteral("ConvertDataTables.txt");
}

bool ReadRequiredVersion(QString& requiredVersion)
{
    clsIniFile ini;
    ini.setFileName(ConvertIniPath());
    requiredVersion =
        ini.ReadString(QStringLiteral("MAIN"), QStringLiteral("VERSION"), QStringLiteral("NONE"), 100);
    if (requiredVersion != QLatin1String("NONE"))
        return true;
    ov::MsgBox(mdlCommon::FormatTemplate(
                   QStringLiteral("未找到文件 ConvertDataTables.ini， 程序安装不完全！{CRLF} "
                                  "请下载最新的网络版程序并安装， 如果仍然看到该提示，请联系技术支持人员")),
               ov::MsgStyle::Exclamation);
    return false;
}

bool CheckConvertFile(const QString& path, const QString& requiredVersion)
{
    QString version;
    {
        const auto cn = mdlOVSqlServer::ConnectToDBAccess(path);
        version = mdlOVSqlUpdateDB::ReadVaribleValue(QStringLiteral("DB"), QStringLiteral("Version"),
                                                     QStringLiteral("NONE"), QString(), cn.get())
                      .trimmed();
    }
    if (version == QLatin1String("NONE")) {
        ov::MsgBox(
            mdlCommon::FormatTemplate(QStringLiteral("该数据库不是{1}的数据库！{CRLF}数据库：{3}"),
                                      {mdlOEMResource::GetOEMProductName(), QStringLiteral("\r\n"), path}),
            ov::MsgStyle::Exclamation);
        return false;
    }
    if (mdlOVSqlUpdateDB::CompareVersions(version, requiredVersion) < 0) {
        ov::MsgBox(mdlCommon::FormatTemplate(
            QStringLiteral("单机版的数据库版本不正确， "
                           "请先安装最新的单机版程序，升级单机版数据库，然后再升级到网络版数据库！")));
        return false;
    }
    return true;
}

bool CreateBareDatabase(const ConnectionSettings& values, const mdlOVSqlUpdateDB::CreateFill& fill,
                        ov::StatusLabel& lblTip, ov::ProgressBar& prgProgress)
{
    return mdlOVSqlUpdateDB::CreateDatabase(values.server, values.database, values.trusted, values.user,
                                            values.password, mdlOVSqlUpdateDB::CreateBare, lblTip,
                                            prgProgress, &fill);
}

bool RerunAppliedTransfers(ov::Connection& cn, const QString& scriptPath, ov::StatusLabel& lblTip,
                           ov::ProgressBar& prgProgress)
{
    // The transfer blocks are copied, markers and all, into a script of
    // their own, which the runner runs as any other: outside version blocks,
    // so nothing is recorded and the version stays.
    // The creation has run the same script already and told of a missing
    // one; here it is logged only.
    mdlOVSqlUpdateDB::ScriptFile script;
    if (!script.open(scriptPath)) {
        mdlOVSqlUpdateDB::WriteUpdateLog(
            QStringLiteral("The transfer blocks of %1 could not be run again: %2")
                .arg(scriptPath, script.errorString()));
        return false;
    }
    using Kind = mdlOVSqlUpdateDB::ScriptLineKind;
    QString transfers;
    bool applied = false;
    bool inTransfer = false;
    while (!script.atEnd()) {
        const QString line = script.readLine();
        const Kind kind = mdlOVSqlUpdateDB::ClassifyScriptLine(line);
        if (kind == Kind::VersionStart || kind == Kind::TransactionalVersionStart) {
            applied = mdlOVSqlUpdateDB::IsVersionApplied(mdlOVSqlUpdateDB::GetMarkerName(line), &cn);
            continue;
        }
        if (kind == Kind::VersionEnd) {
            applied = false;
            continue;
        }
        if (kind == Kind::TransferStart)
            inTransfer = applied;
        if (inTransfer)
            transfers += line + QStringLiteral("\r\n");
        if (kind == Kind::TransferEnd)
            inTransfer = false;
    }
    script.close();
    if (transfers.isEmpty())
        return true;

    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/ov-transfers-XXXXXX.txt"));
    if (!file.open() || file.write("\xEF\xBB\xBF" + transfers.toUtf8()) < 0 || !file.flush()) {
        ov::MsgBox(file.errorString(), ov::MsgStyle::Information);
        return false;
    }
    mdlOVSqlUpdateDB::ScriptFile run;
    if (!run.open(file.fileName())) {
        ov::MsgBox(run.errorString(), ov::MsgStyle::Information);
        return false;
    }
    bool clean = true;
    mdlOVSqlUpdateDB::ScriptRunHooks hooks;
    hooks.batchFailed = [&clean](const QString&, const QString& batch, const ov::DataError& error) {
        clean = false;
        mdlOVSqlUpdateDB::WriteUpdateLog(
            QStringLiteral("Transfer block run again after the conversion failed: ") + error.description +
            QStringLiteral("\r\n") + batch);
    };
    // The bar counts this run's own file, not the work before it.
    prgProgress.setValue(0);
    prgProgress.setMaximum(int(qMin<qint64>(run.size(), INT_MAX)));
    const bool read = mdlOVSqlUpdateDB::RunScriptOnConnection(cn, run, hooks, lblTip, prgProgress);
    run.close();
    return read && clean;
}

namespace {

QString UnfinishedCreationMarkLost()
{
    return QStringLiteral("转换数据时无法保留“创建未完成”标记，转换已停止。请重新转换数据库。");
}

} // namespace

bool DoConvert(const ConnectionSettings& values, const QString& filePath, const CreateStep& create,
               ov::StatusLabel& lblTip, ov::ProgressBar& prgProgress, bool* transferClean)
{
    ov::OneWaitPerServer oneWait;
    if (transferClean)
        *transferClean = false;
    QStringList tables;
    if (!mdlOVSqlUpdateDB::ReadListFile(ConvertListPath(), tables)) {
        ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("请重新安装程序后再转换数据库。")));
        return false;
    }
    mdlOVSqlUpdateDB::CreateFill fill;
    {
        const auto cnFile = mdlOVSqlServer::ConnectToDBAccess(filePath);
        fill.fillAtVersion =
            mdlOVSqlUpdateDB::ReadVaribleValue(QStringLiteral("DB"), QStringLiteral("Version"),
                                               QStringLiteral("NONE"), QString(), cnFile.get())
                .trimmed();
    }
    bool clean = false;
    fill.fill = [&] {
        const auto cnFile = mdlOVSqlServer::ConnectToDBAccess(filePath);
        const auto cnServer = mdlOVSqlServer::ConnectToDBFile(values.server, values.database, values.trusted,
                                                              values.user, values.password);
        mdlOVSqlUpdateDB::TransferOptions options;
        options.tellDone = false;
        // Moving tblVarible replaces its rows with the file's: the mark of
        // the unfinished creation and the record of the version blocks the
        // creation ran go back in before they are committed.
        const bool marked = cnServer && mdlOVSqlUpdateDB::HasCreationMark(cnServer.get());
        const auto records = mdlOVSqlUpdateDB::ReadVersionRecords(cnServer.get());
        options.beforeCommit = [marked, &records](ov::Connection& server) {
            for (const auto& record : records)
                mdlOVSqlUpdateDB::RecordVersionApplied(record.first, &server, record.second);
            return !marked || mdlOVSqlUpdateDB::HasCreationMark(&server) ||
                   mdlOVSqlUpdateDB::WriteCreationMark(&server);
        };
        clean = mdlOVSqlUpdateDB::TransferDataFormCnToCn(cnFile.get(), cnServer.get(), tables, lblTip,
                                                         prgProgress, options);
        if (!cnServer)
            return true;
        if (marked && !mdlOVSqlUpdateDB::HasCreationMark(cnServer.get())) {
            // Without its mark the database would pass for a finished one.
            ov::MsgBox(UnfinishedCreationMarkLost(), ov::MsgStyle::Exclamation);
            return false;
        }
        if (!RerunAppliedTransfers(*cnServer,
                                   mdlOVSqlUpdateDB::gstrAppPath + QStringLiteral("OVScriptUpdate.txt"),
                                   lblTip, prgProgress))
            clean = false;
        return true;
    };
    if (!create || !create(values, fill, lblTip, prgProgress))
        return false;
    mdlOVSqlServer::WriteMainSettingsAndSuccess(values, mdlOVSqlServer::ResultKey::CreateDB);
    ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("单机版数据库升级为网络版数据库完成！")),
               ov::MsgStyle::Information);
    if (transferClean)
        *transferClean = clean;
    return true;
}

} // namespace mdlDBConvert
