// The scripted TDS peer of the test kit (tests/support/tdspeer.py), checked
// against clients that know SQL Server's protocol independently of it: the
// FreeTDS ODBC driver under the project's data layer, FreeTDS's tsql and
// freebcp, and python3-tds.

#include "DataTestSupport.h"

#include "data/DataError.h"
#include "data/odbc/MssqlBulkCopy.h"
#include "support/TdsPeer.h"
#include "support/Wait.h"

#include <gtest/gtest-spi.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>

#include <csignal>

using namespace ov;
using ovtest::JsonArray;
using ovtest::str;
using ovtest::TdsPeer;

namespace {

// A script with one rule: the statement text answered by reply (a JSON array).
QJsonObject oneRule(const QString& text, const QByteArray& reply, QJsonObject script = {})
{
    script.insert(QStringLiteral("rules"),
                  QJsonArray{QJsonObject{{QStringLiteral("match"), text},
                                         {QStringLiteral("reply"), JsonArray(reply)}}});
    return script;
}

struct ClientRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs one of FreeTDS's programs (or any other) against the peer.
ClientRun runClient(const TdsPeer& peer, const QString& program, const QStringList& args,
                    const QByteArray& input = QByteArray())
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FREETDSCONF"), peer.freetdsConf());
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(peer.folder());
    p.start(program, args);
    EXPECT_TRUE(p.waitForStarted()) << str(program);
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(60000)) << str(program);
    ClientRun r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// Each column type the peer sends, the value it is given in the script, and
// the value the data layer reads through the FreeTDS ODBC driver.
struct TypeCase
{
    const char* type;
    QJsonValue wire;
    QVariant read;
};

QByteArray longBytes(int length)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char(i * 7 % 256);
    return bytes;
}

QList<TypeCase> typeCases()
{
    const QByteArray bytes = longBytes(9000);
    return {
        {"int", 2147483647, 2147483647},
        {"int", -2147483647 - 1, int(-2147483647 - 1)},
        {"bigint", QString::number(Q_INT64_C(9007199254740993)), qlonglong(Q_INT64_C(9007199254740993))},
        {"smallint", -32768, -32768},
        {"tinyint", 255, 255},
        {"bit", true, true},
        {"bit", false, false},
        {"decimal(18,4)", QStringLiteral("-12345678901234.5678"), QStringLiteral("-12345678901234.5678")},
        {"numeric(5,2)", QStringLiteral("0.05"), QStringLiteral("0.05")},
        {"float", 1.5e300, 1.5e300},
        {"float", -0.1, -0.1},
        {"datetime", QStringLiteral("2024-02-29 23:59:59.997"),
         QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59, 997))},
        {"datetime", QStringLiteral("1753-01-01 00:00:00"), QDateTime(QDate(1753, 1, 1), QTime(0, 0))},
        {"nvarchar(40)", QStringLiteral("中文 'quoted' \"d\" ]x["),
         QStringLiteral("中文 'quoted' \"d\" ]x[")},
        {"nvarchar(10)", QStringLiteral(""), QStringLiteral("")},
        {"nvarchar(20)", QStringLiteral("\t\r\n\x01\\%&^\""), QStringLiteral("\t\r\n\x01\\%&^\"")},
        {"varchar(20)", QStringLiteral("客户 abc"), QStringLiteral("客户 abc")},
        {"nvarchar(max)", QStringLiteral("短"), QStringLiteral("短")},
        {"varchar(max)", QStringLiteral("plain"), QStringLiteral("plain")},
        {"varbinary(10)", QStringLiteral("0x00FF10"), QByteArray("\x00\xFF\x10", 3)},
        {"varbinary(max)", QStringLiteral("0x") + QString::fromLatin1(bytes.toHex()), bytes},
    };
}

} // namespace

