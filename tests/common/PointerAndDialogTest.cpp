#include "common/QtUi.h"
#include "common/clsMouseCtrl.h"
#include "common/mdlCommonGui.h"
#include "support/ScopedProgramFolder.h"

#include <QApplication>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>

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

namespace {
// Answers the file dialog that opens next: picks name (or cancels when empty).
void AnswerNextDialog(const QString& name, QString* seenFolder)
{
    QTimer::singleShot(0, [name, seenFolder] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<QFileDialog*>(w); dialog && dialog->isVisible()) {
                *seenFolder = dialog->directory().absolutePath();
                if (name.isEmpty()) {
                    dialog->reject();
                } else {
                    dialog->selectFile(name);
                    QMetaObject::invokeMethod(dialog, "accept");
                }
                return;
            }
        }
        ADD_FAILURE() << "no file dialog opened";
    });
}

bool AnyFileDialogLeft()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qobject_cast<QFileDialog*>(w))
            return true;
    }
    return false;
}
} // namespace

TEST(FileDialog, CancelGivesEmptyTextAndLeavesNoDialog)
{
    ovtest::ScopedProgramFolder folder;
    const QString user = folder.makeUserFolder();
    QString seen;
    AnswerNextDialog(QString(), &seen);
    EXPECT_EQ(mdlCommon::ShowFileDialog(false, QString(), QStringLiteral("单机版数据库|*.cdb"), 0, 0,
                                        QString(), QStringLiteral("打开")),
              QString());
    // Without a starting folder the dialog opens in the user folder.
    EXPECT_EQ(seen, QDir(user).absolutePath());
    EXPECT_FALSE(AnyFileDialogLeft());
}

TEST(FileDialog, OpenReturnsTheChosenExistingFile)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("客户.cdb"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    QString seen;
    AnswerNextDialog(file, &seen);
    // The preset path's folder is where the dialog starts.
    EXPECT_EQ(mdlCommon::ShowFileDialog(false, file, QStringLiteral("单机版数据库|*.cdb"), 0, 0,
                                        QStringLiteral("/"), QStringLiteral("打开")),
              file);
    EXPECT_EQ(seen, QDir(dir.path()).absolutePath());
    EXPECT_FALSE(AnyFileDialogLeft());
}
