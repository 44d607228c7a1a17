#include "update/UpdateCheck.h"

#include "common/UiPort.h"
#include "common/mdlCommon.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "config/mdlOVSqlServerConnect.h"
#include "data/Connection.h"
#include "update/SchemaCheck.h"
#include "update/UpdateScript.h"
#include "update/VersionTable.h"

namespace mdlOVSqlUpdateDB {

namespace {

QString emptyScript()
{
    return gstrAppPath + QStringLiteral("OVScriptEmpty.txt");
}

// A database whose creation did not finish is no database to update: it is
// refused before anything is logged or sent.
bool refuseUnfinished(ov::Connection& cn, const QString& database, UpdateRefusal* refusal)
{
    if (!HasCreationMark(&cn))
        return true;
    if (refusal)
        *refusal = UpdateRefusal::Unfinished;
    ov::MsgBox(UnfinishedCreationMessage(database.trimmed()), ov::MsgStyle::Exclamation);
    return false;
}

bool checkAfterRun(ov::Connection& cn, const QString& database, const QString& scriptPath,
                   UpdateRefusal* refusal)
{
    const SchemaCheckResult result = CheckSchema(cn, emptyScript(), scriptPath);
    LogSchemaCheck(result);
    switch (result.status) {
    case SchemaCheckResult::Status::Complete:
    // A version the scripts do not reach: every later block was passed
    // over, and nothing they know of is missing.
    case SchemaCheckResult::Status::Partial:
        return true;
    case SchemaCheckResult::Status::NoVersion:
        // Every block was passed over: nothing was updated, and the
        // database may be no product database at all.
        if (refusal)
            *refusal = UpdateRefusal::NoVersion;
        ov::MsgBox(NoVersionMessage(database.trimmed()), ov::MsgStyle::Exclamation);
        return false;
    case SchemaCheckResult::Status::Gaps:
        ov::MsgBox(SchemaGapMessage(result), ov::MsgStyle::Exclamation);
        return false;
    case SchemaCheckResult::Status::Failed:
        break;
    }
    ov::MsgBox(
        mdlCommon::FormatTemplate(QStringLiteral("升级后的数据库结构检查无法进行：{1}"), {result.error}),
        ov::MsgStyle::Exclamation);
    return false;
}

} // namespace

bool RunUpdateAndCheck(const QString& server, const QString& database, bool integratedLogin,
                       const QString& user, const QString& password, const QString& scriptPath,
                       ov::StatusLabel& lblStatus, ov::ProgressBar& prgProgress, UpdateRefusal* refusal)
{
    if (refusal)
        *refusal = UpdateRefusal::None;
    UpdateRunSteps steps;
    steps.prepare = [&](ov::Connection& cn) { return refuseUnfinished(cn, database, refusal); };
    steps.finish = [&](ov::Connection& cn) { return checkAfterRun(cn, database, scriptPath, refusal); };
    return RunUpdateScript(server, database, integratedLogin, user, password, scriptPath, lblStatus,
                           prgProgress, steps);
}

bool RerunVersionBlock(const QString& server, const QString& database, bool integratedLogin,
                       const QString& user, const QString& password, const QString& scriptPath,
                       const QString& version, ov::StatusLabel& lblStatus, ov::ProgressBar& prgProgress,
                       UpdateRefusal* refusal)
{
    if (refusal)
        *refusal = UpdateRefusal::None;
    QString current;
    ov::Connection* runConnection = nullptr;
    bool ran = false;
    UpdateRunSteps steps;
    steps.prepare = [&](ov::Connection& cn) {
        runConnection = &cn;
        if (!refuseUnfinished(cn, database, refusal))
            return false;
        const SchemaCheckResult result = CheckSchema(cn, emptyScript(), scriptPath);
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
                return true;
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
        if (ran || block != version)
            return true;
        ran = true;
        return false;
    };
    // Inside the block's transaction, if it has one: the version goes back
    // to what it was before the block's own statements set it.
    steps.hooks.blockEnding = [&](const QString&) { return WriteDatabaseVersion(current, runConnection); };
    steps.finish = [&](ov::Connection& cn) { return checkAfterRun(cn, database, scriptPath, refusal); };
    return RunUpdateScript(server, database, integratedLogin, user, password, scriptPath, lblStatus,
                           prgProgress, steps);
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
    return refuseUnfinished(*cn, database, nullptr);
}

} // namespace mdlOVSqlUpdateDB
