// The schema check with its reference built on SQL Server, against the
// scripted TDS peer (tests/support/tdspeer.py): the scratch database's
// statements as they reach the server, the drop after a failure, a scratch
// database a killed check left, a login that may not create databases, and
// a gap found by SQL Server's own type names.

#include "common/Cp936.h"
#include "data/Connection.h"
#include "data/odbc/MssqlStatements.h"
#include "support/TdsPeer.h"
#include "update/SchemaCheck.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using mdlOVSqlUpdateDB::SchemaCheckResult;
using ovtest::TdsPeer;

std::string str(const QString& s)
{
    return s.toStdString();
}

const QString kVersionQuery =
    QStringLiteral("SELECT * FROM tblVarible WHERE [Module] ='DB' AND VaribleName = 'Version'");
const QString kEmptyScript = QStringLiteral("CREATE TABLE tblVarible (VaribleValue NVARCHAR(255), UserID "
                                            "NVARCHAR(50), VaribleName NVARCHAR(50), Module NVARCHAR(50))");
const QString kBlockStatement = QStringLiteral("ALTER TABLE tblVarible ADD Note NVARCHAR(50)");
// Leftovers of killed checks, and names that are not ours.
const QString kLeftFree = QStringLiteral("ovcheck_0123456789abcdef0123456789abcdef");
const QString kLeftHeld = QStringLiteral("ovcheck_fedcba9876543210fedcba9876543210");
const QStringList kNotOurs = {QStringLiteral("ovcheck_backup"),
                              QStringLiteral("OVCHECK_0123456789ABCDEF0123456789ABCDEF"),
                              QStringLiteral("ovcheck_0123456789abcdef0123456789abcdef0"),
                              QStringLiteral("xovcheck_0123456789abcdef0123456789abcdef")};

// How a check marks its scratch database right after making it, and how a
// later check reads the mark of a leftover.
QString markStatement(const QString& name)
{
    return QStringLiteral("EXEC [%1].sys.sp_addextendedproperty @name = N'OrvaneSchemaCheck', @value = N'%1'")
        .arg(name);
}
QString markQuery(const QString& name)
{
    return QStringLiteral("SELECT CONVERT(nvarchar(128), value) FROM [%1].sys.extended_properties WHERE "
                          "class = 0 AND name = N'OrvaneSchemaCheck'")
        .arg(name);
}

QJsonArray tokens(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).array();
}

QJsonObject rule(const QString& key, const QString& text, const QJsonArray& reply, int times = 0)
{
    QJsonObject r{{key, text}, {QStringLiteral("reply"), reply}};
    if (times > 0)
        r.insert(QStringLiteral("times"), times);
    return r;
}

// A reply of INFORMATION_SCHEMA.COLUMNS rows, typed as SQL Server types them.
QJsonArray catalogReply(const QList<QStringList>& rows)
{
    QJsonArray data;
    for (const QStringList& r : rows) {
        data.append(QJsonArray{r[0], r[1], r[2],
                               r[3] == QLatin1String("-") ? QJsonValue() : QJsonValue(r[3].toInt()),
                               QJsonValue(), QJsonValue(), QStringLiteral("YES")});
    }
    QJsonObject set = QJsonDocument::fromJson(R"j({"columns": [
        {"name": "TABLE_NAME", "type": "nvarchar(128)"}, {"name": "COLUMN_NAME", "type": "nvarchar(128)"},
        {"name": "DATA_TYPE", "type": "nvarchar(128)"}, {"name": "CHARACTER_MAXIMUM_LENGTH", "type": "int"},
        {"name": "NUMERIC_PRECISION", "type": "tinyint"}, {"name": "NUMERIC_SCALE", "type": "int"},
        {"name": "IS_NULLABLE", "type": "varchar(3)"}]})j")
                          .object();
    set.insert(QStringLiteral("rows"), data);
    return QJsonArray{
        set, QJsonObject{{QStringLiteral("done"), QJsonObject{{QStringLiteral("count"), data.size()}}}}};
}

QList<QStringList> versionTable(bool withNote)
{
    QList<QStringList> rows = {{"tblVarible", "VaribleValue", "nvarchar", "255"},
                               {"tblVarible", "UserID", "nvarchar", "50"},
                               {"tblVarible", "VaribleName", "nvarchar", "50"},
                               {"tblVarible", "Module", "nvarchar", "50"}};
    if (withNote)
        rows.append({"tblVarible", "Note", "nvarchar", "50"});
    return rows;
}

