// What ovsqlcli tells about itself: its version, each command's usage, the
// manual page and the bash completion made from the same texts at build time
// and installed with the program.

#include "support/CliProgram.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using Result = ovtest::CliResult;

// The version that CMakeLists.txt gives the project.
QString projectVersion()
{
    QFile f(QStringLiteral(OV_SOURCE_DIR "/CMakeLists.txt"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("(unreadable)");
    const auto m = QRegularExpression(QStringLiteral(R"(project\(\S+\s+VERSION\s+([0-9.]+))"))
                       .match(QString::fromUtf8(f.readAll()));
    return m.hasMatch() ? m.captured(1) : QStringLiteral("(no version)");
}

// Runs a program to its end; stdout and stderr joined.
QString runProgram(const QString& program, const QStringList& args, int* exitCode = nullptr,
                   const QStringList& environment = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    if (!environment.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& kv : environment)
            env.insert(kv.section(QLatin1Char('='), 0, 0), kv.section(QLatin1Char('='), 1));
        p.setProcessEnvironment(env);
    }
    p.start(program, args);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(300000)) << program.toStdString();
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAll());
}

class UsageTextsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(ovtest::InstallCli(m_dir.path()));
    }
    Result run(const QStringList& args) const { return ovtest::RunCli(m_dir.path(), args); }

    // The commands and their synopses, as "ovsqlcli help" lists them.
    QMap<QString, QString> synopses() const
    {
        QMap<QString, QString> map;
        const Result r = run({QStringLiteral("help")});
        for (const QString& line : r.out.split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1String("  ")) && !line.startsWith(QLatin1String("   ")))
                map.insert(line.trimmed().section(QLatin1Char(' '), 0, 0), line.trimmed());
        }
        return map;
    }

    QTemporaryDir m_dir;
};

TEST_F(UsageTextsTest, VersionIsTheProjectVersion)
{
    const Result r = run({QStringLiteral("--version")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("ovsqlcli %1\n").arg(projectVersion()));
    EXPECT_EQ(r.err, QString());
}

TEST_F(UsageTextsTest, EveryCommandPrintsItsUsageHoweverItIsAskedFor)
{
    const QMap<QString, QString> commands = synopses();
    ASSERT_GE(commands.size(), 12) << run({QStringLiteral("help")}).out.toStdString();
    for (auto it = commands.cbegin(); it != commands.cend(); ++it) {
        const QString& name = it.key();
        SCOPED_TRACE(name.toStdString());
        const Result asked = run({QStringLiteral("help"), name});
        ASSERT_EQ(asked.exitCode, 0) << asked.err.toStdString();
        EXPECT_TRUE(asked.out.startsWith(QStringLiteral("usage: ovsqlcli %1\n").arg(it.value())))
            << asked.out.toStdString();
        // More than the synopsis: what the command does, and its options.
        EXPECT_GT(asked.out.count(QLatin1Char('\n')), 3) << asked.out.toStdString();
        EXPECT_TRUE(asked.out.contains(QLatin1String("--yes"))) << asked.out.toStdString();
        EXPECT_EQ(asked.err, QString());
        // Every option of the synopsis is explained.
        const auto options = QRegularExpression(QStringLiteral("--[a-z-]+")).globalMatch(it.value());
        for (auto o = options; o.hasNext();) {
            const QString option = o.next().captured();
            EXPECT_TRUE(
                asked.out.contains(QRegularExpression(QStringLiteral("\n  (-h, )?%1\\b").arg(option))))
                << option.toStdString() << " is not explained:\n"
                << asked.out.toStdString();
        }

        // The same text for "COMMAND --help" and "COMMAND -h", also among
        // other options and values that would otherwise be refused: a
        // request for help runs nothing and reads nothing.
        const QList<QStringList> ways = {
            {name, QStringLiteral("--help")},
            {name, QStringLiteral("-h")},
            {name, QStringLiteral("--server"), QStringLiteral("sqlite:nosuch"), QStringLiteral("--unknown"),
             QStringLiteral("--help")},
            {name, QStringLiteral("-h"), QStringLiteral("--yes"), QStringLiteral("--user"),
             QStringLiteral("x")},
        };
        for (const QStringList& args : ways) {
            const Result r = run(args);
            EXPECT_EQ(r.exitCode, 0) << args.join(' ').toStdString() << ": " << r.err.toStdString();
            EXPECT_EQ(r.out, asked.out) << args.join(' ').toStdString();
            EXPECT_EQ(r.err, QString()) << args.join(' ').toStdString();
        }
    }
    // Nothing ran: no configuration, no log, no database folder.
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList({QStringLiteral("ovsqlcli")}));
}

