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

    // Reads the backup sets of the file named in the path box, chooses the
    // one a restore into the database of the panel uses (the newest full
    // backup), and reads its file list into the grid and its date into the
    // date label; a failure shows its description in the date label.
    void ReadBackupFileInfo();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void cmdRestore_Click();
    void cmdBrowse_Click();
    void FocusChanged(QWidget* old, QWidget* now);
    int ColumnOfKey(const QString& key) const;
    // The grid's logical names and targets, row by row, as they stand.
    void GridNames(QStringList& logicalNames, QStringList& targetNames) const;
    // Gives the target cells the user left alone the proposal for the
    // database name now in the panel.
    void ProposeTargets();

    QScopedPointer<Ui::frmDBRestore> m_ui;
    QString m_strLastListedFile;
    // The database the last listing chose its backup set for, and that set:
    // the restore uses the set whose date the window showed.
    QString m_lastListedDatabase;
    int m_listedBackupSet = 0;
    // Why the path box last lost the focus.
    Qt::FocusReason m_pathLeftBy = Qt::OtherFocusReason;
    QMetaObject::Connection m_focusWatch;
};
