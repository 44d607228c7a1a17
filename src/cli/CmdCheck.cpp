#include "cli/CliCommand.h"
#include "cli/CliInputFile.h"
#include "cli/CliLogin.h"
#include "common/UiPort.h"
#include "common/mdlCommon.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "config/mdlOVSqlServerConnect.h"
#include "update/SchemaCheck.h"
#include "update/VersionTable.h"

// ovsqlcli check: does the database hold every table and column that its
// version says it has? It reads the version and the catalog, builds the
// schema the shipped scripts give that version (OVScriptEmpty.txt, then the
// version blocks of OVScriptUpdate.txt up to the version, run in memory), and
// reports what is missing or of another type with the block that brings it,
// which incomplete blocks can safely run again (ovsqlcli update --rerun), and,
// as information, what the database has beyond the scripts. Changes nothing.
// Exit code 0 when nothing is missing, 1 when something is, 2 when the check
// cannot run (no connection, no version) or the version is later than the
// update script's last block, whose additions it cannot know.
namespace {

const char kSynopsis[] = "check [--server S] [--database D] [--trusted | --user NAME [--password-stdin]] "
                         "[--script F] [--json]";

int run(ovcli::Args& args)
{
    ovcli::LoginOptions login;
    const bool taken = login.take(args, true);
    const auto scriptOption = args.option(QStringLiteral("--script"));
    const bool json = args.flag(QStringLiteral("--json"));
    if (!taken)
        return ovcli::usageError(kSynopsis, login.error());
    if (!args.finish())
        return ovcli::usageError(kSynopsis, args.error());
    if (scriptOption) {
        const QString problem = ovcli::inputFileProblem(QStringLiteral("--script"), *scriptOption);
        if (!problem.isEmpty())
            return ovcli::usageError(kSynopsis, problem);
    }
    if (!login.readPassword()) {
        ovcli::printErr(QStringLiteral("ovsqlcli: ") + login.error() + QLatin1Char('\n'));
        return 2;
    }
    const ConnectionSettings& s = login.settings();
    const QString script =
        scriptOption ? *scriptOption : mdlOVSqlUpdateDB::gstrAppPath + QStringLiteral("OVScriptUpdate.txt");

    mdlOVSqlUpdateDB::SchemaCheckResult result;
    auto cn = mdlOVSqlServer::ConnectToDBFile(s.server, s.database, s.trusted, s.user, s.password);
    if (cn && mdlOVSqlUpdateDB::HasCreationMark(cn.get())) {
        // An unfinished creation is no database to pass, whatever it holds.
        result.error = mdlOVSqlUpdateDB::UnfinishedCreationMessage(s.database.trimmed());
        cn->Close();
    } else if (cn) {
        result = mdlOVSqlUpdateDB::CheckSchema(
            *cn, mdlOVSqlUpdateDB::gstrAppPath + QStringLiteral("OVScriptEmpty.txt"), script);
        cn->Close();
    } else {
        result.error = mdlCommon::GetErrorText(true);
    }
    using Status = mdlOVSqlUpdateDB::SchemaCheckResult::Status;
    if (json)
        ovcli::printOut(QString::fromUtf8(mdlOVSqlUpdateDB::SchemaReportJson(result)));
    else if (result.status == Status::NoVersion || result.status == Status::Failed)
        ovcli::printErr(mdlOVSqlUpdateDB::SchemaReportText(result));
    else
        ovcli::printOut(mdlOVSqlUpdateDB::SchemaReportText(result));
    return result.exitCode();
}

ovcli::Registrar
    reg({"check", kSynopsis, &run,
         "Checks that the database holds every table and column its version says it has. It reads the "
         "database's version and catalog, builds the schema that the shipped scripts give that version "
         "(OVScriptEmpty.txt, then the version blocks of OVScriptUpdate.txt up to the version, run in "
         "memory), and reports what is missing or of another type with the version block that brings it, "
         "and which incomplete blocks can safely run again (ovsqlcli update --rerun VERSION). Tables and "
         "columns beyond the scripts are listed as information. Changes nothing.\n\n"
         "Exit code 0 when nothing is missing, 1 when something is, 2 when the check cannot run (no "
         "connection, no version) or the database's version is later than the last version block of the "
         "update script, so that what that version adds cannot be checked.",
         ovcli::LoginOptions::help(true) +
             QList<ovcli::OptionHelp>{
                 {"--script F", "the update script the reference is built from; default: OVScriptUpdate.txt "
                                "in the program folder"},
                 {"--json", "print the report as JSON, for scripts"},
             }});

} // namespace
