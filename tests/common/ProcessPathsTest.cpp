#include "common/mdlOVSqlUpdateDB.h"
#include "support/ScopedHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
namespace {

// Points HOME (and so the documents folder, ~/Documents) at a temporary folder.
class ProcessPaths : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_home.isValid()); }
    ovtest::ScopedHome m_home;
};

} // namespace

TEST_F(ProcessPaths, ProgramFolderAndUserFolder)
{
    ASSERT_TRUE(QDir(m_home.path()).mkdir(QStringLiteral("Documents")));
    mdlOVSqlUpdateDB::InitProcessPaths();
    EXPECT_EQ(mdlOVSqlUpdateDB::gstrAppPath, QCoreApplication::applicationDirPath() + QLatin1Char('/'));
    const QString userPath = m_home.path() + QStringLiteral("/Documents/Orvane/");
    EXPECT_EQ(mdlOVSqlUpdateDB::gstrUserPath, userPath);
    // The missing "Orvane" folder is made.
    EXPECT_TRUE(QDir(userPath).exists());

    // An existing one is left as it is.
    QFile kept(userPath + QStringLiteral("kept.txt"));
    ASSERT_TRUE(kept.open(QIODevice::WriteOnly));
    kept.close();
    mdlOVSqlUpdateDB::InitProcessPaths();
    EXPECT_TRUE(kept.exists());
}
#endif
