// The embedded engine's server operations: bulk load, backup, the backup's
// file list and header, restore, folder listing.

#include "DataTestSupport.h"

#include "common/Clock.h"
#include "common/Cp936.h"
#include "data/DataError.h"
#include "data/sqlite/SqliteAdmin.h"

#include <QDateTime>
#include <QFileInfo>

#include <functional>

#include <sqlite3.h>

using namespace ov;
using ovtest::readFile;
using ovtest::str;
using ovtest::writeFile;

namespace {

class EmbeddedAdmin : public ovtest::EmbeddedServerTest
{
protected:
    void TearDown() override { Clock::reset(); }

    void makeContacts()
    {
        makeDatabase(
            QStringLiteral("Crm"),
            QStringLiteral("CREATE TABLE tblContact (ID INT NOT NULL PRIMARY KEY, Name NVARCHAR(50), "
                           "Amount DECIMAL(10,2), Note NVARCHAR(50));"));
    }

    bool load(const QString& table, const QByteArray& bytes, BulkLoadResult& counts)
    {
        writeFile(m_dir.filePath(table + QStringLiteral(".dat")), bytes);
        return m_admin->bulkLoad(QStringLiteral("Crm"), table, m_dir.filePath(table + QStringLiteral(".dat")),
                                 m_dir.filePath(table + QStringLiteral(".log")),
                                 m_dir.filePath(table + QStringLiteral(".err")), &counts);
    }

    // A connection on the server's Tempdb, as the backup and restore windows open.
    void openTempdb(Connection& cn)
    {
        cn.setCommandTimeout(0);
        ASSERT_TRUE(open(cn, QStringLiteral("Tempdb")));
    }
};

TEST_F(EmbeddedAdmin, BulkLoadTakesGoodRowsAndWritesRejectedOnesToTheErrorFile)
{
    makeContacts();
    const QByteArray good1 = cp936::encode(QStringLiteral("1\t张三\t12.50\t北京"));
    const QByteArray good2 = "2\t\t-3\tx";           // empty field: NULL
    const QByteArray duplicate = "1\tagain\t1\tdup"; // primary key
    const QByteArray notNumber = "3\tbad\tabc\tx";   // Amount
    const QByteArray tooShort = "4\tshort\t1";       // three fields
    const QByteArray good3 = cp936::encode(QStringLiteral("5\t王五\t1e2\t"));
    const QByteArray file = good1 + "\r\n" + good2 + "\r\n" + duplicate + "\r\n" + notNumber + "\r\n" +
                            tooShort + "\r\n" + good3 + "\r\n";
    BulkLoadResult counts;
    ASSERT_TRUE(load(QStringLiteral("tblContact"), file, counts)) << str(m_admin->lastError().description);
    EXPECT_EQ(counts.rowsCopied, 3);
    EXPECT_EQ(counts.rowsRejected, 3);

    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("Crm")));
    EXPECT_EQ(
        column(cn, QStringLiteral("SELECT ID || '|' || ifnull(Name, '<null>') || '|' || Amount || '|' || "
                                  "ifnull(Note, '<null>') FROM tblContact ORDER BY ID")),
        QStringList({QStringLiteral("1|张三|12.5|北京"), QStringLiteral("2|<null>|-3|x"),
                     QStringLiteral("5|王五|100|<null>")}));

    const QByteArray errors = readFile(m_dir.filePath(QStringLiteral("tblContact.err")));
    for (const QByteArray& row : {duplicate, notNumber, tooShort})
        EXPECT_TRUE(errors.contains("\r\n" + row + "\r\n")) << row.constData();
    EXPECT_FALSE(errors.contains(good2));
    EXPECT_TRUE(errors.contains("Row 3:"));
    EXPECT_TRUE(errors.contains("Field 'Amount' takes numbers"));
    EXPECT_TRUE(errors.contains("the row has 3 fields, the table has 4 columns"));

    const QString log = cp936::decode(readFile(m_dir.filePath(QStringLiteral("tblContact.log"))));
    EXPECT_TRUE(log.contains(QLatin1String("6 rows read, 3 rows copied, 3 rows rejected."))) << str(log);
}

TEST_F(EmbeddedAdmin, BulkLoadReadsUtf8AfterAByteOrderMarkAndRestoresThePragmas)
{
    makeContacts();
    const QByteArray file = QByteArray("\xEF\xBB\xBF") + QStringLiteral("7\t赵六\t1\t€").toUtf8() + "\r\n";
    BulkLoadResult counts;
    ASSERT_TRUE(load(QStringLiteral("tblContact"), file, counts));
    EXPECT_EQ(counts.rowsCopied, 1);

    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("Crm")));
    EXPECT_EQ(column(cn, QStringLiteral("SELECT ID || Name || Note FROM tblContact")),
              QStringList({QStringLiteral("7赵六€")}));
    EXPECT_EQ(column(cn, QStringLiteral("PRAGMA journal_mode")), QStringList({QStringLiteral("delete")}));
    EXPECT_EQ(column(cn, QStringLiteral("PRAGMA synchronous")), QStringList({QStringLiteral("2")}));
}

// Integer fields are bound as numbers where that is safe; whatever their
// spelling, the stored value and type must be what the engine makes of the
// same text in an INSERT.
TEST_F(EmbeddedAdmin, BulkLoadStoresIntegerFieldsAsTheEngineWouldStoreTheirText)
{
    const QStringList values = {
        QStringLiteral("42"),
        QStringLiteral("-7"),
        QStringLiteral("007"),
        QStringLiteral("+5"),
        QStringLiteral(" 9 "),
        QStringLiteral("-0"),
        QStringLiteral("0"),
        QStringLiteral("123456789012345678"),
        QStringLiteral("-999999999999999999"),
        QStringLiteral("9223372036854775807"),
        QStringLiteral("-9223372036854775808"),
    };
    makeDatabase(QStringLiteral("Crm"),
                 QStringLiteral("CREATE TABLE tblLoaded (Seq INT, V BIGINT, B BIT); "
                                "CREATE TABLE tblInserted (Seq INT, V BIGINT, B BIT);"));
    QByteArray file;
    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("Crm")));
    for (int i = 0; i < values.size(); ++i) {
        file += QByteArray::number(i) + '\t' + values[i].toLatin1() + '\t' + values[i].toLatin1() + "\r\n";
        const QString text = QLatin1Char('\'') + values[i] + QLatin1Char('\'');
        ASSERT_TRUE(
            cn.Execute(QStringLiteral("INSERT INTO tblInserted VALUES (%1, %2, %2)").arg(i).arg(text)));
    }
    BulkLoadResult counts;
    ASSERT_TRUE(load(QStringLiteral("tblLoaded"), file, counts)) << str(m_admin->lastError().description);
    EXPECT_EQ(counts.rowsCopied, values.size());
    const QString query = QStringLiteral(
        "SELECT Seq || ':' || typeof(V) || ':' || V || ':' || typeof(B) || ':' || B FROM %1 ORDER BY Seq");
    EXPECT_EQ(column(cn, query.arg(QStringLiteral("tblLoaded"))),
              column(cn, query.arg(QStringLiteral("tblInserted"))));
}

