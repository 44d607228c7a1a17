#include "backup/frmDBRestore.h"

#include "backup/frmSqlServerDirectory.h"
#include "backup/mdlOVSqlRestore.h"
#include "backup/mdlOVSqlRestoreGrid.h"
#include "common/QtUi.h"
#include "common/UiPort.h"
#include "common/clsMouseCtrl.h"
#include "common/mdlCommon.h"
#include "common/mdlOEMResource.h"
#include "common/mdlResAndColor.h"
#include "config/mdlOVSqlServer.h"
#include "config/mdlOVSqlServerConnect.h"
#include "data/Connection.h"
#include "data/ServerAdmin.h"
#include "ui_frmDBRestore.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeySequence>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>

namespace {

// The grid's columns are found by these keys, never by position.
constexpr int kKeyRole = Qt::UserRole;
// The target a cell was given by the window, to tell it from one the user
// typed.
constexpr int kProposalRole = Qt::UserRole + 1;
// The path the backup recorded for the file.
constexpr int kPhysicalRole = Qt::UserRole + 2;
const QString kLogicalName = QStringLiteral("LOGICALNAME");
const QString kPhysicalName = QStringLiteral("PHYSICALNAME");

// 2000 and 4000 twips at 96 dots per inch.
constexpr int kLogicalWidth = 133;
constexpr int kPhysicalWidth = 267;

} // namespace

frmDBRestore* frmDBRestore::ShowMe(const QString& strServer, const QString& strDatabase, bool blnIsTrustMode,
                                   const QString& strUser)
{
    auto* window = new frmDBRestore;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->m_ui->panel->Fill({strServer, strDatabase, blnIsTrustMode, strUser, QString()});
    window->m_ui->txtPathFileName->setText(mdlOVSqlServer::ReadDefaultPathFile());
    window->setWindowTitle(mdlCommon::FormatTemplate(QStringLiteral("{1} -- 恢复数据库"),
                                                     {mdlOEMResource::GetOEMProductName()}));
    // Centred on the screen, as the other task windows (dialogs) open.
    window->adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
    window->show();
    return window;
}

