#include "create/CreateDatabase.h"

#include "common/UiPort.h"
#include "common/clsError.h"
#include "common/clsMouseCtrl.h"
#include "common/mdlCommon.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "config/mdlOVSqlServerConnect.h"
#include "create/DataImport.h"
#include "data/Connection.h"
#include "data/ServerAdmin.h"
#include "update/UpdateScript.h"

#include <QDir>

#include <memory>

namespace mdlOVSqlUpdateDB {

namespace {

// The message of a failed server step: the text, the error number and its
// description on three lines, without an icon.
bool CreateFailed(const ov::DataError& error)
{
    ov::MsgBox(QStringLiteral("创建数据库失败!\r\n") + QString::number(error.number) +
               QStringLiteral("\r\n") + error.description);
    return false;
}

// Makes the empty database, replacing one of the same name when the user
// agrees. False when the user declines (nothing shown) or a step fails
// (told).
bool MakeEmptyDatabase(ov::ServerAdmin& admin, const QString& requested, const QString& name)
{
    if (!admin.probe())
        return CreateFailed(admin.lastError());
    QStringList databases;
    if (!admin.listDatabases(databases))
        return CreateFailed(admin.lastError());
    for (const QString& existing : std::as_const(databases)) {
        if (existing.toUpper() != name.toUpper())
            continue;
        const QString question =
            mdlCommon::FormatTemplate(QStringLiteral("数据库 [{1}] 已经存在,是否要将它覆盖？"), {requested});
        if (ov::MsgBox(question, ov::MsgStyle::QuestionYesNo) != ov::MsgAnswer::Yes)
            return false;
        if (!admin.dropDatabase(existing))
            return CreateFailed(admin.lastError());
        break;
    }
    if (!admin.createDatabase(name))
        return CreateFailed(admin.lastError());
    return true;
}

// A database without a data set starts at version "0", so that every version
// block of the update script runs over it.
bool WriteVersionZero(const QString& server, const QString& database, bool integratedLogin,
                      const QString& user, const QString& password)
{
    const auto cn = mdlOVSqlServer::ConnectToDBFile(server, database, integratedLogin, user, password);
    if (!cn) {
        ov::MsgBox(mdlCommon::GetErrorText(true), ov::MsgStyle::Information);
        return false;
    }
    if (!cn->Execute(QStringLiteral("INSERT INTO tblVarible (VaribleValue, UserID, VaribleName, Module)"
                                    "    values('0', '', 'Version', 'DB')")))
        return CreateFailed(cn->lastError());
    cn->Close();
    return true;
}

} // namespace

QString DataSetFolder(int mode)
{
    const QString sep = QDir::separator();
    if (mode == CreateBlank)
        return gstrAppPath + QStringLiteral("DBDataFiles") + sep + QStringLiteral("Blank") + sep;
    if (mode == CreateDemo)
        return gstrAppPath + QStringLiteral("DBDataFiles") + sep + QStringLiteral("Demo") + sep;
    return QString();
}

bool CreateDatabase(const QString& server, const QString& database, bool integratedLogin, const QString& user,
                    const QString& password, int mode, ov::StatusLabel& lblStatus,
                    ov::ProgressBar& prgProgress)
{
    clsMouseCtrl busy;
    // A server that the check below gives up on is not waited on again.
    ov::OneWaitPerServer oneWait;
    // Every later step works on the name as it was created.
    const QString name = database.trimmed();

    mdlOVSqlServer::EnsureSqlServerRunning(server, integratedLogin, user, password);
    // The database is this procedure's, from before it looks for an existing
    // one until the last script has run: another update, creation or restore
    // of it is refused meanwhile, and the runs below share the hold.
    ov::DataError lockError;
    const auto lock =
        mdlOVSqlServer::LockDatabaseForTask(server, name, integratedLogin, user, password, lockError);
    if (!lock) {
        if (lockError.number != ov::DataErr::LockTimeout)
            return CreateFailed(lockError);
        ov::MsgBox(lockError.description, ov::MsgStyle::Exclamation);
        return false;
    }
    {
        // The management side is released before the scripts run.
        const std::unique_ptr<ov::ServerAdmin> admin =
            ov::ServerAdmin::create(server, integratedLogin, user, password);
        if (!MakeEmptyDatabase(*admin, database, name))
            return false;
    }

    if (!RunUpdateScript(server, name, integratedLogin, user, password,
                         gstrAppPath + QStringLiteral("OVScriptEmpty.txt"), lblStatus, prgProgress))
        return false;

    if (mode == CreateBlank || mode == CreateDemo) {
        if (!ImportTableData(server, name, integratedLogin, user, password, DataSetFolder(mode), lblStatus,
                             prgProgress))
            return false;
    } else if (!WriteVersionZero(server, name, integratedLogin, user, password)) {
        return false;
    }

    if (!RunUpdateScript(server, name, integratedLogin, user, password,
                         gstrAppPath + QStringLiteral("OVScriptUpdate.txt"), lblStatus, prgProgress))
        return false;
    ov::MsgBox(QStringLiteral("创建数据库成功！"), ov::MsgStyle::Information);
    return true;
}

} // namespace mdlOVSqlUpdateDB
