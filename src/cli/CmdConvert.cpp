#include "cli/CliCommand.h"
#include "cli/CliInputFile.h"
#include "cli/CliKeepExisting.h"
#include "cli/CliLogin.h"
#include "common/TerminalUi.h"
#include "common/UiPort.h"
#include "common/mdlCommon.h"
#include "convert/mdlDBConvert.h"
#include "update/UpdateLog.h"

#include <QFileInfo>

// ovsqlcli convert: turns a single-user database file (".cdb") into a new
// product database, as the conversion window does, with its checks,
// procedure and messages:
//   - the file must be named, and the new database too (there is no default:
//     the window also starts with an empty name);
//   - ConvertDataTables.ini must give the lowest convertible version, and the
//     file must be a product database of at least that version;
//   - the new database is made bare at version "0" and brought up to date,
//     then the settings name it and CreateDBResult is "1", as after the
//     window's conversion, and the listed tables are moved into it.
// An existing database of that name is replaced only with --replace (and the
// overwrite question answered: --yes, or on the terminal); without --replace
// it is left alone and the command fails with the question's text. The
// transfer always runs to its end and prints what it met on the way; exit
// code 0 only when the database was created and every table moved without a
// failed statement, a refused row or a field that could not be set.
namespace {

const char kSynopsis[] = "convert --file F.cdb [--server S] --database D [--trusted | --user NAME "
                         "[--password-stdin]] [--replace] [--yes]";

int run(ovcli::Args& args)
{
    ovcli::LoginOptions login;
    // The database comes from --database only: the stored one is the
    // product's current database, never the target of a conversion.
    const bool taken = login.take(args, false);
    const QString file = args.option(QStringLiteral("--file")).value_or(QString());
    const QString database = args.option(QStringLiteral("--database")).value_or(QString()).trimmed();
    const bool replace = args.flag(QStringLiteral("--replace"));
    if (!taken)
        return ovcli::usageError(kSynopsis, login.error());
    if (!args.finish())
        return ovcli::usageError(kSynopsis, args.error());
    if (const QString problem = ovcli::inputFileProblem(QStringLiteral("--file"), file); !problem.isEmpty())
        return ovcli::usageError(kSynopsis, problem);

    if (file.trimmed().isEmpty()) {
        ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("请选择先要转换的单机版数据库!")),
                   ov::MsgStyle::Information);
        return 1;
    }
    if (database.isEmpty()) {
        ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("请指定将创建的数据库数据库名称！")),
                   ov::MsgStyle::Information);
        return 1;
    }
    // The same checks as choosing the file in the window, on the full path
    // that its file dialog would give.
    QString required;
    if (!mdlDBConvert::ReadRequiredVersion(required))
        return 1;
    const QString path = QFileInfo(file).absoluteFilePath();
    if (!mdlDBConvert::CheckConvertFile(path, required))
        return 1;

    if (!login.readPassword())
        return ovcli::fail(QStringLiteral("ovsqlcli: ") + login.error());
    ConnectionSettings values = login.settings();
    values.database = database;

    ov::TerminalStatus status;
    ov::TerminalProgress progress;
    bool converted = false;
    bool clean = false;
    QString declined;
    {
        const ovcli::KeepExistingScope keep(!replace);
        converted = mdlDBConvert::DoConvert(values, path, &mdlDBConvert::CreateBareDatabase, status, progress,
                                            &clean);
        declined = keep.declined();
    }
    if (!declined.isEmpty())
        return ovcli::fail(declined + QStringLiteral("\novsqlcli: the database was left as it is; give "
                                                     "--replace to replace it"));
    if (!converted)
        return 1;
    if (!clean)
        return ovcli::fail(QStringLiteral("ovsqlcli: the transfer met the errors shown above; not every row "
                                          "reached the new database (details in %1)")
                               .arg(mdlOVSqlUpdateDB::UpdateLogPath()));
    return 0;
}

ovcli::Registrar reg(
    {"convert", kSynopsis, &run,
     "Turns a single-user database file (.cdb) into a new product database, as the conversion window does, "
     "with its checks and messages: the file must be a product database of at least the version that "
     "ConvertDataTables.ini gives. The new database is made at version 0, brought up to date, named in the "
     "configuration file (CreateDBResult=1), and the tables of ConvertDataTables.txt are moved into it.\n\n"
     "The exit code is 0 only when the database was created and every table moved without a failed "
     "statement or a refused row.",
     QList<ovcli::OptionHelp>{{"--file F.cdb", "the single-user database file"}} +
         ovcli::LoginOptions::help(false).mid(0, 1) +
         QList<ovcli::OptionHelp>{{"--database D", "the new database (there is no default)"}} +
         ovcli::LoginOptions::help(false).mid(1) +
         QList<ovcli::OptionHelp>{{"--replace", "replace an existing database of that name, once the "
                                                "question is answered yes (--yes, or on the terminal); "
                                                "without it the database is left alone and the command "
                                                "fails"}}});

} // namespace
