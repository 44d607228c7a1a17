#include "update/UpdateLog.h"

#include "common/Cp936.h"
#include "common/mdlOVSqlUpdateDB.h"

#include <QFile>

namespace mdlOVSqlUpdateDB {

namespace {

int g_paused = 0;

} // namespace

UpdateLogPause::UpdateLogPause()
{
    ++g_paused;
}

UpdateLogPause::~UpdateLogPause()
{
    --g_paused;
}

QString UpdateLogPath()
{
    return gstrAppPath + QStringLiteral("UpdateDBSqlLog.Txt");
}

void WriteUpdateLog(const QString& text)
{
    if (g_paused > 0)
        return;
    QFile file(UpdateLogPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    file.write(ov::cp936::encode(text + QStringLiteral("\r\n")));
    file.close();
}

} // namespace mdlOVSqlUpdateDB
