#include "config/clsIniFile.h"

#include "common/mdlCommon.h"

#include "common/Cp936.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <thread>

namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF");
const QByteArray kCrLf("\r\n");

// s without the blanks at both ends: spaces and tabs, or only spaces.
QString trimBlanks(const QString& s, bool spacesOnly = false)
{
    const auto blank = [spacesOnly](QChar c) {
        return c == QLatin1Char(' ') || (!spacesOnly && c == QLatin1Char('\t'));
    };
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && blank(s.at(b)))
        ++b;
    while (e > b && blank(s.at(e - 1)))
        --e;
    return s.mid(b, e - b);
}

// What one line of a profile file is.
struct LineInfo
{
    enum Kind
    {
        Blank,
        Comment,
        Section,
        Key,
        Other
    } kind = Other;
    QString name;  // section or key name, trimmed
    QString value; // key value, trimmed, quotes still on
};

LineInfo parseLine(const QString& line)
{
    LineInfo info;
    const QString t = trimBlanks(line);
    if (t.isEmpty()) {
        info.kind = LineInfo::Blank;
        return info;
    }
    if (t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#'))) {
        info.kind = LineInfo::Comment;
        return info;
    }
    if (t.startsWith(QLatin1Char('['))) {
        const qsizetype close = t.lastIndexOf(QLatin1Char(']'));
        if (close > 0) {
            info.kind = LineInfo::Section;
            info.name = trimBlanks(t.mid(1, close - 1));
        }
        return info;
    }
    const qsizetype eq = t.indexOf(QLatin1Char('='));
    if (eq < 0)
        return info;
    info.kind = LineInfo::Key;
    info.name = trimBlanks(t.left(eq));
    info.value = trimBlanks(t.mid(eq + 1));
    return info;
}

// One line of the file as it lies on disk: its bytes without the line end,
// and the line end itself ("\r\n", "\n", or nothing on an unterminated last line).
// What the line says is kept beside it, so that lookups never decode twice.
struct RawLine
{
    QByteArray bytes;
    QByteArray end;
    LineInfo info;
};

// The whole file, split into lines. Lines that are not changed are written
// back with exactly the bytes they were read with.
struct Profile
{
    bool exists = false;
    bool utf8 = false;          // began with a UTF-8 byte-order mark (kept apart from the lines)
    QByteArray newline = kCrLf; // the file's own line end, used for lines we add
    QList<RawLine> lines;

    QString decode(const QByteArray& b) const { return utf8 ? QString::fromUtf8(b) : ov::cp936::decode(b); }
    QByteArray encode(const QString& s) const { return utf8 ? s.toUtf8() : ov::cp936::encode(s); }

    QByteArray serialize() const
    {
        QByteArray out = utf8 ? kUtf8Bom : QByteArray();
        for (const RawLine& l : lines)
            out += l.bytes + l.end;
        return out;
    }
};

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Reads and splits the file. A missing file is an empty profile; false only
// when the file exists and cannot be read.
bool load(const QString& path, Profile& p)
{
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    p.exists = true;
    if (ov::cp936::hasUtf8Bom(data)) {
        p.utf8 = true;
        data.remove(0, kUtf8Bom.size());
    }
    qsizetype start = 0;
    while (start < data.size()) {
        const qsizetype lf = data.indexOf('\n', start);
        RawLine line;
        if (lf < 0) {
            line.bytes = data.mid(start);
            start = data.size();
            // A CR that ends the file ends its last line: the line reads
            // without it, as it does once a line is added after it and the CR
            // is followed by a line feed.
            if (line.bytes.endsWith('\r')) {
                line.bytes.chop(1);
                line.end = "\r";
            }
        } else {
            const bool cr = lf > start && data.at(lf - 1) == '\r';
            line.bytes = data.mid(start, lf - start - (cr ? 1 : 0));
            line.end = cr ? kCrLf : QByteArray("\n");
            start = lf + 1;
        }
        line.info = parseLine(p.decode(line.bytes));
        p.lines.append(line);
    }
    if (!p.lines.isEmpty() && p.lines.first().end.endsWith('\n'))
        p.newline = p.lines.first().end;
    return true;
}

