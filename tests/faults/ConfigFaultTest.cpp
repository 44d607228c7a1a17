// The configuration file under faults: a writer killed in the middle, a file
// or folder that cannot be written, a full disk, a lock held by another
// process, and a file of random bytes.

#include "FaultSupport.h"
#include "config/ConfigFiles.h"
#include "config/mdlOVSqlServer.h"

#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace ovtest;

namespace {

class ConfigFaults : public FaultFixture
{
protected:
    QString config() const { return mdlOVSqlServer::ConfigFilePath(); }
};

struct Settings
{
    QString server, database, user, password;
    bool trusted;
};

const Settings kOld{QStringLiteral("sqlite:old"), QStringLiteral("OldCrm"), QStringLiteral("sa"),
                    QStringLiteral("old secret"), true};
const Settings kNew{QStringLiteral("sqlite:new"), QStringLiteral("新客户库"), QStringLiteral("crm user"),
                    QStringLiteral("new;secret=\"x\""), false};

bool write(const Settings& s)
{
    return mdlOVSqlServer::WriteMainSettings(s.server, s.database, s.trusted, s.user, s.password);
}

QString read()
{
    QString server, database, user, password;
    bool trusted = false;
    mdlOVSqlServer::ReadMainSettings(server, database, trusted, user, password);
    return QStringList{server, database, trusted ? QStringLiteral("1") : QStringLiteral("0"), user, password}
        .join(QLatin1Char('|'));
}

QString text(const Settings& s)
{
    return QStringList{s.server, s.database, s.trusted ? QStringLiteral("1") : QStringLiteral("0"), s.user,
                       s.password}
        .join(QLatin1Char('|'));
}

} // namespace

// A process killed at any moment of WriteMainSettings leaves the file with
// either all the old values or all the new ones, never a mix or a torn file.
TEST_F(ConfigFaults, KilledWriterLeavesOldOrNewFile)
{
    writeBytes(config(), "; kept comment\r\n[MAIN]\r\nUpdateDBResult=0\r\n");
    ASSERT_TRUE(write(kOld));
    const QByteArray oldBytes = readBytes(config());
    ASSERT_TRUE(write(kNew));
    const QByteArray newBytes = readBytes(config());
    ASSERT_TRUE(write(kOld));

    QRandomGenerator random(20240307);
    int sawOld = 0;
    int sawNew = 0;
    for (int round = 0; round < 60; ++round) {
        // The writer reports each finished write through a pipe, so the
        // kills fall after a chosen number of writes however busy the
        // machine is: after an even number the file was last written old,
        // after an odd number new, and the next write may be under way.
        int finished[2];
        ASSERT_EQ(pipe(finished), 0);
        const pid_t pid = ovtest::forkTiedToTest();
        if (pid == 0) {
            close(finished[0]);
            fcntl(finished[1], F_SETFL, O_NONBLOCK);
            // Writes the new and the old values by turns until it is killed.
            for (bool next = true;; next = !next) {
                write(next ? kNew : kOld);
                const char done = 1;
                (void)!::write(finished[1], &done, 1);
            }
        }
        ASSERT_GT(pid, 0);
        close(finished[1]);
        const int writes = 1 + int(random.bounded(8));
        for (int n = 0; n < writes;) {
            char done = 0;
            const ssize_t got = ::read(finished[0], &done, 1);
            if (got == 1)
                ++n;
            else if (got == 0 || errno != EINTR)
                break;
        }
        usleep(random.bounded(3000));
        kill(pid, SIGKILL);
        close(finished[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));

        const QByteArray bytes = readBytes(config());
        ASSERT_TRUE(bytes == oldBytes || bytes == newBytes) << "round " << round << ":\n"
                                                            << bytes.toStdString();
        (bytes == oldBytes ? sawOld : sawNew)++;
        // Whatever the killed writer left beside the file does not stop the next one.
        ASSERT_TRUE(write(kOld));
    }
    // The kills fell both before and after a rename.
    EXPECT_GT(sawOld, 0);
    EXPECT_GT(sawNew, 0);
    EXPECT_EQ(read(), text(kOld));
}

