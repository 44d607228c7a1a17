#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace ovtest {

class ScopedProgramFolder;

// What a run of ovsqlcli gave back.
struct CliResult
{
    int exitCode = -1; // -1 when the process crashed or did not end in time
    QString out;
    QString err;
};

// Copies the built ovsqlcli into folder, which then serves as its program
// folder: a configuration file or data sets there never touch the build.
bool InstallCli(const QString& folder);
// Copies every shipped file of dist/ into folder, keeping its sub-folders.
bool CopyDist(const QString& folder);
// Makes folder the program folder of the built ovsqlcli, beside the shipped
// files (only those named, when names are given), with an embedded server
// "sqlite:data"; false when any of it cannot be made.
bool MakeCliFolder(ScopedProgramFolder& folder, const QStringList& names = {});
// Runs folder/ovsqlcli with args in folder; input goes to its standard input,
// which is then closed, so the program never sees a terminal.
CliResult RunCli(const QString& folder, const QStringList& args, const QByteArray& input = QByteArray(),
                 int timeoutMs = 120000);
// As RunCli, with the standard output of the program going into outputFile
// (such as /dev/full) instead of being read; out stays empty.
CliResult RunCliWithOutput(const QString& folder, const QStringList& args, const QString& outputFile,
                           const QByteArray& input = QByteArray(), int timeoutMs = 120000);

} // namespace ovtest
