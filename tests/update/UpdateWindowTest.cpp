// The update window on the embedded engine, driven with QTest under the
// offscreen platform: the backup window first (modal), the confirmation, the
// run, and what is written afterwards.

#include "backup/frmDBBackup.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "create/CreateTestSupport.h"
#include "support/FileWatch.h"
#include "support/ModalDialog.h"
#include "support/Windows.h"
#include "update/UpdateLog.h"
#include "update/UpdateScript.h"
#include "update/frmDBUpdate.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <optional>

using ovtest::Child;

namespace {

const QString kConfirm = QStringLiteral("备份数据库成功，请按“确定”以开始升级数据库。");

class UpdateWindow : public ovtest::CreateFixture
{
protected:
    void SetUp() override
    {
        ovtest::CreateFixture::SetUp();
        ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("bak")));
        makeBareDatabase(QStringLiteral("crm"));
    }
    void TearDown() override { ovtest::DeleteTopLevels<frmDBUpdate>(); }
    frmDBUpdate* open(bool trusted)
    {
        frmDBUpdate* w = frmDBUpdate::ShowMe(m_server, QStringLiteral("crm"), trusted, QStringLiteral("sa"));
        QApplication::setActiveWindow(w);
        return w;
    }
    // The answer to the backup window that OK opens: a backup into bak/NAME,
    // or the close box when name is empty. The database the window offered
    // goes to database when it is given.
    std::function<void(frmDBBackup*)> backupInto(const QString& name, QString* database = nullptr)
    {
        return [this, name, database](frmDBBackup* backup) {
            if (database)
                *database = Child<QLineEdit>(backup, "txtDB")->text();
            if (name.isEmpty()) {
                backup->close();
                return;
            }
            Child<QLineEdit>(backup, "txtPathFileName")->setText(path(QStringLiteral("bak/") + name));
            QTest::mouseClick(Child<QPushButton>(backup, "cmdBackup"), Qt::LeftButton);
        };
    }
};

// A completed backup and a confirmed run: the database reaches the newest
// version, the five values and UpdateDBResult "1" are written, the window
// closes. While the run goes on, a second OK, Escape and a close request do
// nothing.
TEST_F(UpdateWindow, BackupConfirmAndRunWritesTheSettings)
{
    QPointer<frmDBUpdate> w = open(false);
    Child<QLineEdit>(w, "txtPasswd")->setText(QStringLiteral(" pw "));
    Child<QLineEdit>(w, "txtDB")->setText(QStringLiteral(" crm "));
    QString backedUp;
    ovtest::NextDialog<frmDBBackup> backup(backupInto(QStringLiteral("crm.dat"), &backedUp));
    m_ui.answer(ov::MsgAnswer::Ok);
    QStringList tips;
    bool stayed = true;
    m_ui.onPump = [&] {
        tips.append(Child<QLabel>(w, "lblTip")->text());
        if (tips.size() != 2)
            return;
        // Would a second run start, its backup window fails the test.
        ovtest::NoDialog noSecondRun;
        QTest::mouseClick(Child<QPushButton>(w, "cmdOK"), Qt::LeftButton);
        QTest::keyClick(w, Qt::Key_Escape);
        w->close();
        stayed = !w.isNull() && w->isVisible();
    };
    ovtest::FileWatch config(QFileInfo(mdlOVSqlServer::ConfigFilePath()).path(),
                             QStringLiteral("OrvaneSqlConfig.ini"));
    QTest::mouseClick(Child<QPushButton>(w, "cmdOK"), Qt::LeftButton);
    m_ui.onPump = nullptr;

    EXPECT_TRUE(backup.came());
    EXPECT_EQ(backedUp, QStringLiteral("crm"));
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("bak/crm.dat"))));
    EXPECT_EQ(m_ui.texts(), QStringList({"备份数据库成功！", kConfirm, "数据库升级成功！"}));
    EXPECT_EQ(m_ui.messages()[1].style, ov::MsgStyle::InformationOkCancel);
    EXPECT_EQ(m_ui.messages()[2].style, ov::MsgStyle::Information);
    EXPECT_TRUE(stayed);
    EXPECT_TRUE(ovtest::WaitUntil([&] { return w.isNull(); }));

    EXPECT_EQ(version(QStringLiteral("crm")), shippedVersions().last());
    EXPECT_EQ(appliedVersions(QStringLiteral("crm")), shippedVersions());
    EXPECT_TRUE(tips.contains(QStringLiteral("正在升级到 1.1：客户公司增加省份和客户等级...")));
    const ConnectionSettings stored = mdlOVSqlServer::ReadMainSettings();
    EXPECT_EQ(stored.server, m_server);
    EXPECT_EQ(stored.database, QStringLiteral("crm"));
    EXPECT_FALSE(stored.trusted);
    EXPECT_EQ(stored.user, QStringLiteral("sa"));
    EXPECT_EQ(stored.password, QStringLiteral(" pw "));
    EXPECT_EQ(mainValue(QStringLiteral("UpdateDBResult")), QStringLiteral("1"));
    // The backup's path is stored first; then the five values and the result
    // reach the file in one replacement: a crash leaves the old file or the
    // new one, never the new values beside the old result.
    EXPECT_EQ(config.count(), 2);
}

