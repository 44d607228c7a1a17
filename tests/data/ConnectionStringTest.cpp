// Connection strings: reading the OLE DB form, quoting values in both forms,
// and the translation into the ODBC form for SQL Server.

#include "DataTestSupport.h"

#include "data/DataBackend.h"
#include "data/odbc/MssqlBulkCopy.h"

using namespace ov;
using namespace ov::connstr;
using ovtest::str;

namespace {

QString value(const Pairs& pairs, const char* key)
{
    return oleDbFind(pairs, QLatin1String(key));
}

TEST(ConnectionString, OleDbValuesAreReadByTheFormsRules)
{
    const struct
    {
        const char* text;
        const char* key;
        const char* expected;
    } cases[] = {
        {"Data Source=srv;Initial Catalog=crm", "Initial Catalog", "crm"},
        {"Initial Catalog = crm ;Data Source=srv", "initial catalog", "crm"},
        {"PASSWORD=\"a;b\";Initial Catalog=crm", "Password", "a;b"},
        {"PASSWORD='it''s';x=1", "Password", "it's"},
        {"PASSWORD=\"say \"\"hi\"\"\";x=1", "Password", "say \"hi\""},
        {"PASSWORD=' both \" and '' ';x=1", "Password", " both \" and ' "},
        {"Initial Catalog=\"crm\"", "Initial Catalog", "crm"},
        {"a==b=1", "a=b", "1"},
        {"Initial Catalog=", "Initial Catalog", ""},
        {"Initial Catalog=first;Initial Catalog=last", "Initial Catalog", "last"},
    };
    for (const auto& c : cases) {
        Pairs pairs;
        QString error;
        ASSERT_TRUE(parseOleDb(QString::fromUtf8(c.text), pairs, &error)) << c.text << " " << str(error);
        EXPECT_EQ(value(pairs, c.key), QString::fromUtf8(c.expected)) << c.text;
    }

    for (const char* bad : {"PASSWORD=\"open", "PASSWORD=\"a\"b;x=1", "Initial Catalog;x=1"}) {
        Pairs pairs;
        QString error;
        EXPECT_FALSE(parseOleDb(QString::fromUtf8(bad), pairs, &error)) << bad;
        EXPECT_FALSE(error.isEmpty());
    }
}

// Values that would break an unquoted string or add keys to it.
const char* const kHostileValues[] = {
    "plain",
    "a;Initial Catalog=master",
    "say \"hi\"",
    "it's",
    "both ' and \"",
    " lead and trail ",
    "{braced}",
    "x}};PWD=y",
    "=",
    "",
    "密码;中文",
    "a;;b",
};

TEST(ConnectionString, QuotedOleDbValuesReadBackUnchanged)
{
    for (const char* raw : kHostileValues) {
        const QString v = QString::fromUtf8(raw);
        const QString text = QStringLiteral("Provider=SQLOLEDB.1;PASSWORD=") + oleDbValue(v) +
                             QStringLiteral(";Initial Catalog=OrvaneCrm;Data Source=srv");
        Pairs pairs;
        ASSERT_TRUE(parseOleDb(text, pairs)) << raw;
        EXPECT_EQ(value(pairs, "Password"), v) << raw;
        EXPECT_EQ(value(pairs, "Initial Catalog"), QStringLiteral("OrvaneCrm")) << raw;
        EXPECT_EQ(pairs.size(), 4) << raw;
    }
    EXPECT_EQ(oleDbValue(QStringLiteral("plain")), QStringLiteral("plain"));
    EXPECT_EQ(oleDbValue(QStringLiteral("a;b")), QStringLiteral("\"a;b\""));
}

TEST(ConnectionString, BracedOdbcValuesReadBackUnchanged)
{
    for (const char* raw : kHostileValues) {
        const QString v = QString::fromUtf8(raw);
        const QString text =
            QStringLiteral("Driver=FreeTDS;PWD=") + odbcValue(v) + QStringLiteral(";Database=OrvaneCrm");
        Pairs pairs;
        ASSERT_TRUE(parseOdbc(text, pairs)) << raw;
        ASSERT_EQ(pairs.size(), 3) << raw;
        EXPECT_EQ(pairs[1].value, v) << raw;
        EXPECT_EQ(pairs[2].value, QStringLiteral("OrvaneCrm")) << raw;
    }
    EXPECT_EQ(odbcValue(QStringLiteral("a}b;c")), QStringLiteral("{a}}b;c}"));
    EXPECT_EQ(odbcValue(QStringLiteral("sa")), QStringLiteral("sa"));
}

TEST(ConnectionString, SqlServerStringsTranslateKeyByKey)
{
    const struct
    {
        const char* oledb;
        const char* user;
        const char* password;
        const char* odbc;
    } cases[] = {
        {"Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;PASSWORD=pw;Initial Catalog=OrvaneCrm;"
         "Data Source=srv",
         "", "",
         "Driver=FreeTDS;Server=srv;Database=OrvaneCrm;UID=sa;PWD=pw;TDS_Version=7.4;ClientCharset=UTF-8;"},
        {"Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Initial Catalog=crm;"
         "Data Source=(local)\\SQLEXPRESS",
         "", "",
         "Driver=FreeTDS;Server=127.0.0.1\\SQLEXPRESS;Database=crm;Trusted_Connection=yes;TDS_Version=7.4;"
         "ClientCharset=UTF-8;"},
        // The backup connection: the user in the string, the password as Open's argument.
        {"Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;Initial Catalog=\"crm\";Data "
         "Source=db1,1433",
         "", "p;w",
         "Driver=FreeTDS;Server=db1,1433;Database=crm;UID=sa;PWD={p;w};TDS_Version=7.4;ClientCharset=UTF-8;"},
        {"Provider=SQLOLEDB.1;User ID=sa;PASSWORD=\"a;Initial Catalog=master\";Initial Catalog=OrvaneCrm;"
         "Data Source=srv",
         "", "",
         "Driver=FreeTDS;Server=srv;Database=OrvaneCrm;UID=sa;PWD={a;Initial Catalog=master};TDS_Version=7.4;"
         "ClientCharset=UTF-8;"},
        {"Provider=SQLOLEDB.1;User ID=old;PASSWORD=old;Initial Catalog=;Data Source=srv", "new", "",
         "Driver=FreeTDS;Server=srv;UID=new;PWD=old;TDS_Version=7.4;ClientCharset=UTF-8;"},
    };
    for (const auto& c : cases) {
        Pairs pairs;
        ASSERT_TRUE(parseOleDb(QString::fromUtf8(c.oledb), pairs)) << c.oledb;
        const SqlServerTarget t =
            readSqlServerTarget(pairs, QString::fromUtf8(c.user), QString::fromUtf8(c.password));
        EXPECT_EQ(sqlServerOdbcString(t, QStringLiteral("FreeTDS")), QString::fromUtf8(c.odbc)) << c.oledb;
    }

    // Another driver gets no FreeTDS keys.
    SqlServerTarget t;
    t.server = QStringLiteral("srv");
    t.database = QStringLiteral("crm");
    t.trusted = true;
    EXPECT_EQ(sqlServerOdbcString(t, QStringLiteral("ODBC Driver 18 for SQL Server")),
              QStringLiteral(
                  "Driver=ODBC Driver 18 for SQL Server;Server=srv;Database=crm;Trusted_Connection=yes;"));
}

TEST(ConnectionString, ServerNamesForTheDrivers)
{
    const struct
    {
        const char* server;
        const char* odbc;
        const char* dblib;
    } cases[] = {
        {"srv", "srv", "srv"},
        {"srv,1433", "srv,1433", "srv:1433"},
        {" srv , 1433 ", "srv,1433", "srv:1433"},
        {"srv\\SQLEXPRESS", "srv\\SQLEXPRESS", "srv\\SQLEXPRESS"},
        {"(local)", "127.0.0.1", "127.0.0.1"},
        {".\\SQLEXPRESS", "127.0.0.1\\SQLEXPRESS", "127.0.0.1\\SQLEXPRESS"},
        {"tcp:10.0.0.5,2433", "10.0.0.5,2433", "10.0.0.5:2433"},
        {"localhost,1500", "127.0.0.1,1500", "127.0.0.1:1500"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(odbcServerName(QString::fromUtf8(c.server)), QString::fromUtf8(c.odbc)) << c.server;
        EXPECT_EQ(mssql::dblibServerName(QString::fromUtf8(c.server)), QString::fromUtf8(c.dblib))
            << c.server;
    }
}

TEST(ConnectionString, ProviderChoosesTheEngine)
{
    const struct
    {
        const char* text;
        qint32 number;
    } refused[] = {
        {"Provider=MSDASQL;Data Source=x", DataErr::ProviderNotFound},
        {"Provider=SQLOLEDB.1;PASSWORD=\"unclosed", DataErr::InvalidArgument},
    };
    for (const auto& r : refused) {
        Connection cn;
        EXPECT_FALSE(cn.Open(QString::fromUtf8(r.text))) << r.text;
        EXPECT_EQ(cn.lastError().number, r.number) << r.text;
    }
}

} // namespace
