// The restore window on the embedded engine: reading a backup file's
// contents, the grid, every message of a restore, and the remembered path.

#include "BackupTestSupport.h"
#include "backup/frmDBRestore.h"
#include "backup/frmSqlServerDirectory.h"
#include "backup/mdlOVSqlBackup.h"
#include "backup/mdlOVSqlRestore.h"
#include "backup/mdlOVSqlRestoreGrid.h"
#include "support/ModalDialog.h"
#include "support/SilentServer.h"
#include "support/Windows.h"

#include <QCheckBox>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>

#include <memory>

namespace {

const QString kFailed = QStringLiteral("恢复数据库失败！\r\n");

class RestoreWindow : public ovtest::BackupFixture
{
protected:
    void SetUp() override
    {
        ovtest::BackupFixture::SetUp();
        MakeDatabase(QStringLiteral("crm"));
        m_backup = path(QStringLiteral("bak/crm.dat"));
        ASSERT_TRUE(
            mdlOVSqlBackup::DoBackup(m_server, QStringLiteral("crm"), true, QString(), QString(), m_backup));
        m_ui.clear();
        // What changes after the backup, so a restore is seen.
        Exec(QStringLiteral("crm"),
             QStringLiteral("DELETE FROM t WHERE id = 1; INSERT INTO t VALUES (3, 'three')"));
    }

    frmDBRestore* Open(const QString& database = QStringLiteral("crm"), bool trusted = true)
    {
        frmDBRestore* w = frmDBRestore::ShowMe(m_server, database, trusted, QStringLiteral("sa"));
        ovtest::Activate(w);
        return w;
    }
    static QLineEdit* Edit(QWidget* w, const char* name)
    {
        return w->findChild<QLineEdit*>(QLatin1String(name));
    }
    static QPushButton* Button(QWidget* w, const char* name)
    {
        return w->findChild<QPushButton*>(QLatin1String(name));
    }
    static QTableWidget* Grid(QWidget* w)
    {
        return w->findChild<QTableWidget*>(QStringLiteral("vflexDataFile"));
    }
    static QString DateLabel(QWidget* w)
    {
        return w->findChild<QLabel*>(QStringLiteral("lblBackupDate"))->text();
    }
    // The grid as "logical|physical" rows.
    static QStringList GridRows(QWidget* w)
    {
        QStringList rows;
        for (int r = 0; r < Grid(w)->rowCount(); ++r)
            rows << Grid(w)->item(r, 0)->text() + QLatin1Char('|') + Grid(w)->item(r, 1)->text();
        return rows;
    }
    static int OpenEditors(QWidget* w)
    {
        int n = 0;
        for (QLineEdit* e : Grid(w)->viewport()->findChildren<QLineEdit*>())
            n += e->isVisible() ? 1 : 0;
        return n;
    }
    // Types path into the path box and presses Enter.
    static void EnterPath(QWidget* w, const QString& path)
    {
        Edit(w, "txtPathFileName")->setText(path);
        Edit(w, "txtPathFileName")->setFocus();
        QTest::keyClick(Edit(w, "txtPathFileName"), Qt::Key_Return);
    }
    QString DatabaseFile(const QString& name) const
    {
        return path(QStringLiteral("data/") + name + QStringLiteral(".sqlite"));
    }

