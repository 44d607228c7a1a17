// The backup window on the embedded engine: its panel, the proposed file
// name, backups that succeed and fail, the modal variant and browsing.

#include "BackupTestSupport.h"
#include "backup/ServerFolder.h"
#include "backup/frmDBBackup.h"
#include "backup/mdlOVSqlBackup.h"
#include "common/UiPort.h"
#include "data/ConnectionString.h"
#include "support/ModalDialog.h"
#include "support/SilentServer.h"
#include "support/Windows.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

namespace {

class BackupWindow : public ovtest::BackupFixture
{
protected:
    static QLineEdit* Edit(QWidget* w, const char* name)
    {
        return w->findChild<QLineEdit*>(QLatin1String(name));
    }
    static QPushButton* Button(QWidget* w, const char* name)
    {
        return w->findChild<QPushButton*>(QLatin1String(name));
    }
    // True when path is a backup of the embedded engine holding database.
    bool IsBackupOf(const QString& pathFile, const QString& database)
    {
        QList<ov::BackupFileInfo> files;
        return m_admin->readBackupFileList(pathFile, files) && files.size() == 1 &&
               files[0].logicalName == database;
    }
};

// A server that accepts the connection and never answers, met by the backup
// and by the browse button (the folder browser): each knocks once, the
// window goes on painting under the busy pointer while it waits, clicks
// meanwhile start nothing, and the failure is told once; no browser opens and
// the window stays open for another try.
TEST_F(BackupWindow, ASilentServerIsWaitedOnOnceWhileTheWindowPaints)
{
    const struct
    {
        const char* button;
        const char* messageStart;
    } cases[] = {{"cmdBackup", "备份数据库失败！\r\n"}, {"cmdBrowse", "[FreeTDS]"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        m_ui.clear();
        ovtest::SilentServer server;
        ASSERT_GT(server.port(), 0);
        ovtest::ShortLoginTimeouts shortened;
        QPointer<frmDBBackup> w = frmDBBackup::ShowMe(server.name(), QStringLiteral("crm"), false,
                                                      QStringLiteral("sa"), QStringLiteral("pw"));
        ovtest::Activate(w);
        ovtest::WaitWatch watch(w, server, [&] { QTest::mouseClick(Button(w, c.button), Qt::LeftButton); });
        ovtest::NoDialog noBrowser;
        QTest::mouseClick(Button(w, c.button), Qt::LeftButton);

        ovtest::ExpectWaitedOnceWhilePainting(server, watch, w);
        ASSERT_EQ(m_ui.messages().size(), 1) << m_ui.texts().join('\n').toStdString();
        EXPECT_TRUE(m_ui.texts()[0].startsWith(QString::fromUtf8(c.messageStart)))
            << m_ui.texts()[0].toStdString();
        EXPECT_FALSE(QFileInfo::exists(mdlOVSqlServer::ConfigFilePath()));
        delete w;
    }
}

TEST_F(BackupWindow, PanelRulesAndCaption)
{
    for (const bool trusted : {true, false}) {
        SCOPED_TRACE(trusted);
        QPointer<frmDBBackup> w = frmDBBackup::ShowMe(m_server, QStringLiteral("crm"), trusted,
                                                      QStringLiteral("sa"), QStringLiteral(" pw "));
        ovtest::Activate(w);
        EXPECT_EQ(w->windowTitle(), QStringLiteral("Orvane客户资源管理系统 － 备份数据库"));
        EXPECT_EQ(Edit(w, "txtPasswd")->text(), QStringLiteral(" pw "));
        EXPECT_EQ(Edit(w, "txtUser")->isEnabled(), !trusted);
        EXPECT_EQ(Edit(w, "txtPasswd")->isEnabled(), !trusted);
        // The login labels stay enabled in this window.
        EXPECT_TRUE(w->findChild<QLabel*>(QStringLiteral("lblUserName"))->isEnabled());
        EXPECT_TRUE(w->findChild<QLabel*>(QStringLiteral("lblPasswd"))->isEnabled());
        EXPECT_TRUE(ovtest::WaitUntil([&] {
            return QApplication::focusWidget() ==
                   (trusted ? Edit(w, "txtPathFileName") : Edit(w, "txtPasswd"));
        })) << ovtest::FocusName();
        ovtest::ClickOption(
            w->findChild<QRadioButton*>(trusted ? QStringLiteral("optSql") : QStringLiteral("optTrust")));
        EXPECT_EQ(Edit(w, "txtPasswd")->isEnabled(), trusted);
        w->close();
        EXPECT_TRUE(ovtest::WaitUntil([&] { return w.isNull(); }));
    }
}

TEST_F(BackupWindow, ProposedNameKeepsTheFolderOfTheLastBackup)
{
    const struct
    {
        const char* server;
        const char* stored; // nullptr: no DEFAULTPATHFILE
        bool modal;
        const char* proposed; // "@" stands for the folder of the embedded server
    } cases[] = {
        {"DBHOST", "D:\\bak\\crm-200601011200.dat", false, "D:\\bak\\crm-202612041533.dat"},
        {"DBHOST", "D:\\bak\\crm-200601011200.dat", true, "D:\\bak\\crm-202612041533.dat"},
        {"DBHOST", nullptr, false, "C:\\crm-202612041533.dat"},
        {"DBHOST", nullptr, true, "crm-202612041533.dat"},
        {"DBHOST", "/var/opt/mssql/backup/old.dat", false, "/var/opt/mssql/backup/crm-202612041533.dat"},
        // The embedded server keeps its backups in its own folder by default.
        {"sqlite:@", nullptr, false, "@/crm-202612041533.dat"},
        {"sqlite:@", nullptr, true, "@/crm-202612041533.dat"},
        {"sqlite:data", "/srv/bak/old.dat", true, "/srv/bak/crm-202612041533.dat"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.proposed);
        QFile::remove(ConfigPath());
        if (c.stored) {
            ASSERT_TRUE(mdlOVSqlServer::WriteDefaultPathFile(QString::fromUtf8(c.stored)));
        }
        const QString server =
            QString::fromUtf8(c.server).replace(QLatin1Char('@'), path(QStringLiteral("data")));
        QString proposed;
        if (c.modal) {
            ovtest::NextDialog<frmDBBackup> backup([&proposed](frmDBBackup* w) {
                proposed = Edit(w, "txtPathFileName")->text();
                QTest::mouseClick(Button(w, "cmdCancel"), Qt::LeftButton);
            });
            // Cancelled: no backup made.
            EXPECT_FALSE(
                frmDBBackup::ShowMeWithWait(server, QStringLiteral("crm"), true, QString(), QString()));
        } else {
            frmDBBackup* w = frmDBBackup::ShowMe(server, QStringLiteral("crm"), true, QString(), QString());
            proposed = Edit(w, "txtPathFileName")->text();
            delete w;
        }
        EXPECT_EQ(proposed,
                  QString::fromUtf8(c.proposed).replace(QLatin1Char('@'), path(QStringLiteral("data"))));
    }
}

TEST_F(BackupWindow, BackupWritesTheFileStoresThePathAndCloses)
{
    MakeDatabase(QStringLiteral("crm"));
    QPointer<frmDBBackup> w =
        frmDBBackup::ShowMe(m_server, QStringLiteral("crm"), true, QString(), QString());
    const QString target = path(QStringLiteral("bak/crm-1.dat"));
    Edit(w, "txtPathFileName")->setText(QStringLiteral("  ") + target + QStringLiteral(" "));
    QTest::mouseClick(Button(w, "cmdBackup"), Qt::LeftButton);
    EXPECT_EQ(m_ui.texts(), QStringList({"备份数据库成功！"}));
    EXPECT_EQ(m_ui.messages()[0].style, ov::MsgStyle::Plain);
    EXPECT_TRUE(IsBackupOf(target, QStringLiteral("crm")));
    EXPECT_EQ(mdlOVSqlServer::ReadDefaultPathFile(), target);
    EXPECT_TRUE(ovtest::WaitUntil([&] { return w.isNull(); }));
    EXPECT_FALSE(m_ui.busy());
}

// A file that is already there is never replaced from the window: the failure
// message gives the reason, the file keeps its bytes and the window stays.
TEST_F(BackupWindow, ExistingFileIsNotReplaced)
{
    MakeDatabase(QStringLiteral("crm"));
    const QString target = path(QStringLiteral("bak/older.dat"));
    {
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("an older backup");
    }
    QPointer<frmDBBackup> w =
        frmDBBackup::ShowMe(m_server, QStringLiteral("crm"), true, QString(), QString());
    Edit(w, "txtPathFileName")->setText(target);
    QTest::mouseClick(Button(w, "cmdBackup"), Qt::LeftButton);
    ASSERT_EQ(m_ui.messages().size(), 1);
    const QString text = m_ui.messages()[0].text;
    EXPECT_TRUE(text.startsWith(QStringLiteral("备份数据库失败！\r\n3201\r\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("已经存在"))) << text.toStdString();
    EXPECT_FALSE(w.isNull());
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("an older backup"));
    EXPECT_EQ(QDir(path(QStringLiteral("bak"))).entryList(QDir::Files | QDir::Hidden),
              QStringList({QStringLiteral("older.dat")}));
    delete w;
}

// The window's own proposal never fails on a file of that name: one that is
// there at the opening is passed over at once, one that appears before the
// click is passed over then; the backup goes to the next free name and the
// older files keep their bytes.
TEST_F(BackupWindow, AProposalThatIsTakenGoesToAFreeName)
{
    MakeDatabase(QStringLiteral("crm"));
    ASSERT_TRUE(mdlOVSqlServer::WriteDefaultPathFile(path(QStringLiteral("bak/old.dat"))));
    const auto write = [](const QString& file) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("older");
    };
    write(path(QStringLiteral("bak/crm-202612041533.dat")));
    QPointer<frmDBBackup> w =
        frmDBBackup::ShowMe(m_server, QStringLiteral("crm"), true, QString(), QString());
    EXPECT_EQ(Edit(w, "txtPathFileName")->text(), path(QStringLiteral("bak/crm-202612041533-2.dat")));
    write(path(QStringLiteral("bak/crm-202612041533-2.dat")));
    QTest::mouseClick(Button(w, "cmdBackup"), Qt::LeftButton);
    EXPECT_EQ(m_ui.texts(), QStringList({"备份数据库成功！"}));
    const QString written = path(QStringLiteral("bak/crm-202612041533-3.dat"));
    EXPECT_TRUE(IsBackupOf(written, QStringLiteral("crm")));
    EXPECT_EQ(mdlOVSqlServer::ReadDefaultPathFile(), written);
    for (const char* older : {"bak/crm-202612041533.dat", "bak/crm-202612041533-2.dat"}) {
        QFile f(path(QLatin1String(older)));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), QByteArray("older")) << older;
    }
    EXPECT_TRUE(ovtest::WaitUntil([&] { return w.isNull(); }));
}

TEST_F(BackupWindow, FailedBackupKeepsTheWindowAndTheConfiguration)
{
    MakeDatabase(QStringLiteral("crm"));
    ASSERT_TRUE(mdlOVSqlServer::WriteDefaultPathFile(QStringLiteral("/kept/crm.dat")));
    const struct
    {
        const char* database;
        const char* path;
        const char* number;
    } cases[] = {
        {"crm", "no-such-folder/crm.dat", "3201"}, // a relative folder that is not there
        {"crm", "", "3201"},                       // the root "/" alone is no file
        {"nothing", "bak/x.dat", "4060"},          // no such database: the login fails
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        m_ui.clear();
        QPointer<frmDBBackup> w =
            frmDBBackup::ShowMe(m_server, QString::fromUtf8(c.database), true, QString(), QString());
        Edit(w, "txtPathFileName")->setText(*c.path ? path(QString::fromUtf8(c.path)) : QString());
        QTest::mouseClick(Button(w, "cmdBackup"), Qt::LeftButton);
        ASSERT_EQ(m_ui.messages().size(), 1);
        const QString text = m_ui.messages()[0].text;
        EXPECT_TRUE(text.startsWith(QStringLiteral("备份数据库失败！\r\n") + QLatin1String(c.number) +
                                    QStringLiteral("\r\n")))
            << text.toStdString();
        EXPECT_GT(text.size(), QStringLiteral("备份数据库失败！\r\n0000\r\n").size());
        EXPECT_FALSE(w.isNull());
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(mdlOVSqlServer::ReadDefaultPathFile(), QStringLiteral("/kept/crm.dat"));
        delete w;
    }
    EXPECT_TRUE(QDir(path(QStringLiteral("bak"))).isEmpty());
}

TEST_F(BackupWindow, ShowMeWithWaitTellsWhetherABackupWasMade)
{
    MakeDatabase(QStringLiteral("crm"));
    const QString target = path(QStringLiteral("bak/wait.dat"));
    {
        ovtest::NextDialog<frmDBBackup> backup([target](frmDBBackup* w) {
            Edit(w, "txtPathFileName")->setText(target);
            QTest::mouseClick(Button(w, "cmdBackup"), Qt::LeftButton);
        });
        EXPECT_TRUE(frmDBBackup::ShowMeWithWait(m_server, QStringLiteral("crm"), true, QString(), QString()));
    }
    EXPECT_TRUE(IsBackupOf(target, QStringLiteral("crm")));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // A failed backup and then the close box: no backup made.
    ovtest::NextDialog<frmDBBackup> backup([this](frmDBBackup* w) {
        Edit(w, "txtPathFileName")->setText(path(QStringLiteral("missing/x.dat")));
        QTest::mouseClick(Button(w, "cmdBackup"), Qt::LeftButton);
        EXPECT_TRUE(w->isVisible());
        w->close();
    });
    EXPECT_FALSE(frmDBBackup::ShowMeWithWait(m_server, QStringLiteral("crm"), true, QString(), QString()));
}

TEST_F(BackupWindow, BrowsePicksANewFileOnTheServer)
{
    QFile existing(path(QStringLiteral("bak/old.dat")));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    frmDBBackup* w = frmDBBackup::ShowMe(m_server, QStringLiteral("crm"), true, QString(), QString());
    Edit(w, "txtPathFileName")->setText(path(QStringLiteral("bak/new.dat")));
    QStringList listed;
    ovtest::NextDialog<frmSqlServerDirectory> browsing(
        [&listed](frmSqlServerDirectory* browser) {
            QTreeWidget* list = browser->findChild<QTreeWidget*>(QStringLiteral("lvwFolder"));
            for (int i = 0; i < list->topLevelItemCount(); ++i)
                listed << list->topLevelItem(i)->text(0);
            EXPECT_EQ(Edit(browser, "txtFile")->text(), QStringLiteral("new.dat"));
            Edit(browser, "txtFile")->setText(QStringLiteral("picked.dat"));
            QTest::mouseClick(Button(browser, "cmdOK"), Qt::LeftButton);
        },
        QStringLiteral("Select Backup Destination"));
    QTest::mouseClick(Button(w, "cmdBrowse"), Qt::LeftButton);
    EXPECT_EQ(listed, QStringList({"..", "old.dat"}));
    EXPECT_EQ(Edit(w, "txtPathFileName")->text(), path(QStringLiteral("bak/picked.dat")));
    EXPECT_TRUE(m_ui.messages().isEmpty());
}

// The name goes into the connection string and the statement quoted, so a
// name or path with quotes in it stays one value.
TEST_F(BackupWindow, NamesAndPathsWithQuotesStayValues)
{
    const struct
    {
        const char* database;
        bool trusted;
        const char* text;
    } cases[] = {
        {"crm", true,
         "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Initial Catalog=\"crm\";"
         "Data Source=DBHOST"},
        {"crm", false,
         "Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;Initial Catalog=\"crm\";Data "
         "Source=DBHOST"},
        {"\"my crm\"", true,
         "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Initial Catalog=\"my "
         "crm\";"
         "Data Source=DBHOST"},
        {"x\";Data Source=evil", true,
         "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;"
         "Initial Catalog=\"x\"\";Data Source=evil\";Data Source=DBHOST"},
        {"\"x\";Data Source=evil", true,
         "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;"
         "Initial Catalog=\"\"\"x\"\";Data Source=evil\";Data Source=DBHOST"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.database);
        const QString typed = QString::fromUtf8(c.database);
        const QString quoted = typed.startsWith(QLatin1Char('"'))
                                   ? typed
                                   : QLatin1Char('"') +
                                         QString(typed).replace(QLatin1String("\""), QLatin1String("\"\"")) +
                                         QLatin1Char('"');
        const QString text = mdlOVSqlBackup::BackupConnectionString(QStringLiteral("DBHOST"), quoted,
                                                                    c.trusted, QStringLiteral("sa"));
        EXPECT_EQ(text, QString::fromUtf8(c.text));
        ov::connstr::Pairs pairs;
        ASSERT_TRUE(ov::connstr::parseOleDb(text, pairs));
        EXPECT_EQ(ov::connstr::oleDbFind(pairs, QStringLiteral("Data Source")), QStringLiteral("DBHOST"));
        EXPECT_FALSE(text.contains(QStringLiteral("PASSWORD"), Qt::CaseInsensitive));
    }

    // On the embedded engine a database whose name holds a double quote is
    // backed up like any other.
    MakeDatabase(QStringLiteral("a\"b"));
    const QString target = path(QStringLiteral("bak/it's.dat"));
    EXPECT_TRUE(
        mdlOVSqlBackup::DoBackup(m_server, QStringLiteral("a\"b"), true, QString(), QString(), target));
    EXPECT_TRUE(IsBackupOf(target, QStringLiteral("a\"b")));
}

// A target without a folder goes to the server's default folder: the root of
// a SQL Server, the folder of an embedded server.
TEST_F(BackupWindow, TargetWithoutAFolderGoesToTheDefaultFolder)
{
    const struct
    {
        const char* server;
        const char* typed;
        const char* target;
    } cases[] = {
        {"DBHOST", "crm.dat", "C:\\crm.dat"},
        {"DBHOST", "", "C:\\"},
        {"DBHOST", "D:\\b\\crm.dat", "D:\\b\\crm.dat"},
        {"DBHOST", "/srv/crm.dat", "/srv/crm.dat"},
        {"sqlite:/srv/db", "crm.dat", "/srv/db/crm.dat"},
        {"sqlite:/srv/db/", "crm.dat", "/srv/db/crm.dat"},
        {"sqlite:/srv/db", "/bak/crm.dat", "/bak/crm.dat"},
    };
    for (const auto& c : cases) {
        const QString server = QString::fromUtf8(c.server);
        const QString typed = QString::fromUtf8(c.typed);
        const auto style = ServerFolder::GuessStyle(server, typed);
        EXPECT_EQ(mdlOVSqlBackup::BackupTarget(typed, ServerFolder::DefaultFolder(server, style), style),
                  QString::fromUtf8(c.target))
            << c.server << " " << c.typed;
    }
}

// The backup that an update asks for proposes a name in the embedded
// server's folder, and a name typed without a folder is backed up there.
TEST_F(BackupWindow, EmbeddedBackupsGoToTheServersFolder)
{
    MakeDatabase(QStringLiteral("crm"));
    const QString folder = path(QStringLiteral("data"));
    for (const char* typed : {"", "named.dat"}) {
        SCOPED_TRACE(typed);
        QFile::remove(ConfigPath());
        QString proposed;
        ovtest::NextDialog<frmDBBackup> backup([&proposed, typed](frmDBBackup* w) {
            proposed = Edit(w, "txtPathFileName")->text();
            if (*typed)
                Edit(w, "txtPathFileName")->setText(QString::fromUtf8(typed));
            QTest::mouseClick(Button(w, "cmdBackup"), Qt::LeftButton);
        });
        EXPECT_TRUE(frmDBBackup::ShowMeWithWait(m_server, QStringLiteral("crm"), true, QString(), QString()));
        EXPECT_EQ(proposed, folder + QStringLiteral("/crm-202612041533.dat"));
        const QString written = *typed ? folder + QStringLiteral("/named.dat") : proposed;
        EXPECT_TRUE(IsBackupOf(written, QStringLiteral("crm")));
        EXPECT_EQ(mdlOVSqlServer::ReadDefaultPathFile(), written);
        QFile::remove(written);
    }
}

} // namespace
