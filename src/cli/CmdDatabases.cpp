#include "cli/CliCommand.h"
#include "cli/CliLogin.h"
#include "data/ServerAdmin.h"

// ovsqlcli databases: the names of the server's databases, one a line, in
// the server's order.
namespace {

const char kSynopsis[] = "databases [--server S] [--trusted | --user NAME [--password-stdin]]";

int run(ovcli::Args& args)
{
    ovcli::LoginOptions login;
    if (!login.take(args, false) || !args.finish()) {
        ovcli::printErr(
            QStringLiteral("ovsqlcli: %1\nusage: ovsqlcli %2\n")
                .arg(args.error().isEmpty() ? login.error() : args.error(), QLatin1String(kSynopsis)));
        return 2;
    }
    if (!login.readPassword())
        return ovcli::fail(QStringLiteral("ovsqlcli: ") + login.error());
    const ConnectionSettings& s = login.settings();
    const auto admin = ov::ServerAdmin::create(s.server, s.trusted, s.user, s.password);
    QStringList names;
    if (!admin->listDatabases(names)) {
        const ov::DataError& e = admin->lastError();
        return ovcli::fail(QStringLiteral("ovsqlcli: the databases of %1 cannot be listed.\n%2\n%3")
                               .arg(s.server, QString::number(e.number), e.description));
    }
    QString out;
    for (const QString& name : names)
        out += name + QLatin1Char('\n');
    ovcli::printOut(out);
    return 0;
}

ovcli::Registrar reg({"databases", kSynopsis, &run,
                      "Prints the names of the server's databases, one a line, in the server's order.",
                      ovcli::LoginOptions::help(false)});

} // namespace
