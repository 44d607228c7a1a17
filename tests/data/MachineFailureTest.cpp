// Which failures are the machine's (a full disk or log, an I/O error, a
// damaged file, memory run out, a lost connection) rather than the failing
// statement's own: work that meets one must stop instead of going on as
// after an ordinary error. The engines' errors carry the answer.

#include "DataTestSupport.h"
#include "data/DataError.h"

#include <sqlite3.h>

using namespace ov;
using namespace ovtest;

TEST(MachineFailure, SqliteResultCodes)
{
    const struct
    {
        int code;
        bool machine;
    } cases[] = {
        {SQLITE_FULL, true},
        {SQLITE_IOERR, true},
        {SQLITE_IOERR_WRITE, true},
        {SQLITE_IOERR_FSYNC, true},
        {SQLITE_IOERR_SHORT_READ, true},
        {SQLITE_CORRUPT, true},
        {SQLITE_CORRUPT_INDEX, true},
        {SQLITE_NOMEM, true},
        {SQLITE_READONLY, true},
        {SQLITE_READONLY_DIRECTORY, true},
        {SQLITE_READONLY_CANTINIT, true},
        {SQLITE_CANTOPEN, true},
        {SQLITE_CANTOPEN_ISDIR, true},
        {SQLITE_OK, false},
        {SQLITE_ERROR, false},
        {SQLITE_CONSTRAINT_UNIQUE, false},
        {SQLITE_CONSTRAINT_NOTNULL, false},
        {SQLITE_MISMATCH, false},
        {SQLITE_BUSY, false},
        {SQLITE_LOCKED, false},
        {SQLITE_INTERRUPT, false},
        {SQLITE_TOOBIG, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isSqliteMachineFailure(c.code), c.machine) << c.code << " " << sqlite3_errstr(c.code);
}

TEST(MachineFailure, OdbcNativeErrorsAndStates)
{
    const struct
    {
        qint32 native;
        const char* state;
        bool machine;
    } cases[] = {
        // SQL Server: the data file's filegroup is full (two wordings), the
        // transaction log is full, an I/O error on a log or data page.
        {1101, "42000", true},
        {1105, "42000", true},
        {9002, "42000", true},
        {3202, "HY000", true},
        // Every state of class 08: the connection is gone or cannot be made,
        // whatever the native number.
        {0, "08S01", true},
        {20004, "08S01", true},
        {0, "08001", true},
        {0, "08003", true},
        {0, "08007", true},
        // The statement's own errors.
        {2627, "23000", false}, // duplicate key
        {547, "23000", false},  // a constraint
        {208, "42S02", false},  // no such object
        {102, "42000", false},  // syntax
        {1205, "40001", false}, // chosen as the deadlock victim
        {0, "HYT00", false},    // time-out
        {0, "HY000", false},
        {1101, "", true},
        {0, "", false},
        {0, "8S01", false}, // not a class-08 state, only a look-alike
        {0, "080", true},   // a short state of class 08 all the same
    };
    for (const auto& c : cases)
        EXPECT_EQ(isOdbcMachineFailure(c.native, QString::fromLatin1(c.state)), c.machine)
            << c.native << " " << c.state;
}

class MachineFailureOfEngines : public EmbeddedServerTest
{};

// The embedded engine's errors say it: a damaged page of the database is
// the machine's failure, a statement's own error is not; nor is a layer
// error that reuses an object.
TEST_F(MachineFailureOfEngines, EmbeddedEngineErrorsCarryIt)
{
    makeDatabase(QStringLiteral("crm"), QStringLiteral("CREATE TABLE t (id INT, name NVARCHAR(200));"
                                                       "INSERT INTO t VALUES (1, 'a');"));
    {
        Connection cn;
        ASSERT_TRUE(open(cn, QStringLiteral("crm")));
        EXPECT_FALSE(cn.Execute(QStringLiteral("INSERT INTO nosuch VALUES (1)")));
        EXPECT_TRUE(cn.lastError().isSet());
        EXPECT_FALSE(cn.lastError().machineFailure) << str(cn.lastError().description);
    }
    // The page of table t (page 2) overwritten with garbage.
    const QString file = m_folder + QStringLiteral("/crm.sqlite");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    const qint64 pageSize = 4096;
    ASSERT_GE(f.size(), 2 * pageSize);
    ASSERT_TRUE(f.seek(pageSize));
    f.write(QByteArray(int(pageSize), '\xA5'));
    f.close();
    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("crm")));
    EXPECT_FALSE(cn.Execute(QStringLiteral("UPDATE t SET name = 'b'")));
    EXPECT_EQ(cn.lastError().number & 0xff, SQLITE_CORRUPT) << str(cn.lastError().description);
    EXPECT_TRUE(cn.lastError().machineFailure) << str(cn.lastError().description);
    // A later error of another kind on the same connection does not keep it.
    EXPECT_FALSE(cn.Execute(QStringLiteral("INSERT INTO nosuch VALUES (1)")));
    EXPECT_FALSE(cn.lastError().machineFailure) << str(cn.lastError().description);
}
