#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace ovtest {

// A temporary program folder for as long as it lives: gstrAppPath (with its
// trailing separator) and the embedded engine's program folder point at it,
// so the configuration file, the update log and a server "sqlite:FOLDER" given
// relative are its own. Whatever else it was asked to set (the user folder,
// the clock) comes back with the program folder on destruction.
//
// It offers what the program finds beside it after an installation: a copy of
// the shipped files, a folder for the embedded engine, the user's folder.
class ScopedProgramFolder
{
public:
    ScopedProgramFolder();
    ~ScopedProgramFolder();
    ScopedProgramFolder(const ScopedProgramFolder&) = delete;
    ScopedProgramFolder& operator=(const ScopedProgramFolder&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    // The folder, without a trailing separator.
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

    // Copies every shipped file of dist/ (the scripts, the data sets, the
    // conversion lists), keeping its sub-folders; or only the named files,
    // replacing copies made before. A copy that fails fails the test.
    bool copyDist();
    bool copyDist(const QStringList& names);

    // Makes the folder name for the embedded engine and returns the server
    // name of it, "sqlite:" and the folder's absolute path.
    QString makeServer(const QString& name = QStringLiteral("data"));

    // Points gstrUserPath (with its trailing separator) at the folder name,
    // which is made; returns that folder.
    QString makeUserFolder(const QString& name = QStringLiteral("user"));

    // Stops the clock at t; it runs again on destruction.
    void fixClock(const QDateTime& t);

    // Makes folder the program folder instead, which need not exist; the
    // temporary folder stays and is still removed at the end.
    void pointAt(const QString& folder);

private:
    QTemporaryDir m_dir;
    QString m_savedAppPath;
    QString m_savedUserPath;
    QString m_savedEngineFolder;
    bool m_clockFixed = false;
};

} // namespace ovtest
