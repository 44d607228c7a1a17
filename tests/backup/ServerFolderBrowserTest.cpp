// The server folder browser, on a Windows-style server (a small server that
// answers listings from a table and records what it was asked) and on the
// embedded engine's POSIX paths.

#include "BackupTestSupport.h"
#include "backup/ServerFolder.h"
#include "backup/frmSqlServerDirectory.h"
#include "support/ModalDialog.h"

#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMap>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>

namespace {

// A Windows server whose folders are the table below. Folders it does not
// know fail as a listing the server refuses.
class TableServer : public ov::ServerAdmin
{
public:
    QString engine() const override { return QStringLiteral("table"); }
    bool probe() override { return true; }
    bool listDatabases(QStringList&) override { return false; }
    bool createDatabase(const QString&) override { return false; }
    bool dropDatabase(const QString&) override { return false; }
    bool bulkLoad(const QString&, const QString&, const QString&, const QString&, const QString&,
                  ov::BulkLoadResult*) override
    {
        return false;
    }
    bool backupDatabase(const QString&, const QString&, bool) override { return false; }
    bool backupFileExists(const QString&, bool&) override { return false; }
    bool readBackupFileList(const QString&, QList<ov::BackupFileInfo>&, int) override { return false; }
    bool readBackupHeader(const QString&, ov::BackupHeader&) override { return false; }
    bool restoreDatabase(const QString&, const QString&, const QList<QPair<QString, QString>>&, bool,
                         int) override
    {
        return false;
    }
    bool listFolder(ov::Connection&, const QString& folder, QList<ov::FolderEntry>& entries) override
    {
        asked.append(folder);
        entries.clear();
        if (!tree.contains(folder))
            return fail(3, QStringLiteral("The system cannot find the path specified."), QString());
        entries = tree.value(folder);
        return true;
    }
    ov::PathStyle pathStyle(ov::Connection&) override { return ov::PathStyle::Windows; }
    QString lockKey(const QString& database) const override { return database; }
    std::unique_ptr<ov::DatabaseLock> takeLock(const QString&) override { return nullptr; }

    QMap<QString, QList<ov::FolderEntry>> tree = {
        {QStringLiteral("C:\\"),
         {{QStringLiteral("Program Files"), true}, {QStringLiteral("boot.ini"), false}}},
        {QStringLiteral("D:\\"), {{QStringLiteral("bak"), true}, {QStringLiteral("x.dat"), false}}},
        {QStringLiteral("D:\\bak\\"),
         {{QStringLiteral("old"), true},
          {QStringLiteral("crm.dat"), false},
          {QStringLiteral("crm-2.dat"), false}}},
    };
    QStringList asked;
};

class ServerFolderBrowser : public ovtest::BackupFixture
{
protected:
    frmSqlServerDirectory* Open(ov::ServerAdmin& admin, const QString& path, const QString& file, bool backup,
                                ov::Connection* cn = nullptr)
    {
        auto* w = new frmSqlServerDirectory;
        w->Prepare(cn ? *cn : m_cn, admin, QString(), path, file, backup);
        ovtest::Activate(w);
        return w;
    }
    static QTreeWidget* List(frmSqlServerDirectory* w)
    {
        return w->findChild<QTreeWidget*>(QStringLiteral("lvwFolder"));
    }
    static QComboBox* Folder(frmSqlServerDirectory* w)
    {
        return w->findChild<QComboBox*>(QStringLiteral("cboFolder"));
    }
    static QLineEdit* File(frmSqlServerDirectory* w)
    {
        return w->findChild<QLineEdit*>(QStringLiteral("txtFile"));
    }
    static QStringList Entries(frmSqlServerDirectory* w)
    {
        QStringList out;
        for (int i = 0; i < List(w)->topLevelItemCount(); ++i)
            out << List(w)->topLevelItem(i)->text(0);
        return out;
    }
    static QTreeWidgetItem* Entry(frmSqlServerDirectory* w, const QString& name)
    {
        const auto found = List(w)->findItems(name, Qt::MatchExactly);
        return found.value(0);
    }
    static void DoubleClick(frmSqlServerDirectory* w, const QString& name)
    {
        QTreeWidgetItem* item = Entry(w, name);
        ASSERT_NE(item, nullptr) << name.toStdString();
        // The list view's own double-click: synthesized double-clicks of the
        // offscreen platform do not reliably reach a list rebuilt under them.
        emit List(w)->itemDoubleClicked(item, 0);
    }
    static QString Header(frmSqlServerDirectory* w) { return List(w)->headerItem()->text(0); }