// Closing the backup window, or Cancel at the question: no run, nothing
// written, the window stays for another try.
// From the OK click to the end of the task the panel and the buttons are
// greyed, so the user sees that they do nothing (the backup window over the
// update window stays usable); the busy pointer shows while the script runs.
// After a task that did not complete they are usable again.
TEST_F(UpdateWindow, TheControlsAreGreyAndThePointerBusyWhileItRuns)
{
    const auto enabled = [](QWidget* w) {
        return QList<bool>(
            {Child<QLineEdit>(w, "txtDB")->isEnabled(), Child<QLineEdit>(w, "txtServer")->isEnabled(),
             Child<QPushButton>(w, "cmdOK")->isEnabled(), Child<QPushButton>(w, "cmdCancel")->isEnabled()});
    };
    const QList<bool> none = {false, false, false, false};
    const QList<bool> all = {true, true, true, true};
    for (const bool confirm : {false, true}) {
        SCOPED_TRACE(confirm);
        m_ui.clear();
        QPointer<frmDBUpdate> w = open(true);
        QList<bool> duringBackup;
        bool backupUsable = false;
        ovtest::NextDialog<frmDBBackup> backup([&](frmDBBackup* b) {
            duringBackup = enabled(w);
            backupUsable = b->isEnabled() && Child<QPushButton>(b, "cmdBackup")->isEnabled();
            backupInto(confirm ? QStringLiteral("crm.dat") : QStringLiteral("crm-no.dat"))(b);
        });
        m_ui.answer(confirm ? ov::MsgAnswer::Ok : ov::MsgAnswer::Cancel);
        QList<QList<bool>> duringRun;
        QList<bool> busy;
        m_ui.onPump = [&] {
            if (!w)
                return;
            duringRun.append(enabled(w));
            // The script runs between the confirmation and the success message.
            const QStringList said = m_ui.texts();
            if (said.contains(kConfirm) && !said.contains(QStringLiteral("数据库升级成功！")))
                busy.append(w->testAttribute(Qt::WA_SetCursor) && w->cursor().shape() == Qt::WaitCursor);
        };
        QTest::mouseClick(Child<QPushButton>(w, "cmdOK"), Qt::LeftButton);
        m_ui.onPump = nullptr;
        EXPECT_EQ(duringBackup, none);
        EXPECT_TRUE(backupUsable);
        if (confirm) {
            ASSERT_FALSE(duringRun.isEmpty());
            for (const QList<bool>& e : duringRun)
                EXPECT_EQ(e, none);
            ASSERT_FALSE(busy.isEmpty());
            EXPECT_FALSE(busy.contains(false));
            EXPECT_TRUE(ovtest::WaitUntil([&] { return w.isNull(); }));
        } else {
            ASSERT_FALSE(w.isNull());
            EXPECT_EQ(enabled(w), all);
            EXPECT_FALSE(w->testAttribute(Qt::WA_SetCursor));
            delete w;
        }
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
}

TEST_F(UpdateWindow, NoBackupOrNoConfirmationRunsNothing)
{
    const struct
    {
        const char* backupFile; // "": the backup window is closed
        bool asked;
    } cases[] = {{"", false}, {"crm.dat", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.backupFile);
        m_ui.clear();
        QPointer<frmDBUpdate> w = open(true);
        ovtest::NextDialog<frmDBBackup> backup(backupInto(QLatin1String(c.backupFile)));
        if (c.asked)
            m_ui.answer(ov::MsgAnswer::Cancel);
        QTest::mouseClick(Child<QPushButton>(w, "cmdOK"), Qt::LeftButton);
        EXPECT_EQ(m_ui.texts(), c.asked ? QStringList({"备份数据库成功！", kConfirm}) : QStringList());
        ASSERT_FALSE(w.isNull());
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(version(QStringLiteral("crm")), QStringLiteral("0"));
        EXPECT_EQ(logText(), QString());
        delete w;
    }
    // The backup itself records its file; the MAIN section stays untouched.
    EXPECT_EQ(mainValue(QStringLiteral("UpdateDBResult")), QStringLiteral("(none)"));
    EXPECT_EQ(mainValue(QStringLiteral("DBName")), QStringLiteral("(none)"));
}

// Two updates in one minute: the second backup window proposes the name of
// the first backup with "-2", since that file is there, and backs up into it;
// the first backup keeps its bytes.
TEST_F(UpdateWindow, ASecondBackupInTheSameMinuteGetsAFreeName)
{
    ASSERT_TRUE(mdlOVSqlServer::WriteDefaultPathFile(path(QStringLiteral("bak/old.dat"))));
    const QString first = path(QStringLiteral("bak/crm-202612100930.dat"));
    {
        QFile f(first);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("the first backup of this minute");
    }
    QPointer<frmDBUpdate> w = open(true);
    QString proposed;
    ovtest::NextDialog<frmDBBackup> backup([&proposed](frmDBBackup* b) {
        proposed = Child<QLineEdit>(b, "txtPathFileName")->text();
        QTest::mouseClick(Child<QPushButton>(b, "cmdBackup"), Qt::LeftButton);
        // A refused backup leaves the window open: closed here, the test
        // fails on its assertions instead of waiting.
        if (b->isVisible())
            b->close();
    });
    m_ui.answer(ov::MsgAnswer::Cancel);
    QTest::mouseClick(Child<QPushButton>(w, "cmdOK"), Qt::LeftButton);
    EXPECT_TRUE(backup.came());

    const QString second = path(QStringLiteral("bak/crm-202612100930-2.dat"));
    EXPECT_EQ(proposed, second);
    EXPECT_EQ(m_ui.texts(), QStringList({"备份数据库成功！", kConfirm}));
    EXPECT_TRUE(QFileInfo(second).size() > 0);
    QFile f(first);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("the first backup of this minute"));
    EXPECT_EQ(mdlOVSqlServer::ReadDefaultPathFile(), second);
    delete w;
}