// Every type of the table, and NULL in each, reach the data layer exactly.
TEST(TdsPeer, ValuesOfEveryTypeReachTheOdbcLayerExactly)
{
    const QList<TypeCase> cases = typeCases();
    QJsonArray columns;
    QJsonArray values;
    QJsonArray nulls;
    for (int i = 0; i < cases.size(); ++i) {
        columns.append(QJsonObject{{QStringLiteral("name"), QStringLiteral("c%1").arg(i)},
                                   {QStringLiteral("type"), QString::fromLatin1(cases[i].type)}});
        // bigint travels as a number the script cannot hold exactly in a double.
        values.append(QLatin1String(cases[i].type) == QLatin1String("bigint")
                          ? QJsonValue(qint64(cases[i].wire.toString().toLongLong()))
                          : cases[i].wire);
        nulls.append(QJsonValue::Null);
    }
    const QJsonObject result{{QStringLiteral("columns"), columns},
                             {QStringLiteral("rows"), QJsonArray{values, nulls}}};
    QJsonObject script = oneRule(QStringLiteral("SELECT * FROM types"), "[]");
    QJsonObject rule = script[QStringLiteral("rules")].toArray()[0].toObject();
    rule[QStringLiteral("reply")] =
        QJsonArray{result, QJsonObject{{QStringLiteral("done"), QJsonObject{{QStringLiteral("count"), 2}}}}};
    script[QStringLiteral("rules")] = QJsonArray{rule};
    TdsPeer peer(script);
    ASSERT_TRUE(peer.isRunning()) << str(peer.error());

    Connection cn;
    ASSERT_TRUE(cn.Open(peer.login(QStringLiteral("crm")))) << str(cn.lastError().description);
    Recordset rs;
    ASSERT_TRUE(rs.Open(QStringLiteral("SELECT * FROM types"), cn)) << str(rs.lastError().description);
    ASSERT_EQ(rs.FieldCount(), cases.size());
    ASSERT_FALSE(rs.Eof());
    for (int i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].type);
        const QVariant v = rs.Fields(i).Value();
        EXPECT_EQ(v, cases[i].read) << str(v.toString()) << " / " << str(cases[i].read.toString());
    }
    ASSERT_TRUE(rs.MoveNext()) << str(rs.lastError().description);
    ASSERT_FALSE(rs.Eof());
    for (int i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].type);
        EXPECT_TRUE(rs.Fields(i).IsNull()) << str(rs.Fields(i).Value().toString());
    }
    EXPECT_TRUE(rs.MoveNext());
    EXPECT_TRUE(rs.Eof());
    rs.Close();
    cn.Close();
    EXPECT_TRUE(peer.statements().contains(QStringLiteral("SELECT * FROM types")))
        << str(peer.statements().join(QLatin1Char('\n')));
}

// The login names the database, the user and the password as given, and the
// server version the script chose is the one the driver sees.
TEST(TdsPeer, LoginIsRecordedAndEachServerVersionIsAccepted)
{
    for (const char* version : {"2005", "2008", "2012", "2019"}) {
        SCOPED_TRACE(version);
        TdsPeer peer(QJsonObject{{QStringLiteral("version"), QLatin1String(version)}});
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        {
            Connection cn;
            ASSERT_TRUE(cn.Open(
                peer.login(QStringLiteral("客户"), QStringLiteral("o'brien"), QStringLiteral("p;w=\"x\""))))
                << str(cn.lastError().description);
            EXPECT_TRUE(cn.Execute(QStringLiteral("UPDATE t SET a = N'中文'")))
                << str(cn.lastError().description);
        }
        const QList<QJsonObject> logins = peer.events(QStringLiteral("login"));
        ASSERT_EQ(logins.size(), 1);
        EXPECT_EQ(logins[0][QStringLiteral("database")].toString(), QStringLiteral("客户"));
        EXPECT_EQ(logins[0][QStringLiteral("user")].toString(), QStringLiteral("o'brien"));
        EXPECT_EQ(logins[0][QStringLiteral("password")].toString(), QStringLiteral("p;w=\"x\""));
        EXPECT_TRUE(peer.statements().contains(QStringLiteral("UPDATE t SET a = N'中文'")));
    }
}