QJsonArray versionReply(const QString& version)
{
    QJsonObject set = QJsonDocument::fromJson(R"j({"columns": [
        {"name": "VaribleValue", "type": "nvarchar(255)"}, {"name": "UserID", "type": "nvarchar(50)"},
        {"name": "VaribleName", "type": "nvarchar(50)"}, {"name": "Module", "type": "nvarchar(50)"}]})j")
                          .object();
    set.insert(QStringLiteral("rows"),
               QJsonArray{QJsonArray{version, QString(), QStringLiteral("Version"), QStringLiteral("DB")}});
    return QJsonArray{set, QJsonObject{{QStringLiteral("done"), QJsonObject{{QStringLiteral("count"), 1}}}}};
}

QJsonArray errorReply(int number, int severity, const QString& message)
{
    return QJsonArray{
        QJsonObject{{QStringLiteral("error"), QJsonObject{{QStringLiteral("number"), number},
                                                          {QStringLiteral("class"), severity},
                                                          {QStringLiteral("state"), 1},
                                                          {QStringLiteral("message"), message}}}},
        QJsonObject{{QStringLiteral("done"), QJsonObject{{QStringLiteral("error"), true}}}}};
}

QJsonArray lockReply(int result)
{
    return tokens(QStringLiteral(R"j([{"columns": [{"name": "result", "type": "int"}], "rows": [[%1]]},
                                      {"done": {"count": 1}}])j")
                      .arg(result)
                      .toUtf8());
}

// How the peer answers: the customer's database crm at version 1.1 lacks
// the column Note that block 1.1 adds; the scratch database starts at "0".
// Extra rules go first.
struct PeerScript
{
    QJsonArray first;
    QStringList databases = {QStringLiteral("master"), QStringLiteral("tempdb"), QStringLiteral("model"),
                             QStringLiteral("msdb"), QStringLiteral("crm")};

    QJsonObject json() const
    {
        QJsonArray rules = first;
        QJsonArray names;
        for (const QString& d : databases)
            names.append(QJsonArray{d});
        QJsonObject list =
            tokens(R"j([{"columns": [{"name": "name", "type": "nvarchar(128)"}]}])j")[0].toObject();
        list.insert(QStringLiteral("rows"), names);
        rules.append(rule(QStringLiteral("match"), ov::mssql::listDatabasesStatement(),
                          QJsonArray{list, QJsonObject{{QStringLiteral("done"), QJsonObject{}}}}));
        rules.append(rule(QStringLiteral("regex"),
                          QStringLiteral("SET NOCOUNT ON; DECLARE @result int; EXEC .*"), lockReply(0)));
        // The customer's version and catalog are read first, then the
        // scratch database's, after the schema script and after block 1.1.
        rules.append(rule(QStringLiteral("match"), kVersionQuery, versionReply(QStringLiteral("1.1")), 1));
        rules.append(rule(QStringLiteral("match"), kVersionQuery, versionReply(QStringLiteral("0"))));
        const QString catalog = ov::mssql::columnsCatalogStatement();
        rules.append(rule(QStringLiteral("match"), catalog, catalogReply(versionTable(false)), 1));
        // The new scratch database, empty as model left it.
        rules.append(rule(QStringLiteral("match"), catalog, catalogReply({}), 1));
        rules.append(rule(QStringLiteral("match"), catalog, catalogReply(versionTable(false)), 1));
        rules.append(rule(QStringLiteral("match"), catalog, catalogReply(versionTable(true))));
        return QJsonObject{{QStringLiteral("rules"), rules}};
    }
};

class SchemaCheckOnServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_empty = write(QStringLiteral("OVScriptEmpty.txt"), {kEmptyScript, QStringLiteral("GO")});
        m_update =
            write(QStringLiteral("OVScriptUpdate.txt"), {QStringLiteral("--<V:1.1>"), kBlockStatement,
                                                         QStringLiteral("GO"), QStringLiteral("--</V:1.1>")});
    }
    QString write(const QString& name, const QStringList& lines)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(ov::cp936::encode(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")));
        return path;
    }
    SchemaCheckResult check(TdsPeer& peer)
    {
        ov::Connection cn;
        EXPECT_TRUE(cn.Open(peer.login(QStringLiteral("crm")))) << str(cn.lastError().description);
        const ConnectionSettings login{peer.server(), QStringLiteral("crm"), false, QStringLiteral("sa"),
                                       QStringLiteral("pw")};
        SchemaCheckResult r = mdlOVSqlUpdateDB::CheckSchema(cn, m_empty, m_update, &login);
        cn.Close();
        return r;
    }
    // The name of the scratch database the check made, from its CREATE DATABASE.
    static QString scratchName(const QStringList& statements)
    {
        static const QRegularExpression create(
            QStringLiteral("^CREATE DATABASE \\[(ovcheck_[0-9a-f]{32})\\]$"));
        for (const QString& s : statements) {
            const QRegularExpressionMatch m = create.match(s);
            if (m.hasMatch())
                return m.captured(1);
        }
        return QString();
    }
    static QStringList gaps(const SchemaCheckResult& r)
    {
        QStringList out;
        for (const auto& f : r.gaps)
            out.append(f.table + QLatin1Char('.') + f.column + QLatin1Char(' ') + f.expected +
                       QStringLiteral(" @") + f.block);
        return out;
    }

    QTemporaryDir m_dir;
    QString m_empty;
    QString m_update;
};

} // namespace

// The whole round on the server: the scratch database is taken, made with
// the server's defaults, the scripts run in it, INFORMATION_SCHEMA read after
// the schema script and after the block, and it is dropped; the gap is found
// by SQL Server's own type name and length.
TEST_F(SchemaCheckOnServer, BuildsInAScratchDatabaseAndDropsIt)
{
    TdsPeer peer(PeerScript().json());
    ASSERT_TRUE(peer.isRunning()) << str(peer.error());
    const SchemaCheckResult r = check(peer);
    const QStringList sent = peer.statements();
    const QString all = sent.join(QLatin1Char('\n'));
    const QString name = scratchName(sent);
    ASSERT_FALSE(name.isEmpty()) << str(all);

    EXPECT_EQ(r.status, SchemaCheckResult::Status::Gaps) << str(mdlOVSqlUpdateDB::SchemaReportText(r));
    EXPECT_TRUE(r.referenceOnServer);
    EXPECT_EQ(gaps(r), QStringList{QStringLiteral("tblVarible.Note nvarchar(50) @1.1")});
    EXPECT_TRUE(r.notRun.isEmpty());
    EXPECT_TRUE(r.referenceNotes.isEmpty()) << str(r.referenceNotes.join(QLatin1Char('\n')));

    // Every statement, in order: the customer's version and catalog; the
    // listing for leftovers; the scratch database taken, made; in it its
    // catalog (empty, as the server's model database is), the schema script, its catalog, the version "0",
    // block 1.1 (the version read, the block, the catalog, the record of the block); then dropped and given
    // back.
    const QString catalog = ov::mssql::columnsCatalogStatement();
    QStringList expected = {
        kVersionQuery,
        catalog,
        ov::mssql::listDatabasesStatement(),
        ov::mssql::taskLockStatement(name),
        QStringLiteral("CREATE DATABASE [%1]").arg(name),
        QStringLiteral("ALTER DATABASE [%1] SET RECOVERY SIMPLE").arg(name),
        QStringLiteral("ALTER DATABASE [%1] SET AUTO_CLOSE OFF").arg(name),
        markStatement(name),
        catalog,
        kEmptyScript + QStringLiteral("\r\n"),
        catalog,
        QStringLiteral(
            "INSERT INTO tblVarible (VaribleValue, UserID, VaribleName, Module)    values('0', '', "
            "'Version', 'DB')"),
        kVersionQuery,
        kBlockStatement + QStringLiteral("\r\n"),
        catalog,
        QStringLiteral("DELETE FROM tblVarible WHERE [Module] = 'UpdateDB' AND [VaribleName] = '1.1'"),
        QStringLiteral("(the record of block 1.1)"),
        QStringLiteral("DROP DATABASE [%1]").arg(name),
        ov::mssql::taskUnlockStatement(name),
    };
    QStringList seen = sent;
    const QString record =
        QStringLiteral("INSERT INTO tblVarible ([Module] , [VaribleName] , [VaribleValue] , "
                       "[UserID]) VALUES ('UpdateDB' , '1.1', ");
    for (QString& s : seen) {
        if (s.startsWith(record))
            s = QStringLiteral("(the record of block 1.1)");
    }
    EXPECT_EQ(seen, expected) << str(all);
    // The scripts ran in the scratch database, reached by its own login.
    bool scratchLogin = false;
    for (const QJsonObject& login : peer.events(QStringLiteral("login")))
        scratchLogin = scratchLogin || login[QStringLiteral("database")].toString() == name;
    EXPECT_TRUE(scratchLogin) << str(all);
}

