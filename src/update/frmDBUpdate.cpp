#include "update/frmDBUpdate.h"

#include "backup/frmDBBackup.h"
#include "common/QtUi.h"
#include "common/UiPort.h"
#include "common/mdlCommon.h"
#include "common/mdlOEMResource.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "common/mdlResAndColor.h"
#include "config/mdlOVSqlServer.h"
#include "data/Connection.h"
#include "ui_frmDBUpdate.h"
#include "update/UpdateCheck.h"

#include <QLineEdit>

frmDBUpdate* frmDBUpdate::ShowMe(const QString& strServer, const QString& strDatabase, bool blnIsTrustMode,
                                 const QString& strUser)
{
    auto* window = new frmDBUpdate;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->Fill(strServer, strDatabase, blnIsTrustMode, strUser);
    window->show();
    return window;
}

frmDBUpdate::frmDBUpdate(QWidget* parent) : TaskDialog(parent), m_ui(new Ui::frmDBUpdate)
{
    m_ui->setupUi(this);
    m_ui->panel->setKind(ConnectionPanel::Kind::Update);
    m_ui->panel->setMainInput(m_ui->panel->txtDB());
    mdlResAndColor::ApplyFormStyle(this);

    mdlResAndColor::StyleTipPanel(m_ui->picTip, m_ui->lblTipHeader, m_ui->lblTip, 24);
    m_ui->lblTipHeader->setText(QStringLiteral("升级数据库"));
    m_ui->lblTip->setText(QStringLiteral("1、选择待升级数据库（默认当前数据库）\r\n"
                                         "2、备份数据库\r\n"
                                         "3、开始升级"));
    setWindowTitle(mdlOEMResource::GetOEMShortName() + QStringLiteral("-") +
                   mdlCommon::FormatTemplate(QStringLiteral("数据库升级程序")));

    // The panel applies the enabling rule on each click of either option
    // itself; the update window's rule is that one (labels left as they are).
    connect(m_ui->cmdOK, &QPushButton::clicked, this, &frmDBUpdate::cmdOK_Click);
    connect(m_ui->cmdCancel, &QPushButton::clicked, this, &QDialog::close);
}

frmDBUpdate::~frmDBUpdate() = default;

void frmDBUpdate::Fill(const QString& strServer, const QString& strDatabase, bool blnIsTrustMode,
                       const QString& strUser)
{
    m_ui->panel->Fill({strServer, strDatabase, blnIsTrustMode, strUser, QString()});
    ApplyLoginMode();
}

void frmDBUpdate::ApplyLoginMode()
{
    m_ui->panel->ApplyEnablingRule();
}

bool frmDBUpdate::BackupBeforeUpdate(const QString& server, const QString& database, bool integratedLogin,
                                     const QString& user, const QString& password)
{
    return frmDBBackup::ShowMeWithWait(server, database, integratedLogin, user, password, this);
}

// The run lets pending events run once per script line. The task counts as
// running from the OK click until the backup, the question and the run are
// over: a second OK click returns at once, and the window refuses to close
// meanwhile. The panel and the buttons are greyed for as long, so that the
// user sees they do nothing; the window itself stays enabled, because the
// backup window and the message boxes are its children and would be greyed
// with it.
void frmDBUpdate::cmdOK_Click()
{
    if (isRunning())
        return;
    bool updated = false;
    {
        Running running(this);
        QWidget* const controls[] = {m_ui->panel, m_ui->cmdOK, m_ui->cmdCancel};
        for (QWidget* c : controls)
            c->setEnabled(false);
        updated = UpdateDatabase();
        if (!updated) {
            for (QWidget* c : controls)
                c->setEnabled(true);
        }
    }
    if (updated)
        close();
}

bool frmDBUpdate::UpdateDatabase()
{
    const ConnectionSettings v = m_ui->panel->ReadPanelValues();
    // The look for an unfinished creation, the backup and the run each
    // connect: a server that did not answer the first is not waited on again.
    ov::OneWaitPerServer oneWait;
    // An unfinished creation is refused before it is backed up.
    if (!mdlOVSqlUpdateDB::RefuseUnfinishedDatabase(v.server, v.database, v.trusted, v.user, v.password))
        return false;
    if (!BackupBeforeUpdate(v.server, v.database, v.trusted, v.user, v.password))
        return false;
    if (ov::MsgBox(QStringLiteral("备份数据库成功，请按“确定”以开始升级数据库。"),
                   ov::MsgStyle::InformationOkCancel) != ov::MsgAnswer::Ok)
        return false;
    ov::QtStatusLabel status(m_ui->lblTip);
    ov::QtProgressBar progress(m_ui->prgProgress);
    // The busy pointer over the window while the script runs. It is the
    // window's own pointer: the pointer guards of the run's steps do not nest
    // (the first one released brings back the normal pointer), and a message
    // box of the run is a window of its own that shows the normal pointer.
    setCursor(Qt::WaitCursor);
    const mdlOVSqlUpdateDB::UpdateOutcome outcome = mdlOVSqlUpdateDB::RunUpdateAndCheck(
        v.server, v.database, v.trusted, v.user, v.password,
        mdlOVSqlUpdateDB::gstrAppPath + QStringLiteral("OVScriptUpdate.txt"), status, progress);
    unsetCursor();
    if (!outcome.completed())
        return false;
    // A completed run is the update's success, which the main program reads;
    // what the check after it found follows, and changes nothing of that.
    ov::MsgBox(QStringLiteral("数据库升级成功！"), ov::MsgStyle::Information);
    mdlOVSqlServer::WriteMainSettingsAndSuccess(v, mdlOVSqlServer::ResultKey::UpdateDB);
    mdlOVSqlUpdateDB::TellCheckFindings(outcome);
    return true;
}