// A refused login gives SQL Server's 18456, with the refused database's 4060
// before it when the database is unknown.
TEST(TdsPeer, RefusedLoginsGiveTheServersErrors)
{
    {
        TdsPeer peer(R"j({"password": "right"})j");
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        Connection cn;
        EXPECT_FALSE(
            cn.Open(peer.login(QStringLiteral("crm"), QStringLiteral("sa"), QStringLiteral("wrong"))));
        EXPECT_EQ(cn.lastError().number, 18456) << str(cn.lastError().description);
        EXPECT_TRUE(cn.lastError().description.contains(QLatin1String("Login failed for user 'sa'.")))
            << str(cn.lastError().description);
        Connection right;
        EXPECT_TRUE(
            right.Open(peer.login(QStringLiteral("crm"), QStringLiteral("sa"), QStringLiteral("right"))))
            << str(right.lastError().description);
    }
    {
        TdsPeer peer(R"j({"databases": ["master", "crm"]})j");
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        Connection cn;
        EXPECT_FALSE(cn.Open(peer.login(QStringLiteral("other"))));
        EXPECT_TRUE(cn.lastError().description.contains(QLatin1String("Cannot open database \"other\"")))
            << str(cn.lastError().description);
        Connection known;
        EXPECT_TRUE(known.Open(peer.login(QStringLiteral("CRM")))) << str(known.lastError().description);
    }
}

// An error after a first set of rows reaches the caller of a batch.
TEST(TdsPeer, ErrorAfterAFirstResultFailsTheBatch)
{
    // The second script leaves out the closing DONE, which the peer then adds.
    const char* replies[] = {
        R"j([{"columns": [{"name": "a", "type": "int"}], "rows": [[1], [2]]}, {"done": {"count": 2}},
             {"error": {"number": 50000, "class": 16, "state": 1, "message": "late"}}, {"done": {}}])j",
        R"j([{"columns": [{"name": "a", "type": "int"}], "rows": [[1], [2]]}, {"done": {"count": 2}},
             {"error": {"number": 50000, "class": 16, "state": 1, "message": "late"}}])j",
    };
    for (const char* reply : replies) {
        SCOPED_TRACE(reply);
        TdsPeer peer(oneRule(QStringLiteral("SELECT 1; RAISERROR('late', 16, 1)"), reply));
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        Connection cn;
        ASSERT_TRUE(cn.Open(peer.login(QStringLiteral("crm")))) << str(cn.lastError().description);
        EXPECT_FALSE(cn.Execute(QStringLiteral("SELECT 1; RAISERROR('late', 16, 1)")));
        EXPECT_EQ(cn.lastError().number, 50000) << str(cn.lastError().description);
        EXPECT_TRUE(cn.lastError().description.contains(QLatin1String("late")))
            << str(cn.lastError().description);
        // The connection is ready for the next batch.
        EXPECT_TRUE(cn.Execute(QStringLiteral("UPDATE t SET a = 1"))) << str(cn.lastError().description);
    }
}

// A connection dropped in the middle of a batch fails the batch, never
// succeeds; FreeTDS reports the lost connection itself (SQLSTATE class 08) at
// the next statement.
TEST(TdsPeer, ConnectionDroppedMidBatchFailsTheBatch)
{
    const char* replies[] = {
        R"j([{"close": true}])j",
        R"j([{"info": {"number": 0, "class": 0, "message": "halfway"}}, {"close": true}])j",
        R"j([{"columns": [{"name": "a", "type": "int"}], "rows": [[1]]}, {"done": {"count": 1}},
             {"close": true}])j",
        R"j([{"error": {"number": 547, "message": "conflict"}}, {"done": {}}, {"close": true}])j",
    };
    for (const char* reply : replies) {
        SCOPED_TRACE(reply);
        TdsPeer peer(oneRule(QStringLiteral("UPDATE t SET a = 1"), reply));
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        Connection cn;
        ASSERT_TRUE(cn.Open(peer.login(QStringLiteral("crm")))) << str(cn.lastError().description);
        EXPECT_FALSE(cn.Execute(QStringLiteral("UPDATE t SET a = 1")));
        EXPECT_TRUE(cn.lastError().isSet());
        EXPECT_FALSE(cn.Execute(QStringLiteral("SELECT 1")));
        EXPECT_TRUE(cn.lastError().source.startsWith(QLatin1String("ODBC 08")))
            << str(cn.lastError().source) << " " << str(cn.lastError().description);
        EXPECT_EQ(peer.statements(), QStringList{QStringLiteral("UPDATE t SET a = 1")});
    }
}

