// A damaged database file can still be dropped and replaced.

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

} // namespace
