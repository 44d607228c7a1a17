// ovsqlcli killed with SIGKILL at random moments of update, create --demo and
// convert on the embedded engine. After every kill the database file passes
// SQLite's integrity check and the configuration file holds either the bytes
// it had before the run or the ones a whole run writes; every few kills, and
// at the end of each series, a run without a kill brings the database to the
// newest version with exit code 0. A kill strikes, by turns, at a random time
// within the length of a whole run or at a random one of the writes a whole
// run makes to the database file. The moments come from a seeded generator
// whose seed is printed; OV_KILL_SEED=N gives the same moments again. Every
// check that fails is a finding, printed with the moments of the kills before
// it, and fails the test; one line sums up the kills and the findings.

#include "create/CreateTestSupport.h"
#include "data/ServerAdmin.h"
#include "jet/demo/DemoDatabase.h"
#include "support/ChildProcess.h"
#include "support/CliProgram.h"
#include "support/Wait.h"
#include "update/UpdateScript.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>

#include <sqlite3.h>

#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace ovtest;

namespace {

const QString kDatabase = QStringLiteral("crm");

const QByteArray kOldConfig = "[MAIN]\r\nDBServer=sqlite:old\r\nDBName=old\r\nDBIsTrustMode=1\r\n"
                              "DBUser=\r\nDBPasswd=\r\nCreateDBResult=0\r\n";

// What a query on a database file gave: its rows, each row's fields joined by
// "|", or SQLite's extended error code and message.
struct QueryResult
{
    QStringList rows;
    int error = SQLITE_OK;
    QString message;
};

// Runs sql on the database file with sqlite3 itself, not through the program.
QueryResult query(const QString& file, const char* sql, int openFlags = SQLITE_OPEN_READONLY)
{
    QueryResult r;
    sqlite3* db = nullptr;
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_open_v2(QFile::encodeName(file).constData(), &db, openFlags, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    while (rc == SQLITE_OK || rc == SQLITE_ROW) {
        rc = sqlite3_step(stmt);
        if (rc != SQLITE_ROW)
            break;
        QStringList fields;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i)
            fields << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)));
        r.rows << fields.join(QLatin1Char('|'));
    }
    if (rc != SQLITE_DONE) {
        r.error = db ? sqlite3_extended_errcode(db) : rc;
        r.message = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
        r.rows.clear();
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return r;
}

QString describe(const QueryResult& r)
{
    return r.error == SQLITE_OK ? r.rows.join(QLatin1Char('\n'))
                                : QStringLiteral("<error %1: %2>").arg(r.error).arg(r.message);
}

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// What became of a run of ovsqlcli.
struct Outcome
{
    bool killed = false;
    int exitCode = -1; // of a run that ended by itself
    int writes = 0;    // writes to the database file seen
    qint64 ms = 0;     // from the start to the end or the kill
    QByteArray err;    // its standard error
};

// Runs ovsqlcli with args in folder and kills it with SIGKILL after afterMs,
// or at the atWrite-th write to the database file that it is seen to make
// (the writes are watched as they happen, so the kill strikes at or shortly
// after that write); a negative value leaves that way out. Standard input and
// output are /dev/null, standard error goes to errFile.
Outcome runAndKill(const QString& folder, const QStringList& args, const QString& databaseFile,
                   const QString& errFile, int afterMs, int atWrite)
{
    Outcome o;
    const int watch = inotify_init1(IN_NONBLOCK);
    EXPECT_GE(watch, 0);
    EXPECT_GE(
        inotify_add_watch(watch, QFile::encodeName(QFileInfo(databaseFile).path()).constData(), IN_MODIFY),
        0);
    const QByteArray name = QFile::encodeName(QFileInfo(databaseFile).fileName());
    // A new database is written under a hidden side file first.
    const QByteArray side = '.' + name + '~';

    // Everything the child needs is made before the fork: between the fork and
    // the exec it only calls what is safe there.
    const QByteArray dir = QFile::encodeName(folder);
    const QByteArray program = QFile::encodeName(QDir(folder).filePath(QStringLiteral("ovsqlcli")));
    const QByteArray errPath = QFile::encodeName(errFile);
    QList<QByteArray> argBytes{program};
    for (const QString& a : args)
        argBytes << a.toUtf8();
    std::vector<char*> argv;
    for (QByteArray& a : argBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    QElapsedTimer timer;
    timer.start();
    const pid_t pid = ovtest::forkTiedToTest();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        const int err = open(errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (null < 0 || err < 0 || chdir(dir.constData()) != 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 ||
            dup2(err, 2) < 0)
            _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    EXPECT_GT(pid, 0);
    int status = 0;
    for (;;) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            break;
        if (afterMs >= 0 && timer.elapsed() >= afterMs) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = read(watch, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0 &&
                    (QByteArray(event->name) == name || QByteArray(event->name).startsWith(side)))
                    ++o.writes;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        if (atWrite >= 0 && o.writes >= atWrite) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        pollfd p{watch, POLLIN, 0};
        poll(&p, 1, 2);
    }
    o.ms = timer.elapsed();
    close(watch);
    o.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    QFile f(errFile);
    if (f.open(QIODevice::ReadOnly))
        o.err = f.readAll();
    return o;
}

// One command run over and over and killed: its arguments (a killed run and a
// run without a kill take the same ones), how many kills, and after how many
// kills a run without a kill must bring the database up to date.
struct Series
{
    const char* name;
    QStringList args;
    int kills;
    int rerunEvery;
};

// Where the temporary folders go: in memory (/dev/shm) where there is such a
// folder. A killed process leaves the same files there as on a disk, since
// the kernel keeps what it was given to write; but the runs do not wait for
// the disk at each commit, so more kills fit in the test's time.
QString temporaryTemplate()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    return (shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath()) +
           QStringLiteral("/ovkill-XXXXXX");
}

