#include "config/ConfigFiles.h"
#include "config/mdlOVSqlServer.h"

#include "common/Cp936.h"
#include "support/ScopedProgramFolder.h"

#include <QDir>
#include <QSysInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

using ovtest::readBytes;
using ovtest::writeBytes;

namespace {

// Points the program folder at a temporary folder for the length of a test.
class OVSqlServerTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString configPath() const { return m_dir.filePath(QStringLiteral("OrvaneSqlConfig.ini")); }

    ovtest::ScopedProgramFolder m_dir;
};

QString computerName()
{
    const QString name = QSysInfo::machineHostName();
    return name.isEmpty() ? QStringLiteral("127.0.0.1") : name;
}

TEST_F(OVSqlServerTest, NoFileGivesTheDefaults)
{
    const ConnectionSettings s = mdlOVSqlServer::ReadMainSettings();
    EXPECT_EQ(s.server, computerName());
    EXPECT_EQ(s.database, QStringLiteral("OrvaneCrm"));
    EXPECT_TRUE(s.trusted);
    EXPECT_EQ(s.user, QStringLiteral("sa"));
    EXPECT_EQ(s.password, QString());
    EXPECT_EQ(mdlOVSqlServer::ReadDefaultPathFile(), QString());
    EXPECT_FALSE(QFile::exists(configPath()));
}

TEST_F(OVSqlServerTest, ReadsStoredSettings)
{
    struct Case
    {
        const char* what;
        QByteArray file;
        ConnectionSettings expected;
    };
    const QString host = computerName();
    const Case cases[] = {
        {"all five; DBPasswd rxE is \"ab\" scrambled with the configuration key",
         "[MAIN]\r\nDBServer=srv\\inst\r\nDBName=crm\r\nDBIsTrustMode=0\r\nDBUser=u1\r\nDBPasswd=rxE\r\n",
         {"srv\\inst", "crm", false, "u1", "ab"}},
        {"empty user stays empty", "[MAIN]\r\nDBUser=\r\n", {host, "OrvaneCrm", true, "", ""}},
        {"values are trimmed",
         "[MAIN]\r\nDBName =  crm  \r\nDBIsTrustMode= 1 \r\n",
         {host, "crm", true, "sa", ""}},
        {"names match without case",
         "[main]\r\ndbname=crm\r\ndbistrustmode=0\r\n",
         {host, "crm", false, "sa", ""}},
        {"trust mode \"true\" is a SQL login",
         "[MAIN]\r\nDBIsTrustMode=true\r\n",
         {host, "OrvaneCrm", false, "sa", ""}},
        {"trust mode \"yes\" is a SQL login",
         "[MAIN]\r\nDBIsTrustMode=yes\r\n",
         {host, "OrvaneCrm", false, "sa", ""}},
        {"trust mode \"2\" is a SQL login",
         "[MAIN]\r\nDBIsTrustMode=2\r\n",
         {host, "OrvaneCrm", false, "sa", ""}},
        {"trust mode \"11\" is a SQL login",
         "[MAIN]\r\nDBIsTrustMode=11\r\n",
         {host, "OrvaneCrm", false, "sa", ""}},
        {"empty trust mode is a SQL login",
         "[MAIN]\r\nDBIsTrustMode=\r\n",
         {host, "OrvaneCrm", false, "sa", ""}},
        {"Chinese database name",
         "[MAIN]\r\nDBName=" + ov::cp936::encode(QStringLiteral("客户库")) + "\r\n",
         {host, QStringLiteral("客户库"), true, "sa", ""}},
    };
    for (const Case& c : cases) {
        writeBytes(configPath(), c.file);
        // The five-out-value form is what the other one wraps; check it directly.
        QString server, database, user, password;
        bool trusted = !c.expected.trusted;
        mdlOVSqlServer::ReadMainSettings(server, database, trusted, user, password);
        EXPECT_EQ(server, c.expected.server) << c.what;
        EXPECT_EQ(database, c.expected.database) << c.what;
        EXPECT_EQ(trusted, c.expected.trusted) << c.what;
        EXPECT_EQ(user, c.expected.user) << c.what;
        EXPECT_EQ(password, c.expected.password) << c.what;
    }
}

