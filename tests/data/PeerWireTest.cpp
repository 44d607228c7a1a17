// What the SQL Server path sends on the wire, counted by the scripted TDS
// peer through the real FreeTDS driver and DB-Library: the table transfer
// sends its rows as parameter arrays, one array per batch of rows; the
// data-set import sends one bulk stream per table, whatever its rows; an
// update sends each batch of its script once, in a round trip of its own,
// beside a fixed number of round trips per version block.

#include "DataTestSupport.h"

#include "common/Cp936.h"
#include "convert/TableTransfer.h"
#include "create/DataImport.h"
#include "support/ScopedProgramFolder.h"
#include "support/ScriptedUi.h"
#include "support/TdsPeer.h"
#include "update/UpdateScript.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSet>

using ovtest::str;
using ovtest::TdsPeer;

namespace {

constexpr int kBatch = 1; // TDS packet types
constexpr int kRpc = 3;
constexpr int kBulk = 7;
constexpr int kTransaction = 14;

QJsonObject script(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).object();
}

QString textOf(const QJsonObject& request)
{
    return request[QStringLiteral("kind")].toString() == QLatin1String("rpc")
               ? request[QStringLiteral("statement")].toString()
               : request[QStringLiteral("text")].toString();
}

// What the messages were, for failure messages.
std::string described(const QList<TdsPeer::Message>& messages)
{
    std::string out;
    for (const TdsPeer::Message& m : messages) {
        out += "conn " + std::to_string(m.connection) + " type " + std::to_string(m.type) + ", " +
               std::to_string(m.requests.size()) + " requests";
        if (!m.requests.isEmpty())
            out += ": " + textOf(m.requests.first()).left(80).toStdString();
        out += "\n";
    }
    return out;
}

// The server table the transfer fills, and its insert as FreeTDS sends it.
const QByteArray kTransferServer = R"j({"wire": true, "databases": ["master", "crm"], "rules": [
    {"match": "SELECT * FROM [t]", "reply": [{"columns": [{"name": "id", "type": "int", "null": false},
        {"name": "name", "type": "nvarchar(20)"}, {"name": "amount", "type": "int"}], "rows": []},
        {"done": {}}]},
    {"kind": "rpc", "match": "INSERT INTO [t] ([id],[name],[amount]) VALUES (@P1,@P2,@P3)",
     "reply": [{"done": {"count": 1}}]}]})j";

} // namespace

// The transfer hands the server its rows in batches of kTransferBatchRows,
// each one parameter array of the prepared insert: one RPC message per batch
// carries all of its rows, each row by the statement's handle alone (the
// statement's text is not sent again per row), and the rows cost at most
// four round trips per batch (its savepoint, the driver's prepare and
// unprepare around the array, the array).
TEST(PeerWire, TransferSendsOneParameterArrayPerBatchOfRows)
{
    const int k = mdlOVSqlUpdateDB::kTransferBatchRows;
    for (const int rows : {2, k, 2 * k + 1}) {
        SCOPED_TRACE(rows);
        ovtest::ScopedProgramFolder folder;
        QTemporaryDir dir;
        const QString server = QStringLiteral("sqlite:") + dir.path();
        const auto admin = ov::ServerAdmin::create(server, true, QString(), QString());
        ASSERT_TRUE(admin->createDatabase(QStringLiteral("src"))) << str(admin->lastError().description);
        ov::Connection file;
        file.setCursorLocation(ov::adUseClient);
        ASSERT_TRUE(file.Open(ovtest::oleDbString(server, QStringLiteral("src"))));
        ASSERT_TRUE(
            file.Execute(QStringLiteral("CREATE TABLE t (id INTEGER, name TEXT, amount INTEGER);"
                                        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                                        "FROM n WHERE i < %1) "
                                        "INSERT INTO t SELECT i, 'O''Neil [' || i || ']', i % 7 FROM n")
                             .arg(rows)))
            << str(file.lastError().description);

        TdsPeer peer(script(kTransferServer));
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        ov::Connection cn;
        ASSERT_TRUE(cn.Open(peer.login(QStringLiteral("crm")))) << str(cn.lastError().description);
        ovtest::ScriptedUi ui;
        ovtest::RecordingStatus status;
        ovtest::RecordingProgress progress;
        EXPECT_TRUE(mdlOVSqlUpdateDB::TransferDataFormCnToCn(&file, &cn, {QString(), QStringLiteral("t")},
                                                             status, progress))
            << str(ui.texts().join('\n'));
        cn.Close();

        // The round trips of the rows: after the read of the server table's
        // columns, before the commit.
        const QList<TdsPeer::Message> all = peer.messages();
        QList<TdsPeer::Message> copy;
        bool started = false;
        for (const TdsPeer::Message& m : all) {
            if (m.type == kTransaction && started)
                break;
            if (started)
                copy.append(m);
            if (m.type == kBatch && !m.requests.isEmpty() &&
                textOf(m.requests.first()) == QLatin1String("SELECT * FROM [t]"))
                started = true;
        }
        ASSERT_TRUE(started) << described(all);

        QList<int> rowsPerMessage;
        QList<int> ids;
        for (const TdsPeer::Message& m : copy) {
            int carried = 0;
            for (const QJsonObject& request : m.requests) {
                const QString proc = request[QStringLiteral("proc")].toString();
                if (proc != QLatin1String("sp_execute") && proc != QLatin1String("sp_prepexec"))
                    continue;
                ++carried;
                // sp_execute names the statement by its handle; only a lone
                // row goes with its text (sp_prepexec).
                const QJsonArray params = request[QStringLiteral("params")].toArray();
                const int first = proc == QLatin1String("sp_execute") ? 1 : 3;
                ASSERT_GT(params.size(), first) << str(QJsonDocument(request).toJson());
                ids.append(params[first].toObject()[QStringLiteral("value")].toInt());
            }
            if (carried > 0)
                rowsPerMessage.append(carried);
        }
        QList<int> batches;
        for (int sent = 0; sent < rows; sent += k)
            batches.append(qMin(k, rows - sent));
        EXPECT_EQ(rowsPerMessage, batches) << described(copy);
        QList<int> expectedIds;
        for (int i = 1; i <= rows; ++i)
            expectedIds.append(i);
        EXPECT_EQ(ids, expectedIds);
        EXPECT_LE(copy.size(), 4 * batches.size()) << described(copy);
    }
}