frmDBRestore::frmDBRestore(QWidget* parent) : QWidget(parent), m_ui(new Ui::frmDBRestore)
{
    m_ui->setupUi(this);
    m_ui->panel->setKind(ConnectionPanel::Kind::Restore);
    m_ui->panel->setMainInput(m_ui->txtPathFileName);
    mdlResAndColor::ApplyFormStyle(this);

    QTableWidget* grid = m_ui->vflexDataFile;
    mdlOVSqlRestore::PrepareGrid(grid, 1, 1, 1, 1, mdlOVSqlRestore::GridOptions());
    grid->verticalHeader()->setVisible(false);
    grid->setColumnCount(2);
    grid->horizontalHeader()->setVisible(true);
    grid->setRowCount(0);
    const struct
    {
        const QString& key;
        const char* header;
        int width;
    } columns[] = {
        {kLogicalName, "原文件名", kLogicalWidth},
        {kPhysicalName, "还原为 (可用鼠标双击后修改)", kPhysicalWidth},
    };
    for (int c = 0; c < 2; ++c) {
        auto* header = new QTableWidgetItem(QString::fromUtf8(columns[c].header));
        header->setData(kKeyRole, columns[c].key);
        grid->setHorizontalHeaderItem(c, header);
        grid->setColumnWidth(c, columns[c].width);
    }
    grid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);

    // The message areas keep one height whatever they show, so that the
    // window, whose size is fixed once it opens, never squeezes its text
    // boxes to make room: the date label has three lines for an error (the
    // whole text is its tool tip), and the progress line keeps its room below
    // the tabs while it is hidden.
    const int line = fontMetrics().lineSpacing();
    m_ui->lblBackupDate->setFixedHeight(3 * line + 2);
    m_ui->lblBackupDate->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_ui->lblMsg->setFixedHeight(line + 2);
    QSizePolicy keepRoom = m_ui->lblMsg->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    m_ui->lblMsg->setSizePolicy(keepRoom);
    m_ui->lblMsg->setVisible(false);
    m_ui->tbMain->setCurrentIndex(0);
    m_ui->lblTip->setText(mdlCommon::FormatTemplate(
        QStringLiteral(
            "   【步骤 1】：输入连接数据库的信息（服务器，验证方式，SQL 登录名、密码，数据库）{1}    "
            "【步骤 2】：输入备份文件名，该文件必须位于服务器上，您可以点击 '...' "
            "按钮，在服务器上浏览选择备份文件。{1}    "
            "【注】需要保证没有任何的程序在使用该数据库，如果您使用了 SQL "
            "企业管理器，那么请关闭它，否则恢复数据库可能失败。"),
        {QStringLiteral("\r\n")}));

    connect(m_ui->cmdRestore, &QPushButton::clicked, this, &frmDBRestore::cmdRestore_Click);
    connect(m_ui->cmdBrowse, &QPushButton::clicked, this, &frmDBRestore::cmdBrowse_Click);
    connect(m_ui->cmdCancel, &QPushButton::clicked, this, &QWidget::close);
    // Escape presses the cancel button, as in every task window; while a
    // restore runs the button is disabled and Escape does nothing.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, m_ui->cmdCancel, &QPushButton::click);
    connect(m_ui->txtPathFileName, &QLineEdit::returnPressed, this, &frmDBRestore::ReadBackupFileInfo);
    // A target path longer than its column shows whole in a tool tip, also
    // after the user edited it.
    connect(m_ui->vflexDataFile, &QTableWidget::itemChanged, this, [](QTableWidgetItem* item) {
        if (item->toolTip() != item->text())
            item->setToolTip(item->text());
    });
    // On the embedded engine the proposed target is the database's own file:
    // it follows the name as it is typed, in the cells the user left alone.
    connect(m_ui->panel->txtDB(), &QLineEdit::textChanged, this, &frmDBRestore::ProposeTargets);
    m_ui->txtPathFileName->installEventFilter(this);
    m_focusWatch = connect(qApp, &QApplication::focusChanged, this, &frmDBRestore::FocusChanged);
}

frmDBRestore::~frmDBRestore()
{
    // The focus leaves the window's controls while they are destroyed; that
    // is no validation.
    disconnect(m_focusWatch);
}

void frmDBRestore::GridNames(QStringList& logicalNames, QStringList& targetNames) const
{
    const int logical = ColumnOfKey(kLogicalName);
    const int physical = ColumnOfKey(kPhysicalName);
    for (int r = 0; r < m_ui->vflexDataFile->rowCount(); ++r) {
        const QTableWidgetItem* l = m_ui->vflexDataFile->item(r, logical);
        const QTableWidgetItem* p = m_ui->vflexDataFile->item(r, physical);
        logicalNames.append(l ? l->text() : QString());
        targetNames.append(p ? p->text() : QString());
    }
}

int frmDBRestore::ColumnOfKey(const QString& key) const
{
    for (int c = 0; c < m_ui->vflexDataFile->columnCount(); ++c) {
        const QTableWidgetItem* header = m_ui->vflexDataFile->horizontalHeaderItem(c);
        if (header && header->data(kKeyRole).toString() == key)
            return c;
    }
    return -1;
}

void frmDBRestore::showEvent(QShowEvent* event)
{
    // The window's size is fixed when it shows. The height the wrapped tip
    // gives for the window's width can be a few pixels short of the room the
    // polished controls need: the window takes the larger, so that no text
    // box opens squeezed.
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    const QSize before = size();
    setFixedSize(before.expandedTo(sizeHint()));
    // Still centred where it was placed.
    const QSize grown = size() - before;
    move(pos() - QPoint(grown.width() / 2, grown.height() / 2));
}

bool frmDBRestore::eventFilter(QObject* watched, QEvent* event)
{
    // The focus leaves the box before the application reports the change.
    if (watched == m_ui->txtPathFileName && event->type() == QEvent::FocusOut)
        m_pathLeftBy = static_cast<QFocusEvent*>(event)->reason();
    return QWidget::eventFilter(watched, event);
}

