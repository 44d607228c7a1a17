#include "create/CreateDatabase.h"

#include "common/UiPort.h"
#include "common/clsError.h"
#include "common/clsMouseCtrl.h"
#include "common/mdlCommon.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "config/mdlOVSqlServerConnect.h"
#include "create/DataImport.h"
#include "data/Connection.h"
#include "data/Server.h"
#include "data/ServerAdmin.h"
#include "data/StatementTranscript.h"
#include "update/UpdateScript.h"
#include "update/VersionTable.h"

#include <QDir>

#include <functional>
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
    if (!admin.createUnpublished(name))
        return CreateFailed(admin.lastError());
    return true;
}

// The statements the procedure sends on a connection of its own to the new
// database: the mark of an unfinished creation, the version row "0" of a
// database without a data set (so that every version block of the update
// script runs over it), the removal of the mark at the end.
bool ExecuteOnNewDatabase(const ov::Server& server, const QString& database,
                          const std::function<bool(ov::Connection&)>& statements)
{
    const auto cn = mdlOVSqlServer::ConnectToDatabase(server, database);
    if (!cn) {
        ov::MsgBox(mdlCommon::GetErrorText(true), ov::MsgStyle::Information);
        return false;
    }
    if (!statements(*cn))
        return CreateFailed(cn->lastError());
    cn->Close();
    return true;
}

bool WriteVersionZero(ov::Connection& cn)
{
    return cn.Execute(QStringLiteral("INSERT INTO tblVarible (VaribleValue, UserID, VaribleName, Module)"
                                     "    values('0', '', 'Version', 'DB')"));
}

// Removes the embedded engine's side file of a creation that did not
// finish; on SQL Server the marked database stays.
class Unfinished
{
public:
    Unfinished(const ov::Server& server, const QString& name) : m_server(server), m_name(name) {}
    ~Unfinished()
    {
        if (m_armed)
            m_server.admin()->discardUnpublished(m_name);
    }
    Unfinished(const Unfinished&) = delete;
    Unfinished& operator=(const Unfinished&) = delete;
    void arm() { m_armed = true; }
    void disarm() { m_armed = false; }

private:
    const ov::Server& m_server;
    QString m_name;
    bool m_armed = false;
};

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
                    ov::ProgressBar& prgProgress, const CreateFill* fill)
{
    return CreateDatabase(ov::Server({server, database, integratedLogin, user, password}), database, mode,
                          lblStatus, prgProgress, fill);
}

bool CreateDatabase(const ov::Server& server, const QString& database, int mode, ov::StatusLabel& lblStatus,
                    ov::ProgressBar& prgProgress, const CreateFill* fill)
{
    clsMouseCtrl busy;
    // A server that the check below gives up on is not waited on again.
    ov::OneWaitPerServer oneWait;
    // Every later step works on the name as it was created.
    const QString name = database.trimmed();
    if (server.transcript() && !server.runsStatements()) {
        ov::MsgBox(QStringLiteral("内置数据库引擎创建数据库是建立文件，没有可记录的语句。"));
        return false;
    }

    mdlOVSqlServer::EnsureSqlServerRunning(server);
    // The database is this procedure's, from before it looks for an existing
    // one until the last script has run: another update, creation or restore
    // of it is refused meanwhile, and the runs below share the hold.
    ov::DataError lockError;
    const auto lock = mdlOVSqlServer::LockDatabaseForTask(server, name, lockError);
    if (!lock) {
        if (lockError.number != ov::DataErr::LockTimeout)
            return CreateFailed(lockError);
        ov::MsgBox(lockError.description, ov::MsgStyle::Exclamation);
        return false;
    }
    Unfinished unfinished(server, name);
    {
        // The management side is released before the scripts run.
        const std::unique_ptr<ov::ServerAdmin> admin = server.admin();
        if (!MakeEmptyDatabase(*admin, database, name))
            return false;
    }
    if (ov::StatementTranscript* transcript = server.transcript()) {
        // A recording ends here: what follows runs on the new database,
        // which a recording does not make.
        const QString data =
            mode == CreateBlank || mode == CreateDemo
                ? QStringLiteral("loads the data set %1 (one bulk copy per table of tables.txt)")
                      .arg(DataSetFolder(mode))
                : QStringLiteral("records version \"0\" in tblVarible");
        transcript->addComment(
            QStringLiteral(
                "Then, on the new database, it runs OVScriptEmpty.txt, %1 and runs OVScriptUpdate.txt;\n"
                "\"ovsqlcli update --dry-run --sql-out FILE\" writes a script run's statements.")
                .arg(data));
        return true;
    }
    unfinished.arm();

    if (!RunUpdateScript(server, name, gstrAppPath + QStringLiteral("OVScriptEmpty.txt"), lblStatus,
                         prgProgress, UpdateRunSteps()))
        return false;
    const bool bare = mode != CreateBlank && mode != CreateDemo;
    if (!ExecuteOnNewDatabase(server, name, [bare](ov::Connection& cn) {
            return WriteCreationMark(&cn) && (!bare || WriteVersionZero(cn));
        }))
        return false;
    if (!bare && !ImportTableData(server, name, DataSetFolder(mode), lblStatus, prgProgress))
        return false;

    const QString updateScript = gstrAppPath + QStringLiteral("OVScriptUpdate.txt");
    if (fill) {
        // The tables as a database at the rows' version has them, then the
        // rows, so that the later blocks move and change them as they would
        // in a database that had them all along.
        UpdateRunSteps upTo;
        ov::Connection* run = nullptr;
        upTo.prepare = [&run](ov::Connection& cn) {
            run = &cn;
            return true;
        };
        upTo.hooks.passOver = [&](const QString& version) {
            return CompareVersions(version, fill->fillAtVersion) > 0 || IsVersionApplied(version, run);
        };
        if (!RunUpdateScript(server, name, updateScript, lblStatus, prgProgress, upTo))
            return false;
        if (fill->fill && !fill->fill())
            return false;
    }
    if (!RunUpdateScript(server, name, updateScript, lblStatus, prgProgress, UpdateRunSteps()))
        return false;

    // The last statement: from here on the database is a finished one.
    if (!ExecuteOnNewDatabase(server, name, [](ov::Connection& cn) { return RemoveCreationMark(&cn); }))
        return false;
    {
        const std::unique_ptr<ov::ServerAdmin> admin = server.admin();
        if (!admin->publishDatabase(name))
            return CreateFailed(admin->lastError());
    }
    unfinished.disarm();
    ov::MsgBox(QStringLiteral("创建数据库成功！"), ov::MsgStyle::Information);
    return true;
}

} // namespace mdlOVSqlUpdateDB
