// The conversion's copy into SQL Server against the scripted TDS peer,
// through the real FreeTDS driver: the rows go as parameter arrays of one
// prepared insert, each row's values reach the server as the file holds
// them, and a row the server refuses is reported and logged by its place
// while the rows around it are stored, all in one committed transaction.

#include "DataTestSupport.h"

#include "common/Cp936.h"
#include "convert/TableTransfer.h"
#include "support/PeerTranscript.h"
#include "support/ScopedProgramFolder.h"
#include "support/ScriptedUi.h"
#include "support/TdsPeer.h"
#include "update/UpdateLog.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

using ovtest::str;
using ovtest::TdsPeer;

namespace {

// A single-user file's table, as the embedded engine holds it; the
// connection is opened on it.
void openSource(QTemporaryDir& dir, ov::Connection& cn, const QString& batch)
{
    const QString server = QStringLiteral("sqlite:") + dir.path();
    const auto admin = ov::ServerAdmin::create(server, true, QString(), QString());
    ASSERT_TRUE(admin->createDatabase(QStringLiteral("src"))) << str(admin->lastError().description);
    cn.setCursorLocation(ov::adUseClient);
    ASSERT_TRUE(cn.Open(ovtest::oleDbString(server, QStringLiteral("src"))))
        << str(cn.lastError().description);
    ASSERT_TRUE(cn.Execute(batch)) << str(cn.lastError().description);
}

QJsonArray array(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).array();
}

// The rows the server holds at the end of a run, by what it received on
// the peer: each insert of a row it accepted, less those undone by a
// rollback to the savepoint of the run that sent them.
QJsonArray storedRows(const TdsPeer& peer, const QString& insert, const QString& refused)
{
    QJsonArray stored;
    qsizetype savepoint = 0;
    for (const QJsonObject& e : peer.record()) {
        const QString kind = e[QStringLiteral("kind")].toString();
        const QString text = e[QStringLiteral("text")].toString();
        if (kind == QLatin1String("batch") && text == QLatin1String("SAVE TRANSACTION ov_rows"))
            savepoint = stored.size();
        if (kind == QLatin1String("batch") && text == QLatin1String("ROLLBACK TRANSACTION ov_rows"))
            while (stored.size() > savepoint)
                stored.removeLast();
        if (kind != QLatin1String("rpc") || e[QStringLiteral("statement")].toString() != insert)
            continue;
        const QString proc = e[QStringLiteral("proc")].toString();
        const int first = proc == QLatin1String("sp_execute")    ? 1
                          : proc == QLatin1String("sp_prepexec") ? 3
                                                                 : -1;
        const QJsonArray params = e[QStringLiteral("params")].toArray();
        if (first < 0)
            continue;
        QJsonArray row;
        for (int i = first; i < params.size(); ++i)
            row.append(params[i].toObject()[QStringLiteral("value")]);
        if (!refused.isEmpty() && row.contains(QJsonValue(refused)))
            continue;
        stored.append(row);
    }
    return stored;
}

} // namespace

