// The update script runner under faults: an update log that cannot be
// written, and a database that can no longer grow (a full disk) in the middle
// of a transactional version block.

#include "FaultSupport.h"
#include "config/ConfigFiles.h"
#include "update/UpdateCheck.h"
#include "update/UpdateLog.h"
#include "update/UpdateScript.h"

#include <QFileInfo>

using namespace ovtest;

namespace {

// Calls fault once, when the runner has read the given number of lines.
class FaultAtLine : public ScriptedUi
{
public:
    FaultAtLine(int line, std::function<void()> fault) : m_line(line), m_fault(std::move(fault)) {}
    void pumpEvents() override
    {
        ScriptedUi::pumpEvents();
        if (pumps() == m_line)
            m_fault();
    }

private:
    int m_line;
    std::function<void()> m_fault;
};

const QStringList kSchema = {
    QStringLiteral("CREATE TABLE tblVarible ([Module] NVARCHAR(50), VaribleName NVARCHAR(100), "
                   "VaribleValue NVARCHAR(255), UserID NVARCHAR(50))"),
    QStringLiteral("INSERT INTO tblVarible VALUES ('DB', 'Version', '1.0', '')"),
};

class UpdateFaults : public FaultFixture
{
protected:
    void SetUp() override
    {
        FaultFixture::SetUp();
        QFile database(path(QStringLiteral("data/crm.sqlite")));
        ASSERT_TRUE(database.open(QIODevice::WriteOnly));
        database.close();
        for (const QString& sql : kSchema)
            ASSERT_TRUE(connect(QStringLiteral("crm"))->Execute(sql));
    }

    QString writeScript(const QStringList& lines)
    {
        const QString file = path(QStringLiteral("script.txt"));
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(lines.join(QStringLiteral("\r\n")).toLatin1() + "\r\n");
        return file;
    }

    bool run(const QString& script)
    {
        RecordingStatus status;
        RecordingProgress progress;
        return mdlOVSqlUpdateDB::RunUpdateScript(m_server, QStringLiteral("crm"), true, QString(), QString(),
                                                 script, status, progress);
    }

    QStringList applied()
    {
        return rows(QStringLiteral("crm"),
                    QStringLiteral("SELECT VaribleName FROM tblVarible WHERE [Module] = "
                                   "'UpdateDB' ORDER BY VaribleName"));
    }
};

// Each block raises the database's version, as the shipped script's do.
const QStringList kTwoBlocks = {
    QStringLiteral("--<VT:1.1>"),
    QStringLiteral("CREATE TABLE t1 ([a] INT)"),
    QStringLiteral("GO"),
    QStringLiteral("INSERT INTO t1 VALUES (1)"),
    QStringLiteral("GO"),
    QStringLiteral("UPDATE tblVarible SET VaribleValue = '1.1' WHERE [Module] = 'DB'"),
    QStringLiteral("GO"),
    QStringLiteral("--</V:1.1>"),
    QStringLiteral("--<VT:1.2>"),
    QStringLiteral("CREATE TABLE t2 ([a] INT)"),
    QStringLiteral("GO"),
    QStringLiteral("INSERT INTO t2 VALUES (2)"),
    QStringLiteral("GO"),
    QStringLiteral("UPDATE tblVarible SET VaribleValue = '1.2' WHERE [Module] = 'DB'"),
    QStringLiteral("GO"),
    QStringLiteral("--</V:1.2>"),
};

} // namespace