// Each field is checked against its column as a value assigned in the table
// transfer is: a value the column cannot hold exactly is not stored in
// another form or cut short; its row goes to the error file, the load goes on
// with the next row, and the counts say how many rows went where.
TEST_F(EmbeddedAdmin, BulkLoadRefusesValuesTheirColumnCannotHold)
{
    const QByteArray rejected = "(rejected)";
    const struct
    {
        const char* type;
        QByteArray field;
        QByteArray stored; // typeof(V) ':' V, or rejected
    } cases[] = {
        {"INT", "2147483647", "integer:2147483647"},
        {"INT", "-2147483648", "integer:-2147483648"},
        {"INT", "007", "integer:7"},
        {"INT", "2147483648", rejected},
        {"INT", "-2147483649", rejected},
        {"INT", "99999999999999999999999", rejected},
        {"INT", "1.5", rejected},
        {"INT", "+5", "integer:5"},
        {"INT", " 5 ", "integer:5"},
        {"INT", "0x10", rejected},
        {"INT", "1e3", rejected},
        {"BIGINT", "9223372036854775807", "integer:9223372036854775807"},
        {"BIGINT", "-9223372036854775808", "integer:-9223372036854775808"},
        {"BIGINT", "9223372036854775808", rejected},
        {"BIGINT", "-99999999999999999999", rejected},
        {"SMALLINT", "-32768", "integer:-32768"},
        {"SMALLINT", "32768", rejected},
        {"TINYINT", "255", "integer:255"},
        {"TINYINT", "256", rejected},
        {"TINYINT", "-1", rejected},
        {"BIT", "1", "integer:1"},
        {"BIT", "yes", rejected},
        // The words as SQL Server stores them.
        {"BIT", "true", "integer:1"},
        {"BIT", " FALSE ", "integer:0"},
        {"DECIMAL(5,2)", "123.45", "real:123.45"},
        {"DECIMAL(5,2)", "-999.5", "real:-999.5"},
        {"DECIMAL(5,2)", "1234.5", rejected},
        {"DECIMAL(5,2)", "1e3", rejected},
        {"DECIMAL(5,2)", "12,5", rejected},
        // A value rounded to the scale that gains an integer digit overflows.
        {"DECIMAL(4,2)", "99.995", rejected},
        {"DECIMAL(4,2)", "-99.9951", rejected},
        {"DECIMAL(4,2)", "99.994", "real:99.994"},
        {"DECIMAL(4,2)", "9.995", "real:9.995"},
        {"DECIMAL(2,2)", "0.995", rejected},
        {"DECIMAL(2,2)", ".994", "real:0.994"},
        {"FLOAT", "1.5e300", "real:1.5e+300"},
        {"FLOAT", "1e400", rejected},
        {"REAL", "3.5e38", rejected},
        {"DATETIME", "2026-02-28 23:59:59", "text:2026-02-28 23:59:59"},
        {"DATETIME", "2024-02-29 00:00:00", "text:2024-02-29 00:00:00"},
        {"DATETIME", "9999-12-31 23:59:59.997", "text:9999-12-31 23:59:59.997"},
        {"DATETIME", "2026-02-30 25:61:00", rejected},
        {"DATETIME", "2026-02-29 00:00:00", rejected},
        {"DATETIME", "2026-01-01 24:00:00", rejected},
        {"DATETIME", "1752-12-31 23:59:59", rejected},
        {"DATETIME", "yesterday", rejected},
        {"SMALLDATETIME", "2079-06-06 23:59:29", "text:2079-06-06 23:59:29"},
        {"SMALLDATETIME", "2079-06-06 23:59:30", rejected},
        {"SMALLDATETIME", "1899-12-31 00:00:00", rejected},
        {"NVARCHAR(4)", "abcd", "text:abcd"},
        {"NVARCHAR(4)", cp936::encode(QStringLiteral("客户资料")), "text:客户资料"},
        {"NVARCHAR(4)", "abcde", rejected},
        {"NVARCHAR(4)", cp936::encode(QStringLiteral("客户资料表")), rejected},
        {"NVARCHAR(10)", QByteArray("ab\0cd", 5), rejected},
        {"NVARCHAR(10)", QByteArray("\0", 1), rejected},
    };
    // One table per column type; one row per case, numbered in Seq.
    QMap<QByteArray, QByteArray> files;
    QMap<QByteArray, QStringList> storedRows;
    QMap<QByteArray, QStringList> rejectedRows; // row number, a line end, the row
    QMap<QByteArray, int> rowCount;
    QMap<QByteArray, QString> tables;
    QString schema;
    for (const auto& c : cases) {
        const QByteArray type = c.type;
        if (!tables.contains(type)) {
            tables[type] = QStringLiteral("tbl%1").arg(tables.size());
            schema += QStringLiteral("CREATE TABLE %1 (Seq INT NOT NULL, V %2);")
                          .arg(tables[type], QString::fromLatin1(type));
        }
        const int seq = ++rowCount[type];
        const QByteArray line = QByteArray::number(seq) + '\t' + c.field;
        files[type] += line + "\r\n";
        if (c.stored == rejected)
            rejectedRows[type] << QString::number(seq) + QLatin1Char('\n') + QString::fromLatin1(line);
        else
            storedRows[type] << QString::number(seq) + QLatin1Char('|') + QString::fromUtf8(c.stored);
    }
    makeDatabase(QStringLiteral("Crm"), schema);
    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("Crm")));
    for (auto it = tables.constBegin(); it != tables.constEnd(); ++it) {
        SCOPED_TRACE(it.key().constData());
        BulkLoadResult counts;
        ASSERT_TRUE(load(it.value(), files[it.key()], counts)) << str(m_admin->lastError().description);
        EXPECT_EQ(counts.rowsCopied, storedRows[it.key()].size());
        EXPECT_EQ(counts.rowsRejected, rejectedRows[it.key()].size());
        EXPECT_EQ(column(cn, QStringLiteral("SELECT Seq || '|' || typeof(V) || ':' || V FROM %1 ORDER BY Seq")
                                 .arg(it.value())),
                  storedRows[it.key()]);

        // Each rejected row in the error file: a line naming its row and
        // the column, then the row as the data file holds it.
        const QByteArray errors = readFile(m_dir.filePath(it.value() + QStringLiteral(".err")));
        QStringList found;
        qsizetype at = 0;
        while ((at = errors.indexOf("#@ Row ", at)) >= 0) {
            const qsizetype colon = errors.indexOf(':', at);
            const qsizetype close = errors.indexOf(" @#\r\n", at);
            const qsizetype end = errors.indexOf("\r\n", close + 5);
            ASSERT_TRUE(colon > 0 && close > colon && end > close) << errors.constData();
            EXPECT_TRUE(errors.mid(colon, close - colon).contains("Field 'V'"))
                << errors.mid(at, close - at).constData();
            found << QString::fromLatin1(errors.mid(at + 7, colon - at - 7) + '\n' +
                                         errors.mid(close + 5, end - close - 5));
            at = end;
        }
        EXPECT_EQ(found, rejectedRows[it.key()]);
        const QString log = cp936::decode(readFile(m_dir.filePath(it.value() + QStringLiteral(".log"))));
        EXPECT_TRUE(log.contains(QStringLiteral("%1 rows read, %2 rows copied, %3 rows rejected.")
                                     .arg(rowCount[it.key()])
                                     .arg(storedRows[it.key()].size())
                                     .arg(rejectedRows[it.key()].size())))
            << str(log);
    }
}

