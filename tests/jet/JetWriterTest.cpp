// Files made by jet::Writer, read back by two independent readers: mdbtools'
// command-line tools and the npm package mdb-reader.

#include "JetReaders.h"

#include "jet/writer/Writer.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <functional>
#include <optional>

using jet::Column;
using jet::ColumnType;

namespace {

// One value written, and what each reader gives back for it.
struct Case
{
    QVariant written;
    // mdb-reader's value; for dates the stored OLE date (days since 1899-12-30).
    QJsonValue viaMdbReader;
    // mdb-export's text; NULL comes out as an empty field. Nothing for dates
    // that mdbtools formats wrongly (outside about 1900-2099).
    std::optional<QString> viaMdbtools;
};

struct Kind
{
    QString table;
    Column column;
    QList<Case> cases;
};

QDateTime at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

// Varied text of n characters: Chinese, ASCII and line breaks, so that values
// cut across page boundaries at different kinds of characters.
QString sample(int n, int seed)
{
    static const QString pieces[] = {QStringLiteral("客户"),     QStringLiteral(" line "),
                                     QStringLiteral("资料\n"),   QStringLiteral("Orvane"),
                                     QStringLiteral("管理系统"), QStringLiteral("#")};
    QString s;
    for (int i = seed; s.size() < n; ++i)
        s += pieces[i % 6] + QString::number(i);
    return s.left(n);
}

QString latin(int n)
{
    QString s;
    for (int i = 0; i < n; ++i)
        s += QChar(u'a' + i % 26);
    return s;
}

const QString kChinese = QStringLiteral("客户资料管理");

// Every column kind with its boundary values and a NULL.
const std::vector<Kind>& kinds()
{
    static const std::vector<Kind> all = {
        {QStringLiteral("k_bool"),
         {QStringLiteral("v"), ColumnType::Bool},
         {{true, true, QStringLiteral("1")},
          {false, false, QStringLiteral("0")},
          // A yes/no value lives in the null mask: Jet cannot store NULL there.
          {QVariant(), false, QStringLiteral("0")}}},
        {QStringLiteral("k_byte"),
         {QStringLiteral("v"), ColumnType::Byte},
         {{0, 0, QStringLiteral("0")},
          {255, 255, QStringLiteral("255")},
          {QStringLiteral("17"), 17, QStringLiteral("17")},
          {QVariant(), QJsonValue::Null, QString()}}},
        {QStringLiteral("k_integer"),
         {QStringLiteral("v"), ColumnType::Integer},
         {{-32768, -32768, QStringLiteral("-32768")},
          {32767, 32767, QStringLiteral("32767")},
          {0, 0, QStringLiteral("0")},
          {-1, -1, QStringLiteral("-1")},
          {QVariant(), QJsonValue::Null, QString()}}},
        {QStringLiteral("k_long"),
         {QStringLiteral("v"), ColumnType::Long},
         {{INT_MIN, INT_MIN, QStringLiteral("-2147483648")},
          {INT_MAX, INT_MAX, QStringLiteral("2147483647")},
          {0, 0, QStringLiteral("0")},
          {-1, -1, QStringLiteral("-1")},
          {QVariant(), QJsonValue::Null, QString()}}},
        {QStringLiteral("k_currency"),
         {QStringLiteral("v"), ColumnType::Currency},
         {{QStringLiteral("922337203685477.5807"), QStringLiteral("922337203685477.5807"),
           QStringLiteral("922337203685477.5807")},
          {QStringLiteral("-922337203685477.5808"), QStringLiteral("-922337203685477.5808"),
           QStringLiteral("-922337203685477.5808")},
          {0, QStringLiteral("0.0000"), QStringLiteral("0.0000")},
          {12.3456, QStringLiteral("12.3456"), QStringLiteral("12.3456")},
          {QStringLiteral("-0.0001"), QStringLiteral("-0.0001"), QStringLiteral("-0.0001")},
          {QStringLiteral("-1.5"), QStringLiteral("-1.5000"), QStringLiteral("-1.5000")},
          {qlonglong(42), QStringLiteral("42.0000"), QStringLiteral("42.0000")},
          {QVariant(), QJsonValue::Null, QString()}}},
        {QStringLiteral("k_single"),
         {QStringLiteral("v"), ColumnType::Single},
         {{FLT_MAX, double(FLT_MAX), QStringLiteral("3.4028235e+38")},
          {-FLT_MAX, -double(FLT_MAX), QStringLiteral("-3.4028235e+38")},
          {FLT_MIN, double(FLT_MIN), QStringLiteral("1.1754944e-38")},
          {FLT_TRUE_MIN, double(FLT_TRUE_MIN), QStringLiteral("1.4012985e-45")},
          {3.14159274f, double(3.14159274f), QStringLiteral("3.1415927")},
          {0.0f, 0.0, QStringLiteral("0")},
          {-1.5f, -1.5, QStringLiteral("-1.5")},
          {QVariant(), QJsonValue::Null, QString()}}},
        {QStringLiteral("k_double"),
         {QStringLiteral("v"), ColumnType::Double},
         {{DBL_MAX, DBL_MAX, QStringLiteral("1.797693134862316e+308")},
          {-DBL_MAX, -DBL_MAX, QStringLiteral("-1.797693134862316e+308")},
          {DBL_MIN, DBL_MIN, QStringLiteral("2.225073858507201e-308")},
          {DBL_TRUE_MIN, DBL_TRUE_MIN, QStringLiteral("4.940656458412465e-324")},
          {0.1, 0.1, QStringLiteral("0.1")},
          {-123456.789, -123456.789, QStringLiteral("-123456.789")},
          {0.0, 0.0, QStringLiteral("0")},
          {QVariant(), QJsonValue::Null, QString()}}},
        {QStringLiteral("k_datetime"),
         {QStringLiteral("v"), ColumnType::DateTime},
         {{at(2024, 2, 29, 13, 45, 30), 45351.57326388889, QStringLiteral("2024-02-29 13:45:30")},
          {at(1899, 12, 30), 0.0, QStringLiteral("1899-12-30 00:00:00")},
          {at(1900, 1, 1), 2.0, QStringLiteral("1900-01-01 00:00:00")},
          {at(2099, 12, 31, 23, 59, 59), 73050.99998842593, QStringLiteral("2099-12-31 23:59:59")},
          {QDate(2000, 1, 1), 36526.0, QStringLiteral("2000-01-01 00:00:00")},
          {at(100, 1, 1), -657434.0, std::nullopt},
          {at(9999, 12, 31, 23, 59, 59), 2958465.999988426, std::nullopt},
          // Before 1899-12-30 the day counts back but the time still runs forward.
          {at(1800, 6, 15, 12), -36357.5, std::nullopt},
          {at(1899, 12, 29, 6), -1.25, std::nullopt},
          {QStringLiteral("2100-03-01T08:15:00"), 73110.34375, std::nullopt},
          {QVariant(), QJsonValue::Null, QString()}}},
        {QStringLiteral("k_text"),
         {QStringLiteral("v"), ColumnType::Text, 255},
         {{QStringLiteral("hello world"), QStringLiteral("hello world"), QStringLiteral("hello world")},
          {QStringLiteral(""), QStringLiteral(""), QString()},
          {kChinese, kChinese, kChinese},
          {QStringLiteral("Orvane 客户管理 ABC x"), QStringLiteral("Orvane 客户管理 ABC x"),
           QStringLiteral("Orvane 客户管理 ABC x")},
          // U+4E00 has a low byte of 0, which compressed text cannot hold.
          {QStringLiteral("一二三 abc"), QStringLiteral("一二三 abc"), QStringLiteral("一二三 abc")},
          {QStringLiteral("Ünïcödé ±½ ÿ"), QStringLiteral("Ünïcödé ±½ ÿ"), QStringLiteral("Ünïcödé ±½ ÿ")},
          {QStringLiteral("\uFEFFmarked"), QStringLiteral("\uFEFFmarked"), QStringLiteral("\uFEFFmarked")},
          {QStringLiteral("say \"hi\", then\nleave"), QStringLiteral("say \"hi\", then\nleave"),
           QStringLiteral("say \"hi\", then\nleave")},
          {QString(255, QChar(u'客')), QString(255, QChar(u'客')), QString(255, QChar(u'客'))},
          {latin(255), latin(255), latin(255)},
          {QVariant(), QJsonValue::Null, QString()}}},
        {QStringLiteral("k_memo"),
         {QStringLiteral("v"), ColumnType::Memo},
         {{QStringLiteral("short memo"), QStringLiteral("short memo"), QStringLiteral("short memo")},
          {QStringLiteral(""), QStringLiteral(""), QString()},
          {latin(1000), latin(1000), latin(1000)},
          {sample(1000, 1), sample(1000, 1), sample(1000, 1)},
          {latin(3000), latin(3000), latin(3000)},
          {sample(20000, 2), sample(20000, 2), sample(20000, 2)},
          {sample(2038, 3), sample(2038, 3), sample(2038, 3)},
          {QVariant(), QJsonValue::Null, QString()}}},
    };
    return all;
}

// Every kind in one table, so that fixed offsets, variable offsets and a
// null mask of two bytes work together.
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

const QString kPassword = QStringLiteral("Orvane密码2024");
const QDateTime kCreated = at(2023, 7, 1, 8, 30);

bool sameJson(const QJsonValue& actual, const QJsonValue& expected)
{
    if (expected.isDouble())
        return actual.isDouble() && actual.toDouble() == expected.toDouble();
    return actual == expected;
}

QString shown(const QJsonValue& v)
{
    if (v.isDouble())
        return QString::number(v.toDouble(), 'g', 17);
    if (v.isString())
        return QStringLiteral("\"%1\"").arg(v.toString().left(80));
    return v.isBool() ? (v.toBool() ? QStringLiteral("true") : QStringLiteral("false"))
                      : QStringLiteral("null");
}

// One file holds a table per kind, a table of every kind, an empty table and
// a table with Chinese names; it is written once and read by every test.
class JetWriterTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        s_path = s_dir->filePath(QStringLiteral("kinds.cdb"));
        jet::Writer w(s_path);
        w.setPassword(kPassword);
        w.setCreationDate(kCreated);
        for (const Kind& k : kinds()) {
            w.addTable(k.table, {{QStringLiteral("id"), ColumnType::Long}, k.column});
            for (int i = 0; i < k.cases.size(); ++i)
                w.addRow(k.table, {i, k.cases[i].written});
        }
        w.addTable(QStringLiteral("AllKinds"), allKindsColumns());
        w.addRow(QStringLiteral("AllKinds"),
                 {true, 200, -1234, 7654321, QStringLiteral("1234.5678"), 2.5f, -0.125,
                  at(1999, 12, 31, 23, 59, 58), kChinese, sample(5000, 4), QStringLiteral("A-1"), false});
        w.addRow(QStringLiteral("AllKinds"), QList<QVariant>(12));
        w.addTable(QStringLiteral("Empty"), {{QStringLiteral("Id"), ColumnType::Long},
                                             {QStringLiteral("Name"), ColumnType::Text, 10}});
        w.addTable(QStringLiteral("客户"), {{QStringLiteral("名称"), ColumnType::Text, 20}});
        w.addRow(QStringLiteral("客户"), {QStringLiteral("张三")});
        s_saved = w.save(&s_saveError);
        if (s_saved)
            s_dumped = jettest::mdbReaderDump(s_path, &s_dump, &s_dumpError);
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(s_saved) << s_saveError.toStdString(); }

    static QTemporaryDir* s_dir;
    static QString s_path;
    static bool s_saved;
    static QString s_saveError;
    static bool s_dumped;
    static QJsonObject s_dump;
    static QString s_dumpError;
};

