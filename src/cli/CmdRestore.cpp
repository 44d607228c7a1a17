#include "backup/mdlOVSqlRestore.h"
#include "cli/CliCommand.h"
#include "cli/CliInputFile.h"
#include "cli/CliLogin.h"
#include "cli/CliSqlOut.h"
#include "common/UiPort.h"
#include "common/mdlCommon.h"
#include "data/OfflineServer.h"
#include "data/Server.h"
#include "data/ServerAdmin.h"
#include "data/StatementTranscript.h"

// ovsqlcli restore: restores a database from a backup file on its server, as
// the restore window does: it asks first (--yes answers), reads the file's
// backup sets and takes the newest full backup of the database (printing its
// date), reads that set's database files, sends each back to the path recorded in the backup (on
// the embedded engine, to the database's own file of its folder) unless
// a --move LOGICAL=PATH names another, and restores over an existing database
// only with --replace. The same messages as the window. With --sql-out FILE
// it reads the file's database files from the server as before, then runs
// the restore on a recording connection, which writes the restore's
// statements, with their MOVE clauses, into FILE (a new file) instead of
// sending them; nothing is asked, nothing restored. With --offline as well
// nothing reaches the server: the backup is taken to hold set 1 with the
// files the --move options name, one --move for each.
namespace {

const char kSynopsis[] =
    "restore [--server S] [--database D] [--trusted | --user NAME [--password-stdin]] "
    "--from PATH [--move LOGICAL=PATH]... [--replace] [--yes] [--sql-out FILE [--offline]]";

int run(ovcli::Args& args)
{
    ovcli::LoginOptions login;
    const bool taken = login.take(args, true);
    const auto from = args.option(QStringLiteral("--from"));
    const QStringList moveOptions = args.options(QStringLiteral("--move"));
    const bool replace = args.flag(QStringLiteral("--replace"));
    const auto sqlOut = args.option(QStringLiteral("--sql-out"));
    const bool offline = args.flag(QStringLiteral("--offline"));
    if (!taken)
        return ovcli::usageError(kSynopsis, login.error());
    if (!args.finish())
        return ovcli::usageError(kSynopsis, args.error());
    if (!from)
        return ovcli::usageError(kSynopsis,
                                 QStringLiteral("--from PATH names the backup file, a path on the server"));
    // The embedded server's files are this machine's.
    if (!ov::Server(login.settings()).localFolder().isEmpty()) {
        const QString problem = ovcli::inputFileProblem(QStringLiteral("--from"), from->trimmed());
        if (!problem.isEmpty())
            return ovcli::usageError(kSynopsis, problem);
    }
    QList<QPair<QString, QString>> moves;
    for (const QString& m : moveOptions) {
        const int eq = m.indexOf(QLatin1Char('='));
        if (eq <= 0 || eq == m.size() - 1)
            return ovcli::usageError(kSynopsis,
                                     QStringLiteral("--move takes LOGICAL=PATH, not \"%1\"").arg(m));
        moves.append({m.left(eq), m.mid(eq + 1)});
    }
    if (!ovcli::offlineProblem(offline, bool(sqlOut)).isEmpty())
        return ovcli::usageError(kSynopsis, ovcli::offlineProblem(offline, bool(sqlOut)));
    if (sqlOut && !ovcli::sqlOutProblem(*sqlOut, login.settings().server).isEmpty())
        return ovcli::usageError(kSynopsis, ovcli::sqlOutProblem(*sqlOut, login.settings().server));
    // Without a server the backup's files are those the --move options
    // name, each once.
    if (offline && moves.isEmpty())
        return ovcli::usageError(kSynopsis,
                                 QStringLiteral("--offline 时不读取备份文件的内容：请为备份中的每个数据库文件"
                                                "给出 --move LOGICAL=PATH"));
    for (int i = 0; offline && i < moves.size(); ++i) {
        for (int j = 0; j < i; ++j) {
            if (moves.at(j).first.compare(moves.at(i).first, Qt::CaseInsensitive) == 0)
                return ovcli::usageError(kSynopsis,
                                         QStringLiteral("--offline 时每个数据库文件只能有一个 --move："
                                                        "逻辑名 \"%1\" 给出了两次")
                                             .arg(moves.at(i).first));
        }
    }
    if (!offline && !login.readPassword())
        return ovcli::fail(QStringLiteral("ovsqlcli: ") + login.error());

    const ConnectionSettings& s = login.settings();
    const QString path = from->trimmed();
    if (path.isEmpty()) {
        ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("请先选择要还原的数据库备份文件！")));
        return 1;
    }
    if (!sqlOut && ov::MsgBox(mdlCommon::FormatTemplate(
                                  QStringLiteral("确定要使用 {1} 来还原数据库 {2} 吗？"), {path, s.database}),
                              ov::MsgStyle::QuestionYesNo) != ov::MsgAnswer::Yes)
        return 1;

    mdlOVSqlRestore::BackupFileContents contents;
    if (offline) {
        // Set 1, the one set of a backup file written new or replaced, with
        // the files the command line names.
        contents.header.position = 1;
        contents.filesRead = true;
        for (const auto& move : moves)
            contents.files.append({move.first, move.second, QString()});
    } else {
        contents = mdlOVSqlRestore::ReadBackupFileContents(s.server, s.trusted, s.user, s.password, path,
                                                           s.database);
        if (!contents.filesRead)
            ovcli::printErr(contents.error.description + QLatin1Char('\n'));
        else if (contents.header.backupFinishDate.isValid())
            ovcli::printErr(mdlOVSqlRestore::BackupDateText(contents) + QLatin1Char('\n'));
    }
    QStringList logicalNames;
    QStringList targetNames;
    for (const ov::BackupFileInfo& f : contents.files) {
        logicalNames.append(f.logicalName);
        targetNames.append(mdlOVSqlRestore::ProposedTarget(s.server, s.database, f));
    }
    for (const auto& move : moves) {
        const int i = logicalNames.indexOf(move.first);
        if (contents.filesRead && i < 0)
            return ovcli::fail(
                QStringLiteral("ovsqlcli: the backup holds no file with the logical name \"%1\"; "
                               "it holds: %2")
                    .arg(move.first, logicalNames.join(QStringLiteral(", "))));
        if (i >= 0)
            targetNames[i] = move.second;
    }
    if (logicalNames.isEmpty()) {
        ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral(
                       "恢复数据库失败，可能是访问服务器失败(比如密码不正确)，或者是备份文件不合法！")),
                   ov::MsgStyle::Exclamation);
        return 1;
    }
    ov::Server server(s);
    ov::StatementTranscript transcript;
    if (sqlOut && offline) {
        transcript.addComment(
            QStringLiteral(
                "The statements with which \"ovsqlcli restore\" restores database %1 on server %2, "
                "recorded from the restore itself without a server (--offline); nothing was restored.\n"
                "The backup is taken to hold set 1 with the database files the --move options name.")
                .arg(s.database, s.server));
        ov::OfflineAnswers answers;
        answers.backupFiles = contents.files;
        server.recordOffline(transcript, answers);
    } else if (sqlOut) {
        transcript.addComment(
            QStringLiteral(
                "The statements with which \"ovsqlcli restore\" restores database %1 on server %2, "
                "recorded from the restore itself; nothing was restored.\n"
                "The backup set (%3) and its database files were read from the server first.")
                .arg(s.database, s.server, QString::number(contents.header.position)));
        server.record(transcript);
    } else {
        ovcli::printErr(QStringLiteral("正在恢复数据库...\n"));
    }
    const QString result = mdlOVSqlRestore::RestoreDatabase(server, s.database, path, logicalNames,
                                                            targetNames, replace, contents.header.position);
    if (!result.isEmpty()) {
        ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("恢复数据库失败！\r\n") + result),
                   ov::MsgStyle::Exclamation);
        return 1;
    }
    if (sqlOut)
        return ovcli::writeTranscript(transcript, *sqlOut);
    ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("恢复数据库成功！")), ov::MsgStyle::Information);
    return 0;
}

ovcli::Registrar reg(
    {"restore", kSynopsis, &run,
     "Restores a database from a backup file on its server, as the restore window does: it asks first, "
     "takes the newest full backup of the database that the file holds, checks it, and sends each "
     "database file of the backup back to the path the backup recorded "
     "for it (on an embedded server: to the file the database's name has in its folder), unless "
     "--move names another.",
     ovcli::LoginOptions::help(true) +
         QList<ovcli::OptionHelp>{
             {"--from PATH", "the backup file, a path on the server"},
             {"--move LOGICAL=PATH", "restore the database file of logical name LOGICAL to PATH on the "
                                     "server; may be given once per file"},
             {"--replace", "restore over an existing database"},
             {"--sql-out FILE", "write the restore statements into FILE (a new file) as a script for a "
                                "query window, and restore nothing; the backup's files are still read "
                                "from the server"},
             {"--offline", "with --sql-out: write the statements without a server, and without a "
                           "password; the backup is taken to hold set 1 with exactly the files the --move "
                           "options name, so give --move for every file of the backup"},
         }});

} // namespace
