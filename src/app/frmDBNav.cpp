#include "app/frmDBNav.h"

#include "app/TaskWindows.h"
#include "common/mdlCommon.h"
#include "common/mdlOEMResource.h"
#include "common/mdlResAndColor.h"
#include "config/mdlOVSqlServer.h"
#include "ui_frmDBNav.h"

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
    for (const auto& b : buttons) {
        const Task task = b.task;
        connect(b.button, &QPushButton::clicked, this, [this, task] { LaunchFromButton(task); });
    }
}

frmDBNav::~frmDBNav() = default;

void frmDBNav::LaunchFromButton(Task task)
{
    const TaskLaunch launch = LaunchForMenuButton(task, m_settings);
    // The task window is shown before the menu closes, so that the program,
    // which ends with its last window, never sees a moment without one.
    LaunchTask(launch);
    close();
}
