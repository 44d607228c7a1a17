// What the SQL Server path sends on the wire, counted by the test kit's TDS
// peer (tests/support/tdspeer.py, which records every message a client
// sends) through the real FreeTDS driver and DB-Library: round trips and
// bytes per 1,000 rows of the table transfer (parameter arrays) and of the
// data-set import (bulk copy), against FreeTDS's own freebcp loading the
// same rows, and the round trips of an update of the shipped script. Counts,
// not times: each line holds exactly on any machine.

#include "common/UiPort.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "convert/TableTransfer.h"
#include "create/DataImport.h"
#include "data/Connection.h"
#include "data/ServerAdmin.h"
#include "update/UpdateScript.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

namespace {

constexpr int kBatch = 1; // TDS packet types
constexpr int kBulk = 7;
constexpr int kTransaction = 14;

// The rows of every table: the transfer's source, the data set's files and
// freebcp's file hold the same values.
constexpr int kRows = 10000;
constexpr int kFewRows = 1000;

const QByteArray kColumns = R"j([{"name": "id", "type": "int", "null": false},
    {"name": "name", "type": "nvarchar(40)"}, {"name": "amount", "type": "int"}])j";

[[noreturn]] void fail(const QString& what)
{
    std::fprintf(stderr, "wire: %s\n", qPrintable(what));
    std::exit(1);
}

struct Message
{
    int connection = 0;
    int type = 0;
    qint64 bytes = 0;
    QList<QJsonObject> requests;
};

QString textOf(const QJsonObject& request)
{
    return request[QStringLiteral("kind")].toString() == QLatin1String("rpc")
               ? request[QStringLiteral("statement")].toString()
               : request[QStringLiteral("text")].toString();
}

// The scripted peer in a process of its own, recording each message.
class Peer
{
public:
    explicit Peer(QJsonObject script)
    {
        if (!m_dir.isValid())
            fail(QStringLiteral("no temporary folder"));
        script.insert(QStringLiteral("wire"), true);
        script.insert(QStringLiteral("databases"),
                      QJsonArray{QStringLiteral("master"), QStringLiteral("crm")});
        QFile file(m_dir.filePath(QStringLiteral("script.json")));
        if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(script).toJson()) < 0)
            fail(QStringLiteral("cannot write the peer's script"));
        file.close();
        const QString portFile = m_dir.filePath(QStringLiteral("port"));
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(m_dir.filePath(QStringLiteral("stderr.txt")));
        m_process.start(QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                                          : QStringLiteral("python3"),
                        {QStringLiteral(OV_SOURCE_DIR "/tests/support/tdspeer.py"),
                         QStringLiteral("--script"), file.fileName(), QStringLiteral("--record"),
                         recordPath(), QStringLiteral("--port-file"), portFile, QStringLiteral("--parent"),
                         QString::number(QCoreApplication::applicationPid())});
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
            QFile port(portFile);
            if (port.open(QIODevice::ReadOnly)) {
                m_port = port.readAll().trimmed().toInt();
                return;
            }
            QThread::msleep(20);
        }
        fail(QStringLiteral("the TDS peer did not start"));
    }
    ~Peer()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    QString server() const { return QStringLiteral("127.0.0.1,%1").arg(m_port); }
    QString folder() const { return m_dir.path(); }

    // The messages clients sent, each with the record lines of its requests.
    QList<Message> messages() const
    {
        QFile file(recordPath());
        if (!file.open(QIODevice::ReadOnly))
            fail(QStringLiteral("the peer left no record"));
        QList<Message> found;
        QMap<int, qsizetype> open;
        for (const QByteArray& text : file.readAll().split('\n')) {
            const QJsonObject line = QJsonDocument::fromJson(text).object();
            const int connection = line[QStringLiteral("conn")].toInt();
            const QString kind = line[QStringLiteral("kind")].toString();
            if (kind == QLatin1String("peer_error"))
                fail(QStringLiteral("the peer failed: ") + line[QStringLiteral("error")].toString());
            if (kind == QLatin1String("message")) {
                open[connection] = found.size();
                found.append(Message{connection,
                                     line[QStringLiteral("type")].toInt(),
                                     qint64(line[QStringLiteral("bytes")].toDouble()),
                                     {}});
            } else if (open.contains(connection) && kind != QLatin1String("disconnect")) {
                found[open[connection]].requests.append(line);
            }
        }
        return found;
    }

