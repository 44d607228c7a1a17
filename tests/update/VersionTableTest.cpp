#include "update/VersionTable.h"
#include "update/UpdateFixture.h"

using namespace mdlOVSqlUpdateDB;

namespace {

class VersionTableTest : public ovtest::UpdateFixture
{};

TEST(CompareVersionsTest, ReleaseNumbersCountAsNumbersAndTheRestAsText)
{
    struct Case
    {
        const char* a;
        const char* b;
        int expected;
    };
    const Case cases[] = {
        {"9.0", "10.0", -1},   // release numbers, not texts: 9 < 10
        {"10.0", "9.5", 1},    //
        {"2.01", "2.05", -1},  // decimal-style series keep the order of their texts
        {"2.05", "2.1", -1},   //
        {"2.01", "2.1", -1},   //
        {"3.51", "3.6", -1},   //
        {"1.10", "1.9", -1},   //
        {"2.1", "2.1.1", -1},  // a version sorts before its extensions
        {"2.1", "2.2", -1},    //
        {"2.1", "2.1", 0},     //
        {"1", "1.0", -1},      //
        {"1", "1.", -1},       //
        {"0", "1.0", -1},      // a bare schema is older than every release
        {"007", "7", 0},       // leading zeros do not count
        {"007.5", "7.5", 0},   //
        {"2.1", "2.1 ", -1},   // a trailing blank is not trimmed
        {"2.a", "2.b", -1},    // letters by character code
        {"2.B", "2.a", -1},    // case-sensitive: "B" (66) before "a" (97)
        {"2.10a", "2.9a", -1}, // after the release number: by character code
        {"", "1.0", -1},       // a block without a name
        {"V10.0", "V9.0", -1}, // no leading digits: the whole texts as text
        {"9a.1", "10.0", 1},   //
        {" 3.0", "2.0", -1},   // a blank before the digits: as text
        {"99999999999999999999.1", "100000000000000000000.0", -1}, // beyond 64 bits
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CompareVersions(QString::fromUtf8(c.a), QString::fromUtf8(c.b)), c.expected)
            << c.a << " vs " << c.b;
        EXPECT_EQ(CompareVersions(QString::fromUtf8(c.b), QString::fromUtf8(c.a)), -c.expected)
            << c.b << " vs " << c.a;
    }
}

TEST_F(VersionTableTest, IsVersionAppliedComparesTheStoredVersionWithTheBlock)
{
    struct Case
    {
        const char* stored; // nullptr: no version row
        const char* block;
        bool passOver;
    };
    const Case cases[] = {
        {nullptr, "1.0", true},  // no version row: no versioned block runs
        {"NULL", "1.0", true},   // a NULL value: unknown as well
        {"", "1.0", true},       // a blank value: unknown
        {"  ", "1.0", true},     //
        {"NONE", "1.0", true},   // the reading's default stands for "unknown" too
        {"2.01", "2.1", false},  // a later decimal-style release runs
        {"1.10", "1.9", false},  //
        {"2.1", "2.05", true},   //
        {"9.0", "10.0", false},  // a newer release runs
        {"10.0", "9.0", true},   //
        {"2.1", "2.1", true},    // the same version: done already
        {"2.1", "2.2", false},   //
        {"2.1", "2.1.1", false}, //
        {" 2.1  ", "2.1", true}, // the stored value loses its blanks
        {"2.1", "2.1 ", false},  // the block name keeps its own
        {"0", "1.0", false},     // a bare schema receives every block
    };
    makeVersionTable(QString());
    auto cn = connect();
    for (const Case& c : cases) {
        ASSERT_TRUE(cn->Execute(QStringLiteral("DELETE FROM tblVarible")));
        if (c.stored) {
            const QString value = qstrcmp(c.stored, "NULL") == 0
                                      ? QStringLiteral("NULL")
                                      : QLatin1Char('\'') + QString::fromUtf8(c.stored) + QLatin1Char('\'');
            ASSERT_TRUE(cn->Execute(
                QStringLiteral("INSERT INTO tblVarible VALUES ('DB', 'Version', %1, '')").arg(value)));
        }
        EXPECT_EQ(IsVersionApplied(QString::fromUtf8(c.block), cn.get()), c.passOver)
            << (c.stored ? c.stored : "(none)") << " / " << c.block;
    }
}

