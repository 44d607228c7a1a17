// ovsqlcli update against the scripted TDS peer, through the real FreeTDS
// driver: what the run sends equals what its --sql-out transcript says it
// sends; a batch that fails after printing and counting rows rolls back its
// transactional block; a connection lost in the middle of a block stops the
// run, which is not called a success and records no version.

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

const QString kVersionRead =
    QStringLiteral("SELECT * FROM tblVarible WHERE [Module] ='DB' AND VaribleName = 'Version'");
const QString kCreatingRead =
    QStringLiteral("SELECT * FROM tblVarible WHERE [Module] ='DB' AND VaribleName = 'Creating'");

QJsonArray array(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).array();
}

QJsonObject rule(const QString& key, const QString& text, const QJsonArray& reply)
{
    return QJsonObject{{key, text}, {QStringLiteral("reply"), reply}};
}

// The rows of tblVarible as the server answers a read of it.
QJsonArray varibleRows(const QJsonArray& rows)
{
    return QJsonArray{
        QJsonObject{{QStringLiteral("columns"), array(R"j([
        {"name": "VaribleName", "type": "nvarchar(50)"}, {"name": "VaribleValue", "type": "nvarchar(255)"},
        {"name": "UserID", "type": "nvarchar(50)"}, {"name": "Module", "type": "nvarchar(50)"}])j")},
                    {QStringLiteral("rows"), rows}},
        QJsonObject{{QStringLiteral("done"), QJsonObject{{QStringLiteral("count"), rows.size()}}}}};
}

// SQL Server holding database crm at version, its creation finished, the
// task lock free (sp_getapplock answers 0); the rules given come first.
QJsonObject server(const QString& version, QJsonArray rules = {})
{
    rules.append(rule(QStringLiteral("regex"),
                      QStringLiteral("SET NOCOUNT ON; DECLARE @result int; EXEC @result = "
                                     "sp_getapplock .*"),
                      array(R"j([{"columns": [{"name": "result", "type": "int"}], "rows": [[0]]},
                                 {"done": {"count": 1}}])j")));
    rules.append(rule(QStringLiteral("match"), kVersionRead,
                      varibleRows(QJsonArray{QJsonArray{"Version", version, "", "DB"}})));
    rules.append(rule(QStringLiteral("match"), kCreatingRead, varibleRows({})));
    return QJsonObject{{QStringLiteral("databases"), QJsonArray{"master", "crm"}},
                       {QStringLiteral("rules"), rules}};
}

// A copy of ovsqlcli in a folder of its own, with an update script.
struct UpdateRun
{
    QTemporaryDir dir;

    explicit UpdateRun(const QString& script)
    {
        EXPECT_TRUE(ovtest::InstallCli(dir.path()));
        ovtest::writeFile(path(QStringLiteral("u.txt")), ov::cp936::encode(script));
    }
    QString path(const QString& name) const { return dir.filePath(name); }

    ovtest::CliResult run(const TdsPeer& peer, const QStringList& options) const
    {
        return ovtest::RunCli(dir.path(),
                              QStringList{QStringLiteral("update"), QStringLiteral("--server"), peer.server(),
                                          QStringLiteral("--database"), QStringLiteral("crm"),
                                          QStringLiteral("--user"), QStringLiteral("sa"),
                                          QStringLiteral("--password-stdin"), QStringLiteral("--script"),
                                          path(QStringLiteral("u.txt"))} +
                                  options,
                              "pw\n");
    }
    QString log() const
    {
        return QString::fromUtf8(ovtest::readFile(path(QStringLiteral("UpdateDBSqlLog.Txt"))));
    }
};

} // namespace

