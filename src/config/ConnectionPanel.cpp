#include "config/ConnectionPanel.h"

#include "ui_ConnectionPanel.h"

#include <QEvent>

ConnectionPanel::ConnectionPanel(QWidget* parent) : QWidget(parent), m_ui(new Ui::ConnectionPanel)
{
    m_ui->setupUi(this);
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
    values.server = m_ui->txtServer->text().trimmed();
    values.database = m_ui->txtDB->text().trimmed();
    values.trusted = m_ui->optTrust->isChecked();
    values.user = m_ui->txtUser->text().trimmed();
    values.password = m_ui->txtPasswd->text();
    return values;
}

ConnectionSettings ConnectionPanel::ReadAllTrimmed() const
{
    ConnectionSettings values = ReadPanelValues();
    values.password = values.password.trimmed();
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
        host->installEventFilter(this);
    }
}

bool ConnectionPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_watchedWindow && event->type() == QEvent::WindowActivate)
        ApplyFocusRule();
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
