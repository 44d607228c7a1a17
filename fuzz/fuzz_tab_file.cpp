// The embedded engine's bulk load on arbitrary data files, into a table with
// an integer, a text, a number and a yes/no column. What the load reports as
// copied must be what the table holds.

#include "FuzzSupport.h"
#include "data/sqlite/TabFileLoader.h"

#include <sqlite3.h>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    ovfuzz::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(":memory:", &db) != SQLITE_OK)
        std::abort();
    sqlite3_exec(db,
                 "CREATE TABLE [tblFuzz] ([Id] INT NOT NULL UNIQUE, [Name] NVARCHAR(20), "
                 "[Amount] DECIMAL(18,4), [Flag] BIT)",
                 nullptr, nullptr, nullptr);
    const QString file =
        ovfuzz::writeFile(QStringLiteral("tblFuzz.dat"), reinterpret_cast<const char*>(data), size);
    ov::BulkLoadResult result;
    ov::DataError error;
    const bool loaded =
        ov::embedded::loadTabFile(db, QStringLiteral("Fuzz"), QStringLiteral("tblFuzz"), file,
                                  ovfuzz::scratch() + QStringLiteral("tblFuzz.log"),
                                  ovfuzz::scratch() + QStringLiteral("tblFuzz.err"), result, error);
    sqlite3_stmt* count = nullptr;
    sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM [tblFuzz]", -1, &count, nullptr);
    sqlite3_step(count);
    const qint64 rows = sqlite3_column_int64(count, 0);
    sqlite3_finalize(count);
    sqlite3_close(db);
    if (!loaded)
        ovfuzz::fail("the load did not run", error.description);
    if (rows != result.rowsCopied)
        ovfuzz::fail("copied rows are not in the table", QString::number(rows));
    return 0;
}
