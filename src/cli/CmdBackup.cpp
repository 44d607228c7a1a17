#include "backup/mdlOVSqlBackup.h"
#include "cli/CliBackupPath.h"
#include "cli/CliCommand.h"
#include "cli/CliLogin.h"
#include "cli/CliSqlOut.h"
#include "data/StatementTranscript.h"

// ovsqlcli backup: writes a full backup of a database into a file on its
// server, as the backup window's button does: the same operation and
// messages. PATH is a full path on the server; a name without a folder is
// refused, since there is no folder to propose. An existing file is replaced
// only with --replace (on SQL Server, whose backups would otherwise be added
// to the file, a file that the server cannot tell to be absent is refused
// too). Prints the path written on success. With --sql-out
// FILE the backup statement is written into FILE (a new file) and nothing is
// sent: the statement needs no answer from the server.
namespace {

const char kSynopsis[] = "backup [--server S] [--database D] [--trusted | --user NAME [--password-stdin]] "
                         "--to PATH [--replace] [--sql-out FILE]";

int writeStatements(const ConnectionSettings& s, const QString& pathFile, bool replace, const QString& sqlOut)
{
    const QString problem = ovcli::sqlOutProblem(sqlOut, s.server);
    if (!problem.isEmpty())
        return ovcli::usageError(kSynopsis, problem);
    // As DoBackup sends it, on a connection to the database itself. Without
    // --replace the run first reads the file's header and backs up only when
    // the server says the file is not there: SQL Server would add the backup
    // to the sets of an existing file. With --replace INIT overwrites them.
    ov::StatementTranscript transcript;
    transcript.addComment(QStringLiteral("The statement that \"ovsqlcli backup\" sends to server %1, on a "
                                         "connection to database %2.")
                              .arg(s.server, s.database));
    if (!replace)
        transcript.addComment(QStringLiteral("It is sent only when the file is not there: before it, the run "
                                             "sends\n  %1\nand backs up only when the server answers "
                                             "\"Cannot open backup device\" (3201) with operating system "
                                             "error 2 or 3.")
                                  .arg(ov::sqlserver::headerStatement(pathFile)));
    transcript.addBatch(ov::sqlserver::backupStatement(s.database, pathFile, replace));
    return ovcli::writeTranscript(transcript, sqlOut);
}

int run(ovcli::Args& args)
{
    ovcli::LoginOptions login;
    const bool taken = login.take(args, true);
    const auto to = args.option(QStringLiteral("--to"));
    const bool replace = args.flag(QStringLiteral("--replace"));
    const auto sqlOut = args.option(QStringLiteral("--sql-out"));
    if (!taken)
        return ovcli::usageError(kSynopsis, login.error());
    if (!args.finish())
        return ovcli::usageError(kSynopsis, args.error());
    if (!to || to->trimmed().isEmpty())
        return ovcli::usageError(kSynopsis,
                                 QStringLiteral("--to PATH names the backup file, a path on the server"));
    const QString pathFile = to->trimmed();
    const QString problem = ovcli::backupPathProblem(login.settings().server, pathFile);
    if (!problem.isEmpty())
        return ovcli::usageError(kSynopsis, problem);
    if (sqlOut)
        return writeStatements(login.settings(), pathFile, replace, *sqlOut);
    if (!login.readPassword())
        return ovcli::fail(QStringLiteral("ovsqlcli: ") + login.error());

    const ConnectionSettings& s = login.settings();
    if (!mdlOVSqlBackup::DoBackup(s.server, s.database, s.trusted, s.user, s.password, pathFile,
                                  replace ? mdlOVSqlBackup::IfExists::Replace
                                          : mdlOVSqlBackup::IfExists::Refuse))
        return 1;
    ovcli::printOut(pathFile + QLatin1Char('\n'));
    return 0;
}

ovcli::Registrar reg({"backup", kSynopsis, &run,
                      "Writes a full backup of a database into a file on its server, as the backup window "
                      "does, and prints the path it wrote. An existing file is never replaced unless asked.",
                      ovcli::LoginOptions::help(true) +
                          QList<ovcli::OptionHelp>{
                              {"--to PATH", "the backup file: a full path on the server (a name without a "
                                            "folder is refused)"},
                              {"--replace", "replace an existing backup file: the embedded engine renames "
                                            "the complete new file over it, SQL Server overwrites the "
                                            "backups the file holds (WITH INIT)"},
                              {"--sql-out FILE", "write the backup statement into FILE as a script for a "
                                                 "query window (a new file), and back nothing up"},
                          }});

} // namespace
