#pragma once

// The sqlite3 shell, the peer of the benchmarks that load or import data.

#include <QByteArray>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include <cstdio>

namespace ovbench {

// The shell's path, or empty when it is not installed.
inline QString sqlite3Shell()
{
    return QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
}

// Runs script through the shell on the database file db; true when the shell
// ended normally and wrote nothing to its error output. out, when given, gets
// what the shell printed.
inline bool runShell(const QString& db, const QByteArray& script, QByteArray* out = nullptr)
{
    QProcess p;
    p.start(sqlite3Shell(), {db});
    if (!p.waitForStarted())
        return false;
    p.write(script);
    p.closeWriteChannel();
    p.waitForFinished(-1);
    if (out)
        *out = p.readAllStandardOutput();
    const QByteArray err = p.readAllStandardError();
    if (!err.isEmpty())
        std::fprintf(stderr, "sqlite3: %s", err.constData());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 && err.isEmpty();
}

} // namespace ovbench
