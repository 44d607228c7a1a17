// The Jet reader on files made by jet::Writer: every column kind with its
// boundary values and NULL, read through Connection and Recordset, and the
// same values as mdbtools and mdb-reader read from the same file.

#include "JetReadSupport.h"
#include "JetReaders.h"

#include "common/clsError.h"
#include "data/jet/JetBackend.h"
#include "data/jet/JetFile.h"
#include "jet/writer/JetEncoding.h"
#include "update/VersionTable.h"

#include <QJsonArray>

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <ctime>

using jet::Column;
using jet::ColumnType;
using jetread::at;

namespace {

struct Case
{
    QVariant written;
    QVariant expected; // what the reader gives: invalid for NULL
};

struct Kind
{
    QString table;
    Column column;
    int adoType;
    QList<Case> cases;
};

QString latin(int n)
{
    QString s;
    for (int i = 0; i < n; ++i)
        s += QChar(u'a' + i % 26);
    return s;
}

// Chinese, ASCII and line breaks, so that memo parts end inside every kind of character.
QString mixed(int n)
{
    static const QString pieces[] = {QStringLiteral("客户资料"), QStringLiteral(" line "),
                                     QStringLiteral("管理\r\n"), QStringLiteral("Orvane"),
                                     QStringLiteral("联系人")};
    QString s;
    for (int i = 0; s.size() < n; ++i)
        s += pieces[i % 5] + QString::number(i);
    return s.left(n);
}

const QString kEmpty = QStringLiteral("");

const std::vector<Kind>& kinds()
{
    static const std::vector<Kind> all = {
        {QStringLiteral("k_bool"),
         {QStringLiteral("v"), ColumnType::Bool},
         ov::adBoolean,
         {{true, true}, {false, false}, {QVariant(), false}}},
        {QStringLiteral("k_byte"),
         {QStringLiteral("v"), ColumnType::Byte},
         ov::adUnsignedTinyInt,
         {{0, 0}, {255, 255}, {17, 17}, {QVariant(), QVariant()}}},
        {QStringLiteral("k_integer"),
         {QStringLiteral("v"), ColumnType::Integer},
         ov::adSmallInt,
         {{-32768, -32768}, {32767, 32767}, {0, 0}, {QVariant(), QVariant()}}},
        {QStringLiteral("k_long"),
         {QStringLiteral("v"), ColumnType::Long},
         ov::adInteger,
         {{INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}, {-1, -1}, {QVariant(), QVariant()}}},
        {QStringLiteral("k_currency"),
         {QStringLiteral("v"), ColumnType::Currency},
         ov::adCurrency,
         {{QStringLiteral("922337203685477.5807"), QStringLiteral("922337203685477.5807")},
          {QStringLiteral("-922337203685477.5808"), QStringLiteral("-922337203685477.5808")},
          {0, QStringLiteral("0.0000")},
          {QStringLiteral("-0.0001"), QStringLiteral("-0.0001")},
          {12.3456, QStringLiteral("12.3456")},
          {QVariant(), QVariant()}}},
        {QStringLiteral("k_single"),
         {QStringLiteral("v"), ColumnType::Single},
         ov::adSingle,
         {{FLT_MAX, FLT_MAX},
          {-FLT_MAX, -FLT_MAX},
          {FLT_TRUE_MIN, FLT_TRUE_MIN},
          {3.14159274f, 3.14159274f},
          {0.0f, 0.0f},
          {QVariant(), QVariant()}}},
        {QStringLiteral("k_double"),
         {QStringLiteral("v"), ColumnType::Double},
         ov::adDouble,
         {{DBL_MAX, DBL_MAX},
          {DBL_TRUE_MIN, DBL_TRUE_MIN},
          {0.1, 0.1},
          {-123456.789, -123456.789},
          {QVariant(), QVariant()}}},
        {QStringLiteral("k_datetime"),
         {QStringLiteral("v"), ColumnType::DateTime},
         ov::adDate,
         {{at(2024, 2, 29, 13, 45, 30), at(2024, 2, 29, 13, 45, 30)},
          {at(1899, 12, 30), at(1899, 12, 30)},
          {at(1900, 1, 1), at(1900, 1, 1)},
          {at(2099, 12, 31, 23, 59, 59), at(2099, 12, 31, 23, 59, 59)},
          {at(2024, 5, 6, 7, 8, 9, 250), at(2024, 5, 6, 7, 8, 9, 250)},
          // Outside 1900-2099, where mdbtools' own formatting goes wrong.
          {at(100, 1, 1), at(100, 1, 1)},
          {at(9999, 12, 31, 23, 59, 59), at(9999, 12, 31, 23, 59, 59)},
          {at(1800, 6, 15, 12), at(1800, 6, 15, 12)},
          {at(1899, 12, 29, 6), at(1899, 12, 29, 6)},
          {at(2100, 3, 1, 8, 15), at(2100, 3, 1, 8, 15)},
          {QVariant(), QVariant()}}},
        {QStringLiteral("k_text"),
         {QStringLiteral("v"), ColumnType::Text, 255},
         ov::adVarWChar,
         {{QStringLiteral("hello world"), QStringLiteral("hello world")},
          {kEmpty, kEmpty},
          {QStringLiteral("客户资料管理"), QStringLiteral("客户资料管理")},
          {QStringLiteral("Orvane 客户管理 ABC x"), QStringLiteral("Orvane 客户管理 ABC x")},
          {QStringLiteral("一二三 abc"), QStringLiteral("一二三 abc")},
          {QStringLiteral("Ünïcödé ±½ ÿ"), QStringLiteral("Ünïcödé ±½ ÿ")},
          {QStringLiteral("\uFEFFmarked"), QStringLiteral("\uFEFFmarked")},
          {QString(255, QChar(u'客')), QString(255, QChar(u'客'))},
          {latin(255), latin(255)},
          {QVariant(), QVariant()}}},
        {QStringLiteral("k_memo"),
         {QStringLiteral("v"), ColumnType::Memo},
         ov::adLongVarWChar,
         {{QStringLiteral("short memo"), QStringLiteral("short memo")},
          {kEmpty, kEmpty},
          {latin(1000), latin(1000)},
          {mixed(3000), mixed(3000)},
          {mixed(20000), mixed(20000)},
          {mixed(200000), mixed(200000)},
          {QVariant(), QVariant()}}},
    };
    return all;
}

QList<Column> allKindsColumns()
{
    return {
        {QStringLiteral("Flag"), ColumnType::Bool},      {QStringLiteral("Small"), ColumnType::Byte},
        {QStringLiteral("Count"), ColumnType::Integer},  {QStringLiteral("Id"), ColumnType::Long},
        {QStringLiteral("Price"), ColumnType::Currency}, {QStringLiteral("Ratio"), ColumnType::Single},
        {QStringLiteral("Amount"), ColumnType::Double},  {QStringLiteral("Created"), ColumnType::DateTime},
        {QStringLiteral("Name"), ColumnType::Text, 40},  {QStringLiteral("Notes"), ColumnType::Memo},
        {QStringLiteral("Code"), ColumnType::Text, 8},   {QStringLiteral("Closed"), ColumnType::Bool}};
}

std::string show(const QVariant& v)
{
    if (!v.isValid())
        return "NULL";
    return (QString::fromLatin1(v.typeName()) + QLatin1Char(' ') + v.toString().left(60)).toStdString();
}

bool same(const QVariant& a, const QVariant& b)
{
    if (!a.isValid() || !b.isValid())
        return a.isValid() == b.isValid();
    return a.typeId() == b.typeId() && a == b;
}

// The value as mdb-export writes it (dates as "yyyy-MM-dd HH:mm:ss").
QString asMdbExport(const QVariant& v)
{
    if (!v.isValid())
        return QString();
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::Float:
        return QString::asprintf("%.8g", double(v.toFloat()));
    case QMetaType::Double:
        return QString::asprintf("%.16g", v.toDouble());
    case QMetaType::QDateTime:
        return v.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    default:
        return v.toString();
    }
}

