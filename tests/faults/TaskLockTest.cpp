// One task at a time per database on the embedded engine: the task lock
// across processes and within one, after its holder was killed.

#include "FaultSupport.h"
#include "data/DataError.h"
#include "data/ServerAdmin.h"
#include "data/sqlite/EmbeddedServer.h"
#include "data/sqlite/FileLock.h"

#include <QFileInfo>

#include <chrono>
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

} // namespace
