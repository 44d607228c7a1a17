#include "config/ConnectionPanel.h"

#include "common/mdlCommon.h"
#include "ui_ConnectionPanel.h"

#include <QApplication>
#include <QEvent>
#include <QProxyStyle>

namespace {

// The password box shows an asterisk for every character.
class AsteriskStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// Follows which window of the program is active, so an activation can tell
// whether it came from another window of the program (which was active up
// to that moment) or from another application (no window of ours was).
// Qt sends the new window its activation before the old one its
// deactivation, and this filter on the application sees both first.
class ActivationTracker : public QObject
{
public:
    static ActivationTracker& instance()
    {
        static auto* tracker = new ActivationTracker(qApp);
        return *tracker;
    }
    // The window of the program that was active when the latest activation
    // came; empty when none was.
    QWidget* activatedFrom() const { return m_from; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && w->isWindow()) {
            if (event->type() == QEvent::WindowActivate && w != m_current) {
                m_from = m_current;
                m_current = w;
            } else if (event->type() == QEvent::WindowDeactivate && w == m_current) {
                m_current = nullptr;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    explicit ActivationTracker(QObject* parent) : QObject(parent) { qApp->installEventFilter(this); }

    QPointer<QWidget> m_current;
    QPointer<QWidget> m_from;
};

} // namespace

ConnectionPanel::ConnectionPanel(QWidget* parent) : QWidget(parent), m_ui(new Ui::ConnectionPanel)
{
    ActivationTracker::instance();
    m_ui->setupUi(this);
    auto* asterisk = new AsteriskStyle;
    asterisk->setParent(m_ui->txtPasswd);
    m_ui->txtPasswd->setStyle(asterisk);
    connect(m_ui->optTrust, &QRadioButton::clicked, this, &ConnectionPanel::ApplyEnablingRule);
    connect(m_ui->optSql, &QRadioButton::clicked, this, &ConnectionPanel::ApplyEnablingRule);
    ApplyEnablingRule();
}

ConnectionPanel::~ConnectionPanel() = default;

void ConnectionPanel::setKind(Kind kind)
{
    m_kind = kind;
    const bool creates = kind == Kind::Create || kind == Kind::Convert;
    m_ui->lblDB->setText(creates ? QStringLiteral("将创建的数据库(&D)") : QStringLiteral("数据库(&D)"));
    ApplyEnablingRule();
}

void ConnectionPanel::Fill(const ConnectionSettings& values)
{
    m_ui->txtServer->setText(values.server);
    m_ui->txtDB->setText(values.database);
    m_ui->txtUser->setText(values.user);
    m_ui->txtPasswd->setText(values.password);
    if (values.trusted)
        m_ui->optTrust->setChecked(true);
    else
        m_ui->optSql->setChecked(true);
    ApplyEnablingRule();
}

ConnectionSettings ConnectionPanel::ReadPanelValues() const
{
    ConnectionSettings values;
    values.server = mdlCommon::TrimBlanks(m_ui->txtServer->text());
    values.database = mdlCommon::TrimBlanks(m_ui->txtDB->text());
    values.trusted = m_ui->optTrust->isChecked();
    values.user = mdlCommon::TrimBlanks(m_ui->txtUser->text());
    values.password = m_ui->txtPasswd->text();
    return values;
}

ConnectionSettings ConnectionPanel::ReadAllTrimmed() const
{
    ConnectionSettings values = ReadPanelValues();
    values.password = mdlCommon::TrimBlanks(values.password);
    return values;
}

void ConnectionPanel::ApplyEnablingRule()
{
    const bool sqlLogin = !m_ui->optTrust->isChecked();
    m_ui->txtUser->setEnabled(sqlLogin);
    m_ui->txtPasswd->setEnabled(sqlLogin);
    // Only the create and conversion windows dim the labels with the boxes.
    const bool labelsFollow = m_kind == Kind::Create || m_kind == Kind::Convert;
    m_ui->lblUserName->setEnabled(!labelsFollow || sqlLogin);
    m_ui->lblPasswd->setEnabled(!labelsFollow || sqlLogin);
}

void ConnectionPanel::setMainInput(QWidget* mainInput)
{
    m_mainInput = mainInput;
}

void ConnectionPanel::ApplyFocusRule()
{
    // A control that cannot take the focus (disabled, hidden) is passed over.
    QWidget* target = m_ui->optSql->isChecked() ? m_ui->txtPasswd : m_mainInput.data();
    if (target && target->isEnabled() && target->isVisible())
        target->setFocus(Qt::ActiveWindowFocusReason);
}

void ConnectionPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Watch the window that holds the panel for its activation.
    QWidget* host = window();
    if (host != m_watchedWindow) {
        if (m_watchedWindow)
            m_watchedWindow->removeEventFilter(this);
        m_watchedWindow = host;
        m_activated = false;
        host->installEventFilter(this);
    }
}

bool ConnectionPanel::eventFilter(QObject* watched, QEvent* event)
{
    // The rule runs when the window first becomes active and when the user
    // comes to it from another window of the program; coming back from
    // another application leaves the caret where the user left it.
    if (watched == m_watchedWindow && event->type() == QEvent::WindowActivate &&
        (!m_activated || ActivationTracker::instance().activatedFrom())) {
        m_activated = true;
        ApplyFocusRule();
    }
    return QWidget::eventFilter(watched, event);
}

QLineEdit* ConnectionPanel::txtServer() const
{
    return m_ui->txtServer;
}
QLineEdit* ConnectionPanel::txtDB() const
{
    return m_ui->txtDB;
}
QLineEdit* ConnectionPanel::txtUser() const
{
    return m_ui->txtUser;
}
QLineEdit* ConnectionPanel::txtPasswd() const
{
    return m_ui->txtPasswd;
}
QRadioButton* ConnectionPanel::optTrust() const
{
    return m_ui->optTrust;
}
QRadioButton* ConnectionPanel::optSql() const
{
    return m_ui->optSql;
}
QLabel* ConnectionPanel::lblDB() const
{
    return m_ui->lblDB;
}
QLabel* ConnectionPanel::lblUserName() const
{
    return m_ui->lblUserName;
}
QLabel* ConnectionPanel::lblPasswd() const
{
    return m_ui->lblPasswd;
}