QTemporaryDir* JetWriterTest::s_dir = nullptr;
QString JetWriterTest::s_path;
bool JetWriterTest::s_saved = false;
QString JetWriterTest::s_saveError;
bool JetWriterTest::s_dumped = false;
QJsonObject JetWriterTest::s_dump;
QString JetWriterTest::s_dumpError;

QStringList tableNames()
{
    QStringList names;
    for (const Kind& k : kinds())
        names << k.table;
    return names << QStringLiteral("AllKinds") << QStringLiteral("Empty") << QStringLiteral("客户");
}

TEST_F(JetWriterTest, BothReadersListTheTablesInOrder)
{
    QStringList names;
    QString error;
    ASSERT_TRUE(jettest::mdbTables(s_path, &names, &error)) << error.toStdString();
    EXPECT_EQ(names, tableNames());

    ASSERT_TRUE(s_dumped) << s_dumpError.toStdString();
    QStringList viaMdbReader;
    for (const QJsonValue& t : s_dump.value(QStringLiteral("tables")).toArray())
        viaMdbReader << t.toObject().value(QStringLiteral("name")).toString();
    EXPECT_EQ(viaMdbReader, tableNames());
    EXPECT_EQ(s_dump.value(QStringLiteral("systemTables")).toArray(),
              QJsonArray{QStringLiteral("MSysObjects")});
}

