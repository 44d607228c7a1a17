#include "backup/mdlOVSqlBackup.h"
#include "cli/CliBackupPath.h"
#include "cli/CliCommand.h"
#include "cli/CliLogin.h"
#include "cli/CliSqlOut.h"
#include "data/OfflineServer.h"
#include "data/Server.h"
#include "data/StatementTranscript.h"

// ovsqlcli backup: writes a full backup of a database into a file on its
// server, as the backup window's button does: the same operation and
// messages. PATH is a full path on the server; a name without a folder is
// refused, since there is no folder to propose. An existing file is replaced
// only with --replace (on SQL Server, whose backups would otherwise be added
// to the file, a file that the server cannot tell to be absent is refused
// too). Prints the path written on success. With --sql-out FILE the backup
// runs on a recording connection: what it must know first (whether the file
// is there) it asks the server, and the backup statement goes into FILE (a
// new file) instead of to the server. With --offline as well nothing reaches
// the server: the file is taken to be there only when --replace is given.
namespace {

const char kSynopsis[] = "backup [--server S] [--database D] [--trusted | --user NAME [--password-stdin]] "
                         "--to PATH [--replace] [--sql-out FILE [--offline]]";

int writeStatements(const ConnectionSettings& s, const QString& pathFile, bool replace, const QString& sqlOut,
                    bool offline)
{
    ov::Server server(s);
    ov::StatementTranscript transcript;
    transcript.addComment(QStringLiteral("The statements of \"ovsqlcli backup\" of database %1 on server %2, "
                                         "recorded from the backup itself; nothing was backed up.")
                              .arg(s.database, s.server));
    if (offline) {
        // Without a server the backup file is there only when the command
        // line says to replace it.
        if (!replace)
            transcript.addComment(
                QStringLiteral("Made without a server (--offline): the backup file is taken "
                               "not to exist."));
        server.recordOffline(transcript, ov::OfflineAnswers());
    } else {
        server.record(transcript);
    }
    if (!mdlOVSqlBackup::DoBackup(server, s.database, pathFile,
                                  replace ? mdlOVSqlBackup::IfExists::Replace
                                          : mdlOVSqlBackup::IfExists::Refuse))
        return 1;
    return ovcli::writeTranscript(transcript, sqlOut);
}

int run(ovcli::Args& args)
{
    ovcli::LoginOptions login;
    const bool taken = login.take(args, true);
    const auto to = args.option(QStringLiteral("--to"));
    const bool replace = args.flag(QStringLiteral("--replace"));
    const auto sqlOut = args.option(QStringLiteral("--sql-out"));
    const bool offline = args.flag(QStringLiteral("--offline"));
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
    if (!ovcli::offlineProblem(offline, bool(sqlOut)).isEmpty())
        return ovcli::usageError(kSynopsis, ovcli::offlineProblem(offline, bool(sqlOut)));
    if (sqlOut && !ovcli::sqlOutProblem(*sqlOut, login.settings().server).isEmpty())
        return ovcli::usageError(kSynopsis, ovcli::sqlOutProblem(*sqlOut, login.settings().server));
    if (!offline && !login.readPassword())
        return ovcli::fail(QStringLiteral("ovsqlcli: ") + login.error());
    if (sqlOut)
        return writeStatements(login.settings(), pathFile, replace, *sqlOut, offline);

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
                                                 "query window (a new file), and back nothing up; whether "
                                                 "the file is there is still asked of the server"},
                              {"--offline", "with --sql-out: write the statement without a server, and "
                                            "without a password; the backup file is taken to be there "
                                            "only when --replace is given"},
                          }});

} // namespace
