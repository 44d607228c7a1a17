#include "app/mdlOVSqlUpdateDB.h"

#include <QCoreApplication>
#include <QDir>

namespace mdlOVSqlUpdateDB {

QString gstrAppPath;
QString gstrUserPath;
QString gstrCommand;

void InitProcessPaths()
{
    gstrAppPath = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    if (!gstrAppPath.endsWith(QDir::separator()))
        gstrAppPath += QDir::separator();
}

} // namespace mdlOVSqlUpdateDB
