// Backup and restore of a 500 MB embedded database against the sqlite3
// shell's .backup and .restore on the same database file in the same run:
// ours is the backup window's and the restore window's operation
// (mdlOVSqlBackup::DoBackup, mdlOVSqlRestore::RestoreDatabase with the
// replace option), the shell copies the same file with SQLite's backup API.
// Each side runs twice, alternating, and its faster run counts.

#include "backup/mdlOVSqlBackup.h"
#include "backup/mdlOVSqlRestore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

// 376,000 rows of a 1,000-byte payload, a name and an index on it: about 500 MB.
constexpr int kRows = 376000;

void shell(const QString& database, const QString& command)
{
    QProcess p;
    p.start(QStringLiteral("sqlite3"), {database, command});
    if (!p.waitForFinished(-1) || p.exitCode() != 0)
        qFatal("sqlite3 %s failed: %s", qPrintable(command), p.readAllStandardError().constData());
}

double seconds(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        qFatal("no temporary folder");
    QDir(dir.path()).mkpath(QStringLiteral("data"));
    QDir(dir.path()).mkpath(QStringLiteral("bak"));
    const QString server = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("data"));
    const QString database = dir.filePath(QStringLiteral("data/crm.sqlite"));
    shell(database,
          QStringLiteral("PRAGMA application_id=1330004034; "
                         "CREATE TABLE t (id INTEGER PRIMARY KEY, name TEXT, payload BLOB); "
                         "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < %1) "
                         "INSERT INTO t SELECT x, 'customer ' || x, randomblob(1000) FROM c; "
                         "CREATE INDEX t_name ON t (name);")
              .arg(kRows));
    const double megabytes = double(QFileInfo(database).size()) / (1 << 20);

    const QString ours = dir.filePath(QStringLiteral("bak/ours.dat"));
    const QString peer = dir.filePath(QStringLiteral("bak/peer.dat"));
    double oursBackup = 1e30, oursRestore = 1e30, peerBackup = 1e30, peerRestore = 1e30;
    for (int round = 0; round < 2; ++round) {
        QElapsedTimer t;
        t.start();
        shell(database, QStringLiteral(".backup '%1'").arg(peer));
        peerBackup = std::min(peerBackup, seconds(t));

        t.restart();
        // The shell's .backup overwrites its file; ours is asked to.
        if (!mdlOVSqlBackup::DoBackup(server, QStringLiteral("crm"), true, QString(), QString(), ours,
                                      mdlOVSqlBackup::IfExists::Replace))
            qFatal("backup failed");
        oursBackup = std::min(oursBackup, seconds(t));

        t.restart();
        shell(database, QStringLiteral(".restore '%1'").arg(peer));
        peerRestore = std::min(peerRestore, seconds(t));

        t.restart();
        const QString error =
            mdlOVSqlRestore::RestoreDatabase(server, QStringLiteral("crm"), QString(), QString(), ours,
                                             {QStringLiteral("crm")}, {database}, true, true);
        if (!error.isEmpty())
            qFatal("restore failed: %s", qPrintable(error));
        oursRestore = std::min(oursRestore, seconds(t));
    }
    std::printf(
        "backup of a %.0f MB embedded database: ours %.3f s, sqlite3 shell .backup %.3f s, ratio %.2f\n",
        megabytes, oursBackup, peerBackup, oursBackup / peerBackup);
    std::printf(
        "restore of a %.0f MB embedded database: ours %.3f s, sqlite3 shell .restore %.3f s, ratio %.2f\n",
        megabytes, oursRestore, peerRestore, oursRestore / peerRestore);
    std::printf("backup and restore, %.0f MB: ours %.3f s, sqlite3 shell %.3f s, ratio %.2f\n", megabytes,
                oursBackup + oursRestore, peerBackup + peerRestore,
                (oursBackup + oursRestore) / (peerBackup + peerRestore));
    return 0;
}
