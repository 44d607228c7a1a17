#include "ConvertTestSupport.h"

#include "common/clsError.h"
#include "config/mdlOVSqlServerAccess.h"
#include "convert/TableTransfer.h"
#include "data/odbc/OdbcAppender.h"

#include <QFile>
#include <QRegularExpression>

using jet::ColumnType;
using ovtest::CdbTable;

namespace {

class TableTransfer : public ovtest::ConvertTest
{
protected:
    // Runs the transfer from file into the server database; the list gets
    // its unused entry 0 here. The transfer's result: true when nothing
    // failed on the way.
    bool transfer(const QString& file, ov::Connection* server, const QStringList& tables)
    {
        auto cnFile = mdlOVSqlServer::ConnectToDBAccess(file);
        EXPECT_TRUE(cnFile);
        if (!cnFile)
            return false;
        m_ui.clear();
        return mdlOVSqlUpdateDB::TransferDataFormCnToCn(cnFile.get(), server, QStringList{QString()} + tables,
                                                        m_status, m_progress);
    }
    // The update log's lines about failures.
    static QStringList errorLines()
    {
        return updateLog().split(QStringLiteral("\r\n")).filter(QStringLiteral("!!! TransferDataFormCnToCn"));
    }

    ovtest::RecordingStatus m_status;
    ovtest::RecordingProgress m_progress;
};

const QString kDone = QStringLiteral("单机版数据库升级为网络版数据库完成！");

} // namespace

// Every kind of value arrives as the file holds it; a column only the file
// has is left out without a word; blank list entries are passed over.
TEST_F(TableTransfer, CopiesEveryValueExactly)
{
    const QString file =
        writeCdb(QStringLiteral("full.cdb"),
                 {{QStringLiteral("tblCompany"),
                   {{QStringLiteral("CompanyID"), ColumnType::Long},
                    {QStringLiteral("CompanyName"), ColumnType::Text, 100},
                    {QStringLiteral("Amount"), ColumnType::Currency},
                    {QStringLiteral("Rate"), ColumnType::Double},
                    {QStringLiteral("Founded"), ColumnType::DateTime},
                    {QStringLiteral("Active"), ColumnType::Bool},
                    {QStringLiteral("Remark"), ColumnType::Memo},
                    {QStringLiteral("OldCode"), ColumnType::Text, 10}},
                   {{1, QStringLiteral("华信科技有限公司"), QStringLiteral("1234.5678"), 0.125,
                     QDateTime(QDate(2024, 3, 10), QTime(23, 59, 58)), true,
                     QStringLiteral("备注：第一行“引号”"), QStringLiteral("A1")},
                    {2, QString(), QVariant(), QVariant(), QVariant(), false, QVariant(), QVariant()}}},
                  {QStringLiteral("tblContact"),
                   {{QStringLiteral("ContactID"), ColumnType::Long},
                    {QStringLiteral("ContactName"), ColumnType::Text, 50}},
                   {{7, QStringLiteral("王芳")}}}});
    auto server = makeServerDatabase(
        QStringLiteral("crm"),
        QStringLiteral(
            "CREATE TABLE [tblCompany] ([CompanyID] INT, [CompanyName] NVARCHAR(100), [Amount] "
            "DECIMAL(18,4), [Rate] FLOAT, [Founded] DATETIME, [Active] INT, [Remark] NVARCHAR(1000));"
            "INSERT INTO [tblCompany] ([CompanyID]) VALUES (99);"
            "CREATE TABLE [tblContact] ([ContactID] INT, [ContactName] NVARCHAR(50));"));
    ASSERT_TRUE(server);

    EXPECT_TRUE(transfer(
        file, server.get(),
        {QStringLiteral("tblCompany"), QString(), QStringLiteral("  "), QStringLiteral(" tblContact ")}));

    EXPECT_EQ(rows(*server, QStringLiteral("SELECT * FROM tblCompany ORDER BY CompanyID")),
              QStringList({QStringLiteral(
                               "1|华信科技有限公司|1234.5678|0.125|2024-03-10 23:59:58|1|备注：第一行“引号”"),
                           QStringLiteral("2||<null>|<null>|<null>|0|<null>")}));
    EXPECT_EQ(rows(*server, QStringLiteral("SELECT * FROM tblContact")),
              QStringList({QStringLiteral("7|王芳")}));
    EXPECT_EQ(m_ui.texts(), QStringList({kDone}));
    EXPECT_EQ(m_ui.messages().constLast().style, ov::MsgStyle::Information);
    EXPECT_EQ(m_status.history().constFirst(), QStringLiteral("向数据库中导入数据，请等待..."));
    EXPECT_EQ(m_status.history().constLast(), QStringLiteral("完成数据导入"));
    EXPECT_EQ(m_progress.maximum(), 4);
    EXPECT_EQ(m_progress.values(), QList<int>({1, 2, 3, 4, 1, 2, 3, 4, 0}));
    EXPECT_TRUE(errorLines().isEmpty());
    EXPECT_FALSE(m_ui.busy());
    // All of it in one transaction, committed: a second connection sees it.
    auto other = mdlOVSqlServer::ConnectToDBFile(m_server, QStringLiteral("crm"), true, QString(), QString());
    EXPECT_EQ(rows(*other, QStringLiteral("SELECT COUNT(*) FROM tblCompany")),
              QStringList({QStringLiteral("2")}));
}