TEST_F(UsageTextsTest, HelpWordsThatAreValuesOrOperandsAreNotHelpRequests)
{
    const struct
    {
        QStringList args;
        int exitCode;
        const char* err;
    } cases[] = {
        // "--help" as the value of an option is that value.
        {{"update", "--server", "sqlite:data", "--database", "--help"}, 2, "--backup-to PATH"},
        // After "--" a word is an operand: here a file named "-h".
        {{"cdb-info", "--", "-h"}, 1, "-h"},
        {{"help", "nosuch"}, 2, "unknown command \"nosuch\""},
        {{"help", "update", "backup"}, 2, "usage: ovsqlcli help [COMMAND]"},
        {{"--version", "update"}, 2, "usage: ovsqlcli --version"},
    };
    for (const auto& c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args.join(' ').toStdString() << ": " << r.err.toStdString();
        EXPECT_FALSE(r.out.startsWith(QLatin1String("usage:"))) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String(c.err)))
            << c.args.join(' ').toStdString() << ": " << r.err.toStdString();
    }
}

TEST_F(UsageTextsTest, GeneralHelpEndsZeroWhenAskedFor)
{
    for (const char* way : {"help", "--help", "-h"}) {
        const Result r = run({QLatin1String(way)});
        EXPECT_EQ(r.exitCode, 0) << way;
        EXPECT_TRUE(r.out.startsWith(QLatin1String("usage: ovsqlcli COMMAND [options]\n"))) << way;
        EXPECT_TRUE(r.out.contains(QLatin1String("ovsqlcli help COMMAND"))) << way;
    }
    // Without any argument it is a usage error.
    EXPECT_EQ(run({}).exitCode, 2);
}

TEST_F(UsageTextsTest, TextsThatCannotBeWrittenEndNonZero)
{
    // Standard output on a full disk: the build must not take a cut-off
    // manual page for a whole one, nor a script a cut-off usage.
    const QStringList cases[] = {
        {"--version"}, {"--manual-page"},  {"--bash-completion"},
        {"help"},      {"help", "update"}, {"update", "--help"},
    };
    for (const QStringList& args : cases) {
        QProcess p;
        p.setWorkingDirectory(m_dir.path());
        p.setStandardOutputFile(QStringLiteral("/dev/full"));
        p.start(m_dir.filePath(QStringLiteral("ovsqlcli")), args);
        p.closeWriteChannel();
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << args.join(' ').toStdString();
        EXPECT_EQ(p.exitCode(), 1) << args.join(' ').toStdString();
        EXPECT_TRUE(
            QString::fromUtf8(p.readAllStandardError()).contains(QLatin1String("could not be written")))
            << args.join(' ').toStdString();
    }
}

