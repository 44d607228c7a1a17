// Assigning a field of a row being appended checks the value against the
// column, on both engines: a value the column cannot take is refused at the
// field, which stays unset, and the row can still be stored.

#include "DataTestSupport.h"

#include "data/DataError.h"

#include <QDateTime>

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
            "[Rate] FLOAT, [Ratio] REAL, [Money] MONEY, [Flag] BIT, [At] DATETIME)")))
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
        {"Amount", QStringLiteral("-999.999"), true, EmbeddedOnly}, // more decimals are rounded
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

INSTANTIATE_TEST_SUITE_P(Engines, FieldAssignment, ::testing::Values(Engine::Embedded, Engine::Odbc),
                         [](const auto& info) {
                             return std::string(info.param == Engine::Embedded ? "Embedded" : "Odbc");
                         });

} // namespace