// The server's tables are emptied last to first and filled first to last, so
// a table is never emptied while rows that refer to it remain, and rows that
// refer to others arrive after them. A table the file holds without rows is
// emptied and stays empty.
TEST_F(TableTransfer, EmptiesInReverseOrderAndCopiesInListOrder)
{
    const QList<jet::Column> idColumn = {{QStringLiteral("ID"), ColumnType::Long}};
    const QString file = writeCdb(QStringLiteral("order.cdb"), {{QStringLiteral("A"), idColumn, {{1}, {2}}},
                                                                {QStringLiteral("B"), idColumn, {{3}}},
                                                                {QStringLiteral("C"), idColumn, {}}});
    QString batch = QStringLiteral("CREATE TABLE trace (seq INTEGER PRIMARY KEY, what TEXT);");
    for (const char* t : {"A", "B", "C"}) {
        batch +=
            QStringLiteral("CREATE TABLE [%1] ([ID] INT); INSERT INTO [%1] VALUES (0);"
                           "CREATE TRIGGER del%1 AFTER DELETE ON [%1] BEGIN INSERT INTO trace (what) VALUES "
                           "('del %1'); END;"
                           "CREATE TRIGGER ins%1 AFTER INSERT ON [%1] BEGIN INSERT INTO trace (what) VALUES "
                           "('ins %1'); END;")
                .arg(QLatin1String(t));
    }
    auto server = makeServerDatabase(QStringLiteral("crm"), batch);
    ASSERT_TRUE(server);

    EXPECT_TRUE(
        transfer(file, server.get(), {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}));

    EXPECT_EQ(rows(*server, QStringLiteral("SELECT what FROM trace ORDER BY seq")),
              QStringList({"del C", "del B", "del A", "ins A", "ins A", "ins B"}));
    EXPECT_TRUE(rows(*server, QStringLiteral("SELECT * FROM C")).isEmpty());
    EXPECT_EQ(m_ui.texts(), QStringList({kDone}));
}

// A listed table that the file lacks is reported; the tables around it are
// still copied and the run ends as always.
TEST_F(TableTransfer, TableMissingInTheFileIsReportedAndPassedOver)
{
    const QList<jet::Column> idColumn = {{QStringLiteral("ID"), ColumnType::Long}};
    const QString file = writeCdb(QStringLiteral("missing.cdb"), {{QStringLiteral("A"), idColumn, {{1}}},
                                                                  {QStringLiteral("B"), idColumn, {{2}}}});
    auto server = makeServerDatabase(QStringLiteral("crm"), QStringLiteral("CREATE TABLE A (ID INT);"
                                                                           "CREATE TABLE Gone (ID INT);"
                                                                           "INSERT INTO Gone VALUES (5);"
                                                                           "CREATE TABLE B (ID INT);"));
    ASSERT_TRUE(server);

    // A table that could not be moved makes the transfer incomplete.
    EXPECT_FALSE(
        transfer(file, server.get(), {QStringLiteral("A"), QStringLiteral("Gone"), QStringLiteral("B")}));

    ASSERT_EQ(m_ui.texts().size(), 2);
    EXPECT_TRUE(m_ui.texts().at(0).startsWith(QStringLiteral("未知的错误！"))) << m_ui.texts().at(0);
    EXPECT_TRUE(m_ui.texts().at(0).contains(QStringLiteral("Gone"))) << m_ui.texts().at(0);
    EXPECT_EQ(m_ui.texts().at(1), kDone);
    EXPECT_EQ(rows(*server, QStringLiteral("SELECT ID FROM A")), QStringList({QStringLiteral("1")}));
    EXPECT_TRUE(rows(*server, QStringLiteral("SELECT ID FROM Gone")).isEmpty());
    EXPECT_EQ(rows(*server, QStringLiteral("SELECT ID FROM B")), QStringList({QStringLiteral("2")}));
    EXPECT_EQ(errorLines().size(), 1);
}

