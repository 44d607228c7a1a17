// The SQL Server statements, text for text.

#include "data/odbc/MssqlStatements.h"
#include "data/Identifiers.h"

#include <gtest/gtest.h>

using namespace ov::mssql;

namespace {

std::string s(const QString& text)
{
    return text.toStdString();
}

TEST(MssqlStatements, Backup)
{
    const struct
    {
        const char* database;
        const char* path;
        const char* statement;
    } cases[] = {
        {"crm", "D:\\bak\\crm-202612041533.dat",
         "BackUp Database \"crm\" to disk=N'D:\\bak\\crm-202612041533.dat'"},
        {"\"crm\"", "C:\\x.dat", "BackUp Database \"crm\" to disk=N'C:\\x.dat'"},
        {"a\"b", "C:\\x.dat", "BackUp Database \"a\"\"b\" to disk=N'C:\\x.dat'"},
        {"crm", "C:\\o'neil\\x.dat", "BackUp Database \"crm\" to disk=N'C:\\o''neil\\x.dat'"},
        {"客户", "/var/opt/mssql/备份.dat", "BackUp Database \"客户\" to disk=N'/var/opt/mssql/备份.dat'"},
        {"\"crm\" to disk='C:\\x.dat';DROP DATABASE crm--", "C:\\x.dat",
         "BackUp Database \"\"\"crm\"\" to disk='C:\\x.dat';DROP DATABASE crm--\" to disk=N'C:\\x.dat'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(s(backupStatement(QString::fromUtf8(c.database), QString::fromUtf8(c.path))), c.statement);
        // Replacing overwrites every backup set of the file, keeping its media
        // header; without INIT the server would add the backup to the file.
        EXPECT_EQ(s(backupStatement(QString::fromUtf8(c.database), QString::fromUtf8(c.path), true)),
                  std::string(c.statement) + " WITH INIT");
    }
}

TEST(MssqlStatements, Restore)
{
    const QList<QPair<QString, QString>> two = {
        {QStringLiteral("OrvaneCrm_Data"), QStringLiteral("D:\\data\\crm.mdf")},
        {QStringLiteral("OrvaneCrm_Log"), QStringLiteral("D:\\data\\crm_log.ldf")},
    };
    const struct
    {
        const char* database;
        QList<QPair<QString, QString>> moves;
        bool replace;
        const char* statement;
    } cases[] = {
        {"crm", {}, false, "RESTORE DATABASE \"crm\" FROM DISK = N'D:\\bak\\crm.dat' WITH RECOVERY"},
        {"crm", {}, true, "RESTORE DATABASE \"crm\" FROM DISK = N'D:\\bak\\crm.dat' WITH RECOVERY,REPLACE"},
        {"crm",
         {two[0]},
         false,
         "RESTORE DATABASE \"crm\" FROM DISK = N'D:\\bak\\crm.dat' WITH RECOVERY,move N'OrvaneCrm_Data' to "
         "N'D:\\data\\crm.mdf'"},
        {"crm", two, false,
         "RESTORE DATABASE \"crm\" FROM DISK = N'D:\\bak\\crm.dat' WITH RECOVERY,move N'OrvaneCrm_Data' to "
         "N'D:\\data\\crm.mdf',move N'OrvaneCrm_Log' to N'D:\\data\\crm_log.ldf'"},
        {"crm", two, true,
         "RESTORE DATABASE \"crm\" FROM DISK = N'D:\\bak\\crm.dat' WITH RECOVERY,REPLACE,move "
         "N'OrvaneCrm_Data' to "
         "N'D:\\data\\crm.mdf',move N'OrvaneCrm_Log' to N'D:\\data\\crm_log.ldf'"},
        {"\"my crm\"",
         {},
         false,
         "RESTORE DATABASE \"my crm\" FROM DISK = N'D:\\bak\\crm.dat' WITH RECOVERY"},
        {"x\"y", {}, false, "RESTORE DATABASE \"x\"\"y\" FROM DISK = N'D:\\bak\\crm.dat' WITH RECOVERY"},
        {"\"a\"\"b\"",
         {},
         false,
         "RESTORE DATABASE \"a\"\"b\" FROM DISK = N'D:\\bak\\crm.dat' WITH RECOVERY"},
        {"\"x\" FROM DISK='C:\\evil.dat' --",
         {},
         false,
         "RESTORE DATABASE \"\"\"x\"\" FROM DISK='C:\\evil.dat' --\" FROM DISK = N'D:\\bak\\crm.dat' WITH "
         "RECOVERY"},
    };
    // The set restored is always named: without FILE the server restores the
    // first set of the file, the oldest.
    for (const auto& c : cases) {
        for (const int set : {1, 2, 32767}) {
            EXPECT_EQ(s(restoreStatement(QString::fromUtf8(c.database), QStringLiteral("D:\\bak\\crm.dat"),
                                         set, c.moves, c.replace)),
                      std::string(c.statement) + ",FILE = " + std::to_string(set));
        }
    }

    EXPECT_EQ(s(restoreStatement(QStringLiteral("crm"), QStringLiteral("D:\\it's.dat"), 3,
                                 {{QStringLiteral("a'b"), QStringLiteral("D:\\c'd.mdf")}}, false)),
              "RESTORE DATABASE \"crm\" FROM DISK = N'D:\\it''s.dat' WITH RECOVERY,move N'a''b' to "
              "N'D:\\c''d.mdf',FILE = 3");
}

// The verification reads the set that is restored and checks the targets the
// restore writes to (their folders and free space), so it carries the same
// FILE and MOVE clauses; a restore sends it first.
TEST(MssqlStatements, VerifyCarriesTheSetAndTheMovesOfTheRestore)
{
    const QList<QPair<QString, QString>> two = {
        {QStringLiteral("OrvaneCrm_Data"), QStringLiteral("D:\\data\\crm.mdf")},
        {QStringLiteral("o'neil_Log"), QStringLiteral("D:\\da'ta\\crm_log.ldf")},
    };
    const struct
    {
        int set;
        QList<QPair<QString, QString>> moves;
        bool replace;
        const char* verify;
        const char* restore;
    } cases[] = {
        {1,
         {},
         false,
         "RESTORE VERIFYONLY FROM DISK = N'D:\\b''k\\crm.dat' WITH FILE = 1",
         "RESTORE DATABASE \"crm\" FROM DISK = N'D:\\b''k\\crm.dat' WITH RECOVERY,FILE = 1"},
        {2, two, false,
         "RESTORE VERIFYONLY FROM DISK = N'D:\\b''k\\crm.dat' WITH FILE = 2,move N'OrvaneCrm_Data' to "
         "N'D:\\data\\crm.mdf',move N'o''neil_Log' to N'D:\\da''ta\\crm_log.ldf'",
         "RESTORE DATABASE \"crm\" FROM DISK = N'D:\\b''k\\crm.dat' WITH RECOVERY,move N'OrvaneCrm_Data' to "
         "N'D:\\data\\crm.mdf',move N'o''neil_Log' to N'D:\\da''ta\\crm_log.ldf',FILE = 2"},
        {7,
         {two[1]},
         true,
         "RESTORE VERIFYONLY FROM DISK = N'D:\\b''k\\crm.dat' WITH FILE = 7,move N'o''neil_Log' to "
         "N'D:\\da''ta\\crm_log.ldf'",
         "RESTORE DATABASE \"crm\" FROM DISK = N'D:\\b''k\\crm.dat' WITH RECOVERY,REPLACE,move "
         "N'o''neil_Log' to "
         "N'D:\\da''ta\\crm_log.ldf',FILE = 7"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.set);
        const QString path = QStringLiteral("D:\\b'k\\crm.dat");
        EXPECT_EQ(s(verifyStatement(path, c.set, c.moves)), c.verify);
        const QList<QString> sent = restoreStatements(QStringLiteral("crm"), path, c.set, c.moves, c.replace);
        ASSERT_EQ(sent.size(), 2);
        EXPECT_EQ(s(sent[0]), c.verify);
        EXPECT_EQ(s(sent[1]), c.restore);
    }
}

// A name is used as typed only when it is one quoted identifier: a double
// quote, a name in which every double quote is doubled, a double quote.
// Anything else is quoted whole, so the database box can never end the name
// and add to the statement.
TEST(MssqlStatements, QuotedDatabaseName)
{
    const struct
    {
        const char* typed;
        const char* quoted;
    } cases[] = {
        {"crm", "\"crm\""},
        {"\"crm\"", "\"crm\""},
        {"\"my crm\"", "\"my crm\""},
        {"\"a\"\"b\"", "\"a\"\"b\""},
        {"\"客户\"", "\"客户\""},
        {"\"", "\"\"\"\""},
        {"\"\"", "\"\"\"\"\"\""},
        {"\"abc", "\"\"\"abc\""},
        {"\"a\"b\"", "\"\"\"a\"\"b\"\"\""},
        {"\"a\";DROP DATABASE x--", "\"\"\"a\"\";DROP DATABASE x--\""},
        {"\"a\"\r\nGO\r\n\"b\"", "\"\"\"a\"\"\r\nGO\r\n\"\"b\"\"\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(s(quotedDatabaseName(QString::fromUtf8(c.typed))), c.quoted) << c.typed;
        EXPECT_EQ(ov::isQuotedIdentifier(QString::fromUtf8(c.typed)),
                  QByteArray(c.typed) == QByteArray(c.quoted))
            << c.typed;
    }
}

// The backup is read through before anything is restored from it; the
// database for the bulk copy is chosen with a statement of our own.
TEST(MssqlStatements, VerifyAndUse)
{
    EXPECT_EQ(s(verifyStatement(QStringLiteral("D:\\备份\\o'neil.dat"), 1, {})),
              "RESTORE VERIFYONLY FROM DISK = N'D:\\备份\\o''neil.dat' WITH FILE = 1");
    EXPECT_EQ(s(useStatement(QStringLiteral("crm"))), "USE [crm]");
    EXPECT_EQ(s(useStatement(QStringLiteral("[x]; DROP DATABASE y; --"))), "USE [[x]]; DROP DATABASE y; --]");
}

TEST(MssqlStatements, FileListHeaderAndListings)
{
    // The file list is that of the set restored; the header lists every set.
    EXPECT_EQ(s(fileListStatement(QStringLiteral("D:\\bak\\crm.dat"), 1)),
              "RESTORE FILELISTONLY FROM DISK = N'D:\\bak\\crm.dat' WITH FILE = 1");
    EXPECT_EQ(s(fileListStatement(QStringLiteral("D:\\o'neil.dat"), 12)),
              "RESTORE FILELISTONLY FROM DISK = N'D:\\o''neil.dat' WITH FILE = 12");
    EXPECT_EQ(s(headerStatement(QStringLiteral("D:\\bak\\crm.dat"))),
              "RESTORE HEADERONLY From DISK = N'D:\\bak\\crm.dat'");
    EXPECT_EQ(s(headerStatement(QStringLiteral("D:\\o'neil.dat"))),
              "RESTORE HEADERONLY From DISK = N'D:\\o''neil.dat'");
    EXPECT_EQ(s(shellListingStatement(QStringLiteral("C:\\"), false)),
              "master.dbo.xp_cmdshell N'dir \"C:\\\" /OGN /A /B'");
    EXPECT_EQ(s(shellListingStatement(QStringLiteral("D:\\bak\\"), true)),
              "master.dbo.xp_cmdshell N'dir \"D:\\bak\\\" /ON /ad /B'");
    EXPECT_EQ(s(shellListingStatement(QStringLiteral("D:\\o'neil\\"), false)),
              "master.dbo.xp_cmdshell N'dir \"D:\\o''neil\\\" /OGN /A /B'");
    EXPECT_EQ(s(dirTreeStatement(QStringLiteral("D:\\o'neil\\"))),
              "EXEC master.sys.xp_dirtree N'D:\\o''neil\\', 1, 1");
}

TEST(MssqlStatements, OnlyPlainFoldersGoToTheShell)
{
    for (const char* safe : {"C:\\", "D:\\bak\\", "D:\\o'neil\\", "E:\\备份 2026\\", "/var/opt/mssql/",
                             "D:\\R&D\\", "C:\\a|b\\", "C:\\<x>\\", "C:\\a^b\\", "D:\\[x] (y)!\\"})
        EXPECT_TRUE(isShellSafeFolder(QString::fromUtf8(safe))) << safe;
    for (const char* unsafe : {"C:\\\" & del C:\\*.* & \"", "C:\\%PATH%\\", "C:\\a\r\nb\\", "C:\\a\nb",
                               "C:\\a\rb", "C:\\a\tb", "\""})
        EXPECT_FALSE(isShellSafeFolder(QString::fromUtf8(unsafe))) << unsafe;

    for (const char* noise : {"File Not Found", "The system cannot find the path specified.",
                              "Access is denied.", "找不到文件", "系统找不到指定的路径。", "  ", ""})
        EXPECT_TRUE(isShellNoise(QString::fromUtf8(noise))) << noise;
    for (const char* name : {"crm.dat", "File Not Found.txt", "Access"})
        EXPECT_FALSE(isShellNoise(QString::fromUtf8(name))) << name;
}

TEST(MssqlStatements, DatabaseManagement)
{
    EXPECT_EQ(s(createDatabaseStatement(QStringLiteral("OrvaneCrm"))), "CREATE DATABASE [OrvaneCrm]");
    EXPECT_EQ(s(createDatabaseStatement(QStringLiteral("a]; DROP DATABASE x; --"))),
              "CREATE DATABASE [a]]; DROP DATABASE x; --]");
    EXPECT_EQ(s(dropDatabaseStatement(QStringLiteral("x]y"))), "DROP DATABASE [x]]y]");
    const QList<QString> options = databaseOptionStatements(QStringLiteral("c]rm"));
    ASSERT_EQ(options.size(), 2);
    EXPECT_EQ(s(options[0]), "ALTER DATABASE [c]]rm] SET RECOVERY SIMPLE");
    EXPECT_EQ(s(options[1]), "ALTER DATABASE [c]]rm] SET AUTO_CLOSE OFF");
    EXPECT_EQ(s(listDatabasesStatement()), "SELECT name FROM master.sys.databases ORDER BY database_id");
    EXPECT_EQ(s(pathSeparatorStatement()), "SELECT SERVERPROPERTY('PathSeparator')");
}

// A name typed as one well-formed quoted identifier names the database inside
// the quotes in every statement, as it does in the backup, the restore and the
// task lock; any other name is the database's name as typed.
TEST(MssqlStatements, EveryStatementNamesTheDatabaseTheBackupNames)
{
    const struct
    {
        const char* typed;
        const char* bracketed;
    } cases[] = {
        {"crm", "[crm]"},         {"\"crm\"", "[crm]"},
        {"\"a\"\"b\"", "[a\"b]"}, {"\"x]; DROP DATABASE y; --\"", "[x]]; DROP DATABASE y; --]"},
        {"\"客户\"", "[客户]"},   {"\"a\"b\"", "[\"a\"b\"]"},
        {"\"abc", "[\"abc]"},
    };
    for (const auto& c : cases) {
        const QString typed = QString::fromUtf8(c.typed);
        const std::string name = c.bracketed;
        EXPECT_EQ(s(createDatabaseStatement(typed)), "CREATE DATABASE " + name) << c.typed;
        EXPECT_EQ(s(dropDatabaseStatement(typed)), "DROP DATABASE " + name) << c.typed;
        EXPECT_EQ(s(useStatement(typed)), "USE " + name) << c.typed;
        const QList<QString> options = databaseOptionStatements(typed);
        ASSERT_EQ(options.size(), 2);
        EXPECT_EQ(s(options[0]), "ALTER DATABASE " + name + " SET RECOVERY SIMPLE") << c.typed;
        EXPECT_EQ(s(options[1]), "ALTER DATABASE " + name + " SET AUTO_CLOSE OFF") << c.typed;
        // The backup of that name backs up the same database.
        const QString inBrackets =
            QString::fromUtf8(c.bracketed).mid(1).chopped(1).replace(QLatin1String("]]"), QLatin1String("]"));
        EXPECT_EQ(quotedDatabaseName(typed), quotedDatabaseName(inBrackets)) << c.typed;
        // And one task lock holds it, however it is spelt.
        EXPECT_EQ(taskLockResource(typed), taskLockResource(quotedDatabaseName(inBrackets))) << c.typed;
    }
}

// The task lock: one resource per database for every spelling of its name,
// the name always inside one N'' literal.
TEST(MssqlStatements, TaskLock)
{
    const struct
    {
        const char* database;
        const char* resource;
    } cases[] = {
        {"OrvaneCrm", "N'OrvaneSqlUpdateDB:orvanecrm'"},
        {" ORVANECRM ", "N'OrvaneSqlUpdateDB:orvanecrm'"},
        {"\"OrvaneCrm\"", "N'OrvaneSqlUpdateDB:orvanecrm'"},
        {"o'neil]; --", "N'OrvaneSqlUpdateDB:o''neil]; --'"},
        {"客户", "N'OrvaneSqlUpdateDB:客户'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.database);
        const QString database = QString::fromUtf8(c.database);
        EXPECT_EQ(
            s(taskLockStatement(database)),
            std::string("SET NOCOUNT ON; DECLARE @result int; EXEC @result = sp_getapplock @Resource = ") +
                c.resource +
                ", @LockMode = 'Exclusive', @LockOwner = 'Session', @LockTimeout = 0; SELECT @result AS "
                "result");
        EXPECT_EQ(s(taskUnlockStatement(database)), std::string("EXEC sp_releaseapplock @Resource = ") +
                                                        c.resource + ", @LockOwner = 'Session'");
    }
}

// The schema check reads the columns of the base tables in the default
// schema, where the scripts' unqualified names go, in column order.
TEST(MssqlStatements, ColumnsCatalog)
{
    EXPECT_EQ(ov::mssql::columnsCatalogStatement(),
              QStringLiteral("SELECT c.TABLE_NAME, c.COLUMN_NAME, c.DATA_TYPE, c.CHARACTER_MAXIMUM_LENGTH, "
                             "c.NUMERIC_PRECISION, c.NUMERIC_SCALE, c.IS_NULLABLE "
                             "FROM INFORMATION_SCHEMA.COLUMNS AS c JOIN INFORMATION_SCHEMA.TABLES AS t "
                             "ON t.TABLE_SCHEMA = c.TABLE_SCHEMA AND t.TABLE_NAME = c.TABLE_NAME "
                             "WHERE t.TABLE_TYPE = 'BASE TABLE' AND c.TABLE_SCHEMA = SCHEMA_NAME() "
                             "ORDER BY c.TABLE_NAME, c.ORDINAL_POSITION"));
}

// Before a backup that must not add to an existing file, the tool asks the
// server to read the file's header: only "Cannot open backup device" (3201)
// for a file or folder that is not there (operating system errors 2 and 3)
// means the file is absent. Any other answer, a refused permission, a file
// in use or not a backup, leaves the question open. The path inside the
// message is never read as the error number.
TEST(MssqlStatements, OnlyANotFoundBackupDeviceIsAbsent)
{
    const QString path = QStringLiteral("D:\\bak 2(old)\\crm.dat");
    const struct
    {
        qint32 number;
        const char* message;
        bool absent;
    } cases[] = {
        {3201,
         "[FreeTDS][SQL Server]Cannot open backup device 'D:\\bak 2(old)\\crm.dat'. Operating system error "
         "2(The system cannot find the file specified.).\n[FreeTDS][SQL Server]RESTORE HEADERONLY is "
         "terminating abnormally.",
         true},
        {3201,
         "[Microsoft][ODBC Driver 17 for SQL Server][SQL Server]Cannot open backup device 'D:\\bak "
         "2(old)\\crm.dat'. Operating system error 3(The system cannot find the path specified.).",
         true},
        {3201, "无法打开备份设备 'D:\\bak 2(old)\\crm.dat'。出现操作系统错误 2(系统找不到指定的文件。)。",
         true},
        {3201,
         "Cannot open backup device 'D:\\bak 2(old)\\crm.dat'. Operating system error 5(Access is denied.).",
         false},
        {3201,
         "Cannot open backup device 'D:\\bak 2(old)\\crm.dat'. Operating system error 32(The process cannot "
         "access the file because it is being used by another process.).",
         false},
        {3201,
         "Cannot open backup device 'D:\\bak 2(old)\\crm.dat'. Operating system error 12(The access code is "
         "invalid.).",
         false},
        {3201, "Cannot open backup device 'D:\\bak 2(old)\\crm.dat'.", false},
        {262, "CREATE DATABASE permission denied in database 'master'.", false},
        {3241,
         "The media family on device 'D:\\bak 2(old)\\crm.dat' is incorrectly formed. SQL Server cannot "
         "process this media family.",
         false},
        {3013, "RESTORE HEADERONLY is terminating abnormally. Operating system error 2(x)", false},
        {-2147467259, "Operating system error 2(The system cannot find the file specified.).", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(isMissingBackupDevice(c.number, QString::fromUtf8(c.message), path), c.absent);
    }
    // A path that is itself read differently by the server still yields the
    // number after it.
    EXPECT_TRUE(isMissingBackupDevice(
        3201,
        QStringLiteral("Cannot open backup device '/var/opt/mssql/data/x.bak'. Operating system error 2(The "
                       "system cannot find the file specified.)."),
        QStringLiteral("/var/opt/mssql/data/./x.bak")));
}

} // namespace
