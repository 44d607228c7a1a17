#include "update/UpdateLog.h"

#include "common/Cp936.h"
#include "common/mdlOVSqlUpdateDB.h"

#include <QFile>

namespace mdlOVSqlUpdateDB {

QString UpdateLogPath()
{
    return gstrAppPath + QStringLiteral("UpdateDBSqlLog.Txt");
}

void WriteUpdateLog(const QString& text)
{
    QFile file(UpdateLogPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    file.write(ov::cp936::encode(text + QStringLiteral("\r\n")));
    file.close();
}

} // namespace mdlOVSqlUpdateDB
