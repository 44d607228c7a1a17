#include "config/ConnectionPanel.h"
#include "support/Windows.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

using Kind = ConnectionPanel::Kind;

ConnectionSettings Values(bool trusted)
{
    ConnectionSettings v;
    v.server = QStringLiteral("DBHOST");
    v.database = QStringLiteral("CrmProd");
    v.trusted = trusted;
    v.user = QStringLiteral("sa");
    return v;
}

// A window holding the panel and a main input, as every task window does.
struct Host
{
    explicit Host(Kind kind)
    {
        auto* layout = new QVBoxLayout(&window);
        panel = new ConnectionPanel(&window);
        panel->setKind(kind);
        mainInput = new QLineEdit(&window);
        mainInput->setObjectName(QStringLiteral("txtPathFileName"));
        layout->addWidget(panel);
        layout->addWidget(mainInput);
        panel->setMainInput(kind == Kind::Backup || kind == Kind::Restore ? mainInput : panel->txtDB());
    }
    QWidget window;
    ConnectionPanel* panel;
    QLineEdit* mainInput;
};

// Clicks an option button on its indicator: the middle of a wide button lies
// outside the part that takes clicks.
void ClickOption(QRadioButton* option)
{
    QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(6, option->height() / 2));
}

} // namespace

TEST(ConnectionPanel, ControlsAreFoundByTheirNames)
{
    Host host(Kind::Update);
    for (const char* name : {"txtServer", "lblTipServer", "txtDB", "optTrust", "optSql", "lblUserName",
                             "txtUser", "lblPasswd", "txtPasswd"})
        EXPECT_NE(host.window.findChild<QWidget*>(QLatin1String(name)), nullptr) << name;
    EXPECT_EQ(host.panel->txtPasswd()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(host.window.findChild<QLabel*>(QStringLiteral("lblTipServer"))->text(),
              QStringLiteral("如果是服务器就是本机，那么可以填写 127.0.0.1"));
}

TEST(ConnectionPanel, DatabaseLabelAndLabelEnablingByWindow)
{
    const struct
    {
        Kind kind;
        const char* dbLabel;
        bool labelsFollow;
    } cases[] = {
        {Kind::Create, "将创建的数据库(&D)", true}, {Kind::Convert, "将创建的数据库(&D)", true},
        {Kind::Update, "数据库(&D)", false},        {Kind::Backup, "数据库(&D)", false},
        {Kind::Restore, "数据库(&D)", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dbLabel);
        Host host(c.kind);
        EXPECT_EQ(host.panel->lblDB()->text(), QString::fromUtf8(c.dbLabel));

        host.panel->Fill(Values(true));
        EXPECT_TRUE(host.panel->optTrust()->isChecked());
        EXPECT_FALSE(host.panel->txtUser()->isEnabled());
        EXPECT_FALSE(host.panel->txtPasswd()->isEnabled());
        EXPECT_EQ(host.panel->lblUserName()->isEnabled(), !c.labelsFollow);
        EXPECT_EQ(host.panel->lblPasswd()->isEnabled(), !c.labelsFollow);

        host.window.show();
        ClickOption(host.panel->optSql());
        EXPECT_TRUE(host.panel->optSql()->isChecked());
        EXPECT_TRUE(host.panel->txtUser()->isEnabled());
        EXPECT_TRUE(host.panel->txtPasswd()->isEnabled());
        EXPECT_TRUE(host.panel->lblUserName()->isEnabled());
        EXPECT_TRUE(host.panel->lblPasswd()->isEnabled());
    }
}

TEST(ConnectionPanel, ReadingTrimsAllButThePassword)
{
    Host host(Kind::Create);
    host.panel->Fill(Values(false));
    host.panel->txtServer()->setText(QStringLiteral("  DBHOST "));
    host.panel->txtDB()->setText(QStringLiteral(" 新库 "));
    host.panel->txtUser()->setText(QStringLiteral(" sa "));
    host.panel->txtPasswd()->setText(QStringLiteral(" p w "));
    const ConnectionSettings v = host.panel->ReadPanelValues();
    EXPECT_EQ(v.server, QStringLiteral("DBHOST"));
    EXPECT_EQ(v.database, QStringLiteral("新库"));
    EXPECT_FALSE(v.trusted);
    EXPECT_EQ(v.user, QStringLiteral("sa"));
    EXPECT_EQ(v.password, QStringLiteral(" p w "));
    // The backup window trims the password as well.
    EXPECT_EQ(host.panel->ReadAllTrimmed().password, QStringLiteral("p w"));

    // Only spaces are trimmed: a tab or an ideographic space is part of the
    // value.
    host.panel->txtServer()->setText(QStringLiteral(" \tDBHOST\u3000 "));
    host.panel->txtDB()->setText(QStringLiteral("\u3000新库\t"));
    host.panel->txtUser()->setText(QStringLiteral("\tsa"));
    host.panel->txtPasswd()->setText(QStringLiteral(" \u3000pw\t "));
    const ConnectionSettings w = host.panel->ReadAllTrimmed();
    EXPECT_EQ(w.server, QStringLiteral("\tDBHOST\u3000"));
    EXPECT_EQ(w.database, QStringLiteral("\u3000新库\t"));
    EXPECT_EQ(w.user, QStringLiteral("\tsa"));
    EXPECT_EQ(w.password, QStringLiteral("\u3000pw\t"));
}

TEST(ConnectionPanel, SwitchingBackToTrustedKeepsTheTypedLogin)
{
    Host host(Kind::Update);
    host.panel->Fill(Values(false));
    host.window.show();
    host.panel->txtUser()->setText(QStringLiteral("admin"));
    host.panel->txtPasswd()->setText(QStringLiteral("secret"));
    ClickOption(host.panel->optTrust());
    EXPECT_FALSE(host.panel->txtUser()->isEnabled());
    const ConnectionSettings v = host.panel->ReadPanelValues();
    EXPECT_TRUE(v.trusted);
    EXPECT_EQ(v.user, QStringLiteral("admin"));
    EXPECT_EQ(v.password, QStringLiteral("secret"));
}

TEST(ConnectionPanel, FocusOnActivationFollowsTheLoginMode)
{
    for (const Kind kind : {Kind::Update, Kind::Backup}) {
        for (const bool trusted : {true, false}) {
            Host host(kind);
            host.panel->Fill(Values(trusted));
            host.window.show();
            QApplication::setActiveWindow(&host.window);
            ASSERT_TRUE(QTest::qWaitForWindowActive(&host.window));
            QWidget* expected = !trusted               ? host.panel->txtPasswd()
                                : kind == Kind::Backup ? static_cast<QWidget*>(host.mainInput)
                                                       : host.panel->txtDB();
            EXPECT_TRUE(ovtest::WaitUntil([&] { return QApplication::focusWidget() == expected; }))
                << ovtest::FocusName();
        }
    }
}

// The focus rule runs when the window is activated from another window of
// the program, not when the user comes back from another application: the
// caret stays where the user left it.
TEST(ConnectionPanel, FocusRuleRunsOnlyComingFromAnotherWindowOfTheProgram)
{
    Host host(Kind::Update);
    host.panel->Fill(Values(true));
    host.window.show();
    QApplication::setActiveWindow(&host.window);
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == host.panel->txtDB(); }));
    host.panel->txtServer()->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(host.panel->txtServer()));

    // Away to another application and back.
    QApplication::setActiveWindow(nullptr);
    QApplication::setActiveWindow(&host.window);
    EXPECT_EQ(QApplication::activeWindow(), &host.window);
    // Whatever the activation left to run runs before the caret is looked at.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget*>(host.panel->txtServer()));

    // Back from another window of the program (a dialog that closed).
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    QApplication::setActiveWindow(&host.window);
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == host.panel->txtDB(); }));
}

namespace {

// Every character of the password shows as an asterisk, Chinese and blanks
// too.
TEST(ConnectionPanelMask, PasswordShowsAnAsteriskPerCharacter)
{
    ConnectionPanel panel;
    for (const char* typed : {"pw", " 密 码 ", "a\"]';"}) {
        panel.txtPasswd()->setText(QString::fromUtf8(typed));
        EXPECT_EQ(panel.txtPasswd()->displayText(),
                  QString(QString::fromUtf8(typed).size(), QLatin1Char('*')))
            << typed;
        EXPECT_EQ(panel.ReadPanelValues().password, QString::fromUtf8(typed));
    }
}

} // namespace