// A server column that the file lacks fails on every row: one message for the
// table with the number of rows, one log line per row, and every row stored
// with that column unset.
TEST_F(TableTransfer, ServerColumnTheFileLacksIsReportedOnceWithItsRowCount)
{
    CdbTable users{
        QStringLiteral("tblUser"),
        {{QStringLiteral("UserID"), ColumnType::Long}, {QStringLiteral("UserName"), ColumnType::Text, 50}},
        {}};
    for (int i = 1; i <= 1100; ++i)
        users.rows.append({i, QStringLiteral("用户%1").arg(i)});
    const QString file = writeCdb(QStringLiteral("lacks.cdb"), {users});
    auto server = makeServerDatabase(QStringLiteral("crm"),
                                     QStringLiteral("CREATE TABLE tblUser ([UserID] INT, [UserName] "
                                                    "NVARCHAR(50), [Email] NVARCHAR(100), [Level] INT);"));
    ASSERT_TRUE(server);

    // Fields left unset make it incomplete too.
    EXPECT_FALSE(transfer(file, server.get(), {QStringLiteral("tblUser")}));

    ASSERT_EQ(m_ui.texts().size(), 3) << m_ui.texts().join(QLatin1Char('\n')).toStdString();
    int i = 0;
    for (const char* column : {"Email", "Level"}) {
        const QString text = m_ui.texts().at(i++);
        EXPECT_TRUE(
            text.startsWith(QStringLiteral("未知的错误！\r\n数据表 tblUser 中有 1100 行出现此错误。\r\n")))
            << text;
        EXPECT_TRUE(text.contains(QStringLiteral("错误编号:3265\r\n"))) << text;
        EXPECT_TRUE(text.contains(QLatin1String(column))) << text;
    }
    EXPECT_EQ(m_ui.texts().at(2), kDone);
    EXPECT_EQ(errorLines().filter(QStringLiteral("Field:<Email>")).size(), 1100);
    EXPECT_EQ(errorLines().filter(QStringLiteral("Field:<Level>")).size(), 1100);
    EXPECT_EQ(rows(*server,
                   QStringLiteral("SELECT COUNT(*), COUNT(Email), COUNT(Level), MAX(UserName) FROM tblUser")),
              QStringList({QStringLiteral("1100|0|0|用户999")}));
}

// A table of the file whose pages hold fewer rows than its definition
// records (pages its usage map does not reach) is not passed off as copied:
// the transfer fails and says the file is damaged.
TEST_F(TableTransfer, TableHoldingFewerRowsThanRecordedFailsTheTransfer)
{
    constexpr int kPage = 4096;
    CdbTable users{QStringLiteral("tblUser"), {{QStringLiteral("UserID"), ColumnType::Long}}, {}};
    for (int i = 1; i <= 50; ++i)
        users.rows.append(QList<QVariant>{i});
    const QString file = writeCdb(QStringLiteral("short.cdb"), {users});
    // The one table definition after the catalog's (page 2) records the
    // table's rows at byte 16: it now records 60.
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        int tdef = -1;
        for (int page = 3; page * kPage < bytes.size(); ++page)
            if (bytes[page * kPage] == 0x02)
                tdef = page;
        ASSERT_GT(tdef, 0);
        ASSERT_EQ(bytes[tdef * kPage + 16], char(50));
        bytes[tdef * kPage + 16] = char(60);
        ASSERT_TRUE(f.seek(0));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    auto server =
        makeServerDatabase(QStringLiteral("crm"), QStringLiteral("CREATE TABLE tblUser ([UserID] INT);"));
    ASSERT_TRUE(server);

    EXPECT_FALSE(transfer(file, server.get(), {QStringLiteral("tblUser")}));

    const QString all = m_ui.texts().join(QLatin1Char('\n'));
    EXPECT_TRUE(all.contains(QStringLiteral("is damaged"))) << all;
    EXPECT_TRUE(all.contains(QStringLiteral("50 rows"))) << all;
    EXPECT_TRUE(all.contains(QStringLiteral("records 60"))) << all;
    EXPECT_FALSE(errorLines().isEmpty());
}

