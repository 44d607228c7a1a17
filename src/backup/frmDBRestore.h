#pragma once

#include <QScopedPointer>
#include <QWidget>

namespace Ui {
class frmDBRestore;
}

// Restores a product database from a backup file on its server: reads the
// file's database files and backup date, lets the user choose where each
// file goes (only the target column of the grid is editable), and runs
// mdlOVSqlRestore::RestoreDatabase.
class frmDBRestore : public QWidget
{
    Q_OBJECT

public:
    // Fills the window (the password box empty), proposes the last backup
    // file written or restored, and shows it without waiting. The window
    // deletes itself when closed.
    static frmDBRestore* ShowMe(const QString& strServer, const QString& strDatabase, bool blnIsTrustMode,
                                const QString& strUser);

    explicit frmDBRestore(QWidget* parent = nullptr);
    ~frmDBRestore() override;

    // Reads the file list and the header of the backup file named in the
    // path box into the grid and the date label; a failure shows its
    // description in the date label.
    void ReadBackupFileInfo();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void cmdRestore_Click();
    void cmdBrowse_Click();
    void FocusChanged(QWidget* old, QWidget* now);
    int ColumnOfKey(const QString& key) const;

    QScopedPointer<Ui::frmDBRestore> m_ui;
    QString m_strLastListedFile;
    // Why the path box last lost the focus.
    Qt::FocusReason m_pathLeftBy = Qt::OtherFocusReason;
    QMetaObject::Connection m_focusWatch;
};
