#include "update/UpdateLog.h"

#include "common/Cp936.h"
#include "common/UiPort.h"
#include "common/mdlOVSqlUpdateDB.h"

#include <QDir>
#include <QFile>

namespace mdlOVSqlUpdateDB {

namespace {

int g_paused = 0;
// The last entry was lost and that was noted: the next ones that are lost
// are not noted again until an entry is written.
bool g_lossNoted = false;
// Set while a loss is noted: a port that notes into this log (the windows)
// must not come back here.
bool g_noting = false;

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
    if (g_noting)
        return;
    QFile file(UpdateLogPath());
    const QByteArray entry = ov::cp936::encode(text + QStringLiteral("\r\n"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(entry) == entry.size() &&
        file.flush()) {
        g_lossNoted = false;
        return;
    }
    // The run goes on, but its trail is incomplete: the caller's port hears
    // of it once (the command line then ends non-zero).
    if (g_lossNoted)
        return;
    g_lossNoted = true;
    g_noting = true;
    ov::ui().note(QStringLiteral("%1 cannot be written: %2")
                      .arg(QDir::toNativeSeparators(UpdateLogPath()), file.errorString()));
    g_noting = false;
}

} // namespace mdlOVSqlUpdateDB
