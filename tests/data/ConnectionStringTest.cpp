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

TEST(ConnectionString, SqlServerStringsTranslateKeyByKeyForEachDriver)
{
    const char* const freeTds = "FreeTDS";
    const char* const ms18 = "ODBC Driver 18 for SQL Server";
    const char* const ms17 = "ODBC Driver 17 for SQL Server";
    const struct
    {
        const char* oledb;
        const char* user;
        const char* password;
        const char* driver;
        const char* odbc;
    } cases[] = {
        {"Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;PASSWORD=pw;Initial Catalog=OrvaneCrm;"
         "Data Source=srv",
         "", "", freeTds,
         "Driver=FreeTDS;Server=srv;Database=OrvaneCrm;UID=sa;PWD=pw;TDS_Version=7.4;ClientCharset=UTF-8;"},
        {"Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;PASSWORD=pw;Initial Catalog=OrvaneCrm;"
         "Data Source=srv",
         "", "", ms18,
         "Driver=ODBC Driver 18 for SQL Server;Server=srv;Database=OrvaneCrm;UID=sa;PWD=pw;Encrypt=no;"},
        {"Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Initial Catalog=crm;"
         "Data Source=(local)\\SQLEXPRESS",
         "", "", freeTds,
         "Driver=FreeTDS;Server=127.0.0.1\\SQLEXPRESS;Database=crm;Trusted_Connection=yes;TDS_Version=7.4;"
         "ClientCharset=UTF-8;"},
        {"Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Initial Catalog=crm;"
         "Data Source=(local)\\SQLEXPRESS",
         "", "", ms17,
         "Driver=ODBC Driver 17 for SQL Server;Server=127.0.0.1\\SQLEXPRESS;Database=crm;"
         "Trusted_Connection=yes;Encrypt=no;"},
        // The backup connection: the user in the string, the password as
        // Open's argument. FreeTDS takes the port as a key of its own.
        {"Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;Initial Catalog=\"crm\";Data "
         "Source=db1,1433",
         "", "p;w", freeTds,
         "Driver=FreeTDS;Server=db1;Port=1433;Database=crm;UID=sa;PWD={p;w};TDS_Version=7.4;"
         "ClientCharset=UTF-8;"},
        {"Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;Initial Catalog=\"crm\";Data "
         "Source=tcp:db1, 1433",
         "", "p;w", ms18,
         "Driver=ODBC Driver 18 for SQL Server;Server=db1,1433;Database=crm;UID=sa;PWD={p;w};Encrypt=no;"},
        {"Provider=SQLOLEDB.1;User ID=sa;PASSWORD=\"a;Initial Catalog=master\";Initial Catalog=OrvaneCrm;"
         "Data Source=srv",
         "", "", freeTds,
         "Driver=FreeTDS;Server=srv;Database=OrvaneCrm;UID=sa;PWD={a;Initial "
         "Catalog=master};TDS_Version=7.4;"
         "ClientCharset=UTF-8;"},
        {"Provider=SQLOLEDB.1;User ID=old;PASSWORD=old;Initial Catalog=;Data Source=srv", "new", "", freeTds,
         "Driver=FreeTDS;Server=srv;UID=new;PWD=old;TDS_Version=7.4;ClientCharset=UTF-8;"},
        // Encryption only when the string asks for it; the certificate is
        // trusted unchecked only when it says so.
        {"Provider=SQLOLEDB.1;Integrated Security=SSPI;Initial Catalog=crm;Data Source=srv;"
         "Use Encryption for Data=True;Application Name=Orvane",
         "", "", ms18,
         "Driver=ODBC Driver 18 for SQL Server;Server=srv;Database=crm;Trusted_Connection=yes;APP=Orvane;"
         "Encrypt=yes;"},
        {"Provider=SQLOLEDB.1;Integrated Security=SSPI;Initial Catalog=crm;Data Source=srv;"
         "Use Encryption for Data=True;Trust Server Certificate=True",
         "", "", ms17,
         "Driver=ODBC Driver 17 for SQL Server;Server=srv;Database=crm;Trusted_Connection=yes;Encrypt=yes;"
         "TrustServerCertificate=yes;"},
        {"Provider=SQLOLEDB.1;Integrated Security=SSPI;Initial Catalog=crm;Data Source=srv;"
         "Trust Server Certificate=True",
         "", "", ms18,
         "Driver=ODBC Driver 18 for SQL Server;Server=srv;Database=crm;Trusted_Connection=yes;Encrypt=no;"
         "TrustServerCertificate=yes;"},
        {"Provider=SQLOLEDB.1;Integrated Security=SSPI;Initial Catalog=crm;Data Source=srv,2433;"
         "Use Encryption for Data=True;Trust Server Certificate=True;Application Name=Orvane",
         "", "", freeTds,
         "Driver=FreeTDS;Server=srv;Port=2433;Database=crm;Trusted_Connection=yes;APP=Orvane;"
         "TDS_Version=7.4;ClientCharset=UTF-8;Encryption=require;"},
        {"Provider=SQLOLEDB.1;Integrated Security=SSPI;Initial Catalog=crm;Data Source=srv;"
         "Use Encryption for Data=False;Trust Server Certificate=False",
         "", "", freeTds,
         "Driver=FreeTDS;Server=srv;Database=crm;Trusted_Connection=yes;TDS_Version=7.4;"
         "ClientCharset=UTF-8;"},
        // Any other driver gets the keys every driver knows.
        {"Provider=SQLOLEDB.1;Integrated Security=SSPI;Initial Catalog=crm;Data Source=srv,1433;"
         "Use Encryption for Data=True",
         "", "", "SQLite3", "Driver=SQLite3;Server=srv,1433;Database=crm;Trusted_Connection=yes;"},
    };
    for (const auto& c : cases) {
        Pairs pairs;
        ASSERT_TRUE(parseOleDb(QString::fromUtf8(c.oledb), pairs)) << c.oledb;
        const SqlServerTarget t =
            readSqlServerTarget(pairs, QString::fromUtf8(c.user), QString::fromUtf8(c.password));
        EXPECT_EQ(sqlServerOdbcString(t, QString::fromUtf8(c.driver)), QString::fromUtf8(c.odbc))
            << c.driver << " " << c.oledb;
    }
}

