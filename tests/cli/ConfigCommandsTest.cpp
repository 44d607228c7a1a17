#include "config/ConfigFiles.h"
#include "support/CliProgram.h"
#include "support/ScopedHome.h"

#include "common/Cp936.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using ovtest::writeBytes;

namespace {

// Runs a copy of the built ovsqlcli from a temporary program folder, so a
// configuration file can lie beside it without touching the build.
class ConfigCommandsTest : public ::testing::Test
{
protected:
    using Result = ovtest::CliResult;

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(ovtest::InstallCli(m_dir.path()));
    }
    QString configPath() const { return m_dir.filePath(QStringLiteral("OrvaneSqlConfig.ini")); }

    Result run(const QStringList& args, const QByteArray& input = QByteArray()) const
    {
        return ovtest::RunCli(m_dir.path(), args, input);
    }

    QTemporaryDir m_dir;
};

TEST_F(ConfigCommandsTest, SettingsWithoutFileShowsTheDefaults)
{
    const Result r = run({QStringLiteral("settings")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString host =
        QSysInfo::machineHostName().isEmpty() ? QStringLiteral("127.0.0.1") : QSysInfo::machineHostName();
    EXPECT_TRUE(r.out.contains(QStringLiteral("server:   %1\n").arg(host))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("database: OrvaneCrm\n"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("login:    Windows (trusted)\n"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("user:     sa\n"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("password: (empty)\n"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("(missing: defaults apply)"))) << r.out.toStdString();
    EXPECT_FALSE(QFile::exists(configPath()));
}

TEST_F(ConfigCommandsTest, SettingsShowsTheFileButNeverThePassword)
{
    // hEQt is "pw!" scrambled with the configuration key: 'p'^'t' = 04 -> 80,
    // 'w'^'m' = 1A -> 43, '!'^'v' = 57 -> EA; 80 43 EA -> 32 4 15 42.
    writeBytes(configPath(),
               "[MAIN]\r\nDBServer=sqlite:data\r\nDBName=" + ov::cp936::encode(QStringLiteral("客户库")) +
                   "\r\nDBIsTrustMode=0\r\nDBUser=u1\r\nDBPasswd=hEQt\r\n");
    qputenv("OV_SQLSERVER_DRIVER", "FreeTDS");
    const Result r = run({QStringLiteral("settings")});
    qunsetenv("OV_SQLSERVER_DRIVER");
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out,
              QStringLiteral("file:     %1\n"
                             "server:   sqlite:data\n"
                             "database: 客户库\n"
                             "login:    SQL Server\n"
                             "user:     u1\n"
                             "password: ********\n"
                             "driver:   FreeTDS (OV_SQLSERVER_DRIVER); not used for the embedded server\n"
                             "certificate: checked when the connection is encrypted\n")
                  .arg(QDir(QFileInfo(m_dir.path()).canonicalFilePath())
                           .filePath(QStringLiteral("OrvaneSqlConfig.ini"))));
    EXPECT_FALSE(r.err.contains(QStringLiteral("pw!")));
}

TEST_F(ConfigCommandsTest, SettingsShowsTheDriverAndWhatChoseIt)
{
    // A driver list of the test's own (ODBCSYSINI); the names are all that
    // the choice looks at.
    QTemporaryDir odbc;
    const struct
    {
        const char* registered; // odbcinst.ini section names, comma-separated
        const char* environment;
        QStringList args;
        int exitCode;
        const char* line; // the driver line, or a text of the error
    } cases[] = {
        {"FreeTDS,ODBC Driver 17 for SQL Server",
         nullptr,
         {},
         0,
         "driver:   ODBC Driver 17 for SQL Server (registered with the ODBC driver manager)\n"},
        {"SQLite3",
         nullptr,
         {},
         0,
         "driver:   FreeTDS (no SQL Server driver is registered with the ODBC driver manager)\n"},
        {"FreeTDS",
         "ODBC Driver 18 for SQL Server",
         {},
         0,
         "driver:   ODBC Driver 18 for SQL Server (OV_SQLSERVER_DRIVER)\n"},
        {"FreeTDS",
         "ODBC Driver 18 for SQL Server",
         {QStringLiteral("--driver"), QStringLiteral("My Driver")},
         0,
         "driver:   My Driver (--driver)\n"},
        {"FreeTDS", nullptr, {QStringLiteral("--driver=")}, 1, "--driver needs the name of an ODBC driver"},
    };
    for (const auto& c : cases) {
        QByteArray ini;
        for (const QString& name : QString::fromUtf8(c.registered).split(QLatin1Char(',')))
            ini += "[" + name.toUtf8() + "]\nDriver=libsqlite3odbc.so\n\n";
        writeBytes(odbc.filePath(QStringLiteral("odbcinst.ini")), ini);
        qputenv("ODBCSYSINI", QFile::encodeName(odbc.path()));
        if (c.environment)
            qputenv("OV_SQLSERVER_DRIVER", c.environment);
        else
            qunsetenv("OV_SQLSERVER_DRIVER");
        const Result r = run(QStringList{QStringLiteral("settings")} + c.args);
        qunsetenv("ODBCSYSINI");
        qunsetenv("OV_SQLSERVER_DRIVER");
        EXPECT_EQ(r.exitCode, c.exitCode) << c.registered << r.err.toStdString();
        const QString& where = c.exitCode == 0 ? r.out : r.err;
        EXPECT_TRUE(where.contains(QString::fromUtf8(c.line))) << c.registered << "\n" << where.toStdString();
    }
}

// Trusting the server's certificate unchecked: the key of the program's own
// section, the option, and neither; other values of the key leave the check.
TEST_F(ConfigCommandsTest, SettingsShowsWhetherTheCertificateIsTrusted)
{
    const struct
    {
        QByteArray ini;
        QStringList args;
        const char* line;
    } cases[] = {
        {"", {}, "certificate: checked when the connection is encrypted\n"},
        {"[OVSQLUPDATEDB]\r\nTrustServerCertificate=1\r\n",
         {},
         "certificate: taken unchecked by Microsoft's drivers (OrvaneSqlConfig.ini [OVSQLUPDATEDB] "
         "TrustServerCertificate)\n"},
        {"[OVSQLUPDATEDB]\r\nTrustServerCertificate= Yes \r\n",
         {},
         "certificate: taken unchecked by Microsoft's drivers (OrvaneSqlConfig.ini [OVSQLUPDATEDB] "
         "TrustServerCertificate)\n"},
        {"[OVSQLUPDATEDB]\r\nTrustServerCertificate=0\r\n",
         {},
         "certificate: checked when the connection is encrypted\n"},
        {"[MAIN]\r\nTrustServerCertificate=1\r\n",
         {},
         "certificate: checked when the connection is encrypted\n"},
        {"",
         {QStringLiteral("--trust-server-certificate")},
         "certificate: taken unchecked by Microsoft's drivers (--trust-server-certificate)\n"},
    };
    for (const auto& c : cases) {
        QFile::remove(configPath());
        if (!c.ini.isEmpty())
            writeBytes(configPath(), c.ini);
        const Result r = run(QStringList{QStringLiteral("settings")} + c.args);
        EXPECT_EQ(r.exitCode, 0) << c.ini.constData() << r.err.toStdString();
        EXPECT_TRUE(r.out.endsWith(QString::fromUtf8(c.line))) << c.ini.constData() << "\n"
                                                               << r.out.toStdString();
    }
}

// Commands that only read or print leave the user's home as it was: no
// Orvane folder appears below the documents folder.
TEST_F(ConfigCommandsTest, ReadingCommandsMakeNoUserFolder)
{
    ovtest::ScopedHome home;
    ASSERT_TRUE(home.isValid());
    const QString documents = home.filePath(QStringLiteral("Documents"));
    ASSERT_TRUE(QDir().mkpath(documents));
    const struct
    {
        QStringList args;
        QByteArray input;
    } cases[] = {
        {{QStringLiteral("settings")}, {}},
        {{QStringLiteral("help")}, {}},
        {{QStringLiteral("scramble")}, "pw\n"},
        {{QStringLiteral("unscramble")}, "hEQt\n"},
        {{QStringLiteral("cdb-info"), m_dir.filePath(QStringLiteral("missing.cdb"))}, {}},
    };
    for (const auto& c : cases) {
        run(c.args, c.input);
        const QStringList made =
            QDir(documents).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        EXPECT_TRUE(made.isEmpty()) << c.args.join(QLatin1Char(' ')).toStdString() << " made "
                                    << made.join(QLatin1Char(',')).toStdString();
    }
}

TEST_F(ConfigCommandsTest, ScrambleAndUnscramble)
{
    struct Case
    {
        QStringList args;
        QByteArray input;
        QString output;
    };
    const Case cases[] = {
        {{"scramble"}, "pw!\n", "hEQt\n"},
        {{"scramble"}, "pw!\r\n", "hEQt\n"},
        {{"scramble"}, "pw!", "hEQt\n"},
        {{"unscramble"}, "hEQt\n", "pw!\n"},
        // 'A' ^ 'a' = 20 and 'B' ^ 'b' = 20, each rotated to 04; 04 04 -> 1 0 16.
        {{"scramble", "--key", "ab"}, "AB\n", "BAR\n"},
        {{"unscramble", "--key=ab"}, "BAR\n", "AB\n"},
        {{"scramble"}, "\n", "\n"},
    };
    for (const Case& c : cases) {
        const Result r = run(c.args, c.input);
        EXPECT_EQ(r.exitCode, 0) << c.args.join(' ').toStdString() << ": " << r.err.toStdString();
        EXPECT_EQ(r.out, c.output) << c.args.join(' ').toStdString();
    }

    const QString chinese = QStringLiteral("中文密码");
    const Result scrambled = run({QStringLiteral("scramble")}, chinese.toUtf8() + '\n');
    ASSERT_EQ(scrambled.exitCode, 0);
    EXPECT_FALSE(scrambled.out.contains(chinese));
    const Result back = run({QStringLiteral("unscramble")}, scrambled.out.toUtf8());
    EXPECT_EQ(back.out, chinese + QLatin1Char('\n'));
}

TEST_F(ConfigCommandsTest, ScrambleCommandsRefuseBadInput)
{
    struct Case
    {
        const char* what;
        QStringList args;
        QByteArray input;
        int exitCode;
    };
    const Case cases[] = {
        {"no input at all", {"scramble"}, "", 1},
        {"characters outside the alphabet", {"unscramble"}, "0Ol=\n", 1},
        {"a lone character in the last group", {"unscramble"}, "hEQtA\n", 1},
        {"an unknown option", {"scramble", "--password", "x"}, "pw\n", 2},
        {"a key without value", {"unscramble", "--key"}, "hEQt\n", 2},
    };
    for (const Case& c : cases) {
        const Result r = run(c.args, c.input);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.what;
        EXPECT_TRUE(r.out.isEmpty()) << c.what << ": " << r.out.toStdString();
        EXPECT_FALSE(r.err.isEmpty()) << c.what;
    }
}

} // namespace
