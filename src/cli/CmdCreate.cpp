#include "cli/CliCommand.h"
#include "cli/CliKeepExisting.h"
#include "cli/CliLogin.h"
#include "cli/CliSqlOut.h"
#include "common/TerminalUi.h"
#include "common/UiPort.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "create/CreateDatabase.h"
#include "data/OfflineServer.h"
#include "data/Server.h"
#include "data/StatementTranscript.h"

// ovsqlcli create: makes a new product database, as the create window does:
// the same procedure and messages. --blank loads the blank data set, --demo
// the demo data set, --bare leaves the schema without data at version "0";
// the update script then brings it to the current version. An existing
// database of that name is replaced only with --replace (and the overwrite
// question answered: --yes, or on the terminal); without --replace it is left
// alone and the command fails with the question's text. The configuration
// file is not changed. The new database is named with --database only: the
// stored database is the product's current one, never the target of a
// creation (the create window also starts with an empty name). Exit code 0
// only when the database was created, its data set loaded and both scripts
// ran to their end.
// --sql-out FILE runs the procedure on a recording connection: it asks the
// server what it must know (whether the database exists), writes the
// statements that make the database into FILE (a new file) instead of
// sending them, and names what would follow (the scripts and the data load)
// in a comment. With --offline as well nothing reaches the server: the
// database is taken to exist only when --replace is given.
namespace {

const char kSynopsis[] = "create [--server S] --database D [--trusted | --user NAME [--password-stdin]] "
                         "(--blank | --demo | --bare) [--replace] [--yes] [--sql-out FILE [--offline]]";

int run(ovcli::Args& args)
{
    ovcli::LoginOptions login;
    const bool taken = login.take(args, false);
    const QString database = args.option(QStringLiteral("--database")).value_or(QString());
    const bool blank = args.flag(QStringLiteral("--blank"));
    const bool demo = args.flag(QStringLiteral("--demo"));
    const bool bare = args.flag(QStringLiteral("--bare"));
    const bool replace = args.flag(QStringLiteral("--replace"));
    const auto sqlOut = args.option(QStringLiteral("--sql-out"));
    const bool offline = args.flag(QStringLiteral("--offline"));
    if (!taken)
        return ovcli::usageError(kSynopsis, login.error());
    if (!args.finish())
        return ovcli::usageError(kSynopsis, args.error());
    if (int(blank) + int(demo) + int(bare) != 1)
        return ovcli::usageError(
            kSynopsis, QStringLiteral("say what goes into the new database: --blank (the blank data set), "
                                      "--demo (the demo data set) or --bare (no data, version \"0\")"));
    if (!ovcli::offlineProblem(offline, bool(sqlOut)).isEmpty())
        return ovcli::usageError(kSynopsis, ovcli::offlineProblem(offline, bool(sqlOut)));
    if (sqlOut && !ovcli::sqlOutProblem(*sqlOut, login.settings().server).isEmpty())
        return ovcli::usageError(kSynopsis, ovcli::sqlOutProblem(*sqlOut, login.settings().server));
    if (!offline && !login.readPassword())
        return ovcli::fail(QStringLiteral("ovsqlcli: ") + login.error());
    ConnectionSettings s = login.settings();
    s.database = database;
    if (s.database.trimmed().isEmpty()) {
        ov::MsgBox(QStringLiteral("请指定将创建的数据库数据库名称！"), ov::MsgStyle::Information);
        return 1;
    }

    const int mode = blank ? mdlOVSqlUpdateDB::CreateBlank
                           : (demo ? mdlOVSqlUpdateDB::CreateDemo : mdlOVSqlUpdateDB::CreateBare);
    ov::UiPort& terminal = ov::ui();
    ovcli::KeepExistingUi keep(terminal);
    if (!replace)
        ov::setUi(&keep);
    ov::TerminalStatus status;
    ov::TerminalProgress progress;
    ov::Server server(s);
    ov::StatementTranscript transcript;
    if (sqlOut) {
        transcript.addComment(
            QStringLiteral("The statements with which \"ovsqlcli create\" makes database %1 on "
                           "server %2, recorded from the procedure itself; nothing was "
                           "created.")
                .arg(s.database.trimmed(), s.server));
        if (offline) {
            // Without a server the database is there only when the command
            // line says to replace it: the transcript then drops it first.
            transcript.addComment(
                QStringLiteral("Made without a server (--offline): the database is taken "
                               "to %1.")
                    .arg(replace ? QStringLiteral("exist, as --replace says") : QStringLiteral("be new")));
            ov::OfflineAnswers answers;
            if (replace)
                answers.databases = QStringList{s.database.trimmed()};
            server.recordOffline(transcript, answers);
        } else {
            server.record(transcript);
        }
    }
    const bool created = mdlOVSqlUpdateDB::CreateDatabase(server, s.database, mode, status, progress);
    if (!replace)
        ov::setUi(&terminal);
    if (!keep.declined().isEmpty())
        return ovcli::fail(keep.declined() +
                           QStringLiteral("\novsqlcli: the database was left as it is; give --replace to "
                                          "replace it"));
    if (created && sqlOut)
        return ovcli::writeTranscript(transcript, *sqlOut);
    return created ? 0 : 1;
}

ovcli::Registrar
    reg({"create", kSynopsis, &run,
         "Makes a new product database, as the creation window does: the schema script, a data set, then the "
         "update script, which brings it to the current version. The configuration file is not changed.\n\n"
         "The exit code is 0 only when the database was created, its data set loaded and both scripts ran to "
         "their end.",
         ovcli::LoginOptions::help(false).mid(0, 1) +
             QList<ovcli::OptionHelp>{{"--database D", "the new database (there is no default)"}} +
             ovcli::LoginOptions::help(false).mid(1) +
             QList<ovcli::OptionHelp>{
                 {"--blank", "load the blank data set"},
                 {"--demo", "load the demonstration data set"},
                 {"--bare", "load no data: the schema at version 0 before the update script"},
                 {"--replace", "replace an existing database of that name, once the question is answered yes "
                               "(--yes, or on the terminal); without it the database is left alone and the "
                               "command fails"},
                 {"--sql-out FILE", "write the statements that create the database into FILE as a script for "
                                    "a query window, and create nothing (a new file); whether the database "
                                    "exists is still asked of the server"},
                 {"--offline", "with --sql-out: write the statements without a server, and without a "
                               "password; the database is taken to exist when --replace is given (the "
                               "statements then drop it first) and to be new otherwise"},
             }});

} // namespace
