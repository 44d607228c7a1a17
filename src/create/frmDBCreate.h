#pragma once

#include "common/TaskDialog.h"

#include <QDialog>
#include <QScopedPointer>

namespace Ui {
class frmDBCreate;
}

// Creates a new product database, blank or with the demo data, on the
// server and with the login that the connection panel names. The whole window
// is disabled while a creation runs; it closes after a successful one (the
// settings and CreateDBResult "1" written) and is enabled again after any
// other outcome, with nothing written.
class frmDBCreate : public TaskDialog
{
    Q_OBJECT

public:
    // Fills the connection panel (the password box empty) and shows the
    // window without waiting. The window deletes itself when closed.
    static frmDBCreate* ShowMe(const QString& strServer, const QString& strDB, bool blnIsTrustMode,
                               const QString& strUser);

    explicit frmDBCreate(QWidget* parent = nullptr);
    ~frmDBCreate() override;

private:
    void Fill(const QString& strServer, const QString& strDB, bool blnIsTrustMode, const QString& strUser);
    void CreateClicked(int mode);
    bool CreateWithMode(int mode);

    QScopedPointer<Ui::frmDBCreate> m_ui;
};
