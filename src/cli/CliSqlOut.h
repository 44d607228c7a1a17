#pragma once

#include "cli/CliCommand.h"
#include "data/Server.h"
#include "data/SqlServerStatements.h"
#include "data/StatementTranscript.h"

#include <QFileInfo>
#include <QString>
#include <QStringList>

// --sql-out FILE: the statements of a command, written to a new file as a
// script a person can read and run in a query window.
namespace ovcli {

// Empty when FILE may be written: a name, and no entry of that name yet
// (nothing is overwritten). Otherwise the text of the refusal.
// With a server given, the command's statements must be SQL Server's: the
// embedded engine creates, backs up and restores files, with no statement.
inline QString sqlOutProblem(const QString& file, const QString& server = QString())
{
    if (!server.isNull() && !ov::Server({server, QString(), true, QString(), QString()}).runsStatements())
        return QStringLiteral("--sql-out lists the statements sent to SQL Server; the embedded server "
                              "%1 makes and copies files for this task and sends none")
            .arg(server);
    if (file.trimmed().isEmpty())
        return QStringLiteral("--sql-out needs a file name");
    const QFileInfo info(file);
    if (info.exists() || info.isSymLink())
        return QStringLiteral("%1 exists; --sql-out writes a new file only").arg(file);
    return QString();
}

// Empty when --offline may be given: it makes a transcript, so --sql-out
// must be there. Otherwise the text of the refusal.
inline QString offlineProblem(bool offline, bool sqlOut)
{
    if (offline && !sqlOut)
        return QStringLiteral("--offline 只用于不连接服务器写出语句，请同时给出 --sql-out FILE");
    return QString();
}

// The comment lines of a transcript that tell about the task lock, which a
// dry run of the update does not take: on SQL Server the run holds an
// application lock on master, on its own connection, for its whole run; the
// embedded engine locks a file instead.
inline QStringList taskLockComment(const QString& server, const QString& database)
{
    if (!ov::Server({server, QString(), true, QString(), QString()}).runsStatements())
        return {QStringLiteral("The run holds the task lock file of the database for its whole run.")};
    return {
        QStringLiteral("The run holds this lock for its whole run, on a connection of its own to master:"),
        QStringLiteral("  ") + ov::sqlserver::taskLockStatement(database),
        QStringLiteral("and gives it back at its end with:"),
        QStringLiteral("  ") + ov::sqlserver::taskUnlockStatement(database)};
}

// Writes the transcript to FILE and prints its name; the exit code.
inline int writeTranscript(const ov::StatementTranscript& transcript, const QString& file)
{
    QString error;
    if (!transcript.writeNew(file, &error))
        return fail(QStringLiteral("ovsqlcli: ") + error);
    printOut(file + QLatin1Char('\n'));
    return 0;
}

} // namespace ovcli
