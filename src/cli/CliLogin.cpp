#include "cli/CliLogin.h"

#include "config/mdlOVSqlServer.h"
#include "data/ServerAdmin.h"

#include <unistd.h>

namespace ovcli {

QString LoginOptions::synopsis(bool withDatabase)
{
    return QStringLiteral("[--server S]") + (withDatabase ? QStringLiteral(" [--database D]") : QString()) +
           QStringLiteral(" [--trusted | --user NAME [--password-stdin]]");
}

bool LoginOptions::take(Args& args, bool withDatabase)
{
    m_settings = mdlOVSqlServer::ReadMainSettings();
    // The stored password is for the product's main program, not for us.
    m_settings.password.clear();
    if (const auto server = args.option(QStringLiteral("--server")))
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
    return true;
}

bool LoginOptions::readPassword()
{
    if (m_settings.trusted || (!m_passwordStdin && !ov::ServerAdmin::takesLogin(m_settings.server)))
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