    ov::Connection m_cn; // the table server needs no connection
    TableServer m_table;
};

TEST_F(ServerFolderBrowser, WindowsPathsMoveAsTheServerWritesThem)
{
    // No default folder: C:\.
    frmSqlServerDirectory* w = Open(m_table, QString(), QString(), true);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Select Backup Destination"));
    EXPECT_EQ(Header(w), QStringLiteral("C:\\"));
    EXPECT_EQ(Entries(w), QStringList({"..", "Program Files", "boot.ini"}));
    QStringList roots;
    for (int i = 0; i < Folder(w)->count(); ++i)
        roots << Folder(w)->itemText(i);
    EXPECT_EQ(roots, QStringList({"C:\\", "D:\\", "E:\\", "F:\\", "G:\\", "H:\\"}));

    // A folder without its separator is listed with it and joins the list
    // once: the list compares without case.
    w->ListFolder(QStringLiteral("D:\\bak"));
    EXPECT_EQ(Header(w), QStringLiteral("D:\\bak\\"));
    EXPECT_EQ(Folder(w)->currentText(), QStringLiteral("D:\\bak\\"));
    EXPECT_EQ(Entries(w), QStringList({"..", "old", "crm.dat", "crm-2.dat"}));
    EXPECT_EQ(Folder(w)->count(), 7);
    w->ListFolder(QStringLiteral("D:\\BAK\\"));
    EXPECT_EQ(Folder(w)->count(), 7);

    // A name without a drive keeps the browser where it is.
    Folder(w)->setEditText(QStringLiteral("bak"));
    QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("cmdBrowse")), Qt::LeftButton);
    EXPECT_EQ(Header(w), QStringLiteral("D:\\BAK\\"));

    // Clicking a folder only names it; double-clicking goes there.
    w->ListFolder(QStringLiteral("D:\\bak\\"));
    const QRect oldRect = List(w)->visualItemRect(Entry(w, QStringLiteral("old")));
    QTest::mouseClick(List(w)->viewport(), Qt::LeftButton, {}, oldRect.center());
    EXPECT_EQ(Folder(w)->currentText(), QStringLiteral("D:\\bak\\old"));
    EXPECT_EQ(Header(w), QStringLiteral("D:\\bak\\"));
    const QRect fileRect = List(w)->visualItemRect(Entry(w, QStringLiteral("crm.dat")));
    QTest::mouseClick(List(w)->viewport(), Qt::LeftButton, {}, fileRect.center());
    EXPECT_EQ(File(w)->text(), QStringLiteral("crm.dat"));

    // ".." goes up one folder, and stays at the drive.
    DoubleClick(w, QStringLiteral(".."));
    EXPECT_EQ(Header(w), QStringLiteral("D:\\"));
    DoubleClick(w, QStringLiteral(".."));
    EXPECT_EQ(Header(w), QStringLiteral("D:\\"));
    DoubleClick(w, QStringLiteral("bak"));
    EXPECT_EQ(Header(w), QStringLiteral("D:\\bak\\"));
    EXPECT_TRUE(m_ui.messages().isEmpty());
}

