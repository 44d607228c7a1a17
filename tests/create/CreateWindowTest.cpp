// The creation window on the embedded engine, driven with QTest under the
// offscreen platform.

#include "CreateTestSupport.h"
#include "create/frmDBCreate.h"
#include "support/FileWatch.h"
#include "support/SilentServer.h"
#include "support/Windows.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

using ovtest::Child;

namespace {

class CreateWindow : public ovtest::CreateFixture
{
protected:
    void TearDown() override { ovtest::DeleteTopLevels<frmDBCreate>(); }
    frmDBCreate* open(bool trusted, const QString& database = QString())
    {
        frmDBCreate* w = frmDBCreate::ShowMe(m_server, database, trusted, QStringLiteral("sa"));
        QApplication::setActiveWindow(w);
        return w;
    }
    static void click(QWidget* w, const char* button)
    {
        QTest::mouseClick(Child<QPushButton>(w, button), Qt::LeftButton);
    }

    // What the window showed each time the creation let events run.
    struct Snapshot
    {
        QString tip;
        int value;
        int maximum;
        bool enabled;
    };
    void watch(QWidget* w)
    {
        QPointer<QWidget> window = w;
        m_ui.onPump = [this, window] {
            if (!window)
                return;
            const auto* bar = Child<QProgressBar>(window, "prgProgress");
            m_snapshots.append(
                {Child<QLabel>(window, "lblTip")->text(), bar->value(), bar->maximum(), window->isEnabled()});
        };
    }
    QStringList tips() const
    {
        QStringList out;
        for (const Snapshot& s : m_snapshots) {
            if (out.isEmpty() || out.last() != s.tip)
                out.append(s.tip);
        }
        return out;
    }

    QList<Snapshot> m_snapshots;
};

TEST_F(CreateWindow, ANameOfSpacesIsAskedFor)
{
    frmDBCreate* w = open(true, QStringLiteral("   "));
    for (const char* button : {"cmdCreateBlank", "cmdCreateDemo"}) {
        m_ui.clear();
        Child<QLineEdit>(w, "txtServer")->setFocus();
        click(w, button);
        EXPECT_EQ(m_ui.texts(), QStringList({"请指定将创建的数据库数据库名称！"}));
        EXPECT_EQ(m_ui.messages()[0].style, ov::MsgStyle::Information);
        EXPECT_EQ(QApplication::focusWidget(), Child<QWidget>(w, "txtDB"));
        EXPECT_TRUE(w->isEnabled());
        EXPECT_TRUE(w->isVisible());
    }
    EXPECT_TRUE(QDir(path(QStringLiteral("data"))).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(mdlOVSqlServer::ConfigFilePath()));
}

// A creation from either button: the window is disabled while it runs and
// refuses to close, its label and bar follow the steps, and after success the
// five values and CreateDBResult "1" are written and the window closes.
TEST_F(CreateWindow, CreatesWritesTheSettingsAndCloses)
{
    const struct
    {
        const char* button;
        const char* database;
        int users;
    } cases[] = {{"cmdCreateBlank", "crm", 1}, {"cmdCreateDemo", "demo", 9}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        m_ui.clear();
        m_snapshots.clear();
        QFile::remove(mdlOVSqlServer::ConfigFilePath());
        QPointer<frmDBCreate> w = open(false, QStringLiteral(" ") + QLatin1String(c.database));
        Child<QLineEdit>(w, "txtPasswd")->setText(QStringLiteral(" pw "));
        watch(w);
        bool closeRefused = false;
        m_ui.onPump = [this, w, &closeRefused, pump = m_ui.onPump] {
            pump();
            if (m_snapshots.size() == 1) {
                w->close();
                closeRefused = !w.isNull() && w->isVisible();
            }
        };
        ovtest::FileWatch config(QFileInfo(mdlOVSqlServer::ConfigFilePath()).path(),
                                 QStringLiteral("OrvaneSqlConfig.ini"));
        click(w, c.button);
        m_ui.onPump = nullptr;

        EXPECT_EQ(m_ui.texts(), QStringList({"创建数据库成功！"}));
        EXPECT_TRUE(closeRefused);
        EXPECT_TRUE(ovtest::WaitUntil([&] { return w.isNull(); }));
        const QString db = QLatin1String(c.database);
        EXPECT_EQ(version(db), shippedVersions().last());
        EXPECT_EQ(rows(db, QStringLiteral("SELECT COUNT(*) FROM tblUser")),
                  QStringList({QString::number(c.users)}));
        const ConnectionSettings stored = mdlOVSqlServer::ReadMainSettings();
        EXPECT_EQ(stored.server, m_server);
        EXPECT_EQ(stored.database, db);
        EXPECT_FALSE(stored.trusted);
        EXPECT_EQ(stored.user, QStringLiteral("sa"));
        EXPECT_EQ(stored.password, QStringLiteral(" pw "));
        EXPECT_EQ(mainValue(QStringLiteral("CreateDBResult")), QStringLiteral("1"));
        // The five values and the result reach the file in one replacement:
        // a crash leaves the old file or the new one, never the new database
        // named beside the old result.
        EXPECT_EQ(config.count(), 1);

        ASSERT_FALSE(m_snapshots.isEmpty());
        for (const Snapshot& s : std::as_const(m_snapshots))
            EXPECT_FALSE(s.enabled);
        // The label in order: the schema script, the import, the update.
        const QStringList shown = tips();
        qsizetype at = -1;
        for (const QString& text : {QStringLiteral("正在创建系统变量表..."),
                                    QStringLiteral("向数据库 %1 中导入数据，请等待...").arg(db),
                                    QStringLiteral("正在导入 tblVarible"), QStringLiteral("完成数据导入"),
                                    QStringLiteral("正在升级到 1.1：客户公司增加省份和客户等级...")}) {
            const qsizetype next = shown.indexOf(text, at + 1);
            EXPECT_GT(next, at) << text.toStdString();
            at = next;
        }
        // The bar counts the script's bytes, then the tables, then bytes again.
        QList<int> maxima;
        for (const Snapshot& s : std::as_const(m_snapshots)) {
            if (maxima.isEmpty() || maxima.last() != s.maximum)
                maxima.append(s.maximum);
        }
        EXPECT_EQ(maxima, QList<int>({int(QFileInfo(path(QStringLiteral("OVScriptEmpty.txt"))).size()),
                                      c.users == 1 ? 2 : 5,
                                      int(QFileInfo(path(QStringLiteral("OVScriptUpdate.txt"))).size())}));
    }
}

// Declining the overwrite question gives the window back, enabled and open,
// with nothing written; agreeing replaces the database.
TEST_F(CreateWindow, OverwriteDeclinedKeepsTheWindowAcceptedReplaces)
{
    ASSERT_TRUE(QFile(path(QStringLiteral("data/Crm.sqlite"))).open(QIODevice::WriteOnly));
    exec(QStringLiteral("Crm"), QStringLiteral("CREATE TABLE kept (id INT)"));
    QPointer<frmDBCreate> w = open(true, QStringLiteral("crm"));

    m_ui.answer(ov::MsgAnswer::No);
    click(w, "cmdCreateDemo");
    EXPECT_EQ(m_ui.texts(), QStringList({"数据库 [crm] 已经存在,是否要将它覆盖？"}));
    ASSERT_FALSE(w.isNull());
    EXPECT_TRUE(w->isEnabled());
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(QFileInfo::exists(mdlOVSqlServer::ConfigFilePath()));
    EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT COUNT(*) FROM kept")), QStringList({"0"}));

    m_ui.clear();
    m_ui.answer(ov::MsgAnswer::Yes);
    click(w, "cmdCreateDemo");
    EXPECT_EQ(m_ui.texts(), QStringList({"数据库 [crm] 已经存在,是否要将它覆盖？", "创建数据库成功！"}));
    EXPECT_TRUE(ovtest::WaitUntil([&] { return w.isNull(); }));
    EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT COUNT(*) FROM kept")),
              QStringList({"(fails)"}));
    EXPECT_GE(rows(QStringLiteral("crm"), QStringLiteral("SELECT COUNT(*) FROM tblContact")).value(0).toInt(),
              300);
    EXPECT_EQ(mainValue(QStringLiteral("CreateDBResult")), QStringLiteral("1"));
    EXPECT_EQ(mainValue(QStringLiteral("DBName")), QStringLiteral("crm"));
}