TEST_F(JetWriterTest, MdbtoolsReadsBackEveryKind)
{
    for (const Kind& k : kinds()) {
        SCOPED_TRACE(k.table.toStdString());
        qint64 count = -1;
        QList<QStringList> rows;
        QString error;
        ASSERT_TRUE(jettest::mdbCount(s_path, k.table, &count, &error)) << error.toStdString();
        EXPECT_EQ(count, k.cases.size());
        ASSERT_TRUE(jettest::mdbExport(s_path, k.table, &rows, &error)) << error.toStdString();
        ASSERT_EQ(rows.size(), k.cases.size() + 1);
        EXPECT_EQ(rows[0], (QStringList{QStringLiteral("id"), QStringLiteral("v")}));
        for (int i = 0; i < k.cases.size(); ++i) {
            SCOPED_TRACE("case " + std::to_string(i));
            ASSERT_EQ(rows[i + 1].size(), 2);
            EXPECT_EQ(rows[i + 1][0], QString::number(i));
            if (k.cases[i].viaMdbtools) {
                EXPECT_EQ(rows[i + 1][1], *k.cases[i].viaMdbtools);
            }
        }
    }
}

TEST_F(JetWriterTest, MdbReaderReadsBackEveryKind)
{
    ASSERT_TRUE(s_dumped) << s_dumpError.toStdString();
    for (const Kind& k : kinds()) {
        SCOPED_TRACE(k.table.toStdString());
        const QJsonObject table = jettest::dumpedTable(s_dump, k.table);
        EXPECT_EQ(table.value(QStringLiteral("rowCount")).toInt(), k.cases.size());
        const QJsonArray rows = table.value(QStringLiteral("rows")).toArray();
        ASSERT_EQ(rows.size(), k.cases.size());
        for (int i = 0; i < k.cases.size(); ++i) {
            SCOPED_TRACE("case " + std::to_string(i));
            const QJsonArray row = rows[i].toArray();
            EXPECT_EQ(row[0].toDouble(), i);
            const QJsonValue expected = k.cases[i].viaMdbReader;
            if (k.column.type == ColumnType::DateTime && !expected.isNull()) {
                ASSERT_TRUE(row[1].isDouble()) << shown(row[1]).toStdString();
                EXPECT_NEAR(jettest::oleFromMdbReader(row[1].toDouble()), expected.toDouble(), 1e-8);
            } else {
                EXPECT_TRUE(sameJson(row[1], expected)) << "read " << shown(row[1]).toStdString()
                                                        << ", expected " << shown(expected).toStdString();
            }
        }
    }
}

