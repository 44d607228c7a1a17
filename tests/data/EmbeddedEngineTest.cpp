// The embedded engine through Connection and Recordset, end to end in a
// temporary server folder.

#include "DataTestSupport.h"

#include "data/DataError.h"
#include "data/sqlite/EmbeddedServer.h"

#include <QDateTime>
#include <QFileInfo>

#include <sqlite3.h>

using namespace ov;
using ovtest::str;

namespace {

class EmbeddedEngine : public ovtest::EmbeddedServerTest
{};

TEST_F(EmbeddedEngine, CreateListAndDropMatchNamesWithoutCase)
{
    ASSERT_TRUE(m_admin->createDatabase(QStringLiteral("Crm")));
    ASSERT_TRUE(m_admin->createDatabase(QStringLiteral("alpha")));
    EXPECT_TRUE(QFileInfo(m_folder + QStringLiteral("/Crm.sqlite")).isFile());

    QStringList names;
    ASSERT_TRUE(m_admin->listDatabases(names));
    EXPECT_EQ(names, QStringList({QStringLiteral("alpha"), QStringLiteral("Crm")}));

    EXPECT_FALSE(m_admin->createDatabase(QStringLiteral("CRM")));
    EXPECT_EQ(m_admin->lastError().number, 1801);

    // A connection names the database in any letter case.
    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("crm"))) << str(cn.lastError().description);
    cn.Close();

    ASSERT_TRUE(m_admin->dropDatabase(QStringLiteral("CRM"))) << str(m_admin->lastError().description);
    ASSERT_TRUE(m_admin->listDatabases(names));
    EXPECT_EQ(names, QStringList({QStringLiteral("alpha")}));
    EXPECT_FALSE(m_admin->dropDatabase(QStringLiteral("crm")));
    EXPECT_EQ(m_admin->lastError().number, 3701);
}

TEST_F(EmbeddedEngine, DatabaseInUseIsNotDropped)
{
    makeDatabase(QStringLiteral("busy"), QStringLiteral("CREATE TABLE t (a INT)"));
    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("busy")));
    ASSERT_TRUE(cn.BeginTrans());
    ASSERT_TRUE(cn.Execute(QStringLiteral("INSERT INTO t VALUES (1)")));

    EXPECT_FALSE(m_admin->dropDatabase(QStringLiteral("busy")));
    EXPECT_EQ(m_admin->lastError().number, 3702);
    EXPECT_TRUE(QFileInfo(m_folder + QStringLiteral("/busy.sqlite")).isFile());
}

