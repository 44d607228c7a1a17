#pragma once

#include "common/mdlCommon.h"

#include <QFileInfo>
#include <QString>

namespace ovcli {

// Empty when path may be read as the input file that option names: a file
// (also through a link), or nothing of that name, which the command reports
// in its own words. A folder, a FIFO, a device or a socket is refused before
// anything opens it: reading a FIFO waits for a writer that may never come,
// and a device such as /dev/zero never ends. Otherwise the text of the
// refusal.
inline QString inputFileProblem(const QString& option, const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isFile())
        return QString();
    const QString shown = mdlCommon::ShowControlCharacters(path);
    if (info.isDir())
        return QStringLiteral("%1 %2 is a folder; give a file").arg(option, shown);
    return QStringLiteral("%1 %2 is not a regular file (a FIFO, a device or a socket would be waited on or "
                          "read without end); give a file")
        .arg(option, shown);
}

} // namespace ovcli