private:
    QString recordPath() const { return m_dir.filePath(QStringLiteral("record.jsonl")); }

    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = -1;
};

QJsonObject rule(const QString& key, const QString& text, const QByteArray& reply)
{
    return QJsonObject{{key, text}, {QStringLiteral("reply"), QJsonDocument::fromJson(reply).array()}};
}

// What a bulk copy asks before it sends its rows: the database, the
// columns of the table.
QJsonObject bulkServer()
{
    return QJsonObject{
        {QStringLiteral("rules"),
         QJsonArray{
             rule(
                 QStringLiteral("match"),
                 QStringLiteral("SELECT name FROM master.sys.databases ORDER BY database_id"),
                 R"j([{"columns": [{"name": "name", "type": "nvarchar(128)"}], "rows": [["master"], ["crm"]]},
                       {"done": {"count": 2}}])j"),
             rule(QStringLiteral("regex"),
                  QStringLiteral(
                      "SELECT COUNT\\(\\*\\) FROM sys\\.columns WHERE object_id = OBJECT_ID\\(N'.*'\\)"),
                  R"j([{"columns": [{"name": "", "type": "int"}], "rows": [[3]]}, {"done": {"count": 1}}])j"),
             rule(QStringLiteral("regex"),
                  QStringLiteral("(?i)SET FMTONLY ON\\s+select \\* from .* SET FMTONLY OFF\\s*"),
                  "[{\"columns\": " + kColumns + ", \"rows\": []}, {\"done\": {}}]"),
         }}};
}

// The rows as a data file: tab-separated, CR LF at each end.
QByteArray dataFile(int rows)
{
    QByteArray out;
    for (int i = 1; i <= rows; ++i)
        out += QByteArray::number(i) + "\tcustomer " + QByteArray::number(i) + "\t" +
               QByteArray::number(i % 1000) + "\r\n";
    return out;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        fail(QStringLiteral("cannot write ") + path);
}

// The bytes of the one bulk stream freebcp sends for rows.
qint64 freebcpBytes(const QString& folder, int rows)
{
    Peer peer(bulkServer());
    const QString conf = folder + QStringLiteral("/freetds.conf");
    writeFile(conf, QStringLiteral("[peer]\n\thost = 127.0.0.1\n\tport = %1\n\ttds version = 7.4\n\tclient "
                                   "charset = UTF-8\n")
                        .arg(peer.server().section(QLatin1Char(','), 1))
                        .toUtf8());
    const QString data = folder + QStringLiteral("/freebcp.dat");
    writeFile(data, dataFile(rows));
    QProcess bcp;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FREETDSCONF"), conf);
    bcp.setProcessEnvironment(env);
    bcp.start(QStringLiteral("freebcp"),
              {QStringLiteral("t"), QStringLiteral("in"), data, QStringLiteral("-S"), QStringLiteral("peer"),
               QStringLiteral("-U"), QStringLiteral("sa"), QStringLiteral("-P"), QStringLiteral("pw"),
               QStringLiteral("-D"), QStringLiteral("crm"), QStringLiteral("-b"), QString::number(rows),
               QStringLiteral("-c"), QStringLiteral("-t"), QStringLiteral("\t"), QStringLiteral("-r"),
               QStringLiteral("\r\n")});
    if (!bcp.waitForFinished(120000) || bcp.exitCode() != 0)
        fail(QStringLiteral("freebcp failed: ") +
             QString::fromLocal8Bit(bcp.readAllStandardError() + bcp.readAllStandardOutput()));
    // freebcp ends with a stream of no rows after the one that holds them
    // (its last batch, empty): both count.
    qint64 bytes = 0;
    qsizetype received = 0;
    for (const Message& m : peer.messages()) {
        if (m.type != kBulk)
            continue;
        bytes += m.bytes;
        received += m.requests.value(0)[QStringLiteral("rows")].toArray().size();
    }
    if (received != rows)
        fail(QStringLiteral("freebcp sent %1 of %2 rows").arg(received).arg(rows));
    return bytes;
}

