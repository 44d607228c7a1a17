// Assigning a field of a row being appended checks the value against the
// column, on both engines: a value the column cannot take is refused at the
// field, which stays unset, and the row can still be stored.

#include "DataTestSupport.h"

#include "data/DataError.h"

#include <QDateTime>

#include <limits>

namespace {

enum class Engine
{
    Embedded,
    Odbc,
};

class FieldAssignment : public ::testing::TestWithParam<Engine>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_cn.setCursorLocation(ov::adUseClient);
        if (GetParam() == Engine::Embedded) {
            ASSERT_TRUE(QDir().mkpath(m_dir.filePath(QStringLiteral("server"))));
            const QString server = QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("server"));
            auto admin = ov::ServerAdmin::create(server, true, QString(), QString());
            ASSERT_TRUE(admin->createDatabase(QStringLiteral("crm")));
            ASSERT_TRUE(m_cn.Open(ovtest::oleDbString(server, QStringLiteral("crm"))))
                << m_cn.lastError().description.toStdString();
        } else {
            ASSERT_TRUE(m_cn.Open(QStringLiteral("Driver=SQLite3;Database=") +
                                  m_dir.filePath(QStringLiteral("odbc.db"))))
                << m_cn.lastError().description.toStdString();
        }
        ASSERT_TRUE(m_cn.Execute(QStringLiteral(
            "CREATE TABLE T ([Id] INT NOT NULL, [Name] NVARCHAR(4), [Code] VARCHAR(4), [Memo] NTEXT, "
            "[Small] SMALLINT, [Tiny] TINYINT, [Count] INT, [Big] BIGINT, [Amount] DECIMAL(5,2), "
            "[Rate] FLOAT, [Ratio] REAL, [Money] MONEY, [Flag] BIT, [At] DATETIME, [Short] SMALLDATETIME, "
            "[Wide] DATETIME2)")))
            << m_cn.lastError().description.toStdString();
    }

    QTemporaryDir m_dir;
    ov::Connection m_cn;
};

// Where a case holds: the embedded engine knows every column as declared;
// the SQLite ODBC driver describes only some (it reports no NOT NULL, and
// NVARCHAR, NTEXT, DECIMAL, REAL and MONEY columns as other types), and a
// column is checked as its engine describes it.
enum Holds
{
    Both,
    EmbeddedOnly,
};

struct Case
{
    const char* field;
    QVariant value;
    bool accepted;
    Holds holds = Both;
};

TEST_P(FieldAssignment, ValuesAreCheckedAgainstTheColumn)
{
    const QDateTime at(QDate(2024, 3, 1), QTime(8, 30));
    const Case cases[] = {
        {"Id", QVariant(), false, EmbeddedOnly}, // NOT NULL
        {"Id", 7, true},
        {"Name", QStringLiteral("四个字符"), true, EmbeddedOnly}, // four characters
        {"Name", QStringLiteral("五个字符呀"), false},
        {"Name", QVariant(), true},
        {"Name", 1234, true}, // a number as text fits
        {"Name", 12345, false},
        {"Code", QStringLiteral("abcd"), true},
        {"Code", QStringLiteral("中文"), true}, // four code-page bytes
        {"Code", QStringLiteral("中文a"), false},
        {"Memo", QString(100000, QLatin1Char('x')), true, EmbeddedOnly},
        {"Small", -32768, true},
        {"Small", 32768, false},
        {"Tiny", 255, true},
        {"Tiny", -1, false},
        {"Count", 2147483647.0, true},
        {"Count", 2147483648.0, false},
        {"Count", QStringLiteral(" 42 "), true},
        {"Count", QStringLiteral("42x"), false},
        {"Count", at, false}, // a date in a number column
        {"Count", true, true},
        {"Big", qint64(-9223372036854775807LL), true},
        {"Big", 1e19, false},
        {"Amount", QStringLiteral("999.99"), true, EmbeddedOnly},
        {"Amount", QStringLiteral("-999.994"), true, EmbeddedOnly},  // more decimals are rounded
        {"Amount", QStringLiteral("-999.995"), false, EmbeddedOnly}, // rounded to -1000.00
        {"Amount", QStringLiteral("099.999"), true, EmbeddedOnly},   // to 100.00
        {"Amount", QStringLiteral("1000"), false, EmbeddedOnly},
        {"Amount", 1000.5, false, EmbeddedOnly},
        {"Amount", QStringLiteral("0001.5"), true, EmbeddedOnly},
        {"Rate", 1e300, true},
        {"Rate", QStringLiteral("abc"), false},
        {"Ratio", 1e39, false, EmbeddedOnly},
        {"Money", QStringLiteral("922337203685477.5807"), true, EmbeddedOnly},
        {"Money", 1e16, false, EmbeddedOnly},
        {"Flag", true, true},
        {"Flag", at, false},
        {"At", at, true},
        {"At", QStringLiteral("2024-03-01 08:30:00"), true},
        {"At", QStringLiteral("yesterday"), false},
        {"At", 45000, false},
    };
    ov::Recordset rs;
    ASSERT_TRUE(
        rs.Open(QStringLiteral("T"), m_cn, ov::adOpenForwardOnly, ov::adLockOptimistic, ov::adCmdTable))
        << rs.lastError().description.toStdString();
    ASSERT_TRUE(rs.AddNew());
    for (const Case& c : cases) {
        if (c.holds == EmbeddedOnly && GetParam() != Engine::Embedded)
            continue;
        const QString field = QLatin1String(c.field);
        const bool accepted = rs.Fields(field).setValue(c.value);
        EXPECT_EQ(accepted, c.accepted) << c.field << " = " << c.value.toString().left(20).toStdString();
        if (!accepted) {
            EXPECT_EQ(rs.lastError().number, ov::DataErr::FieldValue) << c.field;
            EXPECT_TRUE(rs.lastError().description.startsWith(QStringLiteral("Field '%1' ").arg(field)))
                << rs.lastError().description.toStdString();
        }
    }
    // The refused values left their fields as the last accepted value set
    // them, and the row is stored.
    ASSERT_TRUE(rs.Update()) << rs.lastError().description.toStdString();
    rs.Close();
    ov::Recordset back;
    ASSERT_TRUE(back.Open(QStringLiteral("SELECT Id, Name, Code, Small, Tiny, Count FROM T"), m_cn));
    ASSERT_FALSE(back.Eof());
    QStringList values;
    for (int i = 0; i < back.FieldCount(); ++i)
        values.append(back.Fields(i).Value().toString());
    EXPECT_EQ(values.join(QLatin1Char('|')), QStringLiteral("7|1234|中文|-32768|255|1"));
}

