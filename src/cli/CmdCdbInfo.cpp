#include "cli/CliCommand.h"
#include "cli/CliInputFile.h"
#include "common/clsError.h"
#include "config/mdlOVSqlServerAccess.h"
#include "data/Recordset.h"

// ovsqlcli cdb-info FILE: what a single-user database file holds, for an
// administrator checking a file before converting it: its tables with their
// row counts, and its "DB"/"Version" value read the way the conversion reads it.
namespace {

const char kSynopsis[] = "cdb-info FILE";

int run(ovcli::Args& args)
{
    const std::optional<QString> file = args.positional();
    if (!file || !args.finish())
        return ovcli::usage(args, kSynopsis);
    if (const QString problem = ovcli::inputFileProblem(QStringLiteral("FILE"), *file); !problem.isEmpty())
        return ovcli::usageError(kSynopsis, problem);

    std::unique_ptr<ov::Connection> cn = mdlOVSqlServer::ConnectToDBAccess(*file);
    if (!cn)
        return ovcli::fail(mdlCommon::GetErrorText(true));

    QString version = QStringLiteral("(none: no \"DB\"/\"Version\" row)");
    ov::Recordset rs;
    if (rs.Open(QStringLiteral("SELECT * FROM tblVarible WHERE [Module] ='DB' AND VaribleName = 'Version'"),
                *cn, ov::adOpenDynamic, ov::adLockOptimistic)) {
        if (!rs.Eof())
            version = rs.Fields(QStringLiteral("VaribleValue")).Value().toString();
        rs.Close();
    } else {
        version = QStringLiteral("(none: %1)").arg(rs.lastError().description);
    }

    QString out = QStringLiteral("file:    %1\nversion: %2\ntables:\n").arg(*file, version);
    QStringList tables;
    ov::DataError listError;
    if (!cn->backend()->tableNames(tables, listError))
        return ovcli::fail(listError.description);
    int width = 0;
    for (const QString& t : tables)
        width = qMax(width, int(t.size()));
    bool ok = true;
    for (const QString& t : tables) {
        ov::DataError error;
        const qint64 rows = cn->backend()->countRows(t, error);
        if (rows < 0) {
            ok = false;
            out += QStringLiteral("  %1  error: %2\n").arg(t, -width).arg(error.description);
        } else {
            out += QStringLiteral("  %1  %2\n").arg(t, -width).arg(rows);
        }
    }
    if (tables.isEmpty())
        out += QStringLiteral("  (no tables)\n");
    ovcli::printOut(out);
    return ok ? 0 : 1;
}

ovcli::Registrar reg({"cdb-info",
                      kSynopsis,
                      &run,
                      "Prints what a single-user database file holds, to check it before a conversion: its "
                      "tables with their row counts, and its version read the way the conversion reads it.",
                      {{"FILE", "the single-user database file (.cdb)"}}});

} // namespace
