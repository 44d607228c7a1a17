#pragma once

#include "cli/CliCommand.h"

#include <QString>
#include <QStringList>

#include <optional>

// What ovsqlcli tells about itself, all made from the commands' usage texts:
// the list of commands, one command's usage, the version, the manual page and
// the bash completion.
namespace ovcli {

// The command of that name; nullptr when there is none.
const Command* findCommand(const QString& name);

// The list of commands, for "ovsqlcli help".
QString generalHelp();
// One command's usage, for "ovsqlcli help COMMAND" and "COMMAND --help".
QString usageText(const Command& command);
// True when the arguments of command ask for its usage ("--help" or "-h"):
// a word that is the value of an option, or that follows "--", is no such
// request.
bool asksForHelp(const Command& command, const QStringList& args);

// The manual page ovsqlcli(1) in roff, and a bash completion script; the
// build writes both from these (see src/cli/CMakeLists.txt).
QString manualPage();
QString bashCompletion();

// Answers the arguments that ask about the program rather than run a
// command: help, the version, the manual page and the completion script.
// The exit code when it answered, nullopt when a command is to run.
std::optional<int> answerAboutItself(const QStringList& args);

} // namespace ovcli
