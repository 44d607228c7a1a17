// The embedded engine's database file failing in the middle of a data import,
// a table transfer and a script run: the disk fills up, or the file is
// removed. The operation ends with its message and nothing that did not
// happen is reported or recorded as done.

#include "FaultSupport.h"
#include "common/Cp936.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "config/ConfigFiles.h"
#include "config/mdlEncode.h"
#include "config/mdlOVSqlServerAccess.h"
#include "config/mdlOVSqlServerConnect.h"
#include "convert/TableTransfer.h"
#include "create/DataImport.h"
#include "data/ServerAdmin.h"
#include "jet/writer/Writer.h"
#include "update/UpdateScript.h"

#include <QFileInfo>

using namespace ovtest;

namespace {

const QStringList kDemoTables = {QStringLiteral("tblVarible"), QStringLiteral("tblUser"),
                                 QStringLiteral("tblCompany"), QStringLiteral("tblContact"),
                                 QStringLiteral("tblActivity")};

// A status label that calls fault once, when it is given the caption.
class FaultAtCaption : public RecordingStatus
{
public:
    FaultAtCaption(QString caption, std::function<void()> fault)
        : m_caption(std::move(caption)), m_fault(std::move(fault))
    {}
    void setCaption(const QString& text) override
    {
        RecordingStatus::setCaption(text);
        if (text == m_caption)
            m_fault();
    }

private:
    QString m_caption;
    std::function<void()> m_fault;
};

// Calls fault once, at the given pass of pending events.
class FaultAtPump : public ScriptedUi
{
public:
    FaultAtPump(int pump, std::function<void()> fault) : m_pump(pump), m_fault(std::move(fault)) {}
    void pumpEvents() override
    {
        ScriptedUi::pumpEvents();
        if (pumps() == m_pump)
            m_fault();
    }

private:
    int m_pump;
    std::function<void()> m_fault;
};

class MidOperationFaults : public FaultFixture
{
protected:
    QString databaseFile(const QString& name)
    {
        return path(QStringLiteral("data/") + name + QStringLiteral(".sqlite"));
    }

    // A database with the product's schema.
    void makeProductDatabase(const QString& name)
    {
        auto admin = ov::ServerAdmin::create(m_server, true, QString(), QString());
        ASSERT_TRUE(admin->createDatabase(name));
        ScriptedUi ui;
        RecordingStatus status;
        RecordingProgress progress;
        ASSERT_TRUE(mdlOVSqlUpdateDB::RunUpdateScript(m_server, name, true, QString(), QString(),
                                                      QStringLiteral(OV_SOURCE_DIR "/dist/OVScriptEmpty.txt"),
                                                      status, progress));
    }

    QStringList counts(const QString& database, const QStringList& tables)
    {
        QStringList out;
        for (const QString& t : tables)
            out << rows(database, QStringLiteral("SELECT COUNT(*) FROM [%1]").arg(t)).value(0);
        return out;
    }

    // A copy of the shipped demo data set.
    QString demoSet()
    {
        const QString folder = path(QStringLiteral("Demo/"));
        QDir().mkpath(folder);
        const QDir source(QStringLiteral(OV_SOURCE_DIR "/dist/DBDataFiles/Demo"));
        for (const QString& f : source.entryList(QDir::Files))
            QFile::copy(source.filePath(f), folder + f);
        return folder;
    }
};

} // namespace

