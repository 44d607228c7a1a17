#include "backup/frmSqlServerDirectory.h"

#include "backup/ServerFolder.h"
#include "common/UiPort.h"
#include "common/clsMouseCtrl.h"
#include "common/mdlCommon.h"
#include "config/mdlOVSqlServerConnect.h"
#include "data/Connection.h"
#include "data/Server.h"
#include "data/ServerAdmin.h"
#include "ui_frmSqlServerDirectory.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStyle>

namespace {

// The role that holds an entry's kind: the tag, not the image, decides how
// clicks and the OK button treat an entry.
constexpr int kTagRole = Qt::UserRole;
const QString kFolderTag = QStringLiteral("FOLDER");
const QString kFileTag = QStringLiteral("FILE");

// 10000 twips at 96 dots per inch.
constexpr int kColumnWidth = 667;

} // namespace

QString frmSqlServerDirectory::ShowMe(ov::Connection& cn, ov::ServerAdmin& admin,
                                      const QString& strPathHeaderMust, const QString& strDefaultPath,
                                      const QString& strDefaultFile, bool blnIsBackup, QWidget* parent)
{
    frmSqlServerDirectory window(parent);
    window.Prepare(cn, admin, strPathHeaderMust, strDefaultPath, strDefaultFile, blnIsBackup);
    window.exec();
    return window.accepted() ? window.chosenPath() : QString();
}

bool frmSqlServerDirectory::BrowseFrom(const ConnectionSettings& s, QString& strPathFile, bool blnIsBackup,
                                       QWidget* parent)
{
    clsMouseCtrl busy;
    ov::OneWaitPerServer oneWait;
    // Tempdb is always there, so browsing does not depend on the product
    // database.
    const ov::Server server(s);
    ov::Connection cn;
    if (!server.open(cn, QStringLiteral("Tempdb"), 0)) {
        ov::MsgBox(cn.lastError().description, ov::MsgStyle::Exclamation);
        return false;
    }
    const auto admin = server.admin();
    const auto style = admin->pathStyle(cn);
    QString folder, fileName, baseName, extension;
    mdlCommon::SplitPathName(strPathFile, folder, fileName, baseName, extension, style);
    // Without a folder the browser opens where a file named alone goes: the
    // embedded server's own folder rather than the machine's root.
    if (folder.isEmpty())
        folder = ServerFolder::DefaultFolder(s.server, style);
    const QString chosen = ShowMe(cn, *admin, QString(), folder, fileName, blnIsBackup, parent);
    if (!chosen.isEmpty())
        strPathFile = chosen;
    return true;
}

frmSqlServerDirectory::frmSqlServerDirectory(QWidget* parent)
    : QDialog(parent), m_ui(new Ui::frmSqlServerDirectory)
{
    m_ui->setupUi(this);
    // Unlike the task windows, the browser keeps the platform's look: the
    // form styling passes it over.
    connect(m_ui->cmdOK, &QPushButton::clicked, this, &frmSqlServerDirectory::cmdOK_Click);
    connect(m_ui->cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui->cmdBrowse, &QPushButton::clicked, this,
            [this] { ListFolder(m_ui->cboFolder->currentText()); });
    // Enter in the folder box goes to the folder typed there, instead of
    // pressing the window's default button.
    m_ui->cboFolder->lineEdit()->installEventFilter(this);
    connect(m_ui->cboFolder, &QComboBox::activated, this,
            [this] { ListFolder(m_ui->cboFolder->currentText()); });
    connect(m_ui->lvwFolder, &QTreeWidget::itemClicked, this, &frmSqlServerDirectory::ItemClicked);
    connect(m_ui->lvwFolder, &QTreeWidget::itemDoubleClicked, this,
            &frmSqlServerDirectory::ItemDoubleClicked);
}

frmSqlServerDirectory::~frmSqlServerDirectory()
{
    // The combo box may still report an activation while its window is being
    // destroyed; nothing is listed then.
    m_ui->cboFolder->disconnect(this);
    m_ui->lvwFolder->disconnect(this);
}

bool frmSqlServerDirectory::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_ui->cboFolder->lineEdit() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            ListFolder(m_ui->cboFolder->currentText());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmSqlServerDirectory::Prepare(ov::Connection& cn, ov::ServerAdmin& admin,
                                    const QString& strPathHeaderMust, const QString& strDefaultPath,
                                    const QString& strDefaultFile, bool blnIsBackup)
{
    m_cn = &cn;
    m_admin = &admin;
    m_strPathHeaderMust = strPathHeaderMust;
    m_strDefaultPath = strDefaultPath;
    m_strDefaultFile = strDefaultFile;
    m_blnIsBackup = blnIsBackup;
    m_strCurrentFolder = strDefaultPath;
    m_blnAccepted = false;
    m_strChosenPath.clear();
    m_style = admin.pathStyle(cn);

    setWindowTitle(blnIsBackup ? QStringLiteral("Select Backup Destination")
                               : QStringLiteral("Select Restore Source"));
    m_ui->lvwFolder->clear();
    m_ui->lvwFolder->setColumnCount(1);
    m_ui->lvwFolder->setColumnWidth(0, kColumnWidth);
    m_ui->lvwFolder->setHeaderHidden(false);
    m_ui->txtFile->setText(strDefaultFile);
    m_ui->cboFolder->clear();
    m_ui->cboFolder->addItems(ServerFolder::Roots(m_style));
    ListFolder(strDefaultPath);
}