// A temporary program folder with the built ovsqlcli, the shipped files, the
// demo single-user file "Demo.cdb" and an embedded server in "data".
class KilledCommandTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_scratch.isValid());
        ASSERT_TRUE(InstallCli(m_dir.path()));
        ASSERT_TRUE(CopyDist(m_dir.path()));
        ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("data")));
        QString error;
        ASSERT_TRUE(jetdemo::WriteDemoDatabase(path(QStringLiteral("Demo.cdb")), &error))
            << error.toStdString();
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString databaseFile() const
    {
        return path(QStringLiteral("data/") + kDatabase + QStringLiteral(".sqlite"));
    }
    QString configFile() const { return path(QStringLiteral("OrvaneSqlConfig.ini")); }

    // Removes the database file and whatever lies beside it.
    void removeDatabase()
    {
        for (const QString& name : QDir(path(QStringLiteral("data"))).entryList(QDir::Files))
            QFile::remove(path(QStringLiteral("data/") + name));
    }

    // A database at version "0" with the schema of a new one and no rows,
    // made by the program itself: the schema script followed by the version
    // row, run as an update script on an empty file.
    QByteArray makeBareDatabase()
    {
        removeDatabase();
        const QString script = path(QStringLiteral("bare.txt"));
        EXPECT_TRUE(writeBytes(script, readBytes(path(QStringLiteral("OVScriptEmpty.txt"))) +
                                           "\r\nINSERT INTO tblVarible VALUES ('DB', 'Version', '0', '')"
                                           "\r\nGO\r\n"));
        EXPECT_TRUE(writeBytes(databaseFile(), QByteArray()));
        const CliResult r =
            RunCli(m_dir.path(), {"update", "--server", "sqlite:data", "--database", kDatabase, "--trusted",
                                  "--no-backup", "--yes", "--script", script});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(query(databaseFile(), "SELECT VaribleValue FROM tblVarible WHERE Module = 'DB'").rows,
                  QStringList({QStringLiteral("0")}));
        return readBytes(databaseFile());
    }

    // "ok" when SQLite finds the database file sound. A kill can leave a hot
    // journal beside the file, which only a writer rolls back: then the check
    // runs on a copy of the file and its journal, opened for writing as the
    // next run of the program opens it, and the file itself stays as the kill
    // left it.
    QString integrity()
    {
        QueryResult r = query(databaseFile(), "PRAGMA integrity_check");
        if ((r.error & 0xff) != SQLITE_READONLY && (r.error & 0xff) != SQLITE_CANTOPEN)
            return describe(r);
        const QString copy = m_scratch.filePath(QStringLiteral("check.sqlite"));
        for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
            QFile::remove(copy + QLatin1String(suffix));
            if (QFileInfo::exists(databaseFile() + QLatin1String(suffix)))
                QFile::copy(databaseFile() + QLatin1String(suffix), copy + QLatin1String(suffix));
        }
        return describe(query(copy, "PRAGMA integrity_check", SQLITE_OPEN_READWRITE));
    }

    // What is wrong with the database after a run without a kill, compared
    // with the schema an uninterrupted run leaves; empty when nothing is.
    QStringList upToDateFaults(const QStringList& schema)
    {
        QStringList faults;
        const QString check = integrity();
        if (check != QStringLiteral("ok"))
            faults << QStringLiteral("integrity check: ") + check;
        const QueryResult version =
            query(databaseFile(),
                  "SELECT VaribleValue FROM tblVarible WHERE Module = 'DB' AND VaribleName = 'Version'");
        if (version.rows != QStringList({ShippedVersions().last()}))
            faults << QStringLiteral("DB/Version is ") + describe(version);
        // A transactional block is recorded in its own transaction, so it is
        // recorded exactly when its changes are there. A block without a
        // transaction that raises the version in its last batch may lose its
        // history row to a kill just before its end marker; that row is a
        // history nothing reads, and the block's changes are all there.
        const QueryResult recorded =
            query(databaseFile(),
                  "SELECT VaribleName FROM tblVarible WHERE Module = 'UpdateDB' ORDER BY VaribleName");
        QList<mdlOVSqlUpdateDB::VersionBlockPlan> plan;
        EXPECT_TRUE(
            mdlOVSqlUpdateDB::PlanUpdateScript(path(QStringLiteral("OVScriptUpdate.txt")), nullptr, plan));
        for (const auto& block : std::as_const(plan)) {
            if (block.transactional && !recorded.rows.contains(block.name))
                faults << QStringLiteral("transactional block %1 not recorded: ").arg(block.name) +
                              describe(recorded).replace(QLatin1Char('\n'), QLatin1Char(' '));
        }
        for (const QString& name : recorded.rows) {
            if (!ShippedVersions().contains(name))
                faults << QStringLiteral("a block the script does not hold is recorded: ") + name;
        }
        if (const QStringList now = this->schema(); now != schema)
            faults << QStringLiteral("schema differs from an uninterrupted run's:\n") +
                          now.join(QLatin1Char('\n'));
        return faults;
    }

    QStringList schema()
    {
        return query(databaseFile(),
                     "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY type, name")
            .rows;
    }

    // Runs ovsqlcli in the program folder, killed as runAndKill says.
    Outcome run(const QStringList& args, int afterMs, int atWrite)
    {
        return runAndKill(m_dir.path(), args, databaseFile(),
                          m_scratch.filePath(QStringLiteral("stderr.txt")), afterMs, atWrite);
    }

    QTemporaryDir m_dir{temporaryTemplate()};
    QTemporaryDir m_scratch{temporaryTemplate()};
};