// With the log's folder read-only the run goes on and does what it does with
// a log: both blocks applied and recorded, and no log file made.
TEST_F(UpdateFaults, UnwritableLogFolderChangesNothingElse)
{
    const QString script = writeScript(kTwoBlocks);
    giveToUnprivileged(path(QStringLiteral("data")));
    giveToUnprivileged(path(QStringLiteral("data/crm.sqlite")));
    QFile::setPermissions(path(QStringLiteral("data")), QFile::Permissions(0x7755));
    QFile::setPermissions(m_dir.path(), QFile::Permissions(0x5555));
    const QString outcome = runInChild(
        [&] {
            ScriptedUi ui;
            const bool ran = run(script);
            return QStringLiteral("%1 %2").arg(ran).arg(ui.texts().join(QLatin1Char('/')));
        },
        true);
    QFile::setPermissions(m_dir.path(), QFile::Permissions(0x7755));
    EXPECT_EQ(outcome, QStringLiteral("1 "));
    EXPECT_FALSE(QFileInfo::exists(mdlOVSqlUpdateDB::UpdateLogPath()));
    EXPECT_EQ(applied(), (QStringList{QStringLiteral("1.1"), QStringLiteral("1.2")}));
    EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT a FROM t1 UNION ALL SELECT a FROM t2")),
              (QStringList{QStringLiteral("1"), QStringLiteral("2")}));
}

// The disk fills up, or the database's folder becomes read-only, inside the
// second transactional block: that block is rolled back and stays
// unrecorded, the first stays applied, and a later run with room applies the
// second.
TEST_F(UpdateFaults, DatabaseFailingInsideTransactionalBlockRollsItBack)
{
    // The second block ends with a row that needs many new pages.
    QStringList lines = kTwoBlocks;
    lines.insert(lines.size() - 1, QStringLiteral("CREATE TABLE big ([b] BLOB)"));
    lines.insert(lines.size() - 1, QStringLiteral("GO"));
    lines.insert(lines.size() - 1, QStringLiteral("INSERT INTO big VALUES (zeroblob(2000000))"));
    lines.insert(lines.size() - 1, QStringLiteral("GO"));
    const QString script = writeScript(lines);
    const QString folder = path(QStringLiteral("data"));
    const QString database = path(QStringLiteral("data/crm.sqlite"));

    struct Case
    {
        const char* name;
        std::function<void()> fault;
        bool unprivileged;
    };
    const Case cases[] = {
        {"full disk", [&] { limitFileSize(rlim_t(QFileInfo(database).size()) + 4096); }, false},
        // The rollback journal can no longer be made beside the database.
        {"read-only folder", [&] { QFile::setPermissions(folder, QFile::Permissions(0x5555)); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(connect(QStringLiteral("crm"))
                        ->Execute(QStringLiteral(
                            "DROP TABLE IF EXISTS t1; DROP TABLE IF EXISTS t2; DROP TABLE IF EXISTS big; "
                            "DELETE FROM tblVarible WHERE [Module] = 'UpdateDB'; "
                            "UPDATE tblVarible SET VaribleValue = '1.0' WHERE [Module] = 'DB'")));
        giveToUnprivileged(folder);
        giveToUnprivileged(database);
        const QString outcome = runInChild(
            [&] {
                // Once the first block is committed, before the second begins.
                FaultAtLine ui(9, c.fault);
                return QString::number(run(script));
            },
            c.unprivileged);
        QFile::setPermissions(folder, QFile::Permissions(0x7755));
        EXPECT_EQ(outcome, QStringLiteral("0")) << "a rolled-back block makes the run incomplete";
        EXPECT_EQ(applied(), QStringList{QStringLiteral("1.1")});
        EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT name FROM sqlite_master WHERE name IN "
                                                             "('t1', 't2', 'big') ORDER BY name")),
                  QStringList{QStringLiteral("t1")});

        ScriptedUi ui;
        EXPECT_TRUE(run(script));
        EXPECT_EQ(applied(), (QStringList{QStringLiteral("1.1"), QStringLiteral("1.2")}));
        EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT a FROM t2 ORDER BY a")),
                  QStringList{QStringLiteral("2")});
    }
}

