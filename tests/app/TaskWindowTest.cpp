// The task windows that carry the connection panel, side by side: each opens
// with its own texts, and its panel follows the same rules.

#include "config/mdlOVSqlServer.h"
#include "convert/frmDBConvert.h"
#include "create/frmDBCreate.h"
#include "support/ScopedProgramFolder.h"
#include "support/ScriptedUi.h"
#include "support/Windows.h"
#include "update/frmDBUpdate.h"

#include <QApplication>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

using ovtest::Child;

namespace {

struct TaskWindowCase
{
    const char* name;
    // Opens the window on server with the login mode and the user "sa".
    std::function<QWidget*(const QString& server, bool trusted)> open;
    QString title;
    QString header;
    int headerPoints;
    QColor headerColour; // invalid: the style's own
    QString tip;
    // Captions by object name: buttons, labels, frames.
    QList<QPair<const char*, QString>> captions;
    QString database; // the name box as opened
    // Whether the user and password labels are enabled with their boxes or
    // stay enabled.
    bool labelsFollowBoxes;
    QStringList readOnlyBoxes;
};

void PrintTo(const TaskWindowCase& c, std::ostream* os)
{
    *os << c.name;
}

// The caption a control shows: a frame's title, a button's or label's text.
QString Caption(QWidget* w)
{
    if (auto* frame = qobject_cast<QGroupBox*>(w))
        return frame->title();
    return w->property("text").toString();
}

const QString kCancel = QStringLiteral("取消(&C)");
const QString kNewDatabase = QStringLiteral("将创建的数据库(&D)");

const TaskWindowCase kWindows[] = {
    {"frmDBUpdate",
     [](const QString& server, bool trusted) -> QWidget* {
         return frmDBUpdate::ShowMe(server, QStringLiteral("crm"), trusted, QStringLiteral("sa"));
     },
     QStringLiteral("Orvane-数据库升级程序"),
     QStringLiteral("升级数据库"),
     24,
     QColor(),
     QStringLiteral("1、选择待升级数据库（默认当前数据库）\r\n2、备份数据库\r\n3、开始升级"),
     {{"cmdOK", QStringLiteral("备份 -> 升级(&O)")},
      {"cmdCancel", kCancel},
      {"lblDB", QStringLiteral("数据库(&D)")}},
     QStringLiteral("crm"),
     false,
     {}},
    {"frmDBCreate",
     [](const QString& server, bool trusted) -> QWidget* {
         return frmDBCreate::ShowMe(server, QString(), trusted, QStringLiteral("sa"));
     },
     QStringLiteral("Orvane客户资源管理系统 － 创建数据库"),
     QStringLiteral("创建数据库"),
     16,
     QColor(0, 0, 255),
     QStringLiteral("如果尚未安装 MS SQL Server，请先在服务器上安装\r\n1、选择服务器，和登录方式\r\n"
                    "2、输入想创建的数据库名称\r\n3、点击<创建演示数据库> 或者 <创建空白数据库>"),
     {{"cmdCreateDemo", QStringLiteral("创建演示数据库")},
      {"cmdCreateBlank", QStringLiteral("创建空白数据库")},
      {"cmdCancel", kCancel},
      {"lblDB", kNewDatabase}},
     QString(),
     true,
     {}},
    {"frmDBConvert",
     [](const QString& server, bool trusted) -> QWidget* {
         return frmDBConvert::ShowMe(server, QString(), trusted, QStringLiteral("sa"));
     },
     QStringLiteral("Orvane客户资源管理系统 － 数据转换"),
     QStringLiteral("数据转换"),
     16,
     QColor(0, 0, 255),
     QStringLiteral(
         "如果尚未安装 MS SQL Server，请先在服务器上安装\r\n1、选择 SQL Server 服务器，和登录方式\r\n"
         "2、输入想创建的网络版数据库名称\r\n3、点击<转换数据库>，开始将单机版数据库转换为网络版数据库"),
     {{"fraDBAccess", QStringLiteral("1－点击“...”按钮，选择待转换的单机版数据库文件：")},
      {"fraServer", QStringLiteral("2－选择将创建的网络版数据库服务器：")},
      {"cmdCreateBlank", QStringLiteral("开始转换数据库")},
      {"cmdCancel", kCancel},
      {"cmdBrowseDBAccess", QStringLiteral("...")},
      {"lblDB", kNewDatabase}},
     QString(),
     true,
     {QStringLiteral("txtDBAccess")}},
};

class TaskWindow : public ::testing::TestWithParam<TaskWindowCase>
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    void TearDown() override { ovtest::DeleteTopLevels<frmDBUpdate, frmDBCreate, frmDBConvert>(); }

