#include "ConvertTestSupport.h"

#include "common/QtUi.h"
#include "config/ConnectionPanel.h"
#include "config/clsIniFile.h"
#include "config/mdlOVSqlServer.h"
#include "config/mdlOVSqlServerAccess.h"
#include "convert/frmDBConvert.h"
#include "convert/mdlDBConvert.h"
#include "create/DataImport.h"
#include "jet/demo/DemoDatabase.h"
#include "support/ModalDialog.h"
#include "support/SilentServer.h"
#include "support/Windows.h"
#include "update/UpdateScript.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QTest>

using ovtest::Child;

namespace {

const QString kNotProduct = QStringLiteral("该数据库不是Orvane客户资源管理系统的数据库！\r\n数据库：");
const QString kTooOld = QStringLiteral(
    "单机版的数据库版本不正确， 请先安装最新的单机版程序，升级单机版数据库，然后再升级到网络版数据库！");
const QString kNoIni =
    QStringLiteral("未找到文件 ConvertDataTables.ini， 程序安装不完全！\r\n "
                   "请下载最新的网络版程序并安装， 如果仍然看到该提示，请联系技术支持人员");

class ConvertWindow : public ovtest::ConvertTest
{
protected:
    void TearDown() override { ovtest::DeleteTopLevels<frmDBConvert>(); }

    frmDBConvert* open(bool trusted = true)
    {
        frmDBConvert* w = frmDBConvert::ShowMe(m_server, QString(), trusted, QStringLiteral("sa"));
        QApplication::setActiveWindow(w);
        return w;
    }
    void writeIni(const QString& version)
    {
        writeText(QStringLiteral("ConvertDataTables.ini"),
                  "[MAIN]\r\nVERSION=" + version.toLatin1() + "\r\n");
    }
};

} // namespace

// Without ConvertDataTables.ini the file choice ends with the warning: no
// dialog opens.
TEST_F(ConvertWindow, BrowseWithoutTheIniFileWarnsAndOpensNoDialog)
{
    frmDBConvert* w = open();
    ovtest::NoDialog noDialog;
    QTest::mouseClick(Child<QPushButton>(w, "cmdBrowseDBAccess"), Qt::LeftButton);
    ASSERT_TRUE(ovtest::WaitUntil([&] { return !m_ui.texts().isEmpty(); }));
    EXPECT_EQ(m_ui.texts(), QStringList({kNoIni}));
    EXPECT_EQ(m_ui.messages().constFirst().style, ov::MsgStyle::Exclamation);
}

// The tip panel keeps its height when a one-line progress text replaces the
// four lines of tips: nothing below it moves while a conversion runs.
TEST_F(ConvertWindow, TipPanelKeepsItsHeightWhenTheProgressTextReplacesTheTips)
{
    frmDBConvert* w = open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    auto* tip = Child<QLabel>(w, "lblTip");
    const char* below[] = {"picTip", "fraDBAccess", "panel", "prgProgress", "cmdCreateBlank", "cmdCancel"};
    const auto geometries = [&] {
        QApplication::processEvents();
        w->layout()->activate();
        QStringList out;
        for (const char* name : below) {
            const QWidget* c = Child<QWidget>(w, name);
            const QRect r(c->mapTo(w, QPoint(0, 0)), c->size());
            out << QStringLiteral("%1 %2,%3 %4x%5")
                       .arg(QLatin1String(name))
                       .arg(r.x())
                       .arg(r.y())
                       .arg(r.width())
                       .arg(r.height());
        }
        return out;
    };
    const QStringList before = geometries();
    // The tips themselves are shown whole.
    EXPECT_GE(tip->height(), tip->heightForWidth(tip->width()));
    ov::QtStatusLabel status(tip);
    for (const QString& caption :
         {QStringLiteral("正在连接服务器 sqlite:data..."), QStringLiteral("完成数据导入"), QString()}) {
        status.setCaption(caption);
        EXPECT_EQ(geometries(), before) << caption.toStdString();
    }
}