// The database file goes away between a block's last batch and its end
// marker, so its commit fails: the log records the block as rolled back, not
// as committed, and the version is not recorded. A transfer block inside a
// transactional version block runs in the version block's transaction: when
// the commit at the version block's end fails, the transfer is undone with
// the rest of the block, and the run is not complete.
TEST_F(UpdateFaults, FailedCommitIsLoggedAsARollback)
{
    const struct
    {
        const char* name;
        QStringList lines;
        int faultLine; // the fault comes before this line is read
        QStringList rolledBack;
        QStringList committed;
        bool complete;
    } cases[] = {
        {"version block",
         {QStringLiteral("--<VT:1.1>"), QStringLiteral("CREATE TABLE t1 ([a] INT)"), QStringLiteral("GO"),
          QStringLiteral("--</V:1.1>")},
         4,
         {QStringLiteral("XXXXXX ROOLBACK Ver:<1.1>   XXXXXX")},
         {QStringLiteral("Completed And COMMITED")},
         false},
        {"transfer block",
         {QStringLiteral("--<T:Indexes>"), QStringLiteral("CREATE TABLE t1 ([a] INT)"), QStringLiteral("GO"),
          QStringLiteral("--</T:Indexes>")},
         4,
         {QStringLiteral("XXXXXX ROOLBACK Transfer Block:<Indexes>  XXXXXX")},
         {QStringLiteral("COMMIT  vvvvv")},
         true},
        {"transfer block inside a transactional version block",
         {QStringLiteral("--<VT:1.1>"), QStringLiteral("--<T:Indexes>"),
          QStringLiteral("CREATE TABLE t1 ([a] INT)"), QStringLiteral("GO"), QStringLiteral("--</T:Indexes>"),
          QStringLiteral("CREATE TABLE t2 ([a] INT)"), QStringLiteral("GO"), QStringLiteral("--</V:1.1>"),
          QStringLiteral("--<V:1.2>"), QStringLiteral("--</V:1.2>")},
         8,
         {QStringLiteral("XXXXXX ROOLBACK Ver:<1.1>   XXXXXX")},
         {QStringLiteral("COMMIT  vvvvv"), QStringLiteral("Completed And COMMITED"),
          QStringLiteral("Ver:<1.2> Start")},
         false},
    };
    const QString database = path(QStringLiteral("data/crm.sqlite"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(mdlOVSqlUpdateDB::UpdateLogPath());
        const QString script = writeScript(c.lines);
        {
            FaultAtLine ui(c.faultLine, [&] {
                ASSERT_TRUE(QFile::rename(database, path(QStringLiteral("gone.sqlite"))));
            });
            EXPECT_EQ(run(script), c.complete);
        }
        const QByteArray log = readBytes(mdlOVSqlUpdateDB::UpdateLogPath());
        for (const QString& entry : c.rolledBack)
            EXPECT_TRUE(log.contains(entry.toLatin1())) << entry.toStdString() << "\n" << log.toStdString();
        for (const QString& entry : c.committed)
            EXPECT_FALSE(log.contains(entry.toLatin1())) << entry.toStdString() << "\n" << log.toStdString();
        ASSERT_TRUE(QFile::rename(path(QStringLiteral("gone.sqlite")), database));
        EXPECT_EQ(applied(), QStringList());
        EXPECT_EQ(rows(QStringLiteral("crm"),
                       QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE name IN ('t1', 't2')")),
                  QStringList{QStringLiteral("0")});
    }
}

// A commit that fails because the disk is full leaves SQLite's transaction
// open. The runner rolls it back at once and stops there, as after any
// failure of the machine: nothing after the block runs, inside a transaction
// that nobody commits or outside one, and a run with room does all of it.
TEST_F(UpdateFaults, AFullDiskAtACommitRollsBackAndStopsTheRun)
{
    // The version block's commit, with the transfer block's rows in it, needs
    // room the disk does not have.
    const QString script = writeScript({
        QStringLiteral("--<VT:1.1>"),
        QStringLiteral("--<T:Fill>"),
        QStringLiteral("CREATE TABLE big ([b] BLOB)"),
        QStringLiteral("GO"),
        // Small enough to stay in SQLite's page cache until the commit.
        QStringLiteral("INSERT INTO big VALUES (zeroblob(500000))"),
        QStringLiteral("GO"),
        QStringLiteral("--</T:Fill>"),
        QStringLiteral("--</V:1.1>"),
        QStringLiteral("CREATE TABLE after_block ([a] INT)"),
        QStringLiteral("GO"),
    });
    const QString database = path(QStringLiteral("data/crm.sqlite"));
    const QString outcome = runInChild(
        [&] {
            // Room for the small table, not for the commit of the big row.
            FaultAtLine ui(7, [&] { limitFileSize(rlim_t(QFileInfo(database).size()) + 64 * 1024); });
            return QString::number(run(script));
        },
        false);
    EXPECT_EQ(outcome, QStringLiteral("0"));
    EXPECT_EQ(applied(), QStringList());
    EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE name IN "
                                                         "('big', 'after_block')")),
              QStringList{QStringLiteral("0")});
    const QByteArray log = readBytes(mdlOVSqlUpdateDB::UpdateLogPath());
    EXPECT_TRUE(log.contains("XXXXXX ROOLBACK Ver:<1.1>   XXXXXX")) << log.toStdString();
    EXPECT_FALSE(log.contains("COMMIT  vvvvv")) << log.toStdString();

    ScriptedUi ui;
    EXPECT_TRUE(run(script));
    EXPECT_EQ(applied(), QStringList{QStringLiteral("1.1")});
    EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT name FROM sqlite_master WHERE name IN "
                                                         "('big', 'after_block') ORDER BY name")),
              (QStringList{QStringLiteral("after_block"), QStringLiteral("big")}));
}