// Index of the header line of the first section named name, or -1.
int findSection(const Profile& p, const QString& name)
{
    for (int i = 0; i < p.lines.size(); ++i) {
        const LineInfo& info = p.lines.at(i).info;
        if (info.kind == LineInfo::Section && sameName(info.name, name))
            return i;
    }
    return -1;
}

// Index of the first line after the section whose header is at header.
int sectionEnd(const Profile& p, int header)
{
    int i = header + 1;
    while (i < p.lines.size() && p.lines.at(i).info.kind != LineInfo::Section)
        ++i;
    return i;
}

// Index of the first line of key in the section whose header is at header, or -1.
int findKey(const Profile& p, int header, const QString& key, LineInfo* found = nullptr)
{
    for (int i = header + 1; i < p.lines.size(); ++i) {
        const LineInfo& info = p.lines.at(i).info;
        if (info.kind == LineInfo::Section)
            break;
        if (info.kind == LineInfo::Key && sameName(info.name, key)) {
            if (found)
                *found = info;
            return i;
        }
    }
    return -1;
}

QString unquote(const QString& value)
{
    if (value.size() >= 2 && (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\'')) &&
        value.back() == value.front())
        return value.mid(1, value.size() - 2);
    return value;
}

// The bytes a character takes in code page 936.
qsizetype codePageLength(const QString& character)
{
    if (character.size() == 1 && character.front().unicode() < 0x80)
        return 1;
    return ov::cp936::encode(character).size();
}

// What a caller gets back through a buffer of size bytes: at most size - 1
// bytes of text (no character cut in half), up to the first NUL, without the
// blanks at either end.
QString throughBuffer(const QString& value, int size)
{
    const qsizetype room = size - 1;
    qsizetype used = 0;
    qsizetype cut = 0;
    while (cut < value.size()) {
        const qsizetype len = value.at(cut).isHighSurrogate() && cut + 1 < value.size() ? 2 : 1;
        used += codePageLength(value.mid(cut, len));
        if (used > room)
            break;
        cut += len;
    }
    QString s = value.left(cut);
    const qsizetype nul = s.indexOf(QChar(0));
    if (nul >= 0)
        s.truncate(nul);
    return trimBlanks(s, true);
}

bool hasLineBreakOrNul(const QString& s)
{
    return s.contains(QLatin1Char('\r')) || s.contains(QLatin1Char('\n')) || s.contains(QChar(0));
}

// A section name that would come back as the same section when read.
bool validSection(const QString& name)
{
    return !trimBlanks(name).isEmpty() && !hasLineBreakOrNul(name) && !name.contains(QLatin1Char(']'));
}

// A key and value that would come back as the same key line when read.
bool validEntry(const QString& key, const QString& value)
{
    const QString k = trimBlanks(key);
    if (k.isEmpty() || hasLineBreakOrNul(key) || key.contains(QLatin1Char('=')) || hasLineBreakOrNul(value))
        return false;
    const LineInfo info = parseLine(k + QLatin1Char('='));
    return info.kind == LineInfo::Key;
}

// The existing key line at i with its value replaced: the key, the equals
// sign and the blanks after it keep their bytes.
void replaceValue(Profile& p, int i, const QString& value)
{
    p.lines[i].info.value = value;
    QByteArray& bytes = p.lines[i].bytes;
    qsizetype keep = bytes.indexOf('=') + 1; // '=' is never the second byte of a double-byte character
    while (keep < bytes.size() && (bytes.at(keep) == ' ' || bytes.at(keep) == '\t'))
        ++keep;
    bytes = bytes.left(keep) + p.encode(value);
}

