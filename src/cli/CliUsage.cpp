#include "cli/CliUsage.h"

#include <QRegularExpression>

#include <algorithm>
#include <cstdio>

namespace ovcli {

namespace {

const char kProgram[] = "ovsqlcli";
const int kWidth = 79;
const int kTermColumn = 24;

// The options every command takes besides its own.
const QList<OptionHelp>& commonOptions()
{
    static const QList<OptionHelp> options = {
        {"--yes", "answer yes to every confirmation question; without it a question is asked on the "
                  "terminal, and refused when standard input is not a terminal"},
        {"--driver NAME", "the ODBC driver that reaches SQL Server, over OV_SQLSERVER_DRIVER and the "
                          "registered drivers (ovsqlcli settings shows the one in use)"},
        {"--trust-server-certificate",
         "Microsoft's ODBC drivers take the server's certificate unchecked (as the key "
         "TrustServerCertificate=1 of section OVSQLUPDATEDB of OrvaneSqlConfig.ini does)"},
        {"-h, --help", "print this usage and end"},
    };
    return options;
}

QString text(const char* s)
{
    return QString::fromUtf8(s);
}

QString version()
{
    return QStringLiteral(OV_VERSION);
}

// The words of text, filled into lines of at most width characters, each
// line after the first indented by indent spaces.
QString wrap(const QString& text, int width, int indent)
{
    QString out;
    int column = 0;
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& word : words) {
        if (column > indent && column + 1 + word.size() > width) {
            out += QLatin1Char('\n') + QString(indent, QLatin1Char(' '));
            column = indent;
        } else if (column > 0 && !out.endsWith(QLatin1Char(' '))) {
            out += QLatin1Char(' ');
            ++column;
        }
        out += word;
        column += static_cast<int>(word.size());
    }
    return out;
}

QStringList paragraphs(const char* description)
{
    return text(description).split(QStringLiteral("\n\n"), Qt::SkipEmptyParts);
}

// "  TERM   text..." with the text in a column of its own.
QString optionLines(const QList<OptionHelp>& options)
{
    QString out;
    for (const OptionHelp& o : options) {
        const QString term = QStringLiteral("  ") + text(o.term);
        QString line = term;
        if (term.size() + 2 > kTermColumn)
            line += QLatin1Char('\n') + QString(kTermColumn, QLatin1Char(' '));
        else
            line += QString(kTermColumn - term.size(), QLatin1Char(' '));
        out += line +
               wrap(text(o.text), kWidth - kTermColumn, 0)
                   .replace(QLatin1Char('\n'), QLatin1Char('\n') + QString(kTermColumn, QLatin1Char(' '))) +
               QLatin1Char('\n');
    }
    return out;
}

// The name of an option ("--to" of "--to PATH") and its value placeholder
// ("PATH"; empty for a flag). An operand has no name, only a placeholder.
struct Term
{
    QString name;
    QString value;
};

QList<Term> terms(const OptionHelp& o)
{
    QList<Term> out;
    for (QString part : text(o.term).split(QStringLiteral(", "))) {
        part = part.trimmed();
        if (!part.startsWith(QLatin1Char('-')))
            out.append({QString(), part});
        else
            out.append({part.section(QLatin1Char(' '), 0, 0), part.section(QLatin1Char(' '), 1)});
    }
    return out;
}

QList<Term> allTerms(const Command& c)
{
    QList<Term> out;
    for (const OptionHelp& o : c.options + commonOptions())
        out += terms(o);
    return out;
}

// A placeholder that stands for a file on this machine (or on the embedded
// engine's server, which is this machine), for the completion.
bool namesAFile(const QString& placeholder)
{
    static const QRegularExpression file(QStringLiteral("^(F|FILE|PATH|F\\.\\w+)$"));
    return file.match(placeholder).hasMatch();
}

// Text for roff: backslashes, hyphens and quotes escaped, so the page shows
// them as typed (and a hyphen can be copied into a shell); a line starting
// with a control character is kept as text.
QString roff(const QString& s)
{
    QString out;
    for (const QChar c : s) {
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\e");
        else if (c == QLatin1Char('-'))
            out += QLatin1String("\\-");
        else if (c == QLatin1Char('\''))
            out += QLatin1String("\\(aq");
        else if (c == QLatin1Char('"'))
            out += QLatin1String("\\(dq");
        else
            out += c;
    }
    if (out.startsWith(QLatin1Char('.')))
        out.prepend(QLatin1String("\\&"));
    return out;
}

// A word list for bash, single-quoted.
QString shellWords(const QStringList& words)
{
    QStringList quoted;
    for (QString w : words)
        quoted << QLatin1Char('\'') + w.replace(QLatin1Char('\''), QLatin1String("'\\''")) +
                      QLatin1Char('\'');
    return quoted.join(QLatin1Char(' '));
}

QList<Command> sortedCommands()
{
    QList<Command> list = commands();
    std::sort(list.begin(), list.end(),
              [](const Command& a, const Command& b) { return qstrcmp(a.name, b.name) < 0; });
    return list;
}

// Prints text on standard output and gives the exit code: 0, or 1 with a
// message when it could not be written whole (a full disk, a closed output),
// so that a build never installs a cut-off manual page.
int printAnswer(const QString& text)
{
    printOut(text);
    return finishOutput(0);
}

} // namespace