// A step that fails midway (here the connection drops while the scratch
// database gets its version): the database is still dropped, and the check
// is made with the in-memory reference, saying so.
TEST_F(SchemaCheckOnServer, FailureMidwayStillDrops)
{
    PeerScript script;
    script.first.append(rule(QStringLiteral("regex"), QStringLiteral("INSERT INTO tblVarible .*'0'.*"),
                             tokens(R"j([{"close": true}])j")));
    TdsPeer peer(script.json());
    ASSERT_TRUE(peer.isRunning()) << str(peer.error());
    const SchemaCheckResult r = check(peer);
    const QStringList sent = peer.statements();
    const QString name = scratchName(sent);
    ASSERT_FALSE(name.isEmpty()) << str(sent.join(QLatin1Char('\n')));
    const int insert =
        int(sent.indexOf(QRegularExpression(QStringLiteral("INSERT INTO tblVarible .*'0'.*"))));
    const int drop = int(sent.indexOf(QStringLiteral("DROP DATABASE [%1]").arg(name)));
    EXPECT_GT(insert, 0);
    EXPECT_GT(drop, insert) << str(sent.join(QLatin1Char('\n')));

    EXPECT_FALSE(r.referenceOnServer);
    EXPECT_EQ(r.status, SchemaCheckResult::Status::Gaps);
    EXPECT_EQ(gaps(r), QStringList{QStringLiteral("tblVarible.Note nvarchar(50) @1.1")});
    ASSERT_EQ(r.referenceNotes.size(), 1) << str(r.referenceNotes.join(QLatin1Char('\n')));
    EXPECT_TRUE(r.referenceNotes[0].startsWith(QStringLiteral("未能在服务器上建立参照库：")))
        << str(r.referenceNotes[0]);
    EXPECT_TRUE(r.referenceNotes[0].endsWith(QStringLiteral("改用内存中的参照库。")))
        << str(r.referenceNotes[0]);
    EXPECT_TRUE(mdlOVSqlUpdateDB::SchemaReportText(r).contains(r.referenceNotes[0]));
}

// Scratch databases on the server: one a killed check left (its lock can be
// had, and it carries the mark a check gives its scratch database) is
// dropped; one without the mark is a customer's database that only looks
// like ours and is left alone, named in a note; one whose lock another
// running check holds is left alone, and so are names that only look like
// ours.
TEST_F(SchemaCheckOnServer, LeftoverOfAKilledCheckIsDropped)
{
    const QString unmarked = QStringLiteral("ovcheck_00112233445566778899aabbccddeeff");
    const QString otherMark = QStringLiteral("ovcheck_ffeeddccbbaa99887766554433221100");
    PeerScript script;
    script.databases << kLeftFree << unmarked << otherMark << kLeftHeld << kNotOurs;
    const auto markReply = [](const QString& value) {
        QJsonObject set = tokens(R"j([{"columns": [{"name": "", "type": "nvarchar(128)"}]}])j")[0].toObject();
        set.insert(QStringLiteral("rows"), value.isNull() ? QJsonArray() : QJsonArray{QJsonArray{value}});
        return QJsonArray{set, QJsonObject{{QStringLiteral("done"), QJsonObject{}}}};
    };
    script.first.append(
        rule(QStringLiteral("match"), ov::mssql::taskLockStatement(kLeftHeld), lockReply(-1)));
    script.first.append(rule(QStringLiteral("match"), markQuery(kLeftFree), markReply(kLeftFree)));
    script.first.append(rule(QStringLiteral("match"), markQuery(unmarked), markReply(QString())));
    // A mark of that name whose value names another database: a copy.
    script.first.append(rule(QStringLiteral("match"), markQuery(otherMark), markReply(kLeftFree)));
    TdsPeer peer(script.json());
    ASSERT_TRUE(peer.isRunning()) << str(peer.error());
    const SchemaCheckResult r = check(peer);
    const QStringList sent = peer.statements();
    const QString all = sent.join(QLatin1Char('\n'));
    const QString name = scratchName(sent);
    ASSERT_FALSE(name.isEmpty()) << str(all);

    const int list = int(sent.indexOf(ov::mssql::listDatabasesStatement()));
    ASSERT_GE(list, 0) << str(all);
    const QStringList cleaning = {ov::mssql::taskLockStatement(kLeftFree),
                                  markQuery(kLeftFree),
                                  QStringLiteral("DROP DATABASE [%1]").arg(kLeftFree),
                                  ov::mssql::taskUnlockStatement(kLeftFree),
                                  ov::mssql::taskLockStatement(unmarked),
                                  markQuery(unmarked),
                                  ov::mssql::taskUnlockStatement(unmarked),
                                  ov::mssql::taskLockStatement(otherMark),
                                  markQuery(otherMark),
                                  ov::mssql::taskUnlockStatement(otherMark),
                                  ov::mssql::taskLockStatement(kLeftHeld),
                                  ov::mssql::taskLockStatement(name)};
    EXPECT_EQ(sent.mid(list + 1, cleaning.size()), cleaning) << str(all);
    const QStringList kept = kNotOurs + QStringList{kLeftHeld, unmarked, otherMark};
    for (const QString& other : kept)
        EXPECT_FALSE(all.contains(QStringLiteral("DROP DATABASE [%1]").arg(other))) << str(other);
    EXPECT_TRUE(r.referenceOnServer);
    ASSERT_EQ(r.referenceNotes.size(), 3) << str(r.referenceNotes.join(QLatin1Char('\n')));
    EXPECT_EQ(r.referenceNotes[0],
              QStringLiteral("已删除以前被中断的检查留下的临时数据库 %1。").arg(kLeftFree));
    EXPECT_TRUE(r.referenceNotes[1].contains(unmarked)) << str(r.referenceNotes[1]);
    EXPECT_TRUE(r.referenceNotes[2].contains(otherMark)) << str(r.referenceNotes[2]);
}

