// ovsqlcli update over many databases (--all, --databases, --list,
// --retry-failed) on the embedded engine, between real processes: what each
// database ends as, the report, the exit code and the update log.

#include "data/Connection.h"
#include "data/Recordset.h"
#include "data/ServerAdmin.h"
#include "support/CliProgram.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/types.h>

#include <csignal>
#include <map>

namespace {

// Three version blocks, each setting the version it brings. Every block is
// transactional, so that a database is always at one block's end.
QByteArray stepScript(const QByteArray& extra = QByteArray())
{
    QByteArray s;
    for (const char* v : {"1.1", "1.2", "1.3"}) {
        const QByteArray name = QByteArray(v);
        QByteArray table = "t" + name;
        table.replace('.', "");
        s += "--<VT:" + name + ">\r\nCREATE TABLE " + table + " (id INT)\r\nGO\r\n" + extra +
             "UPDATE tblVarible SET VaribleValue = '" + name +
             "' WHERE Module = 'DB' AND VaribleName = 'Version'\r\nGO\r\n--</V:" + name + ">\r\n";
    }
    return s;
}

class ManyDatabasesCommandTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(ovtest::InstallCli(m_dir.path()));
        ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("data")));
        m_admin = ov::ServerAdmin::create(server(), true, QString(), QString());
        writeFile(QStringLiteral("step.txt"), stepScript());
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString server(const QString& folder = QStringLiteral("data")) const
    {
        return QStringLiteral("sqlite:") + path(folder);
    }
    void writeFile(const QString& name, const QByteArray& bytes) const
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    ovtest::CliResult run(const QStringList& args) const { return ovtest::RunCli(m_dir.path(), args); }

    std::unique_ptr<ov::Connection> connect(const QString& database, const QString& folder = "data") const
    {
        auto cn = std::make_unique<ov::Connection>();
        EXPECT_TRUE(
            cn->Open(QStringLiteral("Data Source=%1;Initial Catalog=%2").arg(server(folder), database)));
        return cn;
    }

    // A product database at version (tables t11 … of the blocks before it).
    void makeDatabase(const QString& name, const QString& version, const QString& folder = "data") const
    {
        const auto admin = ov::ServerAdmin::create(server(folder), true, QString(), QString());
        ASSERT_TRUE(admin->createDatabase(name));
        const auto cn = connect(name, folder);
        ASSERT_TRUE(
            cn->Execute(QStringLiteral("CREATE TABLE tblVarible (Module NVARCHAR(50), VaribleName "
                                       "NVARCHAR(50), VaribleValue NVARCHAR(255), UserID NVARCHAR(50))")));
        ASSERT_TRUE(cn->Execute(
            QStringLiteral("INSERT INTO tblVarible VALUES ('DB', 'Version', '%1', '')").arg(version)));
        for (const char* v : {"1.1", "1.2", "1.3"}) {
            if (QString::fromLatin1(v) <= version) {
                ASSERT_TRUE(cn->Execute(
                    QStringLiteral("CREATE TABLE t%1 (id INT)").arg(QString::fromLatin1(v).remove('.'))));
            }
        }
    }

    QString version(const QString& database, const QString& folder = "data") const
    {
        const auto cn = connect(database, folder);
        ov::Recordset rs;
        if (!rs.Open(QStringLiteral("SELECT VaribleValue FROM tblVarible WHERE Module = 'DB' AND VaribleName "
                                    "= 'Version'"),
                     *cn) ||
            rs.Eof())
            return QStringLiteral("(none)");
        return rs.Fields(0).Value().toString();
    }

    QByteArray fileHash(const QString& file) const
    {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            return "(missing)";
        return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex();
    }

    // Every database file of folder with the hash of its bytes.
    std::map<QString, QByteArray> files(const QString& folder = "data") const
    {
        std::map<QString, QByteArray> out;
        for (const QString& name : QDir(path(folder)).entryList({"*.sqlite"}, QDir::Files))
            out[name] = fileHash(path(folder + "/" + name));
        return out;
    }

    // The databases of a report by name: {result, versionAfter}.
    static std::map<QString, QJsonObject> report(const QString& file)
    {
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << file.toStdString();
        std::map<QString, QJsonObject> out;
        for (const QJsonValue& v :
             QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("databases")).toArray())
            out[v.toObject().value(QStringLiteral("database")).toString()] = v.toObject();
        return out;
    }

    // The sections of the update log, by the database their header names:
    // the lines from one header to the next.
    std::multimap<QString, QStringList> logSections() const
    {
        QFile f(path(QStringLiteral("UpdateDBSqlLog.Txt")));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        std::multimap<QString, QStringList> out;
        QString current;
        QStringList lines;
        static const QRegularExpression header(QStringLiteral("^Server:.*, DB:(.*), Script File:"));
        for (const QString& line : QString::fromLatin1(f.readAll()).split(QStringLiteral("\r\n"))) {
            const auto m = header.match(line);
            if (m.hasMatch()) {
                if (!current.isEmpty())
                    out.emplace(current, lines);
                current = m.captured(1);
                lines.clear();
            }
            if (line.contains(QLatin1String("Ver:<")))
                lines.append(line.trimmed());
        }
        if (!current.isEmpty())
            out.emplace(current, lines);
        return out;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<ov::ServerAdmin> m_admin;
};

