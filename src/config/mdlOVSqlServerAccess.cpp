#include "config/mdlOVSqlServerAccess.h"

#include "common/clsError.h"
#include "config/mdlEncode.h"

namespace mdlOVSqlServer {

QString BuildAccessConnectionString(const QString& path)
{
    QString text = QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + QLatin1Char('"') + path +
                   QLatin1Char('"') +
                   QStringLiteral(";Persist Security Info=False;Jet Oledb:Database Password=") +
                   QLatin1Char('"') + QStringLiteral("qzmek") + QLatin1Char('"') + QLatin1Char(';');
    text.replace(QStringLiteral("qzmek"),
                 mdlEncode::UnscrambleText(mdlEncode::kScrambledFilePassword, mdlEncode::kFileKey, true),
                 Qt::CaseSensitive);
    return text;
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
