// Tables whose usage map is a list of map pages (type 1), each naming the
// pages of its range of 32736 (128 MiB): every row on every page the map
// names is read, wherever in the ranges the table's pages lie and whichever
// ranges hold none of them. The files are sparse: the writer leaves the pages
// before the table's empty, so they cost no disk space.

#include "JetReadSupport.h"

#include "common/clsError.h"

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

} // namespace
