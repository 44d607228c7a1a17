// The schema check on the embedded engine: databases made by the shipped
// scripts with a block left out, a column of another type, a customer's own
// table, against the reference the scripts make for their version.

#include "update/SchemaCheck.h"
#include "create/CreateTestSupport.h"
#include "data/Catalog.h"
#include "update/UpdateCheck.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <functional>

namespace {

using mdlOVSqlUpdateDB::SchemaCheckResult;
using mdlOVSqlUpdateDB::SchemaFinding;

QString describe(const SchemaFinding& f)
{
    static const char* const kinds[] = {"missing table",       "missing column", "type differs", "wider type",
                                        "nullability differs", "extra table",    "extra column"};
    QString text = QLatin1String(kinds[int(f.kind)]) + QLatin1Char(' ') + f.table;
    if (!f.column.isEmpty())
        text += QLatin1Char('.') + f.column;
    if (!f.block.isEmpty())
        text += QStringLiteral(" @") + f.block;
    if (!f.found.isEmpty())
        text += QStringLiteral(" ") + f.expected + QStringLiteral("->") + f.found;
    return text;
}

QStringList describe(const QList<SchemaFinding>& findings)
{
    QStringList out;
    for (const SchemaFinding& f : findings)
        out.append(describe(f));
    return out;
}

QStringList describeBlocks(const SchemaCheckResult& r)
{
    QStringList out;
    for (const auto& b : r.incompleteBlocks)
        out.append(QStringLiteral("%1 missing %2%3")
                       .arg(b.block)
                       .arg(b.missing)
                       .arg(b.rerunSafe() ? QStringLiteral(" safe")
                                          : QStringLiteral(" has ") + b.exists.join(QLatin1Char(','))));
    return out;
}

class SchemaCheckTest : public ovtest::CreateFixture
{
protected:
    // The shipped update script with some of its text changed or dropped.
    QString shippedUpdate() const
    {
        return ov::cp936::decode(readFile(QStringLiteral("OVScriptUpdate.txt")));
    }
    static QString withoutBlock(QString script, const QString& start, const QString& version)
    {
        const int from = script.indexOf(start + version + QLatin1Char('>'));
        const QString end = QStringLiteral("--</V:") + version + QStringLiteral(">\r\n");
        const int to = script.indexOf(end, from);
        EXPECT_TRUE(from >= 0 && to > from) << version.toStdString();
        return script.remove(from, to + end.size() - from);
    }
    static QString replaced(QString script, const QString& from, const QString& to)
    {
        EXPECT_TRUE(script.contains(from)) << from.toStdString();
        return script.replace(from, to);
    }
    // A bare database brought up by the update script text given (the
    // runner alone, no check), as an earlier tool or a wedged run left it.
    void makeDatabaseBy(const QString& name, const QString& updateScript)
    {
        makeBareDatabase(name);
        makeDatabaseOn(name, updateScript);
    }
    // Runs the update script text given on the database as it is now.
    void makeDatabaseOn(const QString& name, const QString& updateScript)
    {
        writeFile(QStringLiteral("made-by.txt"), ov::cp936::encode(updateScript));
        ASSERT_TRUE(mdlOVSqlUpdateDB::RunUpdateScript(m_server, name, true, QString(), QString(),
                                                      path(QStringLiteral("made-by.txt")), m_status,
                                                      m_progress))
            << m_ui.texts().join(QLatin1Char('\n')).toStdString();
        QFile::remove(mdlOVSqlUpdateDB::UpdateLogPath());
        m_ui.clear();
    }
    std::unique_ptr<ov::Connection> connect(const QString& name)
    {
        auto cn = std::make_unique<ov::Connection>();
        EXPECT_TRUE(cn->Open(QStringLiteral("Data Source=%1;Initial Catalog=%2").arg(m_server, name)));
        return cn;
    }
    SchemaCheckResult check(const QString& name)
    {
        auto cn = connect(name);
        return mdlOVSqlUpdateDB::CheckSchema(*cn, path(QStringLiteral("OVScriptEmpty.txt")),
                                             path(QStringLiteral("OVScriptUpdate.txt")));
    }
};

TEST(CatalogTypes, DeclaredTypesReadAsFamilyAndSize)
{
    const struct
    {
        const char* declared;
        const char* text;
        qint64 length;
    } cases[] = {
        {"NVARCHAR(50)", "nvarchar(50)", 50},
        {"nvarchar ( 50 )", "nvarchar(50)", 50},
        {"NVARCHAR(MAX)", "nvarchar(max)", -1},
        {"national character varying(20)", "nvarchar(20)", 20},
        {"CHARACTER VARYING(8)", "varchar(8)", 8},
        {"DECIMAL(18, 2)", "decimal(18,2)", 0},
        {"dec(9)", "decimal(9,0)", 0},
        {"INT IDENTITY(1,1)", "int", 0},
        {"INTEGER", "int", 0},
        {"DATETIME", "datetime", 0},
        {"", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.declared);
        ov::CatalogColumn column;
        ov::ParseDeclaredType(QLatin1String(c.declared), column);
        EXPECT_EQ(ov::TypeText(column), QLatin1String(c.text));
        EXPECT_EQ(column.length, c.length);
    }
}

// Each case makes a database its own way; the check finds the gaps with the
// blocks that bring them, which blocks are safe to run again, and what the
// database has beyond the scripts.
TEST_F(SchemaCheckTest, FindsWhatTheVersionLacksWithItsBlock)
{
    const QString full = shippedUpdate();
    const struct
    {
        const char* what;
        QString script;
        std::function<void(const QString&)> after;
        QStringList gaps;
        QStringList blocks;
        QStringList information;
        int exitCode;
    } cases[] = {
        {"complete", full, nullptr, {}, {}, {}, 0},
        {"a block left out",
         withoutBlock(full, QStringLiteral("--<VT:"), QStringLiteral("1.4")),
         nullptr,
         {"missing column tblActivity.DueDate @1.4", "missing column tblActivity.Priority @1.4"},
         {"1.4 missing 2 safe"},
         {},
         1},
        {"a table's block left out",
         withoutBlock(full, QStringLiteral("--<VT:"), QStringLiteral("1.2")),
         nullptr,
         {"missing table tblOpportunity @1.2"},
         {"1.2 missing 1 safe"},
         {},
         1},
        {"half a block",
         replaced(full, QStringLiteral("ALTER TABLE tblCompany ADD [CustomerLevel] INT NULL\r\nGO\r\n"),
                  QString()),
         nullptr,
         {"missing column tblCompany.CustomerLevel @1.1"},
         {"1.1 missing 1 has tblCompany.Province"},
         {},
         1},
        {"a column of another type",
         replaced(full, QStringLiteral("ADD [Province] NVARCHAR(50)"), QStringLiteral("ADD [Province] INT")),
         nullptr,
         {"type differs tblCompany.Province @1.1 nvarchar(50)->int"},
         {},
         {},
         1},
        {"a column too short",
         replaced(full, QStringLiteral("[Email] NVARCHAR(100)"), QStringLiteral("[Email] NVARCHAR(40)")),
         nullptr,
         {"type differs tblUser.Email @1.6 nvarchar(100)->nvarchar(40)"},
         {},
         {},
         1},
        // Names compare without case, as on SQL Server; a customer's table
        // may be named like a keyword.
        {"names in another letter case, tables named like keywords",
         full,
         [this](const QString& db) {
             exec(db, QStringLiteral("ALTER TABLE tblCompany RENAME COLUMN [Province] TO [PROVINCE]"));
             exec(db, QStringLiteral("ALTER TABLE tblUser RENAME TO [tblUser_]"));
             exec(db, QStringLiteral("ALTER TABLE [tblUser_] RENAME TO [TBLUSER]"));
             exec(db, QStringLiteral("CREATE TABLE [select] ([from] INT, [Order] NVARCHAR(5))"));
         },
         {},
         {},
         {"extra table select"},
         0},
        {"a customer's own table, column and wider column",
         replaced(full, QStringLiteral("[Email] NVARCHAR(100)"), QStringLiteral("[Email] NVARCHAR(200)")),
         [this](const QString& db) {
             exec(db, QStringLiteral("CREATE TABLE tblMine ([Id] INT)"));
             exec(db, QStringLiteral("ALTER TABLE tblCompany ADD [MyNote] NVARCHAR(20) NULL"));
         },
         {},
         {},
         {"wider type tblUser.Email @1.6 nvarchar(100)->nvarchar(200)", "extra table tblMine",
          "extra column tblCompany.MyNote ->nvarchar(20)"},
         0},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString db = QStringLiteral("db%1").arg(++n);
        makeDatabaseBy(db, c.script);
        if (c.after)
            c.after(db);
        ASSERT_EQ(version(db), QStringLiteral("1.6"));
        const SchemaCheckResult r = check(db);
        EXPECT_EQ(r.error, QString());
        EXPECT_EQ(r.version, QStringLiteral("1.6"));
        EXPECT_EQ(describe(r.gaps), c.gaps);
        EXPECT_EQ(describeBlocks(r), c.blocks);
        EXPECT_EQ(describe(r.information), c.information);
        EXPECT_EQ(r.exitCode(), c.exitCode);
    }
    // The reference leaves no trail in the update log.
    EXPECT_EQ(logText(), QString());
}

// The reference holds the blocks up to the database's version and no more:
// a database at 1.3 lacks nothing of 1.4, 1.5 or 1.6.
TEST_F(SchemaCheckTest, TheReferenceStopsAtTheDatabasesVersion)
{
    makeDatabaseBy(QStringLiteral("crm"), shippedUpdate());
    exec(QStringLiteral("crm"),
         QStringLiteral("UPDATE tblVarible SET VaribleValue = '1.3' WHERE [Module] = 'DB'"));
    SchemaCheckResult r = check(QStringLiteral("crm"));
    EXPECT_EQ(r.status, SchemaCheckResult::Status::Complete);
    // What 1.4 to 1.6 made is the database's own as far as 1.3 knows.
    EXPECT_TRUE(describe(r.information).contains(QStringLiteral("extra table tblAttachment")));

    makeBareDatabase(QStringLiteral("bare"));
    exec(QStringLiteral("bare"),
         QStringLiteral("UPDATE tblVarible SET VaribleValue = '1.3' WHERE [Module] = 'DB'"));
    r = check(QStringLiteral("bare"));
    EXPECT_EQ(describe(r.gaps),
              QStringList({"missing column tblCompany.Province @1.1",
                           "missing column tblCompany.CustomerLevel @1.1",
                           "missing table tblOpportunity @1.2", "missing table tblContactPhone @1.3"}));
}

// SQL Server's catalog answers with the type's family in DATA_TYPE and its
// sizes in the numbers (INFORMATION_SCHEMA.COLUMNS), where the scripts write
// "NVARCHAR(50)": each row here is such an answer, read as the SQL Server
// engine's query is read, against the column the script makes.
TEST_F(SchemaCheckTest, SqlServersCatalogAnswerComparesByFamilyAndSize)
{
    const struct
    {
        const char* script; // the column as the script makes it
        const char*
            answer; // DATA_TYPE, CHARACTER_MAXIMUM_LENGTH, NUMERIC_PRECISION, NUMERIC_SCALE, IS_NULLABLE
        const char* finding;
    } cases[] = {
        {"NVARCHAR(50) NULL", "'nvarchar', 50, NULL, NULL, 'YES'", ""},
        {"NVARCHAR(50) NULL", "'nvarchar', 40, NULL, NULL, 'YES'",
         "type differs t.c nvarchar(50)->nvarchar(40)"},
        {"NVARCHAR(50) NULL", "'nvarchar', -1, NULL, NULL, 'YES'",
         "wider type t.c nvarchar(50)->nvarchar(max)"},
        {"NVARCHAR(50) NULL", "'varchar', 50, NULL, NULL, 'YES'",
         "type differs t.c nvarchar(50)->varchar(50)"},
        {"NVARCHAR NULL", "'nvarchar', 1, NULL, NULL, 'YES'", ""},
        {"CHAR(2) NULL", "'char', 2, NULL, NULL, 'YES'", ""},
        {"NTEXT NULL", "'ntext', 1073741823, NULL, NULL, 'YES'", ""},
        {"DECIMAL(18, 2) NULL", "'decimal', NULL, 18, 2, 'YES'", ""},
        {"DECIMAL(18, 2) NULL", "'decimal', NULL, 10, 2, 'YES'",
         "type differs t.c decimal(18,2)->decimal(10,2)"},
        {"DECIMAL(18, 2) NULL", "'decimal', NULL, 20, 4, 'YES'",
         "wider type t.c decimal(18,2)->decimal(20,4)"},
        {"INT NOT NULL", "'int', NULL, 10, 0, 'NO'", ""},
        {"INT NULL", "'int', NULL, 10, 0, 'NO'", "nullability differs t.c NULL->NOT NULL"},
        {"INT IDENTITY(1,1) NOT NULL", "'int', NULL, 10, 0, 'NO'", ""},
        {"FLOAT NULL", "'float', NULL, 53, NULL, 'YES'", ""},
        {"DATETIME NULL", "'datetime', NULL, NULL, NULL, 'YES'", ""},
        {"DATETIME NULL", "'datetime2', NULL, NULL, NULL, 'YES'", "type differs t.c datetime->datetime2"},
        {"BIT NULL", "'bit', NULL, NULL, NULL, 'YES'", ""},
    };
    makeBareDatabase(QStringLiteral("crm"));
    auto cn = connect(QStringLiteral("crm"));
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.script) + " / " + c.answer);
        writeFile(
            QStringLiteral("empty.txt"),
            QByteArray("CREATE TABLE tblVarible ([Module] NVARCHAR(50), [VaribleName] NVARCHAR(50), "
                       "[VaribleValue] NVARCHAR(255), [UserID] NVARCHAR(50))\r\nGO\r\nCREATE TABLE t ([c] ") +
                c.script + ")\r\nGO\r\n");
        writeFile(QStringLiteral("update.txt"), QByteArray());
        mdlOVSqlUpdateDB::SchemaReference reference;
        QString error;
        ASSERT_TRUE(mdlOVSqlUpdateDB::BuildSchemaReference(path(QStringLiteral("empty.txt")),
                                                           path(QStringLiteral("update.txt")),
                                                           QStringLiteral("0"), reference, error))
            << error.toStdString();
        QList<ov::CatalogColumn> catalog;
        ov::DataError dataError;
        ASSERT_TRUE(
            ov::ReadCatalog(*cn,
                            QStringLiteral("SELECT 'tblVarible', 'Module', 'nvarchar', 50, NULL, NULL, 'YES' "
                                           "UNION ALL SELECT 'tblVarible', 'VaribleName', 'nvarchar', 50, "
                                           "NULL, NULL, 'YES' UNION ALL SELECT 'tblVarible', "
                                           "'VaribleValue', 'nvarchar', 255, NULL, NULL, 'YES' UNION ALL "
                                           "SELECT 'tblVarible', 'UserID', 'nvarchar', 50, NULL, NULL, "
                                           "'YES' UNION ALL SELECT 't', 'c', ") +
                                QLatin1String(c.answer),
                            catalog, dataError))
            << dataError.description.toStdString();
        const SchemaCheckResult r = mdlOVSqlUpdateDB::CompareSchema(reference, catalog);
        EXPECT_EQ(describe(r.gaps + r.information).join(QLatin1Char(',')), QLatin1String(c.finding));
    }
}

