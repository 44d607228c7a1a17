#include "app/Main.h"
#include "app/frmDBNav.h"
#include "backup/frmDBBackup.h"
#include "backup/frmDBRestore.h"
#include "common/UiPort.h"
#include "common/mdlResAndColor.h"
#include "config/clsIniFile.h"
#include "config/mdlOVSqlServer.h"
#include "convert/frmDBConvert.h"
#include "create/frmDBCreate.h"
#include "support/ScopedProgramFolder.h"
#include "support/ScriptedUi.h"
#include "support/Windows.h"
#include "update/frmDBUpdate.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// Each test runs with its own program folder, so the configuration file that
// the menu reads and writes is a temporary one.
class MenuWindow : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    void TearDown() override
    {
        ovtest::DeleteTopLevels<frmDBNav, frmDBBackup, frmDBRestore, frmDBUpdate, frmDBCreate,
                                frmDBConvert>();
    }
    static QList<frmDBNav*> Menus() { return ovtest::TopLevels<frmDBNav>(); }
    QString ConfigPath() const { return m_dir.filePath(QStringLiteral("OrvaneSqlConfig.ini")); }
    static frmDBNav* OpenMenu()
    {
        mdlOVSqlUpdateDB::StartUp({});
        return Menus().value(0);
    }
    // Starts a task with the menu's button, or with its start-up switch when
    // button is null; either way no menu is left open.
    static void Launch(const char* button, const char* sw)
    {
        if (button) {
            QPointer<frmDBNav> menu = OpenMenu();
            ASSERT_TRUE(menu);
            auto* b = menu->findChild<QPushButton*>(QLatin1String(button));
            ASSERT_NE(b, nullptr) << button;
            EXPECT_TRUE(b->isEnabled());
            QTest::mouseClick(b, Qt::LeftButton);
            EXPECT_TRUE(ovtest::WaitUntil([&] { return menu.isNull(); }));
        } else {
            mdlOVSqlUpdateDB::StartUp({QLatin1String(sw)});
            EXPECT_TRUE(Menus().isEmpty());
        }
    }
    // The connection boxes a task window opened with; the password box is
    // always empty.
    static void ExpectBoxes(QWidget* window, const QString& server, const QString& database,
                            const QString& user)
    {
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->findChild<QLineEdit*>(QStringLiteral("txtServer"))->text(), server);
        EXPECT_EQ(window->findChild<QLineEdit*>(QStringLiteral("txtDB"))->text(), database);
        EXPECT_EQ(window->findChild<QLineEdit*>(QStringLiteral("txtUser"))->text(), user);
        EXPECT_EQ(window->findChild<QLineEdit*>(QStringLiteral("txtPasswd"))->text(), QString());
    }

    ovtest::ScopedProgramFolder m_dir;
    ovtest::ScriptedUi m_ui;
};

} // namespace

TEST_F(MenuWindow, ShowsSixButtonsInOneColumnWithTheirCaptions)
{
    frmDBNav* menu = OpenMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(Menus().size(), 1);
    EXPECT_EQ(menu->windowTitle(), QStringLiteral("Orvane -- 数据库维护"));
    EXPECT_TRUE(menu->isVisible());

    const struct
    {
        const char* name;
        const char* caption;
    } buttons[] = {
        {"cmdCreateDB", "创建数据库"},
        {"cmdBackupDB", "备份数据库"},
        {"cmdRestoreDB", "恢复数据库"},
        {"cmdUpdateDB", "升级数据库    －从旧版本的数据库升级到新版本"},
        {"cmdConvertDB", "数 据 转 换      －将单机版数据库升级到网络版"},
        {"cmdClose", "关闭"},
    };
    int previousTop = -1;
    for (const auto& b : buttons) {
        auto* button = menu->findChild<QPushButton*>(QLatin1String(b.name));
        ASSERT_NE(button, nullptr) << b.name;
        EXPECT_EQ(button->text(), QString::fromUtf8(b.caption));
        EXPECT_GT(button->y(), previousTop) << b.name;
        previousTop = button->y();
        EXPECT_EQ(button->x(), menu->findChild<QPushButton*>(QStringLiteral("cmdClose"))->x());
        EXPECT_EQ(button->width(), menu->findChild<QPushButton*>(QStringLiteral("cmdClose"))->width());
    }
}

TEST_F(MenuWindow, TabOrderFollowsTheDesign)
{
    frmDBNav* menu = OpenMenu();
    ASSERT_NE(menu, nullptr);
    QStringList order;
    QWidget* w = menu->findChild<QWidget*>(QStringLiteral("cmdCreateDB"));
    for (int i = 0; i < 6; ++i) {
        order.append(w->objectName());
        w = w->nextInFocusChain();
        while (!qobject_cast<QPushButton*>(w))
            w = w->nextInFocusChain();
    }
    EXPECT_EQ(order, QStringList({"cmdCreateDB", "cmdBackupDB", "cmdUpdateDB", "cmdRestoreDB", "cmdClose",
                                  "cmdConvertDB"}));
}