// update from a bare database, killed again and again before a run that
// completes; create --demo and convert, each replacing what the killed run
// before it left.
TEST_F(KilledCommandTest, KilledRunsLeaveASoundDatabaseAndTheNextRunCompletes)
{
    const QStringList login = {"--server", "sqlite:data", "--database", kDatabase, "--trusted", "--yes"};
    const Series series[] = {
        {"update", QStringList({"update", "--no-backup"}) + login, 70, 5},
        {"create", QStringList({"create", "--demo", "--replace"}) + login, 70, 10},
        {"convert",
         QStringList({"convert", "--file", "Demo.cdb", "--server", "sqlite:data", "--database", kDatabase,
                      "--trusted", "--replace", "--yes"}),
         60, 10},
    };
    const quint32 seed = qEnvironmentVariableIsSet("OV_KILL_SEED") ? qgetenv("OV_KILL_SEED").toUInt()
                                                                   : QRandomGenerator::global()->generate();
    std::printf("kill moments from seed %u (OV_KILL_SEED=%u replays them)\n", seed, seed);
    QRandomGenerator random(seed);
    const QByteArray bare = makeBareDatabase();
    ASSERT_FALSE(bare.isEmpty());

    QStringList findings;
    QStringList counts;
    int totalKills = 0;
    for (const Series& s : series) {
        SCOPED_TRACE(s.name);
        // The state each cycle of kills starts from: a bare database for an
        // update, nothing for a creation or a conversion; an old configuration
        // file naming another database in every case.
        const bool update = QLatin1String(s.name) == QLatin1String("update");
        const auto reset = [&] {
            removeDatabase();
            if (update) {
                ASSERT_TRUE(writeBytes(databaseFile(), bare));
            }
        };
        QElapsedTimer seriesTimer;
        seriesTimer.start();
        reset();
        ASSERT_TRUE(writeBytes(configFile(), kOldConfig));

        // An uninterrupted run: how long it takes, how often it writes to
        // the database file, and what it leaves.
        const Outcome whole = run(s.args, -1, -1);
        ASSERT_EQ(whole.exitCode, 0) << whole.err.toStdString();
        ASSERT_GT(whole.writes, 0);
        const QByteArray newConfig = readBytes(configFile());
        const QStringList schema = this->schema();
        ASSERT_FALSE(schema.isEmpty());
        EXPECT_EQ(upToDateFaults(schema), QStringList());
        reset();

        int kills = 0;
        // The moments of the kills since the last sound, complete state.
        QStringList moments;
        // A busy machine makes some runs end before their kill: those are
        // attempts without a kill, and the series goes on until its kills
        // have all struck.
        for (int attempt = 0; kills < s.kills && attempt < 10 * s.kills; ++attempt) {
            const auto found = [&](const QString& what) {
                findings << QStringLiteral("%1, seed %2, kills since the last complete run at %3: %4")
                                .arg(QLatin1String(s.name))
                                .arg(seed)
                                .arg(moments.join(QStringLiteral(", ")), what);
                moments.clear();
                reset();
            };
            ASSERT_TRUE(writeBytes(configFile(), kOldConfig));
            // By turns a moment of the run's time and one of its writes, so
            // that the short spells in which the file is written get their
            // share of the kills too.
            const bool byTime = attempt % 2 == 0;
            const int afterMs = byTime ? int(random.bounded(quint32(whole.ms) + 1)) : -1;
            const int atWrite = byTime ? -1 : int(random.bounded(quint32(whole.writes))) + 1;
            const QString moment =
                byTime ? QStringLiteral("%1 ms").arg(afterMs) : QStringLiteral("write %1").arg(atWrite);
            const Outcome o = run(s.args, afterMs, atWrite);
            if (o.killed) {
                ++kills;
                moments << moment;
            } else if (o.exitCode != 0) {
                found(QStringLiteral("a run that the kill at %1 missed ended with exit code %2: %3")
                          .arg(moment)
                          .arg(o.exitCode)
                          .arg(QString::fromUtf8(o.err)));
                continue;
            }
            if (QFileInfo::exists(databaseFile())) {
                if (const QString check = integrity(); check != QStringLiteral("ok")) {
                    found(QStringLiteral("integrity check: ") + check);
                    continue;
                }
            }
            if (const QByteArray config = readBytes(configFile());
                config != kOldConfig && config != newConfig) {
                found(QStringLiteral("the configuration file is neither the old nor the new one:\n") +
                      QString::fromUtf8(config));
                continue;
            }
            if (moments.size() < s.rerunEvery && kills < s.kills)
                continue;
            const Outcome rerun = run(s.args, -1, -1);
            QStringList faults = upToDateFaults(schema);
            if (rerun.exitCode != 0)
                faults.prepend(
                    QStringLiteral("exit code %1: %2").arg(rerun.exitCode).arg(QString::fromUtf8(rerun.err)));
            if (readBytes(configFile()) != newConfig)
                faults << QStringLiteral("configuration file: ") + QString::fromUtf8(readBytes(configFile()));
            if (!faults.isEmpty()) {
                found(QStringLiteral("the run after them: ") + faults.join(QStringLiteral("; ")));
                continue;
            }
            moments.clear();
            // An update starts again from a bare database; a creation or a
            // conversion goes on replacing the complete one.
            if (update)
                reset();
        }
        EXPECT_EQ(kills, s.kills) << "the runs ended before the kill struck too often";
        counts << QStringLiteral("%1 %2 (a whole run %3 ms, %4 writes; the series %5 s)")
                      .arg(QLatin1String(s.name))
                      .arg(kills)
                      .arg(whole.ms)
                      .arg(whole.writes)
                      .arg(seriesTimer.elapsed() / 1000);
        totalKills += kills;
    }
    std::printf("kills: %s; %d in all; findings: %d; seed %u\n",
                qPrintable(counts.join(QStringLiteral(", "))), totalKills, int(findings.size()), seed);
    for (const QString& f : findings)
        std::printf("finding: %s\n", qPrintable(f));
    std::fflush(stdout);
    EXPECT_TRUE(findings.isEmpty()) << findings.join(QLatin1Char('\n')).toStdString();
}