// Compares our value with mdb-reader's; dates as OLE dates, which mdb-reader
// stretches linearly into milliseconds.
bool sameAsMdbReader(const QVariant& ours, const QJsonValue& theirs)
{
    if (!ours.isValid())
        return theirs.isNull();
    switch (ours.typeId()) {
    case QMetaType::Bool:
        return theirs.isBool() && theirs.toBool() == ours.toBool();
    case QMetaType::Int:
        return theirs.isDouble() && theirs.toDouble() == ours.toInt();
    case QMetaType::Float:
        return theirs.isDouble() && theirs.toDouble() == double(ours.toFloat());
    case QMetaType::Double:
        return theirs.isDouble() && theirs.toDouble() == ours.toDouble();
    case QMetaType::QDateTime: {
        const QDateTime d = ours.toDateTime();
        return theirs.isDouble() && std::fabs(jettest::oleFromMdbReader(theirs.toDouble()) -
                                              jet::detail::oleDate(d.date(), d.time())) < 1e-8;
    }
    default:
        return theirs.isString() && theirs.toString() == ours.toString();
    }
}

class JetReaderTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        s_path = jetread::writeCdb(*s_dir, QStringLiteral("客户 资料.cdb"), [](jet::Writer& w) {
            for (const Kind& k : kinds()) {
                w.addTable(k.table, {{QStringLiteral("id"), ColumnType::Long}, k.column});
                for (int i = 0; i < k.cases.size(); ++i)
                    w.addRow(k.table, {i, k.cases[i].written});
            }
            w.addTable(QStringLiteral("AllKinds"), allKindsColumns());
            w.addRow(QStringLiteral("AllKinds"),
                     {true, 200, -1234, 7654321, QStringLiteral("1234.5678"), 2.5f, -0.125,
                      at(1999, 12, 31, 23, 59, 58), QStringLiteral("客户"), mixed(5000),
                      QStringLiteral("A-1"), false});
            w.addRow(QStringLiteral("AllKinds"), QList<QVariant>(12));
            w.addTable(QStringLiteral("Empty"), {{QStringLiteral("Id"), ColumnType::Long},
                                                 {QStringLiteral("Name"), ColumnType::Text, 10}});
            w.addTable(QStringLiteral("客户"), {{QStringLiteral("编号"), ColumnType::Long},
                                                {QStringLiteral("名称"), ColumnType::Text, 20}});
            w.addRow(QStringLiteral("客户"), {1, QStringLiteral("张三")});
            w.addRow(QStringLiteral("客户"), {2, QStringLiteral("李四")});
            w.addTable(QStringLiteral("People"), {{QStringLiteral("Id"), ColumnType::Long},
                                                  {QStringLiteral("Name"), ColumnType::Text, 30},
                                                  {QStringLiteral("City"), ColumnType::Text, 30},
                                                  {QStringLiteral("Score"), ColumnType::Double},
                                                  {QStringLiteral("Active"), ColumnType::Bool}});
            w.addRow(QStringLiteral("People"),
                     {1, QStringLiteral("O'Brien"), QStringLiteral("北京"), 1.5, true});
            w.addRow(QStringLiteral("People"),
                     {2, QStringLiteral("王芳"), QStringLiteral("上海"), 2.0, false});
            w.addRow(QStringLiteral("People"),
                     {3, QStringLiteral("li lei"), QStringLiteral("北京"), 2.0, true});
            w.addRow(QStringLiteral("People"), {4, QStringLiteral("Li Lei"), QVariant(), QVariant(), false});
        });
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override
    {
        ASSERT_FALSE(s_path.isEmpty());
        m_cn = mdlOVSqlServer::ConnectToDBAccess(s_path);
        ASSERT_TRUE(m_cn) << mdlCommon::GetErrorText(true).toStdString();
    }

    static QTemporaryDir* s_dir;
    static QString s_path;
    std::unique_ptr<ov::Connection> m_cn;
};

