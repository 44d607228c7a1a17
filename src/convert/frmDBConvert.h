#pragma once

#include "common/TaskDialog.h"
#include "convert/mdlDBConvert.h"

#include <QDialog>
#include <QScopedPointer>

namespace Ui {
class frmDBConvert;
}

// Turns a single-user database file (".cdb") into a new product database:
// the user picks the file (checked for being a product database of a
// convertible version), names the server, the login and the new database,
// and starts the conversion. The whole window is disabled while it runs; it
// closes once the new database was created, and is enabled again when the
// conversion stopped before.
class frmDBConvert : public TaskDialog
{
    Q_OBJECT

public:
    // Fills the connection panel (the password box empty) and shows the
    // window without waiting. The window deletes itself when closed.
    static frmDBConvert* ShowMe(const QString& strServer, const QString& strDB, bool blnIsTrustMode,
                                const QString& strUser);

    explicit frmDBConvert(QWidget* parent = nullptr);
    ~frmDBConvert() override;

    // The step that creates the new, bare database: CreateBareDatabase unless
    // it is replaced here.
    void setCreateStep(mdlDBConvert::CreateStep step) { m_create = std::move(step); }

private:
    void Fill(const QString& strServer, const QString& strDB, bool blnIsTrustMode, const QString& strUser);
    void cmdBrowseDBAccess_Click();
    void cmdCreateBlank_Click();
    bool DoConvert();

    QScopedPointer<Ui::frmDBConvert> m_ui;
    mdlDBConvert::CreateStep m_create = &mdlDBConvert::CreateBareDatabase;
};
