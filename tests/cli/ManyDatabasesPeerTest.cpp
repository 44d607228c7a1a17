// ovsqlcli update --all on SQL Server, through the scripted TDS peer
// (tests/support/tdspeer.py): the listing and each database's statements as
// the server receives them, a database that refuses the login, one whose
// task lock another session holds, and one that is no product database.

#include "data/odbc/MssqlStatements.h"
#include "support/CliProgram.h"
#include "support/TdsPeer.h"
#include "update/ProductDatabases.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

namespace {

const QString kVersionRead =
    QStringLiteral("SELECT * FROM tblVarible WHERE [Module] ='DB' AND VaribleName = 'Version'");

QJsonObject versionRule(const QString& database, const QString& version)
{
    QJsonArray columns;
    for (const char* name : {"Module", "VaribleName", "VaribleValue", "UserID"})
        columns.append(QJsonObject{{"name", name}, {"type", "nvarchar(255)"}});
    return QJsonObject{
        {"match", kVersionRead},
        {"database", database},
        {"reply", QJsonArray{QJsonObject{{"columns", columns},
                                         {"rows", QJsonArray{QJsonArray{"DB", "Version", version, ""}}}}}}};
}

QJsonObject lockRule(const QString& database, int result)
{
    return QJsonObject{
        {"match", ov::mssql::taskLockStatement(database)},
        {"reply",
         QJsonArray{QJsonObject{{"columns", QJsonArray{QJsonObject{{"name", "result"}, {"type", "int"}}}},
                                {"rows", QJsonArray{QJsonArray{result}}}}}}};
}

TEST(ManyDatabasesPeer, TheListingAndEachDatabasesStatementsReachTheServerAsWritten)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(ovtest::InstallCli(dir.path()));
    QFile script(dir.filePath(QStringLiteral("step.txt")));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("--<VT:1.1>\r\nCREATE TABLE t11 (id INT)\r\nGO\r\n--</V:1.1>\r\n"
                 "--<VT:1.2>\r\nCREATE TABLE t12 (id INT)\r\nGO\r\n--</V:1.2>\r\n");
    script.close();

    QJsonArray listed;
    for (const char* name : {"crm1", "crm2", "gone", "locked", "plain"})
        listed.append(QJsonArray{name});
    const QJsonObject peerScript{
        // "gone" is listed but refuses the login, as a database that went
        // offline after the listing does.
        {"databases", QJsonArray{"master", "crm1", "crm2", "locked", "plain"}},
        {"rules",
         QJsonArray{
             QJsonObject{{"match", mdlOVSqlUpdateDB::UserDatabasesStatement()},
                         {"database", "master"},
                         {"reply", QJsonArray{QJsonObject{
                                       {"columns",
                                        QJsonArray{QJsonObject{{"name", "name"}, {"type", "nvarchar(128)"}}}},
                                       {"rows", listed}}}}},
             // Another session holds the task lock of "locked".
             lockRule(QStringLiteral("locked"), -1),
             lockRule(QStringLiteral("crm1"), 0),
             lockRule(QStringLiteral("crm2"), 0),
             versionRule(QStringLiteral("crm1"), QStringLiteral("1.2")),
             versionRule(QStringLiteral("crm2"), QStringLiteral("1.1")),
             versionRule(QStringLiteral("locked"), QStringLiteral("1.1")),
             QJsonObject{
                 {"match", kVersionRead},
                 {"database", "plain"},
                 {"reply", QJsonArray{QJsonObject{
                               {"error", QJsonObject{{"number", 208},
                                                     {"message", "Invalid object name 'tblVarible'."}}}}}}},
         }},
    };
    ovtest::TdsPeer peer(peerScript);
    ASSERT_TRUE(peer.isRunning()) << peer.error().toStdString();