// Every kind of block, passed over or run, with and without a transaction,
// a transfer inside a transactional block and one on its own, status texts
// and comments that are never sent, Chinese text: the run's connection
// receives the transcript's statements in its order.
TEST(MssqlPeer, UpdateSendsWhatItsTranscriptSays)
{
    const QString script = QStringLiteral("--<REM>准备升级\r\n"
                                          "-- 说明：不发送\r\n"
                                          "--<V:1.0>\r\n"
                                          "CREATE TABLE old_t (a int)\r\n"
                                          "GO\r\n"
                                          "--</V:1.0>\r\n"
                                          "--<VT:2.0>\r\n"
                                          "CREATE TABLE t1 (a int, b nvarchar(20))\r\n"
                                          "GO\r\n"
                                          "--<T:copy>\r\n"
                                          "INSERT INTO t1 VALUES (1, N'中文 ''引号'' [x]')\r\n"
                                          "\tGO\r\n"
                                          "--</T:copy>\r\n"
                                          "--</V:2.0>\r\n"
                                          "--<V:2.1>\r\n"
                                          "--<T:fill>\r\n"
                                          "UPDATE t1 SET a = 2\r\n"
                                          "WHERE a = 1\r\n"
                                          "GO\r\n"
                                          "--</T:fill>\r\n"
                                          "PRINT '完成'\r\n"
                                          "go\r\n"
                                          "--</V:2.1>\r\n");
    const QJsonArray answers = {
        rule(QStringLiteral("regex"), QStringLiteral("INSERT INTO t1 .*|UPDATE t1 .*"),
             array(R"j([{"done": {"count": 1}}])j")),
        rule(QStringLiteral("regex"), QStringLiteral("PRINT .*"),
             array(R"j([{"info": {"number": 0, "class": 0, "message": "完成"}}, {"done": {}}])j"))};
    UpdateRun update(script);
    TdsPeer dry(server(QStringLiteral("1.5"), answers));
    ASSERT_TRUE(dry.isRunning()) << str(dry.error());
    const ovtest::CliResult transcribed =
        update.run(dry, {QStringLiteral("--dry-run"), QStringLiteral("--sql-out"), update.path("out.sql")});
    ASSERT_EQ(transcribed.exitCode, 0) << str(transcribed.err);
    const QStringList transcript =
        ovtest::TranscriptBatches(QString::fromUtf8(ovtest::readFile(update.path("out.sql"))));
    // The transcript shows the blocks that would run, each transactional
    // block and each transfer outside one in a transaction of its own.
    EXPECT_EQ(transcript.count(QStringLiteral("BEGIN TRANSACTION")), 2) << str(transcript.join('\n'));
    EXPECT_EQ(transcript.count(QStringLiteral("COMMIT TRANSACTION")), 2) << str(transcript.join('\n'));
    EXPECT_TRUE(transcript.contains(QStringLiteral("INSERT INTO t1 VALUES (1, N'中文 ''引号'' [x]')")));
    EXPECT_FALSE(transcript.join('\n').contains(QStringLiteral("old_t")));

    TdsPeer peer(server(QStringLiteral("1.5"), answers));
    ASSERT_TRUE(peer.isRunning()) << str(peer.error());
    const ovtest::CliResult r = update.run(peer, {QStringLiteral("--no-backup")});
    EXPECT_EQ(r.exitCode, 0) << str(r.err);
    EXPECT_TRUE(r.out.contains(QStringLiteral("数据库升级成功！")) ||
                r.err.contains(QStringLiteral("数据库升级成功！")))
        << str(r.out) << str(r.err);
    // The run's own connection sends the transcript's statements, from the
    // look for the mark of an unfinished creation to the schema check's
    // reads.
    const QStringList sent = ovtest::SentAsTranscript(peer, ovtest::BusiestConnection(peer));
    EXPECT_EQ(sent.value(0), kCreatingRead);
    EXPECT_EQ(ovtest::WithoutTimes(sent), ovtest::WithoutTimes(transcript))
        << "sent:\n"
        << str(sent.join(QStringLiteral("\n---\n"))) << "\ntranscript:\n"
        << str(transcript.join(QStringLiteral("\n---\n")));
}