// update --rerun of a block the database claims but lacks, killed at random
// moments: the database is left sound and either as it was (the block's
// objects absent, the block unrecorded) or as a whole rerun leaves it, never
// between, and ovsqlcli check tells which (1, then 0). A rerun without a kill
// then mends the old state, and refuses the new one with nothing changed.
TEST_F(KilledCommandTest, AKilledRerunLeavesTheOldStateOrTheNewAndTheCheckTellsWhich)
{
    const QStringList login = {"--server", "sqlite:data", "--database", kDatabase, "--trusted", "--yes"};
    const QStringList rerunArgs = QStringList({"update", "--no-backup", "--rerun", "1.4"}) + login;
    const QStringList checkArgs = QStringList({"check"}) + login.mid(0, 5);
    const quint32 seed = qEnvironmentVariableIsSet("OV_KILL_SEED") ? qgetenv("OV_KILL_SEED").toUInt()
                                                                   : QRandomGenerator::global()->generate();
    std::printf("kill moments from seed %u (OV_KILL_SEED=%u replays them)\n", seed, seed);
    QRandomGenerator random(seed);

    // The wedged database: every block but 1.4, at version 1.6.
    makeBareDatabase();
    QByteArray script = readBytes(path(QStringLiteral("OVScriptUpdate.txt")));
    const int from = int(script.indexOf("--<VT:1.4>"));
    const int to = int(script.indexOf("--</V:1.4>\r\n"));
    ASSERT_TRUE(from > 0 && to > from);
    script.remove(from, to + 12 - from);
    ASSERT_TRUE(writeBytes(path(QStringLiteral("without-1.4.txt")), script));
    CliResult r =
        RunCli(m_dir.path(), QStringList({"update", "--no-backup", "--script", "without-1.4.txt"}) + login);
    // Its own check compares with the script that ran, which lacks 1.4.
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QByteArray wedged = readBytes(databaseFile());
    const char* recordedSql = "SELECT VaribleName FROM tblVarible WHERE Module = 'UpdateDB' ORDER BY 1";
    const QStringList oldSchema = schema();
    const QStringList oldRecorded = query(databaseFile(), recordedSql).rows;
    ASSERT_EQ(RunCli(m_dir.path(), checkArgs).exitCode, 1);

    const Outcome whole = run(rerunArgs, -1, -1);
    ASSERT_EQ(whole.exitCode, 0) << whole.err.toStdString();
    ASSERT_GT(whole.writes, 0);
    const QStringList newSchema = schema();
    const QStringList newRecorded = query(databaseFile(), recordedSql).rows;
    ASSERT_NE(newSchema, oldSchema);
    ASSERT_FALSE(oldRecorded.contains(QStringLiteral("1.4")));
    ASSERT_TRUE(newRecorded.contains(QStringLiteral("1.4")));

    QStringList findings;
    int kills = 0;
    int old = 0;
    for (int attempt = 0; kills < 40 && attempt < 400; ++attempt) {
        ASSERT_TRUE(writeBytes(databaseFile(), wedged));
        const bool byTime = attempt % 2 == 0;
        const int afterMs = byTime ? int(random.bounded(quint32(whole.ms) + 1)) : -1;
        const int atWrite = byTime ? -1 : int(random.bounded(quint32(whole.writes))) + 1;
        const QString moment =
            byTime ? QStringLiteral("%1 ms").arg(afterMs) : QStringLiteral("write %1").arg(atWrite);
        const Outcome o = run(rerunArgs, afterMs, atWrite);
        if (!o.killed)
            continue;
        ++kills;
        const auto found = [&](const QString& what) {
            findings << QStringLiteral("seed %1, kill at %2: %3").arg(seed).arg(moment, what);
        };
        if (const QString check = integrity(); check != QStringLiteral("ok")) {
            found(QStringLiteral("integrity check: ") + check);
            continue;
        }
        // The check opens the database for writing, and so rolls back what
        // the kill left in a journal, before the state is looked at.
        const int checked = RunCli(m_dir.path(), checkArgs).exitCode;
        const QStringList now = schema();
        const QStringList recorded = query(databaseFile(), recordedSql).rows;
        const QStringList version = query(databaseFile(), "SELECT VaribleValue FROM tblVarible WHERE "
                                                          "Module = 'DB'")
                                        .rows;
        const bool isOld = now == oldSchema && recorded == oldRecorded;
        const bool isNew = now == newSchema && recorded == newRecorded;
        if (!isOld && !isNew)
            found(QStringLiteral("neither the old state nor the new: ") + recorded.join(QLatin1Char(',')));
        if (version != QStringList({"1.6"}))
            found(QStringLiteral("DB/Version is ") + version.join(QLatin1Char(',')));
        if (checked != (isNew ? 0 : 1))
            found(QStringLiteral("check ended %1").arg(checked));
        old += isOld ? 1 : 0;
        // Every few kills, a rerun without one: it mends the old state and
        // refuses, changing nothing, the new (exit code 2: it could not
        // start).
        if (kills % 5 == 0) {
            const Outcome next = run(rerunArgs, -1, -1);
            if (next.exitCode != (isOld ? 0 : 2) || schema() != newSchema)
                found(QStringLiteral("the rerun after it ended %1 with schema %2: %3")
                          .arg(next.exitCode)
                          .arg(schema() == newSchema ? "new" : "not new")
                          .arg(QString::fromUtf8(next.err)));
        }
    }
    std::printf("kills: %d (%d left the old state; a whole rerun %lld ms, %d writes); findings: %d\n", kills,
                old, static_cast<long long>(whole.ms), whole.writes, int(findings.size()));
    for (const QString& f : findings)
        std::printf("finding: %s\n", qPrintable(f));
    std::fflush(stdout);
    EXPECT_EQ(kills, 40) << "the runs ended before the kill struck too often";
    EXPECT_TRUE(findings.isEmpty()) << findings.join(QLatin1Char('\n')).toStdString();
}

