#include "common/QtUi.h"
#include "common/clsMouseCtrl.h"
#include "common/mdlCommonGui.h"
#include "support/ModalDialog.h"
#include "support/ScopedProgramFolder.h"
#include "support/Windows.h"

#include <QApplication>
#include <QFileDialog>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(MousePointer, GuardsDoNotNest)
{
    ov::QtUi port;
    ov::setUi(&port);
    {
        clsMouseCtrl outer;
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        {
            clsMouseCtrl inner;
            EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        }
        // The inner release already brought back the normal pointer.
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ov::setUi(nullptr);
}

TEST(FileDialog, FilterBecomesQtFilter)
{
    EXPECT_EQ(mdlCommon::ToQtFilter(QStringLiteral("单机版数据库|*.cdb|所有文件|*.*")),
              QStringLiteral("单机版数据库 (*.cdb);;所有文件 (*.*)"));
    EXPECT_EQ(mdlCommon::ToQtFilter(QStringLiteral("数据库(*.cdb)|*.cdb")), QStringLiteral("数据库(*.cdb)"));
    EXPECT_EQ(mdlCommon::ToQtFilter(QStringLiteral("文本|*.txt;*.log")),
              QStringLiteral("文本 (*.txt *.log)"));
}

TEST(FileDialog, CancelGivesEmptyTextAndLeavesNoDialog)
{
    ovtest::ScopedProgramFolder folder;
    const QString user = folder.makeUserFolder();
    QString seen;
    ovtest::NextDialog<QFileDialog> dialog(ovtest::ChooseFile(QString(), &seen), QStringLiteral("打开"));
    EXPECT_EQ(mdlCommon::ShowFileDialog(false, QString(), QStringLiteral("单机版数据库|*.cdb"), 0, 0,
                                        QString(), QStringLiteral("打开")),
              QString());
    // Without a starting folder the dialog opens in the user folder.
    EXPECT_EQ(seen, QDir(user).absolutePath());
    EXPECT_TRUE(ovtest::TopLevels<QFileDialog>().isEmpty());
}

TEST(FileDialog, OpenReturnsTheChosenExistingFile)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("客户.cdb"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    QString seen;
    ovtest::NextDialog<QFileDialog> dialog(ovtest::ChooseFile(file, &seen), QStringLiteral("打开"));
    // The preset path's folder is where the dialog starts.
    EXPECT_EQ(mdlCommon::ShowFileDialog(false, file, QStringLiteral("单机版数据库|*.cdb"), 0, 0,
                                        QStringLiteral("/"), QStringLiteral("打开")),
              file);
    EXPECT_EQ(seen, QDir(dir.path()).absolutePath());
    EXPECT_TRUE(ovtest::TopLevels<QFileDialog>().isEmpty());
}
