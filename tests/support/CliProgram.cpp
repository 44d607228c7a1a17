#include "support/CliProgram.h"

#include "support/ScopedProgramFolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

namespace ovtest {

bool InstallCli(const QString& folder)
{
    return QFile::copy(QStringLiteral(OV_PROGRAM_DIR "/ovsqlcli"),
                       QDir(folder).filePath(QStringLiteral("ovsqlcli")));
}

bool CopyDist(const QString& folder)
{
    const QDir dist(QStringLiteral(OV_SOURCE_DIR "/dist"));
    QDirIterator it(dist.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString from = it.next();
        const QString to = QDir(folder).filePath(dist.relativeFilePath(from));
        if (!QDir().mkpath(QFileInfo(to).path()) || !QFile::copy(from, to))
            return false;
    }
    return true;
}

namespace {

CliResult run(const QString& folder, const QStringList& args, const QString& outputFile,
              const QByteArray& input, int timeoutMs)
{
    QProcess p;
    p.setWorkingDirectory(folder);
    if (!outputFile.isEmpty())
        p.setStandardOutputFile(outputFile);
    p.start(QDir(folder).filePath(QStringLiteral("ovsqlcli")), args);
    EXPECT_TRUE(p.waitForStarted());
    p.write(input);
    p.closeWriteChannel();
    const bool finished = p.waitForFinished(timeoutMs);
    EXPECT_TRUE(finished) << "ovsqlcli " << args.join(QLatin1Char(' ')).toStdString()
                          << " did not end within " << timeoutMs << " ms";
    CliResult r;
    if (!finished) {
        // A run that did not end has no exit code; it is stopped here.
        p.kill();
        p.waitForFinished();
    } else {
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace

bool MakeCliFolder(ScopedProgramFolder& folder, const QStringList& names)
{
    if (!folder.isValid() || !InstallCli(folder.path()) ||
        !(names.isEmpty() ? folder.copyDist() : folder.copyDist(names)))
        return false;
    folder.makeServer();
    return true;
}

CliResult RunCli(const QString& folder, const QStringList& args, const QByteArray& input, int timeoutMs)
{
    return run(folder, args, QString(), input, timeoutMs);
}

CliResult RunCliWithOutput(const QString& folder, const QStringList& args, const QString& outputFile,
                           const QByteArray& input, int timeoutMs)
{
    return run(folder, args, outputFile, input, timeoutMs);
}

} // namespace ovtest
