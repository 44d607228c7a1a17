#include "convert/frmDBConvert.h"

#include "common/QtUi.h"
#include "common/UiPort.h"
#include "common/mdlCommon.h"
#include "common/mdlCommonGui.h"
#include "common/mdlOEMResource.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "common/mdlResAndColor.h"
#include "ui_frmDBConvert.h"

#include <QDir>

frmDBConvert* frmDBConvert::ShowMe(const QString& strServer, const QString& strDB, bool blnIsTrustMode,
                                   const QString& strUser)
{
    auto* window = new frmDBConvert;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->Fill(strServer, strDB, blnIsTrustMode, strUser);
    window->show();
    return window;
}

frmDBConvert::frmDBConvert(QWidget* parent) : TaskDialog(parent), m_ui(new Ui::frmDBConvert)
{
    m_ui->setupUi(this);
    m_ui->panel->setKind(ConnectionPanel::Kind::Convert);
    m_ui->panel->setMainInput(m_ui->panel->txtDB());
    mdlResAndColor::ApplyFormStyle(this);
    setWindowTitle(
        mdlCommon::FormatTemplate(QStringLiteral("{1} － 数据转换"), {mdlOEMResource::GetOEMProductName()}));

    mdlResAndColor::StyleTipPanel(m_ui->picTip, m_ui->lblTipHeader, m_ui->lblTip, 16, QColor(0, 0, 255));
    m_ui->lblTipHeader->setText(QStringLiteral("数据转换"));
    m_ui->lblTip->setText(QStringLiteral("如果尚未安装 MS SQL Server，请先在服务器上安装\r\n"
                                         "1、选择 SQL Server 服务器，和登录方式\r\n"
                                         "2、输入想创建的网络版数据库名称\r\n"
                                         "3、点击<转换数据库>，开始将单机版数据库转换为网络版数据库"));
    // The progress of a conversion replaces the tips with one line; the
    // panel keeps the height of the tips so that nothing below it moves.
    m_ui->picTip->layout()->activate();
    m_ui->picTip->setFixedHeight(m_ui->picTip->sizeHint().height());
    m_ui->txtDBAccess->setReadOnly(true);
    QPalette grey = m_ui->txtDBAccess->palette();
    grey.setColor(QPalette::Base, QColor(227, 223, 214));
    m_ui->txtDBAccess->setPalette(grey);

    connect(m_ui->cmdBrowseDBAccess, &QPushButton::clicked, this, &frmDBConvert::cmdBrowseDBAccess_Click);
    connect(m_ui->cmdCreateBlank, &QPushButton::clicked, this, &frmDBConvert::cmdCreateBlank_Click);
    connect(m_ui->cmdCancel, &QPushButton::clicked, this, &QDialog::close);
}

frmDBConvert::~frmDBConvert() = default;

void frmDBConvert::Fill(const QString& strServer, const QString& strDB, bool blnIsTrustMode,
                        const QString& strUser)
{
    m_ui->panel->Fill({strServer, strDB, blnIsTrustMode, strUser, QString()});
}

void frmDBConvert::cmdBrowseDBAccess_Click()
{
    QString required;
    if (!mdlDBConvert::ReadRequiredVersion(required))
        return;
    const QString chosen = mdlCommon::ShowFileDialog(
        false, m_ui->txtDBAccess->text().trimmed(),
        mdlCommon::FormatTemplate(QStringLiteral("{1}数据库 (*.cdb)|*.cdb"),
                                  {mdlOEMResource::GetOEMShortName()}),
        0, 0, mdlOVSqlUpdateDB::gstrUserPath + QStringLiteral("Data") + QDir::separator(), QString());
    // A cancelled dialog gives an empty path, which is checked like any
    // other and refused.
    if (mdlDBConvert::CheckConvertFile(chosen, required))
        m_ui->txtDBAccess->setText(chosen);
}

void frmDBConvert::cmdCreateBlank_Click()
{
    if (m_ui->txtDBAccess->text().trimmed().isEmpty()) {
        ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("请选择先要转换的单机版数据库!")),
                   ov::MsgStyle::Information);
        cmdBrowseDBAccess_Click();
        return;
    }
    if (m_ui->panel->txtDB()->text().trimmed().isEmpty()) {
        ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("请指定将创建的数据库数据库名称！")),
                   ov::MsgStyle::Information);
        m_ui->panel->txtDB()->setFocus();
        return;
    }
    setEnabled(false);
    bool converted = false;
    {
        Running running(this);
        converted = DoConvert();
    }
    if (converted) {
        close();
        return;
    }
    setEnabled(true);
}

bool frmDBConvert::DoConvert()
{
    ov::QtStatusLabel status(m_ui->lblTip);
    ov::QtProgressBar progress(m_ui->prgProgress);
    return mdlDBConvert::DoConvert(m_ui->panel->ReadPanelValues(), m_ui->txtDBAccess->text(), m_create,
                                   status, progress);
}