// create --demo and convert killed at random moments before their end leave
// no database under its name; killed after it took its name, the whole one.
// update and check on what is left refuse it or find it complete, never call
// a partial database sound. The side file a killed run builds in is gone once
// a later creation on the folder has started: never more than the last one
// lies there, and none after a run that completes.
TEST_F(KilledCommandTest, AKilledCreationLeavesNoDatabaseUnderItsName)
{
    const QStringList login = {"--server", "sqlite:data", "--database", kDatabase, "--trusted"};
    const Series series[] = {
        {"create", QStringList({"create", "--demo", "--replace", "--yes"}) + login, 25, 0},
        {"convert", QStringList({"convert", "--file", "Demo.cdb", "--replace", "--yes"}) + login, 25, 0},
    };
    const quint32 seed = qEnvironmentVariableIsSet("OV_KILL_SEED") ? qgetenv("OV_KILL_SEED").toUInt()
                                                                   : QRandomGenerator::global()->generate();
    std::printf("kill moments from seed %u (OV_KILL_SEED=%u replays them)\n", seed, seed);
    QRandomGenerator random(seed);
    const auto sideFiles = [&] {
        return QDir(path(QStringLiteral("data")))
            .entryList({QLatin1Char('.') + kDatabase + QStringLiteral(".sqlite~??????")},
                       QDir::Files | QDir::Hidden);
    };
    // What a finished database holds: its version, the mark, its contacts
    // and their phone numbers.
    const char* summarySql =
        "SELECT (SELECT group_concat(VaribleName || '=' || VaribleValue) FROM tblVarible "
        "WHERE Module = 'DB') || '/' || (SELECT COUNT(*) FROM tblContact) || '/' || "
        "(SELECT COUNT(*) FROM tblContactPhone)";
    QStringList findings;
    int totalKills = 0;
    int complete = 0;
    for (const Series& s : series) {
        SCOPED_TRACE(s.name);
        removeDatabase();
        const Outcome whole = run(s.args, -1, -1);
        ASSERT_EQ(whole.exitCode, 0) << whole.err.toStdString();
        ASSERT_GT(whole.writes, 0);
        const QStringList summary = query(databaseFile(), summarySql).rows;
        ASSERT_EQ(summary.size(), 1);
        ASSERT_TRUE(summary.first().startsWith(QStringLiteral("Version=") + ShippedVersions().last() +
                                               QLatin1Char('/')))
            << summary.first().toStdString();
        ASSERT_EQ(sideFiles(), QStringList());
        int kills = 0;
        for (int attempt = 0; kills < s.kills && attempt < 10 * s.kills; ++attempt) {
            QFile::remove(databaseFile());
            const bool byTime = attempt % 2 == 0;
            const int afterMs = byTime ? int(random.bounded(quint32(whole.ms) + 1)) : -1;
            const int atWrite = byTime ? -1 : int(random.bounded(quint32(whole.writes))) + 1;
            const QString moment =
                byTime ? QStringLiteral("%1 ms").arg(afterMs) : QStringLiteral("write %1").arg(atWrite);
            const Outcome o = run(s.args, afterMs, atWrite);
            if (!o.killed)
                continue;
            ++kills;
            const auto found = [&](const QString& what) {
                findings << QStringLiteral("%1, seed %2, kill at %3: %4")
                                .arg(QLatin1String(s.name))
                                .arg(seed)
                                .arg(moment, what);
            };
            const bool exists = QFileInfo::exists(databaseFile());
            if (exists) {
                ++complete;
                if (const QString check = integrity(); check != QStringLiteral("ok"))
                    found(QStringLiteral("integrity check: ") + check);
                if (const QStringList now = query(databaseFile(), summarySql).rows; now != summary)
                    found(QStringLiteral("a database under its name that is not the whole one: ") +
                          now.join(QLatin1Char(',')));
            }
            const CliResult update =
                RunCli(m_dir.path(), QStringList({"update", "--no-backup", "--yes"}) + login);
            const CliResult check = RunCli(m_dir.path(), QStringList({"check"}) + login);
            if ((update.exitCode == 0) != exists)
                found(QStringLiteral("update ended %1 on %2: %3")
                          .arg(update.exitCode)
                          .arg(exists ? "the whole database" : "no database")
                          .arg(update.err));
            if ((check.exitCode == 0) != exists)
                found(QStringLiteral("check ended %1 on %2: %3")
                          .arg(check.exitCode)
                          .arg(exists ? "the whole database" : "no database")
                          .arg(check.out + check.err));
            if (const QStringList sides = sideFiles(); sides.size() > 1)
                found(QStringLiteral("side files of earlier runs are still there: ") +
                      sides.join(QLatin1Char(',')));
        }
        EXPECT_EQ(kills, s.kills) << "the runs ended before the kill struck too often";
        totalKills += kills;
        QFile::remove(databaseFile());
        const Outcome last = run(s.args, -1, -1);
        EXPECT_EQ(last.exitCode, 0) << last.err.toStdString();
        EXPECT_EQ(query(databaseFile(), summarySql).rows, summary);
        EXPECT_EQ(sideFiles(), QStringList());
    }
    std::printf("kills: %d (%d after the database took its name); findings: %d; seed %u\n", totalKills,
                complete, int(findings.size()), seed);
    for (const QString& f : findings)
        std::printf("finding: %s\n", qPrintable(f));
    std::fflush(stdout);
    EXPECT_TRUE(findings.isEmpty()) << findings.join(QLatin1Char('\n')).toStdString();
}