// A statement of the scripts that the in-memory reference cannot run (SQL
// Server's own syntax) leaves out what it makes, so the check cannot tell
// whether the database has that: it never calls the database complete, and
// names the statement and its block. A gap it can see is still a gap.
TEST_F(SchemaCheckTest, StatementsTheReferenceCannotRunAreNamedNotPassedOver)
{
    const QString shipped = shippedUpdate();
    const QString block17 = QStringLiteral(
        "--<V:1.7>\r\nCREATE TABLE tblNote (\r\n    [NoteID] INT NOT NULL,\r\n    [Body] NVARCHAR(MAX) "
        "NULL\r\n)\r\n"
        "GO\r\nUPDATE tblVarible SET [VaribleValue] = '1.7' WHERE [Module] = 'DB'\r\nGO\r\n--</V:1.7>\r\n");
    const struct
    {
        const char* what;
        QString made;  // the script that made the database
        QString check; // the script it is checked against
        SchemaCheckResult::Status status;
        QStringList gaps;
    } cases[] = {
        {"nothing else missing",
         shipped + block17,
         shipped + block17,
         SchemaCheckResult::Status::Partial,
         {}},
        {"a gap besides",
         withoutBlock(shipped, QStringLiteral("--<VT:"), QStringLiteral("1.4")) + block17,
         shipped + block17,
         SchemaCheckResult::Status::Gaps,
         {"missing column tblActivity.DueDate @1.4", "missing column tblActivity.Priority @1.4"}},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString db = QStringLiteral("db%1").arg(++n);
        makeDatabaseBy(db, c.made);
        ASSERT_EQ(version(db), QStringLiteral("1.7"));
        writeFile(QStringLiteral("OVScriptUpdate.txt"), ov::cp936::encode(c.check));
        const SchemaCheckResult r = check(db);
        EXPECT_EQ(r.status, c.status) << r.error.toStdString();
        EXPECT_NE(r.exitCode(), 0);
        EXPECT_EQ(describe(r.gaps), c.gaps);
        const QString report = mdlOVSqlUpdateDB::SchemaReportText(r);
        EXPECT_TRUE(report.contains(QStringLiteral("版本块 1.7：CREATE TABLE tblNote (")))
            << report.toStdString();
        EXPECT_FALSE(report.contains(QStringLiteral("的全部表和列"))) << report.toStdString();
        const QJsonObject json = QJsonDocument::fromJson(mdlOVSqlUpdateDB::SchemaReportJson(r)).object();
        const QJsonArray notRun = json.value(QStringLiteral("notRun")).toArray();
        ASSERT_EQ(notRun.size(), 1);
        EXPECT_EQ(notRun[0].toObject().value(QStringLiteral("block")).toString(), QStringLiteral("1.7"));
        EXPECT_TRUE(notRun[0]
                        .toObject()
                        .value(QStringLiteral("statement"))
                        .toString()
                        .startsWith(QStringLiteral("CREATE TABLE tblNote (\r\n")));
    }
    // Every statement of the shipped scripts runs in memory.
    writeFile(QStringLiteral("OVScriptUpdate.txt"), ov::cp936::encode(shipped));
    makeDatabaseBy(QStringLiteral("shipped"), shipped);
    const SchemaCheckResult r = check(QStringLiteral("shipped"));
    EXPECT_EQ(r.status, SchemaCheckResult::Status::Complete);
    EXPECT_TRUE(r.notRun.isEmpty());
}

