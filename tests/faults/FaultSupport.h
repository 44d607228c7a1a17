#pragma once

#include "data/Connection.h"
#include "data/Recordset.h"
#include "data/ServerAdmin.h"
#include "support/ChildProcess.h"
#include "support/RowTexts.h"
#include "support/ScopedProgramFolder.h"
#include "support/ScriptedUi.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <functional>
#include <grp.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <memory>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ovtest {

// The files of a folder, hidden ones included, without the embedded engine's
// lock files (".NAME.sqlite-task", ".NAME.sqlite-use"), which stay beside
// its databases by design: what is left shows files a task left behind.
inline QStringList filesLeftIn(const QString& folder)
{
    QStringList files;
    const QStringList all = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& name : all) {
        const bool lock =
            name.startsWith(QLatin1Char('.')) &&
            (name.endsWith(QLatin1String(".sqlite-task")) || name.endsWith(QLatin1String(".sqlite-use")));
        if (!lock)
            files.append(name);
    }
    return files;
}

// Runs fn in a forked child and gives back the text it returned, or
// "<killed by signal N>" / "<exit N>" when it did not return normally. With
// unprivileged set, a child that runs as root first becomes the user
// "nobody", so that permission bits stop it as they stop any user.
inline QString runInChild(const std::function<QString()>& fn, bool unprivileged = false)
{
    int fds[2];
    if (pipe(fds) != 0)
        return QStringLiteral("<pipe failed>");
    const pid_t pid = ovtest::forkTiedToTest();
    if (pid == 0) {
        close(fds[0]);
        if (unprivileged && geteuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            if (!nobody || setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 ||
                setuid(nobody->pw_uid) != 0)
                _exit(90);
            // A change of user clears the tie to the test process.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
        }
        const QByteArray out = fn().toUtf8();
        if (write(fds[1], out.constData(), size_t(out.size())) != out.size())
            _exit(91);
        _exit(0);
    }
    close(fds[1]);
    QByteArray out;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, int(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        return QStringLiteral("<killed by signal %1>").arg(WTERMSIG(status));
    if (WEXITSTATUS(status) != 0)
        return QStringLiteral("<exit %1>").arg(WEXITSTATUS(status));
    return QString::fromUtf8(out);
}

// From now on the calling process is killed when it enters the system call
// nr, before the call does anything: a crash at that exact step. For a child.
inline bool killAtSystemCall(long nr)
{
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<__u32>(nr), 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// From now on the system call nr of the calling process fails with
// errorNumber without doing anything; the process goes on. For a child.
// Failing pwrite64 with ENOSPC is a full disk for the embedded engine, which
// writes its database and journal with it, while files written with write()
// (the update log) still take what they are given.
inline bool failSystemCall(long nr, int errorNumber)
{
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<__u32>(nr), 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (static_cast<__u32>(errorNumber) & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Files the calling process writes from now on may not grow beyond bytes; a
// write past it fails (EFBIG) instead of raising SIGXFSZ. For a child: the
// limit is never lifted.
inline void limitFileSize(rlim_t bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &limit);
}

// Makes path usable by the child that runInChild(…, true) starts: owned by
// "nobody" when the tests run as root, so that it may write there.
inline void giveToUnprivileged(const QString& path)
{
    if (geteuid() != 0)
        return;
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    ASSERT_EQ(chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid), 0);
}

// A temporary program folder (so the configuration file and the update log
// are temporary ones) with an embedded server in its folder "data", a
// scripted answerer and a fixed clock. The folders are open to every user,
// for the children that run as another one.
// The result of PRAGMA integrity_check on a database file ("ok" when its
// structure is sound).
inline QString integrity(const QString& file)
{
    sqlite3* db = nullptr;
    QString result = QStringLiteral("<cannot open>");
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        result = QStringLiteral("<cannot check>");
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW)
            result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        sqlite3_finalize(stmt);
    }
    sqlite3_close_v2(db);
    return result;
}

// Runs sql on a SQLite file outside the engine; false, and the test fails,
// when it fails.
inline bool rawExec(const QString& file, const char* sql)
{
    sqlite3* db = nullptr;
    const int opened = sqlite3_open(QFile::encodeName(file).constData(), &db);
    char* message = nullptr;
    const int rc = opened == SQLITE_OK ? sqlite3_exec(db, sql, nullptr, nullptr, &message) : opened;
    EXPECT_EQ(rc, SQLITE_OK) << (message ? message : sqlite3_errmsg(db));
    sqlite3_free(message);
    sqlite3_close(db);
    return rc == SQLITE_OK;
}

class FaultFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QFile::setPermissions(m_dir.path(), QFile::Permissions(0x7755));
        m_server = m_dir.makeServer();
        m_dir.fixClock(QDateTime(QDate(2024, 3, 7), QTime(9, 5, 1)));
    }
    void TearDown() override
    {
        // Whatever a test made read-only goes back, so the folder can be removed.
        QFile::setPermissions(m_dir.path(), QFile::Permissions(0x7700));
    }

    QString path(const QString& name) const { return m_dir.path() + QLatin1Char('/') + name; }

    // A folder "bak" for backups, and the database name with statements run
    // in it.
    void makeBackupFolderAndDatabase(const QString& name, const QStringList& statements)
    {
        ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("bak")));
        auto admin = ov::ServerAdmin::create(m_server, true, QString(), QString());
        ASSERT_TRUE(admin->createDatabase(name)) << admin->lastError().description.toStdString();
        auto cn = connect(name);
        for (const QString& sql : statements)
            ASSERT_TRUE(cn->Execute(sql)) << sql.toStdString();
    }

    std::unique_ptr<ov::Connection> connect(const QString& database)
    {
        auto cn = std::make_unique<ov::Connection>();
        const bool opened =
            cn->Open(QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;"
                                    "Initial Catalog=\"%1\";Data Source=%2")
                         .arg(QString(database).replace(QLatin1Char('"'), QStringLiteral("\"\"")), m_server));
        EXPECT_TRUE(opened) << cn->lastError().description.toStdString();
        return cn;
    }

    // The rows of a query, each row its fields joined by "|"; "<error: …>"
    // when the query fails.
    QStringList rows(const QString& database, const QString& sql)
    {
        auto cn = connect(database);
        ov::Recordset rs;
        if (!rs.Open(sql, *cn))
            return {QStringLiteral("<error: %1>").arg(rs.lastError().description)};
        return RowTexts(rs);
    }

    ScopedProgramFolder m_dir;
    QString m_server;
};

} // namespace ovtest