// Twenty product databases at mixed versions, one that fails its update, one
// that another task holds, and a database that is no product database: the
// eighteen end at the newest version, the failed one with its reason, the
// held one busy; the other database is untouched; the report and the exit
// code say so. The retry of the failures then touches those two only.
TEST_F(ManyDatabasesCommandTest, UpdatesEveryProductDatabaseAndTheRetryTouchesOnlyTheFailures)
{
    const QStringList versions = {"1.0", "1.1", "1.2", "1.3"};
    for (int i = 0; i < 20; ++i)
        makeDatabase(QStringLiteral("crm%1").arg(i, 2, 10, QLatin1Char('0')), versions[i % 4]);
    // crm04 is at 1.0 but already has the table of 1.2: that block fails.
    ASSERT_TRUE(connect(QStringLiteral("crm04"))->Execute(QStringLiteral("CREATE TABLE t12 (id INT)")));
    ASSERT_TRUE(m_admin->createDatabase(QStringLiteral("notes")));
    ASSERT_TRUE(connect(QStringLiteral("notes"))->Execute(QStringLiteral("CREATE TABLE note (id INT)")));
    const QByteArray notes = fileHash(path(QStringLiteral("data/notes.sqlite")));
    std::shared_ptr<ov::DatabaseLock> held = m_admin->lockDatabase(QStringLiteral("crm08"));
    ASSERT_TRUE(held);
    // The log of earlier work: the failure's line is counted past it.
    writeFile(QStringLiteral("UpdateDBSqlLog.Txt"), QByteArray("earlier entry\r\n").repeated(1000));

    ovtest::CliResult r = run({"update", "--server", "sqlite:data", "--all", "--no-backup", "--script",
                               "step.txt", "--parallel", "2", "--report", "first.json"});
    // One failed: the worst of the codes a single update gives (1 over 2).
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString() << r.out.toStdString();
    auto first = report(path(QStringLiteral("first.json")));
    ASSERT_EQ(first.size(), 21u) << r.out.toStdString();
    for (int i = 0; i < 20; ++i) {
        const QString name = QStringLiteral("crm%1").arg(i, 2, 10, QLatin1Char('0'));
        SCOPED_TRACE(name.toStdString());
        const QJsonObject o = first[name];
        EXPECT_EQ(o.value("versionBefore").toString(), versions[i % 4]);
        if (name == QLatin1String("crm04")) {
            EXPECT_EQ(o.value("result").toString(), "failed");
            EXPECT_EQ(o.value("exitCode").toInt(), 1);
            EXPECT_TRUE(o.value("reason").toString().contains("t12"))
                << o.value("reason").toString().toStdString();
            // The line of the log where its section begins.
            QFile log(path(QStringLiteral("UpdateDBSqlLog.Txt")));
            EXPECT_TRUE(log.open(QIODevice::ReadOnly));
            const QList<QByteArray> lines = log.readAll().split('\n');
            const int at = o.value("logLine").toInt();
            EXPECT_GT(at, 1000);
            EXPECT_TRUE(lines.mid(at - 1, 12).join('\n').contains("DB:crm04,")) << at;
            EXPECT_FALSE(lines.mid(at - 2, 1).join('\n').contains("Ver:")) << at;
            // The block before the failing one stays done; the failing one
            // is rolled back.
            EXPECT_EQ(version(name), "1.1");
            EXPECT_EQ(o.value("versionAfter").toString(), "1.1");
        } else if (name == QLatin1String("crm08")) {
            EXPECT_EQ(o.value("result").toString(), "busy");
            EXPECT_EQ(version(name), "1.0");
        } else {
            EXPECT_EQ(o.value("result").toString(), versions[i % 4] == "1.3" ? "current" : "updated");
            EXPECT_EQ(o.value("blocksRun").toInt(), 3 - versions.indexOf(versions[i % 4]));
            EXPECT_EQ(o.value("versionAfter").toString(), "1.3");
            EXPECT_EQ(version(name), "1.3");
        }
    }
    EXPECT_EQ(first["notes"].value("result").toString(), "not-product");
    EXPECT_EQ(fileHash(path(QStringLiteral("data/notes.sqlite"))), notes);
    // The table on stdout names each result; a line for each database went
    // to stderr as it ended.
    EXPECT_TRUE(r.out.contains(QStringLiteral("正被另一个任务使用，未升级"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("不是产品数据库，未处理")));
    EXPECT_EQ(r.err.count(
                  QRegularExpression(QStringLiteral("^\\[\\d+/21\\] "), QRegularExpression::MultilineOption)),
              21)
        << r.err.toStdString();

    // Each database that ran has one whole section in the log, its blocks
    // and nothing of another's, though two ran at once.
    const auto sections = logSections();
    EXPECT_EQ(sections.size(), 19u);
    for (const auto& [name, lines] : sections) {
        SCOPED_TRACE(name.toStdString());
        const int at =
            name == QLatin1String("crm04") ? 0 : versions.indexOf(versions[name.mid(3).toInt() % 4]);
        QStringList started;
        for (const QString& line : lines) {
            if (line.contains(QLatin1String("Start")))
                started.append(line.section('<', 1).section('>', 0, 0));
        }
        EXPECT_EQ(started, (QStringList{"1.1", "1.2", "1.3"}.mid(at).mid(0, name == "crm04" ? 2 : 3)));
    }

    // The fault mended and the task over: the retry runs exactly the two.
    ASSERT_TRUE(connect(QStringLiteral("crm04"))->Execute(QStringLiteral("DROP TABLE t12")));
    held.reset();
    auto before = files();
    before.erase("crm04.sqlite");
    before.erase("crm08.sqlite");
    r = run({"update", "--server", "sqlite:data", "--retry-failed", "first.json", "--no-backup", "--script",
             "step.txt", "--report", "second.json"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString() << r.out.toStdString();
    const auto second = report(path(QStringLiteral("second.json")));
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second.at("crm04").value("result").toString(), "updated");
    EXPECT_EQ(second.at("crm08").value("result").toString(), "updated");
    EXPECT_EQ(version(QStringLiteral("crm04")), "1.3");
    EXPECT_EQ(version(QStringLiteral("crm08")), "1.3");
    auto after = files();
    after.erase("crm04.sqlite");
    after.erase("crm08.sqlite");
    EXPECT_EQ(after, before);
}

// Options that cannot make a run are refused before anything is touched:
// exit code 2, no log, no report, no database changed.
TEST_F(ManyDatabasesCommandTest, OptionsThatCannotMakeARunAreRefusedBeforeAnythingIsTouched)
{
    makeDatabase(QStringLiteral("crm"), QStringLiteral("1.0"));
    writeFile(QStringLiteral("exists.json"), "{}");
    writeFile(QStringLiteral("bad-list.txt"), "sqlite:data crm\n");
    writeFile(QStringLiteral("not-a-report.json"), "[1, 2]");
    const QStringList base = {"update", "--server", "sqlite:data", "--script", "step.txt"};
    const QList<QStringList> cases = {
        {"--all"},                                               // no backup choice
        {"--all", "--no-backup", "--database", "crm"},           // one database and all
        {"--all", "--databases", "crm", "--no-backup"},          // two choices
        {"--all", "--no-backup", "--dry-run"},                   // one database only
        {"--all", "--no-backup", "--rerun", "1.2"},              // one database only
        {"--all", "--no-backup", "--parallel", "0"},             // no number of updates at once
        {"--all", "--no-backup", "--parallel", "two"},           //
        {"--all", "--no-backup", "--report", "exists.json"},     // never overwritten
        {"--database", "crm", "--no-backup", "--parallel", "2"}, // one database, no many
        {"--list", "bad-list.txt", "--no-backup"},               // no tab
        {"--retry-failed", "not-a-report.json", "--no-backup"},
        {"--retry-failed", "data", "--no-backup"}, // a folder
        {"--databases", " , ", "--no-backup"},
        {"--databases", "cr\nm", "--no-backup"},
        {
            "--all",
            "--backup-to",
            " ",
        },
    };
    for (const QStringList& extra : cases) {
        SCOPED_TRACE(extra.join(' ').toStdString());
        const ovtest::CliResult r = run(base + extra);
        EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
        EXPECT_EQ(version(QStringLiteral("crm")), "1.0");
        EXPECT_FALSE(QFile::exists(path(QStringLiteral("UpdateDBSqlLog.Txt"))));
    }
    EXPECT_EQ(QDir(m_dir.path()).entryList({"*.json"}, QDir::Files),
              QStringList({"exists.json", "not-a-report.json"}));
}

// --list spans servers; a database named twice is updated once; a database
// that is not there fails as one that cannot be reached and is not made;
// --backup-to makes one backup of each database before its update, named
// with the database and the time.
TEST_F(ManyDatabasesCommandTest, AListSpansServersAndEachDatabaseIsBackedUpBeforeItsUpdate)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("other")));
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("backups")));
    makeDatabase(QStringLiteral("crm"), QStringLiteral("1.0"));
    makeDatabase(QStringLiteral("crm"), QStringLiteral("1.2"), QStringLiteral("other"));
    // A name that holds what a file name must not: "/" and a quote.
    makeDatabase(QStringLiteral("o'brien [x]"), QStringLiteral("1.1"), QStringLiteral("other"));
    writeFile(QStringLiteral("list.txt"), "# customers\n"
                                          "sqlite:data\tcrm\r\n"
                                          "\n"
                                          "sqlite:other\tcrm\n"
                                          "sqlite:data\tCRM\n"
                                          "sqlite:other\to'brien [x]\n"
                                          "sqlite:other\tgone\n");
    const ovtest::CliResult r = run({"update", "--list", "list.txt", "--backup-to", path("backups"),
                                     "--script", "step.txt", "--report", "r.json"});
    // The database that is not there could not start: 2.
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString() << r.out.toStdString();
    QFile f(path(QStringLiteral("r.json")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QJsonArray list = QJsonDocument::fromJson(f.readAll()).object().value("databases").toArray();
    ASSERT_EQ(list.size(), 4);
    QStringList seen;
    for (const QJsonValue& v : list)
        seen << v.toObject().value("server").toString() + "|" + v.toObject().value("database").toString() +
                    "|" + v.toObject().value("result").toString() + "|" +
                    v.toObject().value("versionAfter").toString();
    EXPECT_EQ(seen, QStringList({"sqlite:data|crm|updated|1.3", "sqlite:other|crm|updated|1.3",
                                 "sqlite:other|o'brien [x]|updated|1.3", "sqlite:other|gone|failed|"}));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("other/gone.sqlite"))));
    // Three backups, each of its database before the update.
    const QStringList backups = QDir(path("backups")).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(backups.size(), 3) << backups.join(' ').toStdString();
    // The run spans two servers: each name carries a hash of its server and
    // database, so that the two "crm" of one folder never meet.
    const QRegularExpression named(QStringLiteral("^(crm|o_brien__x_)_[0-9a-f]{8}_\\d{8}_\\d{6}\\.bak$"));
    for (const QString& b : backups)
        EXPECT_TRUE(named.match(b).hasMatch()) << b.toStdString();
}

