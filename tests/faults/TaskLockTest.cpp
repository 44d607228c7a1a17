// One task at a time per database on the embedded engine: the task lock
// across processes and within one, after its holder was killed; the use lock
// that a restore and a drop need for themselves; a second connection that
// waits for a writer instead of failing at once.

#include "FaultSupport.h"
#include "data/DataError.h"
#include "data/ServerAdmin.h"
#include "data/sqlite/EmbeddedServer.h"
#include "data/sqlite/FileLock.h"

#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sqlite3.h>
#include <thread>

using namespace ovtest;

namespace {

class TaskLock : public FaultFixture
{
protected:
    std::unique_ptr<ov::ServerAdmin> admin() const
    {
        return ov::ServerAdmin::create(m_server, true, QString(), QString());
    }

    // Takes the task lock on database in a child process: "taken", or the
    // number of the error.
    QString lockInChild(const QString& database) const
    {
        return runInChild([&] {
            const auto other = admin();
            const auto lock = other->lockDatabase(database);
            return lock ? QStringLiteral("taken") : QString::number(other->lastError().number);
        });
    }

    void makeDatabase(const QString& name, const QString& batch)
    {
        const auto a = admin();
        ASSERT_TRUE(a->createDatabase(name)) << a->lastError().description.toStdString();
        ASSERT_TRUE(connect(name)->Execute(batch));
    }
};

const QString kBusy = QString::number(ov::DataErr::LockTimeout);

// Another process is refused at once, under every spelling of the name, while
// any handle of this process holds the database; other databases stay free.
TEST_F(TaskLock, AnotherProcessIsRefusedUntilTheLastHandleGoes)
{
    std::shared_ptr<ov::DatabaseLock> first = admin()->lockDatabase(QStringLiteral("Crm"));
    ASSERT_TRUE(first);
    for (const char* name : {"Crm", "CRM", "crm", "\"crm\"", " crm "})
        EXPECT_EQ(lockInChild(QLatin1String(name)), kBusy) << name;
    EXPECT_EQ(lockInChild(QStringLiteral("other")), QStringLiteral("taken"));

    // A task inside the task (the create procedure runs the script runner)
    // shares the hold instead of refusing itself.
    std::shared_ptr<ov::DatabaseLock> inner = admin()->lockDatabase(QStringLiteral("CRM"));
    ASSERT_TRUE(inner);
    first.reset();
    EXPECT_EQ(lockInChild(QStringLiteral("crm")), kBusy);
    inner.reset();
    EXPECT_EQ(lockInChild(QStringLiteral("crm")), QStringLiteral("taken"));
}

// The operating system ends the lock with its process: a task that was
// killed leaves the database free.
TEST_F(TaskLock, AKilledHolderLeavesTheDatabaseFree)
{
    const QString outcome = runInChild([&] {
        const auto lock = admin()->lockDatabase(QStringLiteral("crm"));
        if (lock)
            raise(SIGKILL);
        return QStringLiteral("not taken");
    });
    EXPECT_EQ(outcome, QStringLiteral("<killed by signal %1>").arg(SIGKILL));
    const auto a = admin();
    EXPECT_TRUE(a->lockDatabase(QStringLiteral("crm"))) << a->lastError().description.toStdString();
}

// The longest names a database can have (its journal's file name must fit
// too) have their locks.
TEST_F(TaskLock, LongNamesLockToo)
{
    for (const QString& name : {QString(240, QLatin1Char('x')), QString(80, QChar(0x5BA2))}) {
        const auto a = admin();
        ASSERT_TRUE(a->createDatabase(name)) << a->lastError().description.toStdString();
        const auto lock = a->lockDatabase(name);
        EXPECT_TRUE(lock) << a->lastError().description.toStdString();
        EXPECT_EQ(lockInChild(name), kBusy);
        EXPECT_TRUE(connect(name)->Execute(QStringLiteral("CREATE TABLE t (a INT)")));
    }
}

// A name that cannot be a database is refused before any lock file is made.
TEST_F(TaskLock, NamesThatLeaveTheFolderAreRefused)
{
    for (const char* name : {"../x", "a/b", "c:d", ""}) {
        const auto a = admin();
        EXPECT_FALSE(a->lockDatabase(QLatin1String(name))) << name;
        EXPECT_EQ(a->lastError().number, ov::DataErr::InvalidArgument) << name;
    }
    EXPECT_EQ(QDir(path(QStringLiteral("data"))).entryList(QDir::Files | QDir::Hidden), QStringList());
    EXPECT_EQ(QDir(m_dir.path()).entryList({"*-task"}, QDir::Files | QDir::Hidden), QStringList());
}

// A lock file that cannot be made is refused with the reason it cannot: a
// user who may not write in the server folder is told so, not that a file is
// missing.
TEST_F(TaskLock, ALockFileThatCannotBeMadeSaysWhy)
{
    const QString data = path(QStringLiteral("data"));
    ASSERT_TRUE(QFile::setPermissions(data, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                                QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    const QString outcome = runInChild(
        [&] {
            const auto a = admin();
            return a->lockDatabase(QStringLiteral("crm")) ? QStringLiteral("taken")
                                                          : a->lastError().description;
        },
        true);
    ASSERT_TRUE(QFile::setPermissions(data, QFile::Permissions(0x7755)));
    EXPECT_TRUE(outcome.contains(QString::fromLocal8Bit(std::strerror(EACCES)))) << outcome.toStdString();
    EXPECT_EQ(QDir(data).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// A restore or a drop in another process refuses a database that a
// connection has open, even an idle one, and changes nothing; once the
// connection is closed, both go ahead. While a restore or a drop has the
// database for itself, no connection opens it.
TEST_F(TaskLock, RestoreAndDropNeedTheDatabaseForThemselves)
{
    makeDatabase(QStringLiteral("crm"), QStringLiteral("CREATE TABLE t (a INT); INSERT INTO t VALUES (1)"));
    const QString backup = path(QStringLiteral("crm.bak"));
    {
        const auto a = admin();
        ASSERT_TRUE(a->backupDatabase(QStringLiteral("crm"), backup))
            << a->lastError().description.toStdString();
    }
    ASSERT_TRUE(connect(QStringLiteral("crm"))->Execute(QStringLiteral("INSERT INTO t VALUES (2)")));

    const auto restoreAndDrop = [&] {
        return runInChild([&] {
            const auto a = admin();
            QStringList out;
            out << (a->restoreDatabase(QStringLiteral("crm"), backup, {}, true)
                        ? QStringLiteral("restored")
                        : QString::number(a->lastError().number));
            out << (a->dropDatabase(QStringLiteral("crm")) ? QStringLiteral("dropped")
                                                           : QString::number(a->lastError().number));
            return out.join(QLatin1Char(' '));
        });
    };
    auto user = connect(QStringLiteral("crm"));
    EXPECT_EQ(restoreAndDrop(), QStringLiteral("3101 3702"));
    EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT a FROM t ORDER BY a")),
              QStringList({"1", "2"}));
    user->Close();
    EXPECT_EQ(restoreAndDrop(), QStringLiteral("restored dropped"));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("data/crm.sqlite"))));

    makeDatabase(QStringLiteral("crm"), QStringLiteral("CREATE TABLE t (a INT)"));
    ov::embedded::FileLock restoring;
    ASSERT_EQ(restoring.take(ov::embedded::useLockFile(path(QStringLiteral("data/crm.sqlite"))),
                             ov::embedded::FileLock::Mode::Exclusive),
              ov::embedded::FileLock::Result::Taken);
    ov::Connection cn;
    EXPECT_FALSE(cn.Open(QStringLiteral("Data Source=%1;Initial Catalog=crm").arg(m_server)));
    EXPECT_EQ(cn.lastError().number, 927);
    restoring.release();
    EXPECT_TRUE(cn.Open(QStringLiteral("Data Source=%1;Initial Catalog=crm").arg(m_server)));
}

// A connection opened while another one writes waits for the writer's commit
// (up to its command time-out) instead of failing with "database is locked".
TEST_F(TaskLock, ASecondConnectionWaitsForAWriter)
{
    makeDatabase(QStringLiteral("crm"), QStringLiteral("CREATE TABLE t (a INT)"));
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path(QStringLiteral("data/crm.sqlite"))).constData(), &writer),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer, "BEGIN EXCLUSIVE; INSERT INTO t VALUES (7)", nullptr, nullptr, nullptr),
              SQLITE_OK);
    std::thread commit([writer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sqlite3_exec(writer, "COMMIT", nullptr, nullptr, nullptr);
    });
    ov::Connection cn;
    const bool opened = cn.Open(QStringLiteral("Data Source=%1;Initial Catalog=crm").arg(m_server));
    commit.join();
    sqlite3_close(writer);
    ASSERT_TRUE(opened) << cn.lastError().description.toStdString();
    ov::Recordset rs;
    ASSERT_TRUE(rs.Open(QStringLiteral("SELECT a FROM t"), cn));
    EXPECT_EQ(RowTexts(rs), QStringList({"7"}));
}

} // namespace
