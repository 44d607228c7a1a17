// Which ODBC driver reaches SQL Server: the registered drivers as the driver
// manager lists them (a driver list of the test's own, named by ODBCSYSINI),
// the environment variable and the explicit choice over them.

#include "DataTestSupport.h"

#include "data/odbc/OdbcBackend.h"
#include "data/odbc/OdbcDrivers.h"

using namespace ov;
using namespace ov::connstr;
using ovtest::str;

namespace {

// Sets an environment variable for the test's lifetime.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const QByteArray& value) : m_name(name)
    {
        m_had = qEnvironmentVariableIsSet(name);
        m_old = qgetenv(name);
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    bool m_had = false;
    QByteArray m_old;
};

// A driver list of its own: odbcinst.ini in a temporary folder with the
// drivers named, each pointing at the SQLite 3 ODBC driver's library (the
// choice looks at names only; a connection then really reaches that file).
// The driver manager reads ODBCSYSINI once per process, so one folder serves
// every list of a test, its file rewritten for each.
class DriverList
{
public:
    DriverList() : m_env("ODBCSYSINI", QFile::encodeName(folder().path())) {}
    explicit DriverList(const QStringList& names) : DriverList() { set(names); }
    void set(const QStringList& names)
    {
        QByteArray ini;
        for (const QString& name : names)
            ini += "[" + name.toUtf8() + "]\nDescription=test\nDriver=libsqlite3odbc.so\n\n";
        ovtest::writeFile(folder().filePath(QStringLiteral("odbcinst.ini")), ini);
        ovtest::writeFile(folder().filePath(QStringLiteral("odbc.ini")), QByteArray());
    }

private:
    static QTemporaryDir& folder()
    {
        static QTemporaryDir dir;
        return dir;
    }
    ScopedEnv m_env;
};

TEST(DriverChoice, RegisteredDriversDecideInTheirOrderOfPreference)
{
    const struct
    {
        QStringList registered;
        const char* chosen;
        SqlServerDriverChoice::Source source;
    } cases[] = {
        {{QStringLiteral("FreeTDS"), QStringLiteral("ODBC Driver 18 for SQL Server"),
          QStringLiteral("ODBC Driver 17 for SQL Server")},
         "ODBC Driver 18 for SQL Server",
         SqlServerDriverChoice::Registered},
        {{QStringLiteral("FreeTDS"), QStringLiteral("ODBC Driver 17 for SQL Server")},
         "ODBC Driver 17 for SQL Server",
         SqlServerDriverChoice::Registered},
        {{QStringLiteral("SQLite3"), QStringLiteral("FreeTDS")},
         "FreeTDS",
         SqlServerDriverChoice::Registered},
        {{QStringLiteral("SQLite3")}, "FreeTDS", SqlServerDriverChoice::Fallback},
    };
    ScopedEnv noOverride("OV_SQLSERVER_DRIVER", QByteArray());
    DriverList list;
    for (const auto& c : cases) {
        list.set(c.registered);
        for (const QString& name : c.registered)
            EXPECT_TRUE(installedOdbcDrivers().contains(name)) << str(name);
        const SqlServerDriverChoice choice = chooseSqlServerDriver();
        EXPECT_EQ(choice.name, QString::fromUtf8(c.chosen)) << str(c.registered.join(','));
        EXPECT_EQ(choice.source, c.source) << str(c.registered.join(','));
    }
}

TEST(DriverChoice, EnvironmentAndOptionOverrideTheList)
{
    DriverList list({QStringLiteral("ODBC Driver 18 for SQL Server"), QStringLiteral("FreeTDS")});
    {
        ScopedEnv env("OV_SQLSERVER_DRIVER", "FreeTDS");
        EXPECT_EQ(chooseSqlServerDriver().name, QStringLiteral("FreeTDS"));
        EXPECT_EQ(chooseSqlServerDriver().source, SqlServerDriverChoice::Environment);
        setSqlServerDriver(QStringLiteral("ODBC Driver 17 for SQL Server"));
        EXPECT_EQ(sqlServerDriver(), QStringLiteral("ODBC Driver 17 for SQL Server"));
        EXPECT_EQ(chooseSqlServerDriver().source, SqlServerDriverChoice::Option);
        setSqlServerDriver(QString());
        EXPECT_EQ(sqlServerDriver(), QStringLiteral("FreeTDS"));
    }
    {
        // Blank is not set.
        ScopedEnv env("OV_SQLSERVER_DRIVER", "  ");
        EXPECT_EQ(sqlServerDriver(), QStringLiteral("ODBC Driver 18 for SQL Server"));
    }
}

TEST(DriverChoice, ConnectionsGoToTheChosenDriver)
{
    // "ODBC Driver 18 for SQL Server" is registered here with the SQLite 3
    // driver's library, which opens the file its Database key names: the
    // string built for Microsoft's driver reaches the driver of that name.
    DriverList list({QStringLiteral("FreeTDS"), QStringLiteral("ODBC Driver 18 for SQL Server")});
    ScopedEnv noOverride("OV_SQLSERVER_DRIVER", QByteArray());
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("crm.db"));
    Connection cn;
    ASSERT_TRUE(
        cn.Open(QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;PASSWORD=pw;"
                               "Initial Catalog=") +
                oleDbValue(file) + QStringLiteral(";Data Source=srv")))
        << str(cn.lastError().description);
    auto* odbc = dynamic_cast<OdbcBackend*>(cn.backend().get());
    ASSERT_NE(odbc, nullptr);
    EXPECT_EQ(odbc->dbmsName(), QStringLiteral("SQLite"));
    EXPECT_TRUE(cn.Execute(QStringLiteral("CREATE TABLE t (a INT)")));
    cn.Close();
    EXPECT_TRUE(QFileInfo::exists(file));
}

} // namespace