// A batch that prints, counts rows and then fails, as SQL Server answers an
// INSERT that breaks a foreign key (547, then 3621): in a "--<VT:" block the
// block is rolled back, not recorded, and no later block runs; in a "--<V:"
// block the run goes on, as the script's rules say. A connection lost in the
// middle of a block, with or without a transaction, stops the run there: it
// is not called a success, the version is not recorded and nothing more is
// sent.
TEST(MssqlPeer, UpdateBatchFailuresAndALostConnectionStopWhereTheyShould)
{
    const QByteArray printsCountsFails = R"j([
        {"info": {"number": 0, "class": 0, "message": "正在插入"}},
        {"done": {"count": 3}},
        {"error": {"number": 547, "class": 16, "state": 0, "message":
            "The INSERT statement conflicted with the FOREIGN KEY constraint \"FK_t1_t0\". The conflict occurred in database \"crm\", table \"dbo.t0\", column 'a'."}},
        {"info": {"number": 3621, "class": 0, "state": 0, "message": "The statement has been terminated."}},
        {"done": {"error": true}}])j";
    const QByteArray printsCountsDrops = R"j([
        {"info": {"number": 0, "class": 0, "message": "正在插入"}},
        {"done": {"count": 3, "more": true}},
        {"close": true}])j";
    const QString begin = QStringLiteral("BEGIN TRANSACTION");
    const QString create = QStringLiteral("CREATE TABLE t1 (a int)");
    const QString insert = QStringLiteral("INSERT INTO t1 SELECT a FROM t0");
    const QString rollback = QStringLiteral("ROLLBACK TRANSACTION");
    const QString record20 =
        QStringLiteral("DELETE FROM tblVarible WHERE [Module] = 'UpdateDB' AND [VaribleName] = '2.0'");
    const QString record21 =
        QStringLiteral("DELETE FROM tblVarible WHERE [Module] = 'UpdateDB' AND [VaribleName] = '2.1'");
    const QString insert20 =
        QStringLiteral("INSERT INTO tblVarible ([Module] , [VaribleName] , [VaribleValue] , "
                       "[UserID]) VALUES ('UpdateDB' , '2.0', '<time>' , '1')");
    const QString insert21 =
        QStringLiteral("INSERT INTO tblVarible ([Module] , [VaribleName] , [VaribleValue] , "
                       "[UserID]) VALUES ('UpdateDB' , '2.1', '<time>' , '1')");
    const QString later = QStringLiteral("CREATE TABLE t2 (a int)");
    struct Case
    {
        const char* what;
        const char* marker;
        const QByteArray& reply;
        int exitCode;
        QStringList sent; // after the reads of the creation mark and of the version
        const char* messagePart;
        const char* logPart;
    };
    const QList<Case> cases = {
        {"a failing batch rolls back its transactional block",
         "VT",
         printsCountsFails,
         1,
         {begin, create, insert, rollback, kVersionRead},
         "版本 2.0 的升级未能完成",
         "ROOLBACK Ver:<2.0>"},
        {"a failing batch outside a transaction is passed over",
         "V",
         printsCountsFails,
         0,
         {create, insert, record20, insert20, kVersionRead, later, record21, insert21},
         "数据库升级成功！",
         "VVVVV Ver:<2.1> Completed."},
        {"a lost connection stops a transactional block",
         "VT",
         printsCountsDrops,
         1,
         {begin, create, insert},
         "版本 2.0 的升级因故障中止",
         "ROOLBACK Ver:<2.0>"},
        {"a lost connection stops a block without a transaction",
         "V",
         printsCountsDrops,
         1,
         {create, insert},
         "版本 2.0 的升级因故障中止",
         "STOPPED Ver:<2.0>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString marker = QString::fromLatin1(c.marker);
        UpdateRun update(QStringLiteral("--<%1:2.0>\r\n%2\r\nGO\r\n%3\r\nGO\r\n--</V:2.0>\r\n"
                                        "--<V:2.1>\r\n%4\r\nGO\r\n--</V:2.1>\r\n")
                             .arg(marker, create, insert, later));
        TdsPeer peer(server(QStringLiteral("1.5"), {rule(QStringLiteral("match"), insert, array(c.reply))}));
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        const ovtest::CliResult r = update.run(peer, {QStringLiteral("--no-backup")});
        EXPECT_EQ(r.exitCode, c.exitCode) << str(r.out) << str(r.err);
        const QString said = r.out + r.err;
        EXPECT_TRUE(said.contains(QString::fromUtf8(c.messagePart))) << str(said);
        if (c.exitCode != 0) {
            EXPECT_FALSE(said.contains(QStringLiteral("数据库升级成功！"))) << str(said);
        }
        EXPECT_TRUE(update.log().contains(QString::fromUtf8(c.logPart))) << str(update.log());
        const QStringList sent =
            ovtest::WithoutTimes(ovtest::SentAsTranscript(peer, ovtest::BusiestConnection(peer)));
        ASSERT_GE(sent.size(), 2) << str(sent.join('\n'));
        EXPECT_EQ(sent.mid(0, 2), (QStringList{kCreatingRead, kVersionRead}));
        // After a completed run, the schema check reads on.
        EXPECT_EQ(c.exitCode == 0 ? sent.mid(2, c.sent.size()) : sent.mid(2), c.sent)
            << str(sent.join(QStringLiteral("\n---\n")));
    }
}

// Logins SQL Server refuses (18456, after 4060 for a database it cannot
// open) and one it never answers: the update cannot start (exit code 2),
// says "连接数据库失败！" with the server's number and words, and sends
// nothing. A server that did not answer is waited on once per run, not
// once per connection the run would open.
TEST(MssqlPeer, UpdateLoginRefusedOrTimedOutCannotStart)
{
    struct Case
    {
        const char* what;
        const char* script;
        QStringList said;
        int logins; // attempts at most; 0: not counted
    };
    const QList<Case> cases = {
        {"a wrong password",
         R"j({"password": "right"})j",
         {QStringLiteral("错误编号:18456"), QStringLiteral("Login failed for user 'sa'.")},
         0},
        {"a database the login cannot open",
         R"j({"databases": ["master"]})j",
         {QStringLiteral("错误编号:18456"),
          QStringLiteral("Cannot open database \"crm\" requested by the login. The login failed.")},
         0},
        {"a login never answered", R"j({"login": "silent"})j", {QStringLiteral("Timeout expired")}, 1},
    };
    UpdateRun update(QStringLiteral("--<V:2.0>\r\nPRINT 'x'\r\nGO\r\n--</V:2.0>\r\n"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TdsPeer peer{QByteArray(c.script)};
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        const ovtest::CliResult r = update.run(peer, {QStringLiteral("--no-backup")});
        EXPECT_EQ(r.exitCode, 2) << str(r.out) << str(r.err);
        EXPECT_TRUE(r.err.contains(QStringLiteral("连接数据库失败！"))) << str(r.err);
        for (const QString& part : c.said)
            EXPECT_TRUE(r.err.contains(part)) << str(part) << "\n" << str(r.err);
        EXPECT_FALSE((r.out + r.err).contains(QStringLiteral("数据库升级成功！")));
        EXPECT_TRUE(peer.statements().isEmpty()) << str(peer.statements().join('\n'));
        if (c.logins > 0) {
            EXPECT_EQ(peer.events(QStringLiteral("login")).size(), c.logins);
        }
    }
}