namespace {

// The server engines the transfer writes to: the embedded engine, and ODBC
// (through the SQLite driver).
enum class ServerEngine
{
    Embedded,
    Odbc,
};

class RefusedRows : public TableTransfer, public ::testing::WithParamInterface<ServerEngine>
{};

} // namespace

// Rows the server refuses, in different batches: each is left out and
// logged, the error is reported once with their number, every other row is
// stored.
TEST_P(RefusedRows, AreLeftOutAndReportedOnceTheOthersStored)
{
    CdbTable contacts{QStringLiteral("tblContact"),
                      {{QStringLiteral("ContactID"), ColumnType::Long},
                       {QStringLiteral("ContactName"), ColumnType::Text, 50},
                       {QStringLiteral("Birthday"), ColumnType::DateTime}},
                      {}};
    const int total = 2 * mdlOVSqlUpdateDB::kTransferBatchRows + 201;
    const QList<int> refused = {3, mdlOVSqlUpdateDB::kTransferBatchRows + 1, total};
    for (int i = 1; i <= total; ++i) {
        contacts.rows.append({i,
                              refused.contains(i) ? QVariant() : QVariant(QStringLiteral("联系人%1").arg(i)),
                              QDateTime(QDate(1980, 1, 1).addDays(i), QTime(8, 30))});
    }
    const QString file = writeCdb(QStringLiteral("refused.cdb"), {contacts});
    const QString schema = QStringLiteral(
        "CREATE TABLE tblContact ([ContactID] INT NOT NULL PRIMARY KEY, [ContactName] NVARCHAR(50) "
        "NOT NULL, [Birthday] DATETIME);");
    std::unique_ptr<ov::Connection> server;
    if (GetParam() == ServerEngine::Embedded) {
        server = makeServerDatabase(QStringLiteral("crm"), schema);
    } else {
        server = std::make_unique<ov::Connection>();
        server->setCursorLocation(ov::adUseClient);
        ASSERT_TRUE(
            server->Open(QStringLiteral("Driver=SQLite3;Database=") + path(QStringLiteral("odbc.db"))))
            << server->lastError().description.toStdString();
        ASSERT_TRUE(server->Execute(schema));
    }
    ASSERT_TRUE(server);

    // Refused rows make the transfer incomplete.
    EXPECT_FALSE(transfer(file, server.get(), {QStringLiteral("tblContact")}));

    // Each refused row meets the server's refusal; where the engine describes
    // the column as NOT NULL (the SQLite ODBC driver does not), its NULL name
    // is refused by the field first.
    const bool fieldKnowsNotNull = GetParam() == ServerEngine::Embedded;
    const int boxes = fieldKnowsNotNull ? 3 : 2;
    ASSERT_EQ(m_ui.texts().size(), boxes) << m_ui.texts().join(QLatin1Char('\n')).toStdString();
    for (int i = 0; i + 1 < boxes; ++i) {
        EXPECT_TRUE(m_ui.texts().at(i).contains(QStringLiteral("数据表 tblContact 中有 3 行出现此错误。")))
            << m_ui.texts().at(i);
    }
    if (fieldKnowsNotNull) {
        EXPECT_TRUE(m_ui.texts().at(0).contains(QStringLiteral("Field 'ContactName' cannot be NULL.")))
            << m_ui.texts().at(0);
    }
    EXPECT_EQ(m_ui.texts().at(boxes - 1), kDone);
    QStringList logged;
    QStringList loggedFields;
    for (const QString& line : errorLines()) {
        const QString row = QRegularExpression(QStringLiteral("Row:(\\d+) ")).match(line).captured(1);
        (line.contains(QStringLiteral(" Field:<ContactName> ")) ? loggedFields : logged).append(row);
    }
    EXPECT_EQ(loggedFields, fieldKnowsNotNull
                                ? QStringList({QString::number(refused[0]), QString::number(refused[1]),
                                               QString::number(refused[2])})
                                : QStringList());
    EXPECT_EQ(logged, QStringList({QString::number(refused[0]), QString::number(refused[1]),
                                   QString::number(refused[2])}));
    EXPECT_EQ(
        rows(*server, QStringLiteral("SELECT COUNT(*), MIN(ContactID), MAX(ContactID) FROM tblContact")),
        QStringList({QStringLiteral("%1|1|%2").arg(total - 3).arg(total - 1)}));
    EXPECT_TRUE(
        rows(*server,
             QStringLiteral("SELECT ContactID FROM tblContact WHERE ContactID IN (3, %1)").arg(refused[1]))
            .isEmpty());
    EXPECT_EQ(
        rows(*server, QStringLiteral("SELECT ContactName, Birthday FROM tblContact WHERE ContactID = 4")),
        QStringList({QStringLiteral("联系人4|1980-01-05 08:30:00")}));
}