QTemporaryDir* JetReaderTest::s_dir = nullptr;
QString JetReaderTest::s_path;

TEST_F(JetReaderTest, EveryKindReadsBackWithItsValueTypeAndNull)
{
    for (const Kind& k : kinds()) {
        SCOPED_TRACE(k.table.toStdString());
        const jetread::Rows r = jetread::readAll(*m_cn, k.table);
        ASSERT_TRUE(r.opened) << r.error.description.toStdString();
        EXPECT_FALSE(r.error.isSet()) << r.error.description.toStdString();
        EXPECT_EQ(r.names, (QStringList{QStringLiteral("id"), QStringLiteral("v")}));
        EXPECT_EQ(r.types, (QList<int>{ov::adInteger, k.adoType}));
        ASSERT_EQ(r.rows.size(), k.cases.size());
        for (int i = 0; i < k.cases.size(); ++i) {
            SCOPED_TRACE("case " + std::to_string(i));
            EXPECT_EQ(r.rows[i][0], QVariant(i));
            EXPECT_TRUE(same(r.rows[i][1], k.cases[i].expected))
                << "read " << show(r.rows[i][1]) << ", expected " << show(k.cases[i].expected);
        }
    }
}

TEST_F(JetReaderTest, MdbtoolsAndMdbReaderReadTheSameValues)
{
    QJsonObject dump;
    QString error;
    ASSERT_TRUE(jettest::mdbReaderDump(s_path, &dump, &error)) << error.toStdString();
    QStringList tables;
    ASSERT_TRUE(jettest::mdbTables(s_path, &tables, &error)) << error.toStdString();
    QStringList ours;
    ov::DataError listError;
    ASSERT_TRUE(m_cn->backend()->tableNames(ours, listError)) << listError.description.toStdString();
    EXPECT_EQ(ours, tables);

    for (const QString& table : tables) {
        SCOPED_TRACE(table.toStdString());
        const jetread::Rows r = jetread::readAll(*m_cn, table);
        ASSERT_TRUE(r.opened) << r.error.description.toStdString();
        QList<QStringList> exported;
        ASSERT_TRUE(jettest::mdbExport(s_path, table, &exported, &error)) << error.toStdString();
        ASSERT_EQ(exported.size(), r.rows.size() + 1);
        EXPECT_EQ(exported[0], r.names);
        const QJsonArray viaMdbReader =
            jettest::dumpedTable(dump, table).value(QStringLiteral("rows")).toArray();
        ASSERT_EQ(viaMdbReader.size(), r.rows.size());
        for (int i = 0; i < r.rows.size(); ++i) {
            const QJsonArray theirs = viaMdbReader[i].toArray();
            for (int c = 0; c < r.names.size(); ++c) {
                SCOPED_TRACE("row " + std::to_string(i) + " column " + r.names[c].toStdString());
                const QVariant& v = r.rows[i][c];
                // mdbtools formats dates wrongly outside about 1900-2099, and
                // mdb-export cuts values at its 200,000-byte buffer.
                const bool mdbtoolsDate =
                    v.typeId() == QMetaType::QDateTime &&
                    (v.toDateTime().date().year() < 1900 || v.toDateTime().date().year() > 2099);
                const bool mdbtoolsCut = v.toString().toUtf8().size() >= 200000;
                if (!mdbtoolsDate && !mdbtoolsCut) {
                    EXPECT_EQ(exported[i + 1][c], asMdbExport(v)) << show(v);
                }
                EXPECT_TRUE(sameAsMdbReader(v, theirs[c])) << show(v);
            }
        }
    }
}