    ovtest::ScopedProgramFolder m_dir;
    ovtest::ScriptedUi m_ui;
};

// Its title, the tip panel, the captions; the panel filled as opened, the
// boxes of a login by name enabled only for one, the focus in the first box
// that waits for the user; the other option switches the login mode; Cancel
// closes the window and writes nothing.
TEST_P(TaskWindow, OpensWithItsTextsAndTheConnectionPanel)
{
    const TaskWindowCase& c = GetParam();
    const QString server = m_dir.makeServer();
    for (const bool trusted : {true, false}) {
        SCOPED_TRACE(trusted);
        QPointer<QWidget> w = c.open(server, trusted);
        ASSERT_FALSE(w.isNull());
        QApplication::setActiveWindow(w);
        EXPECT_EQ(w->windowTitle(), c.title);
        auto* header = Child<QLabel>(w, "lblTipHeader");
        EXPECT_EQ(header->text(), c.header);
        EXPECT_EQ(header->font().pointSize(), c.headerPoints);
        if (c.headerColour.isValid()) {
            EXPECT_EQ(header->palette().color(QPalette::WindowText), c.headerColour);
        }
        EXPECT_EQ(header->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
        EXPECT_EQ(Child<QWidget>(w, "picTip")->palette().color(QPalette::Window), QColor(255, 255, 255));
        EXPECT_EQ(Child<QLabel>(w, "lblTip")->text(), c.tip);
        for (const auto& [name, caption] : c.captions)
            EXPECT_EQ(Caption(Child<QWidget>(w, name)), caption) << name;
        for (const QString& name : c.readOnlyBoxes)
            EXPECT_TRUE(Child<QLineEdit>(w, name.toLatin1().constData())->isReadOnly()) << name.toStdString();

        EXPECT_EQ(Child<QLineEdit>(w, "txtServer")->text(), server);
        EXPECT_EQ(Child<QLineEdit>(w, "txtDB")->text(), c.database);
        EXPECT_EQ(Child<QRadioButton>(w, "optTrust")->isChecked(), trusted);
        EXPECT_EQ(Child<QLineEdit>(w, "txtUser")->text(), QStringLiteral("sa"));
        EXPECT_TRUE(Child<QLineEdit>(w, "txtPasswd")->text().isEmpty());
        for (const char* name : {"txtUser", "txtPasswd"})
            EXPECT_EQ(Child<QWidget>(w, name)->isEnabled(), !trusted) << name;
        for (const char* name : {"lblUserName", "lblPasswd"})
            EXPECT_EQ(Child<QWidget>(w, name)->isEnabled(), !trusted || !c.labelsFollowBoxes) << name;
        EXPECT_TRUE(ovtest::WaitUntil([&] {
            return QApplication::focusWidget() == Child<QWidget>(w, trusted ? "txtDB" : "txtPasswd");
        })) << ovtest::FocusName();

        QRadioButton* other = Child<QRadioButton>(w, trusted ? "optSql" : "optTrust");
        QTest::mouseClick(other, Qt::LeftButton, {}, QPoint(6, other->height() / 2));
        EXPECT_EQ(Child<QWidget>(w, "txtPasswd")->isEnabled(), trusted);
        QTest::mouseClick(Child<QPushButton>(w, "cmdCancel"), Qt::LeftButton);
        EXPECT_TRUE(ovtest::WaitUntil([&] { return w.isNull(); }));
    }
    EXPECT_FALSE(QFileInfo::exists(mdlOVSqlServer::ConfigFilePath()));
}

// The window opens at a fixed size, as the menu: it can be neither resized
// nor maximised.
TEST_P(TaskWindow, HasAFixedSizeAndNoMaximiseButton)
{
    QPointer<QWidget> w = GetParam().open(m_dir.makeServer(), true);
    ASSERT_FALSE(w.isNull());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    const QSize opened = w->size();
    EXPECT_EQ(w->minimumSize(), opened);
    EXPECT_EQ(w->maximumSize(), opened);
    EXPECT_FALSE(w->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    w->resize(opened + QSize(200, 150));
    EXPECT_EQ(w->size(), opened);
}

INSTANTIATE_TEST_SUITE_P(Windows, TaskWindow, ::testing::ValuesIn(kWindows),
                         [](const ::testing::TestParamInfo<TaskWindowCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
