// Tables whose usage map is a list of map pages (type 1), each naming the
// pages of its range of 32736 (128 MiB): every row on every page the map
// names is read, wherever in the ranges the table's pages lie and whichever
// ranges hold none of them. The files are sparse: the writer leaves the pages
// before the table's empty, so they cost no disk space.

#include "JetReadSupport.h"

#include "common/clsError.h"

#include <QFile>

#include <gtest/gtest.h>

using jet::ColumnType;

namespace {

constexpr quint32 kPagesPerMapPage = (4096 - 4) * 8;
constexpr int kRows = 300;

struct Layout
{
    const char* name;
    quint32 firstHalfAt;  // the page the first half of the rows starts on
    quint32 secondHalfAt; // the page the second half starts on (far enough for a type 1 map)
};

const Layout kLayouts[] = {
    {"first page of the second map page, the first map page empty", kPagesPerMapPage,
     kPagesPerMapPage + 1000},
    {"first page of the third map page, two map pages empty", 2 * kPagesPerMapPage,
     2 * kPagesPerMapPage + 700},
    {"pages in the first and second map page", kPagesPerMapPage - 1000, kPagesPerMapPage},
    {"second half on the first page of the next map page", kPagesPerMapPage + 5, 2 * kPagesPerMapPage},
};

QString rowText(int i)
{
    return QStringLiteral("行%1 ").arg(i) + QString(150, QChar(u'a' + i % 26));
}

QString writeLaidOut(const QTemporaryDir& dir, const Layout& layout)
{
    return jetread::writeCdb(dir, QStringLiteral("map.cdb"), [&](jet::Writer& w) {
        ASSERT_TRUE(w.addTable(QStringLiteral("Far"), {{QStringLiteral("Id"), ColumnType::Long},
                                                       {QStringLiteral("Name"), ColumnType::Text, 200}}));
        ASSERT_TRUE(w.leaveEmptyUntil(layout.firstHalfAt)) << w.errorString().toStdString();
        for (int i = 0; i < kRows; ++i) {
            if (i == kRows / 2) {
                ASSERT_TRUE(w.leaveEmptyUntil(layout.secondHalfAt)) << w.errorString().toStdString();
            }
            ASSERT_TRUE(w.addRow(QStringLiteral("Far"), {i, rowText(i)})) << w.errorString().toStdString();
        }
    });
}

TEST(JetUsageMap, EveryPageOfAMapOfMapPagesIsRead)
{
    for (const Layout& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        QTemporaryDir dir;
        const QString path = writeLaidOut(dir, layout);
        ASSERT_FALSE(path.isEmpty());
        std::unique_ptr<ov::Connection> cn = mdlOVSqlServer::ConnectToDBAccess(path);
        ASSERT_TRUE(cn) << mdlCommon::GetErrorText(true).toStdString();
        const jetread::Rows r = jetread::readAll(*cn, QStringLiteral("Far"));
        ASSERT_TRUE(r.opened) << r.error.description.toStdString();
        EXPECT_FALSE(r.error.isSet()) << r.error.description.toStdString();
        ASSERT_EQ(r.rows.size(), kRows);
        for (int i = 0; i < kRows; ++i) {
            EXPECT_EQ(r.rows[i][0].toInt(), i);
            EXPECT_EQ(r.rows[i][1].toString(), rowText(i));
        }
    }
}

// A table whose pages hold another number of rows than its definition
// records (pages the map no longer names, a count gone stale) is not read as
// if it were whole: the read ends in an error that names both numbers.
TEST(JetUsageMap, ARowCountOtherThanTheRecordedOneFailsTheRead)
{
    constexpr int kPage = 4096;
    constexpr int kWritten = 40;
    struct Case
    {
        const char* name;
        quint32 recorded;
    };
    const Case cases[] = {
        {"one row more recorded than the pages hold", kWritten + 1},
        {"one row fewer recorded", kWritten - 1},
        {"a count far beyond the pages recorded", 0x7FFFFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = jetread::writeCdb(dir, QStringLiteral("count.cdb"), [](jet::Writer& w) {
            ASSERT_TRUE(w.addTable(QStringLiteral("T"), {{QStringLiteral("Id"), ColumnType::Long}}));
            for (int i = 0; i < kWritten; ++i)
                ASSERT_TRUE(w.addRow(QStringLiteral("T"), {i}));
        });
        ASSERT_FALSE(path.isEmpty());
        // The one table definition after the catalog's (page 2) records the
        // table's rows at byte 16.
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        int tdef = -1;
        for (int page = 3; page * kPage < bytes.size(); ++page)
            if (bytes[page * kPage] == 0x02)
                tdef = page;
        ASSERT_GT(tdef, 0);
        ASSERT_EQ(quint8(bytes[tdef * kPage + 16]), quint8(kWritten));
        for (int i = 0; i < 4; ++i)
            bytes[tdef * kPage + 16 + i] = char((c.recorded >> (8 * i)) & 0xFF);
        ASSERT_TRUE(file.seek(0));
        ASSERT_EQ(file.write(bytes), bytes.size());
        file.close();

        std::unique_ptr<ov::Connection> cn = mdlOVSqlServer::ConnectToDBAccess(path);
        ASSERT_TRUE(cn) << mdlCommon::GetErrorText(true).toStdString();
        const jetread::Rows r = jetread::readAll(*cn, QStringLiteral("T"));
        const ov::DataError& error = r.error;
        ASSERT_TRUE(error.isSet()) << "read " << r.rows.size() << " rows without an error";
        EXPECT_TRUE(error.description.contains(QStringLiteral("is damaged")))
            << error.description.toStdString();
        EXPECT_TRUE(error.description.contains(QString::number(c.recorded)))
            << error.description.toStdString();
        EXPECT_TRUE(error.description.contains(QString::number(kWritten))) << error.description.toStdString();
    }
}

// A map entry that names a page past the end of the file, or a page that is
// not a usage-map page (its bytes would be taken for a bitmap of pages), makes
// the table unreadable with a clear error, never a read of fewer rows.
TEST(JetUsageMap, AMapEntryNamingNoMapPageFailsTheTable)
{
    constexpr int kPage = 4096;
    struct Case
    {
        const char* name;
        quint32 entry;
    };
    const Case cases[] = {
        {"past the end of the file", 0x00FFFFFF},
        {"the table's definition", 3},
        {"a data page of the table", kPagesPerMapPage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = writeLaidOut(dir, kLayouts[0]);
        ASSERT_FALSE(path.isEmpty());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        // The one map page of the file (type 5), and the table's map that
        // names it in its second entry, the first being empty.
        int mapPage = -1;
        for (int page = 0; page * kPage < bytes.size(); ++page)
            if (bytes[page * kPage] == 0x05)
                mapPage = page;
        ASSERT_GT(mapPage, 0);
        QByteArray entries("\x01\0\0\0\0", 5);
        for (int i = 0; i < 4; ++i)
            entries += char((quint32(mapPage) >> (8 * i)) & 0xFF);
        const int at = bytes.indexOf(entries);
        ASSERT_GE(at, 0);
        ASSERT_EQ(bytes.indexOf(entries, at + 1), -1);
        for (int i = 0; i < 4; ++i)
            bytes[at + 5 + i] = char((c.entry >> (8 * i)) & 0xFF);
        ASSERT_TRUE(file.seek(0));
        ASSERT_EQ(file.write(bytes), bytes.size());
        file.close();

        std::unique_ptr<ov::Connection> cn = mdlOVSqlServer::ConnectToDBAccess(path);
        ASSERT_TRUE(cn) << mdlCommon::GetErrorText(true).toStdString();
        const jetread::Rows r = jetread::readAll(*cn, QStringLiteral("Far"));
        ASSERT_TRUE(!r.opened || r.error.isSet()) << "read " << r.rows.size() << " rows without an error";
        EXPECT_TRUE(r.error.description.contains(QStringLiteral("is damaged")))
            << r.error.description.toStdString();
    }
}

} // namespace