// Fields whose column cannot take the file's value (a text longer than the
// column, a number out of its range or beyond its precision, a date in a
// number column) are each reported with their row and left unset; every row
// is stored with its other fields.
TEST_P(RefusedRows, FieldsThatCannotTakeTheirValueAreLeftUnsetAndTheRowsStored)
{
    CdbTable companies{QStringLiteral("tblCompany"),
                       {{QStringLiteral("CompanyID"), ColumnType::Long},
                        {QStringLiteral("CompanyName"), ColumnType::Text, 50},
                        {QStringLiteral("Staff"), ColumnType::Double},
                        {QStringLiteral("Founded"), ColumnType::DateTime}},
                       {}};
    const QDateTime date(QDate(2001, 2, 3), QTime(4, 5, 6));
    // The name column takes 20 code-page bytes: ten Chinese characters.
    companies.rows = {
        {1, QStringLiteral("华信"), 12.0, QVariant()},
        {2, QStringLiteral("华信科技发展股份有限公司"), 13.0, QVariant()},
        {3, QStringLiteral("三"), 1e12, QVariant()},
        {4, QStringLiteral("四"), 14.0, date},
        {5, QStringLiteral("正好十个字的公司名称"), -2147483648.0, QVariant()},
    };
    const QString file = writeCdb(QStringLiteral("fields.cdb"), {companies});
    const QString schema = QStringLiteral("CREATE TABLE tblCompany ([CompanyID] INT NOT NULL, [CompanyName] "
                                          "VARCHAR(20), [Staff] INT, [Founded] INT);");
    std::unique_ptr<ov::Connection> server;
    if (GetParam() == ServerEngine::Embedded) {
        server = makeServerDatabase(QStringLiteral("crm"), schema);
    } else {
        server = std::make_unique<ov::Connection>();
        server->setCursorLocation(ov::adUseClient);
        ASSERT_TRUE(
            server->Open(QStringLiteral("Driver=SQLite3;Database=") + path(QStringLiteral("odbc.db"))))
            << server->lastError().description.toStdString();
        ASSERT_TRUE(server->Execute(schema));
    }
    ASSERT_TRUE(server);

    EXPECT_FALSE(transfer(file, server.get(), {QStringLiteral("tblCompany")}));

    EXPECT_EQ(rows(*server,
                   QStringLiteral(
                       "SELECT CompanyID, CompanyName, Staff, Founded FROM tblCompany ORDER BY CompanyID")),
              QStringList({QStringLiteral("1|华信|12|<null>"), QStringLiteral("2|<null>|13|<null>"),
                           QStringLiteral("3|三|<null>|<null>"), QStringLiteral("4|四|14|<null>"),
                           QStringLiteral("5|正好十个字的公司名称|-2147483648|<null>")}));
    QStringList logged;
    for (const QString& line : errorLines())
        logged.append(QRegularExpression(QStringLiteral("(Row:\\d+ Field:<\\w+>)")).match(line).captured(1));
    EXPECT_EQ(logged,
              QStringList({QStringLiteral("Row:2 Field:<CompanyName>"), QStringLiteral("Row:3 Field:<Staff>"),
                           QStringLiteral("Row:4 Field:<Founded>")}));
    // One box per field and rule, then the completion message.
    ASSERT_EQ(m_ui.texts().size(), 4) << m_ui.texts().join(QLatin1Char('\n')).toStdString();
    const char* const fields[] = {"CompanyName", "Staff", "Founded"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(m_ui.texts().at(i).contains(QStringLiteral("数据表 tblCompany 中有 1 行出现此错误。")))
            << m_ui.texts().at(i);
        EXPECT_TRUE(m_ui.texts().at(i).contains(QStringLiteral("Field '%1' ").arg(QLatin1String(fields[i]))))
            << m_ui.texts().at(i);
    }
    EXPECT_EQ(m_ui.texts().at(3), kDone);
}

