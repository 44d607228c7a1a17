#include "app/frmDBNav.h"

#include "app/TaskWindows.h"
#include "common/mdlCommon.h"
#include "common/mdlOEMResource.h"
#include "common/mdlResAndColor.h"
#include "config/mdlOVSqlServer.h"
#include "ui_frmDBNav.h"

#include <QGuiApplication>
#include <QKeySequence>
#include <QShortcut>

frmDBNav* frmDBNav::ShowMe()
{
    auto* window = new frmDBNav;
    window->m_settings = mdlOVSqlServer::ReadMainSettings();
    // The menu never hands the stored password to a task window.
    window->m_settings.password.clear();
    window->setWindowTitle(
        mdlCommon::FormatTemplate(QStringLiteral("{1} -- 数据库维护"), {mdlOEMResource::GetOEMShortName()}));
    window->show();
    return window;
}

frmDBNav::frmDBNav(QWidget* parent) : QWidget(parent), m_ui(new Ui::frmDBNav)
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(size());
    mdlResAndColor::ApplyFormStyle(this);

    // cmdClose is the cancel button: Escape presses it.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, m_ui->cmdClose, &QPushButton::click);
    connect(m_ui->cmdClose, &QPushButton::clicked, this, &QWidget::close);

    const struct
    {
        QPushButton* button;
        Task task;
    } buttons[] = {
        {m_ui->cmdUpdateDB, Task::Update},   {m_ui->cmdCreateDB, Task::Create},
        {m_ui->cmdConvertDB, Task::Convert}, {m_ui->cmdRestoreDB, Task::Restore},
        {m_ui->cmdBackupDB, Task::Backup},
    };
    // Enter presses the button that has the focus, as in the task windows.
    for (QPushButton* b : findChildren<QPushButton*>())
        b->setAutoDefault(true);
    for (const auto& b : buttons) {
        const Task task = b.task;
        connect(b.button, &QPushButton::clicked, this, [this, task] { LaunchFromButton(task); });
    }
}

frmDBNav::~frmDBNav() = default;

void frmDBNav::LaunchFromButton(Task task)
{
    const TaskLaunch launch = LaunchForMenuButton(task, m_settings);
    // The menu closes before the task window opens, so the task window takes
    // the place of the active window as a window of its own. The program,
    // which ends with its last window, must not end in the moment between.
    const bool quitOnLast = QGuiApplication::quitOnLastWindowClosed();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    close();
    LaunchTask(launch);
    QGuiApplication::setQuitOnLastWindowClosed(quitOnLast);
}