// A creation that fails after the database was made (here the update script
// is missing) writes nothing and gives the window back.
TEST_F(CreateWindow, AFailedCreationWritesNothing)
{
    ASSERT_TRUE(QFile::remove(path(QStringLiteral("OVScriptUpdate.txt"))));
    QPointer<frmDBCreate> w = open(true, QStringLiteral("crm"));
    click(w, "cmdCreateBlank");
    ASSERT_EQ(m_ui.messages().size(), 1);
    EXPECT_TRUE(m_ui.texts()[0].startsWith(QStringLiteral("文件 ")));
    ASSERT_FALSE(w.isNull());
    EXPECT_TRUE(w->isEnabled());
    EXPECT_FALSE(QFileInfo::exists(mdlOVSqlServer::ConfigFilePath()));
}

} // namespace

namespace {

// A server that accepts the connection and never answers: the server check
// gives up on it after its time-out and the task says so at once, without a
// second wait; meanwhile the window keeps painting under the busy pointer,
// and a second click starts nothing.
TEST_F(CreateWindow, ASilentServerIsWaitedOnOnceWhileTheWindowPaints)
{
    ovtest::SilentServer server;
    ASSERT_GT(server.port(), 0);
    ovtest::ShortLoginTimeouts shortened;
    QPointer<frmDBCreate> w = frmDBCreate::ShowMe(server.name(), QStringLiteral("crm"), false, "sa");
    QApplication::setActiveWindow(w);
    Child<QLineEdit>(w, "txtPasswd")->setText(QStringLiteral("pw"));
    QStringList tipsWhileWaiting;
    ovtest::WaitWatch watch(w, server, [&] {
        tipsWhileWaiting.append(Child<QLabel>(w, "lblTip")->text());
        click(w, "cmdCreateDemo");
    });
    click(w, "cmdCreateBlank");

    ovtest::ExpectWaitedOnceWhilePainting(server, watch, w);
    ASSERT_EQ(m_ui.messages().size(), 1) << m_ui.texts().join('\n').toStdString();
    EXPECT_TRUE(m_ui.texts()[0].startsWith(QStringLiteral("创建数据库失败!\r\n")))
        << m_ui.texts()[0].toStdString();
    ASSERT_FALSE(tipsWhileWaiting.isEmpty());
    EXPECT_EQ(tipsWhileWaiting.constFirst(), QStringLiteral("正在连接服务器 %1...").arg(server.name()));
    EXPECT_FALSE(QFileInfo::exists(mdlOVSqlServer::ConfigFilePath()));
}

} // namespace