// A server that accepts the connection and never answers: the conversion
// knocks once, the window goes on painting under the busy pointer with the
// waiting caption in its tip panel, clicks meanwhile start nothing, and the
// failure is told once; the window is usable again afterwards.
TEST_F(ConvertWindow, ASilentServerIsWaitedOnOnceWhileTheWindowPaints)
{
    ovtest::SilentServer server;
    ASSERT_GT(server.port(), 0);
    ovtest::ShortLoginTimeouts shortened;
    copyDist(QStringLiteral("ConvertDataTables.txt"));
    QPointer<frmDBConvert> w = frmDBConvert::ShowMe(server.name(), QString(), false, QStringLiteral("sa"));
    QApplication::setActiveWindow(w);
    Child<QLineEdit>(w, "txtDBAccess")->setText(path(QStringLiteral("a.cdb")));
    Child<QLineEdit>(w, "txtDB")->setText(QStringLiteral("crm"));
    Child<QLineEdit>(w, "txtPasswd")->setText(QStringLiteral("pw"));
    QStringList tipsWhileWaiting;
    ovtest::WaitWatch watch(w, server, [&] {
        tipsWhileWaiting.append(Child<QLabel>(w, "lblTip")->text());
        QTest::mouseClick(Child<QPushButton>(w, "cmdCreateBlank"), Qt::LeftButton);
    });
    QTest::mouseClick(Child<QPushButton>(w, "cmdCreateBlank"), Qt::LeftButton);

    ovtest::ExpectWaitedOnceWhilePainting(server, watch, w);
    EXPECT_EQ(m_ui.messages().size(), 1) << m_ui.texts().join('\n').toStdString();
    ASSERT_FALSE(tipsWhileWaiting.isEmpty());
    EXPECT_EQ(tipsWhileWaiting.constFirst(), QStringLiteral("正在连接服务器 %1...").arg(server.name()));
    EXPECT_FALSE(QFileInfo::exists(mdlOVSqlServer::ConfigFilePath()));
}

// The chosen file is checked: a product database whose version is not below
// the required one is taken; versions compare segment by segment as numbers.
TEST_F(ConvertWindow, TheChosenFileIsCheckedForProductAndVersion)
{
    const QString garbage = path(QStringLiteral("garbage.cdb"));
    writeText(QStringLiteral("garbage.cdb"), QByteArray(8192, 'x'));
    const struct
    {
        const char* required;
        const char* fileVersion; // "" for a file without the version row, "-" for no Jet file, "cancel"
        bool accepted;
        QString message; // "" for none; kNotProduct is followed by the path
    } cases[] = {
        {"9.0", "10.0", true, QString()},  {"9.0", "9.0", true, QString()},
        {"9.0", "8.5", false, kTooOld},    {"10.0", "9.5", false, kTooOld},
        {"1.0", "1.0.1", true, QString()}, {"1.0", "", false, kNotProduct},
        {"1.0", "-", false, kNotProduct},  {"1.0", "cancel", false, kNotProduct},
    };
    int n = 0;
    QString dialogFolder;
    for (const auto& c : cases) {
        m_ui.clear();
        writeIni(QLatin1String(c.required));
        QString file;
        if (QLatin1String(c.fileVersion) == QLatin1String("-"))
            file = garbage;
        else if (QLatin1String(c.fileVersion) != QLatin1String("cancel"))
            file = writeVersionedCdb(QStringLiteral("单机%1.cdb").arg(++n), QLatin1String(c.fileVersion));
        frmDBConvert* w = open();
        auto* box = Child<QLineEdit>(w, "txtDBAccess");
        box->setText(QStringLiteral("earlier.cdb"));
        ovtest::NextDialog<QFileDialog> dialog(ovtest::ChooseFile(file, &dialogFolder));
        QTest::mouseClick(Child<QPushButton>(w, "cmdBrowseDBAccess"), Qt::LeftButton);
        const std::string label = std::string(c.required) + " / " + c.fileVersion;
        EXPECT_EQ(box->text(), c.accepted ? file : QStringLiteral("earlier.cdb")) << label;
        const QString expected = c.message == kNotProduct ? kNotProduct + file : c.message;
        EXPECT_EQ(m_ui.texts(), expected.isEmpty() ? QStringList() : QStringList({expected})) << label;
        if (!expected.isEmpty()) {
            EXPECT_EQ(m_ui.messages().constFirst().style,
                      c.message == kTooOld ? ov::MsgStyle::Plain : ov::MsgStyle::Exclamation)
                << label;
        }
        delete w;
    }
    EXPECT_EQ(dialogFolder, QDir(path(QStringLiteral("user/Data"))).absolutePath());
}

