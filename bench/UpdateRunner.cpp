// The update script runner against the sqlite3 shell: a generated script of
// 200,000 lines in 2,000 version blocks with 20,000 batches, run on a fresh
// embedded database; the shell runs the same statements (GO lines removed,
// each block between BEGIN and COMMIT as the runner's "--<VT:" blocks are) on
// a fresh database of its own. The run is the update task's: the runner, then
// the schema check against the program folder's OVScriptEmpty.txt (the
// benchmark's two tables) and the script. Then the runner's peak memory for
// the script and for one ten times as long, each in a process of its own.

#include "common/UiPort.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "data/Connection.h"
#include "update/UpdateCheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

namespace {

constexpr int kBlocks = 2000;
constexpr int kBatchesPerBlock = 10;

// Writes the script: per block a start marker, 88 INSERT lines in 10 batches
// and an end marker, 100 lines. For the shell the markers become BEGIN and
// COMMIT and the GO lines go.
void writeScript(const QString& path, int scale, bool forShell)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    QByteArray chunk;
    qint64 id = 0;
    for (int block = 1; block <= kBlocks * scale; ++block) {
        chunk += forShell ? QByteArray("BEGIN;\r\n") : "--<VT:1." + QByteArray::number(block) + ">\r\n";
        for (int batch = 0; batch < kBatchesPerBlock; ++batch) {
            const int statements = batch < 8 ? 9 : 8;
            for (int s = 0; s < statements; ++s) {
                ++id;
                chunk += "INSERT INTO t (id, name, amount) VALUES (" + QByteArray::number(id) +
                         ", 'customer " + QByteArray::number(id) + "', " + QByteArray::number(id % 1000) +
                         ");\r\n";
            }
            if (!forShell)
                chunk += "GO\r\n";
        }
        chunk += forShell ? QByteArray("COMMIT;\r\n") : "--</V:1." + QByteArray::number(block) + ">\r\n";
        if (chunk.size() > (1 << 20)) {
            f.write(chunk);
            chunk.clear();
        }
    }
    f.write(chunk);
}

// A fresh database FOLDER/NAME.sqlite with the version table (indexed as the
// shipped schema script makes it) at "0" and the table the script fills.
void makeDatabase(const QString& folder, const QString& name)
{
    QDir().mkpath(folder);
    QFile(folder + QLatin1Char('/') + name + QStringLiteral(".sqlite")).open(QIODevice::WriteOnly);
    ov::Connection cn;
    if (!cn.Open(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=%2").arg(folder, name)) ||
        !cn.Execute(
            QStringLiteral("CREATE TABLE tblVarible ([Module] NVARCHAR(50), VaribleName NVARCHAR(100), "
                           "VaribleValue NVARCHAR(255), UserID NVARCHAR(50)); "
                           "CREATE INDEX IX_tblVarible_Name ON tblVarible ([Module], [VaribleName]); "
                           "INSERT INTO tblVarible VALUES ('DB', 'Version', '0', ''); "
                           "CREATE TABLE t (id INT PRIMARY KEY, name NVARCHAR(50), amount INT)")))
        qFatal("cannot make the database: %s", qPrintable(cn.lastError().description));
}

// The schema script of the program folder: the tables makeDatabase makes.
void writeSchemaScript(const QString& folder)
{
    QFile f(folder + QStringLiteral("/OVScriptEmpty.txt"));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        f.write("CREATE TABLE tblVarible ([Module] NVARCHAR(50), VaribleName NVARCHAR(100), "
                "VaribleValue NVARCHAR(255), UserID NVARCHAR(50))\r\nGO\r\n"
                "CREATE TABLE t (id INT PRIMARY KEY, name NVARCHAR(50), amount INT)\r\nGO\r\n") < 0)
        qFatal("cannot write the schema script");
}

bool runScript(const QString& folder, const QString& script)
{
    mdlOVSqlUpdateDB::gstrAppPath = folder + QLatin1Char('/');
    writeSchemaScript(folder);
    ov::PlainStatusLabel status;
    ov::PlainProgressBar progress;
    return mdlOVSqlUpdateDB::RunUpdateAndCheck(QStringLiteral("sqlite:") + folder + QStringLiteral("/data"),
                                               QStringLiteral("bench"), true, QString(), QString(), script,
                                               status, progress)
        .completed();
}