const Command* findCommand(const QString& name)
{
    for (const Command& c : commands()) {
        if (name == QLatin1String(c.name))
            return &c;
    }
    return nullptr;
}

QString generalHelp()
{
    QString out = QStringLiteral("usage: ovsqlcli COMMAND [options]\n\ncommands:\n");
    for (const Command& c : sortedCommands())
        out += QStringLiteral("  %1\n").arg(text(c.synopsis));
    out +=
        QStringLiteral("\n") +
        wrap(QStringLiteral("ovsqlcli help COMMAND (or ovsqlcli COMMAND --help) explains a command and its "
                            "options; ovsqlcli --version prints the version. Every command accepts --yes, "
                            "which answers yes to every confirmation question, and --driver NAME, the "
                            "ODBC driver that reaches SQL Server (see settings)."),
             kWidth, 0) +
        QLatin1Char('\n');
    return out;
}

QString usageText(const Command& c)
{
    QString out = QStringLiteral("usage: %1 %2\n").arg(QLatin1String(kProgram), text(c.synopsis));
    for (const QString& p : paragraphs(c.description))
        out += QLatin1Char('\n') + wrap(p.simplified(), kWidth, 0) + QLatin1Char('\n');
    if (!c.options.isEmpty())
        out += QStringLiteral("\noptions:\n") + optionLines(c.options);
    out += QStringLiteral("\ncommon options:\n") + optionLines(commonOptions());
    return out;
}

bool asksForHelp(const Command& c, const QStringList& args)
{
    const QList<Term> known = allTerms(c);
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--"))
            return false;
        if (a == QLatin1String("--help") || a == QLatin1String("-h"))
            return true;
        // "--name VALUE": the value is passed over, whatever it is.
        for (const Term& t : known) {
            if (!t.name.isEmpty() && !t.value.isEmpty() && a == t.name) {
                ++i;
                break;
            }
        }
    }
    return false;
}

QString manualPage()
{
    QString page =
        QStringLiteral(".\\\" The manual page of ovsqlcli, written by \"ovsqlcli --manual-page\" from its "
                       "usage texts.\n"
                       ".TH OVSQLCLI 1 \"\" \"ovsqlcli %1\" \"User Commands\"\n"
                       ".nh\n.ad l\n")
            .arg(version());
    page +=
        QStringLiteral(".SH NAME\novsqlcli \\- maintenance of Orvane CRM databases from the command line\n");
    page += QStringLiteral(".SH SYNOPSIS\n.B ovsqlcli\n.I COMMAND\n[options]\n.br\n.B ovsqlcli help\n"
                           "[\\fICOMMAND\\fR]\n.br\n.B ovsqlcli \\-\\-version\n");
    page += QStringLiteral(
        ".SH DESCRIPTION\n"
        "ovsqlcli runs the tasks of the database maintenance tool OVSqlUpdateDB without its windows: "
        "the same operations, questions and messages, printed. Messages and progress go to standard "
        "error, results to standard output. The exit code is 0 only when the command did all its work, "
        "1 when it failed, and 2 for a usage error or when the work could not start; update exits 3 when "
        "it completed but the schema check after it found tables or columns of the database's version "
        "missing.\n"
        ".PP\n"
        "The connection settings default to those of OrvaneSqlConfig.ini in the program folder, as the "
        "windows start with them. A server name sqlite:FOLDER selects the embedded engine, one SQLite "
        "file per database in FOLDER (absolute, or relative to the program folder); any other name is "
        "a SQL Server.\n");
    page += QStringLiteral(".SH COMMANDS\n");
    for (const Command& c : sortedCommands()) {
        page += QStringLiteral(".SS %1\n.B \"%2 %3\"\n")
                    .arg(roff(text(c.name)), QLatin1String(kProgram), roff(text(c.synopsis)));
        for (const QString& p : paragraphs(c.description))
            page += QStringLiteral(".PP\n") + roff(p.simplified()) + QLatin1Char('\n');
        for (const OptionHelp& o : c.options)
            page += QStringLiteral(".TP\n.B \"%1\"\n%2\n").arg(roff(text(o.term)), roff(text(o.text)));
    }
    page += QStringLiteral(".SH COMMON OPTIONS\n");
    for (const OptionHelp& o : commonOptions())
        page += QStringLiteral(".TP\n.B \"%1\"\n%2\n").arg(roff(text(o.term)), roff(text(o.text)));
    page += QStringLiteral(".SH FILES\n.TP\n.B OrvaneSqlConfig.ini\n"
                           "the connection settings, in the program folder, shared with the product's "
                           "main program\n"
                           ".TP\n.B UpdateDBSqlLog.Txt\n"
                           "the log of every script run, in the program folder\n"
                           ".SH SEE ALSO\n.BR OVSqlUpdateDB (1)\n");
    return page;
}