// Failing statements do not fail the run: the update counts as done.
TEST_F(UpdateWindow, AScriptWithFailingStatementsStillSucceeds)
{
    writeLines(QStringLiteral("OVScriptUpdate.txt"),
               {"--<V:9.1>", "--<SHOW ERR>", "UPDATE no_such_table SET x = 1", "GO",
                "UPDATE tblVarible SET [VaribleValue] = '9.1' WHERE [Module] = 'DB' AND [VaribleName] = "
                "'Version'",
                "GO", "--</V:9.1>"});
    QPointer<frmDBUpdate> w = open(true);
    ovtest::NextDialog<frmDBBackup> backup(backupInto(QStringLiteral("crm.dat")));
    m_ui.answer(ov::MsgAnswer::Ok);
    QTest::mouseClick(Child<QPushButton>(w, "cmdOK"), Qt::LeftButton);
    EXPECT_EQ(m_ui.texts(), QStringList({"备份数据库成功！", kConfirm, "数据库升级成功！"}));
    EXPECT_TRUE(ovtest::WaitUntil([&] { return w.isNull(); }));
    EXPECT_EQ(version(QStringLiteral("crm")), QStringLiteral("9.1"));
    EXPECT_TRUE(logText().contains(QStringLiteral("no_such_table")));
    EXPECT_EQ(mainValue(QStringLiteral("UpdateDBResult")), QStringLiteral("1"));
    EXPECT_EQ(mainValue(QStringLiteral("DBIsTrustMode")), QStringLiteral("1"));
}