// Inserts a line before index at; a line before it that had no line end (or
// only the CR that ended the file) gets one.
void insertLine(Profile& p, int at, const QString& text)
{
    if (at > 0 && !p.lines.at(at - 1).end.endsWith('\n'))
        p.lines[at - 1].end = p.lines.at(at - 1).end.isEmpty() ? p.newline : kCrLf;
    p.lines.insert(at, RawLine{p.encode(text), p.newline, parseLine(text)});
}

// How value is written so that it reads back as itself: a reader takes a
// matching pair of quotes off a value, so a value that has one (a database
// named "q") goes into one more pair.
QString storedValue(const QString& value)
{
    const QString t = trimBlanks(value);
    if (unquote(t) != t)
        return QLatin1Char('"') + value + QLatin1Char('"');
    return value;
}

// Sets key (a trimmed name) in section (a trimmed name).
void setValue(Profile& p, const QString& section, const QString& key, const QString& given)
{
    const QString value = storedValue(given);
    const QString keyLine = key + QLatin1Char('=') + value;
    const int header = findSection(p, section);
    if (header < 0) {
        insertLine(p, p.lines.size(), QLatin1Char('[') + section + QLatin1Char(']'));
        insertLine(p, p.lines.size(), keyLine);
        return;
    }
    const int line = findKey(p, header, key);
    if (line >= 0) {
        replaceValue(p, line, value);
        return;
    }
    int last = header;
    const int end = sectionEnd(p, header);
    for (int i = header + 1; i < end; ++i) {
        if (p.lines.at(i).info.kind != LineInfo::Blank)
            last = i;
    }
    insertLine(p, last + 1, keyLine);
}

// The owner, group and mode of an existing file, which a write keeps.
struct FileOwnership
{
    bool known = false;
#ifdef Q_OS_UNIX
    uid_t uid = 0;
    gid_t gid = 0;
    mode_t mode = 0;
#endif
};

FileOwnership ownershipOf(const QString& path)
{
    FileOwnership o;
#ifdef Q_OS_UNIX
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        o.known = true;
        o.uid = st.st_uid;
        o.gid = st.st_gid;
        o.mode = st.st_mode & 07777;
    }
#else
    Q_UNUSED(path);
#endif
    return o;
}

// True when this process may give a file of its own the owner and group of
// the existing one: a replacement then looks to every other user exactly as
// the file it replaces.
bool canKeepOwnership(const FileOwnership& o)
{
#ifdef Q_OS_UNIX
    if (!o.known)
        return false;
    if (::geteuid() == 0)
        return true;
    if (o.uid != ::geteuid())
        return false;
    if (o.gid == ::getegid())
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(count), 0);
    const int got = ::getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, o.gid) != groups.begin() + got;
#else
    Q_UNUSED(o);
    return true;
#endif
}

// True when files can be created and renamed in the folder of path.
bool folderWritable(const QString& path)
{
#ifdef Q_OS_UNIX
    return ::access(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), W_OK | X_OK) == 0;
#else
    return QFileInfo(QFileInfo(path).absolutePath()).isWritable();
#endif
}