// Rows sent as parameter arrays through a driver that reports no status per
// row: a failing run is undone and sent again one row at a time, so the rows
// stored before the failing one are not counted as refused, and no row is
// stored twice, inside the transfer's transaction and without one.
TEST_F(TableTransfer, FailingArrayRunIsSentAgainRowByRow)
{
    struct ArraysForAnyDbms
    {
        ArraysForAnyDbms() { ov::sendParameterArraysToAnyDbms(true); }
        ~ArraysForAnyDbms() { ov::sendParameterArraysToAnyDbms(false); }
    } arrays;
    const QString schema = QStringLiteral("CREATE TABLE tblContact ([ContactID] INT NOT NULL PRIMARY KEY, "
                                          "[ContactName] NVARCHAR(50));");
    const QList<int> ids = {1, 2, 3, 3, 4, 5, 5, 6};
    for (const bool transaction : {true, false}) {
        SCOPED_TRACE(transaction ? "in a transaction" : "without a transaction");
        ov::Connection server;
        server.setCursorLocation(ov::adUseClient);
        ASSERT_TRUE(server.Open(QStringLiteral("Driver=SQLite3;Database=") +
                                path(QStringLiteral("arrays%1.db").arg(transaction))))
            << server.lastError().description.toStdString();
        ASSERT_TRUE(server.Execute(schema));
        if (transaction) {
            ASSERT_TRUE(server.BeginTrans());
        }
        ov::Recordset target;
        ASSERT_TRUE(target.Open(QStringLiteral("tblContact"), server, ov::adOpenForwardOnly,
                                ov::adLockBatchOptimistic, ov::adCmdTable));
        for (int id : ids) {
            ASSERT_TRUE(target.AddNew());
            ASSERT_TRUE(target.Fields(QStringLiteral("ContactID")).setValue(id));
            ASSERT_TRUE(
                target.Fields(QStringLiteral("ContactName")).setValue(QStringLiteral("联系人%1").arg(id)));
            ASSERT_TRUE(target.Update());
        }
        EXPECT_FALSE(target.UpdateBatch());
        QList<int> refused;
        for (const ov::Recordset::RowError& e : target.BatchErrors())
            refused.append(e.row);
        EXPECT_EQ(refused, QList<int>({3, 6}));
        target.Close();
        if (transaction) {
            ASSERT_TRUE(server.CommitTrans());
        }
        EXPECT_EQ(
            rows(server, QStringLiteral("SELECT COUNT(*), COUNT(DISTINCT ContactID), SUM(ContactID) FROM "
                                        "tblContact")),
            QStringList({QStringLiteral("6|6|21")}));
    }
}

