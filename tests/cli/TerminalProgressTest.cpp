// How ovsqlcli shows the progress of long work: on a terminal one line that
// is drawn again in place, with the percentage, below the status lines; into
// a file or a pipe plain lines.

#include "jet/demo/DemoDatabase.h"
#include "support/CliProgram.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

// Runs the ovsqlcli of folder with its standard error on a pseudo-terminal
// (standard input and output stay pipes) and gives back what the terminal
// received.
QByteArray runOnTerminal(const QString& folder, const QStringList& args, int* exitCode)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return "<no pseudo-terminal>";
    const int slave = ::open(ptsname(master), O_RDWR | O_NOCTTY);
    if (slave < 0)
        return "<no pseudo-terminal>";

    QProcess p;
    p.setWorkingDirectory(folder);
    p.setChildProcessModifier([slave] { ::dup2(slave, STDERR_FILENO); });
    p.start(QDir(folder).filePath(QStringLiteral("ovsqlcli")), args);
    ::close(slave);
    EXPECT_TRUE(p.waitForStarted());
    p.closeWriteChannel();

    // Read until the terminal's other side is closed, which the program's
    // end does (the read fails with EIO), or for two minutes at most.
    QByteArray received;
    char buffer[4096];
    for (int waited = 0; waited < 120000;) {
        pollfd pfd{master, POLLIN, 0};
        if (::poll(&pfd, 1, 100) <= 0) {
            waited += 100;
            continue;
        }
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        received.append(buffer, n);
    }
    EXPECT_TRUE(p.waitForFinished(120000));
    ::close(master);
    *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return received;
}

// What a terminal shows for output: a carriage return puts the cursor at the
// start of the line, where the following characters overwrite the old ones.
QStringList screenLines(const QString& output)
{
    QStringList lines;
    QString line;
    int column = 0;
    for (const QChar c : output) {
        if (c == QLatin1Char('\r')) {
            column = 0;
        } else if (c == QLatin1Char('\n')) {
            lines.append(line);
            line.clear();
            column = 0;
        } else {
            if (column < line.size())
                line[column] = c;
            else
                line.append(c);
            ++column;
        }
    }
    if (!line.isEmpty())
        lines.append(line);
    for (QString& l : lines) {
        while (l.endsWith(QLatin1Char(' ')))
            l.chop(1);
    }
    return lines;
}

class TerminalProgressTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(ovtest::InstallCli(m_dir.path()));
        ASSERT_TRUE(ovtest::CopyDist(m_dir.path()));
        ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("data")));
    }
    // A creation with the demo data set: two script runs and a data load,
    // each with its progress, and a status line per table.
    QStringList createArgs() const
    {
        return {QStringLiteral("create"),     QStringLiteral("--server"), QStringLiteral("sqlite:data"),
                QStringLiteral("--database"), QStringLiteral("crm"),      QStringLiteral("--demo"),
                QStringLiteral("--replace"),  QStringLiteral("--yes")};
    }

    QTemporaryDir m_dir;
};

TEST_F(TerminalProgressTest, OnATerminalProgressIsOneLineDrawnAgainInPlace)
{
    int rc = -1;
    const QString raw = QString::fromUtf8(runOnTerminal(m_dir.path(), createArgs(), &rc));
    ASSERT_EQ(rc, 0) << raw.toStdString();
    const QStringList screen = screenLines(raw);

    // The status lines and the messages read whole, never mixed with the
    // remains of a progress line.
    EXPECT_TRUE(screen.contains(QStringLiteral("[Orvane] 创建数据库成功！"))) << raw.toStdString();
    EXPECT_TRUE(screen.contains(QStringLiteral("完成数据导入"))) << raw.toStdString();
    const QRegularExpression progressLine(QStringLiteral("^progress: (\\d+)%$"));
    int progressLines = 0;
    for (const QString& line : screen) {
        if (line.contains(QLatin1String("progress")) || line.contains(QLatin1Char('%'))) {
            EXPECT_TRUE(progressLine.match(line).hasMatch()) << line.toStdString();
            ++progressLines;
        }
    }
    // The percentages were drawn over each other on one line, which is
    // blanked out once the work is done: what stays on the screen are the
    // status lines and the messages.
    EXPECT_EQ(progressLines, 0) << screen.join('\n').toStdString();
    const int drawn = static_cast<int>(raw.count(QRegularExpression(QStringLiteral("progress: \\d+%"))));
    EXPECT_GT(drawn, 20) << raw.toStdString();
}

// Into a pipe each task's progress is plain lines of percentages that never
// pass 100, through every phase of the task (the conversion runs the
// transfer blocks of the script again after its rows are in).
TEST_F(TerminalProgressTest, IntoAPipeProgressIsPlainLines)
{
    QString error;
    ASSERT_TRUE(jetdemo::WriteDemoDatabase(QDir(m_dir.path()).filePath(QStringLiteral("Demo.cdb")), &error))
        << error.toStdString();
    const QStringList convertArgs = {
        QStringLiteral("convert"),   QStringLiteral("--server"),  QStringLiteral("sqlite:data"),
        QStringLiteral("--file"),    QStringLiteral("Demo.cdb"),  QStringLiteral("--database"),
        QStringLiteral("converted"), QStringLiteral("--replace"), QStringLiteral("--yes")};
    for (const QStringList& args : {createArgs(), convertArgs}) {
        SCOPED_TRACE(args.first().toStdString());
        const ovtest::CliResult r = ovtest::RunCli(m_dir.path(), args);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains(QLatin1Char('\r')));
        const QStringList lines = r.err.split(QLatin1Char('\n'));
        const QRegularExpression progressLine(QStringLiteral("^progress: (\\d+)%$"));
        int progress = 0;
        for (const QString& line : lines) {
            if (line.contains(QLatin1String("progress"))) {
                const QRegularExpressionMatch m = progressLine.match(line);
                EXPECT_TRUE(m.hasMatch()) << line.toStdString();
                EXPECT_LE(m.captured(1).toInt(), 100) << r.err.toStdString();
                ++progress;
            }
        }
        EXPECT_GT(progress, 3) << r.err.toStdString();
    }
}

} // namespace
