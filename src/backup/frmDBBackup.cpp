#include "backup/frmDBBackup.h"

#include "backup/ServerFolder.h"
#include "backup/frmSqlServerDirectory.h"
#include "backup/mdlOVSqlBackup.h"
#include "common/Clock.h"
#include "common/UiPort.h"
#include "common/clsMouseCtrl.h"
#include "common/mdlCommon.h"
#include "common/mdlOEMResource.h"
#include "common/mdlResAndColor.h"
#include "config/mdlOVSqlServer.h"
#include "config/mdlOVSqlServerConnect.h"
#include "data/Connection.h"
#include "data/ServerAdmin.h"
#include "ui_frmDBBackup.h"

frmDBBackup* frmDBBackup::ShowMe(const QString& strServer, const QString& strDatabase, bool blnIsTrustMode,
                                 const QString& strUser, const QString& strPasswd)
{
    auto* window = new frmDBBackup;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->Fill(strServer, strDatabase, blnIsTrustMode, strUser, strPasswd, true);
    window->show();
    return window;
}

bool frmDBBackup::ShowMeWithWait(const QString& strServer, const QString& strDatabase, bool blnIsTrustMode,
                                 const QString& strUser, const QString& strPasswd, QWidget* parent)
{
    frmDBBackup window(parent);
    window.Fill(strServer, strDatabase, blnIsTrustMode, strUser, strPasswd, false);
    window.exec();
    return window.backupDone();
}

bool frmDBBackup::DoBackup(const QString& strServer, const QString& strDatabase, bool blnIsTrustMode,
                           const QString& strUser, const QString& strPasswd, const QString& strPathFile)
{
    return mdlOVSqlBackup::DoBackup(strServer, strDatabase, blnIsTrustMode, strUser, strPasswd, strPathFile);
}

frmDBBackup::frmDBBackup(QWidget* parent) : QDialog(parent), m_ui(new Ui::frmDBBackup)
{
    m_ui->setupUi(this);
    m_ui->panel->setKind(ConnectionPanel::Kind::Backup);
    m_ui->panel->setMainInput(m_ui->txtPathFileName);
    mdlResAndColor::ApplyFormStyle(this);
    connect(m_ui->cmdBackup, &QPushButton::clicked, this, &frmDBBackup::cmdBackup_Click);
    connect(m_ui->cmdBrowse, &QPushButton::clicked, this, &frmDBBackup::cmdBrowse_Click);
    connect(m_ui->cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

frmDBBackup::~frmDBBackup() = default;

void frmDBBackup::Fill(const QString& strServer, const QString& strDatabase, bool blnIsTrustMode,
                       const QString& strUser, const QString& strPasswd, bool rootWithoutFolder)
{
    m_blnBackupDone = false;
    m_ui->panel->Fill({strServer, strDatabase, blnIsTrustMode, strUser, strPasswd});
    // Only the folder of the last backup is reused: every opening proposes a
    // new name with the time in it.
    const QString stored = mdlOVSqlServer::ReadDefaultPathFile();
    const ServerFolder::Style style = ServerFolder::GuessStyle(strServer, stored);
    // The opening from the update window proposes no folder for a SQL
    // Server; an embedded server always has its own.
    const bool withFolder = rootWithoutFolder || !ov::ServerAdmin::localFolder(strServer).isEmpty();
    m_ui->txtPathFileName->setText(mdlOVSqlBackup::DefaultBackupPathFile(
        stored, strDatabase, ov::Clock::now(),
        withFolder ? ServerFolder::DefaultFolder(strServer.trimmed(), style) : QString(), style));
    setWindowTitle(mdlCommon::FormatTemplate(QStringLiteral("{1} － 备份数据库"),
                                             {mdlOEMResource::GetOEMProductName()}));
}

void frmDBBackup::cmdBackup_Click()
{
    clsMouseCtrl busy;
    const ConnectionSettings s = m_ui->panel->ReadAllTrimmed();
    const QString typed = mdlCommon::TrimBlanks(m_ui->txtPathFileName->text());
    const ServerFolder::Style style = ServerFolder::GuessStyle(s.server, typed);
    const QString pathFile =
        mdlOVSqlBackup::BackupTarget(typed, ServerFolder::DefaultFolder(s.server, style), style);
    if (!DoBackup(s.server, s.database, s.trusted, s.user, s.password, pathFile))
        return;
    m_blnBackupDone = true;
    mdlOVSqlServer::WriteDefaultPathFile(pathFile);
    accept();
}

void frmDBBackup::cmdBrowse_Click()
{
    QString path = m_ui->txtPathFileName->text();
    if (frmSqlServerDirectory::BrowseFrom(m_ui->panel->ReadAllTrimmed(), path, true, this) &&
        path != m_ui->txtPathFileName->text())
        m_ui->txtPathFileName->setText(path);
}