// The import loads each table of a data set with one INSERT BULK and one bulk
// stream carrying every row of its file, on a connection of its own; a table
// of a thousand rows takes the same round trips as a table of one.
TEST(PeerWire, ImportSendsOneBulkStreamPerTable)
{
    ovtest::ScopedProgramFolder folder;
    QTemporaryDir dir;
    const QString data = dir.path() + QLatin1Char('/');
    const QMap<QString, int> tables = {
        {QStringLiteral("客户"), 1000}, {QStringLiteral("one"), 1}, {QStringLiteral("ten"), 10}};
    ovtest::writeFile(data + QStringLiteral("tables.txt"),
                      ov::cp936::encode(tables.keys().join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")));
    for (auto t = tables.cbegin(); t != tables.cend(); ++t) {
        QByteArray rows;
        for (int i = 1; i <= t.value(); ++i)
            rows += QByteArray::number(i) + "\t\xd5\xc5\xc8\xfd '" + QByteArray::number(i) + "'\t" +
                    QByteArray::number(i % 7) + "\r\n";
        ovtest::writeFile(data + t.key() + QStringLiteral(".dat"), rows);
    }
    TdsPeer peer(script(R"j({"wire": true, "databases": ["master", "crm"], "rules": [
        {"match": "SELECT name FROM master.sys.databases ORDER BY database_id", "reply": [
            {"columns": [{"name": "name", "type": "nvarchar(128)"}], "rows": [["master"], ["crm"]]},
            {"done": {"count": 2}}]},
        {"regex": "SELECT COUNT\\(\\*\\) FROM sys\\.columns WHERE object_id = OBJECT_ID\\(N'.*'\\)",
         "reply": [{"columns": [{"name": "", "type": "int"}], "rows": [[3]]}, {"done": {"count": 1}}]},
        {"regex": "SET FMTONLY ON select \\* from \\[.*\\] SET FMTONLY OFF", "reply": [
            {"columns": [{"name": "id", "type": "int", "null": false}, {"name": "name", "type": "nvarchar(20)"},
                         {"name": "amount", "type": "int"}], "rows": []}, {"done": {}}]}]})j"));
    ASSERT_TRUE(peer.isRunning()) << str(peer.error());
    ovtest::ScriptedUi ui;
    ovtest::RecordingStatus status;
    ovtest::RecordingProgress progress;
    EXPECT_TRUE(mdlOVSqlUpdateDB::ImportTableData(peer.server(), QStringLiteral("crm"), false,
                                                  QStringLiteral("sa"), QStringLiteral("pw"), data, status,
                                                  progress))
        << str(ui.texts().join('\n'));

    // Each connection belongs to the table its statements name.
    const QList<TdsPeer::Message> all = peer.messages();
    QMap<int, QString> tableOf;
    for (const TdsPeer::Message& m : all) {
        for (const QJsonObject& request : m.requests) {
            for (const QString& t : tables.keys())
                if (textOf(request).contains(QLatin1Char('[') + t + QLatin1Char(']')))
                    tableOf[m.connection] = t;
        }
    }
    QMap<QString, int> roundTrips;
    QMap<QString, int> streams;
    QMap<QString, int> inserts;
    for (const TdsPeer::Message& m : all) {
        const QString table = tableOf.value(m.connection);
        if (table.isEmpty())
            continue;
        ++roundTrips[table];
        if (m.type == kBatch && !m.requests.isEmpty() &&
            textOf(m.requests.first()).startsWith(QLatin1String("insert bulk "), Qt::CaseInsensitive))
            ++inserts[table];
        if (m.type != kBulk)
            continue;
        ++streams[table];
        ASSERT_EQ(m.requests.size(), 1) << described(all);
        EXPECT_EQ(m.requests.first()[QStringLiteral("rows")].toArray().size(), tables.value(table))
            << str(table);
    }
    for (const QString& t : tables.keys()) {
        SCOPED_TRACE(str(t));
        EXPECT_EQ(streams.value(t), 1) << described(all);
        EXPECT_EQ(inserts.value(t), 1) << described(all);
        EXPECT_EQ(roundTrips.value(t), roundTrips.value(QStringLiteral("one"))) << described(all);
    }
}

// An update of the shipped script sends each batch of the script once, each
// in a message of its own; beside them each version block costs the read of
// the version (and the driver's cancel of the rest of its answer) and the
// two statements that record it, each transaction its begin, its commit and
// the driver's return to autocommit, and the run its two logins, the task
// lock and its release.
TEST(PeerWire, UpdateSendsEachBatchOnceAndAFixedPricePerBlock)
{
    ovtest::ScopedProgramFolder folder;
    const QString shipped = QStringLiteral(OV_SOURCE_DIR "/dist/OVScriptUpdate.txt");
    int batches = 0;
    int blocks = 0;
    int transactions = 0;
    for (const QString& line : ov::cp936::decode(ovtest::readFile(shipped)).split(QStringLiteral("\r\n"))) {
        switch (mdlOVSqlUpdateDB::ClassifyScriptLine(line)) {
        case mdlOVSqlUpdateDB::ScriptLineKind::BatchEnd:
            ++batches;
            break;
        case mdlOVSqlUpdateDB::ScriptLineKind::TransactionalVersionStart:
            ++transactions;
            ++blocks;
            break;
        case mdlOVSqlUpdateDB::ScriptLineKind::VersionStart:
            ++blocks;
            break;
        case mdlOVSqlUpdateDB::ScriptLineKind::TransferStart:
            ++transactions;
            break;
        default:
            break;
        }
    }
    ASSERT_GT(blocks, 0);
    TdsPeer peer(script(R"j({"wire": true, "databases": ["master", "crm"], "rules": [
        {"regex": "SET NOCOUNT ON; DECLARE @result int; EXEC @result = sp_getapplock .*", "reply": [
            {"columns": [{"name": "result", "type": "int"}], "rows": [[0]]}, {"done": {"count": 1}}]},
        {"match": "SELECT * FROM tblVarible WHERE [Module] ='DB' AND VaribleName = 'Version'", "reply": [
            {"columns": [{"name": "VaribleName", "type": "nvarchar(50)"}, {"name": "VaribleValue", "type": "nvarchar(255)"},
                         {"name": "UserID", "type": "nvarchar(50)"}, {"name": "Module", "type": "nvarchar(50)"}],
             "rows": [["Version", "0", "", "DB"]]}, {"done": {"count": 1}}]}]})j"));
    ASSERT_TRUE(peer.isRunning()) << str(peer.error());
    ovtest::ScriptedUi ui;
    ovtest::RecordingStatus status;
    ovtest::RecordingProgress progress;
    EXPECT_TRUE(mdlOVSqlUpdateDB::RunUpdateScript(peer.server(), QStringLiteral("crm"), false,
                                                  QStringLiteral("sa"), QStringLiteral("pw"), shipped, status,
                                                  progress))
        << str(ui.texts().join('\n'));

    const QList<TdsPeer::Message> all = peer.messages();
    QStringList scriptBatches;
    for (const TdsPeer::Message& m : all) {
        if (m.type != kBatch)
            continue;
        ASSERT_EQ(m.requests.size(), 1) << described(all);
        const QString text = textOf(m.requests.first());
        // The runner's own statements: the version read, the record of each
        // block, the task lock.
        if (text.startsWith(QLatin1String("SELECT * FROM tblVarible WHERE [Module] ='DB'")) ||
            text.startsWith(QLatin1String("DELETE FROM tblVarible WHERE [Module] = 'UpdateDB'")) ||
            text.startsWith(
                QLatin1String("INSERT INTO tblVarible ([Module] , [VaribleName] , [VaribleValue] , "
                              "[UserID]) VALUES ('UpdateDB'")) ||
            text.contains(QLatin1String("sp_getapplock")) ||
            text.contains(QLatin1String("sp_releaseapplock")))
            continue;
        scriptBatches.append(text);
    }
    EXPECT_EQ(scriptBatches.size(), batches) << str(scriptBatches.join(QStringLiteral("\n--\n")));
    EXPECT_EQ(QSet<QString>(scriptBatches.cbegin(), scriptBatches.cend()).size(), scriptBatches.size());
    EXPECT_LE(all.size(), batches + 4 * blocks + 3 * transactions + 6) << described(all);
}