// The side file of a creation that is still running stays, whatever other
// tasks run on the folder meanwhile (here the process is stopped, not gone);
// once its process is gone, the next creation on the folder removes it with
// everything beside it, and no database of that name appears.
TEST_F(KilledCommandTest, ASideFileIsRemovedOnlyOnceItsProcessIsGone)
{
    const auto leftovers = [&] {
        return QDir(path(QStringLiteral("data")))
            .entryList({QStringLiteral("*.") + kDatabase + QStringLiteral(".sqlite~*")},
                       QDir::Files | QDir::Hidden);
    };
    QProcess creation;
    creation.setWorkingDirectory(m_dir.path());
    creation.setStandardInputFile(QProcess::nullDevice());
    creation.setStandardOutputFile(QProcess::nullDevice());
    creation.setStandardErrorFile(QProcess::nullDevice());
    creation.start(path(QStringLiteral("ovsqlcli")), {"create", "--demo", "--server", "sqlite:data",
                                                      "--database", kDatabase, "--trusted", "--yes"});
    ASSERT_TRUE(creation.waitForStarted());
    ovtest::PollUntil([&] { return !leftovers().isEmpty() || creation.state() != QProcess::Running; }, 60000,
                      5);
    ASSERT_EQ(::kill(pid_t(creation.processId()), SIGSTOP), 0);
    const QStringList building = leftovers();
    ASSERT_FALSE(building.isEmpty()) << "the creation ended before its side file was seen";

    const QStringList other = {"--server", "sqlite:data", "--database", "other", "--trusted", "--yes"};
    CliResult r = RunCli(m_dir.path(), QStringList({"create", "--blank"}) + other);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = RunCli(m_dir.path(), QStringList({"update", "--no-backup"}) + other);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    for (const QString& file : building)
        EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("data/") + file))) << file.toStdString();
    EXPECT_FALSE(QFileInfo::exists(databaseFile()));

    ASSERT_EQ(::kill(pid_t(creation.processId()), SIGKILL), 0);
    creation.waitForFinished();
    EXPECT_FALSE(leftovers().isEmpty());
    r = RunCli(m_dir.path(), QStringList({"create", "--blank", "--replace"}) + other);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(leftovers(), QStringList());
    EXPECT_FALSE(QFileInfo::exists(databaseFile()));
}

} // namespace

