#include "config/mdlOVSqlServerConnect.h"

#include "common/clsError.h"
#include "data/AdoTypes.h"
#include "data/ConnectionString.h"
#include "data/Recordset.h"
#include "support/ScriptedUi.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace mdlOVSqlServer;

namespace {

TEST(BuildSqlConnectionStringTest, TheTwoFormsOfTheString)
{
    struct Case
    {
        const char* server;
        const char* database;
        bool trusted;
        const char* user;
        const char* password;
        const char* expected;
    };
    const Case cases[] = {
        {"srv", "crm", false, "sa", "pw",
         "Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;PASSWORD=pw;Initial Catalog=crm;"
         "Data Source=srv"},
        // Windows login: user and password stay out.
        {"srv", "crm", true, "sa", "secret",
         "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Initial Catalog=crm;"
         "Data Source=srv"},
        {"srv\\inst", "", true, "", "",
         "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Initial Catalog=;"
         "Data Source=srv\\inst"},
        {"host,1433", "客户库", false, "", "",
         "Provider=SQLOLEDB.1;Persist Security Info=True;User ID=;PASSWORD=;Initial Catalog=客户库;"
         "Data Source=host,1433"},
        // Values that would add keys are quoted.
        {"srv", "crm", false, "sa", "a;Initial Catalog=master",
         "Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;PASSWORD=\"a;Initial Catalog=master\";"
         "Initial Catalog=crm;Data Source=srv"},
        {"srv", "my \"db\"", false, "o'neil", " pw ",
         "Provider=SQLOLEDB.1;Persist Security Info=True;User ID=\"o'neil\";PASSWORD=\" pw \";"
         "Initial Catalog=\"my \"\"db\"\"\";Data Source=srv"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildSqlConnectionString(QString::fromUtf8(c.server), QString::fromUtf8(c.database),
                                           c.trusted, QString::fromUtf8(c.user),
                                           QString::fromUtf8(c.password)),
                  QString::fromUtf8(c.expected));
    }
}

// Whatever a value holds, the data layer reads back the same five values from
// the string, and its ODBC form carries them unchanged, each key once.
TEST(BuildSqlConnectionStringTest, NoValueCanInjectOrChangeAKey)
{
    const QStringList values = {
        QStringLiteral("a;Initial Catalog=master"),
        QStringLiteral("x=y"),
        QStringLiteral("==;;"),
        QStringLiteral("\"quoted\""),
        QStringLiteral("it's"),
        QStringLiteral("'single'"),
        QStringLiteral("{brace}"),
        QStringLiteral("}};Database=master;{"),
        QStringLiteral(" blanks "),
        QStringLiteral("mixed\"';={}"),
        QStringLiteral("密码;Data Source=evil"),
    };
    for (const QString& v : values) {
        const QString text = BuildSqlConnectionString(QStringLiteral("srv"), v, false, v, v);
        ov::connstr::Pairs oledb;
        ASSERT_TRUE(ov::connstr::parseOleDb(text, oledb)) << text.toStdString();
        EXPECT_EQ(oledb.size(), 6) << text.toStdString();
        const ov::connstr::SqlServerTarget target =
            ov::connstr::readSqlServerTarget(oledb, QString(), QString());
        EXPECT_EQ(target.server, QStringLiteral("srv")) << text.toStdString();
        EXPECT_EQ(target.database, v) << text.toStdString();
        EXPECT_EQ(target.user, v) << text.toStdString();
        EXPECT_EQ(target.password, v) << text.toStdString();
        EXPECT_FALSE(target.trusted);

        ov::connstr::Pairs odbc;
        const QString odbcText = ov::connstr::sqlServerOdbcString(target, QStringLiteral("FreeTDS"));
        ASSERT_TRUE(ov::connstr::parseOdbc(odbcText, odbc)) << odbcText.toStdString();
        QStringList keys;
        for (const auto& p : odbc) {
            keys.append(p.key.toUpper());
            if (p.key == QLatin1String("Database") || p.key == QLatin1String("UID") ||
                p.key == QLatin1String("PWD")) {
                EXPECT_EQ(p.value, v) << odbcText.toStdString();
            }
            if (p.key == QLatin1String("Server")) {
                EXPECT_EQ(p.value, QStringLiteral("srv"));
            }
        }
        for (const char* key : {"SERVER", "DATABASE", "UID", "PWD"})
            EXPECT_EQ(keys.count(QLatin1String(key)), 1) << key << " in " << odbcText.toStdString();
    }
}

// A temporary embedded server with the databases crm and master, each with a
// table that tells which one a connection reached.
class ConnectToDBFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_server = QStringLiteral("sqlite:") + m_dir.path();
        for (const QString& name : {QStringLiteral("crm"), QStringLiteral("master")}) {
            QFile f(m_dir.filePath(name + QStringLiteral(".sqlite")));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.close();
            ov::Connection cn;
            ASSERT_TRUE(cn.Open(QStringLiteral("Data Source=%1;Initial Catalog=%2").arg(m_server, name)));
            ASSERT_TRUE(
                cn.Execute(QStringLiteral("CREATE TABLE whoami (name TEXT); INSERT INTO whoami VALUES ('%1')")
                               .arg(name)));
        }
        mdlCommon::ClearError();
    }
    void TearDown() override { mdlCommon::ClearError(); }

    static QString whoami(ov::Connection& cn)
    {
        ov::Recordset rs;
        if (!rs.Open(QStringLiteral("SELECT name FROM whoami"), cn))
            return QString();
        return rs.Fields(0).Value().toString();
    }

    QTemporaryDir m_dir;
    QString m_server;
    ovtest::ScriptedUi m_ui;
};

