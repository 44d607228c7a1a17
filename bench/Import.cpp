// Data import benchmark: the shipped demo data set scaled to one million rows
// (every table copied over and over, the numbers of each copy moved past the
// ones before so that keys stay unique and rows point into their own copy)
// and loaded with ImportTableData into a database of the embedded engine
// that holds the shipped schema, against the sqlite3 shell's ".import" of the
// same files into a copy of the same empty database. Each side runs three
// times into a fresh copy; the best time of each counts.

#include "common/Cp936.h"
#include "common/UiPort.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "create/DataImport.h"
#include "data/Connection.h"
#include "data/Recordset.h"
#include "data/ServerAdmin.h"
#include "update/UpdateScript.h"

#include "Sqlite3Shell.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <map>

namespace {

using ovbench::runShell;
using ovbench::sqlite3Shell;

const qint64 kRows = 1000000;

// The number columns of each table that are moved on in every copy, and by
// how much: more than the largest number of the shipped table.
struct Shift
{
    int column;
    qint64 step;
};
const std::map<QString, QList<Shift>> kShifts = {
    {QStringLiteral("tblUser"), {{0, 100}}},
    {QStringLiteral("tblCompany"), {{0, 1000}, {10, 100}}},
    {QStringLiteral("tblContact"), {{0, 1000}, {1, 1000}, {10, 100}}},
    {QStringLiteral("tblActivity"), {{0, 10000}, {1, 1000}, {2, 1000}, {3, 100}}},
};

QList<QByteArray> readRows(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> rows = f.readAll().split('\n');
    QList<QByteArray> out;
    for (QByteArray& r : rows) {
        if (r.endsWith('\r'))
            r.chop(1);
        if (!r.isEmpty())
            out.append(r);
    }
    return out;
}

// Writes the scaled data set into folder; returns the number of rows, or -1.
qint64 makeDataSet(const QString& demo, const QString& folder, QStringList& tables)
{
    QStringList list;
    if (!mdlOVSqlUpdateDB::ReadListFile(demo + QStringLiteral("tables.txt"), list))
        return -1;
    tables = list.mid(1);
    std::map<QString, QList<QByteArray>> shipped;
    qint64 perCopy = 0;
    for (const QString& t : tables) {
        shipped[t] = readRows(demo + t + QStringLiteral(".dat"));
        perCopy += shipped[t].size();
    }
    if (perCopy == 0)
        return -1;
    const qint64 copies = (kRows + perCopy - 1) / perCopy;
    qint64 total = 0;
    for (const QString& t : tables) {
        QFile out(folder + t + QStringLiteral(".dat"));
        if (!out.open(QIODevice::WriteOnly))
            return -1;
        const auto found = kShifts.find(t);
        const QList<Shift> shifts = found == kShifts.end() ? QList<Shift>() : found->second;
        QByteArray chunk;
        for (qint64 k = 0; k < copies; ++k) {
            for (const QByteArray& row : shipped[t]) {
                if (shifts.isEmpty()) {
                    chunk += row;
                } else {
                    QList<QByteArray> fields = row.split('\t');
                    for (const Shift& s : shifts) {
                        if (!fields[s.column].isEmpty())
                            fields[s.column] = QByteArray::number(fields[s.column].toLongLong() + k * s.step);
                    }
                    chunk += fields.join('\t');
                }
                chunk += "\r\n";
                ++total;
            }
            if (chunk.size() > (1 << 20)) {
                out.write(chunk);
                chunk.clear();
            }
        }
        out.write(chunk);
    }
    QFile listFile(folder + QStringLiteral("tables.txt"));
    if (!listFile.open(QIODevice::WriteOnly))
        return -1;
    listFile.write(tables.join(QStringLiteral("\r\n")).toLatin1() + "\r\n");
    return total;
}

qint64 countRows(const QString& db, const QStringList& tables)
{
    QByteArray sql = "SELECT 0";
    for (const QString& t : tables)
        sql += " + (SELECT COUNT(*) FROM " + t.toLatin1() + ")";
    QByteArray out;
    return runShell(db, sql + ";\n", &out) ? out.trimmed().toLongLong() : -1;
}

// The empty product database: the shipped schema script run by our runner.
bool makeTemplate(const QString& folder, const QString& script)
{
    // An embedded server is a folder that exists.
    QDir().mkpath(folder);
    auto admin = ov::ServerAdmin::create(QStringLiteral("sqlite:") + folder, true, QString(), QString());
    ov::PlainStatusLabel status;
    ov::PlainProgressBar progress;
    return admin->probe() && admin->createDatabase(QStringLiteral("template")) &&
           mdlOVSqlUpdateDB::RunUpdateScript(QStringLiteral("sqlite:") + folder, QStringLiteral("template"),
                                             true, QString(), QString(), script, status, progress);
}

double ours(const QString& folder, const QString& templ, const QString& data, const QStringList& tables,
            qint64 rows)
{
    QDir().mkpath(folder);
    if (!QFile::copy(templ, folder + QStringLiteral("/bench.sqlite")))
        return -1;
    ov::PlainStatusLabel status;
    ov::PlainProgressBar progress;
    QElapsedTimer t;
    t.start();
    const bool ok =
        mdlOVSqlUpdateDB::ImportTableData(QStringLiteral("sqlite:") + folder, QStringLiteral("bench"), true,
                                          QString(), QString(), data, status, progress);
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    const qint64 loaded = countRows(folder + QStringLiteral("/bench.sqlite"), tables);
    if (!ok || loaded != rows) {
        std::fprintf(stderr, "import: %lld of %lld rows loaded\n", loaded, rows);
        return -1;
    }
    return seconds;
}

double peer(const QString& db, const QString& templ, const QString& data, const QStringList& tables,
            qint64 rows)
{
    if (!QFile::copy(templ, db))
        return -1;
    QByteArray script = ".mode tabs\n";
    for (const QString& t : tables)
        script +=
            ".import '" + QFile::encodeName(data + t + QStringLiteral(".dat")) + "' " + t.toLatin1() + "\n";
    QElapsedTimer t;
    t.start();
    const bool ok = runShell(db, script);
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    if (!ok || countRows(db, tables) != rows)
        return -1;
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (sqlite3Shell().isEmpty()) {
        std::fprintf(stderr, "import: the sqlite3 shell is not installed\n");
        return 1;
    }
    const QString dist = QStringLiteral(OV_SOURCE_DIR "/dist/");
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("set")) + QLatin1Char('/');
    QStringList tables;
    QDir().mkpath(data);
    // The runner and the import write the update log into the program
    // folder: the temporary one, never the current folder.
    mdlOVSqlUpdateDB::gstrAppPath = dir.path() + QLatin1Char('/');
    const qint64 rows =
        dir.isValid() ? makeDataSet(dist + QStringLiteral("DBDataFiles/Demo/"), data, tables) : qint64(-1);
    if (rows < 0 ||
        !makeTemplate(dir.filePath(QStringLiteral("template")), dist + QStringLiteral("OVScriptEmpty.txt"))) {
        std::fprintf(stderr, "import: cannot make the data set or the empty database\n");
        return 1;
    }
    const QString templ = dir.filePath(QStringLiteral("template/template.sqlite"));

    double best = -1;
    double bestPeer = -1;
    for (int run = 0; run < 3; ++run) {
        const double a = ours(dir.filePath(QStringLiteral("ours%1").arg(run)), templ, data, tables, rows);
        const double b = peer(dir.filePath(QStringLiteral("peer%1.db").arg(run)), templ, data, tables, rows);
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "import: a run failed\n");
            return 1;
        }
        best = best < 0 ? a : qMin(best, a);
        bestPeer = bestPeer < 0 ? b : qMin(bestPeer, b);
    }
    std::printf(
        "import of the demo data set scaled to %lld rows in %lld tables: ours %.3f s, sqlite3 .import "
        "%.3f s, ratio %.2f\n",
        rows, qint64(tables.size()), best, bestPeer, best / bestPeer);
    return 0;
}
