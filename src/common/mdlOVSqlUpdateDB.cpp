#include "common/mdlOVSqlUpdateDB.h"

#include "common/mdlCommon.h"
#include "common/mdlWindowsFunctions.h"

#include <QCoreApplication>
#include <QDir>

namespace mdlOVSqlUpdateDB {

QString gstrAppPath;
QString gstrUserPath;
QString gstrCommand;

void SetProcessPaths()
{
    gstrAppPath = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    if (!gstrAppPath.endsWith(QDir::separator()))
        gstrAppPath += QDir::separator();
    // Without a documents folder this is the bare relative name, which
    // MakePath refuses; only the dialogs that start there are affected.
    gstrUserPath = mdlCommon::GetMyDocumentsPath() + QStringLiteral("Orvane") + QDir::separator();
}

void InitProcessPaths()
{
    SetProcessPaths();
    mdlWindowsFunctions::MakePath(gstrUserPath);
}

} // namespace mdlOVSqlUpdateDB