// A table whose own rules keep what a refused statement stored before the
// refused row (a trigger that raises FAIL, a constraint ON CONFLICT FAIL):
// the load still stores every other row once and refuses only the refused
// rows, as inserting the file row by row does.
TEST_F(EmbeddedAdmin, BulkLoadIntoATableThatFailsWithoutTakingBackStoresEachRowOnce)
{
    const struct
    {
        const char* what;
        const char* table;
        QByteArray refusedNote;
    } cases[] = {
        {"trigger",
         "CREATE TABLE tblFail (ID INT NOT NULL PRIMARY KEY, Note NVARCHAR(50));"
         "CREATE TRIGGER trgFail BEFORE INSERT ON tblFail WHEN NEW.Note = 'refused' "
         "BEGIN SELECT RAISE(FAIL, 'refused'); END;",
         "refused"},
        {"on conflict fail",
         "CREATE TABLE tblFail (ID INT NOT NULL PRIMARY KEY, Note NVARCHAR(50) NOT NULL ON "
         "CONFLICT FAIL);",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        makeDatabase(QStringLiteral("Crm"), QString::fromLatin1(c.table));
        QByteArray file;
        for (int row = 1; row <= 100; ++row)
            file += QByteArray::number(row) + '\t' + (row == 10 || row == 70 ? c.refusedNote : "n") + "\r\n";
        BulkLoadResult counts;
        ASSERT_TRUE(load(QStringLiteral("tblFail"), file, counts)) << str(m_admin->lastError().description);
        EXPECT_EQ(counts.rowsRejected, 2);
        EXPECT_EQ(counts.rowsCopied, 98);
        Connection cn;
        ASSERT_TRUE(open(cn, QStringLiteral("Crm")));
        EXPECT_EQ(column(cn, QStringLiteral("SELECT COUNT(*) || ' ' || COUNT(DISTINCT ID) FROM tblFail")),
                  QStringList{QStringLiteral("98 98")});
        const QString errors = cp936::decode(readFile(m_dir.filePath(QStringLiteral("tblFail.err"))));
        EXPECT_EQ(errors.count(QLatin1String("#@ Row ")), 2) << str(errors);
        EXPECT_TRUE(errors.contains(QLatin1String("#@ Row 10:")) &&
                    errors.contains(QLatin1String("#@ Row 70:")))
            << str(errors);
        cn.Close();
        ASSERT_TRUE(m_admin->dropDatabase(QStringLiteral("Crm")));
    }
}

// Rows go to the engine several at a time. Wherever a row the engine refuses
// falls (first or last of a group, refused for a row before or after it, next
// to rows the field checks reject), the load refuses exactly the rows that
// inserting the file row by row refuses, stores the others, and lists the
// refused ones in the error file in the order of the file, with their reason.
TEST_F(EmbeddedAdmin, BulkLoadRefusesTheRowsThatARowByRowInsertRefuses)
{
    makeDatabase(QStringLiteral("Crm"),
                 QStringLiteral("CREATE TABLE tblContact (ID INT NOT NULL PRIMARY KEY, Name NVARCHAR(50), "
                                "Amount DECIMAL(10,2), Note NVARCHAR(50) CHECK (Note <> 'refused'));"
                                "CREATE TABLE tblTwin (ID INT NOT NULL PRIMARY KEY, Name NVARCHAR(50), "
                                "Amount DECIMAL(10,2), Note NVARCHAR(50) CHECK (Note <> 'refused'));"));
    // Row number -> what its line holds instead of a fresh key.
    const QMap<int, QByteArray> odd = {
        {2, "1"},              // the key of the row before it
        {63, "64"},            // the key of the next row, which is then refused
        {64, "64"},            //
        {65, "1"},             //
        {100, "99"},           // a key taken, waiting to be sent ...
        {101, "bad number"},   // ... when the field checks reject the next row
        {102, "short"},        // too few fields
        {103, "98"},           //
        {128, "refused note"}, // the check constraint
        {129, "refused note"}, //
        {130, "3"},            //
        {299, "1"},            //
        {300, "300"},          //
    };
    QByteArray file;
    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("Crm")));
    QStringList refused; // row number, then the row's line
    for (int row = 1; row <= 300; ++row) {
        QByteArray id = QByteArray::number(row);
        QByteArray note = "n" + id;
        QByteArray amount = QByteArray::number(row) + ".25";
        const QByteArray change = odd.value(row);
        if (change == "refused note")
            note = "refused";
        else if (change == "bad number")
            amount = "abc";
        else if (!change.isEmpty() && change != "short")
            id = change;
        const QString name = QStringLiteral("客户%1").arg(row);
        QByteArray line = id + '\t' + cp936::encode(name) + '\t' + amount;
        if (change != "short")
            line += '\t' + note;
        file += line + "\r\n";
        // The same row inserted on its own into the twin table.
        bool inserted = false;
        if (change != "short" && change != "bad number") {
            inserted = cn.Execute(QStringLiteral("INSERT INTO tblTwin VALUES (%1, '%2', %3, '%4')")
                                      .arg(QString::fromLatin1(id), name, QString::fromLatin1(amount),
                                           QString::fromLatin1(note)));
        }
        if (!inserted)
            refused << QString::number(row) + QLatin1Char('\n') + cp936::decode(line);
    }
    ASSERT_EQ(refused.size(), 11);

    BulkLoadResult counts;
    ASSERT_TRUE(load(QStringLiteral("tblContact"), file, counts)) << str(m_admin->lastError().description);
    EXPECT_EQ(counts.rowsRejected, refused.size());
    EXPECT_EQ(counts.rowsCopied, 300 - refused.size());
    const QString query = QStringLiteral("SELECT ID || '|' || Name || '|' || Amount || '|' || Note FROM %1 "
                                         "ORDER BY rowid");
    EXPECT_EQ(column(cn, query.arg(QStringLiteral("tblContact"))),
              column(cn, query.arg(QStringLiteral("tblTwin"))));

    const QString errors = cp936::decode(readFile(m_dir.filePath(QStringLiteral("tblContact.err"))));
    QStringList found;
    qsizetype at = 0;
    while ((at = errors.indexOf(QLatin1String("#@ Row "), at)) >= 0) {
        const qsizetype colon = errors.indexOf(QLatin1Char(':'), at);
        const qsizetype close = errors.indexOf(QLatin1String(" @#\r\n"), at);
        const qsizetype end = errors.indexOf(QLatin1String("\r\n"), close + 5);
        ASSERT_TRUE(colon > 0 && close > colon && end > close) << str(errors);
        const QString row = errors.mid(at + 7, colon - at - 7);
        const QString reason = errors.mid(colon + 2, close - colon - 2);
        const QByteArray change = odd.value(row.toInt());
        if (change == "refused note") {
            EXPECT_TRUE(reason.contains(QStringLiteral("违反了检查约束"))) << str(reason);
        } else if (change != "short" && change != "bad number") {
            EXPECT_EQ(reason, QStringLiteral("违反了唯一约束：tblContact.ID 不能有重复的值。"));
        }
        found << row + QLatin1Char('\n') + errors.mid(close + 5, end - close - 5);
        at = end;
    }
    EXPECT_EQ(found, refused);
}