// A server that stops answering while the scratch database is made: the
// statement's time-out ends the wait, the scratch database is still
// dropped, the check is made with the in-memory reference, and the run
// ends.
TEST_F(SchemaCheckOnServer, SilentServerFallsBackToMemory)
{
    const int before = mdlOVSqlUpdateDB::ServerReferenceTimeout();
    mdlOVSqlUpdateDB::SetServerReferenceTimeout(2);
    PeerScript script;
    script.first.append(rule(QStringLiteral("regex"),
                             QStringLiteral("CREATE DATABASE \\[ovcheck_[0-9a-f]{32}\\]"),
                             tokens(R"j([{"silent": true}])j")));
    TdsPeer peer(script.json());
    ASSERT_TRUE(peer.isRunning()) << str(peer.error());
    const SchemaCheckResult r = check(peer);
    mdlOVSqlUpdateDB::SetServerReferenceTimeout(before);
    const QStringList sent = peer.statements();
    const QString all = sent.join(QLatin1Char('\n'));
    const QString name = scratchName(sent);
    ASSERT_FALSE(name.isEmpty()) << str(all);

    EXPECT_GT(sent.indexOf(QStringLiteral("DROP DATABASE [%1]").arg(name)),
              sent.indexOf(QStringLiteral("CREATE DATABASE [%1]").arg(name)))
        << str(all);
    EXPECT_FALSE(all.contains(QStringLiteral("sp_addextendedproperty"))) << str(all);
    EXPECT_FALSE(r.referenceOnServer);
    EXPECT_EQ(r.status, SchemaCheckResult::Status::Gaps);
    EXPECT_EQ(gaps(r), QStringList{QStringLiteral("tblVarible.Note nvarchar(50) @1.1")});
    ASSERT_EQ(r.referenceNotes.size(), 1) << str(r.referenceNotes.join(QLatin1Char('\n')));
    EXPECT_TRUE(r.referenceNotes[0].startsWith(QStringLiteral("未能在服务器上建立参照库：")))
        << str(r.referenceNotes[0]);
    EXPECT_TRUE(r.referenceNotes[0].contains(QStringLiteral("2 秒内没有回答"))) << str(r.referenceNotes[0]);
}