// A run that fails writes nothing and the window stays: the script is
// missing, or a transactional version block of it rolls back (here the table
// that block 1.2 makes exists already), which the runner tells the user.
TEST_F(UpdateWindow, AFailedRunWritesNothing)
{
    const struct
    {
        const char* what;
        std::function<void()> fault;
        QString message;
    } cases[] = {
        {"rolled-back version block",
         [this] { exec(QStringLiteral("crm"), QStringLiteral("CREATE TABLE tblOpportunity (x INT)")); },
         QStringLiteral("版本 1.2 的升级未能完成")},
        {"missing script", [this] { ASSERT_TRUE(QFile::remove(path(QStringLiteral("OVScriptUpdate.txt")))); },
         QStringLiteral("文件 %1 不存在！")
             .arg(mdlOVSqlUpdateDB::gstrAppPath + QStringLiteral("OVScriptUpdate.txt"))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_ui.clear();
        c.fault();
        QPointer<frmDBUpdate> w = open(true);
        ovtest::NextDialog<frmDBBackup> backup(backupInto(QStringLiteral("crm.dat")));
        m_ui.answer(ov::MsgAnswer::Ok);
        QTest::mouseClick(Child<QPushButton>(w, "cmdOK"), Qt::LeftButton);
        ASSERT_EQ(m_ui.messages().size(), 3);
        EXPECT_TRUE(m_ui.texts()[2].startsWith(c.message)) << m_ui.texts()[2].toStdString();
        ASSERT_FALSE(w.isNull());
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(mainValue(QStringLiteral("UpdateDBResult")), QStringLiteral("(none)"));
        EXPECT_EQ(mainValue(QStringLiteral("DBName")), QStringLiteral("(none)"));
        delete w;
        QFile::remove(path(QStringLiteral("bak/crm.dat")));
    }
}

// A run that completes is a success whatever the check after it finds: the
// success message, the settings and UpdateDBResult "1", the window closes.
// A real gap (a table of the database's version dropped by hand) follows as
// one further message naming it with its block and the log, which lists it;
// a statement the check cannot make (a new block indexes a customer's own
// table) or a check that cannot be made at all (OVScriptEmpty.txt missing)
// adds no message and claims nothing, and the log says what was not checked.
TEST_F(UpdateWindow, ACompletedRunSucceedsWhateverTheCheckFinds)
{
    const struct
    {
        const char* what;
        std::function<void()> setUp;
        QString further; // the message after the success, or none
        QString logged;  // what the log says of the check
        QString version;
    } cases[] = {
        {"a real gap",
         [this] {
             ASSERT_TRUE(mdlOVSqlUpdateDB::RunUpdateScript(
                 m_server, QStringLiteral("crm"), true, QString(), QString(),
                 path(QStringLiteral("OVScriptUpdate.txt")), m_status, m_progress));
             exec(QStringLiteral("crm"), QStringLiteral("DROP TABLE tblOpportunity"));
             m_ui.clear();
         },
         QStringLiteral("升级后的数据库结构检查未通过：数据库版本为 1.6，但缺少该版本应有的对象：\r\n\r\n"
                        "缺少表 tblOpportunity（版本 1.2）\r\n\r\n详细记录见日志文件 ") +
             mdlOVSqlUpdateDB::UpdateLogPath(),
         QStringLiteral("tblOpportunity"), QStringLiteral("1.6")},
        {"a new block indexes the customer's own table",
         [this] {
             exec(QStringLiteral("crm"), QStringLiteral("CREATE TABLE cust ([Id] INT, [Name] NVARCHAR(50))"));
             QFile f(QStringLiteral(OV_SOURCE_DIR "/dist/OVScriptUpdate.txt"));
             ASSERT_TRUE(f.open(QIODevice::ReadOnly));
             writeFile(QStringLiteral("OVScriptUpdate.txt"),
                       f.readAll() + "--<VT:1.7>\r\nCREATE INDEX IX_cust_Name ON cust ([Name])\r\nGO\r\n"
                                     "UPDATE tblVarible SET [VaribleValue] = '1.7' WHERE [Module] = 'DB' AND "
                                     "[VaribleName] = 'Version'\r\nGO\r\n--</V:1.7>\r\n");
         },
         QString(), QStringLiteral("CREATE INDEX IX_cust_Name ON cust ([Name])"), QStringLiteral("1.7")},
        {"OVScriptEmpty.txt missing",
         [this] { ASSERT_TRUE(QFile::remove(path(QStringLiteral("OVScriptEmpty.txt")))); }, QString(),
         QStringLiteral("OVScriptEmpty.txt"), QStringLiteral("1.6")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_ui.clear();
        ASSERT_TRUE(
            m_dir.copyDist({QStringLiteral("OVScriptEmpty.txt"), QStringLiteral("OVScriptUpdate.txt")}));
        QFile::remove(path(QStringLiteral("data/crm.sqlite")));
        QFile::remove(path(QStringLiteral("bak/crm.dat")));
        QFile::remove(mdlOVSqlUpdateDB::UpdateLogPath());
        QFile::remove(mdlOVSqlServer::ConfigFilePath());
        makeBareDatabase(QStringLiteral("crm"));
        c.setUp();
        QPointer<frmDBUpdate> w = open(true);
        ovtest::NextDialog<frmDBBackup> backup(backupInto(QStringLiteral("crm.dat")));
        m_ui.answer(ov::MsgAnswer::Ok);
        QTest::mouseClick(Child<QPushButton>(w, "cmdOK"), Qt::LeftButton);
        QStringList expected = {"备份数据库成功！", kConfirm, "数据库升级成功！"};
        if (!c.further.isEmpty())
            expected.append(c.further);
        QStringList texts = m_ui.texts();
        // The message ends with the way back, which its own test reads.
        if (texts.size() == 4)
            texts[3] = texts[3].section(QStringLiteral("\r\n可用 ovsqlcli check"), 0, 0);
        EXPECT_EQ(texts, expected);
        if (m_ui.messages().size() == 4) {
            EXPECT_EQ(m_ui.messages()[3].style, ov::MsgStyle::Exclamation);
        }
        EXPECT_TRUE(ovtest::WaitUntil([&] { return w.isNull(); }));
        EXPECT_EQ(mainValue(QStringLiteral("UpdateDBResult")), QStringLiteral("1"));
        EXPECT_EQ(version(QStringLiteral("crm")), c.version);
        const QString log = logText();
        const int check = log.lastIndexOf(QStringLiteral("##### "));
        ASSERT_GE(check, 0) << log.toStdString();
        EXPECT_TRUE(log.mid(check).contains(c.logged)) << log.mid(check).toStdString();
    }
}

} // namespace

// A database whose creation did not finish is refused before the backup is
// offered; one without a version is backed up and run over, every version
// block passed over, and the run fails: no success, nothing written, the
// window stays.
TEST_F(UpdateWindow, AnUnfinishedOrUnversionedDatabaseIsNeverCalledUpdated)
{
    const struct
    {
        const char* what;
        const char* fault;
        QStringList before; // the messages before the refusal
        QString refusal;
    } cases[] = {
        {"the mark of an unfinished creation",
         "INSERT INTO tblVarible VALUES ('DB', 'Creating', '01/02/2026 03:04:05', '')",
         {},
         QStringLiteral("数据库 [crm] 的创建没有完成")},
        {"no version row",
         "DELETE FROM tblVarible WHERE [Module] = 'DB'",
         {"备份数据库成功！", kConfirm},
         QStringLiteral("数据库 [crm] 没有版本号")},
        {"a blank version",
         "UPDATE tblVarible SET VaribleValue = '  ' WHERE [Module] = 'DB'",
         {"备份数据库成功！", kConfirm},
         QStringLiteral("数据库 [crm] 没有版本号")},
        {"a NULL version",
         "UPDATE tblVarible SET VaribleValue = NULL WHERE [Module] = 'DB'",
         {"备份数据库成功！", kConfirm},
         QStringLiteral("数据库 [crm] 没有版本号")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_ui.clear();
        ASSERT_TRUE(QFile::remove(path(QStringLiteral("data/crm.sqlite"))));
        makeBareDatabase(QStringLiteral("crm"));
        exec(QStringLiteral("crm"), QLatin1String(c.fault));
        const QStringList tables =
            rows(QStringLiteral("crm"), QStringLiteral("SELECT name FROM sqlite_master ORDER BY name"));
        QPointer<frmDBUpdate> w = open(true);
        std::optional<ovtest::NextDialog<frmDBBackup>> backup;
        std::optional<ovtest::NoDialog> noBackup;
        if (c.before.isEmpty()) {
            noBackup.emplace();
        } else {
            backup.emplace(backupInto(QStringLiteral("crm.dat")));
            m_ui.answer(ov::MsgAnswer::Ok);
        }
        QTest::mouseClick(Child<QPushButton>(w, "cmdOK"), Qt::LeftButton);
        ASSERT_EQ(m_ui.texts().size(), c.before.size() + 1)
            << m_ui.texts().join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(m_ui.texts().mid(0, c.before.size()), c.before);
        EXPECT_TRUE(m_ui.texts().last().startsWith(c.refusal)) << m_ui.texts().last().toStdString();
        EXPECT_FALSE(m_ui.texts().contains(QStringLiteral("数据库升级成功！")));
        ASSERT_FALSE(w.isNull());
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(mainValue(QStringLiteral("UpdateDBResult")), QStringLiteral("(none)"));
        EXPECT_EQ(mainValue(QStringLiteral("DBName")), QStringLiteral("(none)"));
        EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT name FROM sqlite_master ORDER BY name")),
                  tables);
        delete w;
        QFile::remove(path(QStringLiteral("bak/crm.dat")));
    }
}