TEST_F(MenuWindow, EscapeAndCloseEndTheMenuWithoutTouchingTheConfiguration)
{
    for (const bool useEscape : {true, false}) {
        QPointer<frmDBNav> menu = OpenMenu();
        ASSERT_TRUE(menu);
        QApplication::setActiveWindow(menu);
        if (useEscape)
            QTest::keyClick(menu, Qt::Key_Escape);
        else
            QTest::mouseClick(menu->findChild<QPushButton*>(QStringLiteral("cmdClose")), Qt::LeftButton);
        EXPECT_TRUE(ovtest::WaitUntil([&] { return menu.isNull(); })); // closed and deleted
        EXPECT_FALSE(QFile::exists(ConfigPath()));
    }
}

// The backup and restore buttons, and their switches, open their windows
// with the stored server, database and login, never the stored password.
TEST_F(MenuWindow, BackupAndRestoreOpenTheirWindows)
{
    const struct
    {
        const char* button; // nullptr: started by the switch
        const char* sw;
        bool backup;
        const char* title;
    } cases[] = {
        {"cmdBackupDB", nullptr, true, "Orvane - 备份数据库"},
        {"cmdRestoreDB", nullptr, false, "Orvane -- 恢复数据库"},
        {nullptr, " /ovbackup ", true, "Orvane - 备份数据库"},
        {nullptr, "/OVRESTORE", false, "Orvane -- 恢复数据库"},
    };
    ASSERT_TRUE(mdlOVSqlServer::WriteMainSettings(QStringLiteral("DBHOST"), QStringLiteral("CrmProd"), false,
                                                  QStringLiteral("crmuser"), QStringLiteral("secret")));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        ASSERT_NO_FATAL_FAILURE(Launch(c.button, c.sw));
        QWidget* window = c.backup ? static_cast<QWidget*>(ovtest::TopLevel<frmDBBackup>())
                                   : static_cast<QWidget*>(ovtest::TopLevel<frmDBRestore>());
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(ov::applicationTitle(), QString::fromUtf8(c.title));
        ExpectBoxes(window, QStringLiteral("DBHOST"), QStringLiteral("CrmProd"), QStringLiteral("crmuser"));
        delete window;
    }
}

// The update and create buttons, and their switches, reset their result key
// to "0" and open their windows: the update window with the stored database,
// the create window with an empty name; neither with the stored password.
TEST_F(MenuWindow, UpdateAndCreateOpenTheirWindows)
{
    const struct
    {
        const char* button; // nullptr: started by the switch
        const char* sw;
        bool update;
        const char* title;
    } cases[] = {
        {"cmdUpdateDB", nullptr, true, "Orvane -- 升级数据库"},
        {"cmdCreateDB", nullptr, false, "Orvane -- 创建数据库"},
        {nullptr, " /ovupdate", true, "Orvane -- 升级数据库"},
        {nullptr, "/OVCreate ", false, "Orvane -- 创建数据库"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        ASSERT_TRUE(mdlOVSqlServer::WriteMainSettings(QStringLiteral("DBHOST"), QStringLiteral("CrmProd"),
                                                      false, QStringLiteral("crmuser"),
                                                      QStringLiteral("secret")));
        const QString key = c.update ? QStringLiteral("UpdateDBResult") : QStringLiteral("CreateDBResult");
        clsIniFile ini;
        ini.setFileName(ConfigPath());
        ASSERT_TRUE(ini.WriteString(QStringLiteral("MAIN"), key, QStringLiteral("1")));
        ASSERT_NO_FATAL_FAILURE(Launch(c.button, c.sw));
        EXPECT_EQ(ini.ReadString(QStringLiteral("MAIN"), key, QString(), 255), QStringLiteral("0"));
        QWidget* window = c.update ? static_cast<QWidget*>(ovtest::TopLevel<frmDBUpdate>())
                                   : static_cast<QWidget*>(ovtest::TopLevel<frmDBCreate>());
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(ov::applicationTitle(), QString::fromUtf8(c.title));
        ExpectBoxes(window, QStringLiteral("DBHOST"), c.update ? QStringLiteral("CrmProd") : QString(),
                    QStringLiteral("crmuser"));
        delete window;
    }
}

// The conversion button and its switch open the conversion window with the
// stored server and login, an empty database name and no password. The
// button resets CreateDBResult to "0"; the switch leaves it as it was.
TEST_F(MenuWindow, ConvertOpensItsWindow)
{
    const struct
    {
        const char* button; // nullptr: started by the switch
        const char* sw;
        bool trusted;
        const char* title;
        const char* createResult; // CreateDBResult afterwards; it was "1"
    } cases[] = {
        {"cmdConvertDB", nullptr, false, "Orvane -- 数据转换", "0"},
        {nullptr, " /ovconvert ", true, "Orvane - 数据转换", "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        ASSERT_TRUE(mdlOVSqlServer::WriteMainSettings(QStringLiteral("DBHOST"), QStringLiteral("CrmProd"),
                                                      c.trusted, QStringLiteral("crmuser"),
                                                      QStringLiteral("secret")));
        clsIniFile ini;
        ini.setFileName(ConfigPath());
        ASSERT_TRUE(
            ini.WriteString(QStringLiteral("MAIN"), QStringLiteral("CreateDBResult"), QStringLiteral("1")));
        ASSERT_NO_FATAL_FAILURE(Launch(c.button, c.sw));
        EXPECT_EQ(ini.ReadString(QStringLiteral("MAIN"), QStringLiteral("CreateDBResult"), QString(), 255),
                  QLatin1String(c.createResult));
        frmDBConvert* window = ovtest::TopLevel<frmDBConvert>();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(ov::applicationTitle(), QString::fromUtf8(c.title));
        ExpectBoxes(window, QStringLiteral("DBHOST"), QString(), QStringLiteral("crmuser"));
        EXPECT_EQ(window->findChild<QRadioButton*>(QStringLiteral("optTrust"))->isChecked(), c.trusted);
        delete window;
    }
}

