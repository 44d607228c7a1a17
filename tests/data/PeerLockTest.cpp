// The task lock through the real ODBC code and the FreeTDS driver against
// the scripted TDS peer, answered with each return value sp_getapplock
// documents: 0 and 1 grant the lock, which is given back on the same
// connection at the end; -1 (time-out: another task holds it), -2
// (cancelled), -3 (deadlock victim) and -999 (a call error) refuse it, and
// the restore that asked for it sends nothing.

#include "PeerTaskSupport.h"

#include "backup/mdlOVSqlRestore.h"
#include "config/mdlOVSqlServerConnect.h"
#include "data/DataError.h"
#include "support/ScriptedUi.h"
#include "support/TdsPeer.h"

using namespace ovtest;

namespace {

QJsonObject lockServer(int result)
{
    return QJsonObject{
        {QStringLiteral("databases"),
         QJsonArray{QStringLiteral("master"), QStringLiteral("Tempdb"), QStringLiteral("crm")}},
        {QStringLiteral("rules"), QJsonArray{lockRule(result)}}};
}

const QString kLock = QStringLiteral(
    "SET NOCOUNT ON; DECLARE @result int; EXEC @result = sp_getapplock @Resource = N'OrvaneSqlUpdateDB:crm', "
    "@LockMode = 'Exclusive', @LockOwner = 'Session', @LockTimeout = 0; SELECT @result AS result");
const QString kUnlock =
    QStringLiteral("EXEC sp_releaseapplock @Resource = N'OrvaneSqlUpdateDB:crm', @LockOwner = 'Session'");

const struct
{
    int result;
    bool granted;
    qint32 number; // the error's number when refused
} kResults[] = {
    {0, true, 0},
    {1, true, 0},
    {-1, false, ov::DataErr::LockTimeout},
    {-2, false, ov::DataErr::ProviderFailure},
    {-3, false, ov::DataErr::ProviderFailure},
    {-999, false, ov::DataErr::ProviderFailure},
};

} // namespace

// What the tool makes of each return value: a granted lock is held on its
// own connection to master until the task ends, then released there; a
// refused one is not held, and says why: another task, or the value the
// server returned.
TEST(PeerLock, EachReturnValueOfGetAppLock)
{
    for (const auto& c : kResults) {
        SCOPED_TRACE(c.result);
        TdsPeer peer(lockServer(c.result));
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        ov::DataError error;
        auto lock = mdlOVSqlServer::LockDatabaseForTask(peer.server(), QStringLiteral("crm"), false,
                                                        QStringLiteral("sa"), QStringLiteral("pw"), error);
        EXPECT_EQ(lock != nullptr, c.granted);
        EXPECT_EQ(peer.statements(), QStringList{kLock});
        lock.reset();
        if (c.granted) {
            EXPECT_FALSE(error.isSet());
            ASSERT_EQ(peer.statements(), (QStringList{kLock, kUnlock}));
            const QList<QJsonObject> batches = peer.events(QStringLiteral("batch"));
            EXPECT_EQ(batches[0][QStringLiteral("conn")], batches[1][QStringLiteral("conn")]);
        } else {
            EXPECT_EQ(peer.statements(), QStringList{kLock});
            EXPECT_EQ(error.number, c.number) << str(error.description);
            if (c.result == -1)
                EXPECT_EQ(
                    error.description,
                    QStringLiteral("数据库 [crm] "
                                   "正在被另一个任务（升级、创建或还原数据库）使用，请等该任务完成后再试。"));
            else
                EXPECT_TRUE(error.description.contains(QString::number(c.result))) << str(error.description);
        }
        const QList<QJsonObject> logins = peer.events(QStringLiteral("login"));
        ASSERT_EQ(logins.size(), 1);
        EXPECT_EQ(logins[0][QStringLiteral("database")].toString(), QStringLiteral("master"));
    }
}

// A restore refused the lock reads nothing and restores nothing, and says
// why; one granted it goes on to the backup file.
TEST(PeerLock, ARestoreWithoutTheLockSendsNothing)
{
    for (const auto& c : kResults) {
        SCOPED_TRACE(c.result);
        TdsPeer peer(lockServer(c.result));
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        ScriptedUi ui;
        const QString result = mdlOVSqlRestore::RestoreDatabase(
            peer.server(), QStringLiteral("crm"), QStringLiteral("sa"), QStringLiteral("pw"),
            QStringLiteral("D:\\bak\\crm.dat"), {QStringLiteral("crm_Data")}, {QStringLiteral("E:\\crm.mdf")},
            false, false, 1);
        const QStringList restores = peer.statements().filter(QStringLiteral("RESTORE"));
        if (c.granted) {
            EXPECT_EQ(result, QString());
            EXPECT_EQ(restores.size(), 2) << str(peer.statements().join(QLatin1Char('\n')));
            EXPECT_EQ(peer.statements().last(), kUnlock);
        } else {
            EXPECT_FALSE(result.isEmpty());
            EXPECT_TRUE(restores.isEmpty()) << str(restores.join(QLatin1Char('\n')));
            EXPECT_FALSE(peer.statements().contains(kUnlock));
        }
    }
}

// An answer that holds no return value (no row, NULL, not a whole number)
// or whose batch ends in an error grants nothing: the lock is taken only
// when the server says it was.
TEST(PeerLock, AnAnswerWithoutAReturnValueIsNoLock)
{
    const char* replies[] = {
        R"j([{"columns": [{"name": "result", "type": "int"}], "rows": [[null]]}, {"done": {}}])j",
        R"j([{"columns": [{"name": "result", "type": "int"}], "rows": []}, {"done": {}}])j",
        R"j([{"columns": [{"name": "result", "type": "nvarchar(10)"}], "rows": [["granted"]]}, {"done": {}}])j",
        R"j([{"columns": [{"name": "result", "type": "float"}], "rows": [[0.5]]}, {"done": {}}])j",
        R"j([{"columns": [{"name": "result", "type": "int"}], "rows": [[0]]}, {"done": {"more": true}},
             {"error": {"number": 1222, "class": 16, "state": 1, "message": "Lock request time out period exceeded."}},
             {"done": {"error": true}}])j",
    };
    for (const char* reply : replies) {
        SCOPED_TRACE(reply);
        TdsPeer peer(QJsonObject{
            {QStringLiteral("databases"), QJsonArray{QStringLiteral("master")}},
            {QStringLiteral("rules"),
             QJsonArray{QJsonObject{{QStringLiteral("regex"), QStringLiteral("SET NOCOUNT ON; .*")},
                                    {QStringLiteral("reply"), jsonArray(reply)},
                                    {QStringLiteral("replay"), false}}}}});
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        ov::DataError error;
        const auto lock = mdlOVSqlServer::LockDatabaseForTask(
            peer.server(), QStringLiteral("crm"), false, QStringLiteral("sa"), QStringLiteral("pw"), error);
        EXPECT_EQ(lock, nullptr);
        EXPECT_EQ(error.number, ov::DataErr::ProviderFailure) << str(error.description);
    }
}
