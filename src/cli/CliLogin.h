#pragma once

#include "cli/CliCommand.h"
#include "config/ConnectionSettings.h"

#include <QString>

// The login options of every database command:
//   --server S  --database D  --trusted | --user NAME [--password-stdin]
// Each defaults to the configuration file's value, as the windows start with
// them; --user chooses a SQL Server login, --trusted a Windows login. The
// password is never taken from the command line, the environment or the
// configuration file: --password-stdin reads it as the first line of standard
// input, otherwise it is asked for on the terminal. The embedded engine has no
// logins, so no password is asked for it.
namespace ovcli {

class LoginOptions
{
public:
    // The usage texts of the options; withDatabase adds --database.
    static QList<OptionHelp> help(bool withDatabase);

    // Takes the options from args (before args.finish()). False, with error()
    // telling why, for options that contradict each other.
    bool take(Args& args, bool withDatabase);
    // Reads the password when the login needs one (after args.finish(), so
    // a usage error never waits for input). False, with error(), when the
    // password cannot be had.
    bool readPassword();

    const ConnectionSettings& settings() const { return m_settings; }
    // --password-stdin was given.
    bool passwordStdin() const { return m_passwordStdin; }
    QString error() const { return m_error; }

private:
    ConnectionSettings m_settings;
    bool m_passwordStdin = false;
    QString m_error;
};

} // namespace ovcli
