// Peak memory of three long operations at one size of input and at ten
// times that size, each run in a process of its own (peak resident memory,
// as the update runner's line measures it): close to 1 means the operation's
// memory does not grow with its input.
//   - the conversion's table transfer: a single-user file of 20,000 rows
//     (200,000) written by the Jet writer, into the embedded engine;
//   - the data-set import: a data file of 1,000,000 rows (10,000,000), loaded
//     with ImportTableData into the embedded engine (the load caps SQLite's
//     page cache at 64 MB: the smaller input is already past it);
//   - the schema check: a schema script of 100 tables and an update script
//     of 10 version blocks (100), each adding a column and an index, checked
//     against a database they made holding 100 rows a table (1,000).
// The parent writes every input first, so a child measures its operation
// alone.

#include "common/UiPort.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "config/mdlEncode.h"
#include "config/mdlOVSqlServerAccess.h"
#include "config/mdlOVSqlServerConnect.h"
#include "convert/TableTransfer.h"
#include "create/DataImport.h"
#include "data/Connection.h"
#include "data/Recordset.h"
#include "data/ServerAdmin.h"
#include "jet/writer/Writer.h"
#include "update/SchemaCheck.h"
#include "update/UpdateScript.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

namespace {

constexpr int kTransferRows = 20000;
constexpr int kImportRows = 1000000;
constexpr int kTables = 100;
constexpr int kColumns = 10;
constexpr int kBlocks = 10;
constexpr int kRowsPerTable = 100;

[[noreturn]] void fail(const QString& what)
{
    std::fprintf(stderr, "scale: %s\n", qPrintable(what));
    std::exit(1);
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        fail(QStringLiteral("cannot write ") + path);
}

long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A fresh embedded database NAME in folder holding batch.
std::unique_ptr<ov::Connection> makeDatabase(const QString& folder, const QString& name, const QString& batch)
{
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const QString server = QStringLiteral("sqlite:") + folder;
    auto admin = ov::ServerAdmin::create(server, true, QString(), QString());
    if (!admin->createDatabase(name))
        fail(QStringLiteral("cannot create ") + name);
    auto cn = mdlOVSqlServer::ConnectToDBFile(server, name, true, QString(), QString());
    if (!cn || (!batch.isEmpty() && !cn->Execute(batch)))
        fail(QStringLiteral("cannot fill ") + name);
    return cn;
}

qint64 count(ov::Connection& cn, const QString& table)
{
    ov::Recordset rs;
    if (!rs.Open(QStringLiteral("SELECT COUNT(*) FROM ") + table, cn))
        return -1;
    return rs.Fields(0).Value().toLongLong();
}

const QString kTable =
    QStringLiteral("CREATE TABLE tblCompany ([CompanyID] INT NOT NULL PRIMARY KEY, "
                   "[CompanyName] NVARCHAR(100), [City] NVARCHAR(50), [CreateDate] DATETIME, "
                   "[Remark] NVARCHAR(1000))");

// ---- inputs, written by the parent ----

void makeTransferInput(const QString& folder, int scale)
{
    QDir().mkpath(folder);
    jet::Writer w(folder + QStringLiteral("/file.cdb"));
    w.setPassword(mdlEncode::UnscrambleText(mdlEncode::kScrambledFilePassword, mdlEncode::kFileKey, true));
    w.addTable(QStringLiteral("tblCompany"), {{QStringLiteral("CompanyID"), jet::ColumnType::Long},
                                              {QStringLiteral("CompanyName"), jet::ColumnType::Text, 100},
                                              {QStringLiteral("City"), jet::ColumnType::Text, 50},
                                              {QStringLiteral("CreateDate"), jet::ColumnType::DateTime},
                                              {QStringLiteral("Remark"), jet::ColumnType::Memo}});
    const QDateTime base(QDate(2020, 1, 1), QTime(9, 0));
    for (int i = 1; i <= kTransferRows * scale; ++i)
        w.addRow(QStringLiteral("tblCompany"),
                 {i, QStringLiteral("华信科技有限公司%1").arg(i), QStringLiteral("北京"),
                  base.addSecs(i * 60), QStringLiteral("客户对价格比较敏感，需要准备详细的报价方案。")});
    QString error;
    if (!w.save(&error))
        fail(error);
}

void makeImportInput(const QString& folder, int scale)
{
    QDir().mkpath(folder + QStringLiteral("/set"));
    writeFile(folder + QStringLiteral("/set/tables.txt"), "tblCompany\r\n");
    QFile f(folder + QStringLiteral("/set/tblCompany.dat"));
    if (!f.open(QIODevice::WriteOnly))
        fail(QStringLiteral("cannot write the data file"));
    QByteArray chunk;
    for (int i = 1; i <= kImportRows * scale; ++i) {
        chunk += QByteArray::number(i) + "\tcompany " + QByteArray::number(i) +
                 "\tBeijing\t2020-01-01 09:00:00\tremark of the company\r\n";
        if (chunk.size() > (1 << 20)) {
            f.write(chunk);
            chunk.clear();
        }
    }
    f.write(chunk);
}

// The schema script (the version table and kTables × scale tables), the
// update script (kBlocks × scale blocks, each adding a column to
// kTables / kBlocks tables), and a database both made.
void makeSchemaInput(const QString& folder, int scale)
{
    QDir().mkpath(folder);
    QByteArray empty =
        "CREATE TABLE tblVarible ([Module] NVARCHAR(50), VaribleName NVARCHAR(100), VaribleValue "
        "NVARCHAR(255), UserID NVARCHAR(50))\r\nGO\r\n";
    for (int t = 1; t <= kTables; ++t) {
        empty += "CREATE TABLE tbl" + QByteArray::number(t) + " (id INT NOT NULL PRIMARY KEY";
        for (int c = 1; c < kColumns; ++c)
            empty += ", col" + QByteArray::number(c) + (c % 2 ? " NVARCHAR(50)" : " INT");
        empty += ")\r\nGO\r\n";
    }
    // Each block adds a column to one table, indexes it and records its
    // version.
    QByteArray update;
    for (int b = 1; b <= kBlocks * scale; ++b) {
        const QByteArray table = "tbl" + QByteArray::number((b - 1) % kTables + 1);
        const QByteArray column = "added" + QByteArray::number(b);
        update += "--<V:" + QByteArray::number(b) + ">\r\n";
        update += "ALTER TABLE " + table + " ADD " + column + " INT\r\nGO\r\n";
        update += "CREATE INDEX IX_" + column + " ON " + table + " (" + column + ")\r\nGO\r\n";
        update += "UPDATE tblVarible SET [VaribleValue] = '" + QByteArray::number(b) +
                  "' WHERE [Module] = 'DB' AND [VaribleName] = 'Version'\r\nGO\r\n";
        update += "--</V:" + QByteArray::number(b) + ">\r\n";
    }
    writeFile(folder + QStringLiteral("/empty.txt"), empty);
    writeFile(folder + QStringLiteral("/update.txt"), update);

    const QString server = QStringLiteral("sqlite:") + folder + QStringLiteral("/data");
    makeDatabase(folder + QStringLiteral("/data"), QStringLiteral("crm"), QString());
    ov::PlainStatusLabel status;
    ov::PlainProgressBar progress;
    if (!mdlOVSqlUpdateDB::RunUpdateScript(server, QStringLiteral("crm"), true, QString(), QString(),
                                           folder + QStringLiteral("/empty.txt"), status, progress))
        fail(QStringLiteral("the schema script failed"));
    auto cn = mdlOVSqlServer::ConnectToDBFile(server, QStringLiteral("crm"), true, QString(), QString());
    if (!cn || !cn->Execute(QStringLiteral("INSERT INTO tblVarible VALUES ('DB', 'Version', '0', '')")))
        fail(QStringLiteral("cannot record the version"));
    for (int t = 1; t <= kTables; ++t) {
        QString columns = QStringLiteral("i");
        for (int c = 1; c < kColumns; ++c)
            columns += c % 2 ? QStringLiteral(", 'value ' || i") : QStringLiteral(", i");
        if (!cn->Execute(
                QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < "
                               "%1) INSERT INTO tbl%2 SELECT %3 FROM n")
                    .arg(kRowsPerTable * scale)
                    .arg(t)
                    .arg(columns)))
            fail(QStringLiteral("cannot fill the tables: ") + cn->lastError().description);
    }
    cn->Close();
    if (!mdlOVSqlUpdateDB::RunUpdateScript(server, QStringLiteral("crm"), true, QString(), QString(),
                                           folder + QStringLiteral("/update.txt"), status, progress))
        fail(QStringLiteral("the update script failed"));
}