// A login that may not create databases: SQL Server answers CREATE DATABASE
// with error 262; the check says so in Chinese, drops nothing it did not
// make, and compares with the in-memory reference.
TEST_F(SchemaCheckOnServer, PermissionDeniedFallsBackToMemory)
{
    PeerScript script;
    script.first.append(rule(QStringLiteral("regex"),
                             QStringLiteral("CREATE DATABASE \\[ovcheck_[0-9a-f]{32}\\]"),
                             errorReply(262, 14,
                                        QStringLiteral("CREATE DATABASE permission denied in database "
                                                       "'master'."))));
    TdsPeer peer(script.json());
    ASSERT_TRUE(peer.isRunning()) << str(peer.error());
    const SchemaCheckResult r = check(peer);
    const QStringList sent = peer.statements();
    const QString all = sent.join(QLatin1Char('\n'));

    EXPECT_FALSE(all.contains(QStringLiteral("DROP DATABASE"))) << str(all);
    EXPECT_FALSE(all.contains(QStringLiteral("ALTER DATABASE"))) << str(all);
    EXPECT_FALSE(r.referenceOnServer);
    EXPECT_EQ(r.status, SchemaCheckResult::Status::Gaps);
    EXPECT_EQ(gaps(r), QStringList{QStringLiteral("tblVarible.Note nvarchar(50) @1.1")});
    ASSERT_EQ(r.referenceNotes.size(), 1);
    EXPECT_TRUE(r.referenceNotes[0].startsWith(
        QStringLiteral("未能在服务器上建立参照库：登录没有在服务器上建立数据库的"
                       "权限（")))
        << str(r.referenceNotes[0]);
    EXPECT_TRUE(r.referenceNotes[0].contains(QStringLiteral("CREATE DATABASE permission denied")));
    EXPECT_TRUE(mdlOVSqlUpdateDB::SchemaCheckNotice(r).contains(r.referenceNotes[0]));
}