TEST_F(JetWriterTest, BothReadersSeeTheColumnTypes)
{
    struct Expected
    {
        const char* mdbSchema;
        const char* mdbReader;
        int size;
    };
    const Expected expected[] = {{"Boolean NOT NULL", "boolean", 0},
                                 {"Byte", "byte", 1},
                                 {"Integer", "integer", 2},
                                 {"Long Integer", "long", 4},
                                 {"Currency", "currency", 8},
                                 {"Single", "float", 4},
                                 {"Double", "double", 8},
                                 {"DateTime", "datetime", 8},
                                 {"Text (40)", "text", 80},
                                 {"Memo/Hyperlink (255)", "memo", 0},
                                 {"Text (8)", "text", 16},
                                 {"Boolean NOT NULL", "boolean", 0}};
    const QList<Column> columns = allKindsColumns();

    QList<QPair<QString, QString>> schema;
    QString error;
    ASSERT_TRUE(jettest::mdbSchema(s_path, QStringLiteral("AllKinds"), &schema, &error))
        << error.toStdString();
    ASSERT_EQ(schema.size(), columns.size());
    ASSERT_TRUE(s_dumped) << s_dumpError.toStdString();
    const QJsonArray viaMdbReader =
        jettest::dumpedTable(s_dump, QStringLiteral("AllKinds")).value(QStringLiteral("columns")).toArray();
    ASSERT_EQ(viaMdbReader.size(), columns.size());
    for (int i = 0; i < columns.size(); ++i) {
        SCOPED_TRACE(columns[i].name.toStdString());
        EXPECT_EQ(schema[i].first, columns[i].name);
        EXPECT_EQ(schema[i].second, QLatin1String(expected[i].mdbSchema));
        const QJsonObject c = viaMdbReader[i].toObject();
        EXPECT_EQ(c.value(QStringLiteral("name")).toString(), columns[i].name);
        EXPECT_EQ(c.value(QStringLiteral("type")).toString(), QLatin1String(expected[i].mdbReader));
        EXPECT_EQ(c.value(QStringLiteral("size")).toInt(), expected[i].size);
    }
}