// The disk fills up, or the database file becomes read-only, when the
// fourth table of the demo data set is loaded: the tables before it are
// whole, that table holds no row (none is half loaded), the failed load says
// so in its .log file, and the import reports the failure. When the
// database file is removed instead, the import fails too and no empty
// database takes its place.
TEST_F(MidOperationFaults, DatabaseFailingDuringDataImport)
{
    makeProductDatabase(QStringLiteral("ctl"));
    const QString set = demoSet();
    {
        ScriptedUi ui;
        RecordingStatus status;
        RecordingProgress progress;
        ASSERT_TRUE(mdlOVSqlUpdateDB::ImportTableData(m_server, QStringLiteral("ctl"), true, QString(),
                                                      QString(), set, status, progress));
    }
    const QStringList whole = counts(QStringLiteral("ctl"), kDemoTables);
    ASSERT_NE(whole.at(3), QStringLiteral("0"));

    const QString folder = path(QStringLiteral("data"));
    struct Case
    {
        const char* name;
        std::function<void(const QString& database)> fault;
        bool unprivileged;
    };
    const Case cases[] = {
        {"full disk", [](const QString& db) { limitFileSize(rlim_t(QFileInfo(db).size())); }, false},
        {"read-only file",
         [](const QString& db) {
             QFile::setPermissions(db, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
         },
         true},
        {"removed file", [](const QString& db) { QFile::remove(db); }, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = QStringLiteral("crm%1").arg(++n);
        makeProductDatabase(name);
        giveToUnprivileged(folder);
        giveToUnprivileged(databaseFile(name));
        for (const QString& f : QDir(set).entryList(QDir::Files))
            giveToUnprivileged(set + f);
        giveToUnprivileged(set);
        const QString outcome = runInChild(
            [&] {
                ScriptedUi ui;
                FaultAtCaption status(QStringLiteral("正在导入 tblContact"),
                                      [&] { c.fault(databaseFile(name)); });
                RecordingProgress progress;
                const bool ok = mdlOVSqlUpdateDB::ImportTableData(m_server, name, true, QString(), QString(),
                                                                  set, status, progress);
                return QStringLiteral("%1 %2").arg(ok).arg(status.caption());
            },
            c.unprivileged);
        EXPECT_EQ(outcome, QStringLiteral("0 导入数据错误"));
        if (!QFileInfo::exists(databaseFile(name))) {
            EXPECT_EQ(std::string(c.name), "removed file");
            continue;
        }
        EXPECT_TRUE(readBytes(set + QStringLiteral("tblContact.log")).contains("Failed"));
        const QStringList got = counts(name, kDemoTables);
        EXPECT_EQ(got.mid(0, 3), whole.mid(0, 3));
        EXPECT_EQ(got.at(3), QStringLiteral("0"));
        for (int i = 3; i < kDemoTables.size(); ++i)
            EXPECT_TRUE(got.at(i) == QStringLiteral("0") || got.at(i) == whole.at(i))
                << kDemoTables.at(i).toStdString();
    }
}

// The disk fills up, or the database file is removed, while the transfer
// copies its second table: the one transaction cannot be committed, the user
// is told before the completion message, and the server's tables keep the
// rows they had before (a removed database stays removed rather than coming
// back empty). A file made read-only in the middle is still open for writing,
// so the transfer really completes: every row is there and no error is shown.
TEST_F(MidOperationFaults, DatabaseFailingDuringTableTransfer)
{
    const QString cdb = path(QStringLiteral("single.cdb"));
    {
        jet::Writer w(cdb);
        w.setPassword(
            mdlEncode::UnscrambleText(mdlEncode::kScrambledFilePassword, mdlEncode::kFileKey, true));
        for (const QString& t : {QStringLiteral("tblA"), QStringLiteral("tblB")}) {
            w.addTable(t, {{QStringLiteral("Id"), jet::ColumnType::Long},
                           {QStringLiteral("Note"), jet::ColumnType::Memo}});
            for (int i = 0; i < 400; ++i)
                w.addRow(t, {i, QString(500, QChar(u'备'))});
        }
        QString error;
        ASSERT_TRUE(w.save(&error)) << error.toStdString();
    }
    giveToUnprivileged(cdb);
    giveToUnprivileged(path(QStringLiteral("data")));
    const QString both = QStringLiteral("SELECT * FROM tblA UNION ALL SELECT * FROM tblB");

    enum Outcome
    {
        RolledBack,
        Removed,
        Committed
    };
    struct Case
    {
        const char* name;
        std::function<void(const QString& database)> fault;
        bool unprivileged;
        Outcome outcome;
    };
    const Case cases[] = {
        {"full disk", [](const QString& db) { limitFileSize(rlim_t(QFileInfo(db).size())); }, false,
         RolledBack},
        {"removed file", [](const QString& db) { QFile::remove(db); }, false, Removed},
        {"read-only file",
         [](const QString& db) {
             QFile::setPermissions(db, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
         },
         true, Committed},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = QStringLiteral("crm%1").arg(++n);
        auto admin = ov::ServerAdmin::create(m_server, true, QString(), QString());
        ASSERT_TRUE(admin->createDatabase(name));
        ASSERT_TRUE(connect(name)->Execute(QStringLiteral(
            "CREATE TABLE tblA ([Id] INT, [Note] NVARCHAR(4000)); CREATE TABLE tblB ([Id] INT, "
            "[Note] NVARCHAR(4000)); INSERT INTO tblA VALUES (-1, 'old a'); INSERT INTO tblB "
            "VALUES (-2, 'old b')")));
        const QStringList before = rows(name, both);
        giveToUnprivileged(databaseFile(name));

        const QString outcome = runInChild(
            [&] {
                // Passes 1 and 2 empty the tables, 3 and 4 copy them.
                FaultAtPump ui(4, [&] { c.fault(databaseFile(name)); });
                auto file = mdlOVSqlServer::ConnectToDBAccess(cdb);
                auto server = mdlOVSqlServer::ConnectToDBFile(m_server, name, true, QString(), QString());
                RecordingStatus status;
                RecordingProgress progress;
                mdlOVSqlUpdateDB::TransferDataFormCnToCn(
                    file.get(), server.get(), {QString(), QStringLiteral("tblA"), QStringLiteral("tblB")},
                    status, progress);
                return ui.texts().join(QStringLiteral("\n--\n"));
            },
            c.unprivileged);
        const QStringList messages = outcome.split(QStringLiteral("\n--\n"));
        EXPECT_EQ(messages.last(), QStringLiteral("单机版数据库升级为网络版数据库完成！"));
        switch (c.outcome) {
        case RolledBack:
            EXPECT_GE(messages.size(), 2) << outcome.toStdString();
            EXPECT_EQ(rows(name, both), before);
            break;
        case Removed: {
            EXPECT_GE(messages.size(), 2) << outcome.toStdString();
            EXPECT_TRUE(outcome.contains(QStringLiteral("在打开期间被删除或替换了")))
                << outcome.toStdString();
            EXPECT_FALSE(QFileInfo::exists(databaseFile(name)));
            QStringList names;
            ASSERT_TRUE(admin->listDatabases(names));
            EXPECT_FALSE(names.contains(name, Qt::CaseInsensitive));
            break;
        }
        case Committed:
            EXPECT_EQ(messages.size(), 1) << outcome.toStdString();
            EXPECT_EQ(rows(name, QStringLiteral("SELECT COUNT(*) FROM tblA WHERE Id >= 0 UNION ALL "
                                                "SELECT COUNT(*) FROM tblB WHERE Id >= 0")),
                      QStringList({QStringLiteral("400"), QStringLiteral("400")}));
            break;
        }
    }
}

// The database file is removed while a script runs: the statements after it
// fail and say why instead of succeeding into the removed file, the run
// reads on to its end, and the database is gone rather than recreated empty.
TEST_F(MidOperationFaults, DatabaseRemovedDuringScriptRun)
{
    auto admin = ov::ServerAdmin::create(m_server, true, QString(), QString());
    ASSERT_TRUE(admin->createDatabase(QStringLiteral("crm")));
    const QString script = path(QStringLiteral("script.txt"));
    writeBytes(script,
               "--<SHOW ERR>\r\nCREATE TABLE t1 ([a] INT)\r\nGO\r\nCREATE TABLE t2 ([a] INT)\r\nGO\r\n");
    FaultAtPump ui(4, [&] { QFile::remove(databaseFile(QStringLiteral("crm"))); });
    RecordingStatus status;
    RecordingProgress progress;
    EXPECT_TRUE(mdlOVSqlUpdateDB::RunUpdateScript(m_server, QStringLiteral("crm"), true, QString(), QString(),
                                                  script, status, progress));
    const QByteArray log = readBytes(mdlOVSqlUpdateDB::gstrAppPath + QStringLiteral("UpdateDBSqlLog.Txt"));
    EXPECT_TRUE(
        log.contains(ov::cp936::encode(QStringLiteral("在打开期间被删除或替换了。\r\nCREATE TABLE t2"))))
        << log.toStdString();
    EXPECT_FALSE(log.contains("CREATE TABLE t1"));
    EXPECT_FALSE(QFileInfo::exists(databaseFile(QStringLiteral("crm"))));
    QStringList names;
    ASSERT_TRUE(admin->listDatabases(names));
    EXPECT_FALSE(names.contains(QStringLiteral("crm"), Qt::CaseInsensitive));
}

// Work on a database whose file was removed or replaced after the connection
// opened it fails and says so, instead of going into the old file: a
// transaction's commit, a batch, a query text that changes data before its
// SELECT, and a row appended outside a transaction.
TEST_F(MidOperationFaults, WorkOnAReplacedDatabaseFileFails)
{
    auto admin = ov::ServerAdmin::create(m_server, true, QString(), QString());
    // Each does its work on cn and gives the error it ended with ("" when it
    // succeeded).
    const struct
    {
        const char* name;
        std::function<QString(ov::Connection& cn)> work;
    } cases[] = {
        {"commit",
         [](ov::Connection& cn) {
             const bool ok = cn.BeginTrans() && cn.Execute(QStringLiteral("INSERT INTO t VALUES (1)")) &&
                             cn.CommitTrans();
             return ok ? QString() : cn.lastError().description;
         }},
        {"batch",
         [](ov::Connection& cn) {
             return cn.Execute(QStringLiteral("INSERT INTO t VALUES (1)")) ? QString()
                                                                           : cn.lastError().description;
         }},
        {"query",
         [](ov::Connection& cn) {
             ov::Recordset rs;
             return rs.Open(QStringLiteral("INSERT INTO t VALUES (1); SELECT * FROM t"), cn)
                        ? QString()
                        : rs.lastError().description;
         }},
        {"append",
         [](ov::Connection& cn) {
             ov::Recordset rs;
             const bool ok = rs.Open(QStringLiteral("t"), cn, ov::adOpenForwardOnly, ov::adLockOptimistic,
                                     ov::adCmdTable) &&
                             rs.AddNew() && rs.Fields(0).setValue(1) && rs.Update();
             return ok ? QString() : rs.lastError().description;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(admin->createDatabase(QStringLiteral("crm")));
        ASSERT_TRUE(connect(QStringLiteral("crm"))->Execute(QStringLiteral("CREATE TABLE t ([a] INT)")));
        auto cn = connect(QStringLiteral("crm"));
        // Replaced by another file under the same name, as a restore by another
        // process would do; the old file stays in the folder as database "old".
        ASSERT_TRUE(QFile::rename(databaseFile(QStringLiteral("crm")), databaseFile(QStringLiteral("old"))));
        ASSERT_TRUE(QFile::copy(databaseFile(QStringLiteral("old")), databaseFile(QStringLiteral("crm"))));
        const QString error = c.work(*cn);
        EXPECT_TRUE(error.contains(QStringLiteral("在打开期间被删除或替换了"))) << error.toStdString();
        cn.reset();
        for (const QString& database : {QStringLiteral("crm"), QStringLiteral("old")})
            EXPECT_EQ(rows(database, QStringLiteral("SELECT COUNT(*) FROM t")),
                      QStringList({QStringLiteral("0")}))
                << database.toStdString();
        ASSERT_TRUE(admin->dropDatabase(QStringLiteral("crm")));
        ASSERT_TRUE(admin->dropDatabase(QStringLiteral("old")));
    }
}

// A transaction the script opens and ends itself, in its own batches, while
// the database file is removed or replaced in between: the batch that ends it
// fails and says so, and neither the new file nor the old one keeps its rows.
TEST_F(MidOperationFaults, ScriptsOwnCommitIntoAReplacedFileFails)
{
    auto admin = ov::ServerAdmin::create(m_server, true, QString(), QString());
    const struct
    {
        const char* end;
        bool replace;
    } cases[] = {
        {"COMMIT", true},  {"END TRANSACTION", true},  {"INSERT INTO t VALUES (2); COMMIT", true},
        {"COMMIT", false}, {"END TRANSACTION", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.end) + (c.replace ? " replaced" : " removed"));
        ASSERT_TRUE(admin->createDatabase(QStringLiteral("crm")));
        ASSERT_TRUE(connect(QStringLiteral("crm"))->Execute(QStringLiteral("CREATE TABLE t ([a] INT)")));
        auto cn = connect(QStringLiteral("crm"));
        ASSERT_TRUE(cn->Execute(QStringLiteral("BEGIN")));
        ASSERT_TRUE(cn->Execute(QStringLiteral("INSERT INTO t VALUES (1)")));
        ASSERT_TRUE(QFile::rename(databaseFile(QStringLiteral("crm")), databaseFile(QStringLiteral("old"))));
        if (c.replace) {
            ASSERT_TRUE(
                QFile::copy(databaseFile(QStringLiteral("old")), databaseFile(QStringLiteral("crm"))));
        }
        EXPECT_FALSE(cn->Execute(QString::fromLatin1(c.end)));
        EXPECT_TRUE(cn->lastError().description.contains(QStringLiteral("在打开期间被删除或替换了")))
            << cn->lastError().description.toStdString();
        cn.reset();
        EXPECT_EQ(rows(QStringLiteral("old"), QStringLiteral("SELECT COUNT(*) FROM t")),
                  QStringList({QStringLiteral("0")}));
        if (c.replace) {
            EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT COUNT(*) FROM t")),
                      QStringList({QStringLiteral("0")}));
            ASSERT_TRUE(admin->dropDatabase(QStringLiteral("crm")));
        }
        ASSERT_TRUE(admin->dropDatabase(QStringLiteral("old")));
    }
}