// The length of a text is counted as SQL Server counts it whatever the
// file's encoding: characters (UTF-16 code units) for NVARCHAR, code page 936
// bytes for VARCHAR.
TEST_F(EmbeddedAdmin, BulkLoadMeasuresTextsAsTheirColumnsCount)
{
    makeDatabase(QStringLiteral("Crm"),
                 QStringLiteral("CREATE TABLE tblText (Seq INT NOT NULL, N NVARCHAR(4), V VARCHAR(4));"));
    const struct
    {
        QString n;
        QString v;
        bool stored;
    } cases[] = {
        {QStringLiteral("客户资料"), QStringLiteral("客户"), true},
        {QStringLiteral("客户资料表"), QStringLiteral("客"), false},
        {QStringLiteral("客"), QStringLiteral("客户a"), false},
        {QStringLiteral("ab😀"), QStringLiteral("abcd"), true},
        {QStringLiteral("abc😀"), QStringLiteral("ab"), false},
    };
    for (const bool utf8 : {false, true}) {
        SCOPED_TRACE(utf8 ? "UTF-8" : "code page 936");
        QByteArray file = utf8 ? QByteArray("\xEF\xBB\xBF") : QByteArray();
        QStringList stored;
        int seq = 0;
        for (const auto& c : cases) {
            // Code page 936 holds no emoji.
            if (!utf8 && c.n.contains(QStringLiteral("😀")))
                continue;
            const QString line = QStringLiteral("%1\t%2\t%3\r\n").arg(++seq).arg(c.n, c.v);
            file += utf8 ? line.toUtf8() : cp936::encode(line);
            if (c.stored)
                stored << QStringLiteral("%1|%2|%3").arg(seq).arg(c.n, c.v);
        }
        BulkLoadResult counts;
        Connection cn;
        ASSERT_TRUE(open(cn, QStringLiteral("Crm")));
        ASSERT_TRUE(cn.Execute(QStringLiteral("DELETE FROM tblText")));
        ASSERT_TRUE(load(QStringLiteral("tblText"), file, counts)) << str(m_admin->lastError().description);
        EXPECT_EQ(column(cn, QStringLiteral("SELECT Seq || '|' || N || '|' || V FROM tblText ORDER BY Seq")),
                  stored);
        EXPECT_EQ(counts.rowsCopied, stored.size());
        EXPECT_EQ(counts.rowsRejected, seq - stored.size());
    }
}