QString frmSqlServerDirectory::GetCurrentFolder() const
{
    return ServerFolder::GetCurrentFolder(m_strCurrentFolder, m_strPathHeaderMust, m_style);
}

QString frmSqlServerDirectory::ResolveParentFolder(const QString& path) const
{
    return ServerFolder::ResolveParentFolder(path, m_style);
}

void frmSqlServerDirectory::SetCurrentFolder(const QString& path)
{
    const QString folder =
        ServerFolder::SetCurrentFolder(path, m_strCurrentFolder, m_strPathHeaderMust, m_style);
    m_ui->cboFolder->setCurrentText(folder);
    m_strCurrentFolder = folder;
    for (int i = 0; i < m_ui->cboFolder->count(); ++i) {
        if (m_ui->cboFolder->itemText(i).compare(folder, ServerFolder::NameCase(m_style)) == 0)
            return;
    }
    m_ui->cboFolder->addItem(folder);
    m_ui->cboFolder->setCurrentText(folder);
}

void frmSqlServerDirectory::AddEntry(const QString& name, bool isFolder)
{
    auto* item = new QTreeWidgetItem(m_ui->lvwFolder, {name});
    item->setData(0, kTagRole, isFolder ? kFolderTag : kFileTag);
    item->setIcon(0, style()->standardIcon(isFolder ? QStyle::SP_DirClosedIcon : QStyle::SP_FileIcon));
}

void frmSqlServerDirectory::ListFolder(const QString& path)
{
    clsMouseCtrl busy;
    m_ui->lvwFolder->clear();
    SetCurrentFolder(path);
    const QString folder = GetCurrentFolder();
    m_ui->lvwFolder->headerItem()->setText(0, folder);
    AddEntry(QStringLiteral(".."), true);
    if (!m_cn || !m_admin)
        return;
    // The server's listing refuses what its own way of listing cannot take
    // (a folder with a command character, where a command shell lists).
    QList<ov::FolderEntry> entries;
    if (!m_admin->listFolder(*m_cn, folder, entries))
        return;
    for (const ov::FolderEntry& e : entries) {
        if (!e.name.isEmpty() && (e.isFolder || !ServerFolder::IsEngineFile(e.name)))
            AddEntry(e.name, e.isFolder);
    }
}

void frmSqlServerDirectory::ItemClicked(QTreeWidgetItem* item)
{
    if (!item)
        return;
    if (item->data(0, kTagRole).toString() == kFolderTag)
        m_ui->cboFolder->setCurrentText(GetCurrentFolder() + item->text(0));
    else
        m_ui->txtFile->setText(item->text(0));
}

void frmSqlServerDirectory::ItemDoubleClicked(QTreeWidgetItem* item)
{
    if (!item)
        return;
    ItemClicked(item);
    if (item->data(0, kTagRole).toString() == kFolderTag)
        ListFolder(m_ui->cboFolder->currentText());
    else
        cmdOK_Click();
}

void frmSqlServerDirectory::cmdOK_Click()
{
    const QString name = mdlCommon::TrimBlanks(m_ui->txtFile->text());
    QString problem;
    if (name.isEmpty()) {
        problem = QStringLiteral("Please input file name!");
    } else if (name.contains(QRegularExpression(QStringLiteral("[\\\\/:*?\"<>|]")))) {
        problem = QStringLiteral("A filename cannot contain any of following characters: \\/:*?\"<>|");
    } else {
        bool exists = false;
        for (int i = 0; i < m_ui->lvwFolder->topLevelItemCount() && !exists; ++i) {
            const QTreeWidgetItem* item = m_ui->lvwFolder->topLevelItem(i);
            exists = item->data(0, kTagRole).toString() == kFileTag &&
                     item->text(0).trimmed().compare(name, ServerFolder::NameCase(m_style)) == 0;
        }
        if (m_blnIsBackup && exists)
            problem = QStringLiteral("A file with the name you specified already exists.");
        else if (!m_blnIsBackup && !exists)
            problem = QStringLiteral("File Not Found!");
    }
    if (!problem.isEmpty()) {
        ov::MsgBox(problem, ov::MsgStyle::Exclamation);
        m_ui->txtFile->setFocus();
        return;
    }
    m_strChosenPath = GetCurrentFolder() + name;
    m_blnAccepted = true;
    accept();
}

void frmSqlServerDirectory::done(int result)
{
    // The browser never keeps the caller's connection beyond its showing.
    m_cn = nullptr;
    m_admin = nullptr;
    QDialog::done(result);
}
