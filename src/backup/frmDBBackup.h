#pragma once

#include <QDialog>
#include <QScopedPointer>

namespace Ui {
class frmDBBackup;
}

// Writes a full backup of a product database into a file on its server. The
// path is a path on the server; the browse button opens the server folder
// browser in backup mode.
class frmDBBackup : public QDialog
{
    Q_OBJECT

public:
    // Fills the window (the password from strPasswd, never from the
    // configuration), proposes a time-stamped file name in the folder of the
    // last backup (or "C:\", "/" on a POSIX server), with "-2", "-3"… added
    // when a backup of that name exists (two in one minute), and shows it
    // without waiting. The window deletes itself when closed.
    static frmDBBackup* ShowMe(const QString& strServer, const QString& strDatabase, bool blnIsTrustMode,
                               const QString& strUser, const QString& strPasswd);
    // The same, shown modal; the proposal keeps an empty folder. True when
    // the window closed after a successful backup.
    static bool ShowMeWithWait(const QString& strServer, const QString& strDatabase, bool blnIsTrustMode,
                               const QString& strUser, const QString& strPasswd, QWidget* parent = nullptr);
    // The backup itself (mdlOVSqlBackup::DoBackup): touches no control.
    static bool DoBackup(const QString& strServer, const QString& strDatabase, bool blnIsTrustMode,
                         const QString& strUser, const QString& strPasswd, const QString& strPathFile);

    explicit frmDBBackup(QWidget* parent = nullptr);
    ~frmDBBackup() override;

    bool backupDone() const { return m_blnBackupDone; }

private:
    void Fill(const QString& strServer, const QString& strDatabase, bool blnIsTrustMode,
              const QString& strUser, const QString& strPasswd, bool rootWithoutFolder);
    void cmdBackup_Click();
    void cmdBrowse_Click();

    QScopedPointer<Ui::frmDBBackup> m_ui;
    bool m_blnBackupDone = false;
    // The name the window proposed, and the time-stamped name it was made
    // from. While the path box holds the proposal, a backup whose file exists
    // by then goes to the next free name made from the time-stamped one.
    QString m_proposal;
    QString m_stampedName;
};
