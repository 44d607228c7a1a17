#pragma once

#include "common/TaskDialog.h"

#include <QDialog>
#include <QScopedPointer>

namespace Ui {
class frmDBUpdate;
}

// Brings an existing product database up to the current schema, in the one
// order the window allows: choose the database, back it up (the backup window,
// modal), confirm, run the update script. Only a completed run writes the
// settings and UpdateDBResult "1" and closes the window; every other way out
// writes nothing and leaves the window open.
class frmDBUpdate : public TaskDialog
{
    Q_OBJECT

public:
    // Fills the connection panel (the password box empty: the user types it)
    // and shows the window without waiting. The window deletes itself when
    // closed.
    static frmDBUpdate* ShowMe(const QString& strServer, const QString& strDatabase, bool blnIsTrustMode,
                               const QString& strUser);

    explicit frmDBUpdate(QWidget* parent = nullptr);
    ~frmDBUpdate() override;

private:
    void Fill(const QString& strServer, const QString& strDatabase, bool blnIsTrustMode,
              const QString& strUser);
    void ApplyLoginMode();
    bool BackupBeforeUpdate(const QString& server, const QString& database, bool integratedLogin,
                            const QString& user, const QString& password);
    void cmdOK_Click();
    bool UpdateDatabase();

    QScopedPointer<Ui::frmDBUpdate> m_ui;
};
