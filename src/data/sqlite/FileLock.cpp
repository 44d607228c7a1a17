#include "data/sqlite/FileLock.h"

#include <QFile>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace ov::embedded {

FileLock::~FileLock()
{
    release();
}

#ifdef Q_OS_WIN

FileLock::Result FileLock::take(const QString& path, Mode mode)
{
    release();
    m_error.clear();
    const auto name = reinterpret_cast<const wchar_t*>(path.utf16());
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        h = CreateFileW(name, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        m_error = QStringLiteral("无法打开锁文件 %1（Windows 错误 %2）。").arg(path).arg(GetLastError());
        return Result::Failed;
    }
    OVERLAPPED whole = {};
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (mode == Mode::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (!LockFileEx(h, flags, 0, MAXDWORD, MAXDWORD, &whole)) {
        const DWORD code = GetLastError();
        CloseHandle(h);
        if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING)
            return Result::Busy;
        m_error = QStringLiteral("无法锁定文件 %1（Windows 错误 %2）。").arg(path).arg(code);
        return Result::Failed;
    }
    m_handle = h;
    return Result::Taken;
}

void FileLock::release()
{
    // Closing the handle ends its lock.
    if (m_handle)
        CloseHandle(static_cast<HANDLE>(m_handle));
    m_handle = nullptr;
}

bool FileLock::held() const
{
    return m_handle != nullptr;
}

#else

FileLock::Result FileLock::take(const QString& path, Mode mode)
{
    release();
    m_error.clear();
    const QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    int openError = errno;
    // A lock file another user made, or one in a folder this user may only
    // read, locks as well when it is opened for reading. When it is not there
    // either, the reason is the one it could not be made for.
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 && errno != ENOENT)
            openError = errno;
    }
    if (fd < 0) {
        m_error = QStringLiteral("无法打开锁文件 %1：%2。")
                      .arg(path, QString::fromLocal8Bit(std::strerror(openError)));
        return Result::Failed;
    }
    int rc;
    do
        rc = ::flock(fd, (mode == Mode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int code = errno;
        ::close(fd);
        if (code == EWOULDBLOCK)
            return Result::Busy;
        m_error =
            QStringLiteral("无法锁定文件 %1：%2。").arg(path, QString::fromLocal8Bit(std::strerror(code)));
        return Result::Failed;
    }
    m_fd = fd;
    return Result::Taken;
}

void FileLock::release()
{
    // Closing the descriptor ends its lock.
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool FileLock::held() const
{
    return m_fd >= 0;
}

#endif

} // namespace ov::embedded
