#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The small framework of ovsqlcli: each command is a function in a file of its
// own that registers itself with a Registrar; main() dispatches by name.
namespace ovcli {

// The arguments of one command. Commands take what they know; whatever is
// left at finish() is an error, so a misspelt option never passes silently.
class Args
{
public:
    explicit Args(QStringList raw) : m_raw(std::move(raw)) {}

    // "--name VALUE" or "--name=VALUE"; nullopt when absent. A missing VALUE
    // records an error.
    std::optional<QString> option(const QString& name);
    // Every occurrence of a repeatable "--name VALUE".
    QStringList options(const QString& name);
    // "--name" without value; true when present.
    bool flag(const QString& name);
    // The next argument that is not an option; nullopt when none is left.
    std::optional<QString> positional();
    // True when every argument was taken and none was malformed; otherwise
    // error() tells what was wrong.
    bool finish();
    QString error() const { return m_error; }

private:
    QStringList m_raw;
    QString m_error;
};

// One option or operand of a command, as its usage text explains it.
struct OptionHelp
{
    const char* term; // as the synopsis writes it: "--to PATH", "--replace", "FILE"
    const char* text;
};

// A command and its usage text. "ovsqlcli help COMMAND", the manual page and
// the bash completion are all made from these, so they never disagree.
struct Command
{
    const char* name;
    const char* synopsis; // one usage line, shown by "ovsqlcli help"
    int (*run)(Args& args);
    const char* description;   // what the command does; paragraphs separated by an empty line
    QList<OptionHelp> options; // its options and operands, in the order of the synopsis
};

struct Registrar
{
    explicit Registrar(const Command& command);
};

const QList<Command>& commands();

// Output: results to stdout, messages and progress to stderr.
void printOut(const QString& text);
void printErr(const QString& text);
// The exit code of a command that ended with rc, once what it printed on
// stdout is flushed: when any of it could not be written (a full disk, a
// reader that went away), the result did not reach its reader, and the run
// fails with a message on stderr (1, or rc when that already says failure).
int finishOutput(int rc);
// Prints message to stderr and returns the failure exit code.
int fail(const QString& message);
// For a usage error: prints the error and the command's synopsis; returns 2.
int usage(const Args& args, const char* synopsis);
int usageError(const char* synopsis, const QString& why);

// Reads one line from standard input without its line end (CR LF or LF).
// When standard input is a terminal, prompt is shown on stderr and typing is
// not echoed. nullopt when the input ended before any character.
std::optional<QString> readSecretLine(const QString& prompt);

// True when "--yes" was given: every confirmation question is answered yes.
extern bool g_assumeYes;

} // namespace ovcli
