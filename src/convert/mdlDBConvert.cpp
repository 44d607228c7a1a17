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
#include "update/VersionTable.h"

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

bool CreateBareDatabase(const ConnectionSettings& values, ov::StatusLabel& lblTip,
                        ov::ProgressBar& prgProgress)
{
    return mdlOVSqlUpdateDB::CreateDatabase(values.server, values.database, values.trusted, values.user,
                                            values.password, mdlOVSqlUpdateDB::CreateBare, lblTip,
                                            prgProgress);
}

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
    if (!create || !create(values, lblTip, prgProgress))
        return false;
    mdlOVSqlServer::WriteMainSettingsAndSuccess(values, mdlOVSqlServer::ResultKey::CreateDB);

    const auto cnFile = mdlOVSqlServer::ConnectToDBAccess(filePath);
    const auto cnServer = mdlOVSqlServer::ConnectToDBFile(values.server, values.database, values.trusted,
                                                          values.user, values.password);
    const bool clean =
        mdlOVSqlUpdateDB::TransferDataFormCnToCn(cnFile.get(), cnServer.get(), tables, lblTip, prgProgress);
    if (transferClean)
        *transferClean = clean;
    return true;
}

} // namespace mdlDBConvert