// Starting without a file tells so and then runs the file choice (here it
// meets the missing ini file); starting without a database name tells so and
// puts the focus in the name box. A name of blanks is no name.
TEST_F(ConvertWindow, StartingNeedsAFileAndADatabaseName)
{
    frmDBConvert* w = open();
    QTest::mouseClick(Child<QPushButton>(w, "cmdCreateBlank"), Qt::LeftButton);
    EXPECT_EQ(m_ui.texts(), QStringList({QStringLiteral("请选择先要转换的单机版数据库!"), kNoIni}));
    EXPECT_EQ(m_ui.messages().constFirst().style, ov::MsgStyle::Information);

    m_ui.clear();
    Child<QLineEdit>(w, "txtDBAccess")->setText(QStringLiteral("a.cdb"));
    Child<QLineEdit>(w, "txtDB")->setText(QStringLiteral("   "));
    Child<QPushButton>(w, "cmdCreateBlank")->setFocus();
    QTest::mouseClick(Child<QPushButton>(w, "cmdCreateBlank"), Qt::LeftButton);
    EXPECT_EQ(m_ui.texts(), QStringList({QStringLiteral("请指定将创建的数据库数据库名称！")}));
    EXPECT_EQ(m_ui.messages().constFirst().style, ov::MsgStyle::Information);
    EXPECT_TRUE(ovtest::WaitUntil([&] { return QApplication::focusWidget() == Child<QWidget>(w, "txtDB"); }))
        << ovtest::FocusName();
    EXPECT_TRUE(w->isVisible());
}

// The window is disabled while the conversion runs and refuses the close
// requests that still reach a disabled window (its close box, a reject); it
// closes once the database was created and is usable again, inputs kept,
// when the creation failed.
TEST_F(ConvertWindow, IsDisabledWhileConvertingAndClosesOnlyAfterACreation)
{
    copyDist(QStringLiteral("ConvertDataTables.txt"));
    const QString file = writeVersionedCdb(QStringLiteral("a.cdb"), QStringLiteral("1.0"));
    for (const bool created : {false, true}) {
        QPointer<frmDBConvert> w = open();
        bool enabledDuring = true;
        bool closedDuring = true;
        w->setCreateStep([&](const ConnectionSettings&, const mdlOVSqlUpdateDB::CreateFill& fill,
                             ov::StatusLabel&, ov::ProgressBar&) {
            enabledDuring = w->isEnabled();
            const bool closed = w->close();
            w->reject();
            closedDuring = closed || !w->isVisible();
            return created && makeServerDatabase(QStringLiteral("new"), QString()) != nullptr && fill.fill();
        });
        Child<QLineEdit>(w, "txtDBAccess")->setText(file);
        Child<QLineEdit>(w, "txtDB")->setText(QStringLiteral("new"));
        QTest::mouseClick(Child<QPushButton>(w, "cmdCreateBlank"), Qt::LeftButton);
        EXPECT_FALSE(enabledDuring);
        EXPECT_FALSE(closedDuring);
        if (created) {
            EXPECT_TRUE(ovtest::WaitUntil([&] { return w.isNull(); }));
        } else {
            ASSERT_FALSE(w.isNull());
            EXPECT_TRUE(w->isEnabled());
            EXPECT_TRUE(w->isVisible());
            EXPECT_EQ(Child<QLineEdit>(w, "txtDBAccess")->text(), file);
            EXPECT_EQ(Child<QLineEdit>(w, "txtDB")->text(), QStringLiteral("new"));
            delete w;
        }
    }
}

