#include "app/Main.h"

#include "app/TaskLaunch.h"
#include "app/TaskWindows.h"
#include "app/mdlOVSqlUpdateDB.h"
#include "config/mdlOVSqlServer.h"

namespace mdlOVSqlUpdateDB {

bool Main(const QStringList& arguments)
{
    InitProcessPaths();
    return StartUp(arguments);
}

bool StartUp(const QStringList& arguments)
{
    gstrCommand = NormalizeCommandLine(arguments);
    // The stored password is read with the rest, but no window receives it.
    const ConnectionSettings settings = mdlOVSqlServer::ReadMainSettings();
    return LaunchTask(LaunchForSwitch(gstrCommand, settings));
}

} // namespace mdlOVSqlUpdateDB
