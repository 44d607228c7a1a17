// ovsqlcli backup and restore killed with SIGKILL at random moments: after
// each kill the target is the old or the new database or backup, whole and
// sound, and no other file was touched.

#include "FaultSupport.h"
#include "config/ConfigFiles.h"
#include "data/ServerAdmin.h"
#include "support/CliProgram.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>

#include <sqlite3.h>

using namespace ovtest;

namespace {

// Rows of a kilobyte each: a database of a few megabytes, so that a kill
// falls inside the copy more often than not.
constexpr int kRows = 6000;

// The part files (".NAME.XXXXXX.part") of a folder.
QStringList partFilesIn(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden, QDir::Name);
}

// The tables of the backup's own description ("_ov_…") that a database file
// holds, joined by ","; "<…>" when the file cannot be read.
QString bookkeepingTables(const QString& file)
{
    sqlite3* db = nullptr;
    QString result;
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        result = QStringLiteral("<cannot open>");
    } else {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db,
                               "SELECT group_concat(name) FROM sqlite_master WHERE name LIKE '\\_ov\\_%' "
                               "ESCAPE '\\'",
                               -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW)
            result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        else
            result = QStringLiteral("<%1>").arg(QString::fromUtf8(sqlite3_errmsg(db)));
        sqlite3_finalize(stmt);
    }
    sqlite3_close_v2(db);
    return result;
}

// The number of rows of t in a database or backup file, after the file
// passed PRAGMA integrity_check; a text saying what is wrong otherwise. The
// file is opened for writing, as the engine opens it, so a transaction a
// killed writer left behind is rolled back first.
QString soundRows(const QString& file)
{
    if (!QFileInfo::exists(file))
        return QStringLiteral("<missing>");
    sqlite3* db = nullptr;
    QString result;
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
        result = QStringLiteral("<cannot open>");
    } else {
        auto single = [&](const char* sql) {
            sqlite3_stmt* stmt = nullptr;
            QString value = QStringLiteral("<%1>").arg(QString::fromUtf8(sqlite3_errmsg(db)));
            if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK &&
                sqlite3_step(stmt) == SQLITE_ROW)
                value = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
            else
                value = QStringLiteral("<%1>").arg(QString::fromUtf8(sqlite3_errmsg(db)));
            sqlite3_finalize(stmt);
            return value;
        };
        const QString check = single("PRAGMA integrity_check");
        result = check == QLatin1String("ok") ? single("SELECT count(*) FROM t")
                                              : QStringLiteral("<damaged: %1>").arg(check);
    }
    sqlite3_close_v2(db);
    return result;
}

class BackupKills : public FaultFixture
{
protected:
    void SetUp() override
    {
        FaultFixture::SetUp();
        ASSERT_TRUE(InstallCli(m_dir.path()));
        ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("bak")));
    }

    // A database of the server with rows rows in t.
    void makeDatabase(const QString& name, int rows)
    {
        const QString file = path(QStringLiteral("data/%1.sqlite").arg(name));
        QFile::remove(file);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(file).constData(), &db), SQLITE_OK);
        const QByteArray sql =
            QStringLiteral("PRAGMA application_id=1330004034; BEGIN; "
                           "CREATE TABLE t (id INTEGER PRIMARY KEY, payload BLOB); "
                           "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
                           "WHERE x < %1) INSERT INTO t SELECT x, randomblob(1000) FROM c; "
                           "COMMIT;")
                .arg(rows)
                .toUtf8();
        EXPECT_EQ(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }

    QStringList args(const QString& command, QStringList more) const
    {
        more.prepend(QStringLiteral("sqlite:data"));
        more.prepend(QStringLiteral("--server"));
        more.prepend(command);
        more.append(QStringLiteral("--yes"));
        return more;
    }

    // Runs ovsqlcli to its end; its exit code and how long it took.
    int runWhole(const QStringList& arguments, qint64& ms)
    {
        QElapsedTimer t;
        t.start();
        const CliResult r = RunCli(m_dir.path(), arguments);
        ms = t.elapsed();
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        return r.exitCode;
    }

    // Starts ovsqlcli and kills it at a random moment between a quarter of
    // span (the start-up takes about that) and its end; true when the kill
    // came before the program ended by itself.
    bool runAndKill(const QStringList& arguments, qint64 span)
    {
        QProcess p;
        p.setWorkingDirectory(m_dir.path());
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(path(QStringLiteral("ovsqlcli")), arguments);
        EXPECT_TRUE(p.waitForStarted());
        const qint64 pid = p.processId();
        usleep(useconds_t((span / 4 + m_random.bounded(int(span))) * 1000));
        const bool killed = ::kill(pid_t(pid), SIGKILL) == 0 && !p.waitForFinished(0);
        p.waitForFinished(-1);
        return killed && p.exitStatus() == QProcess::CrashExit;
    }

    QRandomGenerator m_random{20261210};
};

} // namespace