// Where the file cannot be written the write is refused, the file keeps its
// bytes and the values read are the ones it had.
TEST_F(ConfigFaults, UnwritableFileOrFolderRefusesTheWrite)
{
    struct Case
    {
        const char* name;
        std::function<void(const QString& folder)> arrange;
        bool unprivileged;
    };
    const QByteArray before = "[MAIN]\r\nDBServer=sqlite:old\r\nDBName=OldCrm\r\n";
    const Case cases[] = {
        {"read-only file",
         [&](const QString& folder) {
             writeBytes(folder + QStringLiteral("OrvaneSqlConfig.ini"), before);
             QFile::setPermissions(folder + QStringLiteral("OrvaneSqlConfig.ini"),
                                   QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
         },
         false},
        {"read-only folder without the file",
         [&](const QString& folder) { QFile::setPermissions(folder, QFile::Permissions(0x5555)); }, true},
        {"missing folder", [&](const QString& folder) { m_dir.pointAt(folder + QStringLiteral("missing/")); },
         false},
        {"folder that is a file",
         [&](const QString& folder) {
             writeBytes(folder + QStringLiteral("file"), before);
             m_dir.pointAt(folder + QStringLiteral("file/"));
         },
         false},
        {"file that is a folder",
         [&](const QString& folder) {
             ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("OrvaneSqlConfig.ini")));
         },
         false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = path(QStringLiteral("case%1/").arg(++n));
        ASSERT_TRUE(QDir().mkpath(folder));
        QFile::setPermissions(folder, QFile::Permissions(0x7755));
        m_dir.pointAt(folder);
        c.arrange(folder);
        const QByteArray bytesBefore = readBytes(config());
        const QString valuesBefore = read();
        const QStringList filesBefore =
            QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        const QString outcome = runInChild(
            [] {
                return QStringLiteral("%1 %2")
                    .arg(write(kNew))
                    .arg(mdlOVSqlServer::WriteUpdateDBResult(true));
            },
            c.unprivileged);
        EXPECT_EQ(outcome, QStringLiteral("0 0"));
        EXPECT_EQ(readBytes(config()), bytesBefore);
        EXPECT_EQ(read(), valuesBefore);
        EXPECT_NE(read(), text(kNew));
        EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), filesBefore)
            << "no file is left behind";
        QFile::setPermissions(folder, QFile::Permissions(0x7700));
    }
}

namespace {

// The owner, group and mode bits of a file, as "uid:gid 0mode".
QString ownership(const QString& file)
{
    struct stat st;
    if (::stat(QFile::encodeName(file).constData(), &st) != 0)
        return QStringLiteral("<missing>");
    return QStringLiteral("%1:%2 0%3").arg(st.st_uid).arg(st.st_gid).arg(st.st_mode & 07777, 0, 8);
}

// Runs fn in a child as "nobody", a member of the group "users" besides its
// own: a user who shares the file with the main program through that group.
QString runAsGroupMember(const std::function<QString()>& fn)
{
    return runInChild([&] {
        const passwd* nobody = getpwnam("nobody");
        const group* users = getgrnam("users");
        if (!nobody || !users)
            return QStringLiteral("<no user nobody or group users>");
        const gid_t groups[] = {users->gr_gid};
        if (setgroups(1, groups) != 0 || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)
            return QStringLiteral("<cannot become nobody>");
        return fn();
    });
}

} // namespace