// The build's install rules put the program folder, the manual page and the
// completion under a prefix; the manual and the completion are read there.
class InstalledCliTest : public UsageTextsTest
{
protected:
    static void SetUpTestSuite()
    {
        s_prefix = new QTemporaryDir;
        ASSERT_TRUE(s_prefix->isValid());
        int rc = -1;
        const QString out = runProgram(QStringLiteral("cmake"),
                                       {QStringLiteral("--install"), QStringLiteral(OV_BINARY_DIR),
                                        QStringLiteral("--prefix"), s_prefix->path()},
                                       &rc);
        ASSERT_EQ(rc, 0) << out.toStdString();
    }
    static void TearDownTestSuite()
    {
        delete s_prefix;
        s_prefix = nullptr;
    }
    static QString installed(const QString& relative) { return QDir(s_prefix->path()).filePath(relative); }

    // Calls the completion function of the installed script for the words of
    // a command line, the cursor on the last word; one offer a line.
    QStringList complete(const QStringList& words, const QString& workDir) const
    {
        QString script = QStringLiteral("source \"$1\" || exit 9; cd \"$2\" || exit 9; COMP_WORDS=(");
        for (int i = 0; i < words.size(); ++i)
            script += QStringLiteral("\"${%1}\" ").arg(i + 3);
        script += QStringLiteral("); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMP_LINE=\"${COMP_WORDS[*]}\"; "
                                 "COMP_POINT=${#COMP_LINE}; _ovsqlcli ovsqlcli \"${COMP_WORDS[COMP_CWORD]}\" "
                                 "\"${COMP_WORDS[COMP_CWORD-1]}\"; printf '%s\\n' \"${COMPREPLY[@]}\"");
        int rc = -1;
        const QString out = runProgram(
            QStringLiteral("bash"),
            QStringList({QStringLiteral("--norc"), QStringLiteral("-c"), script, QStringLiteral("complete"),
                         installed(QStringLiteral("share/bash-completion/completions/ovsqlcli")), workDir}) +
                words,
            &rc);
        EXPECT_EQ(rc, 0) << out.toStdString();
        QStringList offers = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        offers.sort();
        return offers;
    }

    static QTemporaryDir* s_prefix;
};
QTemporaryDir* InstalledCliTest::s_prefix = nullptr;

TEST_F(InstalledCliTest, TheInstalledProgramRunsFromItsFolder)
{
    int rc = -1;
    const QString out =
        runProgram(installed(QStringLiteral("bin/ovsqlcli")), {QStringLiteral("--version")}, &rc);
    EXPECT_EQ(rc, 0) << out.toStdString();
    EXPECT_EQ(out, QStringLiteral("ovsqlcli %1\n").arg(projectVersion()));
    // The program folder holds the shipped files the commands read.
    EXPECT_TRUE(QFileInfo(installed(QStringLiteral("bin/ovsqlcli")))
                    .canonicalFilePath()
                    .endsWith(QLatin1String("/ovsqlcli")));
    const QString folder =
        QFileInfo(QFileInfo(installed(QStringLiteral("bin/ovsqlcli"))).canonicalFilePath()).path();
    for (const char* shipped :
         {"OVScriptUpdate.txt", "OVScriptEmpty.txt", "ConvertDataTables.ini", "OVSqlUpdateDB"})
        EXPECT_TRUE(QFileInfo::exists(QDir(folder).filePath(QLatin1String(shipped)))) << shipped;
}