TEST_F(JetWriterTest, ARowOfEveryKindAndARowOfNullsReadBack)
{
    QList<QStringList> rows;
    QString error;
    ASSERT_TRUE(jettest::mdbExport(s_path, QStringLiteral("AllKinds"), &rows, &error)) << error.toStdString();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[1], (QStringList{"1", "200", "-1234", "7654321", "1234.5678", "2.5", "-0.125",
                                    "1999-12-31 23:59:58", kChinese, sample(5000, 4), "A-1", "0"}));
    EXPECT_EQ(rows[2], (QStringList{"0", "", "", "", "", "", "", "", "", "", "", "0"}));

    ASSERT_TRUE(s_dumped) << s_dumpError.toStdString();
    const QJsonArray viaMdbReader =
        jettest::dumpedTable(s_dump, QStringLiteral("AllKinds")).value(QStringLiteral("rows")).toArray();
    ASSERT_EQ(viaMdbReader.size(), 2);
    const QJsonArray full = viaMdbReader[0].toArray();
    EXPECT_EQ(full[0], QJsonValue(true));
    EXPECT_EQ(full[1].toDouble(), 200);
    EXPECT_EQ(full[2].toDouble(), -1234);
    EXPECT_EQ(full[3].toDouble(), 7654321);
    EXPECT_EQ(full[4], QJsonValue(QStringLiteral("1234.5678")));
    EXPECT_EQ(full[5].toDouble(), 2.5);
    EXPECT_EQ(full[6].toDouble(), -0.125);
    EXPECT_NEAR(jettest::oleFromMdbReader(full[7].toDouble()), 36525.99997685185, 1e-8);
    EXPECT_EQ(full[8], QJsonValue(kChinese));
    EXPECT_EQ(full[9], QJsonValue(sample(5000, 4)));
    EXPECT_EQ(full[10], QJsonValue(QStringLiteral("A-1")));
    EXPECT_EQ(full[11], QJsonValue(false));
    EXPECT_EQ(viaMdbReader[1].toArray(),
              (QJsonArray{false, QJsonValue::Null, QJsonValue::Null, QJsonValue::Null, QJsonValue::Null,
                          QJsonValue::Null, QJsonValue::Null, QJsonValue::Null, QJsonValue::Null,
                          QJsonValue::Null, QJsonValue::Null, false}));
}

TEST_F(JetWriterTest, AnEmptyTableHasNoRows)
{
    qint64 count = -1;
    QList<QStringList> rows;
    QString error;
    ASSERT_TRUE(jettest::mdbCount(s_path, QStringLiteral("Empty"), &count, &error)) << error.toStdString();
    EXPECT_EQ(count, 0);
    ASSERT_TRUE(jettest::mdbExport(s_path, QStringLiteral("Empty"), &rows, &error)) << error.toStdString();
    EXPECT_EQ(rows, (QList<QStringList>{{QStringLiteral("Id"), QStringLiteral("Name")}}));

    ASSERT_TRUE(s_dumped) << s_dumpError.toStdString();
    const QJsonObject table = jettest::dumpedTable(s_dump, QStringLiteral("Empty"));
    EXPECT_EQ(table.value(QStringLiteral("rowCount")).toInt(-1), 0);
    EXPECT_EQ(table.value(QStringLiteral("rows")).toArray(), QJsonArray());
}

TEST_F(JetWriterTest, ChineseTableAndColumnNamesReadBack)
{
    QList<QStringList> rows;
    QString error;
    ASSERT_TRUE(jettest::mdbExport(s_path, QStringLiteral("客户"), &rows, &error)) << error.toStdString();
    EXPECT_EQ(rows, (QList<QStringList>{{QStringLiteral("名称")}, {QStringLiteral("张三")}}));

    ASSERT_TRUE(s_dumped) << s_dumpError.toStdString();
    const QJsonObject table = jettest::dumpedTable(s_dump, QStringLiteral("客户"));
    EXPECT_EQ(table.value(QStringLiteral("columns")).toArray()[0].toObject().value(QStringLiteral("name")),
              QJsonValue(QStringLiteral("名称")));
    EXPECT_EQ(table.value(QStringLiteral("rows")).toArray(),
              (QJsonArray{QJsonArray{QStringLiteral("张三")}}));
}

TEST(JetWriterHeaderTest, PasswordAndCreationDateReadBack)
{
    struct HeaderCase
    {
        QString password;
        QDateTime created;
        QJsonValue passwordViaMdbReader;
        double createdOle;
    };
    const HeaderCase cases[] = {
        {kPassword, kCreated, kPassword, 45108.354166666664},
        {QString(), at(2024, 2, 29, 13, 45, 30), QJsonValue::Null, 45351.57326388889},
        {QStringLiteral("12345678901234567890"), at(1999, 12, 31, 23, 59, 59),
         QStringLiteral("12345678901234567890"), 36525.99998842593},
        {QStringLiteral("密"), at(2100, 3, 1, 8, 15), QStringLiteral("密"), 73110.34375},
    };
    QTemporaryDir dir;
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.password.toStdString());
        const QString path = dir.filePath(QStringLiteral("header.cdb"));
        jet::Writer w(path);
        w.setPassword(c.password);
        w.setCreationDate(c.created);
        w.addTable(QStringLiteral("T"), {{QStringLiteral("Id"), ColumnType::Long}});
        w.addRow(QStringLiteral("T"), {1});
        QString error;
        ASSERT_TRUE(w.save(&error)) << error.toStdString();

        QJsonObject dump;
        ASSERT_TRUE(jettest::mdbReaderDump(path, &dump, &error)) << error.toStdString();
        EXPECT_EQ(dump.value(QStringLiteral("password")), c.passwordViaMdbReader);
        EXPECT_NEAR(jettest::oleFromMdbReader(dump.value(QStringLiteral("creationDate")).toDouble()),
                    c.createdOle, 1e-8);
        // mdbtools does not check the password; it must still open the file.
        QList<QStringList> rows;
        ASSERT_TRUE(jettest::mdbExport(path, QStringLiteral("T"), &rows, &error)) << error.toStdString();
        EXPECT_EQ(rows, (QList<QStringList>{{QStringLiteral("Id")}, {QStringLiteral("1")}}));
    }
}

