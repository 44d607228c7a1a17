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
// only with --replace. Prints the path written on success. With --sql-out
// FILE the backup statement is written into FILE (a new file) and nothing is
// sent: the statement needs no answer from the server.
namespace {

const char kSynopsis[] = "backup [--server S] [--database D] [--trusted | --user NAME [--password-stdin]] "
                         "--to PATH [--replace] [--sql-out FILE]";

int writeStatements(const ConnectionSettings& s, const QString& pathFile, const QString& sqlOut)
{
    const QString problem = ovcli::sqlOutProblem(sqlOut, s.server);
    if (!problem.isEmpty())
        return ovcli::usageError(kSynopsis, problem);
    // As DoBackup sends it, on a connection to the database itself. SQL
    // Server adds a backup to an existing file of backups and never replaces
    // one, so --replace changes nothing here.
    ov::StatementTranscript transcript;
    transcript.addComment(QStringLiteral("The statement that \"ovsqlcli backup\" sends to server %1, on a "
                                         "connection to database %2.")
                              .arg(s.server, s.database));
    transcript.addBatch(ov::sqlserver::backupStatement(s.database, pathFile));
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
        return writeStatements(login.settings(), pathFile, *sqlOut);
    if (!login.readPassword())
        return ovcli::fail(QStringLiteral("ovsqlcli: ") + login.error());

    const ConnectionSettings& s = login.settings();
    if (!mdlOVSqlBackup::DoBackup(s.server, s.database, s.trusted, s.user, s.password, pathFile, replace))
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
                              {"--replace", "replace an existing backup file, by renaming the complete new "
                                            "file over it"},
                              {"--sql-out FILE", "write the backup statement into FILE as a script for a "
                                                 "query window (a new file), and back nothing up"},
                          }});

} // namespace