void transfer(const QString& folder, qint64 peerBytes)
{
    // The single-user file's table, held by the embedded engine.
    const QString source = QStringLiteral("sqlite:") + folder;
    const auto admin = ov::ServerAdmin::create(source, true, QString(), QString());
    ov::Connection file;
    file.setCursorLocation(ov::adUseClient);
    if (!admin->createDatabase(QStringLiteral("src")) ||
        !file.Open(QStringLiteral("Data Source=%1;Initial Catalog=src").arg(source)) ||
        !file.Execute(
            QStringLiteral("CREATE TABLE t (id INTEGER, name TEXT, amount INTEGER);"
                           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < "
                           "%1) INSERT INTO t SELECT i, 'customer ' || i, i % 1000 FROM n")
                .arg(kRows)))
        fail(QStringLiteral("cannot make the source table: ") + file.lastError().description);

    Peer peer(QJsonObject{
        {QStringLiteral("rules"),
         QJsonArray{rule(QStringLiteral("match"), QStringLiteral("SELECT * FROM [t]"),
                         "[{\"columns\": " + kColumns + ", \"rows\": []}, {\"done\": {}}]"),
                    QJsonObject{{QStringLiteral("kind"), QStringLiteral("rpc")},
                                {QStringLiteral("regex"), QStringLiteral("INSERT INTO .*")},
                                {QStringLiteral("reply"),
                                 QJsonDocument::fromJson(R"j([{"done": {"count": 1}}])j").array()}}}}});
    ov::Connection server;
    if (!server.Open(QStringLiteral("Provider=SQLOLEDB.1;User ID=sa;Password=pw;Initial Catalog=crm;Data "
                                    "Source=") +
                     peer.server()))
        fail(QStringLiteral("cannot log in to the peer: ") + server.lastError().description);
    ov::PlainStatusLabel status;
    ov::PlainProgressBar progress;
    if (!mdlOVSqlUpdateDB::TransferDataFormCnToCn(&file, &server, {QString(), QStringLiteral("t")}, status,
                                                  progress))
        fail(QStringLiteral("the transfer failed"));
    server.Close();

    // The rows' round trips: after the read of the table's columns, up to
    // the commit.
    int roundTrips = 0;
    int arrays = 0;
    int rows = 0;
    qint64 bytes = 0;
    bool started = false;
    for (const Message& m : peer.messages()) {
        if (started && m.type == kTransaction)
            break;
        if (started) {
            ++roundTrips;
            bytes += m.bytes;
            int carried = 0;
            for (const QJsonObject& r : m.requests) {
                const QString proc = r[QStringLiteral("proc")].toString();
                carried += proc == QLatin1String("sp_execute") || proc == QLatin1String("sp_prepexec");
            }
            rows += carried;
            arrays += carried > 1;
        }
        started = started ||
                  (m.type == kBatch && textOf(m.requests.value(0)) == QLatin1String("SELECT * FROM [t]"));
    }
    if (rows != kRows)
        fail(QStringLiteral("the peer received %1 of %2 rows").arg(rows).arg(kRows));
    const int arraySize = mdlOVSqlUpdateDB::kTransferBatchRows;
    const int batchesPer1000 = (1000 + arraySize - 1) / arraySize;
    const double per1000 = 1000.0 / kRows;
    std::printf("transfer on the wire, parameter arrays per 1000 rows (array size %d): ours %g, at most %d\n",
                arraySize, arrays * per1000, batchesPer1000);
    std::printf("transfer on the wire, round trips per 1000 rows: ours %g, at most %d\n",
                roundTrips * per1000, 4 * batchesPer1000);
    std::printf("transfer on the wire, bytes per 1000 rows: ours %.0f, freebcp %.0f, ratio %.2f\n",
                bytes * per1000, peerBytes * per1000, double(bytes) / double(peerBytes));
    std::fflush(stdout);
}