    const ovtest::CliResult r =
        ovtest::RunCli(dir.path(),
                       {"update", "--server", peer.server(), "--user", "sa", "--password-stdin", "--all",
                        "--no-backup", "--script", "step.txt", "--report", "r.json"},
                       "pw\n");
    // A database that could not start (refused, busy) is the worst here: 2.
    EXPECT_EQ(r.exitCode, 2) << r.err.toStdString() << r.out.toStdString();
    QFile reportFile(dir.filePath(QStringLiteral("r.json")));
    ASSERT_TRUE(reportFile.open(QIODevice::ReadOnly));
    std::map<QString, QJsonObject> got;
    for (const QJsonValue& v :
         QJsonDocument::fromJson(reportFile.readAll()).object().value("databases").toArray())
        got[v.toObject().value("database").toString()] = v.toObject();
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got["crm1"].value("result").toString(), "current");
    EXPECT_EQ(got["crm2"].value("result").toString(), "updated");
    EXPECT_EQ(got["crm2"].value("blocksRun").toInt(), 1);
    EXPECT_EQ(got["gone"].value("result").toString(), "failed");
    EXPECT_TRUE(got["gone"].value("reason").toString().contains("Cannot open database \"gone\""))
        << got["gone"].value("reason").toString().toStdString();
    EXPECT_EQ(got["locked"].value("result").toString(), "busy");
    EXPECT_EQ(got["plain"].value("result").toString(), "not-product");

    // What each connection sent, by the database its login named.
    std::map<int, QString> databaseOf;
    std::map<QString, QStringList> sent;
    for (const QJsonObject& e : peer.record()) {
        const int conn = e.value("conn").toInt();
        const QString kind = e.value("kind").toString();
        if (kind == QLatin1String("login")) {
            databaseOf[conn] = e.value("database").toString();
            EXPECT_EQ(e.value("password").toString(), "pw");
        } else if (kind == QLatin1String("batch")) {
            sent[databaseOf[conn]] << e.value("text").toString().trimmed();
        } else if (kind == QLatin1String("tm")) {
            sent[databaseOf[conn]] << e.value("request").toString();
        }
    }
    // The listing comes first, on master, and the lock statements of the
    // databases that were updated or found busy.
    ASSERT_FALSE(sent["master"].isEmpty());
    EXPECT_EQ(sent["master"].first(), mdlOVSqlUpdateDB::UserDatabasesStatement());
    EXPECT_EQ(mdlOVSqlUpdateDB::UserDatabasesStatement(),
              "SELECT name FROM master.sys.databases WHERE database_id > 4 AND state = 0 AND "
              "HAS_DBACCESS(name) = 1 ORDER BY name");
    EXPECT_TRUE(sent["master"].contains(ov::mssql::taskLockStatement(QStringLiteral("locked"))));
    EXPECT_TRUE(sent["master"].contains(ov::mssql::taskUnlockStatement(QStringLiteral("crm2"))));
    EXPECT_FALSE(sent["master"].contains(ov::mssql::taskUnlockStatement(QStringLiteral("locked"))));
    // The database that is no product database is asked for its version and
    // nothing more; the busy one is read, never changed; the one that
    // refuses the login receives nothing.
    EXPECT_EQ(sent["plain"], QStringList({kVersionRead}));
    for (const QString& statement : sent["locked"])
        EXPECT_TRUE(statement.startsWith(QLatin1String("SELECT "))) << statement.toStdString();
    EXPECT_EQ(sent.count("gone"), 0u);
    // The one behind gets its block in a transaction.
    const QStringList& crm2 = sent["crm2"];
    const qsizetype begin = crm2.indexOf(QStringLiteral("TM_BEGIN_XACT"));
    ASSERT_GE(begin, 0) << crm2.join('\n').toStdString();
    EXPECT_EQ(crm2.mid(begin + 1, 1), QStringList({"CREATE TABLE t12 (id INT)"}));
    EXPECT_TRUE(crm2.contains(QStringLiteral("TM_COMMIT_XACT")));
    EXPECT_FALSE(crm2.contains(QStringLiteral("CREATE TABLE t11 (id INT)")));
    EXPECT_FALSE(sent["crm1"].join('\n').contains(QLatin1String("CREATE TABLE")));
}

// A database whose version cannot be read (the read is refused, or waits
// past its time on another session's lock) is no database passed over: it
// failed, with the server's words, and the run does not end as done. Only
// a database without tblVarible is passed over.
TEST(ManyDatabasesPeer, AVersionThatCannotBeReadIsAFailureNotADatabasePassedOver)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(ovtest::InstallCli(dir.path()));
    QFile script(dir.filePath(QStringLiteral("step.txt")));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("--<VT:1.1>\r\nCREATE TABLE t11 (id INT)\r\nGO\r\n--</V:1.1>\r\n");
    script.close();

    const struct
    {
        const char* database;
        int number;
        const char* message;
    } cases[] = {
        {"denied", 229,
         "The SELECT permission was denied on the object 'tblVarible', database 'denied', schema "
         "'dbo'."},
        {"blocked", 1222, "Lock request time out period exceeded."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.database);
        const QJsonObject peerScript{
            {"databases", QJsonArray{"master", c.database}},
            {"rules",
             QJsonArray{
                 QJsonObject{{"match", mdlOVSqlUpdateDB::UserDatabasesStatement()},
                             {"database", "master"},
                             {"reply", QJsonArray{QJsonObject{
                                           {"columns", QJsonArray{QJsonObject{{"name", "name"},
                                                                              {"type", "nvarchar(128)"}}}},
                                           {"rows", QJsonArray{QJsonArray{c.database}}}}}}},
                 QJsonObject{
                     {"match", kVersionRead},
                     {"database", c.database},
                     {"reply", QJsonArray{QJsonObject{
                                   {"error", QJsonObject{{"number", c.number}, {"message", c.message}}}}}}},
             }},
        };
        ovtest::TdsPeer peer(peerScript);
        ASSERT_TRUE(peer.isRunning()) << peer.error().toStdString();
        QFile::remove(dir.filePath(QStringLiteral("r.json")));
        const ovtest::CliResult r =
            ovtest::RunCli(dir.path(),
                           {"update", "--server", peer.server(), "--user", "sa", "--password-stdin", "--all",
                            "--no-backup", "--script", "step.txt", "--report", "r.json"},
                           "pw\n");
        EXPECT_NE(r.exitCode, 0) << r.err.toStdString() << r.out.toStdString();
        QFile reportFile(dir.filePath(QStringLiteral("r.json")));
        ASSERT_TRUE(reportFile.open(QIODevice::ReadOnly));
        const QJsonArray list =
            QJsonDocument::fromJson(reportFile.readAll()).object().value("databases").toArray();
        ASSERT_EQ(list.size(), 1);
        const QJsonObject o = list.first().toObject();
        EXPECT_EQ(o.value("result").toString(), "failed");
        EXPECT_NE(o.value("exitCode").toInt(), 0);
        EXPECT_TRUE(o.value("reason").toString().contains(QString::fromUtf8(c.message)))
            << o.value("reason").toString().toStdString();
    }
}

} // namespace