// ---- the operations, each in a child ----

void transfer(const QString& folder, int scale)
{
    auto target = makeDatabase(folder + QStringLiteral("/data"), QStringLiteral("crm"), kTable);
    auto cnFile = mdlOVSqlServer::ConnectToDBAccess(folder + QStringLiteral("/file.cdb"));
    if (!cnFile)
        fail(QStringLiteral("cannot open the single-user file"));
    ov::PlainStatusLabel status;
    ov::PlainProgressBar progress;
    if (!mdlOVSqlUpdateDB::TransferDataFormCnToCn(
            cnFile.get(), target.get(), {QString(), QStringLiteral("tblCompany")}, status, progress) ||
        count(*target, QStringLiteral("tblCompany")) != kTransferRows * scale)
        fail(QStringLiteral("the transfer failed"));
}

void import(const QString& folder, int scale)
{
    auto target = makeDatabase(folder + QStringLiteral("/data"), QStringLiteral("crm"), kTable);
    ov::PlainStatusLabel status;
    ov::PlainProgressBar progress;
    if (!mdlOVSqlUpdateDB::ImportTableData(QStringLiteral("sqlite:") + folder + QStringLiteral("/data"),
                                           QStringLiteral("crm"), true, QString(), QString(),
                                           folder + QStringLiteral("/set"), status, progress) ||
        count(*target, QStringLiteral("tblCompany")) != kImportRows * scale)
        fail(QStringLiteral("the import failed"));
}