TEST_F(EmbeddedEngine, NamesThatLeaveTheFolderAreRefused)
{
    const struct
    {
        const char* name;
        const char* reason;
    } cases[] = {
        {"../escape", "名称中含有路径分隔符"},
        {"a\\b", "名称中含有路径分隔符"},
        {"c:crm", "名称中含有“:”"},
        {"..", "名称中含有“..”"},
        {"x..y", "名称中含有“..”"},
        {"tab\there", "名称中含有控制字符"},
        {"", "名称为空"},
    };
    for (const auto& c : cases) {
        const QString name = QString::fromUtf8(c.name);
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(m_admin->createDatabase(name));
        EXPECT_EQ(m_admin->lastError().number, DataErr::InvalidArgument);
        EXPECT_TRUE(m_admin->lastError().description.contains(QString::fromUtf8(c.reason)))
            << str(m_admin->lastError().description);

        Connection cn;
        EXPECT_FALSE(open(cn, name));
        EXPECT_EQ(cn.lastError().number, DataErr::InvalidArgument);

        BulkLoadResult counts;
        EXPECT_FALSE(m_admin->bulkLoad(
            QStringLiteral("Tempdb"), name, m_dir.filePath(QStringLiteral("x.dat")),
            m_dir.filePath(QStringLiteral("x.log")), m_dir.filePath(QStringLiteral("x.err")), &counts));
        EXPECT_EQ(m_admin->lastError().number, DataErr::InvalidArgument);
    }
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(QStringLiteral("escape.sqlite"))));
    EXPECT_EQ(QDir(m_folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

TEST_F(EmbeddedEngine, MissingDatabaseOrFolderIsAnError)
{
    Connection cn;
    EXPECT_FALSE(open(cn, QStringLiteral("nothere")));
    EXPECT_EQ(cn.lastError().number, 4060);
    EXPECT_FALSE(cn.isOpen());
    EXPECT_FALSE(QFileInfo::exists(m_folder + QStringLiteral("/nothere.sqlite")));

    Connection elsewhere;
    EXPECT_FALSE(
        elsewhere.Open(ovtest::oleDbString(m_server + QStringLiteral("/missing"), QStringLiteral("crm"))));
    EXPECT_EQ(elsewhere.lastError().number, 17);
}

// The engine's errors read Chinese, naming the object, with SQLite's number
// kept; a text without a Chinese form stays as SQLite words it.
TEST_F(EmbeddedEngine, StatementErrorsReadChinese)
{
    ASSERT_TRUE(m_admin->createDatabase(QStringLiteral("crm")));
    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("crm")));
    ASSERT_TRUE(
        cn.Execute(QStringLiteral("CREATE TABLE t (id INT PRIMARY KEY, name NVARCHAR(10) NOT NULL)")));
    ASSERT_TRUE(cn.Execute(QStringLiteral("INSERT INTO t VALUES (1, 'a')")));
    const struct
    {
        const char* sql;
        int number;
        const char* text;
    } cases[] = {
        {"SELECT * FROM nosuch", 1, "对象名 nosuch 无效：数据库中没有这个表。"},
        {"SELECT nosuch FROM t", 1, "列名 nosuch 无效：表中没有这一列。"},
        {"CREATE TABLE t (a INT)", 1, "数据库中已经有名为 t 的表。"},
        {"SELEC 1", 1, "“SELEC”附近有语法错误。"},
        {"INSERT INTO t VALUES (1, 'b')", 1555, "违反了唯一约束：t.id 不能有重复的值。"},
        {"INSERT INTO t VALUES (2, NULL)", 1299, "不能将 NULL 值插入列 t.name，该列不允许空值。"},
        {"SELECT nosuchfunction(1)", 1, "函数 nosuchfunction 不存在。"},
        {"SELECT json('x')", 1, "malformed JSON"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_FALSE(cn.Execute(QString::fromUtf8(c.sql)));
        EXPECT_EQ(cn.lastError().number, c.number);
        EXPECT_EQ(str(cn.lastError().description), str(QString::fromUtf8(c.text)));
    }
}

// SQLite's text that names the locked table keeps the name in Chinese.
TEST_F(EmbeddedEngine, ALockedTableIsNamed)
{
    const QByteArray file = QFile::encodeName(m_folder + QStringLiteral("/shared.sqlite"));
    sqlite3* a = nullptr;
    sqlite3* b = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_SHAREDCACHE;
    ASSERT_EQ(sqlite3_open_v2(file.constData(), &a, flags, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_open_v2(file.constData(), &b, flags, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(a, "CREATE TABLE tblLocked (a INT); BEGIN; INSERT INTO tblLocked VALUES (1)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(b, "SELECT * FROM tblLocked", nullptr, nullptr, nullptr) & 0xff, SQLITE_LOCKED);
    const QString sqliteText = QString::fromUtf8(sqlite3_errmsg(b));
    sqlite3_close(b);
    sqlite3_close(a);
    ASSERT_TRUE(sqliteText.contains(QLatin1String("tblLocked"))) << str(sqliteText);
    EXPECT_EQ(str(ov::embedded::engineMessage(sqliteText)),
              str(QStringLiteral("数据库中的表 tblLocked 正被锁定。")));
    EXPECT_EQ(str(ov::embedded::engineMessage(QStringLiteral("database table is locked"))),
              str(QStringLiteral("数据库中的表正被锁定。")));
}

TEST_F(EmbeddedEngine, TempdbBelongsToNoDatabase)
{
    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("TEMPDB"))) << str(cn.lastError().description);
    ASSERT_TRUE(cn.Execute(QStringLiteral("CREATE TABLE scratch (a INT); INSERT INTO scratch VALUES (7)")));
    EXPECT_EQ(column(cn, QStringLiteral("SELECT a FROM scratch")), QStringList({QStringLiteral("7")}));
    EXPECT_EQ(QDir(m_folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    EXPECT_FALSE(m_admin->createDatabase(QStringLiteral("tempdb")));
}

TEST_F(EmbeddedEngine, BatchRunsEveryStatementAndStopsAtAnError)
{
    makeDatabase(QStringLiteral("crm"), QStringLiteral("CREATE TABLE t (id INT, name NVARCHAR(20));\n"
                                                       "INSERT INTO t VALUES (1, 'a');\n"
                                                       "-- a comment between statements\n"
                                                       "INSERT INTO t VALUES (2, 'b');\n"));
    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("crm")));
    EXPECT_EQ(column(cn, QStringLiteral("SELECT name FROM t ORDER BY id")),
              QStringList({QStringLiteral("a"), QStringLiteral("b")}));

    EXPECT_FALSE(cn.Execute(QStringLiteral("INSERT INTO t VALUES (3, 'c'); INSERT INTO nosuch VALUES (1); "
                                           "INSERT INTO t VALUES (4, 'd')")));
    EXPECT_EQ(cn.lastError().number, 1); // SQLITE_ERROR
    EXPECT_TRUE(cn.lastError().description.contains(QStringLiteral("对象名 nosuch 无效")))
        << str(cn.lastError().description);
    EXPECT_EQ(cn.lastError().source, QStringLiteral("SQLite"));
    EXPECT_EQ(column(cn, QStringLiteral("SELECT id FROM t ORDER BY id")),
              QStringList({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
}

// The engine reads a statement text only up to a NUL character: the rest,
// such as the condition of an UPDATE, would be dropped without a word. A
// text holding one is refused whole, before anything of it runs.
TEST_F(EmbeddedEngine, TextWithANulCharacterIsRefusedWhole)
{
    makeDatabase(QStringLiteral("crm"), QStringLiteral("CREATE TABLE t (id INT, a INT);"
                                                       "INSERT INTO t VALUES (1, 0);"
                                                       "INSERT INTO t VALUES (2, 0);"));
    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("crm")));
    const QChar nul(0);
    const QString texts[] = {
        QStringLiteral("UPDATE t SET a = 1") + nul + QStringLiteral(" WHERE id = 2"),
        QStringLiteral("UPDATE t SET a = 1 WHERE id = 2;") + nul + QStringLiteral("DELETE FROM t"),
        nul + QStringLiteral("UPDATE t SET a = 1"),
    };
    for (const QString& text : texts) {
        EXPECT_FALSE(cn.Execute(text));
        EXPECT_EQ(cn.lastError().number, DataErr::InvalidArgument);
        EXPECT_TRUE(cn.lastError().description.contains(QLatin1String("NUL")))
            << str(cn.lastError().description);
        Recordset rs;
        EXPECT_FALSE(rs.Open(text + QStringLiteral("; SELECT 1"), cn));
        EXPECT_EQ(rs.lastError().number, DataErr::InvalidArgument);
    }
    EXPECT_EQ(column(cn, QStringLiteral("SELECT id || ':' || a FROM t ORDER BY id")),
              QStringList({QStringLiteral("1:0"), QStringLiteral("2:0")}));
}

TEST_F(EmbeddedEngine, TransactionsRollBackAndCommit)
{
    makeDatabase(QStringLiteral("crm"), QStringLiteral("CREATE TABLE t (id INT)"));
    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("crm")));
    Connection other;
    ASSERT_TRUE(open(other, QStringLiteral("crm")));

    ASSERT_TRUE(cn.BeginTrans());
    EXPECT_FALSE(cn.BeginTrans()); // no nesting
    ASSERT_TRUE(cn.Execute(QStringLiteral("INSERT INTO t VALUES (1); INSERT INTO t VALUES (2)")));
    ASSERT_TRUE(cn.RollbackTrans());
    EXPECT_EQ(column(other, QStringLiteral("SELECT count(*) FROM t")), QStringList({QStringLiteral("0")}));

    ASSERT_TRUE(cn.BeginTrans());
    ASSERT_TRUE(cn.Execute(QStringLiteral("INSERT INTO t VALUES (3)")));
    ASSERT_TRUE(cn.CommitTrans());
    EXPECT_EQ(column(other, QStringLiteral("SELECT id FROM t")), QStringList({QStringLiteral("3")}));

    EXPECT_FALSE(cn.CommitTrans());
    EXPECT_EQ(cn.lastError().description, QStringLiteral("没有正在进行的事务。"));
}

TEST_F(EmbeddedEngine, RecordsetGivesNamesTypesAndNullsApartFromEmptyTexts)
{
    makeDatabase(
        QStringLiteral("crm"),
        QStringLiteral("CREATE TABLE tblPerson (ID INT, Name NVARCHAR(20), Born DATETIME, Active BIT, "
                       "Score FLOAT, Note NTEXT);"
                       "INSERT INTO tblPerson VALUES (1, '张三', '2006-01-02 03:04:05', 1, 2.5, '');"
                       "INSERT INTO tblPerson VALUES (2, NULL, NULL, 0, NULL, NULL);"));
    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("crm")));
    Recordset rs;
    ASSERT_TRUE(
        rs.Open(QStringLiteral("SELECT * FROM tblPerson ORDER BY ID"), cn, adOpenDynamic, adLockOptimistic));
    EXPECT_EQ(rs.RecordCount(), 2);
    ASSERT_EQ(rs.FieldCount(), 6);

    const struct
    {
        const char* name;
        int type;
    } columns[] = {{"ID", adInteger},     {"Name", adVarWChar}, {"Born", adDBTimeStamp},
                   {"Active", adBoolean}, {"Score", adDouble},  {"Note", adLongVarWChar}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(rs.Fields(i).Name(), QLatin1String(columns[i].name));
        EXPECT_EQ(rs.Fields(i).Type(), columns[i].type) << columns[i].name;
    }

    ASSERT_FALSE(rs.Eof());
    EXPECT_EQ(rs.Fields(QStringLiteral("id")).Value(), QVariant(1));
    EXPECT_EQ(rs.Fields(QStringLiteral("NAME")).Value(), QVariant(QStringLiteral("张三")));
    EXPECT_EQ(rs.Fields(QStringLiteral("born")).Value().toDateTime(),
              QDateTime(QDate(2006, 1, 2), QTime(3, 4, 5)));
    EXPECT_EQ(rs.Fields(QStringLiteral("Active")).Value(), QVariant(true));
    EXPECT_DOUBLE_EQ(rs.Fields(QStringLiteral("Score")).Value().toDouble(), 2.5);
    const QVariant empty = rs.Fields(QStringLiteral("Note")).Value();
    EXPECT_TRUE(empty.isValid());
    EXPECT_EQ(empty.toString(), QString());
    EXPECT_FALSE(rs.Fields(QStringLiteral("Note")).IsNull());

    ASSERT_TRUE(rs.MoveNext());
    ASSERT_FALSE(rs.Eof());
    for (const char* name : {"Name", "Born", "Score", "Note"})
        EXPECT_TRUE(rs.Fields(QLatin1String(name)).IsNull()) << name;
    EXPECT_EQ(rs.Fields(QStringLiteral("Active")).Value(), QVariant(false));

    ASSERT_TRUE(rs.MoveNext());
    EXPECT_TRUE(rs.Eof());
    EXPECT_FALSE(rs.MoveNext());
    EXPECT_EQ(rs.lastError().number, DataErr::NoCurrentRecord);
    EXPECT_FALSE(rs.Fields(QStringLiteral("nosuch")).isValid());
    EXPECT_EQ(rs.lastError().number, DataErr::ItemNotFound);
}

