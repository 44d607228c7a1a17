#include "common/mdlWindowsFunctions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using mdlWindowsFunctions::MakePath;

namespace {

#ifndef Q_OS_WIN

class MakePathTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString at(const QString& relative) const { return m_dir.path() + u'/' + relative; }
    bool isDir(const QString& relative) const { return QFileInfo(at(relative)).isDir(); }
    void writeFile(const QString& relative)
    {
        QFile file(at(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
    }

    QTemporaryDir m_dir;
};

TEST_F(MakePathTest, CreatesEveryMissingFolder)
{
    for (const char* relative : {"a/b/c", "d/e/", "f//g"}) {
        EXPECT_TRUE(MakePath(at(QString::fromUtf8(relative)))) << relative;
        EXPECT_TRUE(isDir(QString::fromUtf8(relative))) << relative;
    }
    EXPECT_TRUE(isDir(QStringLiteral("a/b")));
    EXPECT_TRUE(MakePath(QStringLiteral("/")));
}

TEST_F(MakePathTest, LeavesExistingFoldersAlone)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("Orvane/Data")));
    writeFile(QStringLiteral("Orvane/Data/keep.cdb"));
    EXPECT_TRUE(MakePath(at(QStringLiteral("Orvane/"))));
    EXPECT_TRUE(MakePath(at(QStringLiteral("Orvane/Data/New"))));
    EXPECT_TRUE(QFileInfo::exists(at(QStringLiteral("Orvane/Data/keep.cdb"))));
    EXPECT_TRUE(isDir(QStringLiteral("Orvane/Data/New")));
}

TEST_F(MakePathTest, RefusesPathsThatAreNotAbsolute)
{
    // Relative paths would land in the current folder: make that the
    // temporary folder, so anything created shows.
    const QString oldCurrent = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
    for (const char* path : {"", "Orvane/", "Orvane", "./Orvane", "//server/share/Orvane", "C:\\Orvane\\"})
        EXPECT_FALSE(MakePath(QString::fromUtf8(path))) << path;
    QDir::setCurrent(oldCurrent);
    EXPECT_TRUE(QDir(m_dir.path()).isEmpty()) << "nothing may be created";
}

TEST_F(MakePathTest, FailsWhenAFolderCannotBeMade)
{
    writeFile(QStringLiteral("file.txt"));
    // A file where a folder should be: neither below it nor the file itself.
    EXPECT_FALSE(MakePath(at(QStringLiteral("file.txt/sub"))));
    EXPECT_FALSE(MakePath(at(QStringLiteral("file.txt"))));
    EXPECT_TRUE(QFileInfo(at(QStringLiteral("file.txt"))).isFile());

    // A name too long for the file system fails after "made" was created;
    // the folders made before stay.
    EXPECT_FALSE(MakePath(at(QStringLiteral("made/") + QString(300, u'n') + QStringLiteral("/deeper"))));
    EXPECT_TRUE(isDir(QStringLiteral("made")));
}

#else

TEST(MakePathTest, DrivePathsOnly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString base = QDir::toNativeSeparators(dir.path());
    EXPECT_TRUE(MakePath(base + QStringLiteral("\\a\\b")));
    EXPECT_TRUE(QFileInfo(dir.path() + QStringLiteral("/a/b")).isDir());
    for (const char* path : {"", "Orvane\\", "\\\\server\\share\\Orvane", "/Orvane/"})
        EXPECT_FALSE(MakePath(QString::fromUtf8(path))) << path;
}

#endif

} // namespace