void frmDBRestore::FocusChanged(QWidget* old, QWidget* now)
{
    // Leaving the path box for another control of this window reads the file
    // it names, as a validation would; the cancel button only closes. A
    // click on the restore or the browse button reads the file itself, in
    // the same task as the server work of the button: reading it here too
    // would wait on a silent server twice for one click, and the click's
    // release would come while the input is held.
    if (old != m_ui->txtPathFileName || !now || now->window() != this || now == m_ui->cmdCancel)
        return;
    if (m_pathLeftBy == Qt::MouseFocusReason && (now == m_ui->cmdRestore || now == m_ui->cmdBrowse))
        return;
    ReadBackupFileInfo();
}

void frmDBRestore::ProposeTargets()
{
    const ConnectionSettings s = m_ui->panel->ReadAllTrimmed();
    const int logical = ColumnOfKey(kLogicalName);
    const int physical = ColumnOfKey(kPhysicalName);
    QTableWidget* grid = m_ui->vflexDataFile;
    for (int r = 0; r < grid->rowCount(); ++r) {
        QTableWidgetItem* target = grid->item(r, physical);
        const QTableWidgetItem* name = grid->item(r, logical);
        if (!target || !name || target->text() != target->data(kProposalRole).toString())
            continue;
        ov::BackupFileInfo file;
        file.logicalName = name->text();
        file.physicalName = target->data(kPhysicalRole).toString();
        const QString proposal = mdlOVSqlRestore::ProposedTarget(s.server, s.database, file);
        target->setData(kProposalRole, proposal);
        target->setText(proposal);
    }
}

void frmDBRestore::ReadBackupFileInfo()
{
    // The password is trimmed in this window, for reading, browsing and
    // restoring alike.
    const ConnectionSettings s = m_ui->panel->ReadAllTrimmed();
    const QString path = mdlCommon::TrimBlanks(m_ui->txtPathFileName->text());
    // The date label says meanwhile that the server is being reached.
    const ov::QtStatusLabel waiting(m_ui->lblBackupDate);
    const mdlOVSqlRestore::BackupFileContents contents =
        mdlOVSqlRestore::ReadBackupFileContents(s.server, s.trusted, s.user, s.password, path, s.database);
    if (!contents.filesRead) {
        m_ui->lblBackupDate->setText(contents.error.description);
        m_ui->lblBackupDate->setToolTip(contents.error.description);
        return;
    }
    QTableWidget* grid = m_ui->vflexDataFile;
    grid->setRowCount(0);
    const int logical = ColumnOfKey(kLogicalName);
    const int physical = ColumnOfKey(kPhysicalName);
    for (const ov::BackupFileInfo& file : contents.files) {
        const int row = grid->rowCount();
        grid->insertRow(row);
        auto* logicalItem = new QTableWidgetItem(file.logicalName);
        // Only the target path can be edited.
        logicalItem->setFlags(logicalItem->flags() & ~Qt::ItemIsEditable);
        grid->setItem(row, logical, logicalItem);
        const QString proposal = mdlOVSqlRestore::ProposedTarget(s.server, s.database, file);
        auto* target = new QTableWidgetItem(proposal);
        target->setToolTip(proposal);
        target->setData(kProposalRole, proposal);
        target->setData(kPhysicalRole, file.physicalName);
        grid->setItem(row, physical, target);
    }
    if (contents.header.backupFinishDate.isValid()) {
        m_ui->lblBackupDate->setText(mdlOVSqlRestore::BackupDateText(contents));
        m_ui->lblBackupDate->setToolTip(m_ui->lblBackupDate->text());
    }
    m_strLastListedFile = m_ui->txtPathFileName->text();
    m_lastListedDatabase = s.database;
    m_listedBackupSet = contents.header.position;
}