// Statements that only SQL Server accepts, and one that touches a table of
// the customer's, in a transactional block: the in-memory reference cannot
// run them, so each is named as not checkable, and what it makes, renames or
// touches is neither called missing nor taken for the customer's own; the
// rest of the block is still compared, and a gap there is still a gap.
TEST_F(SchemaCheckTest, StatementsOnlySqlServerAcceptsAreNotCheckable)
{
    const QString shipped = shippedUpdate();
    // A column the block adds, and a statement that fills it from the
    // customer's table: the reference cannot run that one, but it changes
    // rows only, so the column is still checked.
    const QString place =
        QStringLiteral("ALTER TABLE tblActivity ADD [Place] NVARCHAR(100) NULL\r\nGO\r\n"
                       "UPDATE tblActivity SET [Place] = (SELECT [Name] FROM cust WHERE [Id] = 1)\r\nGO\r\n");
    const QString tsql =
        QStringLiteral(
            "--<VT:1.7>\r\n"
            "ALTER TABLE tblCompany ADD [Country] NVARCHAR(50) NULL\r\nGO\r\n"
            "EXEC sp_rename 'tblCompany.Province', 'Region', 'COLUMN'\r\nGO\r\n"
            "IF NOT EXISTS (SELECT * FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_NAME = 'tblTag')\r\n"
            "BEGIN\r\n    CREATE TABLE tblTag ([TagID] INT NOT NULL, [Name] NVARCHAR(50) "
            "NULL)\r\nEND\r\nGO\r\n"
            "ALTER TABLE tblUser ADD CONSTRAINT CK_tblUser_Email CHECK ([Email] <> '')\r\nGO\r\n"
            "ALTER TABLE tblOpportunity ADD [Weighted] AS ([Amount] * [Probability] / 100) "
            "PERSISTED\r\nGO\r\n"
            "CREATE INDEX IX_cust_Name ON cust ([Name])\r\nGO\r\n%1"
            "UPDATE tblVarible SET [VaribleValue] = '1.7' WHERE [Module] = 'DB' AND [VaribleName] = "
            "'Version'\r\n"
            "GO\r\n--</V:1.7>\r\n")
            .arg(place);
    // What SQL Server's run of that block leaves, made on the embedded engine.
    const QString asRun =
        QStringLiteral("--<VT:1.7>\r\n"
                       "ALTER TABLE tblCompany ADD [Country] NVARCHAR(50) NULL\r\nGO\r\n"
                       "ALTER TABLE tblCompany RENAME COLUMN [Province] TO [Region]\r\nGO\r\n"
                       "CREATE TABLE tblTag ([TagID] INT NOT NULL, [Name] NVARCHAR(50) NULL)\r\nGO\r\n"
                       "ALTER TABLE tblOpportunity ADD [Weighted] DECIMAL(18, 2) NULL\r\nGO\r\n"
                       "CREATE INDEX IX_cust_Name ON cust ([Name])\r\nGO\r\n%1"
                       "UPDATE tblVarible SET [VaribleValue] = '1.7' WHERE [Module] = 'DB' AND [VaribleName] "
                       "= 'Version'\r\n"
                       "GO\r\n--</V:1.7>\r\n")
            .arg(place);
    const QStringList notChecked = {"missing column tblCompany.Province @1.1", "extra table cust",
                                    "extra table tblTag", "extra column tblCompany.Region ->nvarchar(50)",
                                    "extra column tblOpportunity.Weighted ->decimal(18,2)"};
    const struct
    {
        const char* what;
        QString made;
        SchemaCheckResult::Status status;
        QStringList gaps;
    } cases[] = {
        {"as SQL Server left it", asRun, SchemaCheckResult::Status::Partial, {}},
        {"a column the block adds dropped by hand",
         replaced(asRun, place, QString()),
         SchemaCheckResult::Status::Gaps,
         {"missing column tblActivity.Place @1.7"}},
    };
    writeFile(QStringLiteral("OVScriptUpdate.txt"), ov::cp936::encode(shipped + tsql));
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString db = QStringLiteral("db%1").arg(++n);
        makeBareDatabase(db);
        exec(db, QStringLiteral("CREATE TABLE cust ([Id] INT, [Name] NVARCHAR(50))"));
        makeDatabaseOn(db, shipped + c.made);
        ASSERT_EQ(version(db), QStringLiteral("1.7"));
        const SchemaCheckResult r = check(db);
        EXPECT_EQ(r.status, c.status) << r.error.toStdString();
        EXPECT_EQ(describe(r.gaps), c.gaps);
        EXPECT_EQ(describe(r.information), QStringList());
        QStringList held = describe(r.notChecked);
        held.sort();
        QStringList expected = notChecked;
        expected.sort();
        EXPECT_EQ(held, expected);
        QStringList unrun;
        for (const auto& u : r.notRun)
            unrun.append(u.block + QLatin1Char(' ') + u.batch.section(QLatin1Char(' '), 0, 1));
        EXPECT_EQ(unrun, QStringList({"1.7 EXEC sp_rename", "1.7 IF NOT", "1.7 ALTER TABLE",
                                      "1.7 ALTER TABLE", "1.7 CREATE INDEX", "1.7 UPDATE tblActivity"}));
        const QString report = mdlOVSqlUpdateDB::SchemaReportText(r);
        for (const char* named : {"版本块 1.7：EXEC sp_rename 'tblCompany.Province', 'Region', 'COLUMN'",
                                  "版本块 1.7：CREATE INDEX IX_cust_Name ON cust ([Name])",
                                  "对象名 main.cust 无效：数据库中没有这个表。"})
            EXPECT_TRUE(report.contains(QString::fromUtf8(named))) << named << "\n" << report.toStdString();
    }
}

