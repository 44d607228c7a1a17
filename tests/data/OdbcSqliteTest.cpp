// The ODBC engine for real: unixODBC with the SQLite 3 ODBC driver.

#include "DataTestSupport.h"

#include "data/DataError.h"
#include "data/odbc/MssqlAdmin.h"
#include "support/RowTexts.h"

#include <QDateTime>

using namespace ov;
using ovtest::str;

namespace {

class OdbcSqlite : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_cn.setCursorLocation(adUseClient);
        ASSERT_TRUE(
            m_cn.Open(QStringLiteral("Driver=SQLite3;Database=") + m_dir.filePath(QStringLiteral("odbc.db"))))
            << str(m_cn.lastError().description);
        EXPECT_EQ(m_cn.engine(), QStringLiteral("odbc"));
    }

    QStringList rows(const QString& sql)
    {
        Recordset rs;
        EXPECT_TRUE(rs.Open(sql, m_cn)) << str(rs.lastError().description);
        return ovtest::RowTexts(rs);
    }

    QTemporaryDir m_dir;
    Connection m_cn;
};

TEST_F(OdbcSqlite, BatchesAndTransactions)
{
    ASSERT_TRUE(m_cn.Execute(QStringLiteral("CREATE TABLE t (id INT, name VARCHAR(20));"
                                            "INSERT INTO t VALUES (1, 'a');"
                                            "INSERT INTO t VALUES (2, '张三');")))
        << str(m_cn.lastError().description);
    EXPECT_EQ(rows(QStringLiteral("SELECT id, name FROM t ORDER BY id")),
              QStringList({QStringLiteral("1|a"), QStringLiteral("2|张三")}));

    ASSERT_TRUE(m_cn.BeginTrans());
    ASSERT_TRUE(m_cn.Execute(QStringLiteral("DELETE FROM t")));
    ASSERT_TRUE(m_cn.RollbackTrans());
    EXPECT_EQ(rows(QStringLiteral("SELECT count(*) FROM t")), QStringList({QStringLiteral("2")}));

    ASSERT_TRUE(m_cn.BeginTrans());
    EXPECT_FALSE(m_cn.BeginTrans());
    ASSERT_TRUE(m_cn.Execute(QStringLiteral("DELETE FROM t WHERE id = 1")));
    ASSERT_TRUE(m_cn.CommitTrans());
    Connection other;
    ASSERT_TRUE(
        other.Open(QStringLiteral("Driver=SQLite3;Database=") + m_dir.filePath(QStringLiteral("odbc.db"))));
    Recordset rs;
    ASSERT_TRUE(rs.Open(QStringLiteral("SELECT id FROM t"), other));
    EXPECT_EQ(rs.Fields(0).Value(), QVariant(2));
    rs.MoveNext();
    EXPECT_TRUE(rs.Eof());
    EXPECT_FALSE(m_cn.RollbackTrans());
}

// The driver takes the statement text up to its first NUL character, so
// whatever follows one would be dropped without a word: such a text is
// refused whole, and nothing of it runs.
TEST_F(OdbcSqlite, TextWithANulCharacterIsRefusedWhole)
{
    ASSERT_TRUE(m_cn.Execute(QStringLiteral("CREATE TABLE t (id INT, a INT); INSERT INTO t VALUES (1, 0);"
                                            "INSERT INTO t VALUES (2, 0);")));
    const QString text = QStringLiteral("UPDATE t SET a = 1") + QChar(0) + QStringLiteral(" WHERE id = 2");
    EXPECT_FALSE(m_cn.Execute(text));
    EXPECT_EQ(m_cn.lastError().number, DataErr::InvalidArgument);
    Recordset rs;
    EXPECT_FALSE(rs.Open(text + QStringLiteral("; SELECT 1"), m_cn));
    EXPECT_EQ(rs.lastError().number, DataErr::InvalidArgument);
    EXPECT_EQ(rows(QStringLiteral("SELECT id, a FROM t ORDER BY id")),
              QStringList({QStringLiteral("1|0"), QStringLiteral("2|0")}));
}

