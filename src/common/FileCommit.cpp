#include "common/FileCommit.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QThread>

#include <filesystem>
#include <system_error>

#ifdef Q_OS_WIN
#include <windows.h>
#endif
#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ov {

namespace {

// The journal files SQLite may make beside a database file.
const char* const kJournalSuffixes[] = {"-journal", "-wal", "-shm"};

#ifdef Q_OS_UNIX
// This process's holds on its part files: a descriptor of each, locked
// exclusively with flock. The lock ends when the descriptor is closed, or
// with the process however it ends; SQLite's own locks (fcntl) do not meet it.
QMutex& holdsMutex()
{
    static QMutex mutex;
    return mutex;
}

QHash<QString, int>& holds()
{
    static QHash<QString, int> map;
    return map;
}

void releaseHold(const QString& part)
{
    QMutexLocker locker(&holdsMutex());
    const auto it = holds().find(part);
    if (it == holds().end())
        return;
    ::close(it.value());
    holds().erase(it);
}

// The folder itself locked with flock: shared while a part file is made and
// taken, exclusive while the part files of dead processes are removed, so
// that a part file is never seen between its making and its hold. -1 when
// the folder cannot be opened or the lock is not had within about a second.
int lockFolder(const QString& folder, int mode)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (::flock(fd, mode | LOCK_NB) == 0)
            return fd;
        if (errno != EWOULDBLOCK && errno != EINTR)
            break;
        QThread::msleep(10);
    }
    ::close(fd);
    return -1;
}
#endif

} // namespace

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
#ifdef Q_OS_UNIX
    const int folder = lockFolder(target.absolutePath(), LOCK_SH);
#endif
    QString made;
    {
        QTemporaryFile part(target.absolutePath() + QStringLiteral("/.") + target.fileName().left(32) +
                            QStringLiteral(".XXXXXX.part"));
        part.setAutoRemove(false);
        if (part.open())
            made = part.fileName();
    }
#ifdef Q_OS_UNIX
    if (!made.isEmpty()) {
        const int fd = ::open(QFile::encodeName(made).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            QMutexLocker locker(&holdsMutex());
            holds().insert(made, fd);
        } else {
            if (fd >= 0)
                ::close(fd);
            QFile::remove(made);
            made.clear();
        }
    }
    if (folder >= 0)
        ::close(folder);
#endif
    return made;
}

void discardPartFile(const QString& part)
{
    for (const char* suffix : kJournalSuffixes)
        QFile::remove(part + QLatin1String(suffix));
    QFile::remove(part);
#ifdef Q_OS_UNIX
    releaseHold(part);
#endif
}

void removeDeadPartFiles(const QString& folder)
{
#ifdef Q_OS_UNIX
    // With the folder locked, every part file of a live process is held; one
    // whose lock can be taken belongs to a process that has ended.
    const int lock = lockFolder(folder, LOCK_EX);
    if (lock < 0)
        return;
    // newPartFile's names, whatever characters the target's name holds.
    static const QRegularExpression partName(
        QRegularExpression::anchoredPattern(QStringLiteral("\\..+\\.[A-Za-z0-9]{6}\\.part")),
        QRegularExpression::DotMatchesEverythingOption);
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        if (!partName.match(name).hasMatch())
            continue;
        const QString part = folder + QLatin1Char('/') + name;
        const QByteArray path = QFile::encodeName(part);
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat info = {};
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            for (const char* suffix : kJournalSuffixes)
                ::unlink((path + suffix).constData());
            ::unlink(path.constData());
        }
        ::close(fd);
    }
    ::close(lock);
#else
    Q_UNUSED(folder);
#endif
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
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) {
        releaseHold(part);
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
#endif
    // A file system that cannot rename without replacing: a second link
    // under the new name, which is refused when the name is taken.
    if (::link(from.constData(), to.constData()) != 0)
        return false;
    ::unlink(from.constData());
    releaseHold(part);
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
#ifdef Q_OS_UNIX
    if (!error)
        releaseHold(part);
#endif
    return !error;
}

} // namespace ov