// The menu rendered offscreen, saved for a person to look at; the font that
// it resolves to must hold the Chinese characters of its captions.
TEST_F(MenuWindow, RendersChineseCaptions)
{
    frmDBNav* menu = OpenMenu();
    ASSERT_NE(menu, nullptr);
    auto* button = menu->findChild<QPushButton*>(QStringLiteral("cmdCreateDB"));
    const QFontMetrics metrics(button->font());
    for (const QChar c : button->text() + QStringLiteral("升级恢复备份转换关闭"))
        EXPECT_TRUE(metrics.inFontUcs4(c.unicode())) << "no glyph for U+" << std::hex << c.unicode();
    EXPECT_EQ(QFontInfo(button->font()).pointSize(), 9);

    const QImage image = menu->grab().toImage();
    ASSERT_FALSE(image.isNull());
    const QString folder = QStringLiteral(OV_PROGRAM_DIR "/../screenshots");
    QDir().mkpath(folder);
    EXPECT_TRUE(image.save(folder + QStringLiteral("/frmDBNav.png")));
}

namespace {

// Records, each time a task window shows, how many menus are on the screen.
class ShowWatch : public QObject
{
public:
    QStringList menusAtShow;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* w = qobject_cast<QWidget*>(watched);
        if (event->type() == QEvent::Show && w && w->isWindow() && !qobject_cast<frmDBNav*>(w)) {
            int visible = 0;
            for (const frmDBNav* menu : ovtest::TopLevels<frmDBNav>())
                visible += menu->isVisible() ? 1 : 0;
            menusAtShow.append(
                QStringLiteral("%1:%2").arg(QLatin1String(w->metaObject()->className())).arg(visible));
        }
        return false;
    }
};

// The menu closes before it opens the task window: when the task window
// shows, no menu is on the screen, and the window opens centred.
TEST_F(MenuWindow, MenuClosesBeforeTheTaskWindowShows)
{
    for (const char* button : {"cmdRestoreDB", "cmdBackupDB", "cmdUpdateDB", "cmdCreateDB", "cmdConvertDB"}) {
        SCOPED_TRACE(button);
        ShowWatch watch;
        qApp->installEventFilter(&watch);
        ASSERT_NO_FATAL_FAILURE(Launch(button, nullptr));
        qApp->removeEventFilter(&watch);
        ASSERT_FALSE(watch.menusAtShow.isEmpty());
        EXPECT_TRUE(watch.menusAtShow.constFirst().endsWith(QLatin1String(":0")))
            << watch.menusAtShow.join(' ').toStdString();
        QList<QPointer<QWidget>> shown;
        for (QWidget* w : ovtest::TopLevels<QWidget>()) {
            if (w->isVisible() && !qobject_cast<frmDBNav*>(w))
                shown.append(w);
        }
        ASSERT_EQ(shown.size(), 1);
        const QPoint offset =
            shown[0]->frameGeometry().center() - shown[0]->screen()->availableGeometry().center();
        EXPECT_LE(offset.manhattanLength(), 4) << shown[0]->metaObject()->className();
        delete shown[0].data();
    }
}

// Enter and the keypad's Enter press the button that has the focus.
TEST_F(MenuWindow, EnterPressesTheFocusedButton)
{
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        QPointer<frmDBNav> menu = OpenMenu();
        ASSERT_TRUE(menu);
        QApplication::setActiveWindow(menu);
        auto* restore = menu->findChild<QPushButton*>(QStringLiteral("cmdRestoreDB"));
        restore->setFocus();
        QTest::keyClick(restore, key);
        EXPECT_TRUE(QTest::qWaitFor([&] { return menu.isNull(); }));
        frmDBRestore* window = ovtest::TopLevel<frmDBRestore>();
        ASSERT_NE(window, nullptr);
        delete window;
    }
}

} // namespace
