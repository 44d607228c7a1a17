#include "update/UpdateLog.h"

#include "common/Cp936.h"
#include "common/mdlOVSqlUpdateDB.h"

#include <QFile>

namespace mdlOVSqlUpdateDB {

namespace {
// Everything runs on the interface thread.
int g_mutes = 0;
} // namespace

UpdateLogMute::UpdateLogMute()
{
    ++g_mutes;
}

UpdateLogMute::~UpdateLogMute()
{
    --g_mutes;
}

QString UpdateLogPath()
{
    return gstrAppPath + QStringLiteral("UpdateDBSqlLog.Txt");
}

void WriteUpdateLog(const QString& text)
{
    if (g_mutes > 0)
        return;
    QFile file(UpdateLogPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    file.write(ov::cp936::encode(text + QStringLiteral("\r\n")));
    file.close();
}

} // namespace mdlOVSqlUpdateDB
