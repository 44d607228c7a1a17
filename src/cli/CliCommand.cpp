#include "cli/CliCommand.h"

#include "common/TerminalUi.h"

#include <QTextStream>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace ovcli {

bool g_assumeYes = false;

std::optional<QString> Args::option(const QString& name)
{
    for (int i = 0; i < m_raw.size(); ++i) {
        const QString& a = m_raw.at(i);
        if (a == name) {
            if (i + 1 >= m_raw.size()) {
                m_error = QStringLiteral("option %1 needs a value").arg(name);
                m_raw.removeAt(i);
                return std::nullopt;
            }
            const QString value = m_raw.at(i + 1);
            m_raw.remove(i, 2);
            return value;
        }
        if (a.startsWith(name + QLatin1Char('='))) {
            const QString value = a.mid(name.size() + 1);
            m_raw.removeAt(i);
            return value;
        }
    }
    return std::nullopt;
}

QStringList Args::options(const QString& name)
{
    QStringList values;
    while (const auto v = option(name))
        values.append(*v);
    return values;
}

bool Args::flag(const QString& name)
{
    return m_raw.removeAll(name) > 0;
}

std::optional<QString> Args::positional()
{
    for (int i = 0; i < m_raw.size(); ++i) {
        if (m_raw.at(i) == QLatin1String("--")) {
            m_raw.removeAt(i);
            if (i < m_raw.size())
                return m_raw.takeAt(i);
            return std::nullopt;
        }
        if (!m_raw.at(i).startsWith(QLatin1String("--")))
            return m_raw.takeAt(i);
    }
    return std::nullopt;
}

bool Args::finish()
{
    if (m_error.isEmpty() && !m_raw.isEmpty())
        m_error = QStringLiteral("unknown argument: %1").arg(m_raw.first());
    return m_error.isEmpty();
}

namespace {
QList<Command>& registry()
{
    static QList<Command> list;
    return list;
}
} // namespace

Registrar::Registrar(const Command& command)
{
    registry().append(command);
}

const QList<Command>& commands()
{
    return registry();
}

namespace {
// errno of the first write to stdout that failed; 0 while all were written.
int g_outputError = 0;
} // namespace

void printOut(const QString& text)
{
    if (!ov::terminalWrite(stdout, text) && g_outputError == 0)
        g_outputError = errno ? errno : EIO;
}

int finishOutput(int rc)
{
    if (g_outputError == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout)))
        g_outputError = errno ? errno : EIO;
    if (g_outputError == 0)
        return rc;
    fail(QStringLiteral("ovsqlcli: the output could not be written (%1); what the command printed is "
                        "incomplete")
             .arg(QString::fromLocal8Bit(std::strerror(g_outputError))));
    return rc == 0 ? 1 : rc;
}

void printErr(const QString& text)
{
    ov::terminalWrite(stderr, text);
}

int fail(const QString& message)
{
    printErr(message.endsWith(QLatin1Char('\n')) ? message : message + QLatin1Char('\n'));
    return 1;
}

int usage(const Args& args, const char* synopsis)
{
    return usageError(synopsis, args.error());
}

int usageError(const char* synopsis, const QString& why)
{
    printErr(QStringLiteral("ovsqlcli: %1\nusage: ovsqlcli %2\n").arg(why, QString::fromUtf8(synopsis)));
    return 2;
}

std::optional<QString> readSecretLine(const QString& prompt)
{
    const bool tty = isatty(STDIN_FILENO);
    termios saved{};
    if (tty) {
        printErr(prompt);
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    const bool got = static_cast<bool>(std::getline(std::cin, line));
    if (tty) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        printErr(QStringLiteral("\n"));
    }
    if (!got && line.empty())
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size()));
}

} // namespace ovcli
