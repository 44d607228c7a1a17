#include "app/Main.h"

#include "app/TaskLaunch.h"
#include "app/TaskWindows.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "config/mdlOVSqlServer.h"
#include "data/ConnectionString.h"
#include "data/ServerAdmin.h"

namespace mdlOVSqlUpdateDB {

void Main(const QStringList& arguments)
{
    InitProcessPaths();
    ov::ServerAdmin::setProgramFolder(gstrAppPath);
    if (mdlOVSqlServer::ReadTrustServerCertificate())
        ov::connstr::setTrustServerCertificate(
            true, QStringLiteral("OrvaneSqlConfig.ini [OVSQLUPDATEDB] TrustServerCertificate"));
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