// A configuration file shared with the main program keeps its owner, group
// and mode whoever writes it: written in place where only the file may be
// written (a read-only folder, another user's file shared through a group),
// replaced in one rename otherwise. The values always reach the file, the
// result keys with them.
TEST_F(ConfigFaults, SharedFileKeepsItsOwnerGroupAndMode)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to hand files to other users";
    const passwd* nobody = getpwnam("nobody");
    const group* users = getgrnam("users");
    ASSERT_TRUE(nobody && users);
    struct Case
    {
        const char* name;
        uid_t owner;
        gid_t group;
        QFile::Permissions mode;
        QFile::Permissions folderMode;
        int writer; // 0 root, 1 nobody alone, 2 nobody in the group "users"
    };
    const Case cases[] = {
        {"a writable file in a read-only folder", nobody->pw_uid, nobody->pw_gid, QFile::Permissions(0x6644),
         QFile::Permissions(0x5555), 1},
        {"root:users 0664 written by a member of users", 0, users->gr_gid, QFile::Permissions(0x6664),
         QFile::Permissions(0x7777), 2},
        {"nobody:users 0640 written by root", nobody->pw_uid, users->gr_gid, QFile::Permissions(0x6640),
         QFile::Permissions(0x7755), 0},
        {"the owner's own file of another group, folder writable", nobody->pw_uid, users->gr_gid,
         QFile::Permissions(0x6660), QFile::Permissions(0x7777), 1},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = path(QStringLiteral("shared%1/").arg(++n));
        ASSERT_TRUE(QDir().mkpath(folder));
        m_dir.pointAt(folder);
        writeBytes(config(), "[MAIN]\r\nDBServer=sqlite:old\r\nUpdateDBResult=1\r\n");
        ASSERT_EQ(chown(QFile::encodeName(config()).constData(), c.owner, c.group), 0);
        ASSERT_TRUE(QFile::setPermissions(config(), c.mode));
        ASSERT_TRUE(QFile::setPermissions(folder, c.folderMode));
        const QString before = ownership(config());

        const auto writeAll = [] {
            return QStringLiteral("%1 %2").arg(mdlOVSqlServer::WriteUpdateDBResult(false)).arg(write(kNew));
        };
        const QString outcome = c.writer == 0   ? runInChild(writeAll)
                                : c.writer == 1 ? runInChild(writeAll, true)
                                                : runAsGroupMember(writeAll);
        EXPECT_EQ(outcome, QStringLiteral("1 1"));
        EXPECT_EQ(read(), text(kNew));
        EXPECT_TRUE(readBytes(config()).contains("UpdateDBResult=0\r\n")) << readBytes(config()).constData();
        EXPECT_EQ(ownership(config()), before);
        EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{QStringLiteral("OrvaneSqlConfig.ini")})
            << "no file is left behind";
        QFile::setPermissions(folder, QFile::Permissions(0x7700));
    }
}

// A file written in place (a writable file in a read-only folder) holds the
// old values or the new ones when the writer dies at any step of the write:
// at each system call that writes, cuts or syncs a file. New values shorter
// and longer than the old ones.
TEST_F(ConfigFaults, InPlaceWriteKilledAtAnyStepLeavesOldOrNewValues)
{
#if !defined(__x86_64__)
    GTEST_SKIP() << "the system-call filter is written for x86-64";
#endif
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to hand the file to another user";
    const passwd* nobody = getpwnam("nobody");
    ASSERT_TRUE(nobody);
    const struct
    {
        const char* step;
        long call;
    } steps[] = {
        {"write", SYS_write}, {"pwrite64", SYS_pwrite64}, {"ftruncate", SYS_ftruncate}, {"fsync", SYS_fsync}};
    const struct
    {
        const char* name;
        const Settings& from;
        const Settings& to;
    } writes[] = {{"longer values", kOld, kNew}, {"shorter values", kNew, kOld}};
    int n = 0;
    for (const auto& w : writes) {
        for (const auto& step : steps) {
            SCOPED_TRACE(std::string(w.name) + ", killed at " + step.step);
            const QString folder = path(QStringLiteral("inplace%1/").arg(++n));
            ASSERT_TRUE(QDir().mkpath(folder));
            m_dir.pointAt(folder);
            writeBytes(config(), "; kept comment\r\n[MAIN]\r\nUpdateDBResult=0\r\n");
            ASSERT_TRUE(write(w.to));
            const QByteArray toBytes = readBytes(config());
            ASSERT_TRUE(write(w.from));
            const QByteArray fromBytes = readBytes(config());
            ASSERT_EQ(chown(QFile::encodeName(config()).constData(), nobody->pw_uid, nobody->pw_gid), 0);
            ASSERT_TRUE(QFile::setPermissions(folder, QFile::Permissions(0x5555)));

            const QString outcome = runInChild(
                [&] {
                    if (!killAtSystemCall(step.call))
                        return QStringLiteral("<no filter>");
                    return QString::number(write(w.to));
                },
                true);
            // A write that never makes the call completes ("1").
            EXPECT_TRUE(outcome == QStringLiteral("<killed by signal %1>").arg(SIGSYS) ||
                        outcome == QStringLiteral("1"))
                << outcome.toStdString();
            // The old bytes or the new ones, with at most blank lines after them.
            const QByteArray bytes = readBytes(config());
            const auto holds = [&](const QByteArray& whole) {
                return bytes.startsWith(whole) && bytes.mid(whole.size()).trimmed().isEmpty();
            };
            EXPECT_TRUE(holds(fromBytes) || holds(toBytes)) << bytes.toStdString();
            const QString values = read();
            EXPECT_TRUE(values == text(w.from) || values == text(w.to)) << values.toStdString();
            // Whatever the dead writer left, the next write makes the file whole.
            ASSERT_TRUE(QFile::setPermissions(folder, QFile::Permissions(0x7700)));
            ASSERT_TRUE(write(w.to));
            EXPECT_EQ(read(), text(w.to));
            EXPECT_TRUE(readBytes(config()).startsWith("; kept comment\r\n"));
        }
    }
}

