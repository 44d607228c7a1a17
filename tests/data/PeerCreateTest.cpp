// ovsqlcli create against the scripted TDS peer, through the real FreeTDS
// ODBC driver and DB-Library: the statements on master are those of its
// --sql-out transcript, and the rows of each bulk copy, as the server decodes
// them, are the values of the data set's .dat files, GBK or UTF-8.

#include "DataTestSupport.h"

#include "common/Cp936.h"
#include "support/CliProgram.h"
#include "support/PeerTranscript.h"
#include "support/TdsPeer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using ovtest::str;
using ovtest::TdsPeer;

namespace {

QJsonArray array(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).array();
}

// The columns of both tables of the data set, as SQL Server describes them
// to the bulk copy (SET FMTONLY ON) on a Chinese_PRC_CI_AS server.
const QByteArray kColumns = R"j([{"name": "id", "type": "int", "null": false},
    {"name": "名称", "type": "nvarchar(20)"}, {"name": "备注", "type": "varchar(20)"},
    {"name": "生日", "type": "datetime"}, {"name": "金额", "type": "decimal(10,2)"},
    {"name": "停用", "type": "bit"}])j";

// SQL Server without database until it is created, the task lock free;
// the schema script's tables (any name) and their columns.
QJsonObject server(const QString& database = QStringLiteral("新库"))
{
    const QString list = QStringLiteral("SELECT name FROM master.sys.databases ORDER BY database_id");
    const QJsonObject names{{QStringLiteral("name"), QStringLiteral("name")},
                            {QStringLiteral("type"), QStringLiteral("nvarchar(128)")}};
    QJsonArray rules = array(R"j([
        {"regex": "SET NOCOUNT ON; DECLARE @result int; EXEC @result = sp_getapplock .*", "reply": [
            {"columns": [{"name": "result", "type": "int"}], "rows": [[0]]}, {"done": {"count": 1}}]},
        {"regex": "SELECT COUNT\\(\\*\\) FROM sys\\.columns WHERE object_id = OBJECT_ID\\(N'.*'\\)",
         "reply": [{"columns": [{"name": "", "type": "int"}], "rows": [[6]]}, {"done": {"count": 1}}]},
        {"regex": "SELECT \\* FROM tblVarible WHERE \\[Module\\] ='DB' AND VaribleName = 'Version'", "reply": [
            {"columns": [{"name": "VaribleName", "type": "nvarchar(50)"},
                         {"name": "VaribleValue", "type": "nvarchar(255)"}],
             "rows": [["Version", "0"]]}, {"done": {"count": 1}}]}])j");
    // The list of databases, first without the new one, then with it.
    rules.append(QJsonObject{
        {QStringLiteral("match"), list},
        {QStringLiteral("times"), 1},
        {QStringLiteral("reply"),
         QJsonArray{QJsonObject{{QStringLiteral("columns"), QJsonArray{names}},
                                {QStringLiteral("rows"), array(R"j([["master"], ["tempdb"]])j")}}}}});
    rules.append(QJsonObject{{QStringLiteral("match"), list},
                             {QStringLiteral("reply"),
                              QJsonArray{QJsonObject{{QStringLiteral("columns"), QJsonArray{names}},
                                                     {QStringLiteral("rows"),
                                                      QJsonArray{QJsonArray{"master"}, QJsonArray{"tempdb"},
                                                                 QJsonArray{database}}}}}}});
    rules.append(QJsonObject{
        {QStringLiteral("regex"), QStringLiteral("SET FMTONLY ON select \\* from \\[.*\\] SET FMTONLY OFF")},
        {QStringLiteral("reply"), QJsonArray{QJsonObject{{QStringLiteral("columns"), array(kColumns)},
                                                         {QStringLiteral("rows"), QJsonArray()}},
                                             QJsonObject{{QStringLiteral("done"), QJsonObject()}}}}});
    return QJsonObject{{QStringLiteral("databases"), QJsonArray{"master", database}},
                       {QStringLiteral("rules"), rules}};
}

// The rows of both files, as text: NULLs (empty fields), dates with and
// without milliseconds, negative and large decimals, bits, Chinese in
// Unicode and in code-page columns.
const QString kRows = QStringLiteral("1\t张三\t备注一\t2026-01-05 09:00:00\t12.50\t0\r\n"
                                     "2\t\t\t\t\t\r\n"
                                     "3\t李四 \"引\" 'x'\t乙\t1999-12-31 23:59:59.997\t-0.01\t1\r\n"
                                     "4\tO'Neil\t[a]\t1900-01-01\t99999999.99\t1\r\n");
