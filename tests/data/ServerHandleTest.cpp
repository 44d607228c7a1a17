// The server handle: the engine decided once from the server name, the
// capabilities asked by name, and connections opened with the values as
// given, without a connection string on the way.

#include "DataTestSupport.h"

#include "data/Connection.h"
#include "data/Recordset.h"
#include "data/Server.h"
#include "data/ServerAdmin.h"
#include "support/ScopedProgramFolder.h"
#include "support/TdsPeer.h"

#include <QDir>
#include <QJsonArray>

using namespace ov;
using ovtest::str;
using ovtest::TdsPeer;

namespace {

ConnectionSettings named(const QString& server)
{
    return {server, QString(), true, QString(), QString()};
}

} // namespace

TEST(ServerHandle, TheNameDecidesTheEngineAndItsCapabilities)
{
    ovtest::ScopedProgramFolder program;
    const QString folder = QDir(program.path()).absolutePath();
    const struct
    {
        QString server;
        bool embedded;
        QString localFolder;
    } cases[] = {
        {QStringLiteral("sqlite:") + folder, true, folder},
        {QStringLiteral("  SQLite:") + folder + QStringLiteral("/ "), true, folder},
        {QStringLiteral("sqlite:data"), true, folder + QStringLiteral("/data")},
        {QStringLiteral("DBHOST"), false, QString()},
        {QStringLiteral("sqlitehost"), false, QString()},
        {QStringLiteral("tcp:sqlite:1433"), false, QString()},
        {QString(), false, QString()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(str(c.server));
        const Server s(named(c.server));
        EXPECT_EQ(s.engine(), c.embedded ? Server::Engine::Embedded : Server::Engine::SqlServer);
        EXPECT_EQ(s.localFolder(), c.localFolder);
        EXPECT_EQ(s.runsStatements(), !c.embedded);
        EXPECT_EQ(s.takesLogin(), !c.embedded);
        EXPECT_EQ(s.pathStyle(), c.embedded ? PathStyle::Posix : PathStyle::Windows);
        EXPECT_EQ(s.admin()->engine(), c.embedded ? QStringLiteral("sqlite") : QStringLiteral("mssql"));
        // The answers of the name alone are the handle's.
        EXPECT_EQ(ServerAdmin::localFolder(c.server), c.localFolder);
    }
}

// A connection the handle opens carries the login, the password and the
// database exactly as given, however they are spelled: each stays one value
// and none adds or replaces another.
TEST(ServerHandle, OpensWithTheValuesAsGiven)
{
    const QStringList values = {
        QStringLiteral("a;Initial Catalog=master"),
        QStringLiteral("it's \"quoted\""),
        QStringLiteral("x=y;;"),
        QStringLiteral("客户;Data Source=evil"),
    };
    for (const QString& v : values) {
        SCOPED_TRACE(str(v));
        TdsPeer peer(QJsonObject{{QStringLiteral("password"), v},
                                 {QStringLiteral("databases"), QJsonArray{QStringLiteral("master"), v}}});
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        const Server s({peer.server(), QString(), false, v, v});
        Connection cn;
        ASSERT_TRUE(s.open(cn, v, 30)) << str(cn.lastError().description);
        EXPECT_EQ(cn.CursorLocation(), adUseClient);
        EXPECT_EQ(cn.CommandTimeout(), 30);
        cn.Close();
        const QList<QJsonObject> logins = peer.events(QStringLiteral("login"));
        ASSERT_EQ(logins.size(), 1);
        EXPECT_EQ(logins.first().value(QStringLiteral("user")).toString(), v);
        EXPECT_EQ(logins.first().value(QStringLiteral("password")).toString(), v);
        EXPECT_EQ(logins.first().value(QStringLiteral("database")).toString(), v);
    }
}

// On the embedded engine the handle opens the database file of its folder.
TEST(ServerHandle, OpensAnEmbeddedDatabase)
{
    ovtest::ScopedProgramFolder program;
    const Server s(named(program.makeServer()));
    ASSERT_TRUE(s.admin()->createDatabase(QStringLiteral("crm")));
    Connection cn;
    ASSERT_TRUE(s.open(cn, QStringLiteral("CRM"), 0)) << str(cn.lastError().description);
    EXPECT_EQ(cn.engine(), QStringLiteral("sqlite"));
    EXPECT_TRUE(cn.Execute(QStringLiteral("CREATE TABLE t (a int)")));
    cn.Close();
    Connection missing;
    EXPECT_FALSE(s.open(missing, QStringLiteral("nothere"), 0));
}
