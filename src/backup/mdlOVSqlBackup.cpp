#include "backup/mdlOVSqlBackup.h"

#include "backup/ServerFolder.h"
#include "common/UiPort.h"
#include "common/clsMouseCtrl.h"
#include "data/Connection.h"
#include "data/Identifiers.h"
#include "data/Server.h"
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
    // "crm" in double quotes is also how a connection string quotes the value
    // crm. The name the statement denotes is written so, whatever the user
    // typed: the name stays one value and can never add a key.
    return ov::Server({server, QString(), trusted, user, QString()})
        .connectionString(ov::unquotedName(database), {-1, false, true});
}

QString FreeBackupPathFile(const QString& pathFile,
                           const std::function<bool(const QString& path, bool& exists)>& taken)
{
    // The extension is the last "." of the file name, after the last
    // separator of either style.
    const qsizetype nameStart =
        qMax(pathFile.lastIndexOf(QLatin1Char('/')), pathFile.lastIndexOf(QLatin1Char('\\'))) + 1;
    qsizetype dot = pathFile.lastIndexOf(QLatin1Char('.'));
    if (dot < nameStart)
        dot = pathFile.size();
    for (int n = 1; n <= 999; ++n) {
        const QString candidate =
            n == 1 ? pathFile
                   : pathFile.left(dot) + QLatin1Char('-') + QString::number(n) + pathFile.mid(dot);
        bool exists = true;
        if (!taken(candidate, exists))
            return QString();
        if (!exists)
            return candidate;
    }
    return QString();
}

bool DoBackup(const QString& server, const QString& database, bool trusted, const QString& user,
              const QString& password, const QString& pathFile, IfExists ifExists, QString* writtenTo)
{
    return DoBackup(ov::Server({server, database, trusted, user, password}), database, pathFile, ifExists,
                    writtenTo);
}

bool DoBackup(const ov::Server& handle, const QString& database, const QString& pathFile, IfExists ifExists,
              QString* writtenTo)
{
    clsMouseCtrl busy;
    ov::OneWaitPerServer oneWait;
    ov::ui().pumpEvents();

    ov::DataError error;
    if (handle.transcript() && !handle.runsStatements()) {
        error.description = QStringLiteral("内置数据库引擎的备份是复制文件，没有可记录的语句。");
    } else {
        // The admin backs up on a connection to the database itself, by the
        // name the statement denotes.
        const auto admin = handle.admin();
        QString target = pathFile;
        if (ifExists == IfExists::TakeFreeName) {
            // Asked of the server, as the backup itself will find the file;
            // the backup checks its name once more.
            target = FreeBackupPathFile(pathFile, [&](const QString& path, bool& exists) {
                return admin->backupFileExists(path, exists);
            });
            // When the server cannot tell, or every name is taken, the
            // backup's own check refuses the proposal and says why.
            if (target.isEmpty())
                target = pathFile;
        }
        if (admin->backupDatabase(database, target, ifExists == IfExists::Replace)) {
            if (writtenTo)
                *writtenTo = target;
            // A recording wrote the backup's statements, not a backup.
            if (!handle.transcript())
                ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("备份数据库成功！")));
            return true;
        }
        error = admin->lastError();
    }
    ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("备份数据库失败！\r\n") +
                                         QString::number(error.number) + QStringLiteral("\r\n") +
                                         error.description));
    return false;
}

} // namespace mdlOVSqlBackup
