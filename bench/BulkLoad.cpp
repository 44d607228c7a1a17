// Bulk load benchmark: one million rows of a tab-delimited, CR LF file (the
// shape of the shipped data sets, Chinese names in code page 936) loaded into
// a table of the embedded engine, against the sqlite3 shell's ".import" of
// the same file into the same table. Each side runs three times into a fresh
// database; the best time of each counts.

#include "common/Cp936.h"
#include "data/Connection.h"
#include "data/ServerAdmin.h"

#include "Sqlite3Shell.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

namespace {

using ovbench::runShell;
using ovbench::sqlite3Shell;

const char* const kSchema = "CREATE TABLE tblContact (ID INT NOT NULL PRIMARY KEY, Name NVARCHAR(50), "
                            "Phone NVARCHAR(20), Email NVARCHAR(50), Amount DECIMAL(12,2), Created DATETIME, "
                            "Note NVARCHAR(100))";

bool makeData(const QString& path, qint64 rows)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    const QStringList surnames = {QStringLiteral("张"), QStringLiteral("王"), QStringLiteral("李"),
                                  QStringLiteral("赵"), QStringLiteral("陈"), QStringLiteral("刘")};
    QByteArray chunk;
    for (qint64 i = 1; i <= rows; ++i) {
        chunk += QByteArray::number(i) + '\t';
        chunk +=
            ov::cp936::encode(surnames[int(i % surnames.size())] + QStringLiteral("客户%1").arg(i % 997)) +
            '\t';
        chunk += "138" + QByteArray::number(10000000 + i % 89999999) + '\t';
        chunk += "user" + QByteArray::number(i) + "@example.com\t";
        chunk += QByteArray::number(i % 100000) + '.' + QByteArray::number(10 + i % 90) + '\t';
        chunk +=
            "2026-" + QByteArray::number(10 + i % 3) + '-' + QByteArray::number(10 + i % 18) + " 12:34:56\t";
        chunk += "note for row " + QByteArray::number(i) + "\r\n";
        if (chunk.size() > (1 << 20)) {
            f.write(chunk);
            chunk.clear();
        }
    }
    f.write(chunk);
    return true;
}

// Our load into a fresh database; returns seconds, or -1.
double ours(const QString& folder, const QString& data, qint64 rows)
{
    // An embedded server is a folder that exists.
    QDir().mkpath(folder);
    auto admin = ov::ServerAdmin::create(QStringLiteral("sqlite:") + folder, true, QString(), QString());
    if (!admin->probe() || !admin->createDatabase(QStringLiteral("bench")))
        return -1;
    {
        ov::Connection cn;
        if (!cn.Open(QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Initial Catalog=bench;"
                                    "Data Source=sqlite:") +
                     folder) ||
            !cn.Execute(QLatin1String(kSchema)))
            return -1;
    }
    ov::BulkLoadResult counts;
    QElapsedTimer t;
    t.start();
    const bool ok = admin->bulkLoad(QStringLiteral("bench"), QStringLiteral("tblContact"), data,
                                    folder + QStringLiteral("/tblContact.log"),
                                    folder + QStringLiteral("/tblContact.err"), &counts);
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    if (!ok || counts.rowsCopied != rows || counts.rowsRejected != 0) {
        std::fprintf(stderr, "bulk load: %s (%lld copied, %lld rejected)\n",
                     admin->lastError().description.toLocal8Bit().constData(), counts.rowsCopied,
                     counts.rowsRejected);
        return -1;
    }
    return seconds;
}

// The sqlite3 shell's import into a fresh database; returns seconds, or -1.
double peer(const QString& db, const QString& data, qint64 rows)
{
    if (!runShell(db, QByteArray(kSchema) + ";\n"))
        return -1;
    QElapsedTimer t;
    t.start();
    const bool ok = runShell(db, ".mode tabs\n.import '" + QFile::encodeName(data) + "' tblContact\n");
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    QByteArray count;
    if (!ok || !runShell(db, "SELECT count(*) FROM tblContact;\n", &count) ||
        count.trimmed().toLongLong() != rows)
        return -1;
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 rows = 1000000;
    if (sqlite3Shell().isEmpty()) {
        std::fprintf(stderr, "bulk-load: the sqlite3 shell is not installed\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("tblContact.dat"));
    if (!dir.isValid() || !makeData(data, rows)) {
        std::fprintf(stderr, "bulk-load: cannot write the data file\n");
        return 1;
    }
    double best = -1;
    double bestPeer = -1;
    for (int run = 0; run < 3; ++run) {
        const double a = ours(dir.filePath(QStringLiteral("ours%1").arg(run)), data, rows);
        const double b = peer(dir.filePath(QStringLiteral("peer%1.db").arg(run)), data, rows);
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "bulk-load: a run failed\n");
            return 1;
        }
        best = best < 0 ? a : qMin(best, a);
        bestPeer = bestPeer < 0 ? b : qMin(bestPeer, b);
    }
    std::printf(
        "bulk-load %lld rows into the embedded engine: ours %.3f s, sqlite3 .import %.3f s, ratio %.2f\n",
        rows, best, bestPeer, best / bestPeer);
    return 0;
}
