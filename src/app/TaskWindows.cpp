#include "app/TaskWindows.h"

#include "app/frmDBNav.h"
#include "backup/frmDBBackup.h"
#include "backup/frmDBRestore.h"
#include "common/UiPort.h"
#include "config/mdlOVSqlServer.h"
#include "convert/frmDBConvert.h"
#include "create/frmDBCreate.h"
#include "update/frmDBUpdate.h"

void LaunchTask(const TaskLaunch& launch)
{
    if (launch.task == Task::Menu) {
        frmDBNav::ShowMe();
        return;
    }
    // A failed write of the result key shows no message box; the settings
    // module logs it.
    if (launch.resetKey == ResultKey::UpdateDBResult)
        mdlOVSqlServer::WriteUpdateDBResult(false);
    else if (launch.resetKey == ResultKey::CreateDBResult)
        mdlOVSqlServer::WriteCreateDBResult(false);
    ov::setApplicationTitle(launch.title);
    const ConnectionSettings& v = launch.values;
    switch (launch.task) {
    case Task::Restore:
        frmDBRestore::ShowMe(v.server, v.database, v.trusted, v.user);
        break;
    case Task::Backup:
        frmDBBackup::ShowMe(v.server, v.database, v.trusted, v.user, v.password);
        break;
    case Task::Update:
        frmDBUpdate::ShowMe(v.server, v.database, v.trusted, v.user);
        break;
    case Task::Create:
        frmDBCreate::ShowMe(v.server, v.database, v.trusted, v.user);
        break;
    case Task::Convert:
        frmDBConvert::ShowMe(v.server, v.database, v.trusted, v.user);
        break;
    case Task::Menu:
        break;
    }
}
