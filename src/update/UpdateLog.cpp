#include "update/UpdateLog.h"

#include "common/Cp936.h"
#include "common/FileCommit.h"
#include "common/UiPort.h"
#include "common/mdlOVSqlUpdateDB.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <utility>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mdlOVSqlUpdateDB {

namespace {

int g_paused = 0;
// The last entry was lost and that was noted: the next ones that are lost
// are not noted again until an entry is written.
bool g_lossNoted = false;
// Set while a loss is noted: a port that notes into this log (the windows)
// must not come back here.
bool g_noting = false;
// The section file the entries go into while an UpdateLogSection lives.
QString g_section;
// Entries held back while an UpdateLogBuffer lives.
int g_buffering = 0;
QByteArray g_pending;
// Held-back entries are written once they reach this size, so that a long
// block's trail does not pile up in memory.
constexpr qsizetype kPendingLimit = 256 * 1024;

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// The number of line ends in the log's first bytes: counted from the place
// the last section was appended at, which the file beside the log
// (".UpdateDBSqlLog.Txt.lines": "offset lines") keeps, so that a long log is
// not read whole for every database of a run. Counted from the start when
// that file is missing, unreadable or names a place past the log's end (a
// log emptied or replaced).
qint64 linesBefore(int fd, qint64 bytes)
{
    const QFileInfo log(UpdateLogPath());
    QFile index(log.absolutePath() + QStringLiteral("/.") + log.fileName() + QStringLiteral(".lines"));
    qint64 from = 0;
    qint64 lines = 0;
    if (index.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> parts = index.readAll().trimmed().split(' ');
        bool okOffset = false;
        bool okLines = false;
        if (parts.size() == 2) {
            from = parts[0].toLongLong(&okOffset);
            lines = parts[1].toLongLong(&okLines);
        }
        if (!okOffset || !okLines || from < 0 || lines < 0 || from > bytes) {
            from = 0;
            lines = 0;
        }
        index.close();
    }
    char buffer[65536];
    for (qint64 at = from; at < bytes;) {
        const ssize_t n = ::pread(fd, buffer, size_t(std::min<qint64>(sizeof buffer, bytes - at)), off_t(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        lines += std::count(buffer, buffer + n, '\n');
        at += n;
    }
    if (index.open(QIODevice::WriteOnly | QIODevice::Truncate))
        index.write(QByteArray::number(bytes) + ' ' + QByteArray::number(lines) + '\n');
    return lines;
}

// Appends bytes to the log in one piece under the log's lock (flock on the
// log file, which every writer of this program takes). A write that fails
// half-way is cut off again, so that the log holds all of it or none. With
// firstLine, the number of the log's line where bytes begin. The error text,
// empty on success.
QString appendToLog(const QByteArray& bytes, qint64* firstLine = nullptr)
{
    const int fd =
        ::open(encoded(UpdateLogPath()).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return QString::fromLocal8Bit(strerror(errno));
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    QString error;
    struct stat st
    {};
    if (::fstat(fd, &st) != 0) {
        error = QString::fromLocal8Bit(strerror(errno));
    } else {
        if (firstLine)
            *firstLine = linesBefore(fd, qint64(st.st_size)) + 1;
        if (!writeAll(fd, bytes)) {
            error = QString::fromLocal8Bit(strerror(errno ? errno : EIO));
            if (::ftruncate(fd, st.st_size) != 0) {
                // The cut failed too: what was written stays, as a lost
                // entry would have.
            }
        }
    }
    ::close(fd);
    return error;
}

void noteLoss(const QString& error)
{
    // The run goes on, but its trail is incomplete: the caller's port hears
    // of it once (the command line then ends non-zero).
    if (g_lossNoted)
        return;
    g_lossNoted = true;
    g_noting = true;
    ov::ui().note(
        QStringLiteral("%1 cannot be written: %2").arg(QDir::toNativeSeparators(UpdateLogPath()), error));
    g_noting = false;
}

// Appends the content of the section file to the log; the line where it
// begins there (0 for an empty section), or -1 when it could not be
// appended (error then says why).
qint64 appendSection(const QString& file, const QByteArray& heading, QString& error)
{
    QFile section(file);
    if (!section.open(QIODevice::ReadOnly)) {
        error = section.errorString();
        return -1;
    }
    const QByteArray bytes = section.readAll();
    if (bytes.isEmpty())
        return 0;
    qint64 line = 0;
    error = appendToLog(heading + bytes, &line);
    return error.isEmpty() ? line + heading.count('\n') : -1;
}

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

namespace {

// Writes entries (one or more) to the section file or the log in one piece.
void writeEntries(const QByteArray& entries)
{
    if (!g_section.isEmpty()) {
        QFile file(g_section);
        if (file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(entries) == entries.size() &&
            file.flush()) {
            g_lossNoted = false;
            return;
        }
        noteLoss(file.errorString());
        return;
    }
    const QString error = appendToLog(entries);
    if (error.isEmpty()) {
        g_lossNoted = false;
        return;
    }
    noteLoss(error);
}

} // namespace

void WriteUpdateLog(const QString& text)
{
    if (g_paused > 0)
        return;
    if (g_noting)
        return;
    const QByteArray entry = ov::cp936::encode(text + QStringLiteral("\r\n"));
    if (g_buffering > 0) {
        g_pending += entry;
        if (g_pending.size() >= kPendingLimit)
            FlushUpdateLog();
        return;
    }
    writeEntries(entry);
}

void FlushUpdateLog()
{
    if (g_pending.isEmpty())
        return;
    const QByteArray entries = std::exchange(g_pending, QByteArray());
    writeEntries(entries);
}

UpdateLogBuffer::UpdateLogBuffer()
{
    ++g_buffering;
}

UpdateLogBuffer::~UpdateLogBuffer()
{
    if (--g_buffering == 0)
        FlushUpdateLog();
}

UpdateLogSection::UpdateLogSection()
{
    const QFileInfo log(UpdateLogPath());
    // Made under a name FoldLeftLogSections passes over and given the
    // section's name only once it is locked: a run that starts meanwhile and
    // folds the sections of killed runs never takes one being made (still
    // empty and not yet locked) for one of theirs.
    QTemporaryFile file(log.absolutePath() + QStringLiteral("/.") + log.fileName() +
                        QStringLiteral(".XXXXXX.new"));
    file.setAutoRemove(false);
    if (!file.open())
        return;
    const QString made = file.fileName();
    file.close();
    const QString name = made.chopped(4) + QStringLiteral(".section");
    m_hold = ::open(encoded(made).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (m_hold < 0 || ::flock(m_hold, LOCK_EX | LOCK_NB) != 0 || !ov::renameIfFree(made, name)) {
        if (m_hold >= 0)
            ::close(m_hold);
        m_hold = -1;
        QFile::remove(made);
        return;
    }
    m_file = name;
    g_section = name;
}

UpdateLogSection::~UpdateLogSection()
{
    commit();
}

qint64 UpdateLogSection::commit()
{
    if (m_file.isEmpty())
        return 0;
    FlushUpdateLog();
    if (g_section == m_file)
        g_section.clear();
    QString error;
    const qint64 line = appendSection(m_file, QByteArray(), error);
    if (line >= 0)
        QFile::remove(m_file);
    else
        noteLoss(error);
    ::close(m_hold);
    m_hold = -1;
    m_file.clear();
    return line > 0 ? line : 0;
}

void FoldLeftLogSections()
{
    const QFileInfo log(UpdateLogPath());
    const QDir folder(log.absolutePath());
    const QStringList left =
        folder.entryList({QStringLiteral(".") + log.fileName() + QStringLiteral(".*.section")},
                         QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& name : left) {
        const QString path = folder.filePath(name);
        const int fd = ::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        // A section a live process holds is still being written; one that
        // another run folded and removed while this one waited is not there
        // any more under its name.
        struct stat held
        {};
        struct stat named
        {};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 &&
            ::stat(encoded(path).constData(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev) {
            QString error;
            const QByteArray heading = ov::cp936::encode(
                QStringLiteral("!!! 以下是一次未能结束的升级（进程被终止）留下的记录：\r\n"));
            if (appendSection(path, heading, error) >= 0)
                QFile::remove(path);
        }
        ::close(fd);
    }
}

} // namespace mdlOVSqlUpdateDB