// Without the table list nothing is created: the user is told to reinstall.
// A failed creation writes no settings. Once the creation succeeded the
// settings name the new database and CreateDBResult is "1", even when the
// transfer then met errors.
TEST_F(ConvertWindow, SettingsAreWrittenOnceTheCreationSucceeded)
{
    const QString file = writeVersionedCdb(QStringLiteral("a.cdb"), QStringLiteral("1.0"));
    const ConnectionSettings values{m_server, QStringLiteral("新库"), false, QStringLiteral("sa"),
                                    QStringLiteral(" pw ")};
    ovtest::RecordingStatus status;
    ovtest::RecordingProgress progress;
    int creations = 0;
    bool createResult = false;
    const mdlDBConvert::CreateStep create = [&](const ConnectionSettings& v,
                                                const mdlOVSqlUpdateDB::CreateFill& fill, ov::StatusLabel&,
                                                ov::ProgressBar&) {
        ++creations;
        EXPECT_EQ(v.password, QStringLiteral(" pw "));
        return createResult &&
               makeServerDatabase(v.database, QStringLiteral("CREATE TABLE tblVarible (X INT);")) !=
                   nullptr &&
               fill.fill();
    };
    const QString config = mdlOVSqlServer::ConfigFilePath();

    // The list reader tells which file it could not read, then the
    // conversion asks for a reinstallation.
    EXPECT_FALSE(mdlDBConvert::DoConvert(values, file, create, status, progress));
    ASSERT_EQ(m_ui.texts().size(), 2);
    EXPECT_TRUE(m_ui.texts().at(0).startsWith(mdlDBConvert::ConvertListPath() + QStringLiteral(", ")))
        << m_ui.texts().at(0);
    EXPECT_EQ(m_ui.messages().at(0).style, ov::MsgStyle::Information);
    EXPECT_EQ(m_ui.texts().at(1), QStringLiteral("请重新安装程序后再转换数据库。"));
    EXPECT_EQ(creations, 0);

    writeText(QStringLiteral("ConvertDataTables.txt"), "tblVarible\r\n");
    m_ui.clear();
    EXPECT_FALSE(mdlDBConvert::DoConvert(values, file, create, status, progress));
    EXPECT_EQ(creations, 1);
    EXPECT_TRUE(m_ui.texts().isEmpty());
    EXPECT_FALSE(QFile::exists(config));

    createResult = true;
    EXPECT_TRUE(mdlDBConvert::DoConvert(values, file, create, status, progress));
    // The server's tblVarible has a column the file lacks: reported, then done.
    ASSERT_EQ(m_ui.texts().size(), 2);
    EXPECT_TRUE(m_ui.texts().at(0).contains(QStringLiteral("错误编号:3265")));
    const ConnectionSettings stored = mdlOVSqlServer::ReadMainSettings();
    EXPECT_EQ(stored.server, m_server);
    EXPECT_EQ(stored.database, QStringLiteral("新库"));
    EXPECT_FALSE(stored.trusted);
    EXPECT_EQ(stored.user, QStringLiteral("sa"));
    clsIniFile ini;
    ini.setFileName(config);
    EXPECT_EQ(ini.ReadString(QStringLiteral("MAIN"), QStringLiteral("CreateDBResult"), QString(), 10),
              QStringLiteral("1"));
}

