#include "create/frmDBCreate.h"

#include "common/QtUi.h"
#include "common/UiPort.h"
#include "common/mdlCommon.h"
#include "common/mdlOEMResource.h"
#include "common/mdlResAndColor.h"
#include "config/mdlOVSqlServer.h"
#include "create/CreateDatabase.h"
#include "ui_frmDBCreate.h"

#include <QLineEdit>

frmDBCreate* frmDBCreate::ShowMe(const QString& strServer, const QString& strDB, bool blnIsTrustMode,
                                 const QString& strUser)
{
    auto* window = new frmDBCreate;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->Fill(strServer, strDB, blnIsTrustMode, strUser);
    window->show();
    return window;
}

frmDBCreate::frmDBCreate(QWidget* parent) : TaskDialog(parent), m_ui(new Ui::frmDBCreate)
{
    m_ui->setupUi(this);
    m_ui->panel->setKind(ConnectionPanel::Kind::Create);
    m_ui->panel->setMainInput(m_ui->panel->txtDB());
    mdlResAndColor::ApplyFormStyle(this);
    setWindowTitle(mdlCommon::FormatTemplate(QStringLiteral("{1} － 创建数据库"),
                                             {mdlOEMResource::GetOEMProductName()}));

    mdlResAndColor::StyleTipPanel(m_ui->picTip, m_ui->lblTipHeader, m_ui->lblTip, 16, QColor(0, 0, 255));
    m_ui->lblTipHeader->setText(QStringLiteral("创建数据库"));
    m_ui->lblTip->setText(QStringLiteral("如果尚未安装 MS SQL Server，请先在服务器上安装\r\n"
                                         "1、选择服务器，和登录方式\r\n"
                                         "2、输入想创建的数据库名称\r\n"
                                         "3、点击<创建演示数据库> 或者 <创建空白数据库>"));

    connect(m_ui->cmdCreateDemo, &QPushButton::clicked, this,
            [this] { CreateClicked(mdlOVSqlUpdateDB::CreateDemo); });
    connect(m_ui->cmdCreateBlank, &QPushButton::clicked, this,
            [this] { CreateClicked(mdlOVSqlUpdateDB::CreateBlank); });
    connect(m_ui->cmdCancel, &QPushButton::clicked, this, &QDialog::close);
}

frmDBCreate::~frmDBCreate() = default;

void frmDBCreate::Fill(const QString& strServer, const QString& strDB, bool blnIsTrustMode,
                       const QString& strUser)
{
    m_ui->panel->Fill({strServer, strDB, blnIsTrustMode, strUser, QString()});
}

void frmDBCreate::CreateClicked(int mode)
{
    if (isRunning())
        return;
    if (m_ui->panel->txtDB()->text().trimmed().isEmpty()) {
        ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("请指定将创建的数据库数据库名称！")),
                   ov::MsgStyle::Information);
        m_ui->panel->txtDB()->setFocus();
        return;
    }
    // The creation lets pending events run once per script line and per
    // table; with the window disabled they cannot start a second creation.
    setEnabled(false);
    bool created = false;
    {
        Running running(this);
        created = CreateWithMode(mode);
    }
    if (created) {
        close();
        return;
    }
    setEnabled(true);
}

bool frmDBCreate::CreateWithMode(int mode)
{
    const ConnectionSettings v = m_ui->panel->ReadPanelValues();
    ov::QtStatusLabel status(m_ui->lblTip);
    ov::QtProgressBar progress(m_ui->prgProgress);
    if (!mdlOVSqlUpdateDB::CreateDatabase(v.server, v.database, v.trusted, v.user, v.password, mode, status,
                                          progress))
        return false;
    mdlOVSqlServer::WriteMainSettingsAndSuccess(v, mdlOVSqlServer::ResultKey::CreateDB);
    return true;
}
