#pragma once

#include "common/mdlCommon.h"
#include "config/ConnectionSettings.h"

#include <QDialog>
#include <QScopedPointer>

class QTreeWidgetItem;

namespace ov {
class Connection;
class ServerAdmin;
} // namespace ov

namespace Ui {
class frmSqlServerDirectory;
}

// Browses the folders of a server through an open connection to it, so that
// it shows what the server's own account sees, and picks a file there: in
// backup mode a new file (the name must not exist yet), in restore mode an
// existing one. Paths follow the server's style (drives and "\" on Windows,
// "/" on POSIX).
class frmSqlServerDirectory : public QDialog
{
    Q_OBJECT

public:
    // Shows the browser modal on cn (the caller's connection, which it opens
    // before and closes after) and returns the chosen full path: the current
    // folder followed by the file name; "" when the user cancelled.
    static QString ShowMe(ov::Connection& cn, ov::ServerAdmin& admin, const QString& strPathHeaderMust,
                          const QString& strDefaultPath, const QString& strDefaultFile, bool blnIsBackup,
                          QWidget* parent = nullptr);

    // The browse button of the backup and restore windows: opens Tempdb on
    // the server with the login in s and shows the browser in the folder of
    // strPathFile, a path in the server's style, with its file name proposed.
    // False when the server cannot be reached (the user has been told);
    // otherwise true, with strPathFile replaced by the chosen path unless the
    // user cancelled.
    static bool BrowseFrom(const ConnectionSettings& s, QString& strPathFile, bool blnIsBackup,
                           QWidget* parent);

    explicit frmSqlServerDirectory(QWidget* parent = nullptr);
    ~frmSqlServerDirectory() override;

    // Stores the arguments of ShowMe and loads the window: caption, list,
    // file name, the roots and the first listing.
    void Prepare(ov::Connection& cn, ov::ServerAdmin& admin, const QString& strPathHeaderMust,
                 const QString& strDefaultPath, const QString& strDefaultFile, bool blnIsBackup);

    bool accepted() const { return m_blnAccepted; }
    QString chosenPath() const { return m_strChosenPath; }
    mdlCommon::PathStyle pathStyle() const { return m_style; }

    // Lists path (after SetCurrentFolder) as "..", its folders, then its
    // files. A listing that fails, or a folder that holds a character the
    // server's command shell would read as a command, ends silently with
    // what was listed so far.
    void ListFolder(const QString& path);
    void SetCurrentFolder(const QString& path);
    QString GetCurrentFolder() const;
    QString ResolveParentFolder(const QString& path) const;

protected:
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ItemClicked(QTreeWidgetItem* item);
    void ItemDoubleClicked(QTreeWidgetItem* item);
    void cmdOK_Click();
    void AddEntry(const QString& name, bool isFolder);

    QScopedPointer<Ui::frmSqlServerDirectory> m_ui;
    ov::Connection* m_cn = nullptr;
    ov::ServerAdmin* m_admin = nullptr;
    mdlCommon::PathStyle m_style = mdlCommon::PathStyle::Windows;
    QString m_strPathHeaderMust;
    QString m_strDefaultPath;
    QString m_strDefaultFile;
    bool m_blnIsBackup = true;
    QString m_strCurrentFolder;
    bool m_blnAccepted = false;
    QString m_strChosenPath;
};