// A rejected row that cannot be written to the error file (a full disk)
// would be lost without a trace: the load fails and keeps nothing of the
// file, as any other failed load. With nothing to reject, the full device
// is never written and the load succeeds.
TEST_F(EmbeddedAdmin, BulkLoadFailsWhenItsRejectedRowsCannotBeWritten)
{
    makeContacts();
    writeFile(m_dir.filePath(QStringLiteral("tblContact.dat")),
              "1\tone\t1\tx\r\nbad\ttwo\t2\ty\r\n3\tthree\t3\tz\r\n");
    BulkLoadResult counts;
    EXPECT_FALSE(m_admin->bulkLoad(
        QStringLiteral("Crm"), QStringLiteral("tblContact"), m_dir.filePath(QStringLiteral("tblContact.dat")),
        m_dir.filePath(QStringLiteral("tblContact.log")), QStringLiteral("/dev/full"), &counts));
    EXPECT_TRUE(m_admin->lastError().description.contains(QLatin1String("/dev/full")))
        << str(m_admin->lastError().description);
    EXPECT_EQ(counts.rowsCopied, 0);
    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("Crm")));
    EXPECT_EQ(column(cn, QStringLiteral("SELECT count(*) FROM tblContact")), QStringList({"0"}));
    const QString log = cp936::decode(readFile(m_dir.filePath(QStringLiteral("tblContact.log"))));
    EXPECT_TRUE(log.contains(QLatin1String("Failed:"))) << str(log);

    writeFile(m_dir.filePath(QStringLiteral("tblContact.dat")), "1\tone\t1\tx\r\n");
    EXPECT_TRUE(m_admin->bulkLoad(
        QStringLiteral("Crm"), QStringLiteral("tblContact"), m_dir.filePath(QStringLiteral("tblContact.dat")),
        m_dir.filePath(QStringLiteral("tblContact.log")), QStringLiteral("/dev/full"), &counts))
        << str(m_admin->lastError().description);
    EXPECT_EQ(column(cn, QStringLiteral("SELECT count(*) FROM tblContact")), QStringList({"1"}));
}

TEST_F(EmbeddedAdmin, BulkLoadIntoAMissingTableFailsAndSaysSoInTheLog)
{
    makeContacts();
    BulkLoadResult counts;
    EXPECT_FALSE(load(QStringLiteral("tblNothing"), "1\t2\r\n", counts));
    EXPECT_EQ(m_admin->lastError().number, 208);
    const QString log = cp936::decode(readFile(m_dir.filePath(QStringLiteral("tblNothing.log"))));
    EXPECT_TRUE(log.contains(QStringLiteral("对象名 tblNothing 无效"))) << str(log);
}

TEST_F(EmbeddedAdmin, BackupCarriesItsFileListAndHeader)
{
    makeContacts();
    Clock::setFixed(QDateTime(QDate(2026, 12, 4), QTime(15, 33, 0)));
    const QString backup = m_dir.filePath(QStringLiteral("Crm-202612041533.dat"));
    ASSERT_TRUE(m_admin->backupDatabase(QStringLiteral("\"crm\""), backup))
        << str(m_admin->lastError().description);
    EXPECT_FALSE(QFileInfo::exists(backup + QStringLiteral(".part")));

    QList<BackupFileInfo> files;
    ASSERT_TRUE(m_admin->readBackupFileList(backup, files)) << str(m_admin->lastError().description);
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(files[0].logicalName, QStringLiteral("Crm"));
    EXPECT_EQ(files[0].physicalName, QFileInfo(m_folder + QStringLiteral("/Crm.sqlite")).absoluteFilePath());
    EXPECT_EQ(files[0].type, QStringLiteral("D"));

    BackupHeader header;
    ASSERT_TRUE(m_admin->readBackupHeader(backup, header));
    EXPECT_EQ(header.databaseName, QStringLiteral("Crm"));
    EXPECT_EQ(header.backupFinishDate, QDateTime(QDate(2026, 12, 4), QTime(15, 33, 0)));

    const struct
    {
        const char* database;
        QString path;
        qint32 number;
    } failures[] = {
        {"nosuch", m_dir.filePath(QStringLiteral("x.dat")), 4060}, // as its login fails
        {"Crm", m_dir.filePath(QStringLiteral("missing/x.dat")), 3201},
        {"tempdb", m_dir.filePath(QStringLiteral("x.dat")), 3147},
    };
    for (const auto& f : failures) {
        EXPECT_FALSE(m_admin->backupDatabase(QLatin1String(f.database), f.path)) << f.database;
        EXPECT_EQ(m_admin->lastError().number, f.number) << f.database;
    }

    // A file that is no backup.
    writeFile(m_dir.filePath(QStringLiteral("plain.txt")), "not a backup");
    EXPECT_FALSE(m_admin->readBackupFileList(m_dir.filePath(QStringLiteral("plain.txt")), files));
    EXPECT_EQ(m_admin->lastError().number, 3241);
    EXPECT_FALSE(m_admin->readBackupHeader(m_dir.filePath(QStringLiteral("none.dat")), header));
    EXPECT_EQ(m_admin->lastError().number, 3201);
}