TEST_F(ServerFolderBrowser, PathRulesOfBothStyles)
{
    using ServerFolder::Style;
    const struct
    {
        Style style;
        const char* current;
        const char* asked;
        const char* result;
    } cases[] = {
        {Style::Windows, "D:\\bak\\", "", "D:\\bak\\"},
        {Style::Windows, "", "", "C:\\"},
        {Style::Windows, "D:\\bak\\", "E:\\a\\b\\..", "E:\\a\\"},
        {Style::Windows, "D:\\bak\\", "E:\\..\\", "E:\\"},
        {Style::Windows, "C:\\", "D:\\bak\\old\\..\\", "D:\\bak\\"},
        {Style::Windows, "D:\\bak\\", "/var/backups", "D:\\bak\\"},
        {Style::Posix, "/srv/bak/", "bak", "/srv/bak/"},
        {Style::Posix, "", "", "/"},
        {Style::Posix, "/srv/bak/", "/var/opt/mssql", "/var/opt/mssql/"},
        {Style::Posix, "/srv/bak/", "/srv/bak/../", "/srv/"},
        {Style::Posix, "/srv/", "/..", "/"},
        {Style::Posix, "/srv/", "C:\\bak", "/srv/"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ServerFolder::SetCurrentFolder(QString::fromUtf8(c.asked), QString::fromUtf8(c.current),
                                                 QString(), c.style),
                  QString::fromUtf8(c.result))
            << c.asked;
    }
}