// 200 columns make a table definition of about 6,600 bytes, continued on a
// second page.
TEST(JetWriterWideTest, ATableDefinitionLongerThanAPageReadsBack)
{
    constexpr int kColumns = 200;
    QList<Column> columns;
    QList<QVariant> values;
    QStringList names;
    QStringList texts;
    for (int i = 0; i < kColumns; ++i) {
        names << QStringLiteral("列%1").arg(i);
        columns << Column{names.last(), ColumnType::Long};
        values << i * 1000 - 7;
        texts << QString::number(i * 1000 - 7);
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("wide.cdb"));
    jet::Writer w(path);
    ASSERT_TRUE(w.addTable(QStringLiteral("Wide"), columns));
    ASSERT_TRUE(w.addRow(QStringLiteral("Wide"), values));
    QString error;
    ASSERT_TRUE(w.save(&error)) << error.toStdString();

    QList<QStringList> rows;
    ASSERT_TRUE(jettest::mdbExport(path, QStringLiteral("Wide"), &rows, &error)) << error.toStdString();
    EXPECT_EQ(rows, (QList<QStringList>{names, texts}));

    QJsonObject dump;
    ASSERT_TRUE(jettest::mdbReaderDump(path, &dump, &error)) << error.toStdString();
    const QJsonObject table = jettest::dumpedTable(dump, QStringLiteral("Wide"));
    const QJsonArray readColumns = table.value(QStringLiteral("columns")).toArray();
    ASSERT_EQ(readColumns.size(), kColumns);
    EXPECT_EQ(readColumns.last().toObject().value(QStringLiteral("name")), QJsonValue(names.last()));
    const QJsonArray row = table.value(QStringLiteral("rows")).toArray().first().toArray();
    ASSERT_EQ(row.size(), kColumns);
    for (int i = 0; i < kColumns; ++i)
        EXPECT_EQ(row[i].toDouble(), i * 1000 - 7) << "column " << i;
}