TEST_F(JetReaderTest, ARowOfEveryKindAndARowOfNullsByName)
{
    ov::Recordset rs;
    ASSERT_TRUE(rs.Open(QStringLiteral("AllKinds"), *m_cn, ov::adOpenForwardOnly, ov::adLockReadOnly,
                        ov::adCmdTable));
    ASSERT_FALSE(rs.Eof());
    const QList<QPair<const char*, QVariant>> full = {{"flag", true},
                                                      {"Small", 200},
                                                      {"COUNT", -1234},
                                                      {"Id", 7654321},
                                                      {"Price", QStringLiteral("1234.5678")},
                                                      {"Ratio", 2.5f},
                                                      {"Amount", -0.125},
                                                      {"Created", at(1999, 12, 31, 23, 59, 58)},
                                                      {"Name", QStringLiteral("客户")},
                                                      {"Notes", mixed(5000)},
                                                      {"Code", QStringLiteral("A-1")},
                                                      {"Closed", false}};
    for (const auto& [name, value] : full) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(same(rs.Fields(QLatin1String(name)).Value(), value))
            << show(rs.Fields(QLatin1String(name)).Value());
    }
    ASSERT_TRUE(rs.MoveNext());
    ASSERT_FALSE(rs.Eof());
    for (int i = 0; i < rs.FieldCount(); ++i) {
        SCOPED_TRACE(rs.Fields(i).Name().toStdString());
        // Yes/no columns cannot hold NULL: they read as no.
        if (rs.Fields(i).Type() == ov::adBoolean)
            EXPECT_EQ(rs.Fields(i).Value(), QVariant(false));
        else
            EXPECT_TRUE(rs.Fields(i).IsNull()) << show(rs.Fields(i).Value());
    }
    ASSERT_TRUE(rs.MoveNext());
    EXPECT_TRUE(rs.Eof());
}