QString bashCompletion()
{
    const QList<Command> list = sortedCommands();
    // Command and option names are plain words of letters and hyphens.
    QStringList names;
    for (const Command& c : list)
        names << text(c.name);

    QString script =
        QStringLiteral(
            "# bash completion for ovsqlcli, written by \"ovsqlcli --bash-completion\" from its usage "
            "texts.\n"
            "_ovsqlcli()\n"
            "{\n"
            "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
            "    COMPREPLY=()\n"
            "    if ((COMP_CWORD == 1)); then\n"
            "        mapfile -t COMPREPLY < <(compgen -W \"%1 help --help -h --version\" -- \"$cur\")\n"
            "        return\n"
            "    fi\n"
            "    if [[ ${COMP_WORDS[1]} == help ]]; then\n"
            "        ((COMP_CWORD == 2)) && mapfile -t COMPREPLY < <(compgen -W \"%1\" -- \"$cur\")\n"
            "        return\n"
            "    fi\n"
            "    # Per command: its options, those that take a value, those whose value\n"
            "    # is a file, and whether its operands are files.\n"
            "    local options values files operands=\n"
            "    case ${COMP_WORDS[1]} in\n")
            .arg(names.join(QLatin1Char(' ')));
    for (const Command& c : list) {
        QStringList options, values, files;
        bool fileOperands = false;
        for (const Term& t : allTerms(c)) {
            if (t.name.isEmpty()) {
                fileOperands = fileOperands || namesAFile(t.value);
                continue;
            }
            options << t.name;
            if (!t.value.isEmpty())
                values << t.name;
            if (namesAFile(t.value))
                files << t.name;
        }
        script += QStringLiteral("    %1)\n"
                                 "        options=(%2)\n"
                                 "        values=(%3)\n"
                                 "        files=(%4)\n"
                                 "        operands=%5\n"
                                 "        ;;\n")
                      .arg(shellWords({text(c.name)}), shellWords(options), shellWords(values),
                           shellWords(files), fileOperands ? QStringLiteral("files") : QString());
    }
    script += QStringLiteral("    *) return ;;\n"
                             "    esac\n"
                             "    local o\n"
                             "    for o in \"${values[@]}\"; do\n"
                             "        if [[ $prev == \"$o\" ]]; then\n"
                             "            for o in \"${files[@]}\"; do\n"
                             "                if [[ $prev == \"$o\" ]]; then\n"
                             "                    compopt -o filenames 2>/dev/null\n"
                             "                    mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
                             "                fi\n"
                             "            done\n"
                             "            return\n"
                             "        fi\n"
                             "    done\n"
                             "    if [[ $cur == -* ]]; then\n"
                             "        mapfile -t COMPREPLY < <(compgen -W \"${options[*]}\" -- \"$cur\")\n"
                             "    elif [[ $operands == files ]]; then\n"
                             "        compopt -o filenames 2>/dev/null\n"
                             "        mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
                             "    fi\n"
                             "}\n"
                             "complete -F _ovsqlcli ovsqlcli\n");
    return script;
}

std::optional<int> answerAboutItself(const QStringList& args)
{
    if (args.isEmpty()) {
        printOut(generalHelp());
        return finishOutput(2);
    }
    const QString& first = args.first();
    if (first == QLatin1String("help") || first == QLatin1String("--help") || first == QLatin1String("-h")) {
        if (args.size() == 1)
            return printAnswer(generalHelp());
        if (args.size() > 2)
            return usageError("help [COMMAND]", QStringLiteral("too many arguments"));
        const Command* c = findCommand(args.at(1));
        if (!c)
            return usageError("help [COMMAND]", QStringLiteral("unknown command \"%1\"").arg(args.at(1)));
        return printAnswer(usageText(*c));
    }
    if (first == QLatin1String("--version") || first == QLatin1String("--manual-page") ||
        first == QLatin1String("--bash-completion")) {
        if (args.size() > 1)
            return usageError(first.toUtf8().constData(), QStringLiteral("too many arguments"));
        if (first == QLatin1String("--version"))
            return printAnswer(QStringLiteral("%1 %2\n").arg(QLatin1String(kProgram), version()));
        return printAnswer(first == QLatin1String("--manual-page") ? manualPage() : bashCompletion());
    }
    if (const Command* c = findCommand(first)) {
        if (asksForHelp(*c, args.mid(1)))
            return printAnswer(usageText(*c));
    }
    return std::nullopt;
}

} // namespace ovcli