// A write that fails is not silent: the port is told which file could not
// be written and why (the windows log it, the command line prints it).
TEST_F(ConfigFaults, FailedWriteIsNoted)
{
    writeBytes(config(), "[MAIN]\r\nDBServer=sqlite:old\r\n");
    QFile::setPermissions(config(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    ScriptedUi ui;
    EXPECT_FALSE(mdlOVSqlServer::WriteUpdateDBResult(false));
    EXPECT_FALSE(write(kNew));
    ASSERT_EQ(ui.notes().size(), 2);
    for (const QString& note : ui.notes())
        EXPECT_TRUE(
            note.startsWith(QDir::toNativeSeparators(config()) + QStringLiteral(" cannot be written")))
            << note.toStdString();
    EXPECT_TRUE(ui.messages().isEmpty());
    ui.clear();
    QFile::setPermissions(config(), QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_TRUE(write(kNew));
    EXPECT_TRUE(ui.notes().isEmpty());
}

// A disk that fills up while the new file is written: the write is refused
// and the old file stays whole.
TEST_F(ConfigFaults, FullDiskKeepsTheOldFile)
{
    writeBytes(config(), "; comment\r\n[BACKUPRESTORE]\r\nDEFAULTPATHFILE=/srv/a.bak\r\n");
    ASSERT_TRUE(write(kOld));
    const QByteArray before = readBytes(config());
    const QString outcome = runInChild([&] {
        limitFileSize(qMax<rlim_t>(16, rlim_t(before.size()) / 2));
        return QString::number(write(kNew));
    });
    EXPECT_EQ(outcome, QStringLiteral("0"));
    EXPECT_EQ(readBytes(config()), before);
    EXPECT_EQ(read(), text(kOld));
}

// Another process holding a lock on the file does not tear it: the new file
// replaces the old one whole, and the holder keeps the bytes it had open.
TEST_F(ConfigFaults, LockedFileIsReplacedWhole)
{
    ASSERT_TRUE(write(kOld));
    const QByteArray before = readBytes(config());
    const int fd = ::open(QFile::encodeName(config()).constData(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    EXPECT_TRUE(write(kNew));
    EXPECT_EQ(read(), text(kNew));
    QByteArray held(before.size() + 16, '\0');
    EXPECT_EQ(pread(fd, held.data(), size_t(held.size()), 0), before.size());
    EXPECT_EQ(held.left(before.size()), before);
    close(fd);
}

// A file of random bytes reads as the defaults where it holds no values, and
// a write keeps every byte of it and adds the values that then read back.
TEST_F(ConfigFaults, RandomBytesAreKeptAndValuesAdded)
{
    for (const quint32 seed : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(seed);
        QRandomGenerator random(seed);
        QByteArray junk(int(random.bounded(1, 4096)), '\0');
        for (char& c : junk)
            c = char(random.bounded(256));
        junk.replace("[", "{"); // no section of its own, so the values go to the end
        writeBytes(config(), junk);
        QString server, database, user, password;
        bool trusted = false;
        mdlOVSqlServer::ReadMainSettings(server, database, trusted, user, password);
        EXPECT_EQ(user, QStringLiteral("sa"));
        EXPECT_EQ(password, QString());
        ASSERT_TRUE(write(kNew));
        EXPECT_TRUE(readBytes(config()).startsWith(junk));
        EXPECT_EQ(read(), text(kNew));
    }
}

// A file whose last line ends in a bare CR (found by fuzzing): that line
// reads the same before and after a write elsewhere in the file, and the
// write keeps every byte the file had.
TEST_F(ConfigFaults, LastLineEndingInBareCarriageReturn)
{
    for (const QByteArray& bytes :
         {QByteArrayLiteral("[MAIN]\r\nDBUser=crm\r"), QByteArrayLiteral("[MAIN]\nDBUser=crm\r"),
          QByteArrayLiteral("[MAIN]\r")}) {
        SCOPED_TRACE(bytes.toStdString());
        writeBytes(config(), bytes);
        const QString user = mdlOVSqlServer::ReadMainSettings().user;
        EXPECT_TRUE(user == QStringLiteral("crm") || user == QStringLiteral("sa")) << user.toStdString();
        ASSERT_TRUE(mdlOVSqlServer::WriteDefaultPathFile(QStringLiteral("/srv/crm.bak")));
        EXPECT_EQ(mdlOVSqlServer::ReadMainSettings().user, user);
        EXPECT_EQ(mdlOVSqlServer::ReadDefaultPathFile(), QStringLiteral("/srv/crm.bak"));
        EXPECT_TRUE(readBytes(config()).startsWith(bytes));
        ASSERT_TRUE(mdlOVSqlServer::WriteUpdateDBResult(true));
        EXPECT_EQ(mdlOVSqlServer::ReadMainSettings().user, user);
    }
}

namespace {

// Writes its own key count times (1, 2, …) while another process writes
// keys of its own: before each write the key must still hold the value
// this process wrote last, and after it the new one. Gives back how many
// times it found its key lost, as text.
QString countWhileAnotherWrites(bool mainSection, int count)
{
    int lost = 0;
    for (int i = 1; i <= count; ++i) {
        const QString before = QString::number(i - 1);
        const QString value = QString::number(i);
        if (mainSection) {
            const QString was = mdlOVSqlServer::ReadMainSettings().server;
            if (i > 1 && was != QStringLiteral("sqlite:") + before)
                ++lost;
            if (!mdlOVSqlServer::WriteMainSettings(QStringLiteral("sqlite:") + value, QStringLiteral("Crm"),
                                                   true, QStringLiteral("sa"), QString()))
                return QStringLiteral("<write %1 failed>").arg(i);
            if (mdlOVSqlServer::ReadMainSettings().server != QStringLiteral("sqlite:") + value)
                ++lost;
        } else {
            const QString was = mdlOVSqlServer::ReadDefaultPathFile();
            if (i > 1 && was != QStringLiteral("/srv/") + before)
                ++lost;
            if (!mdlOVSqlServer::WriteDefaultPathFile(QStringLiteral("/srv/") + value))
                return QStringLiteral("<write %1 failed>").arg(i);
            if (mdlOVSqlServer::ReadDefaultPathFile() != QStringLiteral("/srv/") + value)
                ++lost;
        }
    }
    return QString::number(lost);
}

} // namespace

// Two processes that write different keys of the file at the same time
// never lose each other's values: each write reads, changes and writes the
// file while no other writer does, whether the file is replaced by a rename
// or written in place; and no reader ever sees a torn file.
TEST_F(ConfigFaults, TwoWritersAtOnceKeepEachOthersKeys)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to hand the file to another user";
    const struct
    {
        const char* name;
        QFile::Permissions folderMode;
        bool exists;
    } cases[] = {{"replaced by a rename", QFile::Permissions(0x7777), true},
                 {"written in place", QFile::Permissions(0x5555), true},
                 {"created by the first of them", QFile::Permissions(0x7777), false}};
    const int count = 150;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = path(QStringLiteral("twowriters%1/").arg(++n));
        ASSERT_TRUE(QDir().mkpath(folder));
        m_dir.pointAt(folder);
        // A comment block makes each write long enough to be interleaved.
        const QByteArray comment = c.exists ? "; " + QByteArray(600, 'c') + "\r\n" : QByteArray();
        if (c.exists) {
            writeBytes(config(), comment + "[MAIN]\r\nUpdateDBResult=0\r\n");
            giveToUnprivileged(config());
        }
        ASSERT_TRUE(QFile::setPermissions(folder, c.folderMode));

        std::vector<pid_t> pids;
        std::vector<int> pipes;
        for (const bool mainSection : {true, false}) {
            int fds[2];
            ASSERT_EQ(pipe(fds), 0);
            const pid_t pid = ovtest::forkTiedToTest();
            if (pid == 0) {
                close(fds[0]);
                const QByteArray out =
                    runInChild([&] { return countWhileAnotherWrites(mainSection, count); }, true).toUtf8();
                (void)!::write(fds[1], out.constData(), size_t(out.size()));
                _exit(0);
            }
            close(fds[1]);
            pids.push_back(pid);
            pipes.push_back(fds[0]);
        }
        for (size_t i = 0; i < pids.size(); ++i) {
            QByteArray out;
            char buffer[256];
            for (ssize_t got; (got = ::read(pipes[i], buffer, sizeof buffer)) > 0;)
                out.append(buffer, int(got));
            close(pipes[i]);
            int status = 0;
            waitpid(pids[i], &status, 0);
            EXPECT_EQ(out, QByteArray("0")) << (i == 0 ? "[MAIN]" : "[BACKUPRESTORE]") << " lost its value";
        }
        EXPECT_EQ(mdlOVSqlServer::ReadMainSettings().server, QStringLiteral("sqlite:%1").arg(count));
        EXPECT_EQ(mdlOVSqlServer::ReadDefaultPathFile(), QStringLiteral("/srv/%1").arg(count));
        EXPECT_TRUE(readBytes(config()).startsWith(comment));
        EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{QStringLiteral("OrvaneSqlConfig.ini")})
            << "no file is left behind";
        QFile::setPermissions(folder, QFile::Permissions(0x7700));
    }
}

// A disk that fills up (or a file-size limit) while a file is written in
// place: the write fails and is noted, and the file keeps its old values,
// whether the new content is longer than the old or the file is shorter
// than the limit by only a few bytes.
TEST_F(ConfigFaults, FullDiskDuringInPlaceWriteKeepsTheOldValues)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to hand the file to another user";
    const struct
    {
        const char* name;
        qsizetype room; // bytes the file may grow by
    } cases[] = {{"no room", 0}, {"a few bytes of room", 5}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = path(QStringLiteral("fullinplace%1/").arg(++n));
        ASSERT_TRUE(QDir().mkpath(folder));
        m_dir.pointAt(folder);
        writeBytes(config(), "; kept comment\r\n[MAIN]\r\nUpdateDBResult=0\r\n");
        ASSERT_TRUE(write(kOld));
        const QByteArray before = readBytes(config());
        giveToUnprivileged(config());
        ASSERT_TRUE(QFile::setPermissions(folder, QFile::Permissions(0x5555)));

        const QString outcome = runInChild(
            [&] {
                ScriptedUi ui;
                limitFileSize(rlim_t(before.size() + c.room));
                const bool written = write(kNew);
                return QStringLiteral("%1 %2").arg(written).arg(ui.notes().size());
            },
            true);
        EXPECT_EQ(outcome, QStringLiteral("0 1"));
        EXPECT_EQ(read(), text(kOld));
        EXPECT_EQ(readBytes(config()), before);
        QFile::setPermissions(folder, QFile::Permissions(0x7700));
    }
}

// A reader of the five connection values while another process writes them
// again and again gets all five of one write, never some of each.
TEST_F(ConfigFaults, ReaderGetsTheValuesOfOneWrite)
{
    writeBytes(config(), "; kept comment\r\n[MAIN]\r\nUpdateDBResult=0\r\n");
    ASSERT_TRUE(write(kOld));
    const pid_t pid = ovtest::forkTiedToTest();
    if (pid == 0) {
        for (bool next = true;; next = !next)
            write(next ? kNew : kOld);
    }
    ASSERT_GT(pid, 0);
    int mixed = 0;
    QString example;
    for (int i = 0; i < 4000; ++i) {
        const QString values = read();
        if (values != text(kOld) && values != text(kNew)) {
            ++mixed;
            example = values;
        }
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(mixed, 0) << example.toStdString();
}
