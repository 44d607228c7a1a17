// The tool's SQL Server code against the scripted TDS peer
// (tests/support/tdspeer.py): what reaches the server, and what the tool
// makes of the server's answers.

#include "DataTestSupport.h"

#include "common/Cp936.h"
#include "data/DataError.h"
#include "data/odbc/MssqlAdmin.h"
#include "data/odbc/MssqlBulkCopy.h"
#include "support/TdsPeer.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace ov;
using ovtest::JsonArray;
using ovtest::str;
using ovtest::TdsPeer;

namespace {

// The statements of a copy into [客户表] of database 客户数据 and, for the
// column query, reply (a JSON array of tokens).
QJsonObject copyScript(const QByteArray& countReply)
{
    QJsonArray rules = JsonArray(R"j([
        {"regex": "SET FMTONLY ON select \\* from .* SET FMTONLY OFF", "reply": [
            {"columns": [{"name": "id", "type": "int", "null": false},
                         {"name": "名称", "type": "nvarchar(20)"}], "rows": []}, {"done": {}}]}])j");
    rules.prepend(
        QJsonObject{{QStringLiteral("regex"), QStringLiteral("SELECT COUNT\\(\\*\\) FROM sys\\.columns .*")},
                    {QStringLiteral("reply"), JsonArray(countReply)}});
    return QJsonObject{{QStringLiteral("rules"), rules}};
}

struct FileCase
{
    const char* name;
    QByteArray bytes;
};

// What a bulk copy through the tool's code reported.
struct CopyRun
{
    bool ok = false;
    qint64 rows = -1;
    QStringList messages;
    DataError error;
};

// Copies a data file of bytes into table of database on peer, as the login
// "sa" with password "pw".
CopyRun CopyIn(const TdsPeer& peer, const QString& database, const QString& table, const QByteArray& bytes)
{
    const QString data = peer.folder() + QStringLiteral("/t.dat");
    ovtest::writeFile(data, bytes);
    CopyRun run;
    run.ok =
        mssql::bulkCopyIn({peer.server(), database, false, QStringLiteral("sa"), QStringLiteral("pw")}, table,
                          data, peer.folder() + QStringLiteral("/t.err"), run.rows, run.messages, run.error);
    return run;
}

} // namespace

// The bulk copy: a UTF-8 data file (with its mark) and a GBK one: the USE, the column query
// and the table of the bulk load reach the server as the names were given,
// and the rows as the file holds them.
TEST(MssqlPeer, BulkCopyNamesTravelInTheSessionsCharacterSet)
{
    const QString database = QStringLiteral("客户数据");
    const QString table = QStringLiteral("客户表");
    const QList<FileCase> cases = {
        {"UTF-8", QByteArray("\xEF\xBB\xBF") + QStringLiteral("1\t中文\r\n").toUtf8()},
        {"GBK", cp936::encode(QStringLiteral("1\t中文\r\n"))},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.name);
        TdsPeer peer(copyScript(R"j([{"columns": [{"name": "", "type": "int"}], "rows": [[2]]},
                                     {"done": {"count": 1}}])j"));
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        const CopyRun run = CopyIn(peer, database, table, c.bytes);
        EXPECT_TRUE(run.ok) << str(run.error.description) << str(run.messages.join(QLatin1Char('\n')));
        EXPECT_EQ(run.rows, 1);
        const QStringList statements = peer.statements();
        ASSERT_GE(statements.size(), 2) << str(statements.join(QLatin1Char('\n')));
        EXPECT_EQ(statements[0], QStringLiteral("USE [客户数据]"));
        EXPECT_EQ(
            statements[1],
            QStringLiteral("SELECT COUNT(*) FROM sys.columns WHERE object_id = OBJECT_ID(N'[客户表]')"));
        const QList<QJsonObject> bulk = peer.events(QStringLiteral("bulk"));
        ASSERT_EQ(bulk.size(), 1) << str(statements.join(QLatin1Char('\n')));
        EXPECT_TRUE(bulk[0][QStringLiteral("statement")].toString().startsWith(
            QStringLiteral("insert bulk [客户表]"), Qt::CaseInsensitive))
            << str(bulk[0][QStringLiteral("statement")].toString());
        EXPECT_EQ(bulk[0][QStringLiteral("rows")].toArray(), JsonArray(R"j([[1, "中文"]])j"));
    }
}

// The bulk copy: a server message in Chinese reaches the caller as the server
// worded it, whichever character set the session speaks.
TEST(MssqlPeer, BulkCopyServerMessagesAreDecodedInTheSessionsCharacterSet)
{
    const QList<FileCase> cases = {
        {"UTF-8", QByteArray("\xEF\xBB\xBF") + QByteArray("1\t2\r\n")},
        {"GBK", QByteArray("1\t2\r\n")},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.name);
        TdsPeer peer(copyScript(R"j([{"error": {"number": 229, "class": 14, "state": 5,
                                       "message": "拒绝了对对象“客户表”的 SELECT 权限。"}},
                                     {"done": {"error": true}}])j"));
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        const CopyRun run = CopyIn(peer, QStringLiteral("crm"), QStringLiteral("客户表"), c.bytes);
        EXPECT_FALSE(run.ok);
        EXPECT_EQ(run.error.number, 229);
        EXPECT_EQ(run.error.description, QStringLiteral("拒绝了对对象“客户表”的 SELECT 权限。"));
        EXPECT_TRUE(peer.events(QStringLiteral("bulk")).isEmpty());
    }
}

