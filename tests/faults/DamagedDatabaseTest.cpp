// A crash in the middle of a bulk load leaves the database whole, with the
// table as it was; a damaged database file can still be dropped and
// replaced.

#include "FaultSupport.h"
#include "data/ServerAdmin.h"

#include <QFileInfo>

using namespace ovtest;

namespace {

class DamagedDatabase : public FaultFixture
{
protected:
    std::unique_ptr<ov::ServerAdmin> admin() const
    {
        return ov::ServerAdmin::create(m_server, true, QString(), QString());
    }
    QString databaseFile(const QString& name) const
    {
        return path(QStringLiteral("data/%1.sqlite").arg(name));
    }

    void makeDatabase(const QString& name)
    {
        const auto a = admin();
        ASSERT_TRUE(a->createDatabase(name)) << a->lastError().description.toStdString();
        ASSERT_TRUE(connect(name)->Execute(
            QStringLiteral("CREATE TABLE t (id INT NOT NULL PRIMARY KEY, name NVARCHAR(50))")));
    }
};

// The process dies (the file-size limit's signal) while the load writes the
// database file. The next connection finds the whole database as it was
// before the load, and the load then runs to its end.
TEST_F(DamagedDatabase, ACrashDuringABulkLoadLeavesTheTableAsItWas)
{
    makeDatabase(QStringLiteral("crm"));
    QByteArray data;
    for (int i = 1; i <= 20000; ++i)
        data += QByteArray::number(i) + "\tname of row " + QByteArray::number(i) + "\r\n";
    QFile dat(path(QStringLiteral("t.dat")));
    ASSERT_TRUE(dat.open(QIODevice::WriteOnly));
    dat.write(data);
    dat.close();
    const auto load = [&] {
        const auto a = admin();
        return a->bulkLoad(QStringLiteral("crm"), QStringLiteral("t"), path(QStringLiteral("t.dat")),
                           path(QStringLiteral("t.log")), path(QStringLiteral("t.err")));
    };

    const rlim_t size = rlim_t(QFileInfo(databaseFile(QStringLiteral("crm"))).size());
    const QString outcome = runInChild([&] {
        std::signal(SIGXFSZ, SIG_DFL);
        rlimit limit{size + 16384, size + 16384};
        setrlimit(RLIMIT_FSIZE, &limit);
        return load() ? QStringLiteral("loaded") : QStringLiteral("failed");
    });
    EXPECT_EQ(outcome, QStringLiteral("<killed by signal %1>").arg(SIGXFSZ));

    EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("PRAGMA integrity_check")), QStringList({"ok"}));
    EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT COUNT(*) FROM t")), QStringList({"0"}));
    EXPECT_TRUE(load());
    EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT COUNT(*) FROM t")), QStringList({"20000"}));
}

// Whatever became of the file, dropping the database removes it and a new
// database of the name can be made.
TEST_F(DamagedDatabase, ADamagedDatabaseIsDroppedAndMadeAgain)
{
    const struct
    {
        const char* name;
        std::function<void(const QString& file)> damage;
    } cases[] = {
        {"not a database",
         [](const QString& file) {
             QFile f(file);
             ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
             f.write(QByteArray(8192, 'x'));
         }},
        {"header overwritten",
         [](const QString& file) {
             QFile f(file);
             ASSERT_TRUE(f.open(QIODevice::ReadWrite));
             f.write(QByteArray(100, '\0'));
         }},
        {"cut short",
         [](const QString& file) {
             QFile f(file);
             ASSERT_TRUE(f.open(QIODevice::ReadWrite));
             ASSERT_TRUE(f.resize(f.size() / 2));
         }},
        {"empty file", [](const QString& file) { ASSERT_TRUE(QFile(file).resize(0)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        makeDatabase(QStringLiteral("crm"));
        ASSERT_TRUE(
            connect(QStringLiteral("crm"))
                ->Execute(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                                         "WHERE i < 2000) INSERT INTO t SELECT i, 'row ' || i FROM n")));
        c.damage(databaseFile(QStringLiteral("crm")));
        const auto a = admin();
        EXPECT_TRUE(a->dropDatabase(QStringLiteral("crm"))) << a->lastError().description.toStdString();
        EXPECT_FALSE(QFileInfo::exists(databaseFile(QStringLiteral("crm"))));
        EXPECT_TRUE(a->createDatabase(QStringLiteral("crm"))) << a->lastError().description.toStdString();
        EXPECT_TRUE(a->dropDatabase(QStringLiteral("crm")));
    }
}

// Two creations of one new name: the database file is made only when there
// is none, and a creation that finds one in its way removes nothing; a name
// whose file is a link to elsewhere is not followed.
TEST_F(DamagedDatabase, CreateMakesOnlyANewFileAndRemovesNoOtherOne)
{
    const QString elsewhere = path(QStringLiteral("elsewhere.sqlite"));
    ASSERT_TRUE(QFile::link(elsewhere, databaseFile(QStringLiteral("linked"))));
    const auto a = admin();
    EXPECT_FALSE(a->createDatabase(QStringLiteral("linked")));
    EXPECT_EQ(a->lastError().number, 1801);
    EXPECT_TRUE(QFileInfo(databaseFile(QStringLiteral("linked"))).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(elsewhere));
}

} // namespace