TEST_F(JetReaderTest, ChineseTableAndColumnNames)
{
    const jetread::Rows r =
        jetread::readAll(*m_cn, QStringLiteral("SELECT [名称] FROM [客户] WHERE [编号] = 2"), ov::adCmdText);
    ASSERT_TRUE(r.opened) << r.error.description.toStdString();
    EXPECT_EQ(r.names, QStringList{QStringLiteral("名称")});
    ASSERT_EQ(r.rows.size(), 1);
    EXPECT_EQ(r.rows[0][0], QVariant(QStringLiteral("李四")));
}

TEST_F(JetReaderTest, AnEmptyTableHasItsColumnsAndNoRow)
{
    ov::Recordset rs;
    ASSERT_TRUE(
        rs.Open(QStringLiteral("Empty"), *m_cn, ov::adOpenForwardOnly, ov::adLockReadOnly, ov::adCmdTable));
    EXPECT_TRUE(rs.Eof());
    ASSERT_EQ(rs.FieldCount(), 2);
    EXPECT_EQ(rs.Fields(1).Name(), QStringLiteral("Name"));
    EXPECT_EQ(rs.Fields(1).Type(), ov::adVarWChar);
    EXPECT_EQ(rs.RecordCount(), 0); // client-side cursor: the count is known
}

// Statements on the table People (ids 1..4), and what they give.
TEST_F(JetReaderTest, StatementsSelectColumnsAndFilterRows)
{
    struct Statement
    {
        const char* sql;
        QList<int> ids;     // the Id column of the rows, in order
        qint32 errorNumber; // 0 when the statement is answered
    };
    const Statement statements[] = {
        {"SELECT * FROM People", {1, 2, 3, 4}, 0},
        {"select Id from [People];", {1, 2, 3, 4}, 0},
        {"SELECT Id, Name FROM People WHERE City = '北京'", {1, 3}, 0},
        // Texts compare without case, as in Jet.
        {"SELECT Id FROM People WHERE [Name] ='LI LEI'", {3, 4}, 0},
        {"SELECT Id FROM People WHERE Name = 'O''Brien'", {1}, 0},
        {"SELECT Id FROM People WHERE Score = 2 AND City = '北京'", {3}, 0},
        {"SELECT Id FROM People WHERE Active = 1", {1, 3}, 0},
        {"SELECT Id FROM People WHERE City = ''", {}, 0}, // NULL equals nothing
        {"SELECT Id FROM People WHERE City = 'Paris'", {}, 0},
        // An unknown column is an error, never every row.
        {"SELECT Id FROM People WHERE Cty = '北京'", {}, ov::JetErr::MissingParameter},
        {"SELECT Id, Nme FROM People", {}, ov::JetErr::MissingParameter},
        {"SELECT Id FROM People WHERE Score = '2'", {}, ov::JetErr::TypeMismatch},
        {"SELECT Id FROM People WHERE Name = 3", {}, ov::JetErr::TypeMismatch},
        {"SELECT * FROM Nobody", {}, ov::JetErr::NoSuchTable},
        {"SELECT Id FROM People WHERE City = '北京' OR Id = 2", {}, ov::JetErr::SyntaxError},
        {"SELECT Id FROM People ORDER BY Id", {}, ov::JetErr::SyntaxError},
        {"SELECT Id FROM People WHERE Name LIKE 'Li%'", {}, ov::JetErr::SyntaxError},
        {"SELECT Id FROM People WHERE Name = 'open", {}, ov::JetErr::SyntaxError},
        {"DELETE FROM People", {}, ov::JetErr::SyntaxError},
    };
    for (const Statement& s : statements) {
        SCOPED_TRACE(s.sql);
        const jetread::Rows r = jetread::readAll(*m_cn, QString::fromUtf8(s.sql), ov::adCmdText);
        if (s.errorNumber != 0) {
            EXPECT_FALSE(r.opened);
            EXPECT_EQ(r.error.number, s.errorNumber) << r.error.description.toStdString();
            EXPECT_FALSE(r.error.description.isEmpty());
            continue;
        }
        ASSERT_TRUE(r.opened) << r.error.description.toStdString();
        QList<int> ids;
        for (const QList<QVariant>& row : r.rows)
            ids << row[0].toInt();
        EXPECT_EQ(ids, s.ids);
    }
}