TEST_F(EmbeddedAdmin, RestoreMovesTheFileAndOverwritesOnlyWhenForced)
{
    makeContacts();
    {
        Connection crm;
        ASSERT_TRUE(open(crm, QStringLiteral("Crm")));
        ASSERT_TRUE(crm.Execute(QStringLiteral("INSERT INTO tblContact VALUES (1, 'kept', 1, NULL)")));
    }
    const QString backup = m_dir.filePath(QStringLiteral("crm.dat"));
    ASSERT_TRUE(m_admin->backupDatabase(QStringLiteral("Crm"), backup));
    {
        Connection crm;
        ASSERT_TRUE(open(crm, QStringLiteral("Crm")));
        ASSERT_TRUE(crm.Execute(QStringLiteral("UPDATE tblContact SET Name = 'changed'; "
                                               "INSERT INTO tblContact VALUES (2, 'new', 2, NULL)")));
    }

    // Over the existing database: refused without the replace flag.
    EXPECT_FALSE(m_admin->restoreDatabase(QStringLiteral("crm"), backup, {}, false));
    EXPECT_EQ(m_admin->lastError().number, 3154);
    ASSERT_TRUE(m_admin->restoreDatabase(QStringLiteral("crm"), backup, {}, true))
        << str(m_admin->lastError().description);

    // As a new database with its file moved to that database's place.
    const QString copyFile = m_folder + QStringLiteral("/CrmCopy.sqlite");
    ASSERT_TRUE(m_admin->restoreDatabase(QStringLiteral("CrmCopy"), backup,
                                         {{QStringLiteral("crm"), copyFile}}, false))
        << str(m_admin->lastError().description);

    for (const char* db : {"Crm", "CrmCopy"}) {
        Connection check;
        ASSERT_TRUE(open(check, QLatin1String(db)));
        EXPECT_EQ(column(check, QStringLiteral("SELECT ID || Name FROM tblContact ORDER BY ID")),
                  QStringList({QStringLiteral("1kept")}))
            << db;
        // The backup's own description does not come back with the data.
        EXPECT_EQ(column(check, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = '") +
                                    SqliteAdmin::backupSetTable() + QLatin1Char('\'')),
                  QStringList({QStringLiteral("0")}));
    }
    QStringList names;
    ASSERT_TRUE(m_admin->listDatabases(names));
    EXPECT_EQ(names, QStringList({QStringLiteral("Crm"), QStringLiteral("CrmCopy")}));

    // Targets that are not the database's own file, and unknown logical names.
    const struct
    {
        const char* database;
        QList<QPair<QString, QString>> moves;
        qint32 number;
    } refused[] = {
        {"Other", {}, 3156}, // the recorded place belongs to Crm
        {"Other", {{QStringLiteral("Crm"), m_dir.filePath(QStringLiteral("Other.sqlite"))}}, 3156},
        {"Other", {{QStringLiteral("NoSuchFile"), m_folder + QStringLiteral("/Other.sqlite")}}, 3234},
        {"tempdb", {}, 3147},
        {"a/b", {}, DataErr::InvalidArgument},
    };
    for (const auto& r : refused) {
        EXPECT_FALSE(m_admin->restoreDatabase(QLatin1String(r.database), backup, r.moves, true))
            << r.database;
        EXPECT_EQ(m_admin->lastError().number, r.number) << r.database;
    }
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(QStringLiteral("Other.sqlite"))));
    EXPECT_FALSE(QFileInfo::exists(m_folder + QStringLiteral("/Other.sqlite")));
}

TEST_F(EmbeddedAdmin, RestoreOverADatabaseInUseIsRefused)
{
    makeContacts();
    const QString backup = m_dir.filePath(QStringLiteral("crm.dat"));
    ASSERT_TRUE(m_admin->backupDatabase(QStringLiteral("Crm"), backup));
    Connection user;
    ASSERT_TRUE(open(user, QStringLiteral("Crm")));
    ASSERT_TRUE(user.BeginTrans());
    ASSERT_TRUE(user.Execute(QStringLiteral("INSERT INTO tblContact VALUES (9, 'busy', 1, NULL)")));

    EXPECT_FALSE(m_admin->restoreDatabase(QStringLiteral("Crm"), backup, {}, true));
    EXPECT_EQ(m_admin->lastError().number, 3101);
    ASSERT_TRUE(user.CommitTrans());
    EXPECT_EQ(column(user, QStringLiteral("SELECT Name FROM tblContact")),
              QStringList({QStringLiteral("busy")}));
}

// A name already taken by a link to a file that is not there is taken: a
// backup without the replace option and a restore to a new database neither
// write through the link nor replace it.
TEST_F(EmbeddedAdmin, NamesTakenByALinkToNothingAreNotWrittenThrough)
{
    makeContacts();
    const QString backup = m_dir.filePath(QStringLiteral("crm.dat"));
    ASSERT_TRUE(m_admin->backupDatabase(QStringLiteral("Crm"), backup));

    const QString nowhere = m_dir.filePath(QStringLiteral("nowhere.dat"));
    const struct
    {
        const char* what;
        QString link;
        std::function<bool()> run;
        qint32 number;
    } cases[] = {
        {"backup", m_dir.filePath(QStringLiteral("link.dat")),
         [&] {
             return m_admin->backupDatabase(QStringLiteral("Crm"),
                                            m_dir.filePath(QStringLiteral("link.dat")));
         },
         3201},
        {"restore to a new database", m_folder + QStringLiteral("/Linked.sqlite"),
         [&] {
             return m_admin->restoreDatabase(
                 QStringLiteral("Linked"), backup,
                 {{QStringLiteral("Crm"), m_folder + QStringLiteral("/Linked.sqlite")}}, false);
         },
         1801},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(QFile::link(nowhere, c.link));
        EXPECT_FALSE(c.run());
        EXPECT_EQ(m_admin->lastError().number, c.number);
        EXPECT_TRUE(m_admin->lastError().description.contains(QStringLiteral("已经存在")))
            << str(m_admin->lastError().description);
        EXPECT_FALSE(QFileInfo::exists(nowhere));
        EXPECT_EQ(QFileInfo(c.link).symLinkTarget(), nowhere);
        EXPECT_EQ(QDir(QFileInfo(c.link).absolutePath())
                      .entryList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden),
                  QStringList());
        ASSERT_TRUE(QFile::remove(c.link));
        QFile::remove(nowhere);
    }
}

// A file whose description is no table (a view of that name) is no backup:
// a restore refuses it before it replaces anything, instead of replacing the
// database and then failing to remove the description.
TEST_F(EmbeddedAdmin, ABackupWhoseDescriptionIsNoTableIsRefused)
{
    makeContacts();
    {
        Connection crm;
        ASSERT_TRUE(open(crm, QStringLiteral("Crm")));
        ASSERT_TRUE(crm.Execute(QStringLiteral("INSERT INTO tblContact VALUES (1, 'kept', 1, NULL)")));
    }
    const QString crafted = m_dir.filePath(QStringLiteral("crafted.dat"));
    ASSERT_TRUE(m_admin->backupDatabase(QStringLiteral("Crm"), crafted));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(crafted).constData(), &db), SQLITE_OK);
    const QByteArray sql =
        "UPDATE tblContact SET Name = 'crafted'; CREATE TABLE described AS SELECT * FROM " +
        SqliteAdmin::backupSetTable().toUtf8() + "; DROP TABLE " + SqliteAdmin::backupSetTable().toUtf8() +
        "; CREATE VIEW " + SqliteAdmin::backupSetTable().toUtf8() + " AS SELECT * FROM described";
    EXPECT_EQ(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    EXPECT_FALSE(m_admin->restoreDatabase(QStringLiteral("Crm"), crafted, {}, true));
    EXPECT_EQ(m_admin->lastError().number, 3241) << str(m_admin->lastError().description);
    Connection check;
    ASSERT_TRUE(open(check, QStringLiteral("Crm")));
    EXPECT_EQ(column(check, QStringLiteral("SELECT Name FROM tblContact")),
              QStringList({QStringLiteral("kept")}));
}