// Kills during backups: one onto a new name, one replacing an older backup
// (--replace). The new name is there whole or not at all, the replaced
// backup is the old one or the new one, and a third backup file is never
// touched. The next backup into the folder removes the part files the killed
// ones left.
TEST_F(BackupKills, KilledBackupLeavesTheOldOrTheNewFile)
{
    makeDatabase(QStringLiteral("crm"), kRows);
    const QString keep = path(QStringLiteral("bak/keep.dat"));
    const QString replaced = path(QStringLiteral("bak/replaced.dat"));
    qint64 span = 0;
    ASSERT_EQ(runWhole(args(QStringLiteral("backup"), {"--database", "crm", "--to", keep}), span), 0);
    makeDatabase(QStringLiteral("crm"), kRows / 2);
    ASSERT_EQ(runWhole(args(QStringLiteral("backup"), {"--database", "crm", "--to", replaced}), span), 0);
    makeDatabase(QStringLiteral("crm"), kRows + 1);
    const QByteArray keepBytes = readBytes(keep);
    const QString oldRows = QString::number(kRows / 2);
    const QString newRows = QString::number(kRows + 1);
    qint64 ignored = 0;

    int kills = 0;
    int sawOld = 0;
    int sawNew = 0;
    for (int round = 0; round < 12; ++round) {
        const QString fresh = path(QStringLiteral("bak/new-%1.dat").arg(round));
        kills += runAndKill(args(QStringLiteral("backup"), {"--database", "crm", "--to", fresh}), span);
        const QString freshRows = soundRows(fresh);
        EXPECT_TRUE(freshRows == QLatin1String("<missing>") || freshRows == newRows)
            << "round " << round << ": " << freshRows.toStdString();

        kills += runAndKill(
            args(QStringLiteral("backup"), {"--database", "crm", "--to", replaced, "--replace"}), span);
        const QString replacedRows = soundRows(replaced);
        (replacedRows == newRows ? sawNew : sawOld)++;
        EXPECT_TRUE(replacedRows == oldRows || replacedRows == newRows)
            << "round " << round << ": " << replacedRows.toStdString();
        if (replacedRows == newRows) {
            // Back to the old backup for the next round.
            makeDatabase(QStringLiteral("other"), kRows / 2);
            ASSERT_EQ(runWhole(args(QStringLiteral("backup"),
                                    {"--database", "other", "--to", replaced, "--replace"}),
                               span),
                      0);
        }
        ASSERT_EQ(readBytes(keep), keepBytes) << "round " << round;
        EXPECT_EQ(soundRows(path(QStringLiteral("data/crm.sqlite"))), newRows);
        ASSERT_EQ(
            runWhole(args(QStringLiteral("backup"),
                          {"--database", "crm", "--to", path(QStringLiteral("bak/next.dat")), "--replace"}),
                     ignored),
            0);
        EXPECT_EQ(partFilesIn(path(QStringLiteral("bak"))), QStringList()) << "round " << round;
    }
    EXPECT_GT(kills, 0);
    RecordProperty("kills", kills);
    RecordProperty("replacedOld", sawOld);
    RecordProperty("replacedNew", sawNew);
}

