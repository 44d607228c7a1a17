// ovsqlcli's output that cannot be written, and input files that are no
// files: a command whose result did not reach its output fails, and a FIFO, a
// device or a folder given where a file is read is refused before anything
// reads it.

#include "jet/demo/DemoDatabase.h"
#include "support/CliProgram.h"
#include "support/ScopedProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// The built ovsqlcli in a temporary program folder beside the shipped files,
// with the blank database "crm" on the embedded server "sqlite:data", a
// backup of it, a query file and the demo single-user file.
class OutputAndInputFilesTest : public ::testing::Test
{
protected:
    using Result = ovtest::CliResult;

    void SetUp() override
    {
        ASSERT_TRUE(ovtest::MakeCliFolder(m_dir));
        Result r = run({"create", "--server", "sqlite:data", "--database", "crm", "--blank"});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        r = run({"backup", "--server", "sqlite:data", "--database", "crm", "--to", path("crm.bak")});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        QFile query(path("q.sql"));
        ASSERT_TRUE(query.open(QIODevice::WriteOnly));
        query.write("SELECT VaribleName FROM tblVarible");
        query.close();
        QString error;
        ASSERT_TRUE(jetdemo::WriteDemoDatabase(path("Demo.cdb"), &error)) << error.toStdString();
    }

    QString path(const char* name) const { return m_dir.filePath(QLatin1String(name)); }
    Result run(const QStringList& args, const QByteArray& input = QByteArray()) const
    {
        return ovtest::RunCli(m_dir.path(), args, input);
    }

    ovtest::ScopedProgramFolder m_dir;
};

const QStringList kCrm{"--server", "sqlite:data", "--database", "crm", "--trusted"};

// Every command that prints a result on standard output, run once as usual
// and once with that output going to a full device: the second run ends with
// exit code 1 and says on standard error that its output was not written.
TEST_F(OutputAndInputFilesTest, OutputThatCannotBeWrittenFailsTheCommand)
{
    const struct
    {
        QStringList args; // "%1" is a name of its own for each run
        QByteArray input;
    } cases[] = {
        {{"settings"}, {}},
        {{"databases", "--server", "sqlite:data"}, {}},
        {QStringList{"sql", "--file", "q.sql"} + kCrm, {}},
        {QStringList{"check", "--json"} + kCrm, {}},
        {QStringList{"check"} + kCrm, {}},
        {{"backup-info", "--server", "sqlite:data", "--file", path("crm.bak")}, {}},
        {{"cdb-info", "Demo.cdb"}, {}},
        {QStringList{"update", "--dry-run"} + kCrm, {}},
        {QStringList{"update", "--dry-run", "--sql-out", "%1.sql"} + kCrm, {}},
        {QStringList{"backup", "--to", path("more-%1.bak")} + kCrm, {}},
        {{"scramble"}, "pw!\n"},
        {{"unscramble"}, "hEQt\n"},
        {{"help"}, {}},
        {{"help", "sql"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        QStringList args = c.args;
        args.replaceInStrings(QStringLiteral("%1"), QStringLiteral("written"));
        const Result written = ovtest::RunCli(m_dir.path(), args, c.input);
        ASSERT_EQ(written.exitCode, 0) << written.err.toStdString();
        ASSERT_FALSE(written.out.isEmpty());

        args = c.args;
        args.replaceInStrings(QStringLiteral("%1"), QStringLiteral("lost"));
        const Result lost =
            ovtest::RunCliWithOutput(m_dir.path(), args, QStringLiteral("/dev/full"), c.input);
        EXPECT_EQ(lost.exitCode, 1) << lost.err.toStdString();
        EXPECT_TRUE(lost.err.contains(QStringLiteral("ovsqlcli: the output could not be written")))
            << lost.err.toStdString();
    }
}

// Standard output closed by the caller: the rows have nowhere to go, so the
// run fails; and no file the run opens takes the closed stream's place, so
// the database it read is as it was.
TEST_F(OutputAndInputFilesTest, ClosedOutputFailsAndWritesIntoNoOtherFile)
{
    QProcess p;
    p.setWorkingDirectory(m_dir.path());
    p.start(QStringLiteral("/bin/sh"),
            QStringList{"-c", "exec ./ovsqlcli \"$@\" >&-", "sh", "sql", "--file", "q.sql"} + kCrm);
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(QString::fromUtf8(p.readAllStandardError())
                    .contains(QStringLiteral("ovsqlcli: the output could not be written")));
    const Result r = run(QStringList{"check"} + kCrm);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
}

// Every option that names a file the command reads, given a FIFO with no
// writer, an endless device or a folder: refused at once (exit code 2, the
// path named), before anything waits on it, reads it or is changed.
TEST_F(OutputAndInputFilesTest, InputsThatAreNoFilesAreRefusedAtOnce)
{
    const QString fifo = path("fifo");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QDir().mkpath(path("folder")));
    const QStringList inputs{fifo, QStringLiteral("/dev/zero"), path("folder")};
    const QStringList commands[] = {
        QStringList{"sql", "--file", "%1"} + kCrm,
        {"cdb-info", "%1"},
        {"convert", "--file", "%1", "--server", "sqlite:data", "--database", "conv", "--trusted"},
        QStringList{"check", "--script", "%1"} + kCrm,
        QStringList{"update", "--script", "%1", "--dry-run"} + kCrm,
        QStringList{"update", "--script", "%1", "--no-backup"} + kCrm,
        {"backup-info", "--server", "sqlite:data", "--file", "%1"},
        QStringList{"restore", "--from", "%1", "--yes"} + kCrm,
    };
    for (const QString& input : inputs) {
        for (QStringList args : commands) {
            args.replaceInStrings(QStringLiteral("%1"), input);
            SCOPED_TRACE(args.join(QLatin1Char(' ')).toStdString());
            // A run that waits on the FIFO or reads the device for ever is
            // stopped by the limit and fails the test.
            const Result r = ovtest::RunCli(m_dir.path(), args, QByteArray(), 10000);
            EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
            EXPECT_TRUE(r.err.contains(input)) << r.err.toStdString();
        }
    }
    EXPECT_FALSE(QFileInfo::exists(path("data/conv.sqlite")));
    // The database the refused update and restore name is as it was.
    const Result r = run(QStringList{"check"} + kCrm);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
}

} // namespace