// Silence meets the time-outs: at the login, and at a batch, where the driver
// then sends an attention that the peer answers.
TEST(TdsPeer, SilenceEndsAtTheLoginAndQueryTimeOuts)
{
    // Silent after the login packet, and mute from the first byte on.
    for (const char* login : {"silent", "mute"}) {
        SCOPED_TRACE(login);
        TdsPeer peer(QJsonObject{{QStringLiteral("login"), QLatin1String(login)}});
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        Connection cn;
        EXPECT_FALSE(cn.Open(peer.login(QStringLiteral("crm")) + QStringLiteral(";Connect Timeout=1")));
        EXPECT_TRUE(cn.lastError().description.contains(QLatin1String("Timeout expired")))
            << str(cn.lastError().description);
        EXPECT_EQ(peer.events(QStringLiteral("login")).size(),
                  QLatin1String(login) == QLatin1String("silent"));
    }
    {
        // A server that does not even answer the attention: the driver gives
        // the connection up.
        TdsPeer peer(R"j({"attention": "ignore", "rules": [{"match": "WAITFOR DELAY '01:00:00'",
                                                           "reply": [{"silent": true}]}]})j");
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        Connection cn;
        ASSERT_TRUE(cn.Open(peer.login(QStringLiteral("crm")))) << str(cn.lastError().description);
        cn.setCommandTimeout(1);
        EXPECT_FALSE(cn.Execute(QStringLiteral("WAITFOR DELAY '01:00:00'")));
        EXPECT_TRUE(peer.waitFor(QStringLiteral("attention")));
        EXPECT_FALSE(cn.Execute(QStringLiteral("SELECT 1")));
        EXPECT_TRUE(cn.lastError().source.startsWith(QLatin1String("ODBC 08"))) << str(cn.lastError().source);
    }
    {
        TdsPeer peer(oneRule(QStringLiteral("WAITFOR DELAY '01:00:00'"), R"j([{"silent": true}])j"));
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        Connection cn;
        ASSERT_TRUE(cn.Open(peer.login(QStringLiteral("crm")))) << str(cn.lastError().description);
        cn.setCommandTimeout(1);
        EXPECT_FALSE(cn.Execute(QStringLiteral("WAITFOR DELAY '01:00:00'")));
        EXPECT_EQ(cn.lastError().source, QStringLiteral("ODBC HYT00")) << str(cn.lastError().description);
        EXPECT_TRUE(peer.waitFor(QStringLiteral("attention")));
        // The connection still serves after the attention was answered.
        EXPECT_TRUE(cn.Execute(QStringLiteral("SELECT 1"))) << str(cn.lastError().description);
    }
}

// tsql prints the rows of a first result and the error that follows it, in
// the server's words.
TEST(TdsPeer, TsqlReadsResultsAndMessages)
{
    TdsPeer peer(oneRule(QStringLiteral("select a, b from t"), R"j([
        {"columns": [{"name": "a", "type": "int"}, {"name": "b", "type": "nvarchar(10)"}],
         "rows": [[7, "七"], [null, "x"]]}, {"done": {"count": 2}},
        {"error": {"number": 208, "class": 16, "state": 1, "message": "Invalid object name 'u'."}},
        {"done": {}}])j"));
    ASSERT_TRUE(peer.isRunning()) << str(peer.error());
    const ClientRun r = runClient(peer, QStringLiteral("tsql"),
                                  {QStringLiteral("-S"), QStringLiteral("peer"), QStringLiteral("-U"),
                                   QStringLiteral("sa"), QStringLiteral("-P"), QStringLiteral("pw")},
                                  "select a, b from t\ngo\nexit\n");
    EXPECT_TRUE(r.out.contains(QStringLiteral("7\t七"))) << str(r.out);
    EXPECT_TRUE(r.out.contains(QStringLiteral("NULL\tx"))) << str(r.out);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Msg 208 (severity 16, state 1)"))) << str(r.err);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Invalid object name 'u'."))) << str(r.err);
    EXPECT_EQ(peer.statements(), QStringList{QStringLiteral("select a, b from t\n")});
}

