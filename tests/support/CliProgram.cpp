#include "support/CliProgram.h"

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

CliResult RunCli(const QString& folder, const QStringList& args, const QByteArray& input, int timeoutMs)
{
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start(QDir(folder).filePath(QStringLiteral("ovsqlcli")), args);
    EXPECT_TRUE(p.waitForStarted());
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(timeoutMs));
    CliResult r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace ovtest
