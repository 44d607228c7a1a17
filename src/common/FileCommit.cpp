#include "common/FileCommit.h"

#include <QFile>
#include <QTemporaryFile>

#include <filesystem>
#include <system_error>

#ifdef Q_OS_WIN
#include <windows.h>
#endif
#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace ov {

// Flushes a file's content to the disk.
bool syncFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
#ifdef Q_OS_UNIX
    return ::fsync(f.handle()) == 0;
#else
    return f.flush();
#endif
}

// A new, empty file beside target that no other run uses, for a file that is
// written whole before it takes target's name; empty on failure. Its name
// holds the start of target's name only, so that it is no longer than a
// name the file system takes.
QString newPartFile(const QFileInfo& target)
{
    QTemporaryFile part(target.absolutePath() + QStringLiteral("/.") + target.fileName().left(32) +
                        QStringLiteral(".XXXXXX.part"));
    part.setAutoRemove(false);
    if (!part.open())
        return QString();
    return part.fileName();
}

// Gives part the name target when no entry has that name: a file, a folder
// or a link, also one to nothing. The file system decides it in one step, so
// that a file that takes the name meanwhile stays too. (QFile::rename does
// not do: when the system refuses the rename, it copies the file into the
// name instead, through a link and over a file that came after its check.)
bool renameIfFree(const QString& part, const QString& target)
{
#ifdef Q_OS_WIN
    return MoveFileExW(reinterpret_cast<const wchar_t*>(part.utf16()),
                       reinterpret_cast<const wchar_t*>(target.utf16()), MOVEFILE_WRITE_THROUGH) != 0;
#else
    const QByteArray from = QFile::encodeName(part);
    const QByteArray to = QFile::encodeName(target);
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
#endif
    // A file system that cannot rename without replacing: a second link
    // under the new name, which is refused when the name is taken.
    if (::link(from.constData(), to.constData()) != 0)
        return false;
    ::unlink(from.constData());
    return true;
#endif
}

// Gives part the name target. Without replace an existing target stays and
// the rename fails; with it target is replaced in one step, so it is the old
// file or the new one at every moment.
bool renameOver(const QString& part, const QString& target, bool replace)
{
    if (!replace)
        return renameIfFree(part, target);
    std::error_code error;
    std::filesystem::rename(QFile::encodeName(part).toStdString(), QFile::encodeName(target).toStdString(),
                            error);
    return !error;
}

} // namespace ov