// Kills during restores, over an existing database (--replace) and to a new
// name: the database is the old or the new one, whole, and a restore to a new
// name that was cut off leaves no database, so running it again needs no
// --replace. The backup restored from is never touched, and its own
// description never reaches the database. The next restore into the server
// folder removes the part files the killed ones left.
TEST_F(BackupKills, KilledRestoreLeavesTheOldOrTheNewDatabase)
{
    makeDatabase(QStringLiteral("crm"), kRows);
    const QString backup = path(QStringLiteral("bak/crm.dat"));
    qint64 span = 0;
    ASSERT_EQ(runWhole(args(QStringLiteral("backup"), {"--database", "crm", "--to", backup}), span), 0);
    const QByteArray backupBytes = readBytes(backup);
    const QString newRows = QString::number(kRows);
    const QString oldRows = QString::number(kRows / 3);
    const QString crm = path(QStringLiteral("data/crm.sqlite"));
    const QString fresh = path(QStringLiteral("data/fresh.sqlite"));
    const QStringList overExisting =
        args(QStringLiteral("restore"), {"--database", "crm", "--from", backup, "--replace"});
    const QStringList asNew =
        args(QStringLiteral("restore"), {"--database", "fresh", "--from", backup, "--move", "crm=" + fresh});
    ASSERT_EQ(runWhole(asNew, span), 0);
    ASSERT_EQ(soundRows(fresh), newRows);
    QFile::remove(fresh);

    int kills = 0;
    int restoredOld = 0;
    int restoredNew = 0;
    int freshMissing = 0;
    int freshWhole = 0;
    for (int round = 0; round < 12; ++round) {
        makeDatabase(QStringLiteral("crm"), kRows / 3);
        kills += runAndKill(overExisting, span);
        const QString rows = soundRows(crm);
        (rows == newRows ? restoredNew : restoredOld)++;
        EXPECT_TRUE(rows == oldRows || rows == newRows) << "round " << round << ": " << rows.toStdString();
        EXPECT_EQ(bookkeepingTables(crm), QString()) << "round " << round;

        kills += runAndKill(asNew, span);
        const QString freshRows = soundRows(fresh);
        EXPECT_TRUE(freshRows == QLatin1String("<missing>") || freshRows == newRows)
            << "round " << round << ": " << freshRows.toStdString();
        (freshRows == newRows ? freshWhole : freshMissing)++;
        if (freshRows != QLatin1String("<missing>")) {
            EXPECT_EQ(bookkeepingTables(fresh), QString()) << "round " << round;
        }
        // A killed restore to a new name left no database: it runs again
        // without --replace, and leaves no part file behind.
        QFile::remove(fresh);
        qint64 ignored = 0;
        EXPECT_EQ(runWhole(asNew, ignored), 0) << "round " << round;
        EXPECT_EQ(soundRows(fresh), newRows);
        EXPECT_EQ(partFilesIn(path(QStringLiteral("data"))), QStringList()) << "round " << round;
        QFile::remove(fresh);
        ASSERT_EQ(readBytes(backup), backupBytes) << "round " << round;
    }
    EXPECT_GT(kills, 0);
    RecordProperty("kills", kills);
    RecordProperty("restoredOld", restoredOld);
    RecordProperty("restoredNew", restoredNew);
    RecordProperty("freshMissing", freshMissing);
    RecordProperty("freshWhole", freshWhole);
    // Nothing a killed run left beside the databases shows as a database.
    auto admin = ov::ServerAdmin::create(m_server, true, QString(), QString());
    QStringList names;
    ASSERT_TRUE(admin->listDatabases(names));
    EXPECT_EQ(names, QStringList({QStringLiteral("crm")}));
}