    QString m_backup;
};

TEST_F(RestoreWindow, OpensWithThePanelTheGridAndTheLastPath)
{
    ASSERT_TRUE(mdlOVSqlServer::WriteDefaultPathFile(m_backup));
    for (const bool trusted : {true, false}) {
        SCOPED_TRACE(trusted);
        QPointer<frmDBRestore> w = Open(QStringLiteral("crm"), trusted);
        EXPECT_EQ(w->windowTitle(), QStringLiteral("Orvane客户资源管理系统 -- 恢复数据库"));
        EXPECT_EQ(Edit(w, "txtPathFileName")->text(), m_backup);
        EXPECT_EQ(Edit(w, "txtPasswd")->text(), QString());
        EXPECT_EQ(Edit(w, "txtUser")->isEnabled(), !trusted);
        EXPECT_TRUE(w->findChild<QLabel*>(QStringLiteral("lblPasswd"))->isEnabled());
        EXPECT_TRUE(ovtest::WaitUntil([&] {
            return QApplication::focusWidget() ==
                   (trusted ? Edit(w, "txtPathFileName") : Edit(w, "txtPasswd"));
        })) << ovtest::FocusName();
        auto* tabs = w->findChild<QTabWidget*>(QStringLiteral("tbMain"));
        EXPECT_EQ(tabs->currentIndex(), 0);
        EXPECT_EQ(tabs->tabText(0), QStringLiteral("常规"));
        EXPECT_EQ(tabs->tabText(1), QStringLiteral("选项"));
        EXPECT_EQ(Grid(w)->rowCount(), 0);
        EXPECT_EQ(Grid(w)->columnCount(), 2);
        EXPECT_EQ(Grid(w)->horizontalHeaderItem(0)->text(), QStringLiteral("原文件名"));
        EXPECT_EQ(Grid(w)->horizontalHeaderItem(1)->text(), QStringLiteral("还原为 (可用鼠标双击后修改)"));
        EXPECT_FALSE(Grid(w)->verticalHeader()->isVisible());
        EXPECT_FALSE(w->findChild<QCheckBox*>(QStringLiteral("chkReplace"))->isChecked());
        EXPECT_FALSE(w->findChild<QLabel*>(QStringLiteral("lblMsg"))->isVisible());
        EXPECT_TRUE(
            w->findChild<QLabel*>(QStringLiteral("lblTip"))
                ->text()
                .startsWith(QStringLiteral("   【步骤 1】：输入连接数据库的信息（服务器，验证方式，SQL "
                                           "登录名、密码，数据库）\r\n    【步骤 2】")));
        // Leaving the path box for the option reads the file.
        ovtest::ClickOption(
            w->findChild<QRadioButton*>(trusted ? QStringLiteral("optSql") : QStringLiteral("optTrust")));
        EXPECT_EQ(Edit(w, "txtUser")->isEnabled(), trusted);
        EXPECT_EQ(Grid(w)->rowCount(), trusted ? 1 : 0);
        delete w;
    }
}

TEST_F(RestoreWindow, EnterAndLeavingThePathBoxReadTheFile)
{
    frmDBRestore* w = Open();
    EnterPath(w, m_backup);
    EXPECT_EQ(GridRows(w), QStringList({QStringLiteral("crm|") + DatabaseFile(QStringLiteral("crm"))}));
    EXPECT_EQ(DateLabel(w), QStringLiteral("原备份日期：2026-12-04 15:33:00"));

    // A file that is no backup: its error in place of the date, and the rows
    // of the last good read stay.
    const QString bogus = path(QStringLiteral("bak/bogus.dat"));
    QFile f(bogus);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a backup");
    f.close();
    Edit(w, "txtPathFileName")->setText(bogus);
    Edit(w, "txtPathFileName")->setFocus();
    QTest::mouseClick(Edit(w, "txtDB"), Qt::LeftButton); // leaving the box
    EXPECT_TRUE(DateLabel(w).contains(bogus)) << DateLabel(w).toStdString();
    EXPECT_FALSE(DateLabel(w).startsWith(QStringLiteral("原备份日期")));
    EXPECT_EQ(Grid(w)->rowCount(), 1);
    EXPECT_TRUE(m_ui.messages().isEmpty());
}

// Leaving the box for the restore or the browse button by the keyboard is
// leaving it like any other: the file is read at once, and no button runs.
TEST_F(RestoreWindow, TabbingToAButtonReadsTheFile)
{
    for (const char* button : {"cmdRestore", "cmdBrowse"}) {
        SCOPED_TRACE(button);
        QPointer<frmDBRestore> w = Open();
        Edit(w, "txtPathFileName")->setFocus();
        ASSERT_TRUE(ovtest::WaitUntil([&] { return Edit(w, "txtPathFileName")->hasFocus(); }));
        Edit(w, "txtPathFileName")->setText(m_backup);
        Button(w, button)->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(GridRows(w), QStringList({QStringLiteral("crm|") + DatabaseFile(QStringLiteral("crm"))}));
        EXPECT_TRUE(m_ui.messages().isEmpty());
        delete w;
    }
}

TEST_F(RestoreWindow, LoginFailureShowsInPlaceOfTheDate)
{
    // A SQL Server that is not there: the provider's own error text.
    frmDBRestore* w = frmDBRestore::ShowMe(QStringLiteral("127.0.0.1,1"), QStringLiteral("crm"), false,
                                           QStringLiteral("sa"));
    ovtest::Activate(w);
    Edit(w, "txtPasswd")->setText(QStringLiteral("wrong"));
    EnterPath(w, QStringLiteral("C:\\bak\\crm.dat"));
    EXPECT_FALSE(DateLabel(w).isEmpty());
    EXPECT_NE(DateLabel(w), QStringLiteral("原备份日期："));
    EXPECT_EQ(Grid(w)->rowCount(), 0);
}

// A server that accepts the connection and never answers: the restore
// button knocks once for the listing and the restore together, the window
// goes on painting under the busy pointer, clicks meanwhile start nothing,
// and the window is usable again afterwards, the database untouched.
TEST_F(RestoreWindow, ASilentServerIsWaitedOnOnceWhileTheWindowPaints)
{
    ovtest::SilentServer server;
    ASSERT_GT(server.port(), 0);
    ovtest::ShortLoginTimeouts shortened;
    QPointer<frmDBRestore> w =
        frmDBRestore::ShowMe(server.name(), QStringLiteral("crm"), false, QStringLiteral("sa"));
    ovtest::Activate(w);
    Edit(w, "txtPasswd")->setText(QStringLiteral("pw"));
    Edit(w, "txtPathFileName")->setText(QStringLiteral("C:\\bak\\crm.dat"));
    m_ui.answer(ov::MsgAnswer::Yes);
    ovtest::WaitWatch watch(w, server, [&] { QTest::mouseClick(Button(w, "cmdRestore"), Qt::LeftButton); });
    QTest::mouseClick(Button(w, "cmdRestore"), Qt::LeftButton);

    ovtest::ExpectWaitedOnceWhilePainting(server, watch, w);
    // The question, then the failure once.
    EXPECT_EQ(
        m_ui.texts(),
        QStringList({QStringLiteral("确定要使用 C:\\bak\\crm.dat 来还原数据库 crm 吗？"),
                     QStringLiteral(
                         "恢复数据库失败，可能是访问服务器失败(比如密码不正确)，或者是备份文件不合法！")}));
    ASSERT_FALSE(w.isNull());
    EXPECT_TRUE(Button(w, "cmdRestore")->isEnabled());
    EXPECT_TRUE(Button(w, "cmdCancel")->isEnabled());
    delete w;
}

// The user types the path and clicks the restore or the browse button: the
// box is left for the button, and both need the server. Leaving the box and
// the click are one task, so a silent server is knocked on once, with the
// same painting, busy pointer and refused input as any wait.
TEST_F(RestoreWindow, LeavingThePathBoxForAButtonWaitsOnASilentServerOnce)
{
    const struct
    {
        const char* button;
        bool asks; // whether a question comes before the failure
        QStringList messageStarts;
    } cases[] = {
        {"cmdRestore",
         true,
         {QStringLiteral("确定要使用 C:\\bak\\crm.dat 来还原数据库 crm 吗？"),
          QStringLiteral("恢复数据库失败，可能是访问服务器失败(比如密码不正确)，或者是备份文件不合法！")}},
        {"cmdBrowse", false, {QStringLiteral("[FreeTDS]")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        m_ui.clear();
        ovtest::SilentServer server;
        ASSERT_GT(server.port(), 0);
        ovtest::ShortLoginTimeouts shortened;
        QPointer<frmDBRestore> w =
            frmDBRestore::ShowMe(server.name(), QStringLiteral("crm"), false, QStringLiteral("sa"));
        ovtest::Activate(w);
        Edit(w, "txtPasswd")->setText(QStringLiteral("pw"));
        Edit(w, "txtPathFileName")->setFocus();
        ASSERT_TRUE(ovtest::WaitUntil([&] { return Edit(w, "txtPathFileName")->hasFocus(); }));
        Edit(w, "txtPathFileName")->setText(QString());
        QTest::keyClicks(Edit(w, "txtPathFileName"), QStringLiteral("C:\\bak\\crm.dat"));
        if (c.asks)
            m_ui.answer(ov::MsgAnswer::Yes);
        ovtest::WaitWatch watch(w, server, [&] { QTest::mouseClick(Button(w, c.button), Qt::LeftButton); });
        ovtest::NoDialog noBrowser;
        QTest::mouseClick(Button(w, c.button), Qt::LeftButton);

        ovtest::ExpectWaitedOnceWhilePainting(server, watch, w);
        const QStringList texts = m_ui.texts();
        ASSERT_EQ(texts.size(), c.messageStarts.size()) << texts.join('\n').toStdString();
        for (int i = 0; i < texts.size(); ++i)
            EXPECT_TRUE(texts[i].startsWith(c.messageStarts[i])) << texts[i].toStdString();
        EXPECT_EQ(Button(w, "cmdRestore")->isEnabled(), true);
        delete w;
    }
}

// The browse button: a file picked on the server goes into the path box and
// is read; after a cancelled browse the typed path is read; a server that
// cannot be reached is said once, and no file is read.
TEST_F(RestoreWindow, BrowsePicksABackupFileOnTheServerAndReadsIt)
{
    const QString copy = path(QStringLiteral("bak/crm2.dat"));
    ASSERT_TRUE(QFile::copy(m_backup, copy));
    const struct
    {
        const char* name;
        bool reachable;
        const char* pick; // nullptr: cancel
        QString expectedPath;
        int gridRows;
    } cases[] = {
        {"picked", true, "crm2.dat", copy, 1},
        {"cancelled", true, nullptr, m_backup, 1},
        {"unreachable", false, nullptr, m_backup, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_ui.clear();
        frmDBRestore* w = c.reachable
                              ? Open()
                              : frmDBRestore::ShowMe(QStringLiteral("127.0.0.1,1"), QStringLiteral("crm"),
                                                     false, QStringLiteral("sa"));
        ovtest::Activate(w);
        Edit(w, "txtPathFileName")->setText(m_backup);
        const QString dateBefore = DateLabel(w);
        std::unique_ptr<ovtest::DialogWatch> browsing;
        if (c.reachable) {
            browsing = std::make_unique<ovtest::NextDialog<frmSqlServerDirectory>>(
                [&](frmSqlServerDirectory* browser) {
                    EXPECT_EQ(Edit(browser, "txtFile")->text(), QStringLiteral("crm.dat"));
                    if (c.pick) {
                        Edit(browser, "txtFile")->setText(QLatin1String(c.pick));
                        QTest::mouseClick(Button(browser, "cmdOK"), Qt::LeftButton);
                    } else {
                        QTest::mouseClick(Button(browser, "cmdCancel"), Qt::LeftButton);
                    }
                });
        } else {
            browsing = std::make_unique<ovtest::NoDialog>();
        }
        QTest::mouseClick(Button(w, "cmdBrowse"), Qt::LeftButton);
        browsing.reset();
        EXPECT_EQ(Edit(w, "txtPathFileName")->text(), c.expectedPath);
        EXPECT_EQ(Grid(w)->rowCount(), c.gridRows);
        if (c.reachable) {
            EXPECT_EQ(DateLabel(w), QStringLiteral("原备份日期：2026-12-04 15:33:00"));
            EXPECT_TRUE(m_ui.messages().isEmpty()) << m_ui.texts().join(QLatin1Char('\n')).toStdString();
        } else {
            ASSERT_EQ(m_ui.messages().size(), 1);
            EXPECT_EQ(m_ui.messages()[0].style, ov::MsgStyle::Exclamation);
            EXPECT_EQ(DateLabel(w), dateBefore);
        }
        delete w;
    }
}

TEST_F(RestoreWindow, OnlyTheTargetPathCanBeEdited)
{
    frmDBRestore* w = Open();
    EnterPath(w, m_backup);
    ASSERT_EQ(Grid(w)->rowCount(), 1);
    EXPECT_FALSE(Grid(w)->item(0, 0)->flags() & Qt::ItemIsEditable);
    EXPECT_TRUE(Grid(w)->item(0, 1)->flags() & Qt::ItemIsEditable);
    w->findChild<QTabWidget*>(QStringLiteral("tbMain"))->setCurrentIndex(1);
    Grid(w)->edit(Grid(w)->model()->index(0, 0));
    EXPECT_EQ(OpenEditors(w), 0);
    Grid(w)->edit(Grid(w)->model()->index(0, 1));
    EXPECT_EQ(OpenEditors(w), 1);
}

TEST_F(RestoreWindow, EmptyPathAndNoChangeNothing)
{
    frmDBRestore* w = Open();
    Edit(w, "txtPathFileName")->setText(QStringLiteral("   "));
    Button(w, "cmdRestore")->click();
    ASSERT_EQ(m_ui.messages().size(), 1);
    EXPECT_EQ(m_ui.messages()[0].text, QStringLiteral("请先选择要还原的数据库备份文件！"));
    EXPECT_EQ(m_ui.messages()[0].style, ov::MsgStyle::Plain);

    m_ui.clear();
    Edit(w, "txtPathFileName")->setText(m_backup);
    m_ui.answer(ov::MsgAnswer::No);
    Button(w, "cmdRestore")->click();
    EXPECT_EQ(m_ui.texts(),
              QStringList({QStringLiteral("确定要使用 %1 来还原数据库 crm 吗？").arg(m_backup)}));
    EXPECT_EQ(m_ui.messages()[0].style, ov::MsgStyle::QuestionYesNo);
    EXPECT_EQ(Rows(QStringLiteral("crm")), QStringList({"2:two", "3:three"}));
    EXPECT_FALSE(QFile::exists(ConfigPath()));
}

// The restore button reads a typed path that was never listed, refuses an
// existing database without the force box and restores over it with it.
TEST_F(RestoreWindow, ExistingDatabaseNeedsTheForceBox)
{
    QPointer<frmDBRestore> w = Open();
    Edit(w, "txtPathFileName")->setText(m_backup); // neither Enter nor leaving the box
    m_ui.answer(ov::MsgAnswer::Yes);
    Button(w, "cmdRestore")->click();
    ASSERT_EQ(m_ui.messages().size(), 2);
    EXPECT_EQ(m_ui.messages()[1].text,
              kFailed +
                  QStringLiteral(
                      "数据库 crm 已经存在：只有选中“在现有数据库上强制还原”，才能还原到现有的数据库上。"));
    EXPECT_EQ(m_ui.messages()[1].style, ov::MsgStyle::Exclamation);
    EXPECT_EQ(GridRows(w).size(), 1);
    EXPECT_EQ(DateLabel(w), QStringLiteral("原备份日期：2026-12-04 15:33:00"));
    for (const char* name : {"cmdRestore", "cmdCancel", "cmdBrowse"})
        EXPECT_TRUE(Button(w, name)->isEnabled()) << name;
    EXPECT_FALSE(w->findChild<QLabel*>(QStringLiteral("lblMsg"))->isVisible());
    EXPECT_EQ(Rows(QStringLiteral("crm")), QStringList({"2:two", "3:three"}));
    EXPECT_FALSE(QFile::exists(ConfigPath()));

    m_ui.clear();
    w->findChild<QCheckBox*>(QStringLiteral("chkReplace"))->setChecked(true);
    m_ui.answer(ov::MsgAnswer::Yes);
    Button(w, "cmdRestore")->click();
    EXPECT_EQ(m_ui.texts(), QStringList({QStringLiteral("确定要使用 %1 来还原数据库 crm 吗？").arg(m_backup),
                                         QStringLiteral("恢复数据库成功！")}));
    EXPECT_EQ(m_ui.messages()[1].style, ov::MsgStyle::Information);
    EXPECT_EQ(Rows(QStringLiteral("crm")), QStringList({"1:one", "2:two"}));
    EXPECT_EQ(mdlOVSqlServer::ReadDefaultPathFile(), m_backup);
    EXPECT_TRUE(ovtest::WaitUntil([&] { return w.isNull(); }));

    // The next opening proposes that path.
    frmDBRestore* again = Open();
    EXPECT_EQ(Edit(again, "txtPathFileName")->text(), m_backup);
}

TEST_F(RestoreWindow, EditedTargetPathIsUsed)
{
    // A second database from the same backup, with the proposed target or an
    // edited spelling of the same file.
    for (const bool edit : {false, true}) {
        SCOPED_TRACE(edit);
        m_ui.clear();
        const QString name = edit ? QStringLiteral("crm3") : QStringLiteral("crm2");
        QPointer<frmDBRestore> w = Open(name);
        EnterPath(w, m_backup);
        ASSERT_EQ(Grid(w)->rowCount(), 1);
        if (edit)
            Grid(w)->item(0, 1)->setText(path(QStringLiteral("data/../data/")) + name +
                                         QStringLiteral(".sqlite"));
        m_ui.answer(ov::MsgAnswer::Yes);
        Button(w, "cmdRestore")->click();
        ASSERT_EQ(m_ui.messages().size(), 2);
        EXPECT_EQ(m_ui.messages()[1].text, QStringLiteral("恢复数据库成功！"));
        EXPECT_EQ(Rows(name), QStringList({"1:one", "2:two"}));
    }
}

// On the embedded engine a database is always its own file of the server
// folder: the proposed target is that file, and it follows the database name
// as the user types it, in the cells the user left alone. A restore under
// another name then works with the values the window proposes.
TEST_F(RestoreWindow, TheProposedTargetFollowsTheTypedName)
{
    QPointer<frmDBRestore> w = Open(QStringLiteral("crm2"));
    EnterPath(w, m_backup);
    EXPECT_EQ(GridRows(w), QStringList({QStringLiteral("crm|") + DatabaseFile(QStringLiteral("crm2"))}));
    QLineEdit* db = Edit(w, "txtDB");
    db->setFocus();
    db->selectAll();
    // Typed key by key (QTest types ASCII only).
    for (const QChar ch : QStringLiteral("新库")) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(db, &press);
    }
    EXPECT_EQ(GridRows(w), QStringList({QStringLiteral("crm|") + DatabaseFile(QStringLiteral("新库"))}));
    EXPECT_EQ(Grid(w)->item(0, 1)->toolTip(), DatabaseFile(QStringLiteral("新库")));

    m_ui.answer(ov::MsgAnswer::Yes);
    Button(w, "cmdRestore")->click();
    EXPECT_EQ(m_ui.texts(), QStringList({QStringLiteral("确定要使用 %1 来还原数据库 新库 吗？").arg(m_backup),
                                         QStringLiteral("恢复数据库成功！")}));
    EXPECT_EQ(Rows(QStringLiteral("新库")), QStringList({"1:one", "2:two"}));
    EXPECT_EQ(Rows(QStringLiteral("crm")), QStringList({"2:two", "3:three"}));

    // A target the user typed stays whatever name follows.
    frmDBRestore* again = Open(QStringLiteral("crm4"));
    EnterPath(again, m_backup);
    const QString typed = path(QStringLiteral("elsewhere.sqlite"));
    Grid(again)->item(0, 1)->setText(typed);
    Edit(again, "txtDB")->setText(QStringLiteral("crm5"));
    EXPECT_EQ(Grid(again)->item(0, 1)->text(), typed);
}

// A target or a name the engine refuses is refused before the question, in
// Chinese, naming what the user can change; nothing is restored.
TEST_F(RestoreWindow, ATargetTheEngineRefusesIsRefusedBeforeTheQuestion)
{
    const QString elsewhere = path(QStringLiteral("bak/crm2.sqlite"));
    const struct
    {
        const char* name;
        QString database;
        QString target; // empty: the proposal
        QString message;
    } cases[] = {
        {"another folder", QStringLiteral("crm2"), elsewhere,
         QStringLiteral(
             "文件 crm 不能还原为 %1：本服务器上数据库 crm2 的文件是 %2，“还原为”一栏只能是这个路径。")
             .arg(elsewhere, DatabaseFile(QStringLiteral("crm2")))},
        {"a path in the name", QStringLiteral("a/b"), QString(),
         QStringLiteral("数据库名称“a/b”不能使用：名称中含有路径分隔符（/ 或 \\）。")},
        {"an empty name", QStringLiteral(" "), QString(), QStringLiteral("数据库名称“”不能使用：名称为空。")},
        {"the system database", QStringLiteral("TempDB"), QString(),
         QStringLiteral("不能备份或还原系统数据库 Tempdb。")},
        {"a name longer than a file name", QString(81, QChar(0x5E93)), QString(),
         QStringLiteral("数据库名称“%1”不能使用：名称太长，最多 240 个字节（一个汉字占 3 个字节）。")
             .arg(QString(81, QChar(0x5E93)))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_ui.clear();
        QPointer<frmDBRestore> w = Open(c.database);
        EnterPath(w, m_backup);
        ASSERT_EQ(Grid(w)->rowCount(), 1);
        if (!c.target.isEmpty())
            Grid(w)->item(0, 1)->setText(c.target);
        Button(w, "cmdRestore")->click();
        ASSERT_EQ(m_ui.texts(), QStringList({c.message}));
        EXPECT_EQ(m_ui.messages()[0].style, ov::MsgStyle::Exclamation);
        EXPECT_FALSE(QFile::exists(elsewhere));
        EXPECT_EQ(QDir(path(QStringLiteral("data"))).entryList({QStringLiteral("*.sqlite")}),
                  QStringList({QStringLiteral("crm.sqlite")}));
        EXPECT_TRUE(Button(w, "cmdRestore")->isEnabled());
        delete w;
    }
}

TEST_F(RestoreWindow, WithoutAListedFileNothingIsRestored)
{
    QPointer<frmDBRestore> w = Open();
    Edit(w, "txtPathFileName")->setText(path(QStringLiteral("bak/missing.dat")));
    m_ui.answer(ov::MsgAnswer::Yes);
    Button(w, "cmdRestore")->click();
    ASSERT_EQ(m_ui.messages().size(), 2);
    EXPECT_EQ(m_ui.messages()[1].text,
              QStringLiteral("恢复数据库失败，可能是访问服务器失败(比如密码不正确)，或者是备份文件不合法！"));
    EXPECT_EQ(m_ui.messages()[1].style, ov::MsgStyle::Exclamation);
    EXPECT_TRUE(Button(w, "cmdRestore")->isEnabled());
    EXPECT_FALSE(w.isNull());
    EXPECT_EQ(Rows(QStringLiteral("crm")), QStringList({"2:two", "3:three"}));
}

TEST_F(RestoreWindow, RestoreDatabaseReportsTheServersText)
{
    // Connection refused, a shorter target list, and success with a quoted name.
    EXPECT_FALSE(mdlOVSqlRestore::RestoreDatabase(QStringLiteral("127.0.0.1,1"), QStringLiteral("crm"),
                                                  QStringLiteral("sa"), QStringLiteral("pw"), m_backup, {},
                                                  {}, false, false)
                     .isEmpty());
    EXPECT_EQ(mdlOVSqlRestore::RestoreDatabase(m_server, QStringLiteral("crm"), QString(), QString(),
                                               m_backup, {QStringLiteral("crm")}, {}, true, true),
              QStringLiteral("Subscript out of range"));
    EXPECT_EQ(Rows(QStringLiteral("crm")), QStringList({"2:two", "3:three"}));
    EXPECT_EQ(mdlOVSqlRestore::RestoreDatabase(m_server, QStringLiteral("\"crm\""), QString(), QString(),
                                               m_backup, {}, {}, true, true),
              QString());
    EXPECT_EQ(Rows(QStringLiteral("crm")), QStringList({"1:one", "2:two"}));
    EXPECT_GE(m_ui.pumps(), 3);
}

TEST_F(RestoreWindow, PrepareGridSetsRowsColumnsAndHeaders)
{
    QTableWidget grid(5, 7);
    mdlOVSqlRestore::GridOptions options;
    options.rowSelection = false;
    mdlOVSqlRestore::PrepareGrid(&grid, 1, 0, 4, 3, options);
    EXPECT_EQ(grid.rowCount(), 3);
    EXPECT_EQ(grid.columnCount(), 3);
    EXPECT_FALSE(grid.horizontalHeader()->isHidden());
    EXPECT_TRUE(grid.verticalHeader()->isHidden());
    EXPECT_EQ(grid.selectionBehavior(), QAbstractItemView::SelectItems);
    mdlOVSqlRestore::PrepareGrid(&grid, 0, 1, 1, 1, options);
    EXPECT_EQ(grid.rowCount(), 1);
    EXPECT_EQ(grid.columnCount(), 0);
    EXPECT_TRUE(grid.horizontalHeader()->isHidden());
    EXPECT_FALSE(grid.verticalHeader()->isHidden());
}

// Escape closes the restore window, as it closes every other task window.
TEST_F(RestoreWindow, EscapeCloses)
{
    QPointer<frmDBRestore> w = Open();
    QTest::keyClick(w, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.isNull() || !w->isVisible(); }));
    delete w;
}

// A target path longer than its column shows whole in a tool tip, also
// after it was edited.
TEST_F(RestoreWindow, TargetPathShowsWholeInATooltip)
{
    frmDBRestore* w = Open();
    EnterPath(w, m_backup);
    ASSERT_EQ(Grid(w)->rowCount(), 1);
    QTableWidgetItem* target = Grid(w)->item(0, 1);
    EXPECT_EQ(target->toolTip(), target->text());
    const QString edited =
        QStringLiteral("/srv/数据/") + QString(200, QLatin1Char('x')) + QStringLiteral(".sqlite");
    target->setText(edited);
    EXPECT_EQ(target->toolTip(), edited);
}

// The window keeps its size and its controls theirs in every state: on
// opening, after a read whose error takes several lines, while a restore runs
// (its progress text below the tabs, over nothing) and after it failed. No
// text box is squeezed below the height it needs.
TEST_F(RestoreWindow, KeepsItsGeometryInEveryState)
{
    // A message box of the restore is where the state during a restore is
    // seen: the window shows the progress text until the failure is told.
    struct WatchingUi : ovtest::ScriptedUi
    {
        std::function<void()> onMessage;
        ov::MsgAnswer message(const QString& text, ov::MsgStyle style) override
        {
            if (onMessage)
                onMessage();
            return ScriptedUi::message(text, style);
        }
    } ui;
    QPointer<frmDBRestore> w = Open(QStringLiteral("crm"), false);
    auto* msg = w->findChild<QLabel*>(QStringLiteral("lblMsg"));
    auto* tabs = w->findChild<QTabWidget*>(QStringLiteral("tbMain"));
    const QSize opened = w->size();
    const auto expectLaidOut = [&](const char* state) {
        SCOPED_TRACE(state);
        w->layout()->activate();
        EXPECT_EQ(w->size(), opened);
        for (QLineEdit* e : w->findChildren<QLineEdit*>()) {
            if (!e->isVisibleTo(w) || e->parentWidget() == Grid(w)->viewport())
                continue;
            EXPECT_GE(e->height(), e->sizeHint().height()) << e->objectName().toStdString();
            EXPECT_TRUE(e->parentWidget()->rect().contains(e->geometry())) << e->objectName().toStdString();
        }
        if (msg->isVisible()) {
            EXPECT_GE(msg->height(), msg->sizeHint().height());
            EXPECT_FALSE(msg->geometry().intersects(tabs->geometry()));
            EXPECT_FALSE(msg->geometry().intersects(Button(w, "cmdRestore")->geometry()));
        }
    };
    expectLaidOut("opened");
    const QSize box = Edit(w, "txtPasswd")->size();

    // A read whose error wraps over several lines.
    const QString missing =
        path(QStringLiteral("bak/") + QString(60, QLatin1Char('x')) + QStringLiteral("/") +
             QString(60, QLatin1Char('y')) + QStringLiteral(".dat"));
    EnterPath(w, missing);
    ASSERT_TRUE(DateLabel(w).contains(missing)) << DateLabel(w).toStdString();
    expectLaidOut("after a failed read");
    EXPECT_EQ(Edit(w, "txtPasswd")->size(), box);

    // A restore that fails, with the progress text shown meanwhile.
    EnterPath(w, m_backup);
    ASSERT_EQ(Grid(w)->rowCount(), 1);
    bool sawProgress = false;
    ui.onMessage = [&] {
        if (!msg->isVisible())
            return;
        sawProgress = msg->text() == QStringLiteral("正在恢复数据库...");
        expectLaidOut("during the restore");
    };
    ui.answer(ov::MsgAnswer::Yes);
    Button(w, "cmdRestore")->click();
    ui.onMessage = nullptr;
    EXPECT_TRUE(sawProgress);
    ASSERT_EQ(ui.messages().size(), 2);
    EXPECT_TRUE(ui.messages()[1].text.startsWith(kFailed)) << ui.messages()[1].text.toStdString();
    expectLaidOut("after the failed restore");
    EXPECT_EQ(Edit(w, "txtPasswd")->size(), box);
    delete w;
}

// While the browse button reaches the server, the date label says so, not
// the error the last read left there; afterwards it shows that error again.
TEST_F(RestoreWindow, BrowsingSaysItConnectsInPlaceOfTheLastError)
{
    ovtest::SilentServer server;
    ASSERT_GT(server.port(), 0);
    ovtest::ShortLoginTimeouts shortened;
    QPointer<frmDBRestore> w =
        frmDBRestore::ShowMe(server.name(), QStringLiteral("crm"), false, QStringLiteral("sa"));
    ovtest::Activate(w);
    auto* date = w->findChild<QLabel*>(QStringLiteral("lblBackupDate"));
    const QString lastError = QStringLiteral("上一次读取的错误");
    date->setText(lastError);
    QStringList shown;
    ovtest::WaitWatch watch(w, server, [&] { shown.append(date->text()); });
    ovtest::NoDialog noBrowser;
    QTest::mouseClick(Button(w, "cmdBrowse"), Qt::LeftButton);
    ASSERT_FALSE(shown.isEmpty());
    for (const QString& text : shown)
        EXPECT_TRUE(text.startsWith(QStringLiteral("正在连接服务器"))) << text.toStdString();
    EXPECT_EQ(date->text(), lastError);
    delete w;
}

// The force box sits on the product's background, as every caption of the
// window does, not on Qt's grey.
TEST_F(RestoreWindow, TheForceBoxSitsOnTheProductBackground)
{
    frmDBRestore* w = Open();
    w->findChild<QTabWidget*>(QStringLiteral("tbMain"))->setCurrentIndex(1);
    auto* box = w->findChild<QCheckBox*>(QStringLiteral("chkReplace"));
    ASSERT_TRUE(ovtest::WaitUntil([&] { return box->isVisible(); }));
    const QImage image = w->grab().toImage();
    const qreal scale = image.devicePixelRatio();
    const QColor product(227, 223, 214);
    // Beside the indicator above and below it, and right of the caption.
    for (const QPoint& at :
         {QPoint(box->width() - 2, 1), QPoint(box->width() - 2, box->height() - 2), QPoint(1, 1)}) {
        const QPoint p = box->mapTo(w, at) * scale;
        EXPECT_EQ(image.pixelColor(p).name().toStdString(), product.name().toStdString())
            << at.x() << "," << at.y();
    }
}

} // namespace
