#include "app/Main.h"

#include "app/TaskLaunch.h"
#include "app/TaskWindows.h"
#include "app/mdlOVSqlUpdateDB.h"
#include "config/mdlOVSqlServer.h"

namespace mdlOVSqlUpdateDB {

void Main(const QStringList& arguments)
{
    InitProcessPaths();
    StartUp(arguments);
}

void StartUp(const QStringList& arguments)
{
    gstrCommand = NormalizeCommandLine(arguments);
    // The stored password is read with the rest, but no window receives it.
    const ConnectionSettings settings = mdlOVSqlServer::ReadMainSettings();
    LaunchTask(LaunchForSwitch(gstrCommand, settings));
}

} // namespace mdlOVSqlUpdateDB