// The folder browser where xp_dirtree fails: the shell's listing is sent as
// one Unicode literal, a folder holding & or ^ is listed, and a folder the
// shell would read as a command is refused before anything is sent.
TEST(MssqlPeer, ShellListingSendsItsCommandAsAUnicodeLiteral)
{
    TdsPeer peer(R"j({"rules": [
        {"regex": "EXEC master\\.sys\\.xp_dirtree .*", "reply": [
            {"error": {"number": 229, "class": 14, "state": 5,
                       "message": "The EXECUTE permission was denied on the object 'xp_dirtree'."}},
            {"done": {"error": true}}]},
        {"regex": "master\\.dbo\\.xp_cmdshell .* /OGN /A /B'", "reply": [
            {"columns": [{"name": "output", "type": "nvarchar(255)"}],
             "rows": [["报告"], ["a&b^c.bak"], [null]]}, {"done": {"count": 3}}]},
        {"regex": "master\\.dbo\\.xp_cmdshell .* /ON /ad /B'", "reply": [
            {"columns": [{"name": "output", "type": "nvarchar(255)"}],
             "rows": [["报告"], [null]]}, {"done": {"count": 2}}]}]})j");
    ASSERT_TRUE(peer.isRunning()) << str(peer.error());
    MssqlAdmin admin(peer.server(), false, QStringLiteral("sa"), QStringLiteral("pw"));
    Connection cn;
    ASSERT_TRUE(cn.Open(peer.login(QStringLiteral("master")))) << str(cn.lastError().description);

    QList<FolderEntry> entries;
    ASSERT_TRUE(admin.listFolder(cn, QStringLiteral("D:\\R&D\\研发^1\\"), entries))
        << str(admin.lastError().description);
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0].name, QStringLiteral("报告"));
    EXPECT_TRUE(entries[0].isFolder);
    EXPECT_EQ(entries[1].name, QStringLiteral("a&b^c.bak"));
    EXPECT_FALSE(entries[1].isFolder);
    EXPECT_EQ(
        peer.statements(),
        (QStringList{QStringLiteral("EXEC master.sys.xp_dirtree N'D:\\R&D\\研发^1\\', 1, 1"),
                     QStringLiteral("master.dbo.xp_cmdshell N'dir \"D:\\R&D\\研发^1\\\" /OGN /A /B'"),
                     QStringLiteral("master.dbo.xp_cmdshell N'dir \"D:\\R&D\\研发^1\\\" /ON /ad /B'")}));

    for (const QString& folder : {QStringLiteral("D:\\\" & del C:\\*.* & \""), QStringLiteral("D:\\%PATH%\\"),
                                  QStringLiteral("D:\\a\r\ndel C:\\*.*\\")}) {
        const int before = int(peer.statements().size());
        EXPECT_FALSE(admin.listFolder(cn, folder, entries)) << str(folder);
        EXPECT_EQ(admin.lastError().number, int(DataErr::InvalidArgument)) << str(folder);
        const QStringList sent = peer.statements().mid(before);
        ASSERT_EQ(sent.size(), 1) << str(sent.join(QLatin1Char('\n')));
        EXPECT_TRUE(sent[0].startsWith(QLatin1String("EXEC master.sys.xp_dirtree N'"))) << str(sent[0]);
    }
}

// Login refusals and time-outs through the real connection code, told apart
// by the SQLSTATE the driver reports, not by the words of its message.
// FreeTDS reports a refused login (18456) as 42000 (Microsoft's driver:
// 28000), a login the server never answers as HYT00, "Timeout expired", and
// a server nothing answers for as class 08.
TEST(MssqlPeer, LoginRefusalAndTimeOutAreToldApartBySqlState)
{
    {
        TdsPeer peer(R"j({"password": "right"})j");
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        Connection cn;
        EXPECT_FALSE(
            cn.Open(peer.login(QStringLiteral("crm"), QStringLiteral("sa"), QStringLiteral("wrong"))));
        EXPECT_EQ(cn.lastError().number, 18456) << str(cn.lastError().description);
        EXPECT_EQ(cn.lastError().source, QStringLiteral("ODBC 42000")) << str(cn.lastError().description);
    }
    {
        TdsPeer peer(R"j({"login": "silent"})j");
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        Connection cn;
        EXPECT_FALSE(cn.Open(peer.login(QStringLiteral("crm")) + QStringLiteral(";Connect Timeout=2")));
        EXPECT_EQ(cn.lastError().source, QStringLiteral("ODBC HYT00")) << str(cn.lastError().description);
    }
    {
        // Nothing listens any more: "Unable to connect" (20009), class 08.
        TdsPeer peer;
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        const QString login = peer.login(QStringLiteral("crm"));
        peer.stop();
        Connection cn;
        EXPECT_FALSE(cn.Open(login));
        EXPECT_TRUE(cn.lastError().source.startsWith(QLatin1String("ODBC 08")))
            << str(cn.lastError().source) << " " << str(cn.lastError().description);
    }
}