namespace {

// Runs statements on a database file with sqlite3 itself, making it when it
// is not there.
bool execute(const QString& file, const QByteArray& sql)
{
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(QFile::encodeName(file).constData(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return rc == SQLITE_OK;
}

// The processes that run the program file program, by their /proc entry.
int runningCopies(const QString& program)
{
    int n = 0;
    const QString target = QFileInfo(program).canonicalFilePath();
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (pid.toInt() > 0 && QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget() == target)
            ++n;
    }
    return n;
}

} // namespace

// update --all with two updates at once, killed at random moments: the kill
// of the run ends the updates it started, so that none goes on without it
// (each database's task lock is free at once), and every database is at the
// end of one of its version blocks, all transactional here: its version, its
// tables and its records agree, never a block half there. A run without a
// kill then brings every one to the newest version, and folds the log
// sections the killed updates left into the update log.
TEST_F(KilledCommandTest, AKilledManyDatabaseRunLeavesEachDatabaseAtABlocksEnd)
{
    // Three blocks, each making a table of 20000 rows, so that a kill often
    // strikes inside one.
    QByteArray script;
    for (const char* v : {"1", "2", "3"}) {
        const QByteArray n(v);
        script += "--<VT:1." + n + ">\r\nCREATE TABLE t" + n + " (id INT)\r\nGO\r\n" + "INSERT INTO t" + n +
                  " WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 20000) "
                  "SELECT x FROM c\r\nGO\r\n"
                  "UPDATE tblVarible SET VaribleValue = '1." +
                  n + "' WHERE Module = 'DB' AND VaribleName = 'Version'\r\nGO\r\n--</V:1." + n + ">\r\n";
    }
    ASSERT_TRUE(writeBytes(path(QStringLiteral("step.txt")), script));
    // These databases hold no product schema for the check after each
    // update to compare: without its reference it is not made.
    ASSERT_TRUE(QFile::remove(path(QStringLiteral("OVScriptEmpty.txt"))));
    const QStringList names = {"c1", "c2", "c3", "c4", "c5"};
    const auto file = [&](const QString& name) { return path(QStringLiteral("data/%1.sqlite").arg(name)); };
    const auto makeDatabases = [&] {
        removeDatabase();
        for (const QString& name : names)
            ASSERT_TRUE(execute(file(name),
                                "CREATE TABLE tblVarible (Module NVARCHAR(50), VaribleName NVARCHAR(50), "
                                "VaribleValue NVARCHAR(255), UserID NVARCHAR(50));"
                                "INSERT INTO tblVarible VALUES ('DB', 'Version', '1.0', '');"));
    };
    const QStringList args = {"update",   "--server", "sqlite:data", "--all", "--no-backup",
                              "--script", "step.txt", "--parallel",  "2"};
    const quint32 seed = qEnvironmentVariableIsSet("OV_KILL_SEED") ? qgetenv("OV_KILL_SEED").toUInt()
                                                                   : QRandomGenerator::global()->generate();
    std::printf("kill moments from seed %u (OV_KILL_SEED=%u replays them)\n", seed, seed);
    QRandomGenerator random(seed);
    makeDatabases();
    const Outcome whole = runAndKill(m_dir.path(), args, file(QStringLiteral("c1")),
                                     m_scratch.filePath(QStringLiteral("stderr.txt")), -1, -1);
    ASSERT_EQ(whole.exitCode, 0) << whole.err.toStdString();
    const auto admin = ov::ServerAdmin::create(QStringLiteral("sqlite:") + path(QStringLiteral("data")), true,
                                               QString(), QString());
    QStringList findings;
    int kills = 0;
    for (int attempt = 0; kills < 12 && attempt < 40; ++attempt) {
        if (attempt % 4 == 0)
            makeDatabases();
        const int afterMs = int(random.bounded(quint32(whole.ms) + 1));
        const Outcome o = runAndKill(m_dir.path(), args, file(QStringLiteral("c1")),
                                     m_scratch.filePath(QStringLiteral("stderr.txt")), afterMs, -1);
        if (!o.killed)
            continue;
        ++kills;
        const auto found = [&](const QString& what) {
            findings << QStringLiteral("seed %1, kill at %2 ms: %3").arg(seed).arg(afterMs).arg(what);
        };
        // No update outlives the run: the system ends the updates it
        // started as it ends the run.
        int alive = runningCopies(path(QStringLiteral("ovsqlcli")));
        for (int i = 0; i < 5 && alive > 0; ++i) {
            QThread::msleep(20);
            alive = runningCopies(path(QStringLiteral("ovsqlcli")));
        }
        if (alive > 0)
            found(QStringLiteral("%1 update(s) still running after the run was killed").arg(alive));
        for (const QString& name : names) {
            bool free = false;
            for (int i = 0; i < 50 && !free; ++i) {
                free = admin->lockDatabase(name) != nullptr;
                if (!free)
                    QThread::msleep(20);
            }
            if (!free)
                found(name + QStringLiteral(": still held by an update after the run was killed"));
            QString sound = describe(query(file(name), "PRAGMA integrity_check", SQLITE_OPEN_READWRITE));
            if (sound != QStringLiteral("ok"))
                found(name + QStringLiteral(": integrity check: ") + sound);
            const QStringList version =
                query(file(name), "SELECT VaribleValue FROM tblVarible WHERE Module = 'DB' AND VaribleName = "
                                  "'Version'")
                    .rows;
            const QStringList tables =
                query(file(name),
                      "SELECT name || ':' || (SELECT 0) FROM sqlite_master WHERE type = 'table' AND "
                      "name LIKE 't_' ORDER BY name")
                    .rows;
            const QStringList recorded =
                query(file(name), "SELECT VaribleName FROM tblVarible WHERE Module = 'UpdateDB' ORDER BY 1")
                    .rows;
            if (version.size() != 1) {
                found(name + QStringLiteral(": no version"));
                continue;
            }
            const int at = version.first().mid(2).toInt();
            QStringList wantTables;
            QStringList wantRecords;
            for (int b = 1; b <= at; ++b) {
                wantTables << QStringLiteral("t%1:0").arg(b);
                wantRecords << QStringLiteral("1.%1").arg(b);
                const QStringList rows =
                    query(file(name), QStringLiteral("SELECT COUNT(*) FROM t%1").arg(b).toUtf8().constData())
                        .rows;
                if (rows != QStringList({QStringLiteral("20000")}))
                    found(name + QStringLiteral(": t%1 holds %2 rows").arg(b).arg(rows.join(',')));
            }
            if (tables != wantTables || recorded != wantRecords)
                found(name + QStringLiteral(" at %1: tables %2, records %3")
                                 .arg(version.first(), tables.join(','), recorded.join(',')));
        }
    }
    EXPECT_GE(kills, 6);
    // A run without a kill completes every database and leaves no section
    // file of a killed update beside the log.
    const Outcome last = runAndKill(m_dir.path(), args, file(QStringLiteral("c1")),
                                    m_scratch.filePath(QStringLiteral("stderr.txt")), -1, -1);
    EXPECT_EQ(last.exitCode, 0) << last.err.toStdString();
    for (const QString& name : names)
        EXPECT_EQ(query(file(name),
                        "SELECT VaribleValue FROM tblVarible WHERE Module = 'DB' AND VaribleName = "
                        "'Version'")
                      .rows,
                  QStringList({QStringLiteral("1.3")}));
    EXPECT_EQ(QDir(m_dir.path())
                  .entryList({QStringLiteral(".UpdateDBSqlLog.Txt.*.section")}, QDir::Files | QDir::Hidden),
              QStringList());
    std::printf("%d kills, %lld findings\n", kills, static_cast<long long>(findings.size()));
    EXPECT_TRUE(findings.isEmpty()) << findings.join(QLatin1Char('\n')).toStdString();
}
