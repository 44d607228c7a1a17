#include "backup/mdlOVSqlBackup.h"

#include "backup/ServerFolder.h"
#include "common/UiPort.h"
#include "common/clsMouseCtrl.h"
#include "data/Connection.h"
#include "data/ConnectionString.h"
#include "data/Identifiers.h"
#include "data/ServerAdmin.h"

namespace mdlOVSqlBackup {

QString DefaultBackupPathFile(const QString& storedPathFile, const QString& database, const QDateTime& now,
                              const QString& defaultFolder, mdlCommon::PathStyle style)
{
    QString folder, fileName, baseName, extension;
    mdlCommon::SplitPathName(storedPathFile, folder, fileName, baseName, extension, style);
    if (folder.isEmpty())
        folder = defaultFolder;
    return folder + database + QLatin1Char('-') +
           mdlCommon::ValueToText(now, QStringLiteral("yyyymmddhhnn")) + QStringLiteral(".dat");
}

QString BackupTarget(const QString& pathFile, const QString& defaultFolder, mdlCommon::PathStyle style)
{
    QString folder, fileName, baseName, extension;
    mdlCommon::SplitPathName(pathFile, folder, fileName, baseName, extension, style);
    return folder.isEmpty() ? defaultFolder + fileName : pathFile;
}

bool HasFolder(const QString& pathFile, mdlCommon::PathStyle style)
{
    QString folder, fileName, baseName, extension;
    mdlCommon::SplitPathName(pathFile, folder, fileName, baseName, extension, style);
    return !folder.isEmpty();
}

QString BackupConnectionString(const QString& server, const QString& database, bool trusted,
                               const QString& user)
{
    using ov::connstr::oleDbValue;
    // "crm" in double quotes is also how a connection string quotes the value
    // crm. The name the statement denotes is written so, with its inner
    // double quotes doubled, whatever the user typed: the name stays one
    // value and can never add a key.
    QString denoted = ov::unquotedName(database);
    denoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    const QString catalog = QLatin1Char('"') + denoted + QLatin1Char('"');
    if (trusted)
        return QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;"
                              "Initial Catalog=") +
               catalog + QStringLiteral(";Data Source=") + oleDbValue(server);
    return QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=True;User ID=") + oleDbValue(user) +
           QStringLiteral(";Initial Catalog=") + catalog + QStringLiteral(";Data Source=") +
           oleDbValue(server);
}

bool DoBackup(const QString& server, const QString& database, bool trusted, const QString& user,
              const QString& password, const QString& pathFile, bool replace)
{
    clsMouseCtrl busy;
    ov::OneWaitPerServer oneWait;
    ov::ui().pumpEvents();

    ov::Connection cn;
    cn.setCursorLocation(ov::adUseClient);
    cn.setCommandTimeout(0);
    ov::DataError error;
    if (cn.Open(BackupConnectionString(server, database, trusted, user), QString(),
                trusted ? QString() : password)) {
        const auto admin = ov::ServerAdmin::create(server, trusted, user, password);
        if (admin->backupDatabase(cn, database, pathFile, replace)) {
            ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("备份数据库成功！")));
            return true;
        }
        error = admin->lastError();
    } else {
        error = cn.lastError();
    }
    ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("备份数据库失败！\r\n") +
                                         QString::number(error.number) + QStringLiteral("\r\n") +
                                         error.description));
    return false;
}

} // namespace mdlOVSqlBackup
