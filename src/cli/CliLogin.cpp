#include "cli/CliLogin.h"

#include <algorithm>
#include <utility>

#include "config/mdlOVSqlServer.h"
#include "data/Server.h"

#include <unistd.h>

namespace ovcli {

QList<OptionHelp> LoginOptions::help(bool withDatabase)
{
    QList<OptionHelp> options = {
        {"--server S",
         "the server: a SQL Server (host, host\\instance or host,port) or sqlite:FOLDER for the "
         "embedded engine, FOLDER absolute or relative to the program folder; default: DBServer "
         "of the configuration file"},
    };
    if (withDatabase)
        options.append(OptionHelp{"--database D", "the database; default: DBName of the configuration file"});
    options += QList<OptionHelp>{
        {"--trusted", "log in with the Windows login; the default when the configuration file says so "
                      "(DBIsTrustMode=1)"},
        {"--user NAME", "log in as the SQL Server login NAME; default: DBUser of the configuration file when "
                        "it chooses a SQL Server login. The password is asked for on the terminal"},
        {"--password-stdin", "read the password of the SQL Server login as the first line of standard input "
                             "instead (never from the command line or the environment). The embedded engine "
                             "has no logins and asks for no password"},
    };
    return options;
}

bool LoginOptions::take(Args& args, bool withDatabase)
{
    m_settings = mdlOVSqlServer::ReadMainSettings();
    // The stored password is for the product's main program, not for us.
    m_settings.password.clear();
    const auto server = args.option(QStringLiteral("--server"));
    if (server)
        m_settings.server = server->trimmed();
    if (withDatabase) {
        if (const auto database = args.option(QStringLiteral("--database")))
            m_settings.database = database->trimmed();
    }
    const bool trusted = args.flag(QStringLiteral("--trusted"));
    const auto user = args.option(QStringLiteral("--user"));
    m_passwordStdin = args.flag(QStringLiteral("--password-stdin"));
    if (trusted && user) {
        m_error = QStringLiteral("--trusted and --user exclude each other");
        return false;
    }
    if (trusted)
        m_settings.trusted = true;
    if (user) {
        m_settings.trusted = false;
        m_settings.user = user->trimmed();
    }
    if (m_passwordStdin && m_settings.trusted) {
        m_error = QStringLiteral("--password-stdin goes with a SQL Server login (--user NAME)");
        return false;
    }
    // A name with a line break or another control character names no
    // server or login, and could not be kept in the settings after the
    // work: refused before anything is done.
    const auto control = [](const QString& name) {
        return std::any_of(name.cbegin(), name.cend(),
                           [](QChar c) { return c.category() == QChar::Other_Control; });
    };
    for (const auto& [option, value] :
         {std::pair{QStringLiteral("--server"), server}, std::pair{QStringLiteral("--user"), user}}) {
        if (value && control(*value)) {
            m_error =
                QStringLiteral("%1 \"%2\" cannot be used: it holds a control character").arg(option, *value);
            return false;
        }
    }
    return true;
}

bool LoginOptions::readPassword()
{
    if (m_settings.trusted || (!m_passwordStdin && !ov::Server(m_settings).takesLogin()))
        return true;
    if (!m_passwordStdin && !isatty(STDIN_FILENO)) {
        m_error = QStringLiteral("the SQL Server login %1 needs a password: give --password-stdin and the "
                                 "password as the first line of standard input")
                      .arg(m_settings.user);
        return false;
    }
    const auto password =
        readSecretLine(QStringLiteral("Password of %1 on %2: ").arg(m_settings.user, m_settings.server));
    if (!password) {
        m_error = QStringLiteral("no password on standard input");
        return false;
    }
    m_settings.password = *password;
    return true;
}

} // namespace ovcli
