// The helpers the other tests stand on: a program folder that comes back.

#include "common/Clock.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "data/ServerAdmin.h"
#include "support/ScopedProgramFolder.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

// Every value the folder sets comes back when it ends, also after a folder
// inside it pointed the values elsewhere; a relative embedded server lies in
// it.
TEST(ScopedProgramFolder, SetsTheProgramFolderAndRestoresEveryValue)
{
    mdlOVSqlUpdateDB::gstrAppPath = QStringLiteral("/before/app/");
    mdlOVSqlUpdateDB::gstrUserPath = QStringLiteral("/before/user/");
    ov::ServerAdmin::setProgramFolder(QStringLiteral("/before/engine/"));
    const QDateTime fixed(QDate(2001, 2, 3), QTime(4, 5, 6));
    {
        ovtest::ScopedProgramFolder folder;
        ASSERT_TRUE(folder.isValid());
        EXPECT_EQ(mdlOVSqlUpdateDB::gstrAppPath, folder.path() + QLatin1Char('/'));
        EXPECT_EQ(folder.makeServer(), QStringLiteral("sqlite:") + folder.filePath(QStringLiteral("data")));
        EXPECT_EQ(ov::ServerAdmin::localFolder(QStringLiteral("sqlite:data")),
                  folder.filePath(QStringLiteral("data")));
        EXPECT_EQ(folder.makeUserFolder(), folder.filePath(QStringLiteral("user")));
        EXPECT_EQ(mdlOVSqlUpdateDB::gstrUserPath, folder.filePath(QStringLiteral("user/")));
        folder.fixClock(fixed);
        EXPECT_TRUE(folder.copyDist());
        EXPECT_TRUE(QFile::exists(folder.filePath(QStringLiteral("DBDataFiles/Demo/tables.txt"))));
        {
            ovtest::ScopedProgramFolder inner;
            inner.pointAt(inner.filePath(QStringLiteral("missing")));
            EXPECT_EQ(mdlOVSqlUpdateDB::gstrAppPath, inner.filePath(QStringLiteral("missing/")));
            EXPECT_EQ(ov::ServerAdmin::localFolder(QStringLiteral("sqlite:data")),
                      inner.filePath(QStringLiteral("missing/data")));
        }
        EXPECT_EQ(mdlOVSqlUpdateDB::gstrAppPath, folder.path() + QLatin1Char('/'));
        EXPECT_EQ(mdlOVSqlUpdateDB::gstrUserPath, folder.filePath(QStringLiteral("user/")));
        EXPECT_EQ(ov::Clock::now(), fixed);
    }
    EXPECT_EQ(mdlOVSqlUpdateDB::gstrAppPath, QStringLiteral("/before/app/"));
    EXPECT_EQ(mdlOVSqlUpdateDB::gstrUserPath, QStringLiteral("/before/user/"));
    EXPECT_EQ(ov::ServerAdmin::programFolder(), QStringLiteral("/before/engine/"));
    EXPECT_NE(ov::Clock::now(), fixed);
    mdlOVSqlUpdateDB::gstrAppPath.clear();
    mdlOVSqlUpdateDB::gstrUserPath.clear();
    ov::ServerAdmin::setProgramFolder(QString());
}