// The demo single-user file of the build converts through the window with
// the shipped files and the real creation procedure. An existing database of
// the chosen name is kept when the overwrite question is answered No: nothing
// is written and the window stays. Answered Yes, the conversion shows no
// message besides the question, the creation's and the completion: the file
// has every field of the newest schema. The new database holds every listed
// table with the file's rows on all its fields, the columns that the update
// script added included, is at the newest version of the update script, and
// the settings name it with CreateDBResult "1".
TEST_F(ConvertWindow, DemoFileConvertsThroughTheCreationProcedure)
{
    for (const char* name :
         {"ConvertDataTables.ini", "ConvertDataTables.txt", "OVScriptEmpty.txt", "OVScriptUpdate.txt"})
        copyDist(QLatin1String(name));
    const QString demo = path(QStringLiteral("Demo.cdb"));
    QString error;
    ASSERT_TRUE(jetdemo::WriteDemoDatabase(demo, &error)) << error;
    const QString database = QStringLiteral("OrvaneConvertDemo");
    makeServerDatabase(database, QStringLiteral("CREATE TABLE kept (id INT);"));
    const QString config = mdlOVSqlServer::ConfigFilePath();
    const QString question = QStringLiteral("数据库 [OrvaneConvertDemo] 已经存在,是否要将它覆盖？");

    QPointer<frmDBConvert> w = open(true);
    ovtest::NextDialog<QFileDialog> dialog(ovtest::ChooseFile(demo));
    QTest::mouseClick(Child<QPushButton>(w, "cmdBrowseDBAccess"), Qt::LeftButton);
    ASSERT_EQ(Child<QLineEdit>(w, "txtDBAccess")->text(), demo);
    ASSERT_TRUE(m_ui.texts().isEmpty()) << m_ui.texts().join(QLatin1Char('\n'));
    Child<QLineEdit>(w, "txtDB")->setText(database);

    m_ui.answer(ov::MsgAnswer::No);
    QTest::mouseClick(Child<QPushButton>(w, "cmdCreateBlank"), Qt::LeftButton);
    ASSERT_FALSE(w.isNull());
    EXPECT_TRUE(w->isEnabled());
    EXPECT_EQ(m_ui.texts(), QStringList({question}));
    EXPECT_FALSE(QFile::exists(config));
    {
        auto cn = mdlOVSqlServer::ConnectToDBFile(m_server, database, true, QString(), QString());
        ASSERT_TRUE(cn);
        EXPECT_EQ(rows(*cn, QStringLiteral("SELECT COUNT(*) FROM kept")), QStringList({QStringLiteral("0")}));
    }

    m_ui.clear();
    m_ui.answer(ov::MsgAnswer::Yes);
    QTest::mouseClick(Child<QPushButton>(w, "cmdCreateBlank"), Qt::LeftButton);
    EXPECT_TRUE(ovtest::WaitUntil([&] { return w.isNull(); }));
    EXPECT_EQ(m_ui.texts(), QStringList({question, QStringLiteral("创建数据库成功！"),
                                         QStringLiteral("单机版数据库升级为网络版数据库完成！")}));

    QStringList tables;
    ASSERT_TRUE(mdlOVSqlUpdateDB::ReadListFile(mdlDBConvert::ConvertListPath(), tables));
    ASSERT_GT(tables.size(), 1);
    auto cnFile = mdlOVSqlServer::ConnectToDBAccess(demo);
    auto cnServer = mdlOVSqlServer::ConnectToDBFile(m_server, database, true, QString(), QString());
    ASSERT_TRUE(cnFile && cnServer);
    EXPECT_EQ(rows(*cnServer, QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE name = 'kept'")),
              QStringList({QStringLiteral("0")}));
    for (int i = 1; i < tables.size(); ++i) {
        SCOPED_TRACE(tables[i].toStdString());
        const QStringList inFile = columnNames(*cnFile, tables[i]);
        const QStringList onServer = columnNames(*cnServer, tables[i]);
        QStringList shared;
        for (const QString& column : onServer) {
            if (inFile.contains(column, Qt::CaseInsensitive))
                shared.append(column);
        }
        EXPECT_EQ(shared, onServer);
        ASSERT_FALSE(shared.isEmpty());
        const QStringList fileRows = sortedRows(*cnFile, tables[i], shared);
        EXPECT_FALSE(fileRows.isEmpty());
        QStringList serverRows = sortedRows(*cnServer, tables[i], shared);
        // tblVarible holds the record of the version blocks besides.
        if (tables[i] == QLatin1String("tblVarible"))
            serverRows.removeIf([](const QString& row) { return row.contains(QStringLiteral("UpdateDB")); });
        EXPECT_EQ(serverRows, fileRows);
    }
    // The columns that the update script adds arrive with the file's values,
    // not what the script gives earlier rows.
    const struct
    {
        const char* table;
        const char* column;
        const char* key;
    } added[] = {{"tblCompany", "Province", "CompanyID"},  {"tblCompany", "CustomerLevel", "CompanyID"},
                 {"tblActivity", "DueDate", "ActivityID"}, {"tblActivity", "Priority", "ActivityID"},
                 {"tblUser", "Email", "UserID"},           {"tblUser", "LastLoginDate", "UserID"}};
    for (const auto& a : added) {
        SCOPED_TRACE(std::string(a.table) + "." + a.column);
        const QStringList columns = {QLatin1String(a.key), QLatin1String(a.column)};
        const QStringList fileValues = sortedRows(*cnFile, QLatin1String(a.table), columns);
        EXPECT_EQ(sortedRows(*cnServer, QLatin1String(a.table), columns), fileValues);
        QSet<QString> distinct;
        for (const QString& row : fileValues)
            distinct.insert(row.section(QLatin1Char('|'), 1));
        distinct.remove(QStringLiteral("<null>"));
        EXPECT_GT(distinct.size(), 1);
    }
    EXPECT_EQ(rows(*cnServer, QStringLiteral("SELECT VaribleValue FROM tblVarible WHERE [Module] = 'DB' AND "
                                             "VaribleName = 'Version'")),
              QStringList({ovtest::ShippedVersions().last()}));

    const ConnectionSettings stored = mdlOVSqlServer::ReadMainSettings();
    EXPECT_EQ(stored.server, m_server);
    EXPECT_EQ(stored.database, database);
    EXPECT_TRUE(stored.trusted);
    clsIniFile ini;
    ini.setFileName(config);
    EXPECT_EQ(ini.ReadString(QStringLiteral("MAIN"), QStringLiteral("CreateDBResult"), QString(), 10),
              QStringLiteral("1"));
}

// The window rendered offscreen for a person to look at:
//   ./test.sh -R ConvertWindow.RendersForAScreenshot
// writes build/screenshots/frmDBConvert.png.
TEST_F(ConvertWindow, RendersForAScreenshot)
{
    frmDBConvert* w = open(false);
    Child<QLineEdit>(w, "txtDBAccess")
        ->setText(QStringLiteral("/home/user/Documents/Orvane/Data/客户资料.cdb"));
    Child<QLineEdit>(w, "txtDB")->setText(QStringLiteral("OrvaneCrm"));
    const QFontMetrics metrics(Child<QLabel>(w, "lblTip")->font());
    for (const QChar c : QStringLiteral("转换数据库服务器"))
        EXPECT_TRUE(metrics.inFontUcs4(c.unicode())) << "no glyph for U+" << std::hex << c.unicode();
    const QImage image = w->grab().toImage();
    ASSERT_FALSE(image.isNull());
    const QString folder = QStringLiteral(OV_PROGRAM_DIR "/../screenshots");
    QDir().mkpath(folder);
    EXPECT_TRUE(image.save(folder + QStringLiteral("/frmDBConvert.png")));
}
