#include "config/mdlOVSqlServerAccess.h"

#include "common/clsError.h"
#include "config/mdlEncode.h"
#include "data/ConnectionString.h"

namespace mdlOVSqlServer {

QString BuildAccessConnectionString(const QString& path)
{
    // The password goes into its own value only, never by a search through
    // the whole text: a path may hold any letters.
    const QString password =
        mdlEncode::UnscrambleText(mdlEncode::kScrambledFilePassword, mdlEncode::kFileKey, true);
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + ov::connstr::oleDbQuoted(path) +
           QStringLiteral(";Persist Security Info=False;Jet Oledb:Database Password=") +
           ov::connstr::oleDbQuoted(password) + QLatin1Char(';');
}

std::unique_ptr<ov::Connection> ConnectToDBAccess(const QString& path)
{
    auto cn = std::make_unique<ov::Connection>();
    cn->setCursorLocation(ov::adUseClient);
    cn->setCommandTimeout(600);
    if (cn->Open(BuildAccessConnectionString(path), QStringLiteral("ADMIN"), QString()))
        return cn;
    const ov::DataError& e = cn->lastError();
    mdlCommon::SetError(e.description, QString::number(e.number), e.source);
    mdlCommon::SetErrorContext(QStringLiteral("mdlContactTrace"), QStringLiteral("ConnectToDBAccess"),
                               QStringLiteral("连接数据库失败！"), QString(), false);
    return nullptr;
}

} // namespace mdlOVSqlServer
