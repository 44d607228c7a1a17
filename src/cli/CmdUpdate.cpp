#include "backup/mdlOVSqlBackup.h"
#include "cli/CliBackupPath.h"
#include "cli/CliCommand.h"
#include "cli/CliInputFile.h"
#include "cli/CliLogin.h"
#include "cli/CliSqlOut.h"
#include "cli/ManyUpdate.h"
#include "common/Clock.h"
#include "common/TerminalUi.h"
#include "common/UiPort.h"
#include "common/mdlCommon.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "config/mdlOVSqlServerConnect.h"
#include "data/Connection.h"
#include "update/UpdateCheck.h"
#include "update/UpdateScript.h"

#include <QFileInfo>

// ovsqlcli update: brings a database up to the current schema with the update
// script, as the update window does: the same runner, messages and log. It
// backs the database up first (--backup-to, a full path on the server, with
// the backup operation of ovsqlcli backup and the windows; an existing file
// is never replaced) and stops when that fails; running without a backup
// needs an explicit --no-backup.
// --dry-run lists the version blocks a run would apply and pass over, judged
// by the database's version now, and changes nothing; with --sql-out FILE it
// writes every statement such a run would send, in order, into FILE (a new
// file) as a script for a query window.
// --rerun VERSION runs that one version block again, when the schema check
// finds it incomplete with none of its objects there yet (ovsqlcli check).
// --check-on-server builds the check's reference on the SQL Server itself
// (ovsqlcli check --reference-on-server).
// Every completed run ends with the schema check, which never changes the
// run's success: exit code 0 when the run completed and the check found
// nothing missing (or could not be made, which it says on stderr), 3 when
// it completed and the check found tables or columns of the version missing,
// 1 when the run failed, 2 when it could not start (a script refused before
// anything starts, see ScriptFile; a database carrying the mark of an
// unfinished creation, or one without a version, so that nothing was updated).
namespace {

const char kSynopsis[] = "update [--server S] [--database D | --all | --databases A,B | --list FILE | "
                         "--retry-failed REPORT] [--trusted | --user NAME [--password-stdin]] [--script F] "
                         "[--rerun VERSION] [--check-on-server] (--backup-to PATH | --no-backup | --dry-run "
                         "[--sql-out FILE]) [--parallel N] [--stop-on-error] [--report FILE]";

int dryRun(const ConnectionSettings& s, const QString& script)
{
    auto cn = mdlOVSqlServer::ConnectToDBFile(s.server, s.database, s.trusted, s.user, s.password);
    if (!cn) {
        ov::MsgBox(mdlCommon::GetErrorText(true), ov::MsgStyle::Information);
        return 1;
    }
    QList<mdlOVSqlUpdateDB::VersionBlockPlan> plan;
    if (!mdlOVSqlUpdateDB::PlanUpdateScript(script, cn.get(), plan)) {
        // A file that is there but cannot be read says why, as a run would.
        mdlOVSqlUpdateDB::ScriptFile file;
        if (QFileInfo(script).isFile() && !file.open(script))
            return ovcli::fail(file.errorString());
        return ovcli::fail(mdlCommon::FormatTemplate(QStringLiteral("文件 {1} 不存在！"), {script}));
    }
    QString out;
    int runs = 0;
    for (const auto& block : plan) {
        out += (block.passOver ? QStringLiteral("pass over\t") : QStringLiteral("run\t")) + block.name +
               (block.transactional ? QStringLiteral("\t(in a transaction)\n") : QStringLiteral("\n"));
        runs += block.passOver ? 0 : 1;
    }
    out += QStringLiteral("%1 version block(s) would run, %2 would be passed over; nothing was changed.\n")
               .arg(runs)
               .arg(plan.size() - runs);
    ovcli::printOut(out);
    return 0;
}

int transcribe(const ConnectionSettings& s, const QString& script, const QString& sqlOut)
{
    ov::StatementTranscript transcript;
    transcript.addComment(
        QStringLiteral("The statements that \"ovsqlcli update\" would send to database %1 on server %2,\n"
                       "in order, judged by the database's version at %3 (ovsqlcli update --dry-run).\n"
                       "Every batch is taken to succeed; the version records carry the time of the dry run.")
            .arg(s.database, s.server, ov::Clock::now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    for (const QString& lock : ovcli::taskLockComment(s.server, s.database))
        transcript.addComment(lock);
    if (!mdlOVSqlUpdateDB::TranscribeUpdateAndCheck(s.server, s.database, s.trusted, s.user, s.password,
                                                    script, transcript))
        return 1;
    return ovcli::writeTranscript(transcript, sqlOut);
}

int update(const ConnectionSettings& s, const QString& script, const std::optional<QString>& backupTo,
           const std::optional<QString>& rerun, bool checkOnServer, mdlOVSqlUpdateDB::UpdateOutcome& outcome);

int run(ovcli::Args& args)
{
    ovcli::ManyUpdate::Options many;
    many.take(args);
    ovcli::LoginOptions login;
    const bool taken = login.take(args, true);
    const auto scriptOption = args.option(QStringLiteral("--script"));
    const auto backupTo = args.option(QStringLiteral("--backup-to"));
    const bool noBackup = args.flag(QStringLiteral("--no-backup"));
    const bool dry = args.flag(QStringLiteral("--dry-run"));
    const auto sqlOut = args.option(QStringLiteral("--sql-out"));
    const auto rerun = args.option(QStringLiteral("--rerun"));
    const bool checkOnServer = args.flag(QStringLiteral("--check-on-server"));
    if (many.chosen())
        return ovcli::ManyUpdate::run(many, args, login, taken, scriptOption, backupTo, noBackup,
                                      dry || sqlOut || rerun);
    if (many.strayOption())
        return ovcli::usageError(kSynopsis, QStringLiteral("--parallel, --report and --stop-on-error go with "
                                                           "--all, --databases, --list or --retry-failed"));
    // Given by ovsqlcli update --all to each update it starts (ManyUpdate).
    const auto outcomeFile = args.option(QStringLiteral("--outcome-file"));
    if (!taken)
        return ovcli::usageError(kSynopsis, login.error());
    if (!args.finish())
        return ovcli::usageError(kSynopsis, args.error());
    if (scriptOption) {
        const QString problem = ovcli::inputFileProblem(QStringLiteral("--script"), *scriptOption);
        if (!problem.isEmpty())
            return ovcli::usageError(kSynopsis, problem);
    }
    if (int(backupTo.has_value()) + int(noBackup) + int(dry) != 1)
        return ovcli::usageError(kSynopsis,
                                 QStringLiteral("say how the database is backed up before the update: "
                                                "--backup-to PATH (a path on the server) or "
                                                "--no-backup; or look first with --dry-run"));
    if (sqlOut && !dry)
        return ovcli::usageError(kSynopsis, QStringLiteral("--sql-out goes with --dry-run"));
    if (checkOnServer && dry)
        return ovcli::usageError(kSynopsis, QStringLiteral("--check-on-server goes with an update; --dry-run "
                                                           "runs no check"));
    if (sqlOut && !ovcli::sqlOutProblem(*sqlOut).isEmpty())
        return ovcli::usageError(kSynopsis, ovcli::sqlOutProblem(*sqlOut));
    if (rerun && (dry || rerun->isEmpty()))
        return ovcli::usageError(kSynopsis, dry ? QStringLiteral("--rerun changes the database; --dry-run "
                                                                 "does not: give one of them")
                                                : QStringLiteral("--rerun needs a version"));
    if (backupTo && backupTo->trimmed().isEmpty())
        return ovcli::usageError(kSynopsis, QStringLiteral("--backup-to needs a path"));
    if (backupTo) {
        const QString problem = ovcli::backupPathProblem(login.settings().server, backupTo->trimmed());
        if (!problem.isEmpty())
            return ovcli::usageError(kSynopsis, problem);
    }
    const QString script =
        scriptOption ? *scriptOption : mdlOVSqlUpdateDB::gstrAppPath + QStringLiteral("OVScriptUpdate.txt");
    // A script that cannot be read as it stands (bytes that are not its
    // encoding, a block inside one that has not ended) cannot start: no
    // password asked, no backup, no connection.
    if (QFileInfo(script).isFile()) {
        mdlOVSqlUpdateDB::ScriptFile file;
        if (!file.open(script)) {
            ovcli::printErr(file.errorString() + QLatin1Char('\n'));
            return 2;
        }
    }
    if (outcomeFile && dry)
        return ovcli::usageError(kSynopsis, QStringLiteral("--outcome-file goes with an update"));
    if (!login.readPassword())
        return ovcli::fail(QStringLiteral("ovsqlcli: ") + login.error());

    const ConnectionSettings& s = login.settings();
    // The look for an unfinished creation, the backup and the run each
    // connect: a server that did not answer the first is not waited on again.
    ov::OneWaitPerServer oneWait;
    if (dry && sqlOut)
        return transcribe(s, script, *sqlOut);
    if (dry)
        return dryRun(s, script);
    mdlOVSqlUpdateDB::UpdateOutcome outcome;
    if (outcomeFile)
        return ovcli::ManyUpdate::runOne(*outcomeFile, outcome, [&] {
            return update(s, script, backupTo, rerun, checkOnServer, outcome);
        });
    return update(s, script, backupTo, rerun, checkOnServer, outcome);
}

// The update of one database, as ovsqlcli update runs it and as ovsqlcli
// update --all runs it for each database; the exit code, with the outcome.
int update(const ConnectionSettings& s, const QString& script, const std::optional<QString>& backupTo,
           const std::optional<QString>& rerun, bool checkOnServer, mdlOVSqlUpdateDB::UpdateOutcome& outcome)
{
    // An unfinished creation is refused before it is backed up.
    if (!mdlOVSqlUpdateDB::RefuseUnfinishedDatabase(s.server, s.database, s.trusted, s.user, s.password))
        return 2;
    if (backupTo &&
        !mdlOVSqlBackup::DoBackup(s.server, s.database, s.trusted, s.user, s.password, backupTo->trimmed()))
        return 1;

    ov::TerminalStatus status;
    ov::TerminalProgress progress;
    outcome = rerun ? mdlOVSqlUpdateDB::RerunVersionBlock(s.server, s.database, s.trusted, s.user, s.password,
                                                          script, *rerun, status, progress, checkOnServer)
                    : mdlOVSqlUpdateDB::RunUpdateAndCheck(s.server, s.database, s.trusted, s.user, s.password,
                                                          script, status, progress, checkOnServer);
    if (outcome.completed()) {
        ov::MsgBox(QStringLiteral("数据库升级成功！"), ov::MsgStyle::Information);
        mdlOVSqlUpdateDB::TellCheckFindings(outcome);
        ovcli::printErr(mdlOVSqlUpdateDB::SchemaCheckNotice(outcome.check));
    }
    return outcome.exitCode();
}

ovcli::Registrar reg(
    {"update", kSynopsis, &run,
     "Brings a database up to the current schema with the update script, as the update window does: the "
     "same runner, messages and log. It backs the database up first and stops when that fails. A run that "
     "read the script to its end with every transactional block committed has succeeded; the schema check "
     "of ovsqlcli check follows it, names what the database's version lacks, and never turns the success "
     "into a failure. What the check cannot check (a statement the in-memory reference cannot run) or a "
     "check that cannot be made is said on standard error and changes nothing. With --check-on-server the "
     "check builds its reference on the SQL Server itself, as ovsqlcli check --reference-on-server does "
     "(a login that may not create databases is told so and checked in memory); the update's result and "
     "exit code stay what they would be.\n\n"
     "Exit codes: 0 the update completed and the check found nothing missing; 3 the update completed but "
     "the check found tables or columns of the database's version missing (listed, and all of them in "
     "the update log); 1 the update failed; 2 it could not start (usage, connection, a refused --rerun, a "
     "database whose creation did not "
     "finish or that has no version, so that no version block could run).\n\n"
     "Many databases in one run: --all updates every product database of the server (one that holds "
     "tblVarible with the \"DB\"/\"Version\" row; any other is listed as passed over and never touched), "
     "--databases A,B the ones named, --list FILE the databases of \"server<TAB>database\" lines across "
     "servers, and --retry-failed REPORT the ones an earlier run's report lists as failed, busy, stopped or "
     "not started. Each database gets the update above, in a process of its own, with its own task lock "
     "and its own backup (--backup-to FOLDER: one file per database, named with the database and the "
     "time); a database that another task holds is reported busy and passed over, never waited on, and "
     "one database's failure never stops the others (--stop-on-error stops starting new ones). Ctrl-C "
     "stops starting new databases, lets the running ones end the version block they are in and reports "
     "what was done. A line on standard error as each database ends, then a table on standard output: "
     "server, database, version before and after, blocks run, duration and result (updated, already "
     "current, updated with objects missing, failed with the reason and the line of the update log, "
     "busy, not a product database, stopped, not started). The update log keeps one whole section per "
     "database. The exit code is 0 only when every chosen database ended updated or already current; "
     "otherwise the worst a single update would give (1 over 2 over 3).\n\n"
     "Example: ovsqlcli update --server db01 --user upd --all --parallel 4 --backup-to 'D:\\Backup' "
     "--report run1.json; then, once the failures are mended: ovsqlcli update --server db01 --user upd "
     "--retry-failed run1.json --backup-to 'D:\\Backup' --report run2.json",
     ovcli::LoginOptions::help(true) +
         QList<ovcli::OptionHelp>{
             {"--script F", "the update script; default: OVScriptUpdate.txt in the program folder"},
             {"--all", "update every product database of the server"},
             {"--databases A,B", "update the databases named, separated by commas"},
             {"--list FILE",
              "update the databases of FILE: one \"server<TAB>database\" a line (empty lines "
              "and lines starting with # are passed over); one login for all servers, from the "
              "options or the configuration file, its password asked once per server (or one "
              "line of standard input per server with --password-stdin)"},
             {"--retry-failed REPORT", "update again the databases that REPORT (written by --report) lists "
                                       "as failed, busy, stopped or not started"},
             {"--backup-to PATH", "back the database up into PATH, a full path on the server; an existing "
                                  "file is never replaced. With many databases PATH is a folder on the "
                                  "server, and each database's backup is DATABASE_YYYYMMDD_HHMMSS.bak in "
                                  "it (characters a file name may not hold become \"_\", and a hash of "
                                  "the server and the name follows when the name was changed so or the run "
                                  "spans servers)"},
             {"--no-backup", "run without a backup"},
             {"--check-on-server", "SQL Server: build the check's reference in a scratch database on the "
                                   "server instead of in memory"},
             {"--rerun VERSION",
              "run that one version block again, when ovsqlcli check reports it incomplete "
              "and safe to run again; the backup rules are those of every update"},
             {"--dry-run", "list the version blocks a run would apply and pass over, and change nothing"},
             {"--sql-out FILE", "with --dry-run: write every statement the run would send, in order, into "
                                "FILE as a script for a query window (a new file)"},
             {"--parallel N", "with many databases: update up to N (1 to 64, default 1) at once, never more "
                              "than N on one server"},
             {"--stop-on-error", "with many databases: start no further database once one has failed"},
             {"--report FILE", "with many databases: write the table as JSON into FILE, a new file, for "
                               "scripts and for --retry-failed"},
         }});

} // namespace
