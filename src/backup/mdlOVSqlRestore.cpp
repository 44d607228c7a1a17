#include "backup/mdlOVSqlRestore.h"

#include "common/UiPort.h"
#include "common/clsMouseCtrl.h"
#include "common/mdlCommon.h"
#include "config/mdlOVSqlServerConnect.h"
#include "data/Connection.h"

namespace mdlOVSqlRestore {

namespace {

constexpr int kReadTimeout = 10;

// A connection to the server's Tempdb, which belongs to no product database,
// so that nothing holds the database being restored.
bool OpenTempdb(ov::Connection& cn, const QString& server, bool trusted, const QString& login,
                const QString& password, int timeout)
{
    cn.setCursorLocation(ov::adUseClient);
    cn.setCommandTimeout(timeout);
    return cn.Open(
        mdlOVSqlServer::BuildSqlConnectionString(server, QStringLiteral("Tempdb"), trusted, login, password),
        QString(), QString());
}

} // namespace

QString RestoreDatabase(const QString& server, const QString& database, const QString& login,
                        const QString& password, const QString& backupFile, const QStringList& logicalNames,
                        const QStringList& targetNames, bool force, bool trusted)
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

    ov::Connection cn;
    if (!OpenTempdb(cn, server, trusted, login, password, 0))
        return cn.lastError().description;
    // No update, creation or other restore runs on the database meanwhile.
    ov::DataError lockError;
    const auto lock =
        mdlOVSqlServer::LockDatabaseForTask(server, database, trusted, login, password, lockError);
    if (!lock)
        return lockError.description;
    // The statement quotes the name (unless the user typed it in double
    // quotes) and doubles every quote inside the values it encloses.
    const auto admin = ov::ServerAdmin::create(server, trusted, login, password);
    if (!admin->restoreDatabase(cn, database, backupFile, moves, force))
        return admin->lastError().description;
    return QString();
}

BackupFileContents ReadBackupFileContents(const QString& server, bool trusted, const QString& login,
                                          const QString& password, const QString& backupFile)
{
    clsMouseCtrl busy;
    ov::OneWaitPerServer oneWait;
    BackupFileContents out;
    ov::Connection cn;
    if (!OpenTempdb(cn, server, trusted, login, password, kReadTimeout)) {
        out.error = cn.lastError();
        return out;
    }
    const auto admin = ov::ServerAdmin::create(server, trusted, login, password);
    if (!admin->readBackupFileList(cn, backupFile, out.files)) {
        out.error = admin->lastError();
        out.files.clear();
        return out;
    }
    out.filesRead = true;
    if (!admin->readBackupHeader(cn, backupFile, out.header)) {
        out.error = admin->lastError();
        return out;
    }
    out.headerRead = true;
    return out;
}

QString BackupDateText(const ov::BackupHeader& header)
{
    return mdlCommon::FormatTemplate(QStringLiteral("原备份日期：{1}"),
                                     {mdlCommon::ValueToText(header.backupFinishDate).trimmed()});
}

} // namespace mdlOVSqlRestore