// Four rows of a single-user table, sent as one parameter array. When SQL
// Server refuses one (a duplicate key: 2627, class 14, then 3621 "The
// statement has been terminated."), it is reported once with the server's
// words and logged by its place in the file, and every other row is stored
// exactly once: the driver's status of each row says which one failed.
TEST(MssqlPeer, ConvertSendsParameterArraysAndReportsARefusedRowByItsPlace)
{
    ovtest::ScopedProgramFolder folder;
    QTemporaryDir source;
    ov::Connection file;
    openSource(source, file,
               QStringLiteral("CREATE TABLE [客户] (id INTEGER, [名称] TEXT, amount NUMERIC);"
                              "INSERT INTO [客户] VALUES (1, '张三', 12.5);"
                              "INSERT INTO [客户] VALUES (2, NULL, NULL);"
                              "INSERT INTO [客户] VALUES (2, 'O''Neil [x]', -0.01);"
                              "INSERT INTO [客户] VALUES (4, '李四', 99999999.99)"));
    const QString insert = QStringLiteral("INSERT INTO [客户] ([id],[名称],[amount]) VALUES (@P1,@P2,@P3)");
    const QString refusedName = QStringLiteral("O'Neil [x]");
    struct Case
    {
        const char* what;
        bool refuse;
        const char* stored;
    };
    const Case cases[] = {
        {"every row accepted", false,
         R"j([[1, "张三", "12.50"], [2, null, null], [2, "O'Neil [x]", "-0.01"], [4, "李四", "99999999.99"]])j"},
        {"the third row refused", true,
         R"j([[1, "张三", "12.50"], [2, null, null], [4, "李四", "99999999.99"]])j"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QJsonArray rules = {QJsonObject{
            {QStringLiteral("match"), QStringLiteral("SELECT * FROM [客户]")},
            {QStringLiteral("reply"), array(R"j([{"columns": [{"name": "id", "type": "int", "null": false},
                {"name": "名称", "type": "nvarchar(20)"}, {"name": "amount", "type": "decimal(10,2)"}], "rows": []},
                {"done": {}}])j")}}};
        if (c.refuse)
            rules.append(
                QJsonObject{{QStringLiteral("match"), insert},
                            {QStringLiteral("kind"), QStringLiteral("rpc")},
                            {QStringLiteral("values"), QStringLiteral(".*\"O'Neil \\[x\\]\".*")},
                            {QStringLiteral("reply"),
                             array(R"j([{"error": {"number": 2627, "class": 14, "state": 1, "message":
              "Violation of PRIMARY KEY constraint 'PK_客户'. Cannot insert duplicate key in object 'dbo.客户'. The duplicate key value is (2)."}},
              {"info": {"number": 3621, "class": 0, "state": 0, "message": "The statement has been terminated."}},
              {"done": {"error": true}}])j")}});
        rules.append(QJsonObject{{QStringLiteral("match"), insert},
                                 {QStringLiteral("kind"), QStringLiteral("rpc")},
                                 {QStringLiteral("reply"), array(R"j([{"done": {"count": 1}}])j")}});
        TdsPeer peer(QJsonObject{{QStringLiteral("databases"), QJsonArray{"master", "crm"}},
                                 {QStringLiteral("rules"), rules}});
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        ov::Connection server;
        ASSERT_TRUE(server.Open(peer.login(QStringLiteral("crm")))) << str(server.lastError().description);
        QFile::remove(mdlOVSqlUpdateDB::UpdateLogPath());

        ovtest::ScriptedUi ui;
        ovtest::RecordingStatus status;
        ovtest::RecordingProgress progress;
        EXPECT_EQ(mdlOVSqlUpdateDB::TransferDataFormCnToCn(
                      &file, &server, {QString(), QStringLiteral("客户")}, status, progress),
                  !c.refuse);
        server.Close();

        // Every row went first in one parameter array.
        QList<qint64> rowsAtOnce;
        for (const QJsonObject& e : peer.record()) {
            if (e[QStringLiteral("kind")].toString() != QLatin1String("rpc"))
                rowsAtOnce.append(0);
            else if (e[QStringLiteral("proc")].toString() == QLatin1String("sp_execute"))
                ++rowsAtOnce.last();
        }
        EXPECT_EQ(*std::max_element(rowsAtOnce.cbegin(), rowsAtOnce.cend()), 4);

        const QJsonArray stored = storedRows(peer, insert, c.refuse ? refusedName : QString());
        EXPECT_EQ(stored, array(c.stored)) << QJsonDocument(stored).toJson().toStdString();

        // The refusal is told once, with the server's words and the rows it
        // hit, and the log names the row; the completion message comes.
        const QString said = ui.texts().join(QStringLiteral("\n"));
        EXPECT_TRUE(said.contains(QStringLiteral("单机版数据库升级为网络版数据库完成！"))) << str(said);
        const QString log = ov::cp936::decode(ovtest::readFile(mdlOVSqlUpdateDB::UpdateLogPath()));
        if (c.refuse) {
            EXPECT_TRUE(said.contains(QStringLiteral("Cannot insert duplicate key in object 'dbo.客户'")))
                << str(said);
            EXPECT_TRUE(said.contains(QStringLiteral("数据表 客户 中有 1 行出现此错误。"))) << str(said);
            EXPECT_EQ(log.count(QStringLiteral("Table:<客户> Row:3 Error:2627")), 1) << str(log);
        }
        EXPECT_EQ(log.count(QStringLiteral("Row:")), c.refuse ? 1 : 0) << str(log);

        // All of it in one transaction, committed; the table emptied first.
        const QStringList sent = ovtest::SentAsTranscript(peer, ovtest::BusiestConnection(peer));
        ASSERT_GE(sent.size(), 4) << str(sent.join('\n'));
        EXPECT_EQ(sent.mid(0, 3),
                  (QStringList{QStringLiteral("BEGIN TRANSACTION"), QStringLiteral("DELETE FROM [客户]"),
                               QStringLiteral("SELECT * FROM [客户]")}));
        EXPECT_EQ(sent.last(), QStringLiteral("COMMIT TRANSACTION")) << str(sent.join('\n'));
        EXPECT_EQ(sent.count(QStringLiteral("ROLLBACK TRANSACTION")), 0) << str(sent.join('\n'));
    }
}