TEST_F(VersionTableTest, AnUnreadableVersionPassesEveryBlockOver)
{
    // No tblVarible at all, and no connection.
    auto cn = connect();
    EXPECT_TRUE(IsVersionApplied(QStringLiteral("1.0"), cn.get()));
    EXPECT_TRUE(IsVersionApplied(QStringLiteral("1.0"), nullptr));
    EXPECT_EQ(ReadVaribleValue(QStringLiteral("DB"), QStringLiteral("Version"), QStringLiteral("d"),
                               QString(), cn.get()),
              QStringLiteral("d"));
    EXPECT_EQ(ReadVaribleValue(QStringLiteral("DB"), QStringLiteral("Version"), QStringLiteral("d"),
                               QString(), nullptr),
              QStringLiteral("d"));
}

TEST_F(VersionTableTest, ReadVaribleValueFindsTheRowOfModuleNameAndUser)
{
    makeVersionTable(QString());
    exec(QStringLiteral("INSERT INTO tblVarible VALUES ('Mail', 'Server', 'smtp-all', '')"));
    exec(QStringLiteral("INSERT INTO tblVarible VALUES ('Mail', 'Server', 'smtp-7', '7')"));
    exec(QStringLiteral("INSERT INTO tblVarible VALUES ('O''Brien', 'it''s', 'quoted', '')"));
    exec(QStringLiteral("INSERT INTO tblVarible VALUES ('Mail', 'Port', NULL, '')"));
    struct Case
    {
        const char* module;
        const char* name;
        const char* userId;
        const char* expected;
    };
    const Case cases[] = {
        {"Mail", "Server", "", "smtp-all"}, // no user: the first row of the two
        {"Mail", "Server", "7", "smtp-7"},  //
        {"Mail", "Server", "8", "dflt"},    // no row for that user
        {"O'Brien", "it's", "", "quoted"},  // quotes are doubled, not breaking the statement
        {"Mail", "Port", "", ""},           // a NULL value reads as empty
        {"Mail", "x' OR '1'='1", "", "dflt"},
    };
    auto cn = connect();
    for (const Case& c : cases) {
        EXPECT_EQ(ReadVaribleValue(QString::fromUtf8(c.module), QString::fromUtf8(c.name),
                                   QStringLiteral("dflt"), QString::fromUtf8(c.userId), cn.get()),
                  QString::fromUtf8(c.expected))
            << c.module << "/" << c.name << "/" << c.userId;
    }
}

TEST_F(VersionTableTest, RecordVersionAppliedKeepsOneRowWithTheLatestTime)
{
    makeVersionTable(QStringLiteral("1.0"));
    auto cn = connect();
    RecordVersionApplied(QStringLiteral("1.1"), cn.get());
    m_dir.fixClock(QDateTime(QDate(2025, 12, 31), QTime(23, 59, 58)));
    RecordVersionApplied(QStringLiteral("1.1"), cn.get());
    RecordVersionApplied(QStringLiteral("2.0 'beta'"), cn.get());
    EXPECT_EQ(rows(QStringLiteral("SELECT [Module], VaribleName, VaribleValue, UserID FROM tblVarible "
                                  "WHERE [Module] = 'UpdateDB' ORDER BY VaribleName")),
              (QStringList{QStringLiteral("UpdateDB|1.1|12/31/2025 23:59:58|1"),
                           QStringLiteral("UpdateDB|2.0 'beta'|12/31/2025 23:59:58|1")}));
    // The schema version itself is the scripts' business.
    EXPECT_EQ(rows(QStringLiteral("SELECT VaribleValue FROM tblVarible WHERE [Module] = 'DB'")),
              QStringList{QStringLiteral("1.0")});
}

TEST_F(VersionTableTest, RecordingWithoutTheTableFailsSilently)
{
    auto cn = connect();
    RecordVersionApplied(QStringLiteral("1.1"), cn.get());
    RecordVersionApplied(QStringLiteral("1.1"), nullptr);
    EXPECT_TRUE(m_ui.messages().isEmpty());
    EXPECT_TRUE(cn->Execute(QStringLiteral("SELECT 1"))); // the connection is still good
}

TEST_F(VersionTableTest, RecordingWorksInsideTheCallersTransaction)
{
    makeVersionTable(QStringLiteral("1.0"));
    auto cn = connect();
    ASSERT_TRUE(cn->BeginTrans());
    RecordVersionApplied(QStringLiteral("1.1"), cn.get());
    ASSERT_TRUE(cn->RollbackTrans());
    EXPECT_TRUE(rows(QStringLiteral("SELECT * FROM tblVarible WHERE [Module] = 'UpdateDB'")).isEmpty());
}

} // namespace