void schemaCheck(const QString& folder, int scale)
{
    auto cn = mdlOVSqlServer::ConnectToDBFile(QStringLiteral("sqlite:") + folder + QStringLiteral("/data"),
                                              QStringLiteral("crm"), true, QString(), QString());
    if (!cn)
        fail(QStringLiteral("cannot open the checked database"));
    const mdlOVSqlUpdateDB::SchemaCheckResult result = mdlOVSqlUpdateDB::CheckSchema(
        *cn, folder + QStringLiteral("/empty.txt"), folder + QStringLiteral("/update.txt"));
    if (result.status != mdlOVSqlUpdateDB::SchemaCheckResult::Status::Complete)
        fail(QStringLiteral("the check did not find the database complete: ") + result.error +
             mdlOVSqlUpdateDB::SchemaReportText(result));
    if (result.version != QString::number(kBlocks * scale))
        fail(QStringLiteral("the check read version ") + result.version);
}

long measureInChild(const QString& self, const QString& kind, const QString& folder, int scale)
{
    QProcess p;
    p.start(self, {QStringLiteral("--memory"), kind, folder, QString::number(scale)});
    if (!p.waitForFinished(-1) || p.exitCode() != 0)
        fail(QStringLiteral("the %1 run failed: ").arg(kind) +
             QString::fromLocal8Bit(p.readAllStandardError()));
    return p.readAllStandardOutput().trimmed().toLong();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    // "--make KIND FOLDER SCALE" writes one input and keeps it, for a run of
    // "--memory KIND FOLDER SCALE" under heaptrack or massif.
    if (args.size() == 5 && args[1] == QLatin1String("--make")) {
        mdlOVSqlUpdateDB::gstrAppPath = args[3] + QLatin1Char('/');
        const int scale = args[4].toInt();
        if (args[2] == QLatin1String("transfer"))
            makeTransferInput(args[3], scale);
        else if (args[2] == QLatin1String("import"))
            makeImportInput(args[3], scale);
        else
            makeSchemaInput(args[3], scale);
        return 0;
    }
    if (args.size() == 5 && args[1] == QLatin1String("--memory")) {
        const QString kind = args[2];
        const QString folder = args[3];
        const int scale = args[4].toInt();
        mdlOVSqlUpdateDB::gstrAppPath = folder + QLatin1Char('/');
        if (kind == QLatin1String("transfer"))
            transfer(folder, scale);
        else if (kind == QLatin1String("import"))
            import(folder, scale);
        else
            schemaCheck(folder, scale);
        std::printf("%ld\n", peakKilobytes());
        return 0;
    }

    QTemporaryDir dir;
    if (!dir.isValid())
        fail(QStringLiteral("no temporary folder"));
    mdlOVSqlUpdateDB::gstrAppPath = dir.path() + QLatin1Char('/');
    const QString self = app.applicationFilePath();
    struct Work
    {
        const char* kind;
        const char* line;
        void (*make)(const QString&, int);
        const char* unit;
        int size;
    };
    const Work works[] = {
        {"transfer", "transfer peak memory", makeTransferInput, "rows", kTransferRows},
        {"import", "import peak memory", makeImportInput, "rows", kImportRows},
        {"schema", "schema check peak memory", makeSchemaInput, "version blocks", kBlocks},
    };
    for (const Work& w : works) {
        long peaks[2] = {};
        for (int i = 0; i < 2; ++i) {
            const int scale = i == 0 ? 1 : 10;
            const QString folder = dir.filePath(QStringLiteral("%1%2").arg(QLatin1String(w.kind)).arg(scale));
            w.make(folder, scale);
            peaks[i] = measureInChild(self, QLatin1String(w.kind), folder, scale);
            QDir(folder).removeRecursively();
        }
        std::printf("%s: 1x input (%d %s) %.1f MB, 10x input (%d %s) %.1f MB, ratio %.2f\n", w.line, w.size,
                    w.unit, peaks[0] / 1024.0, w.size * 10, w.unit, peaks[1] / 1024.0,
                    double(peaks[1]) / double(peaks[0]));
        std::fflush(stdout);
    }
    return 0;
}