const QByteArray kDecoded = R"j([
    [1, "张三", "备注一", "2026-01-05 09:00:00.000", "12.50", false],
    [2, null, null, null, null, null],
    [3, "李四 \"引\" 'x'", "乙", "1999-12-31 23:59:59.997", "-0.01", true],
    [4, "O'Neil", "[a]", "1900-01-01 00:00:00.000", "99999999.99", true]])j";

} // namespace

TEST(MssqlPeer, CreateCopiesTheDataSetsRowsAndSendsItsTranscriptsStatements)
{
    QTemporaryDir dir;
    ASSERT_TRUE(ovtest::InstallCli(dir.path()));
    ovtest::writeFile(dir.filePath(QStringLiteral("OVScriptEmpty.txt")),
                      "CREATE TABLE tblVarible (VaribleName nvarchar(50))\r\nGO\r\n");
    ovtest::writeFile(dir.filePath(QStringLiteral("OVScriptUpdate.txt")),
                      "--<VT:1.0>\r\nALTER TABLE tblVarible ADD x int\r\nGO\r\n--</V:1.0>\r\n");
    const QString data = dir.filePath(QStringLiteral("DBDataFiles/Blank/"));
    ASSERT_TRUE(QDir().mkpath(data));
    ovtest::writeFile(data + QStringLiteral("tables.txt"),
                      ov::cp936::encode(QStringLiteral("客户\r\ntblUser\r\n")));
    ovtest::writeFile(data + QStringLiteral("客户.dat"), ov::cp936::encode(kRows));
    ovtest::writeFile(data + QStringLiteral("tblUser.dat"), QByteArray("\xEF\xBB\xBF") + kRows.toUtf8());
    const QStringList login = {QStringLiteral("create"),          QStringLiteral("--blank"),
                               QStringLiteral("--database"),      QStringLiteral("新库"),
                               QStringLiteral("--user"),          QStringLiteral("sa"),
                               QStringLiteral("--password-stdin")};

    TdsPeer peer(server());
    ASSERT_TRUE(peer.isRunning()) << str(peer.error());
    const ovtest::CliResult r =
        ovtest::RunCli(dir.path(), login + QStringList{QStringLiteral("--server"), peer.server()}, "pw\n");
    EXPECT_EQ(r.exitCode, 0) << str(r.out) << str(r.err);
    EXPECT_TRUE((r.out + r.err).contains(QStringLiteral("创建数据库成功！"))) << str(r.out + r.err);

    const QList<QJsonObject> bulk = peer.events(QStringLiteral("bulk"));
    ASSERT_EQ(bulk.size(), 2) << str(peer.statements().join('\n'));
    const QStringList tables = {QStringLiteral("客户"), QStringLiteral("tblUser")};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(str(tables[i]));
        EXPECT_TRUE(bulk[i][QStringLiteral("statement")].toString().startsWith(
            QStringLiteral("insert bulk [%1] (").arg(tables[i])))
            << str(bulk[i][QStringLiteral("statement")].toString());
        EXPECT_EQ(bulk[i][QStringLiteral("rows")].toArray(), array(kDecoded))
            << QJsonDocument(bulk[i][QStringLiteral("rows")].toArray()).toJson().toStdString();
    }

    // The statements the transcript writes as batches are those the
    // connection that creates the database sends, in order. The transcript
    // is made against a server without the database, as the run was.
    TdsPeer dry(server());
    ASSERT_TRUE(dry.isRunning()) << str(dry.error());
    const QString sqlOut = dir.filePath(QStringLiteral("c.sql"));
    const ovtest::CliResult transcribed = ovtest::RunCli(
        dir.path(),
        login + QStringList{QStringLiteral("--server"), dry.server(), QStringLiteral("--sql-out"), sqlOut},
        "pw\n");
    EXPECT_TRUE(dry.events(QStringLiteral("bulk")).isEmpty());
    EXPECT_FALSE(dry.statements().contains(QStringLiteral("CREATE DATABASE [新库]")))
        << str(dry.statements().join('\n'));
    ASSERT_EQ(transcribed.exitCode, 0) << str(transcribed.err);
    const QStringList transcript = ovtest::TranscriptBatches(QString::fromUtf8(ovtest::readFile(sqlOut)));
    // The transcript ends where the scripts would run on the new database,
    // and then gives the task lock back, as the run does after them.
    const QStringList all = peer.statements();
    const int altered = int(all.indexOf(QStringLiteral("ALTER DATABASE [新库] SET AUTO_CLOSE OFF")));
    ASSERT_GT(altered, 0) << str(all.join('\n'));
    ASSERT_FALSE(transcript.isEmpty());
    EXPECT_EQ(all.mid(0, altered + 1), transcript.mid(0, transcript.size() - 1)) << str(all.join('\n'));
    EXPECT_EQ(all.last(), transcript.last());
}

