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
// as information, what the database has beyond the scripts. Changes nothing
// in the database. --reference-on-server builds the reference on the SQL
// Server itself, in a scratch database that is dropped again, so that
// statements only SQL Server accepts are checked too.
// Exit code 0 when nothing is missing, 1 when something is, 2 when the check
// cannot run (no connection, no version) or the version is later than the
// update script's last block, whose additions it cannot know.
namespace {

const char kSynopsis[] = "check [--server S] [--database D] [--trusted | --user NAME [--password-stdin]] "
                         "[--script F] [--reference-on-server] [--json]";

int run(ovcli::Args& args)
{
    ovcli::LoginOptions login;
    const bool taken = login.take(args, true);
    const auto scriptOption = args.option(QStringLiteral("--script"));
    const bool json = args.flag(QStringLiteral("--json"));
    const bool onServer = args.flag(QStringLiteral("--reference-on-server"));
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
            *cn, mdlOVSqlUpdateDB::gstrAppPath + QStringLiteral("OVScriptEmpty.txt"), script,
            onServer ? &s : nullptr);
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
         "columns beyond the scripts are listed as information. Changes nothing in the database.\n\n"
         "With --reference-on-server the reference is built on the SQL Server itself, so that statements "
         "only SQL Server accepts are checked too and types compare by SQL Server's own names and lengths: "
         "in a scratch database ovcheck_ followed by 32 hexadecimal digits, made with the server's defaults, "
         "dropped at the end also after a failure; scratch databases that a killed check left and no running "
         "check holds are dropped first. The login needs the right to create databases; without it the "
         "check says so and builds the reference in memory. On the embedded engine the reference is that "
         "engine's own already, and the switch changes nothing.\n\n"
         "Exit code 0 when nothing is missing, 1 when something is, 2 when the check cannot run (no "
         "connection, no version) or the database's version is later than the last version block of the "
         "update script, so that what that version adds cannot be checked.",
         ovcli::LoginOptions::help(true) +
             QList<ovcli::OptionHelp>{
                 {"--script F", "the update script the reference is built from; default: OVScriptUpdate.txt "
                                "in the program folder"},
                 {"--reference-on-server", "SQL Server: build the reference in a scratch database on the "
                                           "server instead of in memory"},
                 {"--json", "print the report as JSON, for scripts"},
             }});

} // namespace