TEST_F(JetReaderTest, TheFileIsReadOnly)
{
    EXPECT_FALSE(m_cn->Execute(QStringLiteral("DELETE FROM People")));
    EXPECT_EQ(m_cn->lastError().number, ov::DataErr::NotSupported);
    ov::Recordset rs;
    ASSERT_TRUE(rs.Open(QStringLiteral("People"), *m_cn, ov::adOpenForwardOnly, ov::adLockOptimistic,
                        ov::adCmdTable));
    EXPECT_FALSE(rs.AddNew());
    EXPECT_EQ(rs.lastError().number, ov::DataErr::NotSupported);
    // Nothing was changed: mdbtools still counts four rows.
    qint64 count = 0;
    QString error;
    ASSERT_TRUE(jettest::mdbCount(s_path, QStringLiteral("People"), &count, &error)) << error.toStdString();
    EXPECT_EQ(count, 4);
}

TEST_F(JetReaderTest, TwoTablesReadAtTheSameTime)
{
    ov::Recordset a;
    ov::Recordset b;
    ASSERT_TRUE(
        a.Open(QStringLiteral("k_memo"), *m_cn, ov::adOpenForwardOnly, ov::adLockReadOnly, ov::adCmdTable));
    ASSERT_TRUE(
        b.Open(QStringLiteral("People"), *m_cn, ov::adOpenForwardOnly, ov::adLockReadOnly, ov::adCmdTable));
    QStringList names;
    int memos = 0;
    while (!a.Eof() || !b.Eof()) {
        if (!a.Eof()) {
            memos += a.Fields(1).IsNull() ? 0 : 1;
            ASSERT_TRUE(a.MoveNext()) << a.lastError().description.toStdString();
        }
        if (!b.Eof()) {
            names << b.Fields(QStringLiteral("Name")).Value().toString();
            ASSERT_TRUE(b.MoveNext()) << b.lastError().description.toStdString();
        }
    }
    EXPECT_EQ(memos, 6);
    EXPECT_EQ(names, (QStringList{QStringLiteral("O'Brien"), QStringLiteral("王芳"), QStringLiteral("li lei"),
                                  QStringLiteral("Li Lei")}));
}