TEST_F(EmbeddedEngine, RecordCountIsKnownWithClientCursorsOnly)
{
    makeDatabase(QStringLiteral("crm"), QStringLiteral("CREATE TABLE t (id INT); INSERT INTO t VALUES (1);"
                                                       "INSERT INTO t VALUES (2); INSERT INTO t VALUES (3)"));
    Connection client;
    ASSERT_TRUE(open(client, QStringLiteral("crm")));
    Recordset rs;
    ASSERT_TRUE(rs.Open(QStringLiteral("t"), client, adOpenForwardOnly, adLockReadOnly, adCmdTable));
    ASSERT_TRUE(rs.MoveNext());
    EXPECT_EQ(rs.RecordCount(), 3);
    // Counting reads ahead without moving.
    EXPECT_EQ(rs.Fields(0).Value(), QVariant(2));

    Connection server;
    server.setCursorLocation(adUseServer);
    ASSERT_TRUE(server.Open(ovtest::oleDbString(m_server, QStringLiteral("crm"))));
    Recordset forward;
    ASSERT_TRUE(forward.Open(QStringLiteral("SELECT id FROM t"), server));
    EXPECT_EQ(forward.RecordCount(), -1);
}

TEST_F(EmbeddedEngine, OpenRecordsetKeepsItsRowsWhileOtherCommandsRun)
{
    makeDatabase(QStringLiteral("crm"), QStringLiteral("CREATE TABLE t (id INT); INSERT INTO t VALUES (1);"
                                                       "INSERT INTO t VALUES (2); INSERT INTO t VALUES (3)"));
    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("crm")));
    ASSERT_TRUE(cn.BeginTrans());
    ASSERT_TRUE(cn.Execute(QStringLiteral("INSERT INTO t VALUES (4)")));
    Recordset rs;
    // A plain scan, which would see the update if it were still reading the table.
    ASSERT_TRUE(rs.Open(QStringLiteral("SELECT id FROM t"), cn));
    QStringList seen;
    seen << rs.Fields(0).Value().toString();
    ASSERT_TRUE(cn.Execute(QStringLiteral("UPDATE t SET id = id + 10 WHERE id = 3")));
    // A rollback would end a statement that is still reading.
    ASSERT_TRUE(cn.RollbackTrans());
    for (rs.MoveNext(); !rs.Eof(); rs.MoveNext())
        seen << rs.Fields(0).Value().toString();
    EXPECT_FALSE(rs.lastError().isSet()) << str(rs.lastError().description);
    EXPECT_EQ(seen, QStringList({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                                 QStringLiteral("4")}));
    EXPECT_EQ(column(cn, QStringLiteral("SELECT id FROM t")),
              QStringList({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
}

TEST_F(EmbeddedEngine, AppendsRowsToATable)
{
    makeDatabase(QStringLiteral("crm"),
                 QStringLiteral("CREATE TABLE tblContact (ID INT NOT NULL, Name NVARCHAR(20), "
                                "Kind NVARCHAR(5) DEFAULT 'P', Met DATETIME)"));
    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("crm")));
    ASSERT_TRUE(cn.BeginTrans());
    Recordset target;
    ASSERT_TRUE(
        target.Open(QStringLiteral("tblContact"), cn, adOpenForwardOnly, adLockOptimistic, adCmdTable));
    EXPECT_TRUE(target.Eof());

    ASSERT_TRUE(target.AddNew());
    EXPECT_TRUE(target.Fields(QStringLiteral("id")).setValue(1));
    EXPECT_TRUE(target.Fields(QStringLiteral("Name")).setValue(QStringLiteral("李四")));
    EXPECT_TRUE(target.Fields(QStringLiteral("Met")).setValue(QDateTime(QDate(2007, 5, 6), QTime(7, 8, 9))));
    ASSERT_TRUE(target.Update()) << str(target.lastError().description);

    // NOT NULL refuses the row; the next one goes in.
    ASSERT_TRUE(target.AddNew());
    EXPECT_TRUE(target.Fields(QStringLiteral("Name")).setValue(QStringLiteral("no id")));
    EXPECT_FALSE(target.Update());
    EXPECT_EQ(target.lastError().number & 0xff, 19); // SQLITE_CONSTRAINT
    ASSERT_TRUE(target.AddNew());
    EXPECT_TRUE(target.Fields(QStringLiteral("ID")).setValue(2));
    EXPECT_TRUE(target.Fields(QStringLiteral("Name")).setValue(QVariant()));
    ASSERT_TRUE(target.Update());
    target.Close();
    ASSERT_TRUE(cn.CommitTrans());

    EXPECT_EQ(column(cn, QStringLiteral("SELECT ID || '|' || ifnull(Name, '<null>') || '|' || Kind || '|' || "
                                        "ifnull(Met, '') FROM tblContact ORDER BY ID")),
              QStringList({QStringLiteral("1|李四|P|2007-05-06 07:08:09"), QStringLiteral("2|<null>|P|")}));

    Recordset readOnly;
    ASSERT_TRUE(
        readOnly.Open(QStringLiteral("tblContact"), cn, adOpenForwardOnly, adLockReadOnly, adCmdTable));
    EXPECT_FALSE(readOnly.AddNew());
    EXPECT_EQ(readOnly.lastError().number, DataErr::NotSupported);
    EXPECT_FALSE(readOnly.Fields(0).setValue(5));
}