// A row the bulk copy cannot convert (a decimal beyond its precision) is
// left out of the load and written to the table's
// .err file; the others reach the server. The creation then fails: it is
// not called a success, and the mark of the unfinished creation stays.
TEST(MssqlPeer, CreateWithARefusedRowFailsAndKeepsTheUnfinishedMark)
{
    QTemporaryDir dir;
    ASSERT_TRUE(ovtest::InstallCli(dir.path()));
    ovtest::writeFile(dir.filePath(QStringLiteral("OVScriptEmpty.txt")),
                      "CREATE TABLE tblVarible (VaribleName nvarchar(50))\r\nGO\r\n");
    ovtest::writeFile(dir.filePath(QStringLiteral("OVScriptUpdate.txt")), "");
    const QString data = dir.filePath(QStringLiteral("DBDataFiles/Blank/"));
    ASSERT_TRUE(QDir().mkpath(data));
    ovtest::writeFile(data + QStringLiteral("tables.txt"), "tblUser\r\n");
    ovtest::writeFile(data + QStringLiteral("tblUser.dat"),
                      ov::cp936::encode(QStringLiteral("2\t李四\t乙\t2026-01-05\t123456789.00\t0\r\n"
                                                       "3\t王五\t丙\t2026-01-05\t2.00\t1\r\n")));
    TdsPeer peer(server());
    ASSERT_TRUE(peer.isRunning()) << str(peer.error());
    const ovtest::CliResult r =
        ovtest::RunCli(dir.path(),
                       {QStringLiteral("create"), QStringLiteral("--blank"), QStringLiteral("--database"),
                        QStringLiteral("新库"), QStringLiteral("--user"), QStringLiteral("sa"),
                        QStringLiteral("--password-stdin"), QStringLiteral("--server"), peer.server()},
                       "pw\n");
    EXPECT_EQ(r.exitCode, 1) << str(r.out) << str(r.err);
    const QString said = r.out + r.err;
    EXPECT_FALSE(said.contains(QStringLiteral("创建数据库成功！"))) << str(said);
    EXPECT_TRUE(said.contains(QStringLiteral("以下数据表的数据没有完整导入数据库"))) << str(said);
    const QList<QJsonObject> bulk = peer.events(QStringLiteral("bulk"));
    ASSERT_EQ(bulk.size(), 1) << str(peer.statements().join('\n'));
    EXPECT_EQ(bulk[0][QStringLiteral("rows")].toArray(),
              array(R"j([[3, "王五", "丙", "2026-01-05 00:00:00.000", "2.00", true]])j"))
        << QJsonDocument(bulk[0][QStringLiteral("rows")].toArray()).toJson().toStdString();
    EXPECT_FALSE(ovtest::readFile(data + QStringLiteral("tblUser.err")).isEmpty());
    for (const QString& sent : peer.statements())
        EXPECT_FALSE(sent.contains(QStringLiteral("'Creating'")) && sent.startsWith(QStringLiteral("DELETE")))
            << str(sent);
}