void frmDBRestore::cmdBrowse_Click()
{
    // Browsing and reading the chosen file are one task, as for the restore
    // button.
    ov::OneWaitPerServer oneWait;
    // While the server is being reached the date label says so, in place of
    // what the last read left there.
    const ov::QtStatusLabel waiting(m_ui->lblBackupDate);
    QString path = m_ui->txtPathFileName->text();
    if (!frmSqlServerDirectory::BrowseFrom(m_ui->panel->ReadAllTrimmed(), path, false, this))
        return;
    if (path != m_ui->txtPathFileName->text())
        m_ui->txtPathFileName->setText(path);
    if (!m_ui->txtPathFileName->text().isEmpty())
        ReadBackupFileInfo();
}

void frmDBRestore::cmdRestore_Click()
{
    // Listing the backup and restoring it are one task: a server given up on
    // while listing is not waited on again.
    ov::OneWaitPerServer oneWait;
    const ConnectionSettings s = m_ui->panel->ReadAllTrimmed();
    const QString path = mdlCommon::TrimBlanks(m_ui->txtPathFileName->text());
    if (path.isEmpty()) {
        ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("请先选择要还原的数据库备份文件！")));
        return;
    }
    // Targets the engine refuses are refused before the question, when the
    // grid shows the file of the path box.
    if (m_ui->txtPathFileName->text() == m_strLastListedFile) {
        QStringList logicalNames;
        QStringList targetNames;
        GridNames(logicalNames, targetNames);
        const QString refused =
            mdlOVSqlRestore::RefusedTargets(s.server, s.database, logicalNames, targetNames);
        if (!refused.isEmpty()) {
            ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("{1}"), {refused}),
                       ov::MsgStyle::Exclamation);
            return;
        }
    }
    if (ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("确定要使用 {1} 来还原数据库 {2} 吗？"),
                                             {path, s.database}),
                   ov::MsgStyle::QuestionYesNo) != ov::MsgAnswer::Yes)
        return;
    // A typed path is always listed before it is restored, and listed again
    // for another database, for which another set of the file may be chosen.
    if (m_ui->txtPathFileName->text() != m_strLastListedFile || s.database != m_lastListedDatabase)
        ReadBackupFileInfo();
    // The set whose date was shown; after a failed listing the server is
    // asked again for the set to restore.
    const int backupSet =
        m_ui->txtPathFileName->text() == m_strLastListedFile && s.database == m_lastListedDatabase
            ? m_listedBackupSet
            : 0;

    QPushButton* const buttons[] = {m_ui->cmdRestore, m_ui->cmdCancel};
    m_ui->cmdBrowse->setEnabled(false);
    for (QPushButton* b : buttons)
        b->setEnabled(false);
    m_ui->lblMsg->clear();
    m_ui->lblMsg->setVisible(true);
    m_ui->lblMsg->setText(QStringLiteral("正在恢复数据库..."));

    QStringList logicalNames;
    QStringList targetNames;
    GridNames(logicalNames, targetNames);

    if (logicalNames.isEmpty()) {
        ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral(
                       "恢复数据库失败，可能是访问服务器失败(比如密码不正确)，或者是备份文件不合法！")),
                   ov::MsgStyle::Exclamation);
    } else {
        const ov::QtStatusLabel waiting(m_ui->lblMsg);
        const QString result = mdlOVSqlRestore::RestoreDatabase(
            s.server, s.database, s.user, s.password, path, logicalNames, targetNames,
            m_ui->chkReplace->isChecked(), s.trusted, backupSet);
        if (result.isEmpty()) {
            ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("恢复数据库成功！")),
                       ov::MsgStyle::Information);
            mdlOVSqlServer::WriteDefaultPathFile(path);
            close();
            return;
        }
        ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("恢复数据库失败！\r\n") + result),
                   ov::MsgStyle::Exclamation);
    }
    m_ui->cmdBrowse->setEnabled(true);
    for (QPushButton* b : buttons)
        b->setEnabled(true);
    m_ui->lblMsg->clear();
    m_ui->lblMsg->setVisible(false);
}