void bulkCopy(const QString& folder, qint64 peerBytes)
{
    const QString data = folder + QStringLiteral("/set/");
    QDir().mkpath(data);
    writeFile(data + QStringLiteral("tables.txt"), "many\r\nfew\r\n");
    writeFile(data + QStringLiteral("many.dat"), dataFile(kRows));
    writeFile(data + QStringLiteral("few.dat"), dataFile(kFewRows));
    Peer peer(bulkServer());
    ov::PlainStatusLabel status;
    ov::PlainProgressBar progress;
    if (!mdlOVSqlUpdateDB::ImportTableData(peer.server(), QStringLiteral("crm"), false, QStringLiteral("sa"),
                                           QStringLiteral("pw"), data, status, progress))
        fail(QStringLiteral("the import failed"));

    // Each connection belongs to the table its statements name.
    const QList<Message> messages = peer.messages();
    QMap<int, QString> tableOf;
    for (const Message& m : messages) {
        for (const QJsonObject& r : m.requests) {
            for (const char* table : {"many", "few"})
                if (textOf(r).contains(QStringLiteral("[%1]").arg(QLatin1String(table))))
                    tableOf[m.connection] = QLatin1String(table);
        }
    }
    QMap<QString, int> roundTrips;
    QMap<QString, int> streams;
    qint64 bytes = 0;
    for (const Message& m : messages) {
        const QString table = tableOf.value(m.connection);
        if (table.isEmpty())
            continue;
        ++roundTrips[table];
        if (m.type == kBulk) {
            ++streams[table];
            if (table == QLatin1String("many"))
                bytes += m.bytes;
        }
    }
    std::printf("bulk copy on the wire, INSERT BULK streams per table: ours %g, at most 1\n",
                (streams.value(QStringLiteral("many")) + streams.value(QStringLiteral("few"))) / 2.0);
    std::printf(
        "bulk copy on the wire, round trips per 1000 rows more (%d rows against %d): ours %g, at most 0\n",
        kRows, kFewRows,
        double(roundTrips.value(QStringLiteral("many")) - roundTrips.value(QStringLiteral("few"))) * 1000.0 /
            (kRows - kFewRows));
    std::printf("bulk copy on the wire, bytes per 1000 rows: ours %.0f, freebcp %.0f, ratio %.2f\n",
                bytes * 1000.0 / kRows, peerBytes * 1000.0 / kRows, double(bytes) / double(peerBytes));
    std::fflush(stdout);
}

void update()
{
    const QString shipped = QStringLiteral(OV_SOURCE_DIR "/dist/OVScriptUpdate.txt");
    QFile file(shipped);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read ") + shipped);
    int batches = 0;
    int blocks = 0;
    int transactions = 0;
    for (QByteArray line : file.readAll().split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        switch (mdlOVSqlUpdateDB::ClassifyScriptLine(QString::fromLatin1(line))) {
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
    Peer peer(QJsonObject{
        {QStringLiteral("rules"),
         QJsonArray{
             rule(
                 QStringLiteral("regex"),
                 QStringLiteral("SET NOCOUNT ON; DECLARE @result int; EXEC @result = sp_getapplock .*"),
                 R"j([{"columns": [{"name": "result", "type": "int"}], "rows": [[0]]}, {"done": {"count": 1}}])j"),
             rule(QStringLiteral("match"),
                  QStringLiteral("SELECT * FROM tblVarible WHERE [Module] ='DB' AND VaribleName = 'Version'"),
                  R"j([{"columns": [{"name": "VaribleName", "type": "nvarchar(50)"},
                                    {"name": "VaribleValue", "type": "nvarchar(255)"},
                                    {"name": "UserID", "type": "nvarchar(50)"}, {"name": "Module", "type": "nvarchar(50)"}],
                       "rows": [["Version", "0", "", "DB"]]}, {"done": {"count": 1}}])j")}}});
    ov::PlainStatusLabel status;
    ov::PlainProgressBar progress;
    if (!mdlOVSqlUpdateDB::RunUpdateScript(peer.server(), QStringLiteral("crm"), false, QStringLiteral("sa"),
                                           QStringLiteral("pw"), shipped, status, progress))
        fail(QStringLiteral("the update failed"));
    std::printf("update of the shipped script on the wire, round trips (%d batches, %d version blocks, %d "
                "transactions): ours %lld, at most %d\n",
                batches, blocks, transactions, qint64(peer.messages().size()),
                batches + 4 * blocks + 3 * transactions + 6);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        fail(QStringLiteral("no temporary folder"));
    // The runner, the transfer and the import write the update log into the
    // program folder: the temporary one.
    mdlOVSqlUpdateDB::gstrAppPath = dir.path() + QLatin1Char('/');
    const qint64 peerBytes = freebcpBytes(dir.path(), kRows);
    QDir().mkpath(dir.filePath(QStringLiteral("transfer")));
    transfer(dir.filePath(QStringLiteral("transfer")), peerBytes);
    bulkCopy(dir.path(), peerBytes);
    update();
    return 0;
}
