#include "cli/CliCommand.h"
#include "config/mdlOVSqlServer.h"
#include "data/ConnectionString.h"
#include "data/Server.h"

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
    // The driver a SQL Server connection would use, and what chose it.
    const ov::connstr::SqlServerDriverChoice driver = ov::connstr::chooseSqlServerDriver();
    QString why;
    switch (driver.source) {
    case ov::connstr::SqlServerDriverChoice::Option:
        why = QStringLiteral("--driver");
        break;
    case ov::connstr::SqlServerDriverChoice::Environment:
        why = QStringLiteral("OV_SQLSERVER_DRIVER");
        break;
    case ov::connstr::SqlServerDriverChoice::Registered:
        why = QStringLiteral("registered with the ODBC driver manager");
        break;
    case ov::connstr::SqlServerDriverChoice::Fallback:
        why = QStringLiteral("no SQL Server driver is registered with the ODBC driver manager");
        break;
    }
    ovcli::printOut(QStringLiteral("driver:   %1 (%2)%3\n")
                        .arg(driver.name, why,
                             ov::Server(s).engine() == ov::Server::Engine::Embedded
                                 ? QStringLiteral("; not used for the embedded server")
                                 : QString()));
    const QString trust = ov::connstr::trustServerCertificateSource();
    ovcli::printOut(QStringLiteral("certificate: %1\n")
                        .arg(ov::connstr::trustServerCertificate()
                                 ? QStringLiteral("taken unchecked by Microsoft's drivers (%1)").arg(trust)
                                 : QStringLiteral("checked when the connection is encrypted")));
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
