#pragma once

#include "backup/ServerFolder.h"
#include "backup/mdlOVSqlBackup.h"

#include <QString>

namespace ovcli {

// The command line has no folder to propose for a backup file: a path
// without a folder is refused before anything is sent. Empty when pathFile
// names its folder; otherwise the text of the refusal.
inline QString backupPathProblem(const QString& server, const QString& pathFile)
{
    const mdlCommon::PathStyle style = ServerFolder::GuessStyle(server, pathFile);
    if (mdlOVSqlBackup::HasFolder(pathFile, style))
        return QString();
    return QStringLiteral("\"%1\" has no folder; give the backup file as a full path on the server, "
                          "such as %2%1")
        .arg(pathFile, ServerFolder::DefaultRoot(style));
}

} // namespace ovcli