TEST(ConnectionString, MicrosoftDriversArePreferredOverFreeTds)
{
    const struct
    {
        QStringList installed;
        const char* chosen;
    } cases[] = {
        {{QStringLiteral("FreeTDS"), QStringLiteral("ODBC Driver 17 for SQL Server"),
          QStringLiteral("ODBC Driver 18 for SQL Server")},
         "ODBC Driver 18 for SQL Server"},
        {{QStringLiteral("SQLite3"), QStringLiteral("freetds"),
          QStringLiteral("ODBC Driver 17 for SQL Server")},
         "ODBC Driver 17 for SQL Server"},
        {{QStringLiteral("SQLite3"), QStringLiteral("freetds")}, "freetds"},
        {{QStringLiteral("SQLite3"), QStringLiteral("ODBC Driver 13 for SQL Server")}, ""},
        {{}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(preferredSqlServerDriver(c.installed), QString::fromUtf8(c.chosen))
            << str(c.installed.join(','));

    EXPECT_EQ(driverKind(QStringLiteral("FreeTDS")), DriverKind::FreeTds);
    EXPECT_EQ(driverKind(QStringLiteral("ODBC Driver 18 for SQL Server")), DriverKind::Microsoft);
    EXPECT_EQ(driverKind(QStringLiteral("odbc driver 17 for sql server")), DriverKind::Microsoft);
    EXPECT_EQ(driverKind(QStringLiteral("SQLite3")), DriverKind::Other);
}

TEST(ConnectionString, RefusedCertificateSaysWhatToSet)
{
    // The texts the drivers give when the server's certificate is not
    // trusted: Microsoft's driver on Linux (OpenSSL) and on Windows.
    const char* const refused[] = {
        "[Microsoft][ODBC Driver 18 for SQL Server]SSL Provider: [error:0A000086:SSL routines::certificate "
        "verify failed:self-signed certificate]",
        "[Microsoft][ODBC Driver 18 for SQL Server]SSL Provider: The certificate chain was issued by an "
        "authority that is not trusted.",
    };
    for (const char* text : refused) {
        const QString advice =
            certificateAdvice(QString::fromUtf8(text), QStringLiteral("ODBC Driver 18 for SQL Server"));
        EXPECT_TRUE(advice.contains(QLatin1String("OV_SQLSERVER_DRIVER"))) << str(advice);
        EXPECT_TRUE(advice.contains(QLatin1String("\"ODBC Driver 17 for SQL Server\""))) << str(advice);
    }
    EXPECT_TRUE(certificateAdvice(QStringLiteral("[FreeTDS][SQL Server]Login failed for user 'sa'."),
                                  QStringLiteral("FreeTDS"))
                    .isEmpty());
    EXPECT_TRUE(certificateAdvice(QStringLiteral("[Microsoft][ODBC Driver 18 for SQL Server]Login timeout "
                                                 "expired"),
                                  QStringLiteral("ODBC Driver 18 for SQL Server"))
                    .isEmpty());
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

// The program's own setting takes the certificate unchecked on Microsoft's
// drivers for every connection, encrypted or not; FreeTDS has no such key.
TEST(ConnectionString, TrustServerCertificateSettingReachesMicrosoftsDrivers)
{
    Pairs pairs;
    ASSERT_TRUE(parseOleDb(QStringLiteral("Provider=SQLOLEDB.1;User ID=sa;Password=p;Initial Catalog=crm;"
                                          "Data Source=srv"),
                           pairs));
    const SqlServerTarget t = readSqlServerTarget(pairs, QString(), QString());
    const QString ms18 = QStringLiteral("ODBC Driver 18 for SQL Server");
    EXPECT_EQ(sqlServerOdbcString(t, ms18),
              QStringLiteral("Driver=ODBC Driver 18 for SQL Server;Server=srv;Database=crm;UID=sa;PWD=p;"
                             "Encrypt=no;"));
    setTrustServerCertificate(true, QStringLiteral("test"));
    EXPECT_TRUE(trustServerCertificate());
    EXPECT_EQ(trustServerCertificateSource(), QStringLiteral("test"));
    EXPECT_EQ(sqlServerOdbcString(t, ms18),
              QStringLiteral("Driver=ODBC Driver 18 for SQL Server;Server=srv;Database=crm;UID=sa;PWD=p;"
                             "Encrypt=no;TrustServerCertificate=yes;"));
    EXPECT_EQ(sqlServerOdbcString(t, QStringLiteral("FreeTDS")),
              QStringLiteral("Driver=FreeTDS;Server=srv;Database=crm;UID=sa;PWD=p;TDS_Version=7.4;"
                             "ClientCharset=UTF-8;"));
    setTrustServerCertificate(false, QStringLiteral("test"));
    EXPECT_FALSE(trustServerCertificate());
    EXPECT_TRUE(trustServerCertificateSource().isEmpty());
    EXPECT_EQ(sqlServerOdbcString(t, ms18),
              QStringLiteral("Driver=ODBC Driver 18 for SQL Server;Server=srv;Database=crm;UID=sa;PWD=p;"
                             "Encrypt=no;"));
}