// Every integer type takes the values at both ends of its range and
// refuses the next ones outside, given as numbers and as text; a text takes
// exactly its defined size; a date outside the range a DATETIME column
// holds (from 1 January 1753) or a SMALLDATETIME one (1900 to 6 June 2079)
// is refused, and DATETIME2 takes every date.
TEST_P(FieldAssignment, RangesAreCheckedAtTheirExactEdges)
{
    const Case cases[] = {
        {"Tiny", 0, true},
        {"Tiny", 255, true},
        {"Tiny", 256, false},
        {"Tiny", QStringLiteral("256"), false},
        {"Tiny", -1, false},
        {"Small", 32767, true},
        {"Small", QStringLiteral("-32768"), true},
        {"Small", -32769, false},
        {"Small", QStringLiteral("32768"), false},
        {"Count", -2147483647 - 1, true},
        {"Count", QStringLiteral("2147483647"), true},
        {"Count", qint64(-2147483649LL), false},
        {"Count", QStringLiteral("-2147483649"), false},
        {"Count", qint64(2147483648LL), false},
        {"Big", std::numeric_limits<qint64>::max(), true},
        {"Big", std::numeric_limits<qint64>::min(), true},
        {"Big", QStringLiteral("-9223372036854775808"), true},
        {"Big", QStringLiteral("9223372036854775807"), true},
        {"Big", QStringLiteral("9223372036854775808"), false},
        {"Big", QStringLiteral("-9223372036854775809"), false},
        {"Big", quint64(9223372036854775808ULL), false},
        {"Big", 9223372036854775808.0, false},
        {"Big", -9223372036854775808.0, true},
        {"Name", QStringLiteral("abcd"), true},
        {"Name", QStringLiteral("abcde"), false},
        {"Code", QStringLiteral("中文a"), false},
        {"Code", QStringLiteral("中a"), true},
        {"At", QDateTime(QDate(1753, 1, 1), QTime(0, 0)), true},
        {"At", QDateTime(QDate(1752, 12, 31), QTime(23, 59, 59)), false, EmbeddedOnly},
        {"At", QDateTime(QDate(1, 1, 1), QTime(0, 0)), false, EmbeddedOnly},
        {"At", QStringLiteral("1752-12-31 00:00:00"), false, EmbeddedOnly},
        {"At", QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59)), true},
        {"Short", QDateTime(QDate(1900, 1, 1), QTime(0, 0)), true, EmbeddedOnly},
        {"Short", QDate(1899, 12, 31), false, EmbeddedOnly},
        {"Short", QStringLiteral("2079-06-06 23:59:00"), true, EmbeddedOnly},
        {"Short", QStringLiteral("2079-06-07"), false, EmbeddedOnly},
        {"Wide", QDateTime(QDate(1, 1, 1), QTime(0, 0)), true, EmbeddedOnly},
    };
    ov::Recordset rs;
    ASSERT_TRUE(
        rs.Open(QStringLiteral("T"), m_cn, ov::adOpenForwardOnly, ov::adLockOptimistic, ov::adCmdTable))
        << rs.lastError().description.toStdString();
    ASSERT_TRUE(rs.AddNew());
    for (const Case& c : cases) {
        if (c.holds == EmbeddedOnly && GetParam() != Engine::Embedded)
            continue;
        EXPECT_EQ(rs.Fields(QLatin1String(c.field)).setValue(c.value), c.accepted)
            << c.field << " = " << c.value.toString().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, FieldAssignment, ::testing::Values(Engine::Embedded, Engine::Odbc),
                         [](const auto& info) {
                             return std::string(info.param == Engine::Embedded ? "Embedded" : "Odbc");
                         });

} // namespace