TEST(JetWriterRefusalTest, InvalidInputFailsTheSaveAndLeavesNoFile)
{
    const auto twoColumns = [](jet::Writer& w, ColumnType type, int textLength = 255) {
        return w.addTable(QStringLiteral("T"), {{QStringLiteral("Id"), ColumnType::Long},
                                                {QStringLiteral("V"), type, textLength}});
    };
    const auto value = [twoColumns](ColumnType type, QVariant v, int textLength = 255) {
        return [=](jet::Writer& w) {
            twoColumns(w, type, textLength);
            return w.addRow(QStringLiteral("T"), {1, v});
        };
    };
    struct Refusal
    {
        const char* what;
        std::function<bool(jet::Writer&)> steps; // returns the result of the refused call
        QString reason;
    };
    const Refusal refusals[] = {
        {"byte above 255", value(ColumnType::Byte, 256), QStringLiteral("outside 0..255")},
        {"negative byte", value(ColumnType::Byte, -1), QStringLiteral("outside 0..255")},
        {"integer above 32767", value(ColumnType::Integer, 32768), QStringLiteral("outside -32768..32767")},
        {"long above 2^31-1", value(ColumnType::Long, qlonglong(INT_MAX) + 1), QStringLiteral("outside")},
        {"fractional long", value(ColumnType::Long, 1.5), QStringLiteral("not an integer")},
        {"integer from words", value(ColumnType::Integer, QStringLiteral("abc")),
         QStringLiteral("not an integer")},
        {"currency with 5 decimals", value(ColumnType::Currency, QStringLiteral("1.23456")),
         QStringLiteral("more than 4 decimals")},
        {"currency above its range", value(ColumnType::Currency, QStringLiteral("922337203685477.5808")),
         QStringLiteral("outside the range of Currency")},
        {"single above its range", value(ColumnType::Single, 1e39),
         QStringLiteral("outside the range of Single")},
        {"date before year 100", value(ColumnType::DateTime, QDate(99, 12, 31)),
         QStringLiteral("outside 0100")},
        {"not a date", value(ColumnType::DateTime, 5), QStringLiteral("not a date")},
        {"text longer than its column", value(ColumnType::Text, QStringLiteral("客户资料管理"), 5),
         QStringLiteral("the column holds 5")},
        {"row too long",
         [](jet::Writer& w) {
             QList<Column> columns;
             QList<QVariant> values;
             for (int i = 0; i < 9; ++i) {
                 columns << Column{QStringLiteral("c%1").arg(i), ColumnType::Text, 255};
                 values << QString(255, QChar(u'客'));
             }
             w.addTable(QStringLiteral("T"), columns);
             return w.addRow(QStringLiteral("T"), values);
         },
         QStringLiteral("a row holds at most 4060")},
        {"too few values",
         [twoColumns](jet::Writer& w) {
             twoColumns(w, ColumnType::Long);
             return w.addRow(QStringLiteral("T"), {1});
         },
         QStringLiteral("has 2 columns, the row has 1")},
        {"unknown table", [](jet::Writer& w) { return w.addRow(QStringLiteral("Nope"), {1}); },
         QStringLiteral("there is no table Nope")},
        {"rows into the catalog", [](jet::Writer& w) { return w.addRow(QStringLiteral("MSysObjects"), {1}); },
         QStringLiteral("there is no table")},
        {"table name taken, in other case",
         [twoColumns](jet::Writer& w) {
             twoColumns(w, ColumnType::Long);
             return w.addTable(QStringLiteral("t"), {{QStringLiteral("Id"), ColumnType::Long}});
         },
         QStringLiteral("already exists")},
        {"the catalog's name",
         [](jet::Writer& w) {
             return w.addTable(QStringLiteral("msysobjects"), {{QStringLiteral("Id"), ColumnType::Long}});
         },
         QStringLiteral("already exists")},
        {"column twice",
         [](jet::Writer& w) {
             return w.addTable(QStringLiteral("T"), {{QStringLiteral("Id"), ColumnType::Long},
                                                     {QStringLiteral("ID"), ColumnType::Text}});
         },
         QStringLiteral("column ID appears twice")},
        {"name with a dot",
         [](jet::Writer& w) {
             return w.addTable(QStringLiteral("a.b"), {{QStringLiteral("Id"), ColumnType::Long}});
         },
         QStringLiteral("may not contain")},
        {"text column of 256", [twoColumns](jet::Writer& w) { return twoColumns(w, ColumnType::Text, 256); },
         QStringLiteral("1 to 255 characters")},
        {"table without columns", [](jet::Writer& w) { return w.addTable(QStringLiteral("T"), {}); },
         QStringLiteral("1 to 255 columns")},
        {"password of 21 characters",
         [](jet::Writer& w) {
             w.setPassword(QString(21, QChar(u'p')));
             return w.save(nullptr);
         },
         QStringLiteral("more than 20 characters")},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.what);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("refused.cdb"));
        jet::Writer w(path);
        EXPECT_FALSE(r.steps(w));
        EXPECT_TRUE(w.errorString().contains(r.reason)) << w.errorString().toStdString();
        QString error;
        EXPECT_FALSE(w.save(&error));
        EXPECT_TRUE(error.contains(r.reason)) << error.toStdString();
        EXPECT_FALSE(QFileInfo::exists(path));
    }
}

TEST(JetWriterRefusalTest, AnUnwritableFolderFailsTheSave)
{
    QTemporaryDir dir;
    jet::Writer w(dir.filePath(QStringLiteral("missing/folder/x.cdb")));
    ASSERT_TRUE(w.addTable(QStringLiteral("T"), {{QStringLiteral("Id"), ColumnType::Long}}));
    QString error;
    EXPECT_FALSE(w.save(&error));
    EXPECT_TRUE(error.contains(QStringLiteral("x.cdb"))) << error.toStdString();
}

// 100,000 rows spread over far more pages than an inline usage map covers,
// interleaved with a second table and with memos on long-value pages.
QList<QVariant> bigRow(int i)
{
    QVariant note;
    if (i % 1000 == 0)
        note = sample(5000, i);
    else if (i % 7 != 0)
        note = QStringLiteral("note %1").arg(i);
    return {i,
            QStringLiteral("C%1").arg(i, 6, 10, QLatin1Char('0')),
            QStringLiteral("%1.%2").arg(i / 100).arg(i % 100, 2, 10, QLatin1Char('0')),
            QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC).addSecs(qint64(i) * 61),
            i % 3 == 0,
            note};
}

// The largest file in dir, or open in this process in dir: the temporary
// file of a save may have no name there (O_TMPFILE on Linux), and then only
// /proc/self/fd shows it.
qint64 largestFileBeingWritten(const QString& dir)
{
    qint64 largest = 0;
    for (const QFileInfo& f : QDir(dir).entryInfoList(QDir::Files))
        largest = std::max(largest, f.size());
    for (const QFileInfo& fd :
         QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::AllEntries | QDir::System))
        if (fd.symLinkTarget().startsWith(dir + QLatin1Char('/')))
            largest = std::max(largest, QFileInfo(fd.filePath()).size());
    return largest;
}

