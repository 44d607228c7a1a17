#include "cli/CliCommand.h"
#include "config/mdlOVSqlServer.h"

#include <QFileInfo>

// ovsqlcli settings: the connection settings as the windows would start with
// them, from OrvaneSqlConfig.ini in the program folder. The password is only
// ever shown as set or empty.
namespace {

const char kSynopsis[] = "settings";

int run(ovcli::Args& args)
{
    if (!args.finish())
        return ovcli::usage(args, kSynopsis);
    const QString path = mdlOVSqlServer::ConfigFilePath();
    const ConnectionSettings s = mdlOVSqlServer::ReadMainSettings();
    const QString file = QFileInfo::exists(path) ? path : path + QStringLiteral(" (missing: defaults apply)");
    ovcli::printOut(QStringLiteral("file:     %1\n"
                                   "server:   %2\n"
                                   "database: %3\n"
                                   "login:    %4\n"
                                   "user:     %5\n"
                                   "password: %6\n")
                        .arg(file, s.server, s.database,
                             s.trusted ? QStringLiteral("Windows (trusted)") : QStringLiteral("SQL Server"),
                             s.user,
                             s.password.isEmpty() ? QStringLiteral("(empty)") : QStringLiteral("********")));
    return 0;
}

ovcli::Registrar reg({"settings",
                      kSynopsis,
                      &run,
                      "Prints the connection settings as the windows would start with them, from "
                      "OrvaneSqlConfig.ini in the program folder, or the defaults when it is missing. The "
                      "password is only shown as set or empty.",
                      {}});

} // namespace
