#include "backup/mdlOVSqlRestore.h"
#include "cli/CliCommand.h"
#include "cli/CliInputFile.h"
#include "cli/CliLogin.h"
#include "data/Server.h"

// ovsqlcli backup-info: what a backup file on the server holds, as the restore
// window reads it: the date of the backup a restore takes, the newest full
// database backup ("原备份日期：…"), then one line per database file of it:
// logical name, the path it was backed up from, and its type, separated by
// tabs. A file that holds more than one backup set (backups added to it)
// then lists every set: "备份 N", its kind, database and finish date. Exit code 1 with the server's message
// when the file cannot be read.
namespace {

const char kSynopsis[] = "backup-info [--server S] [--trusted | --user NAME [--password-stdin]] --file PATH";

int run(ovcli::Args& args)
{
    ovcli::LoginOptions login;
    const bool taken = login.take(args, false);
    const auto file = args.option(QStringLiteral("--file"));
    if (!taken)
        return ovcli::usageError(kSynopsis, login.error());
    if (!args.finish())
        return ovcli::usageError(kSynopsis, args.error());
    if (!file || file->trimmed().isEmpty())
        return ovcli::usageError(kSynopsis,
                                 QStringLiteral("--file PATH names the backup file, a path on the server"));
    // The embedded server's files are this machine's.
    if (!ov::Server(login.settings()).localFolder().isEmpty()) {
        const QString problem = ovcli::inputFileProblem(QStringLiteral("--file"), file->trimmed());
        if (!problem.isEmpty())
            return ovcli::usageError(kSynopsis, problem);
    }
    if (!login.readPassword())
        return ovcli::fail(QStringLiteral("ovsqlcli: ") + login.error());

    const ConnectionSettings& s = login.settings();
    const mdlOVSqlRestore::BackupFileContents contents =
        mdlOVSqlRestore::ReadBackupFileContents(s.server, s.trusted, s.user, s.password, file->trimmed());
    if (!contents.setsRead)
        return ovcli::fail(contents.error.description);
    QString out;
    if (contents.headerRead && contents.header.backupFinishDate.isValid())
        out += mdlOVSqlRestore::BackupDateText(contents.header) + QLatin1Char('\n');
    for (const ov::BackupFileInfo& f : contents.files)
        out += f.logicalName + QLatin1Char('\t') + f.physicalName + QLatin1Char('\t') + f.type +
               QLatin1Char('\n');
    // A file with backups added to it: every set, so that none is hidden
    // behind the one a restore takes.
    if (contents.sets.size() > 1 || !contents.headerRead) {
        for (const ov::BackupHeader& set : contents.sets)
            out += mdlOVSqlRestore::BackupSetLine(set) + QLatin1Char('\n');
    }
    ovcli::printOut(out);
    if (!contents.filesRead)
        return ovcli::fail(contents.error.description);
    return 0;
}

ovcli::Registrar
    reg({"backup-info", kSynopsis, &run,
         "Prints what a backup file on the server holds, as the restore window reads it: the "
         "date of the backup a restore takes (the newest full database backup), then one line per "
         "database file with its logical name, the path it was backed up from and its type, "
         "separated by tabs; then, when the file holds more than one backup, one line per backup "
         "with its number, kind, database and date.",
         ovcli::LoginOptions::help(false) +
             QList<ovcli::OptionHelp>{{"--file PATH", "the backup file, a path on the server"}}});

} // namespace