TEST_F(EmbeddedAdmin, FolderListingGivesFoldersFirstThenFilesByName)
{
    const QString root = m_dir.filePath(QStringLiteral("browse"));
    for (const char* sub : {"b", "A", "c.dir"})
        ASSERT_TRUE(QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub)));
    for (const char* file : {"z.txt", "C.dat", ".hidden", "a b.bak"})
        writeFile(root + QLatin1Char('/') + QLatin1String(file), "x");

    Connection cn;
    openTempdb(cn);
    QList<FolderEntry> entries;
    ASSERT_TRUE(m_admin->listFolder(cn, root + QLatin1Char('/'), entries))
        << str(m_admin->lastError().description);
    QStringList shown;
    for (const FolderEntry& e : entries)
        shown << (e.isFolder ? QStringLiteral("[%1]") : QStringLiteral("%1")).arg(e.name);
    EXPECT_EQ(shown, QStringList({QStringLiteral("[A]"), QStringLiteral("[b]"), QStringLiteral("[c.dir]"),
                                  QStringLiteral(".hidden"), QStringLiteral("a b.bak"),
                                  QStringLiteral("C.dat"), QStringLiteral("z.txt")}));

    EXPECT_FALSE(m_admin->listFolder(cn, root + QStringLiteral("/missing/"), entries));
    EXPECT_EQ(m_admin->lastError().number, 3);
    EXPECT_EQ(m_admin->pathStyle(cn), PathStyle::Posix);
}

TEST_F(EmbeddedAdmin, ServerSideOperationsNeedAConnectionToTheSameKindOfServer)
{
    Connection closed;
    QList<FolderEntry> entries;
    EXPECT_FALSE(m_admin->listFolder(closed, m_folder, entries));
    EXPECT_EQ(m_admin->lastError().number, DataErr::InvalidConnection);
}

// A server folder that does not exist is a server that cannot be reached:
// the probe says so, as every other call does, and makes no folder.
TEST_F(EmbeddedAdmin, ProbeFindsNoServerWithoutItsFolder)
{
    auto admin = ServerAdmin::create(QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("new/server")),
                                     false, QStringLiteral("sa"), QStringLiteral("pw"));
    QStringList names;
    EXPECT_FALSE(admin->listDatabases(names));
    EXPECT_EQ(admin->lastError().number, 17);
    EXPECT_FALSE(admin->probe());
    EXPECT_EQ(admin->lastError().number, 17);
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(QStringLiteral("new"))));
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath(QStringLiteral("new/server"))));
    EXPECT_TRUE(admin->probe());
    EXPECT_TRUE(admin->listDatabases(names));
    EXPECT_TRUE(names.isEmpty());
}

// The backup and restore operations reach the server by themselves: one
// whose folder is gone says so, as a connection to it would, before it
// looks at anything else, and makes no folder.
TEST_F(EmbeddedAdmin, BackupAndRestoreFindNoServerWithoutItsFolder)
{
    auto admin = ServerAdmin::create(QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("new/server")),
                                     false, QString(), QString());
    const QString file = m_dir.filePath(QStringLiteral("crm.dat"));
    writeFile(file, "not a backup");
    bool exists = false;
    QList<BackupFileInfo> files;
    BackupHeader header;
    QList<BackupHeader> sets;
    const struct
    {
        const char* what;
        std::function<bool()> run;
    } operations[] = {
        {"backup", [&] { return admin->backupDatabase(QStringLiteral("Crm"), file, true); }},
        {"backup of Tempdb", [&] { return admin->backupDatabase(QStringLiteral("Tempdb"), file, true); }},
        {"file check", [&] { return admin->backupFileExists(file, exists); }},
        {"file list", [&] { return admin->readBackupFileList(file, files); }},
        {"file list of set 2", [&] { return admin->readBackupFileList(file, files, 2); }},
        {"header", [&] { return admin->readBackupHeader(file, header); }},
        {"sets", [&] { return admin->readBackupSets(file, sets); }},
        {"restore", [&] { return admin->restoreDatabase(QStringLiteral("Crm"), file, {}, true); }},
        {"restore of set 2",
         [&] { return admin->restoreDatabase(QStringLiteral("Crm"), file, {}, true, 2); }},
    };
    for (const auto& o : operations) {
        SCOPED_TRACE(o.what);
        EXPECT_FALSE(o.run());
        EXPECT_EQ(admin->lastError().number, 17) << str(admin->lastError().description);
        EXPECT_TRUE(admin->lastError().description.contains(m_dir.filePath(QStringLiteral("new/server"))))
            << str(admin->lastError().description);
    }
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(QStringLiteral("new"))));
}

// A backup of a database that is not there fails as a connection to it
// would, with the number and the words the backup window shows.
TEST_F(EmbeddedAdmin, ABackupOfADatabaseThatIsNotThereFailsAsItsLoginWould)
{
    const QString file = m_dir.filePath(QStringLiteral("x.dat"));
    EXPECT_FALSE(m_admin->backupDatabase(QStringLiteral("nosuch"), file));
    Connection cn;
    EXPECT_FALSE(open(cn, QStringLiteral("nosuch")));
    EXPECT_EQ(m_admin->lastError().number, cn.lastError().number);
    EXPECT_EQ(m_admin->lastError().description, cn.lastError().description);
    EXPECT_FALSE(QFileInfo::exists(file));
}