TEST_F(InstalledCliTest, ManualPageHoldsEveryCommandsUsage)
{
    const QString page = installed(QStringLiteral("share/man/man1/ovsqlcli.1"));
    ASSERT_TRUE(QFileInfo::exists(page));
    int rc = -1;
    // man reports what groff warns about on stderr; a clean page has none.
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MANWIDTH"), QStringLiteral("400"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("MAN_KEEP_FORMATTING"), QString());
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("man"),
            {QStringLiteral("--warnings"), QStringLiteral("-E"), QStringLiteral("UTF-8"),
             QStringLiteral("-P"), QStringLiteral("cat"), QStringLiteral("-l"), page});
    ASSERT_TRUE(p.waitForFinished(60000));
    rc = p.exitCode();
    const QString rendered = QString::fromUtf8(p.readAllStandardOutput())
                                 .remove(QRegularExpression(QStringLiteral(".\b")))
                                 .replace(QChar(0x2010), QLatin1Char('-'))
                                 .replace(QChar(0x2212), QLatin1Char('-'));
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(QString::fromUtf8(p.readAllStandardError()), QString());
    EXPECT_TRUE(rendered.contains(QStringLiteral("ovsqlcli %1").arg(projectVersion())))
        << rendered.toStdString();

    // Each command's synopsis and the first sentence of its usage text, as
    // "help COMMAND" prints them, are on the page.
    const QMap<QString, QString> commands = synopses();
    ASSERT_GE(commands.size(), 12);
    const QString flat = rendered.simplified();
    for (auto it = commands.cbegin(); it != commands.cend(); ++it) {
        SCOPED_TRACE(it.key().toStdString());
        EXPECT_TRUE(flat.contains(QStringLiteral("ovsqlcli ") + it.value().simplified()))
            << it.value().toStdString();
        const QString usage = run({QStringLiteral("help"), it.key()}).out;
        const QString firstSentence =
            usage.section(QStringLiteral("\n\n"), 1, 1).section(QLatin1Char('.'), 0, 0);
        ASSERT_FALSE(firstSentence.isEmpty());
        EXPECT_TRUE(flat.contains(firstSentence.simplified())) << firstSentence.toStdString();
    }
}

TEST_F(InstalledCliTest, BashCompletionOffersCommandsOptionsAndFiles)
{
    QTemporaryDir files;
    ASSERT_TRUE(files.isValid());
    // File names with a blank, a quote, a bracket and Chinese characters.
    const QStringList names = {QStringLiteral("back up.dat"), QStringLiteral("客户\"]';x.dat"),
                               QStringLiteral("other.cdb")};
    for (const QString& name : names) {
        QFile f(files.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QDir(files.path()).mkdir(QStringLiteral("sub")));

    const QStringList backupOptions = {
        "--database", "--driver", "--help",    "--offline", "--password-stdin",
        "--replace",  "--server", "--sql-out", "--to",      "--trust-server-certificate",
        "--trusted",  "--user",   "--yes"};
    const struct
    {
        QStringList words;
        QStringList offers;
    } cases[] = {
        {{"ovsqlcli", "ba"}, {"backup", "backup-info"}},
        {{"ovsqlcli", "he"}, {"help"}},
        {{"ovsqlcli", "--v"}, {"--version"}},
        {{"ovsqlcli", "help", "up"}, {"update"}},
        {{"ovsqlcli", "backup", "--"}, backupOptions},
        {{"ovsqlcli", "backup", "--server", "x", "--r"}, {"--replace"}},
        {{"ovsqlcli", "update", "--d"}, {"--database", "--databases", "--driver", "--dry-run"}},
        {{"ovsqlcli", "restore", "--m"}, {"--move"}},
        {{"ovsqlcli", "settings", "-"}, {"--driver", "--help", "--trust-server-certificate", "--yes", "-h"}},
        // The value of an option that names a file is a file name; other
        // values are not offered.
        {{"ovsqlcli", "backup", "--to", "b"}, {"back up.dat"}},
        {{"ovsqlcli", "backup", "--to", "客"}, {"客户\"]';x.dat"}},
        {{"ovsqlcli", "convert", "--file", ""}, {"back up.dat", "other.cdb", "sub", "客户\"]';x.dat"}},
        {{"ovsqlcli", "cdb-info", "o"}, {"other.cdb"}},
        {{"ovsqlcli", "backup", "--server", ""}, {}},
        {{"ovsqlcli", "backup", "--user", "--"}, {}},
        // A word that is no command offers nothing.
        {{"ovsqlcli", "nosuch", "--"}, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(complete(c.words, files.path()), c.offers) << c.words.join(' ').toStdString();
    }
}

} // namespace