long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Peak memory of a run of the script at the given scale, in a process of its own.
long measureInChild(const QString& self, const QString& folder, int scale)
{
    QProcess p;
    p.start(self, {QStringLiteral("--memory"), folder, QString::number(scale)});
    if (!p.waitForFinished(-1) || p.exitCode() != 0)
        qFatal("the memory run failed: %s", p.readAllStandardError().constData());
    return p.readAllStandardOutput().trimmed().toLong();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();

    if (args.size() == 4 && args[1] == QLatin1String("--memory")) {
        const QString folder = args[2];
        const int scale = args[3].toInt();
        const QString script = folder + QStringLiteral("/script.txt");
        QDir().mkpath(folder);
        writeScript(script, scale, false);
        makeDatabase(folder + QStringLiteral("/data"), QStringLiteral("bench"));
        if (!runScript(folder, script))
            return 1;
        std::printf("%ld\n", peakKilobytes());
        return 0;
    }

    QTemporaryDir dir;
    if (!dir.isValid())
        qFatal("no temporary folder");
    const QString script = dir.filePath(QStringLiteral("script.txt"));
    const QString shellScript = dir.filePath(QStringLiteral("shell.sql"));
    writeScript(script, 1, false);
    writeScript(shellScript, 1, true);

    // Three runs of each side, alternating, each on a fresh database; the best
    // of each counts, as every commit waits for the disk and a single run
    // mostly measures the disk's mood.
    double oursSeconds = -1;
    double peerSeconds = -1;
    for (int run = 0; run < 3; ++run) {
        const QString ours = dir.filePath(QStringLiteral("ours%1").arg(run));
        const QString peer = dir.filePath(QStringLiteral("peer%1").arg(run));
        makeDatabase(ours + QStringLiteral("/data"), QStringLiteral("bench"));
        makeDatabase(peer, QStringLiteral("peer"));

        QElapsedTimer timer;
        timer.start();
        if (!runScript(ours, script))
            qFatal("the runner failed");
        const double a = timer.nsecsElapsed() / 1e9;

        QProcess shell;
        shell.setStandardInputFile(shellScript);
        timer.restart();
        shell.start(QStringLiteral("sqlite3"),
                    {QStringLiteral("-bail"), peer + QStringLiteral("/peer.sqlite")});
        if (!shell.waitForFinished(-1) || shell.exitCode() != 0)
            qFatal("sqlite3 failed: %s", shell.readAllStandardError().constData());
        const double b = timer.nsecsElapsed() / 1e9;

        // Both must have done the same work.
        for (const QString& file :
             {ours + QStringLiteral("/data/bench.sqlite"), peer + QStringLiteral("/peer.sqlite")}) {
            QProcess count;
            count.start(QStringLiteral("sqlite3"), {file, QStringLiteral("SELECT COUNT(*) FROM t")});
            count.waitForFinished(-1);
            const qint64 rows = count.readAllStandardOutput().trimmed().toLongLong();
            if (rows != qint64(kBlocks) * 88)
                qFatal("%s holds %lld rows instead of %d", qPrintable(file), rows, kBlocks * 88);
        }
        oursSeconds = oursSeconds < 0 ? a : qMin(oursSeconds, a);
        peerSeconds = peerSeconds < 0 ? b : qMin(peerSeconds, b);
    }

    std::printf("update runner, 200000 lines / 2000 version blocks / 20000 batches: ours %.3f s, "
                "sqlite3 shell %.3f s, ratio %.2f\n",
                oursSeconds, peerSeconds, oursSeconds / peerSeconds);
    std::fflush(stdout);

    const QString self = app.applicationFilePath();
    const long one = measureInChild(self, dir.filePath(QStringLiteral("mem1")), 1);
    const long ten = measureInChild(self, dir.filePath(QStringLiteral("mem10")), 10);
    std::printf("update runner peak memory: 1x script %.1f MB, 10x script %.1f MB, ratio %.2f\n",
                one / 1024.0, ten / 1024.0, double(ten) / double(one));
    return 0;
}