// The version the database claims, as the runner reads it, decides what it
// is checked against. One the scripts do not reach (later than their last
// block, or no number, which the runner orders after every block) is never
// called complete: what the scripts know of it is checked, and a gap there
// is still a gap.
TEST_F(SchemaCheckTest, AVersionTheScriptsDoNotReachIsNeverCalledComplete)
{
    using Status = SchemaCheckResult::Status;
    makeDatabaseBy(QStringLiteral("full"), shippedUpdate());
    makeDatabaseBy(QStringLiteral("gap"),
                   withoutBlock(shippedUpdate(), QStringLiteral("--<VT:"), QStringLiteral("1.4")));
    const struct
    {
        const char* database;
        const char* value; // SQL for the "DB"/"Version" value
        Status status;
        int exitCode;
        int gaps;
        bool beyond; // the report says the scripts end before the version
    } cases[] = {
        {"full", "'9.0'", Status::Partial, 2, 0, true},
        {"full", "'10.0'", Status::Partial, 2, 0, true},
        {"full", "'abc'", Status::Partial, 2, 0, true},
        {"full", "'1.6'' OR 1=1'", Status::Partial, 2, 0, true},
        {"gap", "'9.0'", Status::Gaps, 1, 2, true},
        {"gap", "'1.6'", Status::Gaps, 1, 2, false},
        {"full", "'1.6'", Status::Complete, 0, 0, false},
        {"full", "' 1.6 '", Status::Complete, 0, 0, false},
        {"full", "'1.35'", Status::Complete, 0, 0, false},
        {"full", "'0.5'", Status::Complete, 0, 0, false},
        {"full", "'0'", Status::Complete, 0, 0, false},
        {"full", "NULL", Status::NoVersion, 2, 0, false},
        {"full", "''", Status::NoVersion, 2, 0, false},
        {"full", "'   '", Status::NoVersion, 2, 0, false},
        {"full", "'NONE'", Status::NoVersion, 2, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.database) + " at " + c.value);
        const QString db = QLatin1String(c.database);
        exec(db, QStringLiteral("UPDATE tblVarible SET VaribleValue = %1 WHERE [Module] = 'DB'")
                     .arg(QLatin1String(c.value)));
        const SchemaCheckResult r = check(db);
        EXPECT_EQ(r.status, c.status) << r.error.toStdString();
        EXPECT_EQ(r.exitCode(), c.exitCode);
        EXPECT_EQ(r.gaps.size(), c.gaps);
        const QString report = mdlOVSqlUpdateDB::SchemaReportText(r);
        EXPECT_EQ(report.contains(QStringLiteral("高于升级脚本的最后一个版本块（1.6）")), c.beyond)
            << report.toStdString();
        EXPECT_EQ(report.contains(QStringLiteral("的全部表和列")), c.status == Status::Complete)
            << report.toStdString();
        // A row whose value is empty is not a missing row.
        if (c.status == Status::NoVersion) {
            EXPECT_TRUE(r.error.contains(QStringLiteral("为空或 NONE"))) << r.error.toStdString();
        }
    }
}

