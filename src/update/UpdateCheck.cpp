#include "update/UpdateCheck.h"

#include "common/UiPort.h"
#include "common/mdlCommon.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "config/mdlOVSqlServerConnect.h"
#include "data/Connection.h"
#include "update/SchemaCheck.h"
#include "update/UpdateLog.h"
#include "update/UpdateScript.h"
#include "update/VersionTable.h"

#include <csignal>
#include <optional>

namespace mdlOVSqlUpdateDB {

namespace {

volatile std::sig_atomic_t g_stopAsked = 0;

QString emptyScript()
{
    return gstrAppPath + QStringLiteral("OVScriptEmpty.txt");
}

// A database whose creation did not finish is no database to update: it is
// refused before anything is logged or sent.
bool refuseUnfinished(ov::Connection& cn, const QString& database)
{
    if (!HasCreationMark(&cn))
        return true;
    ov::MsgBox(UnfinishedCreationMessage(database.trimmed()), ov::MsgStyle::Exclamation);
    return false;
}

// The check at the end of a run, logged. A database without a version had
// every block passed over: nothing was updated, so the run is refused as one
// that could not start (refused). Otherwise the run stays completed,
// whatever the check finds.
bool checkAfterRun(ov::Connection& cn, const QString& database, const QString& scriptPath,
                   const ConnectionSettings* onServer, UpdateOutcome& outcome, bool& refused)
{
    outcome.check = CheckSchema(cn, emptyScript(), scriptPath, onServer);
    LogSchemaCheck(outcome.check);
    if (outcome.check.status == SchemaCheckResult::Status::NoVersion) {
        refused = true;
        ov::MsgBox(NoVersionMessage(database.trimmed()), ov::MsgStyle::Exclamation);
        return false;
    }
    outcome.run = UpdateOutcome::Run::Completed;
    return true;
}

// The run's answer with what its steps saw: prepare marks the start (the
// connection and the hold on the database were had and nothing was
// refused), finish the completion; a database refused after the run (no
// version) did not start its work either.
// The login of the database for a check whose reference is built on its
// server, or nothing for one in memory.
std::optional<ConnectionSettings> serverReference(bool checkOnServer, const QString& server,
                                                  const QString& database, bool integratedLogin,
                                                  const QString& user, const QString& password)
{
    if (!checkOnServer)
        return std::nullopt;
    return ConnectionSettings{server, database, integratedLogin, user, password};
}

UpdateOutcome ended(bool ran, bool started, bool refused, UpdateOutcome outcome)
{
    if (!ran || !outcome.completed())
        outcome.run = started && !refused ? UpdateOutcome::Run::Failed : UpdateOutcome::Run::NotStarted;
    return outcome;
}

} // namespace

int UpdateOutcome::exitCode() const
{
    switch (run) {
    case Run::NotStarted:
        return 2;
    case Run::Failed:
        return 1;
    case Run::Completed:
        break;
    }
    return gapsFound() ? 3 : 0;
}

void RequestStopBeforeNextBlock()
{
    g_stopAsked = 1;
}

UpdateOutcome RunUpdateAndCheck(const QString& server, const QString& database, bool integratedLogin,
                                const QString& user, const QString& password, const QString& scriptPath,
                                ov::StatusLabel& lblStatus, ov::ProgressBar& prgProgress, bool checkOnServer)
{
    const auto onServer = serverReference(checkOnServer, server, database, integratedLogin, user, password);
    UpdateOutcome outcome;
    bool started = false;
    bool refused = false;
    ov::Connection* runConnection = nullptr;
    UpdateRunSteps steps;
    steps.lockRefused = [&](const ov::DataError& e) { outcome.busy = e.number == ov::DataErr::LockTimeout; };
    steps.prepare = [&](ov::Connection& cn) {
        runConnection = &cn;
        return refuseUnfinished(cn, database) && (started = true);
    };
    // The database's version decides, as without the hook, until a stop is
    // asked for: then the blocks it lacks are left, and the run is stopped.
    steps.hooks.passOver = [&](const QString& version) {
        if (IsVersionApplied(version, runConnection))
            return true;
        if (g_stopAsked == 0)
            return false;
        if (!outcome.stopped)
            WriteUpdateLog(QStringLiteral("!!! 升级已按要求停止：版本 ") + version +
                           QStringLiteral(" 及其后的版本未执行。"));
        outcome.stopped = true;
        return true;
    };
    steps.hooks.blockEnding = [&](const QString&) {
        ++outcome.blocksRun;
        return true;
    };
    steps.finish = [&](ov::Connection& cn) {
        outcome.versionAfter = ReadDatabaseVersion(&cn).value_or(QString());
        return !outcome.stopped &&
               checkAfterRun(cn, database, scriptPath, onServer ? &*onServer : nullptr, outcome, refused);
    };
    const bool ran = RunUpdateScript(server, database, integratedLogin, user, password, scriptPath, lblStatus,
                                     prgProgress, steps);
    return ended(ran, started, refused, outcome);
}

bool TranscribeUpdateAndCheck(const QString& server, const QString& database, bool integratedLogin,
                              const QString& user, const QString& password, const QString& scriptPath,
                              ov::StatementTranscript& transcript)
{
    UpdateRunSteps steps;
    steps.prepare = [&](ov::Connection& cn) { return refuseUnfinished(cn, database); };
    // The same reads as the run's end: the version it ends at, then the
    // check's.
    steps.finish = [&](ov::Connection& cn) {
        ReadDatabaseVersion(&cn);
        CheckSchema(cn, emptyScript(), scriptPath);
        return true;
    };
    return TranscribeUpdateScript(server, database, integratedLogin, user, password, scriptPath, transcript,
                                  steps);
}

void TellCheckFindings(const UpdateOutcome& outcome)
{
    if (outcome.gapsFound())
        ov::MsgBox(SchemaGapMessage(outcome.check), ov::MsgStyle::Exclamation);
}

UpdateOutcome RerunVersionBlock(const QString& server, const QString& database, bool integratedLogin,
                                const QString& user, const QString& password, const QString& scriptPath,
                                const QString& version, ov::StatusLabel& lblStatus,
                                ov::ProgressBar& prgProgress, bool checkOnServer)
{
    const auto onServer = serverReference(checkOnServer, server, database, integratedLogin, user, password);
    UpdateOutcome outcome;
    bool started = false;
    bool refused = false;
    QString current;
    ov::Connection* runConnection = nullptr;
    bool blockRan = false;
    UpdateRunSteps steps;
    steps.prepare = [&](ov::Connection& cn) {
        runConnection = &cn;
        if (!refuseUnfinished(cn, database))
            return false;
        const SchemaCheckResult result =
            CheckSchema(cn, emptyScript(), scriptPath, onServer ? &*onServer : nullptr);
        if (result.status == SchemaCheckResult::Status::NoVersion ||
            result.status == SchemaCheckResult::Status::Failed) {
            ov::MsgBox(
                mdlCommon::FormatTemplate(QStringLiteral("数据库结构检查无法进行：{1}"), {result.error}),
                ov::MsgStyle::Exclamation);
            return false;
        }
        current = result.version;
        for (const IncompleteBlock& block : result.incompleteBlocks) {
            if (block.block != version)
                continue;
            if (block.rerunSafe())
                return started = true;
            ov::MsgBox(
                mdlCommon::FormatTemplate(
                    QStringLiteral("版本 {1} 的部分对象已经存在（{2}），重新执行该版本并不安全，未执行。"),
                    {version, block.exists.join(QStringLiteral(", "))}),
                ov::MsgStyle::Exclamation);
            return false;
        }
        ov::MsgBox(mdlCommon::FormatTemplate(
                       QStringLiteral("数据库（版本 {1}）中没有缺少对象的版本 {2}，无需重新执行。"),
                       {current, version}),
                   ov::MsgStyle::Exclamation);
        return false;
    };
    // A block run again is all or nothing, whatever its marker: its own
    // statements may set the version to its own, and a run stopped before
    // the version is put back must not leave the database claiming less.
    steps.hooks.allInTransaction = true;
    // Exactly the one block, once.
    steps.hooks.passOver = [&](const QString& block) {
        if (blockRan || block != version)
            return true;
        blockRan = true;
        return false;
    };
    // Inside the block's transaction, if it has one: the version goes back
    // to what it was before the block's own statements set it.
    steps.hooks.blockEnding = [&](const QString&) { return WriteDatabaseVersion(current, runConnection); };
    steps.finish = [&](ov::Connection& cn) {
        return checkAfterRun(cn, database, scriptPath, onServer ? &*onServer : nullptr, outcome, refused);
    };
    const bool ran = RunUpdateScript(server, database, integratedLogin, user, password, scriptPath, lblStatus,
                                     prgProgress, steps);
    return ended(ran, started, refused, outcome);
}

bool RefuseUnfinishedDatabase(const QString& server, const QString& database, bool integratedLogin,
                              const QString& user, const QString& password)
{
    const auto cn = mdlOVSqlServer::ConnectToDBFile(server, database, integratedLogin, user, password);
    if (!cn) {
        // The task that follows tells why the database cannot be reached.
        mdlCommon::GetErrorText(true);
        return true;
    }
    return refuseUnfinished(*cn, database);
}

} // namespace mdlOVSqlUpdateDB