// freebcp learns the table's columns from the peer, sends INSERT BULK and the
// rows, and the peer decodes the rows to the values of the data file.
TEST(TdsPeer, FreebcpBulkLoadIsDecodedToTheFilesRows)
{
    TdsPeer peer(QJsonObject{{QStringLiteral("rules"), JsonArray(R"j([
        {"regex": "SET FMTONLY ON select \\* from crm\\.dbo\\.t SET FMTONLY OFF", "reply": [
            {"columns": [{"name": "id", "type": "int", "null": false}, {"name": "name", "type": "nvarchar(20)"},
                         {"name": "amount", "type": "decimal(10,2)"}, {"name": "at", "type": "datetime"},
                         {"name": "memo", "type": "varchar(max)"}, {"name": "code", "type": "varchar(8)"}],
             "rows": []}, {"done": {}}]}])j")}});
    ASSERT_TRUE(peer.isRunning()) << str(peer.error());
    const QString data = peer.folder() + QStringLiteral("/t.dat");
    ovtest::writeFile(data, "1\tabc\t12.50\t2024-01-31 23:59:59.997\tlong memo\tA'B\n"
                            "2\t中文\t-0.01\t1900-01-01 00:00:00\t备注\t编码\n"
                            "3\t\t\t\t\t\n");
    const ClientRun r =
        runClient(peer, QStringLiteral("freebcp"),
                  {QStringLiteral("crm.dbo.t"), QStringLiteral("in"), data, QStringLiteral("-c"),
                   QStringLiteral("-S"), QStringLiteral("peer"), QStringLiteral("-U"), QStringLiteral("sa"),
                   QStringLiteral("-P"), QStringLiteral("pw")});
    EXPECT_EQ(r.exitCode, 0) << str(r.out) << str(r.err);
    EXPECT_TRUE(r.out.contains(QLatin1String("3 rows copied"))) << str(r.out);
    const QList<QJsonObject> bulk = peer.events(QStringLiteral("bulk"));
    ASSERT_EQ(bulk.size(), 1);
    EXPECT_TRUE(
        bulk[0][QStringLiteral("statement")].toString().startsWith(QLatin1String("insert bulk crm.dbo.t (")))
        << str(bulk[0][QStringLiteral("statement")].toString());
    EXPECT_EQ(bulk[0][QStringLiteral("rows")].toArray(), JsonArray(R"j([
        [1, "abc", "12.50", "2024-01-31 23:59:59.997", "long memo", "A'B"],
        [2, "中文", "-0.01", "1900-01-01 00:00:00.000", "备注", "编码"],
        [3, null, null, null, null, null]])j"))
        << QJsonDocument(bulk[0][QStringLiteral("rows")].toArray()).toJson().toStdString();
}

// python3-tds reads a result, sends a parameterised statement as
// sp_executesql, whose parameters the peer decodes, and calls a procedure
// whose rows and return status it reads.
TEST(TdsPeer, PythonTdsReadsResultsAndItsParametersAreDecoded)
{
    TdsPeer peer(QJsonObject{{QStringLiteral("rules"), JsonArray(R"j([
        {"match": "select a, b, c from t", "reply": [
            {"columns": [{"name": "a", "type": "bigint"}, {"name": "b", "type": "nvarchar(max)"},
                         {"name": "c", "type": "decimal(10,2)"}, {"name": "d", "type": "datetime"}],
             "rows": [[1, "中文", "12.50", "2024-01-31 23:59:59.997"], [null, null, null, null]]},
            {"done": {"count": 2}}]},
        {"kind": "rpc", "match": "sp_count", "reply": [
            {"info": {"number": 0, "class": 0, "message": "counting"}},
            {"columns": [{"name": "n", "type": "smallint"}], "rows": [[7]]}, {"done": {"count": 1}},
            {"returnstatus": -3}]}])j")}});
    ASSERT_TRUE(peer.isRunning()) << str(peer.error());
    const QString program = QStringLiteral(R"j(
import sys, pytds
with pytds.connect(server="127.0.0.1", port=int(sys.argv[1]), database="crm", user="sa",
                   password="pw", autocommit=True) as c:
    cur = c.cursor()
    cur.execute("select a, b, c from t")
    print(repr(cur.fetchall()))
    cur.execute("insert into t values (%s, %s)", (5, "x中"))
    cur.callproc("sp_count", (1,))
    print(repr(cur.fetchall()), cur.get_proc_return_status())
)j");
    const ClientRun r = runClient(peer, QStringLiteral("/usr/bin/python3"),
                                  {QStringLiteral("-c"), program, QString::number(peer.port())});
    ASSERT_EQ(r.exitCode, 0) << str(r.err);
    EXPECT_EQ(r.out.trimmed(),
              QStringLiteral("[(1, '中文', Decimal('12.5'), datetime.datetime(2024, 1, 31, 23, 59, "
                             "59, 997000)), (None, None, None, None)]\n[(7,)] -3"));
    const QList<QJsonObject> rpc = peer.events(QStringLiteral("rpc"));
    ASSERT_EQ(rpc.size(), 2);
    EXPECT_EQ(rpc[1][QStringLiteral("proc")].toString(), QStringLiteral("sp_count"));
    EXPECT_EQ(rpc[1][QStringLiteral("params")].toArray()[0].toObject()[QStringLiteral("value")].toInt(), 1);
    EXPECT_EQ(rpc[0][QStringLiteral("proc")].toString(), QStringLiteral("sp_executesql"));
    EXPECT_EQ(rpc[0][QStringLiteral("statement")].toString(),
              QStringLiteral("insert into t values (@P1, @P2)"));
    const QJsonArray params = rpc[0][QStringLiteral("params")].toArray();
    ASSERT_EQ(params.size(), 4);
    EXPECT_EQ(params[2].toObject()[QStringLiteral("value")].toInt(), 5);
    EXPECT_EQ(params[3].toObject()[QStringLiteral("value")].toString(), QStringLiteral("x中"));
}

// Transactions of the data layer reach the peer as transaction manager
// requests, and the rows of a batch insert as RPCs with their parameters.
TEST(TdsPeer, TransactionsAndParameterisedInsertsAreRecorded)
{
    TdsPeer peer(QJsonObject{
        {QStringLiteral("rules"), JsonArray(R"j([{"regex": "(?i)select \\* from \\[?t\\]?.*", "reply": [
        {"columns": [{"name": "id", "type": "int"}, {"name": "name", "type": "nvarchar(20)"},
                     {"name": "at", "type": "datetime"}], "rows": []}, {"done": {}}]}])j")}});
    ASSERT_TRUE(peer.isRunning()) << str(peer.error());
    Connection cn;
    ASSERT_TRUE(cn.Open(peer.login(QStringLiteral("crm")))) << str(cn.lastError().description);
    ASSERT_TRUE(cn.BeginTrans()) << str(cn.lastError().description);
    ASSERT_TRUE(cn.Execute(QStringLiteral("DELETE FROM [t]"))) << str(cn.lastError().description);
    ASSERT_TRUE(cn.CommitTrans()) << str(cn.lastError().description);
    ASSERT_TRUE(cn.BeginTrans()) << str(cn.lastError().description);
    ASSERT_TRUE(cn.RollbackTrans()) << str(cn.lastError().description);
    // FreeTDS begins the next transaction with each commit or rollback while
    // autocommit is off, and rolls that one back when autocommit comes back.
    QStringList requests;
    for (const QJsonObject& tm : peer.events(QStringLiteral("tm")))
        requests.append(tm[QStringLiteral("request")].toString() + (tm[QStringLiteral("begin_new")].toBool()
                                                                        ? QStringLiteral(" and begin")
                                                                        : QString()));
    EXPECT_EQ(requests,
              (QStringList{QStringLiteral("TM_BEGIN_XACT"), QStringLiteral("TM_COMMIT_XACT and begin"),
                           QStringLiteral("TM_ROLLBACK_XACT"), QStringLiteral("TM_BEGIN_XACT"),
                           QStringLiteral("TM_ROLLBACK_XACT and begin"), QStringLiteral("TM_ROLLBACK_XACT")}))
        << str(requests.join(QLatin1Char(',')));

    Recordset rs;
    ASSERT_TRUE(rs.Open(QStringLiteral("t"), cn, adOpenForwardOnly, adLockBatchOptimistic, adCmdTable))
        << str(rs.lastError().description);
    for (int id : {1, 2}) {
        ASSERT_TRUE(rs.AddNew()) << str(rs.lastError().description);
        ASSERT_TRUE(rs.Fields(0).setValue(id));
        ASSERT_TRUE(rs.Fields(1).setValue(id == 1 ? QVariant(QStringLiteral("中'文")) : QVariant()));
        ASSERT_TRUE(rs.Fields(2).setValue(QDateTime(QDate(2024, 2, 29), QTime(12, 30, 15, 250))));
        ASSERT_TRUE(rs.Update()) << str(rs.lastError().description);
    }
    ASSERT_TRUE(rs.UpdateBatch()) << str(rs.lastError().description);
    // The insert is prepared once and executed per row, the handle first.
    QJsonArray rows;
    QJsonArray sent;
    for (const QJsonObject& rpc : peer.events(QStringLiteral("rpc"))) {
        sent.append(rpc);
        if (rpc[QStringLiteral("proc")].toString() != QLatin1String("sp_execute"))
            continue;
        EXPECT_EQ(rpc[QStringLiteral("statement")].toString(),
                  QStringLiteral("INSERT INTO [t] ([id],[name],[at]) VALUES (@P1,@P2,@P3)"));
        QJsonArray values;
        for (const QJsonValue& p : rpc[QStringLiteral("params")].toArray())
            values.append(p.toObject()[QStringLiteral("value")]);
        values.removeFirst();
        rows.append(values);
    }
    EXPECT_EQ(rows, JsonArray(R"j([[1, "中'文", "2024-02-29 12:30:15.2500000"],
                                [2, null, "2024-02-29 12:30:15.2500000"]])j"))
        << QJsonDocument(sent).toJson().toStdString();
}

// A slow answer arrives whole; one slower than the query time-out is cut
// short by the driver's attention, and the connection serves on.
TEST(TdsPeer, SlowAnswersArriveOrMeetTheQueryTimeOut)
{
    TdsPeer peer(QJsonObject{{QStringLiteral("rules"), JsonArray(R"j([
        {"match": "SELECT slow", "reply": [{"sleep": 0.3},
            {"columns": [{"name": "a", "type": "int"}], "rows": [[1]]}, {"sleep": 0.3},
            {"columns": [{"name": "a", "type": "int"}], "rows": [[2]]}, {"done": {"count": 1}}]},
        {"match": "SELECT slower", "reply": [
            {"columns": [{"name": "a", "type": "int"}], "rows": [[1]]}, {"sleep": 60}, {"done": {"count": 1}}]}
        ])j")}});
    ASSERT_TRUE(peer.isRunning()) << str(peer.error());
    Connection cn;
    ASSERT_TRUE(cn.Open(peer.login(QStringLiteral("crm")))) << str(cn.lastError().description);
    cn.setCommandTimeout(1);
    {
        Recordset rs;
        ASSERT_TRUE(rs.Open(QStringLiteral("SELECT slow"), cn)) << str(rs.lastError().description);
        ASSERT_FALSE(rs.Eof());
        EXPECT_EQ(rs.Fields(0).Value(), QVariant(1));
        EXPECT_TRUE(rs.MoveNext()) << str(rs.lastError().description);
        EXPECT_TRUE(rs.Eof());
    }
    EXPECT_FALSE(cn.Execute(QStringLiteral("SELECT slower")));
    EXPECT_EQ(cn.lastError().source, QStringLiteral("ODBC HYT00")) << str(cn.lastError().description);
    EXPECT_TRUE(peer.waitFor(QStringLiteral("attention")));
    EXPECT_TRUE(cn.Execute(QStringLiteral("UPDATE t SET a = 1"))) << str(cn.lastError().description);
    EXPECT_EQ(peer.statements(), (QStringList{QStringLiteral("SELECT slow"), QStringLiteral("SELECT slower"),
                                              QStringLiteral("UPDATE t SET a = 1")}));
}

// The peer ends by itself: when the process that started it ends, after its
// idle limit, and when its stop file appears.
TEST(TdsPeer, PeerEndsByItself)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ovtest::writeFile(dir.filePath(QStringLiteral("s.json")), "{}");
    const QString peerScript = QStringLiteral(OV_SOURCE_DIR "/tests/support/tdspeer.py");
    const QStringList common{peerScript, QStringLiteral("--script"), dir.filePath(QStringLiteral("s.json")),
                             QStringLiteral("--record"), dir.filePath(QStringLiteral("r.jsonl"))};
    {
        QProcess idle;
        idle.start(QStringLiteral("/usr/bin/python3"),
                   common + QStringList{QStringLiteral("--idle"), QStringLiteral("1")});
        EXPECT_TRUE(idle.waitForFinished(30000));
        EXPECT_EQ(idle.exitCode(), 0);
    }
    {
        QProcess stopped;
        const QString stopFile = dir.filePath(QStringLiteral("stop"));
        stopped.start(QStringLiteral("/usr/bin/python3"),
                      common + QStringList{QStringLiteral("--stop-file"), stopFile});
        ASSERT_TRUE(stopped.waitForStarted());
        EXPECT_FALSE(stopped.waitForFinished(500));
        ovtest::writeFile(stopFile, "");
        EXPECT_TRUE(stopped.waitForFinished(30000));
    }
    {
        // A shell starts the peer in the background and ends at once; the
        // peer, left without the process that started it, follows.
        QProcess shell;
        const QStringList args =
            QStringList{QStringLiteral("-c"),
                        QStringLiteral("/usr/bin/python3 \"$@\" --parent $$ >/dev/null 2>&1 & echo $!"),
                        QStringLiteral("sh")} +
            common;
        shell.start(QStringLiteral("/bin/sh"), args);
        ASSERT_TRUE(shell.waitForFinished(30000));
        const qint64 pid = shell.readAllStandardOutput().trimmed().toLongLong();
        ASSERT_GT(pid, 0);
        EXPECT_TRUE(ovtest::PollUntil([&] { return ::kill(pid_t(pid), 0) != 0; }, 30000, 100));
    }
}

// A script the peer cannot follow fails the test that gave it, with the
// reason, instead of leaving a dropped connection to be guessed at.
TEST(TdsPeer, ScriptMistakesFailTheTest)
{
    EXPECT_NONFATAL_FAILURE(
        {
            TdsPeer peer(R"j({"rules": [{"match": "SELECT 1", "reply": [
                {"columns": [{"name": "a", "type": "nosuchtype"}], "rows": [[1]]}]}]})j");
            ASSERT_TRUE(peer.isRunning());
            Connection cn;
            ASSERT_TRUE(cn.Open(peer.login(QStringLiteral("crm"))));
            EXPECT_FALSE(cn.Execute(QStringLiteral("SELECT 1")));
            peer.waitFor(QStringLiteral("peer_error"));
        },
        "the TDS peer failed: ValueError: unknown type nosuchtype");
}

// The tool's own bulk copy (DB-Library's bcp_init … bcp_exec) against the
// peer: the rows the peer decodes are the data file's.
TEST(TdsPeer, TheToolsBulkCopyIsDecodedToTheFilesRows)
{
    TdsPeer peer(QJsonObject{{QStringLiteral("rules"), JsonArray(R"j([
        {"regex": "SELECT COUNT\\(\\*\\) FROM sys\\.columns .*", "reply": [
            {"columns": [{"name": "", "type": "int"}], "rows": [[3]]}, {"done": {"count": 1}}]},
        {"regex": "SET FMTONLY ON select \\* from \\[t\\] SET FMTONLY OFF", "reply": [
            {"columns": [{"name": "id", "type": "int", "null": false}, {"name": "name", "type": "nvarchar(20)"},
                         {"name": "at", "type": "datetime"}], "rows": []}, {"done": {}}]}])j")}});
    ASSERT_TRUE(peer.isRunning()) << str(peer.error());
    const QString data = peer.folder() + QStringLiteral("/t.dat");
    ovtest::writeFile(data, "\xEF\xBB\xBF"
                            "1\t中文\t2024-01-31 23:59:59.997\r\n2\t\t\r\n");
    qint64 rows = -1;
    QStringList messages;
    DataError error;
    EXPECT_TRUE(mssql::bulkCopyIn(
        {peer.server(), QStringLiteral("crm"), false, QStringLiteral("sa"), QStringLiteral("pw")},
        QStringLiteral("t"), data, peer.folder() + QStringLiteral("/t.err"), rows, messages, error))
        << str(error.description) << str(messages.join(QLatin1Char('\n')));
    EXPECT_EQ(rows, 2);
    const QList<QJsonObject> bulk = peer.events(QStringLiteral("bulk"));
    ASSERT_EQ(bulk.size(), 1) << str(peer.statements().join(QLatin1Char('\n')));
    EXPECT_EQ(bulk[0][QStringLiteral("rows")].toArray(),
              JsonArray(R"j([[1, "中文", "2024-01-31 23:59:59.997"], [2, null, null]])j"))
        << QJsonDocument(bulk[0][QStringLiteral("rows")].toArray()).toJson().toStdString();
}