// What the engine refuses it says in Chinese, naming the box or the option
// the user can change, with the server's number kept for the error record.
TEST_F(EmbeddedAdmin, RefusalsSayInChineseWhatToChange)
{
    makeContacts();
    const QString backup = m_dir.filePath(QStringLiteral("crm.dat"));
    ASSERT_TRUE(m_admin->backupDatabase(QStringLiteral("Crm"), backup));
    const QString noFolder = m_dir.filePath(QStringLiteral("nosuch/crm.dat"));
    const QString missingServer = m_dir.filePath(QStringLiteral("nosuch"));
    auto lost = ServerAdmin::create(QStringLiteral("sqlite:") + missingServer, true, QString(), QString());
    const struct
    {
        const char* name;
        std::function<bool()> call;
        ServerAdmin* admin;
        qint32 number;
        QString text;
    } cases[] = {
        {"empty backup path", [&] { return m_admin->backupDatabase(QStringLiteral("Crm"), QString()); },
         m_admin.get(), 3201,
         QStringLiteral("没有指定备份文件：请输入备份文件在服务器上的完整路径和文件名。")},
        {"backup into a missing folder",
         [&] { return m_admin->backupDatabase(QStringLiteral("Crm"), noFolder); }, m_admin.get(), 3201,
         QStringLiteral(
             "无法打开备份文件 %1：操作系统错误 3（找不到指定的路径），请检查备份文件名及其文件夹。")
             .arg(noFolder)},
        {"backup over a file", [&] { return m_admin->backupDatabase(QStringLiteral("Crm"), backup); },
         m_admin.get(), 3201,
         QStringLiteral("备份文件 %1 已经存在：只有确认覆盖后，备份才会替换已有的文件。").arg(backup)},
        {"restore over a database",
         [&] { return m_admin->restoreDatabase(QStringLiteral("Crm"), backup, {}, false); }, m_admin.get(),
         3154,
         QStringLiteral("数据库 Crm 已经存在：只有选中“在现有数据库上强制还原”，才能还原到现有的数据库上。")},
        {"a path in a name", [&] { return m_admin->createDatabase(QStringLiteral("a/b")); }, m_admin.get(),
         DataErr::InvalidArgument,
         QStringLiteral("数据库名称“a/b”不能使用：名称中含有路径分隔符（/ 或 \\）。")},
        {"a name taken", [&] { return m_admin->createDatabase(QStringLiteral("crm")); }, m_admin.get(), 1801,
         QStringLiteral("数据库 crm 已经存在，请换一个数据库名称。")},
        {"no server folder", [&] { return lost->probe(); }, lost.get(), 17,
         QStringLiteral("内置数据库服务器的文件夹 %1 不存在：请检查“服务器”框中 sqlite: 后面的文件夹。")
             .arg(missingServer)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(c.call());
        EXPECT_EQ(c.admin->lastError().number, c.number);
        EXPECT_EQ(str(c.admin->lastError().description), str(c.text));
    }
}

} // namespace

// What the restore window accepts before its question, the restore does:
// for a new database of any name, the target proposed for it is refused
// beforehand exactly when the restore refuses it, and a refused restore
// leaves no file behind.
TEST_F(EmbeddedAdmin, ARestoreDoesWhatTheTargetCheckAcceptedBeforehand)
{
    makeContacts();
    const QString backup = m_dir.filePath(QStringLiteral("crm.dat"));
    ASSERT_TRUE(m_admin->backupDatabase(QStringLiteral("Crm"), backup));
    QList<BackupFileInfo> files;
    ASSERT_TRUE(m_admin->readBackupFileList(backup, files));
    ASSERT_EQ(files.size(), 1);
    const QString names[] = {
        QStringLiteral("with space"),     QStringLiteral("dots.in.name."),
        QStringLiteral("Ünïcödé 数据库"), QStringLiteral("\"quoted\"\"name\""),
        QStringLiteral("tempdb"),         QStringLiteral("TEMPDB"),
        QString(100, QChar(0x6570)),      QString(80, QChar(0x6570)),
        QString(81, QChar(0x6570)),       QString(240, QLatin1Char('y')),
        QString(241, QLatin1Char('z')),   QStringLiteral("-leading.dash"),
    };
    for (const QString& name : names) {
        SCOPED_TRACE(str(name));
        const QString target = m_admin->proposedTarget(name, files.first());
        const QString refused = m_admin->refusedTarget(name, files.first().logicalName, target);
        const QStringList before = QDir(m_folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
        const bool restored =
            m_admin->restoreDatabase(name, backup, {{files.first().logicalName, target}}, false);
        EXPECT_EQ(refused.isEmpty(), restored)
            << "refused before: " << str(refused) << "; restore: " << str(m_admin->lastError().description);
        if (!restored) {
            EXPECT_EQ(QDir(m_folder).entryList(QDir::Files | QDir::Hidden | QDir::System), before);
        }
    }
}

// Two files whose names differ only in case are two databases on this file
// system: the target of one is never accepted for the other, and neither is
// replaced by a restore that names the other's file.
TEST_F(EmbeddedAdmin, TheFileOfADatabaseNamedInOtherCaseIsNoTarget)
{
    makeContacts();
    const QString backup = m_dir.filePath(QStringLiteral("crm.dat"));
    ASSERT_TRUE(m_admin->backupDatabase(QStringLiteral("Crm"), backup));
    const QString upper = m_folder + QStringLiteral("/CRM2.sqlite");
    const QString lower = m_folder + QStringLiteral("/crm2.sqlite");
    writeFile(upper, "upper");
    writeFile(lower, "lower");

    const QString refused = m_admin->refusedTarget(QStringLiteral("CRM2"), QStringLiteral("Crm"), lower);
    EXPECT_TRUE(refused.contains(upper)) << str(refused);
    EXPECT_FALSE(
        m_admin->restoreDatabase(QStringLiteral("CRM2"), backup, {{QStringLiteral("Crm"), lower}}, true));
    EXPECT_EQ(m_admin->lastError().number, 3156);
    EXPECT_EQ(readFile(upper), QByteArray("upper"));
    EXPECT_EQ(readFile(lower), QByteArray("lower"));
    // Its own file, in the case of its name, is.
    EXPECT_EQ(m_admin->refusedTarget(QStringLiteral("CRM2"), QStringLiteral("Crm"), upper), QString());
}