// Writes content to a temporary file beside path, gives it the owner, group
// and mode of the file it replaces (a new file: owner-only, as it holds a
// password), flushes it to disk and renames it over path. On any failure the
// temporary file is removed and path is not touched.
bool replaceFile(const QString& path, const QByteArray& content, const FileOwnership* keep, QString& error)
{
    QSaveFile file(path);
    const auto failed = [&] {
        error = file.errorString();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return failed();
    if (!keep && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return failed();
#ifdef Q_OS_UNIX
    if (keep &&
        (::fchown(file.handle(), keep->uid, keep->gid) != 0 || ::fchmod(file.handle(), keep->mode) != 0)) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        file.cancelWriting();
        return false;
    }
#endif
    if (file.write(content) != content.size())
        return failed();
    // write() only fills QSaveFile's buffer, and a failure of the flush inside
    // commit() (a full disk, a file-size limit) is not seen by commit(): it
    // would rename a cut-off file over the old one. Flush first and check.
    if (!file.flush())
        return failed();
    if (!file.commit())
        return failed();
    // Make the rename itself durable.
    mdlCommon::SyncFolder(QFileInfo(path).absolutePath());
    return true;
}

// Bytes that fill a file after its last line without changing what it
// says: a line feed, which ends a last line left without one (or with only
// a CR), then blanks, which make an empty line to every reader.
QByteArray filler(qsizetype size)
{
    if (size <= 0)
        return QByteArray();
    return QByteArray(1, '\n') + QByteArray(size - 1, ' ');
}

// Writes content over the file itself, which keeps its owner, group and
// mode: for a file that may be written where its folder may not, or that
// belongs to another user.
//
// New content longer than the old first grows the file with filler: a full
// disk or a size limit fails there, and the file is cut back to its old
// length, never half overwritten. New content shorter than the old is
// padded with filler to the old length, so that no old byte stays behind it
// if the writer dies before the file is cut to its length. Then only the
// bytes that differ are written, in one write: a kill cannot split a write
// that lies within one page, which holds the changed lines of any settings
// file of ordinary size (a change that spans pages, in a file longer than a
// page, could be cut at a page boundary by a kill). A writer killed at any
// step leaves the old values or the new ones.
bool rewriteInPlace(const QString& path, const QByteArray& content, QString& error)
{
    QFile file(path);
    const auto failed = [&] {
        error = file.errorString();
        return false;
    };
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return failed();
    // What the file holds now, byte for byte (it is locked against other writers).
    QByteArray was = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return failed();
#ifdef Q_OS_UNIX
    const auto systemFailed = [&] {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    };
    const auto writeAt = [&](const QByteArray& bytes, qsizetype at) {
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n =
                ::pwrite(file.handle(), bytes.constData() + done, size_t(bytes.size() - done), at + done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    };
    if (content.size() > was.size()) {
        const QByteArray grow = filler(content.size() - was.size());
        if (!writeAt(grow, was.size())) {
            const int why = errno;
            if (::ftruncate(file.handle(), was.size()) == 0)
                ::fsync(file.handle());
            errno = why;
            return systemFailed();
        }
        was += grow;
    }
    const QByteArray out = content + filler(was.size() - content.size());
    qsizetype first = 0;
    while (first < out.size() && out.at(first) == was.at(first))
        ++first;
    qsizetype end = out.size();
    while (end > first && out.at(end - 1) == was.at(end - 1))
        --end;
    if (!writeAt(out.mid(first, end - first), first) || ::fsync(file.handle()) != 0)
        return systemFailed();
    // The values are written; the filler after them is only trimmed.
    if (out.size() != content.size() && file.resize(content.size()))
        ::fsync(file.handle());
#else
    const QByteArray out = content + filler(was.size() - content.size());
    if (file.write(out) != out.size() || !file.flush() || !file.resize(content.size()))
        return failed();
#endif
    return true;
}

// Keeps the other writers of the file (this program in other processes,
// under any user) out while one reads, changes and writes it, and keeps
// them out of a reader's way: without it two writers of different keys
// each write back the file as they read it and one loses the other's
// values, and a reader could meet a file written in place half way.
//
// The lock is taken on the file's folder, which every user who may read
// the folder can lock: it holds whether the file is written in place,
// replaced or made, the file is never opened for writing only to be locked
// (which watchers of the file would take for a write), and locks others
// take on the file itself do not stop it.
class ProfileLock
{
public:
    enum Mode
    {
        Read,
        Write
    };

    ProfileLock() = default;
    ProfileLock(const ProfileLock&) = delete;
    ProfileLock& operator=(const ProfileLock&) = delete;
    ~ProfileLock()
    {
#ifdef Q_OS_UNIX
        if (m_fd >= 0)
            ::close(m_fd);
#endif
    }

    // Takes the lock for path. False only when another process held it for
    // the whole wait; a folder that cannot be opened (missing, or not
    // readable) is not locked and is left to the read or write to refuse.
    bool acquire(const QString& path, Mode mode)
    {
#ifdef Q_OS_UNIX
        m_fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                      O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd < 0)
            return true;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        auto pause = std::chrono::milliseconds(1);
        while (::flock(m_fd, (mode == Write ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR)
                return true;
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(50));
        }
#else
        Q_UNUSED(path);
        Q_UNUSED(mode);
#endif
        return true;
    }

private:
    int m_fd = -1;
};

} // namespace

