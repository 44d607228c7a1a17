#include "cli/CliCommand.h"
#include "cli/CliLogin.h"
#include "common/Cp936.h"
#include "common/UiPort.h"
#include "common/clsError.h"
#include "common/mdlCommon.h"
#include "config/mdlOVSqlServerConnect.h"
#include "data/Recordset.h"

#include <QFile>

// ovsqlcli sql: runs the batch of a file (code page 936, or UTF-8 after a
// byte-order mark, as every text file of the program) on a database and prints
// the rows of its first statement that returns rows as a plain table: the column names, then one line per
// row, fields separated by tabs. NULL prints as NULL; a tab, line break or backslash inside a value prints as
// \t, \n, \r or \\, so every row stays one line. The rest of the batch is read
// to its end, so that an error after the rows still fails the run.
namespace {

const char kSynopsis[] =
    "sql --file F [--server S] [--database D] [--trusted | --user NAME [--password-stdin]]";

QString field(const QVariant& value)
{
    if (!value.isValid())
        return QStringLiteral("NULL");
    QString text = mdlCommon::ValueToText(value);
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    text.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return text;
}

int run(ovcli::Args& args)
{
    ovcli::LoginOptions login;
    const bool taken = login.take(args, true);
    const auto file = args.option(QStringLiteral("--file"));
    if (!taken || !args.finish() || !file) {
        const QString why = !taken                    ? login.error()
                            : !args.error().isEmpty() ? args.error()
                                                      : QStringLiteral("--file is required");
        ovcli::printErr(
            QStringLiteral("ovsqlcli: %1\nusage: ovsqlcli %2\n").arg(why, QLatin1String(kSynopsis)));
        return 2;
    }
    QFile in(*file);
    if (!in.open(QIODevice::ReadOnly))
        return ovcli::fail(QStringLiteral("ovsqlcli: %1: %2").arg(*file, in.errorString()));
    const QString batch = ov::cp936::decodeFile(in.readAll());
    in.close();
    if (!login.readPassword())
        return ovcli::fail(QStringLiteral("ovsqlcli: ") + login.error());

    const ConnectionSettings& s = login.settings();
    auto cn = mdlOVSqlServer::ConnectToDBFile(s.server, s.database, s.trusted, s.user, s.password);
    if (!cn) {
        ov::MsgBox(mdlCommon::GetErrorText(true), ov::MsgStyle::Information);
        return 1;
    }
    ov::Recordset rs;
    if (!rs.Open(batch, *cn)) {
        const ov::DataError& e = rs.lastError();
        return ovcli::fail(QStringLiteral("ovsqlcli: the batch failed.\n%1\n%2")
                               .arg(QString::number(e.number), e.description));
    }
    QString out;
    if (rs.FieldCount() > 0) {
        QStringList names;
        for (int i = 0; i < rs.FieldCount(); ++i)
            names.append(rs.Fields(i).Name());
        out += names.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    bool read = true;
    while (read && !rs.Eof()) {
        QStringList values;
        for (int i = 0; i < rs.FieldCount(); ++i)
            values.append(field(rs.Fields(i).Value()));
        out += values.join(QLatin1Char('\t')) + QLatin1Char('\n');
        read = rs.MoveNext();
    }
    ovcli::printOut(out);
    if (read)
        return 0;
    return ovcli::fail(QStringLiteral("ovsqlcli: reading the rows failed.\n%1\n%2")
                           .arg(QString::number(rs.lastError().number), rs.lastError().description));
}

ovcli::Registrar reg(
    {"sql", kSynopsis, &run,
     "Runs the batch of a file on a database and prints the rows of its first statement that returns rows: "
     "the column names, then one line per row, fields separated by tabs. NULL prints as NULL; a tab, line "
     "break or backslash inside a value prints as \\t, \\n, \\r or \\\\, so every row stays one line. Every "
     "statement of the batch is read to its end: an error in any of them ends the run with that error.",
     QList<ovcli::OptionHelp>{{"--file F", "the batch, in code page 936 or UTF-8 after a byte-order mark"}} +
         ovcli::LoginOptions::help(true)});

} // namespace
