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

#include <QFileInfo>

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
    m_stampedName = mdlOVSqlBackup::DefaultBackupPathFile(
        stored, strDatabase, ov::Clock::now(),
        withFolder ? ServerFolder::DefaultFolder(strServer.trimmed(), style) : QString(), style);
    m_proposal = m_stampedName;
    // A second backup in the same minute would meet the first one's file.
    // The embedded engine's files are this machine's, so the proposal is a
    // free name at once; a SQL Server is asked when the backup is made.
    if (!ov::ServerAdmin::localFolder(strServer).isEmpty()) {
        const QString free =
            mdlOVSqlBackup::FreeBackupPathFile(m_proposal, [](const QString& path, bool& exists) {
                const QFileInfo file(path);
                exists = file.exists() || file.isSymLink();
                return true;
            });
        if (!free.isEmpty())
            m_proposal = free;
    }
    m_ui->txtPathFileName->setText(m_proposal);
    setWindowTitle(mdlCommon::FormatTemplate(QStringLiteral("{1} － 备份数据库"),
                                             {mdlOEMResource::GetOEMProductName()}));
}

void frmDBBackup::cmdBackup_Click()
{
    clsMouseCtrl busy;
    const ConnectionSettings s = m_ui->panel->ReadAllTrimmed();
    // A name the user typed is never changed; the window's own proposal
    // gives way to a free name when its file has appeared meanwhile.
    const bool proposed = m_ui->txtPathFileName->text() == m_proposal;
    const QString typed = mdlCommon::TrimBlanks(proposed ? m_stampedName : m_ui->txtPathFileName->text());
    const ServerFolder::Style style = ServerFolder::GuessStyle(s.server, typed);
    const QString pathFile =
        mdlOVSqlBackup::BackupTarget(typed, ServerFolder::DefaultFolder(s.server, style), style);
    QString written;
    if (!mdlOVSqlBackup::DoBackup(
            s.server, s.database, s.trusted, s.user, s.password, pathFile,
            proposed ? mdlOVSqlBackup::IfExists::TakeFreeName : mdlOVSqlBackup::IfExists::Refuse, &written))
        return;
    m_blnBackupDone = true;
    if (written != pathFile)
        m_ui->txtPathFileName->setText(written);
    mdlOVSqlServer::WriteDefaultPathFile(written);
    accept();
}

void frmDBBackup::cmdBrowse_Click()
{
    QString path = m_ui->txtPathFileName->text();
    if (frmSqlServerDirectory::BrowseFrom(m_ui->panel->ReadAllTrimmed(), path, true, this) &&
        path != m_ui->txtPathFileName->text())
        m_ui->txtPathFileName->setText(path);
}