// The settings go into OrvaneSqlConfig.ini of the program folder.
TEST_F(OVSqlServerTest, WritesTheFiveSettingsWithThePasswordScrambled)
{
    ASSERT_TRUE(mdlOVSqlServer::WriteMainSettings(QStringLiteral("srv"), QStringLiteral("db"), false,
                                                  QStringLiteral("u"), QStringLiteral("ab")));
    EXPECT_EQ(
        readBytes(configPath()),
        QByteArray("[MAIN]\r\nDBServer=srv\r\nDBName=db\r\nDBIsTrustMode=0\r\nDBUser=u\r\nDBPasswd=rxE\r\n"));
    struct stat st
    {};
    ASSERT_EQ(::stat(QFile::encodeName(configPath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode_t{0600});

    // A longer password with Chinese characters: only its scrambled form is on
    // disk, and it reads back as typed.
    const QString password = QStringLiteral("Secret密码99");
    ASSERT_TRUE(mdlOVSqlServer::WriteMainSettings(QStringLiteral("srv2"), QStringLiteral("db2"), true,
                                                  QStringLiteral("u2"), password));
    const QByteArray onDisk = readBytes(configPath());
    EXPECT_FALSE(onDisk.contains("Secret"));
    EXPECT_FALSE(onDisk.contains(ov::cp936::encode(QStringLiteral("密码"))));
    EXPECT_FALSE(onDisk.contains(QStringLiteral("密码").toUtf8()));
    EXPECT_TRUE(onDisk.contains("DBIsTrustMode=1\r\n"));
    const ConnectionSettings s = mdlOVSqlServer::ReadMainSettings();
    EXPECT_EQ(s.server, QStringLiteral("srv2"));
    EXPECT_EQ(s.database, QStringLiteral("db2"));
    EXPECT_TRUE(s.trusted);
    EXPECT_EQ(s.user, QStringLiteral("u2"));
    EXPECT_EQ(s.password, password);
}

TEST_F(OVSqlServerTest, WritingKeepsTheRestOfTheFile)
{
    writeBytes(configPath(),
               "; shared with the main program\r\n[MAIN]\r\nDBName = old\r\nUpdateDBResult=1\r\n"
               "\r\n[BACKUPRESTORE]\r\nDEFAULTPATHFILE=D:\\bak\\crm.dat\r\n");
    ASSERT_TRUE(mdlOVSqlServer::WriteMainSettings(QStringLiteral("s"), QStringLiteral("new"), true, QString(),
                                                  QString()));
    ASSERT_TRUE(mdlOVSqlServer::WriteCreateDBResult(true));
    ASSERT_TRUE(mdlOVSqlServer::WriteUpdateDBResult(false));
    EXPECT_EQ(readBytes(configPath()),
              QByteArray("; shared with the main program\r\n[MAIN]\r\nDBName = new\r\nUpdateDBResult=0\r\n"
                         "DBServer=s\r\nDBIsTrustMode=1\r\nDBUser=\r\nDBPasswd=\r\nCreateDBResult=1\r\n"
                         "\r\n[BACKUPRESTORE]\r\nDEFAULTPATHFILE=D:\\bak\\crm.dat\r\n"));
    EXPECT_EQ(mdlOVSqlServer::ReadMainSettings().user, QString());
}

TEST_F(OVSqlServerTest, FailedWritesChangeNothing)
{
    const QByteArray before = "[MAIN]\r\nDBServer=old\r\nDBName=crm\r\n";
    writeBytes(configPath(), before);

    // A value that would break into a new line refuses all five keys, also the
    // ones before it.
    EXPECT_FALSE(mdlOVSqlServer::WriteMainSettings(
        QStringLiteral("new"), QStringLiteral("crm\r\nDBUser=evil"), true, QStringLiteral("sa"), QString()));
    EXPECT_FALSE(mdlOVSqlServer::WriteDefaultPathFile(QStringLiteral("D:\\a.dat\n[MAIN]")));
    EXPECT_EQ(readBytes(configPath()), before);

    ASSERT_EQ(::chmod(QFile::encodeName(configPath()).constData(), 0444), 0);
    EXPECT_FALSE(mdlOVSqlServer::WriteMainSettings(QStringLiteral("new"), QStringLiteral("db"), false,
                                                   QStringLiteral("u"), QStringLiteral("p")));
    EXPECT_FALSE(mdlOVSqlServer::WriteUpdateDBResult(true));
    EXPECT_FALSE(mdlOVSqlServer::WriteCreateDBResult(true));
    EXPECT_FALSE(mdlOVSqlServer::WriteDefaultPathFile(QStringLiteral("D:\\a.dat")));
    EXPECT_EQ(readBytes(configPath()), before);
}

TEST_F(OVSqlServerTest, DefaultPathFileHoldsUpTo254Bytes)
{
    const QString path = QStringLiteral("D:\\备份\\crm-202612041533.dat");
    ASSERT_TRUE(mdlOVSqlServer::WriteDefaultPathFile(path));
    EXPECT_EQ(mdlOVSqlServer::ReadDefaultPathFile(), path);
    EXPECT_EQ(readBytes(configPath()),
              "[BACKUPRESTORE]\r\nDEFAULTPATHFILE=" + ov::cp936::encode(path) + "\r\n");

    const QString longPath = QStringLiteral("D:\\") + QString(300, QLatin1Char('x'));
    ASSERT_TRUE(mdlOVSqlServer::WriteDefaultPathFile(longPath));
    EXPECT_EQ(mdlOVSqlServer::ReadDefaultPathFile(), longPath.left(254));
}

} // namespace