// The version query of the conversion's file check, on tblVarible with and
// without its row, with and without the UserID condition.
TEST(JetVersionQuery, ReadsTheVersionRowOrTheDefault)
{
    struct Row
    {
        const char* module;
        const char* name;
        const char* value;
        QVariant userId;
    };
    struct Case
    {
        const char* what;
        QList<Row> rows;
        bool hasTable;
        const char* userId;
        const char* expected;
    };
    const QVariant none;
    const Case cases[] = {
        {"the row",
         {{"UpdateDB", "1.1", "01/02/2024 10:00:00", "1"}, {"DB", "Version", "1.6", ""}},
         true,
         "",
         "1.6"},
        {"no version row",
         {{"UpdateDB", "Version", "x", "1"}, {"DB", "Versions", "x", ""}},
         true,
         "",
         "NONE"},
        {"an empty table", {}, true, "", "NONE"},
        {"no table", {}, false, "", "NONE"},
        {"the module compared without case", {{"db", "version", "2.0", ""}}, true, "", "2.0"},
        {"a user's row, asked without a user", {{"DB", "Version", "3.0", "7"}}, true, "", "3.0"},
        {"a user's row, asked for that user",
         {{"DB", "Version", "2.0", ""}, {"DB", "Version", "3.0", "7"}},
         true,
         "7",
         "3.0"},
        {"asked for a user without a row", {{"DB", "Version", "2.0", ""}}, true, "7", "NONE"},
        {"a NULL user id matches no user", {{"DB", "Version", "2.0", none}}, true, "7", "NONE"},
    };
    QTemporaryDir dir;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = jetread::writeCdb(dir, QStringLiteral("v%1.cdb").arg(++n), [&](jet::Writer& w) {
            w.addTable(QStringLiteral("tblOther"), {{QStringLiteral("x"), ColumnType::Long}});
            if (!c.hasTable)
                return;
            w.addTable(QStringLiteral("tblVarible"), {{QStringLiteral("Module"), ColumnType::Text, 50},
                                                      {QStringLiteral("VaribleName"), ColumnType::Text, 100},
                                                      {QStringLiteral("VaribleValue"), ColumnType::Text, 255},
                                                      {QStringLiteral("UserID"), ColumnType::Text, 50}});
            for (const Row& r : c.rows)
                w.addRow(QStringLiteral("tblVarible"),
                         {QString::fromUtf8(r.module), QString::fromUtf8(r.name), QString::fromUtf8(r.value),
                          r.userId});
        });
        ASSERT_FALSE(path.isEmpty());
        std::unique_ptr<ov::Connection> cn = mdlOVSqlServer::ConnectToDBAccess(path);
        ASSERT_TRUE(cn) << mdlCommon::GetErrorText(true).toStdString();
        EXPECT_EQ(mdlOVSqlUpdateDB::ReadVaribleValue(QStringLiteral("DB"), QStringLiteral("Version"),
                                                     QStringLiteral("NONE"), QString::fromUtf8(c.userId),
                                                     cn.get()),
                  QString::fromUtf8(c.expected));
    }
}

} // namespace

namespace {

// A stored date has no zone: a time that the local zone skips at the start of
// daylight saving (02:30 on 2024-03-10 in New York) comes back as stored.
TEST(JetDates, ATimeInADaylightSavingGapComesBackAsStored)
{
    const QByteArray oldTz = qgetenv("TZ");
    qputenv("TZ", "America/New_York");
    tzset();
    QTemporaryDir dir;
    const QString path = jetread::writeCdb(dir, QStringLiteral("dst.cdb"), [](jet::Writer& w) {
        w.addTable(QStringLiteral("T"), {{QStringLiteral("At"), ColumnType::DateTime}});
        w.addRow(QStringLiteral("T"), {at(2024, 3, 10, 2, 30)});
    });
    std::unique_ptr<ov::Connection> cn = mdlOVSqlServer::ConnectToDBAccess(path);
    jetread::Rows r;
    if (cn)
        r = jetread::readAll(*cn, QStringLiteral("T"));
    if (oldTz.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", oldTz);
    tzset();
    ASSERT_TRUE(cn) << mdlCommon::GetErrorText(true).toStdString();
    ASSERT_EQ(r.rows.size(), 1);
    const QDateTime v = r.rows[0][0].toDateTime();
    EXPECT_EQ(v.date(), QDate(2024, 3, 10));
    EXPECT_EQ(v.time(), QTime(2, 30));
}

} // namespace