// Inside a transaction the embedded engine takes the kept rows several at a
// time. Wherever a refused row falls among them (first or last of a group,
// refused for a row before or after it, a key or a check), the rows refused
// are exactly those that storing the rows one by one refuses, the others are
// stored once each, and the connection's temporary tables and settings are
// as they were.
TEST_F(TableTransfer, EmbeddedBatchRefusesTheRowsThatRowByRowRefuses)
{
    const QString columns =
        QStringLiteral("([ContactID] INT NOT NULL PRIMARY KEY, [ContactName] NVARCHAR(50) "
                       "CHECK (ContactName <> 'refused'), [Note] NVARCHAR(50))");
    for (const bool temporary : {false, true}) {
        SCOPED_TRACE(temporary ? "with a temporary table" : "without temporary tables");
        std::unique_ptr<ov::Connection> server = makeServerDatabase(
            QStringLiteral("crm%1").arg(temporary),
            QStringLiteral("CREATE TABLE tblContact %1; CREATE TABLE tblTwin %1;").arg(columns));
        ASSERT_TRUE(server);
        if (temporary) {
            ASSERT_TRUE(server->Execute(
                QStringLiteral("CREATE TEMP TABLE kept (x INT); INSERT INTO kept VALUES (7);")))
                << server->lastError().description.toStdString();
        }
        const QStringList settings = rows(*server, QStringLiteral("PRAGMA temp_store"));
        // Row (counted from 0) -> the key it takes instead of its own, or -1 for
        // a name the check refuses.
        const QMap<int, int> odd = {{1, 0},    {62, 63}, {63, 63},  {64, 0},
                                    {100, -1}, {101, 5}, {127, -1}, {199, 198}};
        const int total = 200;
        ASSERT_TRUE(server->BeginTrans());
        ov::Recordset target;
        ASSERT_TRUE(target.Open(QStringLiteral("tblContact"), *server, ov::adOpenForwardOnly,
                                ov::adLockBatchOptimistic, ov::adCmdTable));
        QList<int> refused;
        for (int row = 0; row < total; ++row) {
            const int id = odd.value(row, row) < 0 ? row : odd.value(row, row);
            const QString name =
                odd.value(row, row) < 0 ? QStringLiteral("refused") : QStringLiteral("联系人%1").arg(row);
            ASSERT_TRUE(target.AddNew());
            ASSERT_TRUE(target.Fields(QStringLiteral("ContactID")).setValue(id));
            ASSERT_TRUE(target.Fields(QStringLiteral("ContactName")).setValue(name));
            // Every other row leaves the note unset: rows setting other columns
            // go in other statements.
            if (row % 50 < 25) {
                ASSERT_TRUE(
                    target.Fields(QStringLiteral("Note")).setValue(QStringLiteral("note %1").arg(row)));
            }
            ASSERT_TRUE(target.Update());
            const QString note =
                row % 50 < 25 ? QStringLiteral("'note %1'").arg(row) : QStringLiteral("NULL");
            if (!server->Execute(
                    QStringLiteral("INSERT INTO tblTwin VALUES (%1, '%2', %3)").arg(id).arg(name, note)))
                refused.append(row);
        }
        ASSERT_EQ(refused.size(), 7);
        EXPECT_FALSE(target.UpdateBatch());
        QList<int> found;
        for (const ov::Recordset::RowError& e : target.BatchErrors())
            found.append(e.row);
        EXPECT_EQ(found, refused);
        target.Close();
        ASSERT_TRUE(server->CommitTrans());
        const QString query = QStringLiteral("SELECT ContactID, ContactName, Note FROM %1 ORDER BY rowid");
        EXPECT_EQ(rows(*server, query.arg(QStringLiteral("tblContact"))),
                  rows(*server, query.arg(QStringLiteral("tblTwin"))));
        if (temporary) {
            EXPECT_EQ(rows(*server, QStringLiteral("SELECT x FROM kept")),
                      QStringList({QStringLiteral("7")}));
        }
        EXPECT_EQ(rows(*server, QStringLiteral("PRAGMA temp_store")), settings);
    }
}

