#include "common/QtUi.h"
#include "support/ModalDialog.h"
#include "support/ScopedProgramFolder.h"
#include "update/UpdateLog.h"

#include <QFileInfo>
#include <QMessageBox>

#include <gtest/gtest.h>

namespace {

// Installs the windows' port for one test.
struct WindowsPort
{
    WindowsPort() { ov::setUi(&port); }
    ~WindowsPort() { ov::setUi(nullptr); }
    ov::QtUi port;
};

} // namespace

// An update log that cannot be written is shown to the person at the window
// in a message box, once, and the run goes on; it is not noted into the log
// that could not be written.
TEST(QtNote, UnwritableUpdateLogIsShownOnce)
{
    ovtest::ScopedProgramFolder folder;
    // A program folder that is not there: no log can be written in it.
    folder.pointAt(folder.filePath(QStringLiteral("gone/away")));
    WindowsPort windows;
    QStringList shown;
    {
        ovtest::NextDialog<QMessageBox> box([&shown](QMessageBox* b) {
            shown << b->text();
            b->accept();
        });
        mdlOVSqlUpdateDB::WriteUpdateLog(QStringLiteral("第一条"));
    }
    ASSERT_EQ(shown.size(), 1);
    // The box may break a long path with zero-width spaces.
    const QString text = QString(shown.first()).remove(QChar(0x200B));
    EXPECT_TRUE(text.contains(QStringLiteral("UpdateDBSqlLog.Txt"))) << text.toStdString();
    {
        ovtest::NoDialog none;
        mdlOVSqlUpdateDB::WriteUpdateLog(QStringLiteral("第二条"));
    }
    EXPECT_FALSE(QFileInfo::exists(mdlOVSqlUpdateDB::UpdateLogPath()));
}

// A note of the windows' port reaches the person and leaves the update log
// alone: the log is the trail of updates, not of the port.
TEST(QtNote, NoteWritesNoUpdateLog)
{
    ovtest::ScopedProgramFolder folder;
    WindowsPort windows;
    QString shown;
    {
        ovtest::NextDialog<QMessageBox> box([&shown](QMessageBox* b) {
            shown = b->text();
            b->accept();
        });
        ov::ui().note(QStringLiteral("配置文件无法写入"));
    }
    EXPECT_EQ(shown, QStringLiteral("配置文件无法写入"));
    EXPECT_FALSE(QFileInfo::exists(mdlOVSqlUpdateDB::UpdateLogPath()));
}
