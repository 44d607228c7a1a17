// The embedded engine's bulk load reads a large data file through windows of
// a fixed size and lets each go once it is loaded, so that its memory does
// not follow the file. The rows it stores and rejects are the same whatever
// the window: a row is never cut at a window's edge, the line numbers of the
// rejected rows run on across windows, and a NUL byte anywhere in the file is
// found.

#include "DataTestSupport.h"

#include "common/Cp936.h"
#include "data/sqlite/TabFileLoader.h"

using ov::BulkLoadResult;
using ovtest::str;

namespace {

// What a load left: the table's rows in order, the error file, the counts.
struct Loaded
{
    QStringList rows;
    QByteArray rejects;
    qint64 copied = 0;
    qint64 rejected = 0;
};

class LoadWindow : public ovtest::EmbeddedServerTest
{
protected:
    void TearDown() override { ov::embedded::setLoadWindowBytes(0); }

    Loaded load(const QString& database, const QByteArray& bytes)
    {
        Loaded out;
        makeDatabase(database, QStringLiteral("CREATE TABLE t (id INT NOT NULL PRIMARY KEY, name "
                                              "NVARCHAR(40), amount INT)"));
        const QString data = m_dir.filePath(database + QStringLiteral(".dat"));
        const QString err = m_dir.filePath(database + QStringLiteral(".err"));
        ovtest::writeFile(data, bytes);
        BulkLoadResult counts;
        EXPECT_TRUE(m_admin->bulkLoad(database, QStringLiteral("t"), data,
                                      m_dir.filePath(database + QStringLiteral(".log")), err, &counts))
            << str(m_admin->lastError().description);
        out.copied = counts.rowsCopied;
        out.rejected = counts.rowsRejected;
        out.rejects = ovtest::readFile(err);
        ov::Connection cn;
        EXPECT_TRUE(open(cn, database));
        out.rows = column(cn, QStringLiteral("SELECT id || '|' || IFNULL(name, '<null>') || '|' || "
                                             "IFNULL(amount, '<null>') FROM t ORDER BY id"));
        return out;
    }
};

} // namespace

TEST_F(LoadWindow, RowsAndRejectsAreTheSameWhateverTheWindow)
{
    // Rows of many lengths, empty fields, a row with a field too many, a
    // duplicate key, and a NUL byte in a row near the end.
    QByteArray rows;
    for (int i = 1; i <= 300; ++i) {
        if (i == 120) {
            rows += "120\ttoo\tmany\tfields\r\n";
            continue;
        }
        if (i == 200) {
            rows += "7\tduplicate key\t1\r\n";
            continue;
        }
        if (i == 290) {
            rows += QByteArray("290\tnul", 7) + '\0' + QByteArray("inside\t3\r\n");
            continue;
        }
        rows += QByteArray::number(i) + "\t" + QByteArray(i % 37, 'a' + char(i % 26)) + "\t" +
                (i % 5 ? QByteArray::number(i * 3) : QByteArray()) + "\r\n";
    }
    struct Case
    {
        const char* what;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"code page 936", rows + ov::cp936::encode(QStringLiteral("302\t张三\t1\r\n301\tno line end\t9"))},
        {"UTF-8 after a byte-order mark",
         QByteArray("\xEF\xBB\xBF") + rows + QStringLiteral("302\t张三\t1\r\n301\tno line end\t9").toUtf8()},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ++n;
        const Loaded whole = load(QStringLiteral("c%1whole").arg(n), c.bytes);
        EXPECT_EQ(whole.copied, 300 - 3 + 2);
        EXPECT_EQ(whole.rejected, 3);
        EXPECT_TRUE(whole.rejects.contains("#@ Row 290: ")) << whole.rejects.constData();
        EXPECT_TRUE(whole.rows.contains(QStringLiteral("302|张三|1"))) << str(whole.rows.join('\n'));
        EXPECT_TRUE(whole.rows.contains(QStringLiteral("301|no line end|9"))) << str(whole.rows.join('\n'));
        // Windows smaller than a row, about a row, and of many rows.
        for (const int window : {1, 5, 29, 64, 1000}) {
            SCOPED_TRACE(window);
            ov::embedded::setLoadWindowBytes(window);
            const Loaded windowed = load(QStringLiteral("c%1w%2").arg(n).arg(window), c.bytes);
            ov::embedded::setLoadWindowBytes(0);
            EXPECT_EQ(windowed.rows, whole.rows);
            EXPECT_EQ(windowed.rejects, whole.rejects);
            EXPECT_EQ(windowed.copied, whole.copied);
            EXPECT_EQ(windowed.rejected, whole.rejected);
        }
    }
}