// A table whose own rules keep what a refused insert stored before the
// refused row (a trigger that raises FAIL, a constraint ON CONFLICT FAIL):
// the embedded engine's batch still stores every other row once and refuses
// only the refused rows.
TEST_F(TableTransfer, EmbeddedBatchIntoATableThatFailsWithoutTakingBackStoresEachRowOnce)
{
    const struct
    {
        const char* what;
        const char* schema;
        QString refusedName;
    } cases[] = {
        {"trigger",
         "CREATE TABLE tblContact ([ContactID] INT NOT NULL PRIMARY KEY, [ContactName] NVARCHAR(50));"
         "CREATE TRIGGER trgFail BEFORE INSERT ON tblContact WHEN NEW.ContactName = 'refused' "
         "BEGIN SELECT RAISE(FAIL, 'refused'); END;",
         QStringLiteral("refused")},
        {"on conflict fail",
         "CREATE TABLE tblContact ([ContactID] INT NOT NULL PRIMARY KEY, "
         "[ContactName] NVARCHAR(50) UNIQUE ON CONFLICT FAIL);",
         QStringLiteral("n5")},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<ov::Connection> server =
            makeServerDatabase(QStringLiteral("fail%1").arg(n++), QString::fromLatin1(c.schema));
        ASSERT_TRUE(server);
        ASSERT_TRUE(server->BeginTrans());
        ov::Recordset target;
        ASSERT_TRUE(target.Open(QStringLiteral("tblContact"), *server, ov::adOpenForwardOnly,
                                ov::adLockBatchOptimistic, ov::adCmdTable));
        for (int row = 0; row < 100; ++row) {
            ASSERT_TRUE(target.AddNew());
            ASSERT_TRUE(target.Fields(QStringLiteral("ContactID")).setValue(row));
            ASSERT_TRUE(
                target.Fields(QStringLiteral("ContactName"))
                    .setValue(row == 10 || row == 70 ? c.refusedName : QStringLiteral("n%1").arg(row)));
            ASSERT_TRUE(target.Update());
        }
        EXPECT_FALSE(target.UpdateBatch());
        QList<int> found;
        for (const ov::Recordset::RowError& e : target.BatchErrors())
            found.append(e.row);
        EXPECT_EQ(found, QList<int>({10, 70}));
        target.Close();
        ASSERT_TRUE(server->CommitTrans());
        EXPECT_EQ(rows(*server,
                       QStringLiteral("SELECT COUNT(*) || ' ' || COUNT(DISTINCT ContactID) FROM tblContact")),
                  QStringList{QStringLiteral("98 98")});
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, RefusedRows, ::testing::Values(ServerEngine::Embedded, ServerEngine::Odbc),
                         [](const auto& info) {
                             return std::string(info.param == ServerEngine::Embedded ? "Embedded" : "Odbc");
                         });

// Each class of error number is told its own way.
TEST(TransferErrorReport, EachNumberClassIsToldItsOwnWay)
{
    const QString detail = QStringLiteral("数据表 T 中有 2 行出现此错误。");
    const struct
    {
        qint32 number;
        QStringList boxes;          // what the user sees
        QString recordMessageAfter; // the error record's message afterwards ("-" when there is none)
    } cases[] = {
        {3340, {QStringLiteral("描述\r\n") + detail}, QStringLiteral("-")},
        {3450, {QStringLiteral("描述\r\n") + detail}, QStringLiteral("-")},
        {3300, {}, QStringLiteral("描述")},
        {3320, {}, QStringLiteral("描述")},
        {3332, {}, QStringLiteral("-")},
        {3330, {QStringLiteral("早先的错误\r\n\r\n错误编号:5\r\n错误描述:早先\r\n")}, QStringLiteral("-")},
        {19,
         {QStringLiteral("未知的错误！\r\n") + detail +
          QStringLiteral("\r\n\r\n\r\n错误编号:19\r\n错误描述:描述\r\n")},
         QStringLiteral("-")},
    };
    for (const auto& c : cases) {
        ovtest::ScriptedUi ui;
        mdlCommon::ClearError();
        if (c.number == 3330) {
            // This class shows the record that something else filled.
            mdlCommon::SetError(QStringLiteral("早先"), QStringLiteral("5"), QString());
            mdlCommon::SetErrorContext(QString(), QString(), QStringLiteral("早先的错误"), QString());
        }
        ov::DataError e;
        e.number = c.number;
        e.description = QStringLiteral("描述");
        e.source = QStringLiteral("test");
        mdlOVSqlUpdateDB::ReportTransferError(e, detail);
        EXPECT_EQ(ui.texts(), c.boxes) << c.number;
        if (!c.boxes.isEmpty()) {
            EXPECT_EQ(ui.messages().constFirst().style, c.number == 3340 || c.number == 3450
                                                            ? ov::MsgStyle::Exclamation
                                                            : ov::MsgStyle::Information)
                << c.number;
        }
        EXPECT_EQ(mdlCommon::gobjError ? mdlCommon::gobjError->strMsg() : QStringLiteral("-"),
                  c.recordMessageAfter)
            << c.number;
        if (c.number == 3300) {
            EXPECT_EQ(mdlCommon::gobjError->ErrNumber(), 3300);
            EXPECT_EQ(mdlCommon::gobjError->strContent(), detail);
            EXPECT_EQ(mdlCommon::gobjError->strFunction(), QStringLiteral("TransferDataFormCnToCn"));
        }
    }
    mdlCommon::ClearError();
}