TEST_F(ServerFolderBrowser, FileNameChecks)
{
    const QString chars =
        QStringLiteral("A filename cannot contain any of following characters: \\/:*?\"<>|");
    const struct
    {
        bool backup;
        const char* name;
        const char* message; // nullptr: accepted
        const char* path;
    } cases[] = {
        {true, "", "Please input file name!", nullptr},
        {true, "   ", "Please input file name!", nullptr},
        {true, "a\"b.dat", nullptr, nullptr},
        {true, "a<b.dat", nullptr, nullptr},
        {true, "a>b.dat", nullptr, nullptr},
        {true, "a\\b.dat", nullptr, nullptr},
        {true, "a:b.dat", nullptr, nullptr},
        {true, "a|b*?.dat", nullptr, nullptr},
        {true, "a/b.dat", nullptr, nullptr},
        {true, "CRM.DAT", "A file with the name you specified already exists.", nullptr},
        {true, "old", nullptr, "D:\\bak\\old"},
        {true, " new.dat ", nullptr, "D:\\bak\\new.dat"},
        {false, "missing.dat", "File Not Found!", nullptr},
        {false, "old", "File Not Found!", nullptr},
        {false, " Crm.dat", nullptr, "D:\\bak\\Crm.dat"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_ui.clear();
        QPointer<frmSqlServerDirectory> w = Open(m_table, QStringLiteral("D:\\bak\\"), QString(), c.backup);
        File(w)->setText(QString::fromUtf8(c.name));
        w->findChild<QPushButton*>(QStringLiteral("cmdOK"))->setFocus();
        QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
        if (c.path) {
            EXPECT_TRUE(m_ui.messages().isEmpty());
            EXPECT_TRUE(w->accepted());
            EXPECT_EQ(w->chosenPath(), QString::fromUtf8(c.path));
            EXPECT_FALSE(w->isVisible());
        } else {
            ASSERT_EQ(m_ui.messages().size(), 1);
            EXPECT_EQ(m_ui.messages()[0].text, c.message ? QString::fromUtf8(c.message) : chars);
            EXPECT_EQ(m_ui.messages()[0].style, ov::MsgStyle::Exclamation);
            EXPECT_FALSE(w->accepted());
            EXPECT_TRUE(w->isVisible());
            EXPECT_EQ(QApplication::focusWidget(), File(w));
        }
        delete w;
    }
}

TEST_F(ServerFolderBrowser, ShowMeReturnsTheAcceptedPathOrNothing)
{
    for (const bool accept : {true, false}) {
        ovtest::NextDialog<frmSqlServerDirectory> browser(
            [accept](frmSqlServerDirectory* w) {
                // The form styling passes the browser over: it keeps the
                // platform's font and colours.
                EXPECT_FALSE(w->testAttribute(Qt::WA_SetFont));
                EXPECT_FALSE(w->testAttribute(Qt::WA_SetPalette));
                if (!accept) {
                    w->close(); // the close box
                    return;
                }
                DoubleClick(w, QStringLiteral("crm-2.dat")); // a file: accepted as by OK
            },
            QStringLiteral("Select Restore Source"));
        const QString chosen = frmSqlServerDirectory::ShowMe(
            m_cn, m_table, QString(), QStringLiteral("D:\\bak\\"), QStringLiteral("crm.dat"), false);
        EXPECT_EQ(chosen, accept ? QStringLiteral("D:\\bak\\crm-2.dat") : QString());
    }
}

// The browser hands every folder to the server's listing, which alone knows
// whether it goes through a command shell (and refuses there what the shell
// would read as a command); a listing that fails leaves "..".
TEST_F(ServerFolderBrowser, RefusedAndFailedFoldersListOnlyTheParent)
{
    frmSqlServerDirectory* w = Open(m_table, QStringLiteral("D:\\"), QString(), true);
    for (const char* folder :
         {"C:\\\" & del C:\\*.* & \"", "C:\\a|b", "C:\\%TEMP%", "C:\\a^b", "C:\\x\r\ny"}) {
        m_table.asked.clear();
        w->ListFolder(QString::fromUtf8(folder));
        EXPECT_EQ(m_table.asked, QStringList({w->GetCurrentFolder()})) << folder;
        EXPECT_EQ(Entries(w), QStringList({".."})) << folder;
    }
    m_table.tree.insert(QStringLiteral("D:\\R&D\\"), {{QStringLiteral("crm.dat"), false}});
    w->ListFolder(QStringLiteral("D:\\R&D"));
    EXPECT_EQ(Entries(w), QStringList({"..", "crm.dat"}));
    m_table.asked.clear();
    w->ListFolder(QStringLiteral("E:\\"));
    EXPECT_EQ(m_table.asked, QStringList({"E:\\"}));
    EXPECT_EQ(Header(w), QStringLiteral("E:\\"));
    EXPECT_EQ(Entries(w), QStringList({".."}));
    EXPECT_TRUE(m_ui.messages().isEmpty());
}

// On the embedded engine the browser lists this machine's folders in POSIX
// style; names compare with case, as the file system does.
TEST_F(ServerFolderBrowser, PosixFoldersOfTheEmbeddedEngine)
{
    ov::Connection cn;
    ASSERT_TRUE(cn.Open(QStringLiteral("Data Source=%1;Initial Catalog=Tempdb").arg(m_server)));
    const QString bak = path(QStringLiteral("bak"));
    for (const char* name : {"b.dat", "a.dat"}) {
        QFile f(bak + QLatin1Char('/') + QLatin1String(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QDir(bak).mkdir(QStringLiteral("old")));
    ASSERT_TRUE(QDir(bak).mkdir(QStringLiteral("x & y")));

    frmSqlServerDirectory* w = Open(*m_admin, bak, QStringLiteral("a.dat"), false, &cn);
    EXPECT_EQ(w->pathStyle(), mdlCommon::PathStyle::Posix);
    EXPECT_EQ(Header(w), bak + QLatin1Char('/'));
    EXPECT_EQ(Entries(w), QStringList({"..", "old", "x & y", "a.dat", "b.dat"}));
    EXPECT_EQ(Folder(w)->itemText(0), QStringLiteral("/"));

    DoubleClick(w, QStringLiteral(".."));
    EXPECT_EQ(Header(w), m_dir.path() + QLatin1Char('/'));
    EXPECT_TRUE(Entries(w).contains(QStringLiteral("bak")));
    w->ListFolder(QStringLiteral("/.."));
    EXPECT_EQ(Header(w), QStringLiteral("/"));
    EXPECT_EQ(Entries(w).first(), QStringLiteral(".."));

    // No command shell lists this engine's folders: one holding "&", "%" or a
    // double quote is listed like any other, and a file picked there is found.
    for (const char* name : {"x & y", "R&D %x% \"q\""}) {
        const QString folder = bak + QLatin1Char('/') + QString::fromUtf8(name);
        ASSERT_TRUE(QDir().mkpath(folder));
        QFile f(folder + QStringLiteral("/crm.dat"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    w->ListFolder(bak + QStringLiteral("/x & y"));
    EXPECT_EQ(Entries(w), QStringList({"..", "crm.dat"}));
    w->ListFolder(bak + QStringLiteral("/R&D %x% \"q\""));
    EXPECT_EQ(Entries(w), QStringList({"..", "crm.dat"}));
    File(w)->setText(QStringLiteral("crm.dat"));
    QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
    EXPECT_TRUE(w->accepted());
    EXPECT_EQ(w->chosenPath(), bak + QStringLiteral("/R&D %x% \"q\"/crm.dat"));
    EXPECT_TRUE(m_ui.texts().isEmpty());
    delete w;
    w = Open(*m_admin, bak, QStringLiteral("a.dat"), false, &cn);

    // Restore mode: "A.DAT" is another file than "a.dat" here.
    w->ListFolder(bak);
    File(w)->setText(QStringLiteral("A.DAT"));
    QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
    EXPECT_EQ(m_ui.texts(), QStringList({"File Not Found!"}));
    File(w)->setText(QStringLiteral("a.dat"));
    QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
    EXPECT_TRUE(w->accepted());
    EXPECT_EQ(w->chosenPath(), bak + QStringLiteral("/a.dat"));
}

// Enter in the folder box goes to the folder typed there.
TEST_F(ServerFolderBrowser, EnterInTheFolderBoxGoesThere)
{
    ov::Connection cn;
    ASSERT_TRUE(cn.Open(QStringLiteral("Data Source=%1;Initial Catalog=Tempdb").arg(m_server)));
    const QString bak = path(QStringLiteral("bak"));
    ASSERT_TRUE(QDir(bak).mkpath(QStringLiteral("old")));
    frmSqlServerDirectory* w = Open(*m_admin, bak, QString(), false, &cn);
    ASSERT_NE(Folder(w)->lineEdit(), nullptr);
    Folder(w)->lineEdit()->setFocus();
    Folder(w)->lineEdit()->setText(bak + QStringLiteral("/old"));
    QTest::keyClick(Folder(w)->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(Header(w), bak + QStringLiteral("/old/"));
    EXPECT_TRUE(w->isVisible());
}

} // namespace

// On the embedded engine the browser opens in the server's own folder when
// the path holds no folder, and lists neither the engine's own hidden files
// (its task and use locks, the part files of unfinished writes and their
// journals) nor anything else of its making; other files are listed,
// hidden ones too.
TEST_F(ServerFolderBrowser, EmbeddedEngineStartsInItsFolderAndHidesItsOwnFiles)
{
    ASSERT_TRUE(m_admin->createDatabase(QStringLiteral("crm")));
    const QString folder = ov::ServerAdmin::localFolder(m_server);
    ASSERT_FALSE(folder.isEmpty());
    for (const char* name :
         {".crm.sqlite-task", ".crm.sqlite-use", ".crm.sqlite.Ab12Cd.part", ".crm.sqlite.Ab12Cd.part-journal",
          ".Crm 2.dat.x9Y8z7.part", ".profile", "crm.dat", ".x.part", "a-use"}) {
        QFile f(folder + QLatin1Char('/') + QLatin1String(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << name;
    }
    for (const QString& given : {QString(), QStringLiteral("crm.dat")}) {
        QString header;
        QStringList entries;
        ovtest::NextDialog<frmSqlServerDirectory> browser([&](frmSqlServerDirectory* w) {
            header = Header(w);
            entries = Entries(w);
            w->reject();
        });
        QString pathFile = given;
        ConnectionSettings s;
        s.server = m_server;
        EXPECT_TRUE(frmSqlServerDirectory::BrowseFrom(s, pathFile, true, nullptr));
        EXPECT_EQ(header, folder + QLatin1Char('/')) << given.toStdString();
        EXPECT_EQ(entries, QStringList({"..", ".profile", ".x.part", "a-use", "crm.dat", "crm.sqlite"}))
            << given.toStdString();
        EXPECT_EQ(pathFile, given);
    }
}