// --stop-on-error: once one database has failed, no further one starts; the
// ones left are reported as not started and untouched.
TEST_F(ManyDatabasesCommandTest, StopOnErrorStartsNoFurtherDatabase)
{
    for (const char* name : {"bad", "a", "b"})
        makeDatabase(QLatin1String(name), QStringLiteral("1.0"));
    ASSERT_TRUE(connect(QStringLiteral("bad"))->Execute(QStringLiteral("CREATE TABLE t11 (id INT)")));
    const ovtest::CliResult r =
        run({"update", "--server", "sqlite:data", "--databases", "bad,a,b", "--no-backup", "--script",
             "step.txt", "--stop-on-error", "--report", "r.json"});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    const auto got = report(path(QStringLiteral("r.json")));
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got.at("bad").value("result").toString(), "failed");
    EXPECT_EQ(got.at("a").value("result").toString(), "not-started");
    EXPECT_EQ(got.at("b").value("result").toString(), "not-started");
    EXPECT_EQ(version(QStringLiteral("a")), "1.0");
    EXPECT_EQ(version(QStringLiteral("b")), "1.0");
}

// Ctrl-C during a run: no further database starts, the updates that run end
// the version block they are in and run no further one; the report says
// what was done, and the exit code that the work was not all done.
TEST_F(ManyDatabasesCommandTest, AnInterruptLetsTheRunningBlocksEndAndStartsNothingMore)
{
    // Every block holds a batch of a few seconds.
    writeFile(
        QStringLiteral("slow.txt"),
        stepScript("SELECT COUNT(*) FROM (WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
                   "WHERE x < 8000000) SELECT x FROM c)\r\nGO\r\n"));
    for (const char* name : {"a", "b", "c", "d"})
        makeDatabase(QLatin1String(name), QStringLiteral("1.0"));
    QProcess p;
    p.setWorkingDirectory(m_dir.path());
    p.start(path(QStringLiteral("ovsqlcli")),
            {"update", "--server", "sqlite:data", "--all", "--no-backup", "--script", "slow.txt",
             "--parallel", "2", "--report", "r.json"});
    p.closeWriteChannel();
    ASSERT_TRUE(p.waitForStarted());
    // Both updates are inside their first block: their log sections say so.
    const auto inFirstBlock = [&] {
        int n = 0;
        for (const QString& f :
             QDir(m_dir.path())
                 .entryList({QStringLiteral(".UpdateDBSqlLog.Txt.*.section")}, QDir::Files | QDir::Hidden)) {
            QFile file(path(f));
            n += file.open(QIODevice::ReadOnly) && file.readAll().contains("SSSSS Ver:<1.1>") ? 1 : 0;
        }
        return n;
    };
    for (int i = 0; i < 600 && inFirstBlock() < 2 && p.state() == QProcess::Running; ++i)
        QThread::msleep(50);
    ASSERT_EQ(inFirstBlock(), 2);
    ::kill(pid_t(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(120000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 1) << err.toStdString();
    const auto got = report(path(QStringLiteral("r.json")));
    ASSERT_EQ(got.size(), 4u);
    QStringList results;
    for (const auto& [name, o] : got) {
        results << o.value("result").toString();
        // A stopped update ended the block it was in, and ran no other.
        if (o.value("result").toString() == QLatin1String("stopped")) {
            EXPECT_EQ(o.value("versionAfter").toString(), "1.1") << name.toStdString();
            EXPECT_EQ(version(name), "1.1");
            EXPECT_EQ(o.value("blocksRun").toInt(), 1);
        } else {
            EXPECT_EQ(version(name), "1.0") << name.toStdString();
        }
    }
    EXPECT_EQ(results, QStringList({"stopped", "stopped", "not-started", "not-started"}))
        << err.toStdString();
}

} // namespace
