#include "common/mdlWindowsFunctions.h"

#include <QDir>
#include <QFileInfo>

namespace mdlWindowsFunctions {

namespace {

// Walks path (which ends with separator) from its start: each time a
// separator at index 1 or later ends a part, the text up to that separator is
// one folder, made when missing. On Windows the first folder is the drive
// ("C:"), on POSIX the first one below the root.
bool makeEachFolder(const QString& path, QChar separator)
{
    QString built;
    QString rest = path;
    int p = rest.indexOf(separator, 1);
    while (p > 0) {
        built += rest.left(p);
        rest = rest.mid(p);
        const QFileInfo info(built);
        if (info.exists()) {
            // A file (or anything else that is not a folder) in the way: the
            // path cannot exist as folders, so do not report success.
            if (!info.isDir())
                return false;
        } else if (!QDir().mkdir(built)) {
            return false;
        }
        p = rest.indexOf(separator, 1);
    }
    return true;
}

} // namespace

bool MakePath(const QString& path)
{
#ifdef Q_OS_WIN
    QString full = path;
    if (!full.endsWith(u'\\'))
        full += u'\\';
    // Only a drive path: a colon and a backslash after the drive letter.
    if (full.mid(1, 2) != QStringLiteral(":\\"))
        return false;
    return makeEachFolder(full, u'\\');
#else
    if (!path.startsWith(u'/') || path.startsWith(QStringLiteral("//")))
        return false;
    QString full = path;
    if (!full.endsWith(u'/'))
        full += u'/';
    return makeEachFolder(full, u'/');
#endif
}

} // namespace mdlWindowsFunctions