QString clsIniFile::ReadString(const QString& strSection, const QString& strKey, const QString& strValDefault,
                               int lngSize) const
{
    return ReadStrings(strSection, {qMakePair(strKey, strValDefault)}, lngSize).constFirst();
}

QStringList clsIniFile::ReadStrings(const QString& strSection,
                                    const QList<QPair<QString, QString>>& keysAndDefaults, int lngSize) const
{
    Profile p;
    // A reader that waited long enough reads the file as it is.
    ProfileLock lock;
    lock.acquire(m_fileName, ProfileLock::Read);
    const bool loaded = load(m_fileName, p);
    const int header = loaded ? findSection(p, trimBlanks(strSection)) : -1;
    QStringList values;
    for (const auto& [key, fallback] : keysAndDefaults) {
        QString value = fallback;
        LineInfo info;
        if (header >= 0 && findKey(p, header, trimBlanks(key), &info) >= 0)
            value = unquote(info.value);
        values.append(throughBuffer(value, lngSize));
    }
    return values;
}

bool clsIniFile::WriteString(const QString& strSection, const QString& strKey, const QString& strVal)
{
    return WriteStrings(strSection, {qMakePair(strKey, strVal)});
}

bool clsIniFile::fail(const QString& reason)
{
    m_error = QStringLiteral("%1 cannot be written: %2").arg(QDir::toNativeSeparators(m_fileName), reason);
    return false;
}

bool clsIniFile::WriteStrings(const QString& strSection, const QList<QPair<QString, QString>>& keyValues)
{
    m_error.clear();
    if (m_fileName.isEmpty() || !validSection(strSection))
        return fail(QStringLiteral("the section name is not valid"));
    for (const auto& kv : keyValues) {
        if (!validEntry(kv.first, kv.second))
            return fail(QStringLiteral("the key or value \"%1\" is not valid").arg(kv.first));
    }
    ProfileLock lock;
    if (!lock.acquire(m_fileName, ProfileLock::Write))
        return fail(QStringLiteral("another process keeps it locked"));
    Profile p;
    if (!load(m_fileName, p))
        return fail(QStringLiteral("it cannot be read"));
    // A file without write permission for its owner is read-only also for
    // the administrator, who could write it anyway.
    const QFileInfo info(m_fileName);
    if (p.exists && (!info.isWritable() || !info.permissions().testFlag(QFileDevice::WriteOwner)))
        return fail(QStringLiteral("it is read-only"));
    const QByteArray before = p.serialize();
    for (const auto& kv : keyValues)
        setValue(p, trimBlanks(strSection), trimBlanks(kv.first), kv.second);
    const QByteArray after = p.serialize();
    if (p.exists && after == before)
        return true;

    // A new file, or one this process can replace as it stands (its folder
    // writable, its owner and group kept), is replaced in one rename. A file
    // shared with other users where only the file may be written is written
    // in place: replacing it would hand it to this user, or is not allowed.
    QString reason;
    bool written = false;
    const FileOwnership owner = p.exists ? ownershipOf(m_fileName) : FileOwnership();
    if (folderWritable(m_fileName) && (!p.exists || canKeepOwnership(owner)))
        written = replaceFile(m_fileName, after, p.exists ? &owner : nullptr, reason);
    else if (p.exists)
        written = rewriteInPlace(m_fileName, after, reason);
    else
        reason = QStringLiteral("its folder cannot be written");
    return written || fail(reason);
}