// DB-Library converts a date that does not exist ("2026-02-30") to another
// day (2026-03-02) and reads other fields loosely too: the rows are checked
// against the table's columns before the bulk copy, as the embedded engine's
// loader checks them. A row that does not fit goes to the .err file with its
// reason, never to the server; the row after it is copied, and the creation
// fails as with a row the server refuses.
TEST(MssqlPeer, CreateRefusesAFieldItsColumnDoesNotHoldExactly)
{
    struct Case
    {
        const char* what;
        QByteArray row;
    };
    const Case cases[] = {
        {"a date that does not exist", "1\tx\ty\t2026-02-30 09:00:00\t1.00\t0"},
        {"an hour that does not exist", "1\tx\ty\t2026-01-05 25:00:00\t1.00\t0"},
        {"a decimal beyond its precision", "1\tx\ty\t2026-01-05\t123456789.00\t0"},
        {"a number with a letter", "1\tx\ty\t2026-01-05\t1.0x\t0"},
        {"an integer beyond int", "2147483648\tx\ty\t2026-01-05\t1.00\t0"},
        {"a code-page text beyond its bytes", "1\tx\t" + QByteArray(21, 'y') + "\t2026-01-05\t1.00\t0"},
        {"too few fields", "1\tx\ty\t2026-01-05\t1.00"},
        {"no value for a column without NULL", "\tx\ty\t2026-01-05\t1.00\t0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        ASSERT_TRUE(ovtest::InstallCli(dir.path()));
        ovtest::writeFile(dir.filePath(QStringLiteral("OVScriptEmpty.txt")),
                          "CREATE TABLE tblVarible (VaribleName nvarchar(50))\r\nGO\r\n");
        ovtest::writeFile(dir.filePath(QStringLiteral("OVScriptUpdate.txt")), "");
        const QString data = dir.filePath(QStringLiteral("DBDataFiles/Blank/"));
        ASSERT_TRUE(QDir().mkpath(data));
        ovtest::writeFile(data + QStringLiteral("tables.txt"), "tblUser\r\n");
        ovtest::writeFile(data + QStringLiteral("tblUser.dat"),
                          c.row +
                              ov::cp936::encode(QStringLiteral("\r\n3\t王五\t丙\t2026-01-05\t2.00\t1\r\n")));
        TdsPeer peer(server());
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        const ovtest::CliResult r =
            ovtest::RunCli(dir.path(),
                           {QStringLiteral("create"), QStringLiteral("--blank"), QStringLiteral("--database"),
                            QStringLiteral("新库"), QStringLiteral("--user"), QStringLiteral("sa"),
                            QStringLiteral("--password-stdin"), QStringLiteral("--server"), peer.server()},
                           "pw\n");
        EXPECT_EQ(r.exitCode, 1) << str(r.out) << str(r.err);
        const QList<QJsonObject> bulk = peer.events(QStringLiteral("bulk"));
        ASSERT_EQ(bulk.size(), 1) << str(peer.statements().join('\n'));
        EXPECT_EQ(bulk[0][QStringLiteral("rows")].toArray(),
                  array(R"j([[3, "王五", "丙", "2026-01-05 00:00:00.000", "2.00", true]])j"))
            << QJsonDocument(bulk[0][QStringLiteral("rows")].toArray()).toJson().toStdString();
        const QByteArray rejected = ovtest::readFile(data + QStringLiteral("tblUser.err"));
        EXPECT_TRUE(rejected.startsWith("#@ Row 1: ")) << rejected.toStdString();
        EXPECT_TRUE(rejected.endsWith(" @#\r\n" + c.row + "\r\n")) << rejected.toStdString();
    }
}

// Names that would break out of their quotes: a database and a table with
// "]", "'" and a statement after them reach the server only inside brackets
// and literals, in every statement of the creation and its bulk copy.
TEST(MssqlPeer, CreateQuotesHostileNamesInEveryStatement)
{
    QTemporaryDir dir;
    ASSERT_TRUE(ovtest::InstallCli(dir.path()));
    ovtest::writeFile(dir.filePath(QStringLiteral("OVScriptEmpty.txt")), "CREATE TABLE x (a int)\r\nGO\r\n");
    ovtest::writeFile(dir.filePath(QStringLiteral("OVScriptUpdate.txt")), "");
    const QString data = dir.filePath(QStringLiteral("DBDataFiles/Blank/"));
    ASSERT_TRUE(QDir().mkpath(data));
    ovtest::writeFile(data + QStringLiteral("tables.txt"), ov::cp936::encode(QStringLiteral("客]户'表\r\n")));
    ovtest::writeFile(data + QStringLiteral("客]户'表.dat"), ov::cp936::encode(kRows));
    const QString db = QStringLiteral("新]库'; DROP DATABASE x--");
    TdsPeer peer(server(db));
    ASSERT_TRUE(peer.isRunning()) << str(peer.error());
    const ovtest::CliResult r =
        ovtest::RunCli(dir.path(),
                       {QStringLiteral("create"), QStringLiteral("--blank"), QStringLiteral("--database"), db,
                        QStringLiteral("--user"), QStringLiteral("sa"), QStringLiteral("--password-stdin"),
                        QStringLiteral("--server"), peer.server()},
                       "pw\n");
    EXPECT_EQ(r.exitCode, 0) << str(r.out) << str(r.err);
    const QStringList sent = peer.statements();
    for (const QString& statement :
         {QStringLiteral("CREATE DATABASE [新]]库'; DROP DATABASE x--]"),
          QStringLiteral("ALTER DATABASE [新]]库'; DROP DATABASE x--] SET RECOVERY SIMPLE"),
          QStringLiteral("USE [新]]库'; DROP DATABASE x--]"),
          QStringLiteral("SELECT COUNT(*) FROM sys.columns WHERE object_id = OBJECT_ID(N'[客]]户''表]')")})
        EXPECT_TRUE(sent.contains(statement)) << str(statement) << "\n" << str(sent.join('\n'));
    const QList<QJsonObject> bulk = peer.events(QStringLiteral("bulk"));
    ASSERT_EQ(bulk.size(), 1) << str(sent.join('\n'));
    EXPECT_TRUE(bulk[0][QStringLiteral("statement")].toString().startsWith(
        QStringLiteral("insert bulk [客]]户'表] (")))
        << str(bulk[0][QStringLiteral("statement")].toString());
    EXPECT_EQ(bulk[0][QStringLiteral("rows")].toArray(), array(kDecoded));
}