// No version, or a script that cannot be read: the check cannot run.
TEST_F(SchemaCheckTest, ACheckThatCannotRunSaysWhy)
{
    makeBareDatabase(QStringLiteral("crm"));
    exec(QStringLiteral("crm"), QStringLiteral("DELETE FROM tblVarible"));
    SchemaCheckResult r = check(QStringLiteral("crm"));
    EXPECT_EQ(r.status, SchemaCheckResult::Status::NoVersion);
    EXPECT_EQ(r.exitCode(), 2);

    exec(QStringLiteral("crm"), QStringLiteral("INSERT INTO tblVarible VALUES ('DB', 'Version', '1.6', '')"));
    ASSERT_TRUE(QFile::remove(path(QStringLiteral("OVScriptEmpty.txt"))));
    r = check(QStringLiteral("crm"));
    EXPECT_EQ(r.status, SchemaCheckResult::Status::Failed);
    EXPECT_TRUE(r.error.contains(QStringLiteral("OVScriptEmpty.txt"))) << r.error.toStdString();
    EXPECT_EQ(r.exitCode(), 2);
}

// Through the ODBC layer with the SQLite 3 driver: the same findings as on
// the embedded engine.
TEST_F(SchemaCheckTest, ChecksThroughTheOdbcLayer)
{
    makeDatabaseBy(QStringLiteral("crm"),
                   withoutBlock(shippedUpdate(), QStringLiteral("--<VT:"), QStringLiteral("1.4")));
    ov::Connection cn;
    ASSERT_TRUE(cn.Open(QStringLiteral("Driver=SQLite3;Database=") + path(QStringLiteral("data/crm.sqlite"))))
        << cn.lastError().description.toStdString();
    ASSERT_EQ(cn.engine(), QStringLiteral("odbc"));
    const SchemaCheckResult r = mdlOVSqlUpdateDB::CheckSchema(cn, path(QStringLiteral("OVScriptEmpty.txt")),
                                                              path(QStringLiteral("OVScriptUpdate.txt")));
    EXPECT_EQ(r.error, QString());
    EXPECT_EQ(describe(r.gaps), QStringList({"missing column tblActivity.DueDate @1.4",
                                             "missing column tblActivity.Priority @1.4"}));
    EXPECT_EQ(describe(r.information), QStringList());
}

} // namespace