TEST(JetWriterLargeTest, HundredThousandRowsStreamToDiskAndReadBack)
{
    constexpr int kRows = 100000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.cdb"));
    {
        jet::Writer w(path);
        ASSERT_TRUE(w.addTable(QStringLiteral("Big"), {{QStringLiteral("Id"), ColumnType::Long},
                                                       {QStringLiteral("Code"), ColumnType::Text, 10},
                                                       {QStringLiteral("Amount"), ColumnType::Currency},
                                                       {QStringLiteral("At"), ColumnType::DateTime},
                                                       {QStringLiteral("Flag"), ColumnType::Bool},
                                                       {QStringLiteral("Note"), ColumnType::Memo}}));
        ASSERT_TRUE(w.addTable(QStringLiteral("Side"), {{QStringLiteral("Id"), ColumnType::Long},
                                                        {QStringLiteral("Name"), ColumnType::Text, 20}}));
        for (int i = 0; i < kRows; ++i) {
            ASSERT_TRUE(w.addRow(QStringLiteral("Big"), bigRow(i))) << w.errorString().toStdString();
            if (i % 100 == 0) {
                ASSERT_TRUE(w.addRow(QStringLiteral("Side"), {i / 100, QStringLiteral("side %1").arg(i)}));
            }
        }
        // The full pages are on disk already, in a file beside the target;
        // the target itself appears with save().
        EXPECT_GT(largestFileBeingWritten(dir.path()), 4 * 1024 * 1024);
        EXPECT_FALSE(QFileInfo::exists(path));
        QString error;
        ASSERT_TRUE(w.save(&error)) << error.toStdString();
    }

    qint64 count = 0;
    QString error;
    ASSERT_TRUE(jettest::mdbCount(path, QStringLiteral("Big"), &count, &error)) << error.toStdString();
    EXPECT_EQ(count, kRows);

    QList<QStringList> rows;
    ASSERT_TRUE(jettest::mdbExport(path, QStringLiteral("Big"), &rows, &error)) << error.toStdString();
    ASSERT_EQ(rows.size(), kRows + 1);
    int mismatches = 0;
    for (int i = 0; i < kRows && mismatches < 5; ++i) {
        const QList<QVariant> v = bigRow(i);
        const QStringList expected = {QString::number(i),
                                      v[1].toString(),
                                      v[2].toString() + QStringLiteral("00"),
                                      v[3].toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                      v[4].toBool() ? QStringLiteral("1") : QStringLiteral("0"),
                                      v[5].toString()};
        if (rows[i + 1] != expected) {
            ++mismatches;
            ADD_FAILURE() << "mdbtools row " << i << ": "
                          << rows[i + 1].join(QLatin1Char('|')).left(200).toStdString();
        }
    }

    QJsonObject dump;
    ASSERT_TRUE(jettest::mdbReaderDump(path, &dump, &error)) << error.toStdString();
    const QJsonObject big = jettest::dumpedTable(dump, QStringLiteral("Big"));
    EXPECT_EQ(big.value(QStringLiteral("rowCount")).toInt(), kRows);
    const QJsonArray bigRows = big.value(QStringLiteral("rows")).toArray();
    ASSERT_EQ(bigRows.size(), kRows);
    for (int i = 0; i < kRows && mismatches < 5; ++i) {
        const QList<QVariant> v = bigRow(i);
        const QJsonArray r = bigRows[i].toArray();
        const bool same = r[0].toDouble() == i && r[1] == QJsonValue(v[1].toString()) &&
                          r[2] == QJsonValue(v[2].toString() + QStringLiteral("00")) &&
                          r[3].toDouble() == double(v[3].toDateTime().toMSecsSinceEpoch()) &&
                          r[4] == QJsonValue(v[4].toBool()) &&
                          r[5] == (v[5].isNull() ? QJsonValue() : QJsonValue(v[5].toString()));
        if (!same) {
            ++mismatches;
            ADD_FAILURE()
                << "mdb-reader row " << i << ": "
                << QString::fromUtf8(QJsonDocument(r).toJson(QJsonDocument::Compact)).left(200).toStdString();
        }
    }

    const QJsonArray sideRows =
        jettest::dumpedTable(dump, QStringLiteral("Side")).value(QStringLiteral("rows")).toArray();
    ASSERT_EQ(sideRows.size(), kRows / 100);
    for (int k = 0; k < sideRows.size(); ++k)
        EXPECT_EQ(sideRows[k].toArray(), (QJsonArray{k, QStringLiteral("side %1").arg(k * 100)}));
}

} // namespace