// Whatever fails once the scratch database may exist, it is dropped (SQL
// Server's 3701 for one that CREATE never made is no failure); a script
// holding a USE, which would leave the scratch database, is checked in
// memory before anything is made, also behind a "--" that is no comment; a
// name SQL Server says exists already (1801) was not made by this check and
// is not dropped; a scratch database SQL Server refuses to drop is named for
// the next check. The update's findings stay the same.
TEST_F(SchemaCheckOnServer, EveryFailureDropsWhatItMayHaveMade)
{
    const QString anyScratch = QStringLiteral("\\[ovcheck_[0-9a-f]{32}\\]");
    const QString catalog = ov::mssql::columnsCatalogStatement();
    const QJsonArray noSuchDatabase = errorReply(3701, 11,
                                                 QStringLiteral("Cannot drop the database 'x', because it "
                                                                "does not exist or you do not have "
                                                                "permission."));
    const struct
    {
        const char* what;
        QJsonArray rules;
        QString useInScript;
        bool created;
        bool dropped;
        bool onServer;
        QString note;
    } cases[] = {
        {"an option refused",
         {rule(QStringLiteral("regex"),
               QStringLiteral("ALTER DATABASE %1 SET RECOVERY SIMPLE").arg(anyScratch),
               errorReply(5011, 14,
                          QStringLiteral("User does not have permission to alter database 'x', the "
                                         "database does not exist, or the database is not in a state "
                                         "that allows access checks.")))},
         {},
         true,
         true,
         false,
         QStringLiteral("无法建立")},
        {"the name taken already",
         {rule(QStringLiteral("regex"), QStringLiteral("CREATE DATABASE %1").arg(anyScratch),
               errorReply(1801, 16,
                          QStringLiteral("Database 'x' already exists. Choose a different database "
                                         "name.")))},
         {},
         true,
         false,
         false,
         QStringLiteral("already exists")},
        {"its files cannot be made",
         {rule(QStringLiteral("regex"), QStringLiteral("CREATE DATABASE %1").arg(anyScratch),
               errorReply(1802, 16,
                          QStringLiteral("CREATE DATABASE failed. Some file names listed could not be "
                                         "created. Check related errors."))),
          rule(QStringLiteral("regex"), QStringLiteral("DROP DATABASE %1").arg(anyScratch), noSuchDatabase)},
         {},
         true,
         true,
         false,
         QStringLiteral("CREATE DATABASE failed")},
        {"model holds a table",
         {rule(QStringLiteral("match"), catalog, catalogReply(versionTable(false)), 1),
          rule(QStringLiteral("match"), catalog, catalogReply({{"tblModel", "ID", "int", "-"}}), 1)},
         {},
         true,
         true,
         false,
         QStringLiteral("model 数据库含有表 tblModel")},
        {"the drop refused",
         {rule(QStringLiteral("regex"), QStringLiteral("DROP DATABASE %1").arg(anyScratch),
               errorReply(3702, 16,
                          QStringLiteral("Cannot drop database \"x\" because it is currently in use.")))},
         {},
         true,
         true,
         true,
         QStringLiteral("下一次在服务器上建立参照库的检查会删除它")},
        // Last: they change the update script.
        {"a USE in the script",
         {},
         QStringLiteral("USE master"),
         false,
         false,
         false,
         QStringLiteral("USE 语句（USE master）")},
        {"a USE behind a -- in a literal",
         {},
         QStringLiteral("PRINT '--'; USE master"),
         false,
         false,
         false,
         QStringLiteral("USE 语句（PRINT '--'; USE master）")},
        {"a USE behind a -- in a block comment",
         {},
         QStringLiteral("/* -- */ USE master"),
         false,
         false,
         false,
         QStringLiteral("USE 语句（/* -- */ USE master）")},
        {"a USE after a batch that left a literal open",
         {},
         QStringLiteral("PRINT 'open\r\nGO\r\nUSE master"),
         false,
         false,
         false,
         QStringLiteral("USE 语句（USE master）")},
        {"a USE behind a -- in brackets",
         {},
         QStringLiteral("PRINT [--]; USE master"),
         false,
         false,
         false,
         QStringLiteral("USE 语句（PRINT [--]; USE master）")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.useInScript.isEmpty())
            m_update = write(QStringLiteral("OVScriptUpdate.txt"),
                             {QStringLiteral("--<V:1.1>"), c.useInScript, QStringLiteral("GO"),
                              kBlockStatement, QStringLiteral("GO"), QStringLiteral("--</V:1.1>")});
        PeerScript script;
        script.first = c.rules;
        TdsPeer peer(script.json());
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        const SchemaCheckResult r = check(peer);
        const QStringList sent = peer.statements();
        const QString all = sent.join(QLatin1Char('\n'));
        const QString name = scratchName(sent);
        EXPECT_EQ(!name.isEmpty(), c.created) << str(all);
        EXPECT_EQ(all.contains(QStringLiteral("DROP DATABASE")), c.dropped) << str(all);
        if (c.dropped) {
            EXPECT_EQ(sent.last(), ov::mssql::taskUnlockStatement(name)) << str(all);
        }
        EXPECT_EQ(r.referenceOnServer, c.onServer);
        EXPECT_EQ(r.status, SchemaCheckResult::Status::Gaps) << str(mdlOVSqlUpdateDB::SchemaReportText(r));
        EXPECT_EQ(gaps(r), QStringList{QStringLiteral("tblVarible.Note nvarchar(50) @1.1")});
        ASSERT_EQ(r.referenceNotes.size(), 1) << str(r.referenceNotes.join(QLatin1Char('\n')));
        EXPECT_TRUE(r.referenceNotes[0].contains(c.note)) << str(r.referenceNotes[0]);
    }
}

// A shipped script missing: the check cannot be made wherever its
// reference would be built, and nothing is made on the server.
TEST_F(SchemaCheckOnServer, AMissingScriptMakesNothingOnTheServer)
{
    ASSERT_TRUE(QFile::remove(m_empty));
    TdsPeer peer(PeerScript().json());
    ASSERT_TRUE(peer.isRunning()) << str(peer.error());
    const SchemaCheckResult r = check(peer);
    EXPECT_EQ(r.status, SchemaCheckResult::Status::Failed);
    EXPECT_TRUE(r.error.contains(QStringLiteral("OVScriptEmpty.txt"))) << str(r.error);
    EXPECT_EQ(peer.statements(), QStringList({kVersionQuery, ov::mssql::columnsCatalogStatement()}));
}

// Only our own scratch names: "ovcheck_" and exactly 32 lower-case
// hexadecimal digits.
TEST(ScratchDatabaseName, OnlyOurOwnPatternMatches)
{
    EXPECT_TRUE(mdlOVSqlUpdateDB::IsScratchDatabaseName(kLeftFree));
    for (const QString& name :
         kNotOurs + QStringList{QString(), QStringLiteral("ovcheck_"),
                                QStringLiteral("ovcheck_0123456789abcdef0123456789abcdeg"),
                                QStringLiteral("ovcheck_0123456789abcdef0123456789abcde]")})
        EXPECT_FALSE(mdlOVSqlUpdateDB::IsScratchDatabaseName(name)) << str(name);
}
