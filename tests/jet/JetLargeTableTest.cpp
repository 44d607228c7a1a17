// A table of 100,000 rows read forward: every row arrives, in order, with the
// values mdbtools reads, and the heap in use stays flat while the rows stream
// (the table holds about 40 MB of text, the reading may hold a few MB).

#include "JetReadSupport.h"
#include "JetReaders.h"

#include "common/clsError.h"

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
// From AddressSanitizer's run-time (sanitizer/allocator_interface.h, which
// GCC does not install): the bytes of live allocations, quarantine excluded.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

using jet::ColumnType;

namespace {

constexpr int kRows = 100000;

// Bytes of heap in use now (not the pages the allocator keeps).
qint64 heapInUse()
{
#if defined(__SANITIZE_ADDRESS__)
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    return qint64(mallinfo2().uordblks);
#endif
}

QString rowText(int i)
{
    return QStringLiteral("客户%1 ").arg(i) + QString(200, QChar(u'a' + i % 26));
}

TEST(JetLargeTable, StreamsAHundredThousandRowsInFlatMemory)
{
    QTemporaryDir dir;
    const QString path = jetread::writeCdb(dir, QStringLiteral("large.cdb"), [](jet::Writer& w) {
        w.addTable(QStringLiteral("Big"), {{QStringLiteral("Id"), ColumnType::Long},
                                           {QStringLiteral("Name"), ColumnType::Text, 255},
                                           {QStringLiteral("Amount"), ColumnType::Double},
                                           {QStringLiteral("Created"), ColumnType::DateTime}});
        for (int i = 0; i < kRows; ++i)
            w.addRow(QStringLiteral("Big"), {i, rowText(i), i * 0.5, jetread::at(2020, 1, 1).addSecs(i)});
    });
    ASSERT_FALSE(path.isEmpty());
    std::unique_ptr<ov::Connection> cn = mdlOVSqlServer::ConnectToDBAccess(path);
    ASSERT_TRUE(cn) << mdlCommon::GetErrorText(true).toStdString();

    const qint64 before = heapInUse();
    qint64 peak = before;
    ov::Recordset rs;
    ASSERT_TRUE(
        rs.Open(QStringLiteral("Big"), *cn, ov::adOpenForwardOnly, ov::adLockReadOnly, ov::adCmdTable));
    int count = 0;
    int wrong = 0;
    while (!rs.Eof()) {
        const int id = rs.Fields(0).Value().toInt();
        if (id != count || rs.Fields(1).Value().toString() != rowText(count) ||
            rs.Fields(2).Value().toDouble() != count * 0.5 ||
            rs.Fields(3).Value().toDateTime() != jetread::at(2020, 1, 1).addSecs(count))
            ++wrong;
        ++count;
        if (count % 1000 == 0)
            peak = qMax(peak, heapInUse());
        ASSERT_TRUE(rs.MoveNext()) << rs.lastError().description.toStdString();
    }
    rs.Close();
    EXPECT_EQ(count, kRows);
    EXPECT_EQ(wrong, 0);
    EXPECT_LT(peak - before, 4 * 1024 * 1024) << "heap grew by " << (peak - before) << " bytes";

    // mdbtools reads the same rows.
    qint64 counted = 0;
    QString error;
    ASSERT_TRUE(jettest::mdbCount(path, QStringLiteral("Big"), &counted, &error)) << error.toStdString();
    EXPECT_EQ(counted, kRows);
    QList<QStringList> exported;
    ASSERT_TRUE(jettest::mdbExport(path, QStringLiteral("Big"), &exported, &error)) << error.toStdString();
    ASSERT_EQ(exported.size(), kRows + 1);
    int differ = 0;
    for (int i = 0; i < kRows; ++i) {
        const QStringList& row = exported[i + 1];
        if (row.size() != 4 || row[0] != QString::number(i) || row[1] != rowText(i) ||
            row[3] != jetread::at(2020, 1, 1).addSecs(i).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
            ++differ;
    }
    EXPECT_EQ(differ, 0);
}

} // namespace