TEST_F(ConnectToDBFileTest, OpensTheNamedDatabaseWithTheProgramsSettings)
{
    auto cn = ConnectToDBFile(m_server, QStringLiteral("crm"), true, QStringLiteral("sa"), QString());
    ASSERT_TRUE(cn);
    EXPECT_EQ(whoami(*cn), QStringLiteral("crm"));
    EXPECT_EQ(cn->CursorLocation(), ov::adUseClient);
    EXPECT_EQ(cn->CommandTimeout(), 600);
    EXPECT_EQ(m_ui.busyChanges(), (QList<bool>{true, false}));
    EXPECT_EQ(mdlCommon::GetErrorText(false), QString());
}

TEST_F(ConnectToDBFileTest, APasswordHoldingKeysNeverChangesTheDatabase)
{
    for (const QString& password :
         {QStringLiteral("a;Initial Catalog=master"), QStringLiteral("x\";Initial Catalog=master;y=\""),
          QStringLiteral("}};Database=master;{")}) {
        auto cn = ConnectToDBFile(m_server, QStringLiteral("crm"), false, QStringLiteral("sa"), password);
        ASSERT_TRUE(cn) << password.toStdString();
        EXPECT_EQ(whoami(*cn), QStringLiteral("crm")) << password.toStdString();
    }
}

TEST_F(ConnectToDBFileTest, AFailureIsRecordedForTheCallerToShow)
{
    auto cn = ConnectToDBFile(m_server, QStringLiteral("nosuch"), true, QString(), QString());
    EXPECT_FALSE(cn);
    ASSERT_TRUE(mdlCommon::gobjError);
    EXPECT_EQ(mdlCommon::gobjError->strMoudle(), QStringLiteral("mdlContactTrace"));
    EXPECT_EQ(mdlCommon::gobjError->strFunction(), QStringLiteral("ConnectToDBFile"));
    EXPECT_EQ(mdlCommon::gobjError->strMsg(), QStringLiteral("连接数据库失败！"));
    EXPECT_EQ(mdlCommon::gobjError->strContent(), QString());
    EXPECT_EQ(mdlCommon::gobjError->ErrNumber(), 4060);
    EXPECT_FALSE(mdlCommon::gobjError->ErrSource().isEmpty());
    const QString text = mdlCommon::GetErrorText(true);
    EXPECT_TRUE(text.startsWith(QStringLiteral("连接数据库失败！\r\n\r\n错误编号:4060\r\n错误描述:")))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("\r\n")));
    EXPECT_TRUE(m_ui.messages().isEmpty()); // the caller shows it, not the opener
    EXPECT_EQ(m_ui.busyChanges(), (QList<bool>{true, false}));
}

TEST_F(ConnectToDBFileTest, ARefusedSqlServerGivesTheProvidersErrorAndNoPassword)
{
    // Nothing listens on port 1: FreeTDS reports the refusal.
    auto cn = ConnectToDBFile(QStringLiteral("127.0.0.1,1"), QStringLiteral("crm"), false,
                              QStringLiteral("sa"), QStringLiteral("Secret;42"));
    EXPECT_FALSE(cn);
    const QString text = mdlCommon::GetErrorText(true);
    EXPECT_TRUE(text.startsWith(QStringLiteral("连接数据库失败！\r\n\r\n错误编号:"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("错误编号:0\r\n"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("Secret"))) << text.toStdString();
}

TEST_F(ConnectToDBFileTest, EnsureSqlServerRunningIsAConnectionTest)
{
    EXPECT_TRUE(EnsureSqlServerRunning(m_server, true, QString(), QString()));
    EXPECT_FALSE(EnsureSqlServerRunning(m_server + QStringLiteral("/nosuch"), true, QString(), QString()));
    EXPECT_FALSE(
        EnsureSqlServerRunning(QStringLiteral("127.0.0.1,1"), false, QStringLiteral("sa"), QString()));
    EXPECT_EQ(mdlCommon::GetErrorText(false), QString()); // records nothing
}

} // namespace