TEST_F(EmbeddedEngine, CommandTimeOutStopsARunawayStatement)
{
    makeDatabase(QStringLiteral("crm"), QStringLiteral("CREATE TABLE t (a INT)"));
    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("crm")));
    cn.setCommandTimeout(1);
    EXPECT_FALSE(cn.Execute(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) "
                                           "SELECT count(*) FROM n")));
    EXPECT_EQ(cn.lastError().number, DataErr::QueryTimeout);
    // The connection goes on working.
    EXPECT_TRUE(cn.Execute(QStringLiteral("INSERT INTO t VALUES (1)")));
}

TEST_F(EmbeddedEngine, RecordsetOutlivesItsConnectionSafely)
{
    makeDatabase(QStringLiteral("crm"), QStringLiteral("CREATE TABLE t (id INT); INSERT INTO t VALUES (1);"
                                                       "INSERT INTO t VALUES (2)"));
    Recordset rs;
    {
        Connection cn;
        cn.setCursorLocation(adUseServer);
        ASSERT_TRUE(cn.Open(ovtest::oleDbString(m_server, QStringLiteral("crm"))));
        ASSERT_TRUE(rs.Open(QStringLiteral("SELECT id FROM t"), cn));
    }
    // The connection closed the statement; the record set ends instead of
    // reading from a closed handle.
    EXPECT_EQ(rs.Fields(0).Value(), QVariant(1));
    rs.MoveNext();
    EXPECT_TRUE(rs.Eof());
    Recordset again;
    Connection closed;
    EXPECT_FALSE(again.Open(QStringLiteral("SELECT 1"), closed));
    EXPECT_EQ(again.lastError().number, DataErr::InvalidConnection);
}

} // namespace