// The schema check at the end of an update and of a rerun still tells its
// findings when its log entries cannot be written (a read-only program
// folder, a full disk): an update of a database that lacks a block of its
// version completes and names it (exit code 3), the rerun of that block
// mends it, and the next update finds nothing missing.
TEST_F(UpdateFaults, TheSchemaCheckDecidesWhenTheLogCannotBeWritten)
{
    ASSERT_TRUE(m_dir.copyDist({QStringLiteral("OVScriptEmpty.txt"), QStringLiteral("OVScriptUpdate.txt")}));
    const QString shipped = path(QStringLiteral("OVScriptUpdate.txt"));
    QFile in(shipped);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    QByteArray without = in.readAll();
    const int from = int(without.indexOf("--<VT:1.4>"));
    const int to = int(without.indexOf("--</V:1.4>\r\n"));
    ASSERT_TRUE(from > 0 && to > from);
    without.remove(from, to + 12 - from);
    const QString partial = path(QStringLiteral("partial.txt"));
    QFile out(partial);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(without);
    out.close();
    const QString database = path(QStringLiteral("data/shop.sqlite"));
    const QString log = mdlOVSqlUpdateDB::UpdateLogPath();
    const QByteArray earlierLog(2000000, 'x');
    const auto updateWith = [&](const QString& script) {
        RecordingStatus status;
        RecordingProgress progress;
        const mdlOVSqlUpdateDB::UpdateOutcome outcome = mdlOVSqlUpdateDB::RunUpdateAndCheck(
            m_server, QStringLiteral("shop"), true, QString(), QString(), script, status, progress);
        mdlOVSqlUpdateDB::TellCheckFindings(outcome);
        return outcome.exitCode();
    };

    struct Case
    {
        const char* name;
        std::function<void()> fault;
        bool unprivileged;
    };
    const Case cases[] = {
        {"full disk", [&] { limitFileSize(rlim_t(earlierLog.size()) - 1000); }, false},
        {"read-only program folder", [] {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(database);
        QFile f(database);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.close();
        {
            ScriptedUi ui;
            RecordingStatus status;
            RecordingProgress progress;
            ASSERT_TRUE(mdlOVSqlUpdateDB::RunUpdateScript(
                m_server, QStringLiteral("shop"), true, QString(), QString(),
                path(QStringLiteral("OVScriptEmpty.txt")), status, progress));
            ASSERT_TRUE(
                connect(QStringLiteral("shop"))
                    ->Execute(QStringLiteral("INSERT INTO tblVarible VALUES ('DB', 'Version', '0', '')")));
            ASSERT_TRUE(mdlOVSqlUpdateDB::RunUpdateScript(m_server, QStringLiteral("shop"), true, QString(),
                                                          QString(), partial, status, progress));
        }
        QFile l(log);
        ASSERT_TRUE(l.open(QIODevice::WriteOnly | QIODevice::Truncate));
        l.write(earlierLog);
        l.close();
        giveToUnprivileged(path(QStringLiteral("data")));
        giveToUnprivileged(database);
        if (c.unprivileged)
            QFile::setPermissions(m_dir.path(), QFile::Permissions(0x5555));
        const QString outcome = runInChild(
            [&] {
                c.fault();
                ScriptedUi ui;
                QStringList steps;
                steps << QString::number(updateWith(shipped));
                RecordingStatus status;
                RecordingProgress progress;
                steps << QString::number(mdlOVSqlUpdateDB::RerunVersionBlock(
                                             m_server, QStringLiteral("shop"), true, QString(), QString(),
                                             shipped, QStringLiteral("1.4"), status, progress)
                                             .exitCode());
                steps << QString::number(updateWith(shipped));
                return steps.join(QLatin1Char(' ')) + QLatin1Char('\n') + ui.texts().join(QLatin1Char('/'));
            },
            c.unprivileged);
        QFile::setPermissions(m_dir.path(), QFile::Permissions(0x7755));
        EXPECT_TRUE(outcome.startsWith(QStringLiteral("3 0 0\n"))) << outcome.toStdString();
        EXPECT_TRUE(outcome.contains(QStringLiteral("缺少列 tblActivity.DueDate（版本 1.4）")))
            << outcome.toStdString();
        EXPECT_EQ(rows(QStringLiteral("shop"),
                       QStringLiteral("SELECT COUNT(*) FROM pragma_table_info('tblActivity') WHERE name IN "
                                      "('DueDate', 'Priority')")),
                  QStringList{QStringLiteral("2")});
        QFile written(log);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        EXPECT_EQ(written.readAll(), earlierLog) << "the log could not be written to";
    }
}

// A failure of the machine (a full disk, an I/O error) stops the run where it
// happens, in any batch of any block, at a commit and in the statement that
// records a version: what can be rolled back is, the block's version is not
// recorded, no later block runs, the run fails saying which version, why and
// where the log is, and the log holds the error although the script hides
// errors. Run again with room, the block completes with all its rows. (A
// failing transfer rolls back only itself when the script is at fault; not
// when the disk is: its version would be recorded without its rows.)
TEST_F(UpdateFaults, AFailureOfTheMachineStopsTheRunWhereverItHappens)
{
    const int kContacts = 2000;
    const QStringList blocks = {
        QStringLiteral("--<V:1.1>"),
        QStringLiteral("DELETE FROM tblNote;"), // line 2
        QStringLiteral("INSERT INTO tblNote SELECT id, phone FROM tblContact"),
        QStringLiteral("GO"),
        QStringLiteral("--<T:Phones>"),
        QStringLiteral("INSERT INTO tblContactPhone SELECT id, phone FROM tblContact WHERE id % 2 = 0"), // 6
        QStringLiteral("GO"),
        QStringLiteral("INSERT INTO tblContactPhone SELECT id, phone FROM tblContact WHERE id % 2 = 1"),
        QStringLiteral("GO"),
        QStringLiteral("--</T:Phones>"), // 10
        QStringLiteral("UPDATE tblVarible SET VaribleValue = '1.1' WHERE [Module] = 'DB'"),
        QStringLiteral("GO"),
        QStringLiteral("--</V:1.1>"), // 13
        QStringLiteral("--<VT:1.2>"),
        QStringLiteral("CREATE TABLE t2 ([a] INT)"), // 15
        QStringLiteral("GO"),
        QStringLiteral("INSERT INTO t2 SELECT id FROM tblContactPhone"),
        QStringLiteral("GO"),
        QStringLiteral("UPDATE tblVarible SET VaribleValue = '1.2' WHERE [Module] = 'DB'"),
        QStringLiteral("GO"),
        QStringLiteral("--</V:1.2>"), // 21
        QStringLiteral("--<V:1.3>"),
        QStringLiteral("CREATE TABLE t3 ([a] INT)"),
        QStringLiteral("GO"),
        QStringLiteral("--</V:1.3>"),
    };
    const QString database = path(QStringLiteral("data/crm.sqlite"));
    // Every write of the database and its journal fails as on a full disk;
    // the log is still written.
    const auto fullDisk = [] { failSystemCall(__NR_pwrite64, ENOSPC); };
    const auto sizeLimit = [&database] { limitFileSize(rlim_t(QFileInfo(database).size() + 8192)); };
    const QString folder = path(QStringLiteral("data"));
    const auto readOnlyFolder = [&folder] { QFile::setPermissions(folder, QFile::Permissions(0x5555)); };
    const QStringList all = {QStringLiteral("1.1"), QStringLiteral("1.2"), QStringLiteral("1.3")};
    const struct
    {
        const char* name;
        int faultLine; // the fault comes before this line is read
        std::function<void()> fault;
        const char* version;       // the block it stops in
        const char* cause;         // in the message and the log
        const char* where;         // the statement that met it, logged after the cause
        QStringList recorded;      // after the stopped run
        const char* dbVersion;     // after the stopped run
        int phones;                // rows of tblContactPhone after the stopped run
        QStringList rerun;         // recorded after the run with room: the block completes
        bool unprivileged = false; // the run is made by a user whom permissions stop
    } cases[] = {
        // clang-format off
        {"a batch of a transfer block in a --<V: block", 6, fullDisk, "1.1",
         "database or disk is full", "INSERT INTO tblContactPhone", {}, "1.0", 0, all},
        // The batches of the transfer are done; its commit writes them.
        {"the commit of a transfer block in a --<V: block", 10, fullDisk, "1.1",
         "database or disk is full", "COMMIT TRANSACTION", {}, "1.0", 0, all},
        {"a batch of a --<V: block", 2, fullDisk, "1.1",
         "database or disk is full", "DELETE FROM tblNote", {}, "1.0", 0, all},
        {"a file-size limit in a batch of a --<V: block", 2, sizeLimit, "1.1",
         "disk I/O error", "DELETE FROM tblNote", {}, "1.0", 0, all},
        // The block's statements ran before; only its record is missing, and
        // the database's own version passes it over on the next run.
        {"the record of a --<V: block", 13, fullDisk, "1.1",
         "database or disk is full", "(the record of Ver:<1.1> in tblVarible)", {}, "1.1", kContacts,
         {QStringLiteral("1.2"), QStringLiteral("1.3")}},
        {"a batch of a --<VT: block", 15, fullDisk, "1.2",
         "database or disk is full", "CREATE TABLE t2", {QStringLiteral("1.1")}, "1.1", kContacts, all},
        {"the commit of a --<VT: block", 21, fullDisk, "1.2",
         "database or disk is full", "COMMIT TRANSACTION", {QStringLiteral("1.1")}, "1.1", kContacts, all},
        // The server folder turns read-only under the run: the engine cannot
        // make the journal a write needs.
        {"a read-only server folder in a batch of a --<V: block", 2, readOnlyFolder, "1.1",
         "attempt to write a readonly database", "DELETE FROM tblNote", {}, "1.0", 0, all, true},
        {"a read-only server folder in a batch of a --<VT: block", 15, readOnlyFolder, "1.2",
         "attempt to write a readonly database", "CREATE TABLE t2", {QStringLiteral("1.1")}, "1.1", kContacts, all,
         true},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(mdlOVSqlUpdateDB::UpdateLogPath());
        const QString script = writeScript(blocks);
        ASSERT_TRUE(
            connect(QStringLiteral("crm"))
                ->Execute(
                    QStringLiteral(
                        "DROP TABLE IF EXISTS tblContact; DROP TABLE IF EXISTS tblContactPhone; "
                        "DROP TABLE IF EXISTS tblNote; DROP TABLE IF EXISTS t2; DROP TABLE IF EXISTS t3; "
                        "CREATE TABLE tblContact ([id] INT, [phone] NVARCHAR(250)); "
                        "CREATE TABLE tblContactPhone ([id] INT, [phone] NVARCHAR(250)); "
                        "CREATE TABLE tblNote ([id] INT, [phone] NVARCHAR(250)); "
                        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                        "INSERT INTO tblContact SELECT i, printf('%0200d', i) FROM n; "
                        "DELETE FROM tblVarible WHERE [Module] = 'UpdateDB'; "
                        "UPDATE tblVarible SET VaribleValue = '1.0' WHERE [Module] = 'DB'; VACUUM")
                        .arg(kContacts)));
        if (c.unprivileged) {
            // The unprivileged run owns the server folder and its files, and
            // may write the log.
            QFile log(mdlOVSqlUpdateDB::UpdateLogPath());
            ASSERT_TRUE(log.open(QIODevice::WriteOnly));
            log.close();
            giveToUnprivileged(log.fileName());
            giveToUnprivileged(folder);
            for (const QFileInfo& file : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
                giveToUnprivileged(file.filePath());
        }
        const QString outcome = runInChild(
            [&] {
                FaultAtLine ui(c.faultLine, c.fault);
                const bool ran = run(script);
                QStringList said;
                for (const auto& m : ui.messages())
                    said << QStringLiteral("[%1] %2").arg(int(m.style)).arg(m.text);
                return QStringLiteral("%1\n%2").arg(ran).arg(said.join(QLatin1Char('\n')));
            },
            c.unprivileged);
        QFile::setPermissions(folder, QFile::Permissions(0x7755));
        EXPECT_TRUE(outcome.startsWith(QStringLiteral("0\n"))) << outcome.toStdString();
        EXPECT_EQ(outcome.count(QStringLiteral("\n[")), 1) << "one message\n" << outcome.toStdString();
        EXPECT_TRUE(
            outcome.contains(QStringLiteral("版本 %1 的升级因故障中止").arg(QLatin1String(c.version))))
            << outcome.toStdString();
        EXPECT_TRUE(outcome.contains(QLatin1String(c.cause))) << outcome.toStdString();
        EXPECT_TRUE(outcome.contains(mdlOVSqlUpdateDB::UpdateLogPath())) << outcome.toStdString();
        EXPECT_FALSE(outcome.contains(QStringLiteral("成功"))) << outcome.toStdString();
        const QByteArray log = readBytes(mdlOVSqlUpdateDB::UpdateLogPath());
        EXPECT_TRUE(log.contains(QByteArray("\r\n") + c.cause + "\r\n" + c.where)) << log.toStdString();
        EXPECT_EQ(applied(), c.recorded);
        EXPECT_EQ(rows(QStringLiteral("crm"),
                       QStringLiteral("SELECT VaribleValue FROM tblVarible WHERE [Module] = 'DB'")),
                  QStringList{QLatin1String(c.dbVersion)});
        EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT COUNT(*) FROM tblContactPhone")),
                  QStringList{QString::number(c.phones)})
            << "the rows of a stopped transfer are all kept or all gone";
        EXPECT_EQ(rows(QStringLiteral("crm"),
                       QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE name = 't3'")),
                  QStringList{QStringLiteral("0")})
            << "no later block runs";

        ScriptedUi ui;
        EXPECT_TRUE(run(script)) << ui.texts().join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(applied(), c.rerun);
        EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT COUNT(*), COUNT(DISTINCT id) FROM "
                                                             "tblContactPhone")),
                  QStringList{QStringLiteral("%1|%1").arg(kContacts)});
        EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT COUNT(*) FROM t2")),
                  QStringList{QString::number(kContacts)});
    }
}
