#include "cli/CliCommand.h"
#include "cli/CliUsage.h"
#include "common/TerminalUi.h"
#include "common/mdlOEMResource.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "config/mdlOVSqlServer.h"
#include "data/ConnectionString.h"
#include "data/ServerAdmin.h"

#include <QCoreApplication>

#include <cerrno>
#include <csignal>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

using namespace ovcli;

int main(int argc, char** argv)
{
#ifndef _WIN32
    // Output that cannot be written (a reader that went away, a file at the
    // size limit) fails the write, which the output functions note and the
    // exit code reports at the end; it must not end a run half-way through
    // an update.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    // A standard stream that was closed is opened on /dev/null for reading,
    // so that no file the run opens (a database) takes its number and gets
    // the messages, and a result printed there fails as unwritten.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int opened = open("/dev/null", O_RDONLY);
            if (opened >= 0 && opened != fd) {
                dup2(opened, fd);
                close(opened);
            }
        }
    }
#endif
    QCoreApplication app(argc, argv);
    QStringList raw = app.arguments().mid(1);
    // Help, the version, the manual page and the completion script need
    // nothing of the program folder and change nothing.
    if (const auto rc = answerAboutItself(raw))
        return *rc;
    // The user's Orvane folder is made only by the work that writes there
    // (the load files of a data set whose folder cannot be written), so a
    // command that only reads leaves the home folder as it was.
    mdlOVSqlUpdateDB::SetProcessPaths();
    ov::ServerAdmin::setProgramFolder(mdlOVSqlUpdateDB::gstrAppPath);

    const QString name = raw.takeFirst();
    Args args(raw);
    g_assumeYes = args.flag(QStringLiteral("--yes"));
    // The ODBC driver for SQL Server, over OV_SQLSERVER_DRIVER and the
    // registered drivers.
    if (const auto driver = args.option(QStringLiteral("--driver"))) {
        if (driver->trimmed().isEmpty())
            return fail(QStringLiteral("ovsqlcli: --driver needs the name of an ODBC driver"));
        ov::connstr::setSqlServerDriver(driver->trimmed());
    }
    // Microsoft's drivers take the server's certificate unchecked when asked
    // here or in the program's own section of the configuration file.
    if (args.flag(QStringLiteral("--trust-server-certificate")))
        ov::connstr::setTrustServerCertificate(true, QStringLiteral("--trust-server-certificate"));
    else if (mdlOVSqlServer::ReadTrustServerCertificate())
        ov::connstr::setTrustServerCertificate(
            true, QStringLiteral("OrvaneSqlConfig.ini [OVSQLUPDATEDB] TrustServerCertificate"));
    // Messages carry the product name, as the windows' captions do.
    ov::setApplicationTitle(mdlOEMResource::GetOEMShortName());
    ov::TerminalUi terminal(g_assumeYes);
    ov::setUi(&terminal);

    if (const Command* c = findCommand(name)) {
        int rc = c->run(args);
        // A noted failure (settings that could not be written) means the
        // run did not do all its work, however the command itself ended.
        if (rc == 0 && terminal.noteCount() > 0)
            rc = fail(QStringLiteral("ovsqlcli: the work is done, but what is said above could not be "
                                     "recorded"));
        ov::setUi(nullptr);
        return finishOutput(rc);
    }
    ov::setUi(nullptr);
    return fail(QStringLiteral("ovsqlcli: unknown command \"%1\" (see ovsqlcli help)").arg(name));
}
