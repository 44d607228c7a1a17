#pragma once

#include <QString>

namespace ov::embedded {

// An advisory lock on a whole file, taken without waiting and held until
// release() or the end of the object. The operating system ends it with the
// process that holds it (flock on POSIX systems, LockFileEx on Windows), so a
// program that is killed never leaves a database locked. Locks taken through
// two objects conflict even inside one process.
class FileLock
{
public:
    enum class Mode
    {
        Shared,
        Exclusive,
    };
    enum class Result
    {
        Taken,
        Busy,   // another holder is in the way
        Failed, // the file cannot be opened or locked; errorString() says why
    };

    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Opens path (made when missing; opened for reading only where it cannot
    // be written) and locks it in mode.
    Result take(const QString& path, Mode mode);
    void release();
    bool held() const;
    QString errorString() const { return m_error; }

private:
#ifdef Q_OS_WIN
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
    QString m_error;
};

} // namespace ov::embedded