// A server-side record set still reading when another command runs on its
// connection: its remaining rows are read first, so it gives the rows of
// its own query, and the other command is not blocked by it.
TEST_F(OdbcSqlite, OpenServerSideRecordsetKeepsItsRowsWhileOtherCommandsRun)
{
    ASSERT_TRUE(m_cn.Execute(QStringLiteral("CREATE TABLE t (id INT); INSERT INTO t VALUES (1); "
                                            "INSERT INTO t VALUES (2); INSERT INTO t VALUES (3);")));
    Connection cn;
    cn.setCursorLocation(adUseServer);
    ASSERT_TRUE(
        cn.Open(QStringLiteral("Driver=SQLite3;Database=") + m_dir.filePath(QStringLiteral("odbc.db"))));
    Recordset rs;
    // A plain scan, which would see the changes if it were still reading the table.
    ASSERT_TRUE(rs.Open(QStringLiteral("SELECT id FROM t"), cn)) << str(rs.lastError().description);
    QStringList seen;
    seen << rs.Fields(0).Value().toString();
    ASSERT_TRUE(cn.Execute(QStringLiteral("UPDATE t SET id = id + 10 WHERE id = 3")))
        << str(cn.lastError().description);
    ASSERT_TRUE(cn.Execute(QStringLiteral("INSERT INTO t VALUES (4)"))) << str(cn.lastError().description);
    for (rs.MoveNext(); !rs.Eof(); rs.MoveNext())
        seen << rs.Fields(0).Value().toString();
    EXPECT_FALSE(rs.lastError().isSet()) << str(rs.lastError().description);
    EXPECT_EQ(seen, QStringList({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    EXPECT_EQ(
        rows(QStringLiteral("SELECT id FROM t ORDER BY id")),
        QStringList({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("4"), QStringLiteral("13")}));
}

TEST_F(OdbcSqlite, FieldNamesTypesAndNulls)
{
    ASSERT_TRUE(m_cn.Execute(QStringLiteral(
        "CREATE TABLE p (ID INTEGER, Name VARCHAR(20), Born DATETIME, Score DOUBLE, Memo TEXT);"
        "INSERT INTO p VALUES (1, '李四', '2006-01-02 03:04:05', 1.5, '');"
        "INSERT INTO p VALUES (2, NULL, NULL, NULL, NULL);")));
    Recordset rs;
    ASSERT_TRUE(
        rs.Open(QStringLiteral("SELECT * FROM p ORDER BY ID"), m_cn, adOpenDynamic, adLockOptimistic));
    EXPECT_EQ(rs.RecordCount(), 2);
    const struct
    {
        const char* name;
        int type;
    } columns[] = {{"ID", adInteger},
                   {"Name", adVarChar},
                   {"Born", adDBTimeStamp},
                   {"Score", adDouble},
                   {"Memo", adLongVarChar}};
    ASSERT_EQ(rs.FieldCount(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(rs.Fields(i).Name(), QLatin1String(columns[i].name));
        EXPECT_EQ(rs.Fields(i).Type(), columns[i].type) << columns[i].name;
    }
    EXPECT_EQ(rs.Fields(QStringLiteral("id")).Value(), QVariant(1));
    EXPECT_EQ(rs.Fields(QStringLiteral("name")).Value(), QVariant(QStringLiteral("李四")));
    EXPECT_EQ(rs.Fields(QStringLiteral("born")).Value(),
              QVariant(QDateTime(QDate(2006, 1, 2), QTime(3, 4, 5))));
    EXPECT_EQ(rs.Fields(QStringLiteral("score")).Value(), QVariant(1.5));
    EXPECT_FALSE(rs.Fields(QStringLiteral("memo")).IsNull());
    EXPECT_EQ(rs.Fields(QStringLiteral("memo")).Value(), QVariant(QString()));
    ASSERT_TRUE(rs.MoveNext());
    for (const char* name : {"Name", "Born", "Score", "Memo"})
        EXPECT_TRUE(rs.Fields(QLatin1String(name)).IsNull()) << name;
}

TEST_F(OdbcSqlite, LongTextsComeBackWhole)
{
    const QString longText = QString(20000, QChar(0x4E2D)) + QStringLiteral("end");
    ASSERT_TRUE(m_cn.Execute(QStringLiteral("CREATE TABLE m (body TEXT)")));
    Recordset target;
    ASSERT_TRUE(target.Open(QStringLiteral("m"), m_cn, adOpenForwardOnly, adLockOptimistic, adCmdTable));
    ASSERT_TRUE(target.AddNew());
    target.Fields(0).setValue(longText);
    ASSERT_TRUE(target.Update()) << str(target.lastError().description);
    EXPECT_EQ(rows(QStringLiteral("SELECT body FROM m")), QStringList({longText}));
}

TEST_F(OdbcSqlite, AppendsTypedValuesAndNulls)
{
    ASSERT_TRUE(
        m_cn.Execute(QStringLiteral("CREATE TABLE c (ID INTEGER NOT NULL, Name VARCHAR(20), Met DATETIME, "
                                    "Rate DOUBLE, Kind VARCHAR(5) DEFAULT 'P')")));
    Recordset target;
    ASSERT_TRUE(target.Open(QStringLiteral("c"), m_cn, adOpenForwardOnly, adLockOptimistic, adCmdTable));
    ASSERT_TRUE(target.AddNew());
    target.Fields(QStringLiteral("ID")).setValue(7);
    target.Fields(QStringLiteral("Name")).setValue(QStringLiteral("王五"));
    target.Fields(QStringLiteral("Met")).setValue(QDateTime(QDate(2007, 5, 6), QTime(7, 8, 9)));
    target.Fields(QStringLiteral("Rate")).setValue(0.25);
    ASSERT_TRUE(target.Update()) << str(target.lastError().description);
    ASSERT_TRUE(target.AddNew());
    target.Fields(QStringLiteral("Name")).setValue(QStringLiteral("no id"));
    EXPECT_FALSE(target.Update());
    ASSERT_TRUE(target.AddNew());
    target.Fields(QStringLiteral("ID")).setValue(8);
    target.Fields(QStringLiteral("Name")).setValue(QVariant());
    ASSERT_TRUE(target.Update()) << str(target.lastError().description);

    EXPECT_EQ(rows(QStringLiteral("SELECT ID, Name, Met, Rate, Kind FROM c ORDER BY ID")),
              QStringList({QStringLiteral("7|王五|2007-05-06T07:08:09.000|0.25|P"),
                           QStringLiteral("8|<null>|<null>|<null>|P")}));
}

TEST_F(OdbcSqlite, DriverErrorsKeepTheirNumberAndText)
{
    Recordset rs;
    EXPECT_FALSE(rs.Open(QStringLiteral("SELECT * FROM nosuch"), m_cn));
    EXPECT_EQ(rs.lastError().number, 1); // the driver's native number: SQLITE_ERROR
    EXPECT_TRUE(rs.lastError().description.contains(QLatin1String("no such table: nosuch")))
        << str(rs.lastError().description);
    EXPECT_TRUE(rs.lastError().source.startsWith(QLatin1String("ODBC"))) << str(rs.lastError().source);

    EXPECT_FALSE(m_cn.Execute(QStringLiteral("INSERT INTO nosuch VALUES (1)")));
    EXPECT_TRUE(m_cn.lastError().description.contains(QLatin1String("nosuch")));

    // A driver the driver manager does not know: its own error, no native number.
    Connection none;
    EXPECT_FALSE(none.Open(QStringLiteral("Driver=NoSuchDriver;Database=x")));
    EXPECT_EQ(none.lastError().number, DataErr::ProviderFailure);
    EXPECT_EQ(none.lastError().source, QStringLiteral("ODBC 01000"));
    EXPECT_FALSE(none.lastError().description.isEmpty());
}

// SQL Server's folder listing over a connection that runs neither xp_dirtree
// nor xp_cmdshell: a folder holding a command character of the shell is
// refused just before the shell's listing would be sent; any other folder
// goes to the server, which refuses it here.
TEST_F(OdbcSqlite, ServerListingRefusesShellCharactersOnlyForTheShell)
{
    MssqlAdmin admin(QStringLiteral("127.0.0.1"), true, QString(), QString());
    QList<FolderEntry> entries;
    for (const char* folder : {"C:\\%TEMP%\\", "C:\\\" & x\\", "C:\\a\r\nb\\"}) {
        EXPECT_FALSE(admin.listFolder(m_cn, QString::fromUtf8(folder), entries)) << folder;
        EXPECT_EQ(admin.lastError().number, DataErr::InvalidArgument) << folder;
    }
    // & and | are plain characters inside the shell's double quotes.
    for (const char* folder : {"D:\\bak\\", "D:\\R&D\\", "C:\\a|b\\"}) {
        EXPECT_FALSE(admin.listFolder(m_cn, QString::fromUtf8(folder), entries)) << folder;
        EXPECT_NE(admin.lastError().number, DataErr::InvalidArgument) << folder;
        EXPECT_NE(admin.lastError().number, 0) << folder;
    }
}

} // namespace
