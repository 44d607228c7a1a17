#include "backup/mdlOVSqlRestore.h"

#include "common/UiPort.h"
#include "common/clsMouseCtrl.h"
#include "common/mdlCommon.h"
#include "config/mdlOVSqlServerConnect.h"
#include "data/Connection.h"
#include "data/Identifiers.h"
#include "data/Server.h"

namespace mdlOVSqlRestore {

namespace {

constexpr int kReadTimeout = 10;

// The refusal of a file without a full database backup: a restore of a
// differential or log backup alone would leave no usable database.
QString NoFullBackupText(const QString& backupFile, int sets)
{
    // One pass over the text, so that a path holding "%2" or "{2}" stays as it is.
    return QStringLiteral("备份文件 %1 中没有数据库的完整备份（其中有 %2 个备份），不能用它来还原数据库。")
        .arg(backupFile, QString::number(sets));
}

} // namespace

QString RestoreDatabase(const QString& server, const QString& database, const QString& login,
                        const QString& password, const QString& backupFile, const QStringList& logicalNames,
                        const QStringList& targetNames, bool force, bool trusted, int backupSet)
{
    return RestoreDatabase(ov::Server({server, database, trusted, login, password}), database, backupFile,
                           logicalNames, targetNames, force, backupSet);
}

QString RestoreDatabase(const ov::Server& server, const QString& database, const QString& backupFile,
                        const QStringList& logicalNames, const QStringList& targetNames, bool force,
                        int backupSet)
{
    clsMouseCtrl busy;
    ov::OneWaitPerServer oneWait;
    ov::ui().pumpEvents();

    // Every logical file needs its target; a shorter target list is the
    // caller's mistake and fails as an index out of range would.
    if (targetNames.size() < logicalNames.size())
        return QStringLiteral("Subscript out of range");
    QList<QPair<QString, QString>> moves;
    for (int i = 0; i < logicalNames.size(); ++i)
        moves.append({logicalNames.at(i), targetNames.at(i)});

    if (server.transcript() && !server.runsStatements())
        return QStringLiteral("内置数据库引擎的还原是复制文件，没有可记录的语句。");
    // No update, creation or other restore runs on the database meanwhile.
    ov::DataError lockError;
    const auto lock = mdlOVSqlServer::LockDatabaseForTask(server, database, lockError);
    if (!lock)
        return lockError.description;
    // The statement quotes the name (unless the user typed it in double
    // quotes) and doubles every quote inside the values it encloses.
    const auto admin = server.admin();
    // A backup of the embedded engine holds one set; its own checks tell
    // what is wrong with a damaged one.
    if (backupSet == 0 && server.engine() == ov::Server::Engine::Embedded)
        backupSet = 1;
    if (backupSet == 0) {
        QList<ov::BackupHeader> sets;
        if (!admin->readBackupSets(backupFile, sets))
            return admin->lastError().description;
        const int chosen = ChooseBackupSet(sets, database);
        if (chosen < 0)
            return NoFullBackupText(backupFile, sets.size());
        backupSet = sets.at(chosen).position;
    }
    if (!admin->restoreDatabase(database, backupFile, moves, force, backupSet))
        return admin->lastError().description;
    return QString();
}

QString ProposedTarget(const QString& server, const QString& database, const ov::BackupFileInfo& file)
{
    return ov::ServerAdmin::create(server, false, QString(), QString())->proposedTarget(database, file);
}

QString RefusedTargets(const QString& server, const QString& database, const QStringList& logicalNames,
                       const QStringList& targetNames)
{
    if (logicalNames.isEmpty() || targetNames.isEmpty())
        return QString();
    return ov::ServerAdmin::create(server, false, QString(), QString())
        ->refusedTarget(database, logicalNames.first(), targetNames.first());
}

int ChooseBackupSet(const QList<ov::BackupHeader>& sets, const QString& database)
{
    const QString name = ov::unquotedName(database.trimmed());
    int newest = -1;
    int newestOfDatabase = -1;
    for (int i = 0; i < sets.size(); ++i) {
        const ov::BackupHeader& set = sets.at(i);
        if (set.backupType != ov::BackupHeader::FullDatabase || set.position < 1)
            continue;
        if (newest < 0 || set.position > sets.at(newest).position)
            newest = i;
        if (!name.isEmpty() && set.databaseName.compare(name, Qt::CaseInsensitive) == 0 &&
            (newestOfDatabase < 0 || set.position > sets.at(newestOfDatabase).position))
            newestOfDatabase = i;
    }
    return newestOfDatabase >= 0 ? newestOfDatabase : newest;
}

BackupFileContents ReadBackupFileContents(const QString& server, bool trusted, const QString& login,
                                          const QString& password, const QString& backupFile,
                                          const QString& database)
{
    clsMouseCtrl busy;
    ov::OneWaitPerServer oneWait;
    BackupFileContents out;
    const auto admin = ov::ServerAdmin::create(server, trusted, login, password);
    admin->setCommandTimeout(kReadTimeout);
    if (!admin->readBackupSets(backupFile, out.sets)) {
        out.error = admin->lastError();
        out.sets.clear();
        return out;
    }
    out.setsRead = true;
    const int chosen = ChooseBackupSet(out.sets, database);
    if (chosen < 0) {
        out.error.number = ov::DataErr::InvalidArgument;
        out.error.description = NoFullBackupText(backupFile, out.sets.size());
        out.error.source = QStringLiteral("Orvane");
        return out;
    }
    out.header = out.sets.at(chosen);
    out.headerRead = true;
    if (!admin->readBackupFileList(backupFile, out.files, out.header.position)) {
        out.error = admin->lastError();
        out.files.clear();
        return out;
    }
    out.filesRead = true;
    return out;
}

QString BackupDateText(const ov::BackupHeader& header)
{
    return mdlCommon::FormatTemplate(QStringLiteral("原备份日期：{1}"),
                                     {mdlCommon::ValueToText(header.backupFinishDate).trimmed()});
}

QString BackupDateText(const BackupFileContents& contents)
{
    const QString date = BackupDateText(contents.header);
    if (contents.sets.size() < 2)
        return date;
    return date + QStringLiteral("（文件中有 %1 个备份，还原其中第 %2 个：数据库 %3 的完整备份）")
                      .arg(QString::number(contents.sets.size()), QString::number(contents.header.position),
                           contents.header.databaseName);
}

QString BackupSetLine(const ov::BackupHeader& set)
{
    QString kind;
    switch (set.backupType) {
    case 1:
        kind = QStringLiteral("数据库完整备份");
        break;
    case 2:
        kind = QStringLiteral("事务日志备份");
        break;
    case 4:
        kind = QStringLiteral("文件备份");
        break;
    case 5:
        kind = QStringLiteral("数据库差异备份");
        break;
    case 6:
        kind = QStringLiteral("文件差异备份");
        break;
    case 7:
        kind = QStringLiteral("部分备份");
        break;
    case 8:
        kind = QStringLiteral("部分差异备份");
        break;
    default:
        kind = QStringLiteral("类型 %1").arg(set.backupType);
        break;
    }
    return QStringLiteral("备份 %1\t%2\t%3\t%4")
        .arg(QString::number(set.position), kind, set.databaseName,
             mdlCommon::ValueToText(set.backupFinishDate).trimmed());
}

} // namespace mdlOVSqlRestore
