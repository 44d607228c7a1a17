// ovsqlcli convert against the embedded engine: the demo single-user file
// converted, an existing database kept without --replace and replaced with
// it, and the checks that stop a conversion before anything is made.

#include "common/mdlOEMResource.h"
#include "config/mdlOVSqlServer.h"
#include "config/mdlOVSqlServerAccess.h"
#include "config/mdlOVSqlServerConnect.h"
#include "convert/TableTransfer.h"
#include "create/CreateTestSupport.h"
#include "create/DataImport.h"
#include "data/Connection.h"
#include "data/Recordset.h"
#include "data/ServerAdmin.h"
#include "jet/demo/DemoDatabase.h"
#include "support/CliProgram.h"
#include "support/FileWatch.h"
#include "support/ScopedProgramFolder.h"
#include "support/ScriptedUi.h"
#include "update/UpdateScript.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <gtest/gtest.h>

namespace {

const QString kDatabase = QStringLiteral("conv");

// The built ovsqlcli in a temporary program folder beside the shipped files,
// the demo single-user file "Demo.cdb" and an embedded server "sqlite:data".
class ConvertCommandTest : public ::testing::Test
{
protected:
    using Result = ovtest::CliResult;

    void SetUp() override
    {
        ASSERT_TRUE(ovtest::MakeCliFolder(m_dir));
        QString error;
        ASSERT_TRUE(jetdemo::WriteDemoDatabase(path(QStringLiteral("Demo.cdb")), &error))
            << error.toStdString();
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    // ovsqlcli convert on the server "sqlite:data" into the database "conv".
    Result convert(const QStringList& options, const QByteArray& input = QByteArray()) const
    {
        return ovtest::RunCli(m_dir.path(), QStringList({"convert", "--server", "sqlite:data"}) + options,
                              input);
    }

    QStringList query(const QString& sql) const
    {
        ov::Connection cn;
        ov::Recordset rs;
        if (!cn.Open(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=%2")
                         .arg(path(QStringLiteral("data")), kDatabase)) ||
            !rs.Open(sql, cn))
            return {QStringLiteral("(fails)")};
        QStringList out;
        for (; !rs.Eof(); rs.MoveNext())
            out << rs.Fields(0).Value().toString();
        return out;
    }

    // The rows of table as "KEY|VALUE" over two of its fields, sorted ("<null>"
    // for NULL, dates to the second): the same list on two engines when they
    // hold the same values.
    static QStringList keyedValues(ov::Connection& cn, const QString& table, const QString& key,
                                   const QString& column)
    {
        QStringList out;
        ov::Recordset rs;
        EXPECT_TRUE(rs.Open(QStringLiteral("SELECT * FROM ") + table, cn))
            << rs.lastError().description.toStdString();
        for (; rs.isOpen() && !rs.Eof(); rs.MoveNext()) {
            const QVariant v = rs.Fields(column).Value();
            QString text;
            if (!v.isValid() || v.isNull())
                text = QStringLiteral("<null>");
            else if (v.typeId() == QMetaType::QDateTime)
                text = QDateTime(v.toDateTime().date(), v.toDateTime().time())
                           .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            else
                text = v.toString();
            out << rs.Fields(key).Value().toString() + QLatin1Char('|') + text;
        }
        out.sort();
        return out;
    }

    // The message boxes that ovsqlcli printed: the lines of its standard
    // error that start with the product name in brackets.
    static QStringList messages(const QString& err)
    {
        const QString prefix = QStringLiteral("[%1] ").arg(mdlOEMResource::GetOEMShortName());
        QStringList out;
        for (const QString& line : err.split(QLatin1Char('\n'))) {
            if (line.startsWith(prefix))
                out << line.mid(prefix.size());
        }
        return out;
    }

    QByteArray configBytes() const
    {
        QFile f(mdlOVSqlServer::ConfigFilePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
    }

    ovtest::ScopedProgramFolder m_dir;
};

// The demo file converts without any error message (it has every field of
// the newest schema): every listed table holds the file's rows, the columns
// that the update script added hold the file's values, the database is at
// the newest version, and, as after the window's conversion,
// the settings name the new database with the login given (its password
// scrambled in the file, never printed) and CreateDBResult is "1".
TEST_F(ConvertCommandTest, DemoFileConvertsAndTheSettingsNameTheNewDatabase)
{
    const QString password = QStringLiteral("Pa55-w0rd");
    ovtest::FileWatch config(m_dir.path(), QStringLiteral("OrvaneSqlConfig.ini"));
    const Result r =
        convert({"--file", "Demo.cdb", "--database", kDatabase, "--user", "crmuser", "--password-stdin"},
                password.toUtf8() + '\n');
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(messages(r.err), QStringList({QStringLiteral("创建数据库成功！"),
                                            QStringLiteral("单机版数据库升级为网络版数据库完成！")}))
        << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("错误"))) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(password) || r.out.contains(password));

    auto cnFile = mdlOVSqlServer::ConnectToDBAccess(path(QStringLiteral("Demo.cdb")));
    ASSERT_TRUE(cnFile);
    QStringList tables;
    ASSERT_TRUE(mdlOVSqlUpdateDB::ReadListFile(path(QStringLiteral("ConvertDataTables.txt")), tables));
    ASSERT_GT(tables.size(), 1);
    for (int i = 1; i < tables.size(); ++i) {
        ov::Recordset rs;
        ASSERT_TRUE(rs.Open(QStringLiteral("SELECT * FROM ") + tables[i], *cnFile))
            << tables[i].toStdString();
        int rows = 0;
        for (; !rs.Eof(); rs.MoveNext())
            ++rows;
        const QString inFile = QString::number(rows);
        EXPECT_NE(inFile, QStringLiteral("0")) << tables[i].toStdString();
        // tblVarible holds the record of the version blocks besides.
        EXPECT_EQ(
            query(QStringLiteral("SELECT COUNT(*) FROM ") + tables[i] +
                  (tables[i] == QLatin1String("tblVarible") ? QStringLiteral(" WHERE [Module] <> 'UpdateDB'")
                                                            : QString())),
            QStringList({inFile}))
            << tables[i].toStdString();
    }
    EXPECT_EQ(query(QStringLiteral("SELECT VaribleValue FROM tblVarible WHERE [Module] = 'DB' AND "
                                   "VaribleName = 'Version'")),
              QStringList({ovtest::ShippedVersions().last()}));

    // The columns that the update script adds hold the file's values, not
    // what the script gives earlier rows.
    ov::Connection cnServer;
    ASSERT_TRUE(cnServer.Open(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=%2")
                                  .arg(path(QStringLiteral("data")), kDatabase)));
    const struct
    {
        const char* table;
        const char* key;
        const char* column;
    } added[] = {{"tblCompany", "CompanyID", "Province"},  {"tblCompany", "CompanyID", "CustomerLevel"},
                 {"tblActivity", "ActivityID", "DueDate"}, {"tblActivity", "ActivityID", "Priority"},
                 {"tblUser", "UserID", "Email"},           {"tblUser", "UserID", "LastLoginDate"}};
    for (const auto& a : added) {
        SCOPED_TRACE(std::string(a.table) + "." + a.column);
        const QStringList inFile =
            keyedValues(*cnFile, QLatin1String(a.table), QLatin1String(a.key), QLatin1String(a.column));
        EXPECT_EQ(
            keyedValues(cnServer, QLatin1String(a.table), QLatin1String(a.key), QLatin1String(a.column)),
            inFile);
        QSet<QString> distinct;
        for (const QString& row : inFile)
            distinct.insert(row.section(QLatin1Char('|'), 1));
        distinct.remove(QStringLiteral("<null>"));
        EXPECT_GT(distinct.size(), 1);
    }

    const ConnectionSettings stored = mdlOVSqlServer::ReadMainSettings();
    EXPECT_EQ(stored.server, QStringLiteral("sqlite:data"));
    EXPECT_EQ(stored.database, kDatabase);
    EXPECT_FALSE(stored.trusted);
    EXPECT_EQ(stored.user, QStringLiteral("crmuser"));
    EXPECT_EQ(stored.password, password);
    EXPECT_FALSE(configBytes().contains(password.toUtf8()));
    clsIniFile ini;
    ini.setFileName(mdlOVSqlServer::ConfigFilePath());
    EXPECT_EQ(ini.ReadString(QStringLiteral("MAIN"), QStringLiteral("CreateDBResult"), QString(), 10),
              QStringLiteral("1"));
    // The five values and the result reach the file in one replacement: a
    // crash leaves the old file or the new one, never the new database named
    // beside the old result.
    EXPECT_EQ(config.count(), 1);
}

// A transfer that met errors still ends as the window's does (completion
// message, settings written), but the command's exit code says that not
// everything arrived.
TEST_F(ConvertCommandTest, ATransferWithErrorsEndsNonZero)
{
    QFile list(path(QStringLiteral("ConvertDataTables.txt")));
    ASSERT_TRUE(list.open(QIODevice::Append));
    list.write("\r\ntblNotInTheFile\r\n");
    list.close();
    const Result r = convert({"--file", "Demo.cdb", "--database", kDatabase, "--trusted"});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(messages(r.err).contains(QStringLiteral("单机版数据库升级为网络版数据库完成！")))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("tblNotInTheFile"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("ovsqlcli: the transfer met the errors shown above")))
        << r.err.toStdString();
    EXPECT_EQ(mdlOVSqlServer::ReadMainSettings().database, kDatabase);
}

// Settings that cannot be written (a read-only settings file) leave the main
// program naming the old database: the conversion itself is done, but the
// command says why the settings were not written and does not end 0.
TEST_F(ConvertCommandTest, SettingsThatCannotBeWrittenEndNonZero)
{
    const QString config = mdlOVSqlServer::ConfigFilePath();
    QFile f(config);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[MAIN]\r\nDBServer=sqlite:data\r\nDBName=old\r\n");
    f.close();
    ASSERT_TRUE(QFile::setPermissions(config, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const QByteArray before = configBytes();

    const Result r = convert({"--file", "Demo.cdb", "--database", kDatabase, "--trusted"});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QDir::toNativeSeparators(config) + QStringLiteral(" cannot be written")))
        << r.err.toStdString();
    EXPECT_TRUE(messages(r.err).contains(QStringLiteral("单机版数据库升级为网络版数据库完成！")))
        << r.err.toStdString();
    EXPECT_EQ(configBytes(), before);
    EXPECT_EQ(query(QStringLiteral("SELECT VaribleValue FROM tblVarible WHERE [Module] = 'DB' AND "
                                   "VaribleName = 'Version'")),
              QStringList({ovtest::ShippedVersions().last()}));
}

// An existing database is kept unless --replace is given and the overwrite
// question answered yes; kept, the command fails with the question's text and
// the settings stay as they were.
TEST_F(ConvertCommandTest, ExistingDatabaseIsReplacedOnlyWhenAsked)
{
    {
        auto admin = ov::ServerAdmin::create(QStringLiteral("sqlite:") + path(QStringLiteral("data")), true,
                                             QString(), QString());
        ASSERT_TRUE(admin->createDatabase(kDatabase)) << admin->lastError().description.toStdString();
        ov::Connection cn;
        ASSERT_TRUE(cn.Open(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=%2")
                                .arg(path(QStringLiteral("data")), kDatabase)));
        ASSERT_TRUE(cn.Execute(QStringLiteral("CREATE TABLE kept (id INT)")));
    }
    const QString question = QStringLiteral("数据库 [conv] 已经存在,是否要将它覆盖？");
    const QStringList base = {"--file", "Demo.cdb", "--database", kDatabase};
    const struct
    {
        QStringList options;
        bool replaced;
    } cases[] = {
        {{"--yes"}, false},
        {{"--replace"}, false}, // asked, but standard input is no terminal
        {{"--replace", "--yes"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options.join(QLatin1Char(' ')).toStdString());
        const Result r = convert(base + c.options);
        EXPECT_EQ(r.exitCode == 0, c.replaced) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(question)) << r.err.toStdString();
        EXPECT_EQ(query(QStringLiteral("SELECT COUNT(*) FROM kept")),
                  c.replaced ? QStringList({"(fails)"}) : QStringList({"0"}));
        if (!c.replaced) {
            EXPECT_EQ(configBytes(), QByteArray("(none)"));
        }
    }
    EXPECT_NE(query(QStringLiteral("SELECT COUNT(*) FROM tblContact")), QStringList({"0"}));
}

// What stops a conversion before anything is made: the window's messages,
// exit code 1; usage errors exit 2. No database appears and the settings are
// left as they were (the stored database name is no default for the target).
TEST_F(ConvertCommandTest, ChecksStopBeforeAnythingIsMade)
{
    ASSERT_TRUE(mdlOVSqlServer::WriteMainSettings(QStringLiteral("sqlite:data"), kDatabase, true, QString(),
                                                  QString()));
    const QByteArray config = configBytes();
    const QString garbage = path(QStringLiteral("garbage.cdb"));
    {
        QFile f(garbage);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(8192, 'x'));
    }
    const struct
    {
        QStringList options;
        const char* missingFile; // a shipped file taken away for the case
        const char* requiredVersion;
        int exitCode;
        QString message;
    } cases[] = {
        {{"--database", kDatabase}, nullptr, nullptr, 1, QStringLiteral("请选择先要转换的单机版数据库!")},
        {{"--file", "Demo.cdb"}, nullptr, nullptr, 1, QStringLiteral("请指定将创建的数据库数据库名称！")},
        {{"--file", "Demo.cdb", "--database", "  "},
         nullptr,
         nullptr,
         1,
         QStringLiteral("请指定将创建的数据库数据库名称！")},
        {{"--file", "Demo.cdb", "--database", kDatabase},
         "ConvertDataTables.ini",
         nullptr,
         1,
         QStringLiteral(
             "未找到文件 ConvertDataTables.ini， 程序安装不完全！\n 请下载最新的网络版程序并安装")},
        {{"--file", "garbage.cdb", "--database", kDatabase},
         nullptr,
         nullptr,
         1,
         QStringLiteral("该数据库不是Orvane客户资源管理系统的数据库！\n数据库：") + garbage},
        {{"--file", "Demo.cdb", "--database", kDatabase},
         nullptr,
         "99.0",
         1,
         QStringLiteral("单机版的数据库版本不正确， 请先安装最新的单机版程序")},
        {{"--file", "Demo.cdb", "--database", kDatabase},
         "ConvertDataTables.txt",
         nullptr,
         1,
         QStringLiteral("请重新安装程序后再转换数据库。")},
        {{"--file", "Demo.cdb", "--database", kDatabase, "--trusted", "--user", "sa"},
         nullptr,
         nullptr,
         2,
         QStringLiteral("usage: ovsqlcli convert")},
        {{"--file", "Demo.cdb", "--database", kDatabase, "--demo"},
         nullptr,
         nullptr,
         2,
         QStringLiteral("usage: ovsqlcli convert")},
        // Names the settings could not hold are refused before the work.
        {{"--file", "Demo.cdb", "--database", kDatabase, "--user", "crm\nDBName=evil", "--password-stdin"},
         nullptr,
         nullptr,
         2,
         QStringLiteral("--user \"crm\nDBName=evil\" cannot be used: it holds a control character")},
        {{"--file", "Demo.cdb", "--database", kDatabase, "--user", "crm\rx", "--password-stdin"},
         nullptr,
         nullptr,
         2,
         QStringLiteral("--user \"crm\rx\" cannot be used: it holds a control character")},
        {{"--file", "Demo.cdb", "--database", kDatabase, "--user", QStringLiteral("crm") + QChar(0x1F)},
         nullptr,
         nullptr,
         2,
         QStringLiteral("cannot be used: it holds a control character")},
    };
    const QString ini = path(QStringLiteral("ConvertDataTables.ini"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options.join(QLatin1Char(' ')).toStdString());
        const QString aside = c.missingFile ? path(QLatin1String(c.missingFile)) : QString();
        if (c.missingFile) {
            ASSERT_TRUE(QFile::rename(aside, aside + QStringLiteral(".aside")));
        }
        QByteArray shippedIni;
        if (c.requiredVersion) {
            QFile f(ini);
            ASSERT_TRUE(f.open(QIODevice::ReadWrite));
            shippedIni = f.readAll();
            f.resize(0);
            f.write("[MAIN]\r\nVERSION=" + QByteArray(c.requiredVersion) + "\r\n");
        }
        const Result r = convert(c.options);
        if (c.missingFile) {
            ASSERT_TRUE(QFile::rename(aside + QStringLiteral(".aside"), aside));
        }
        if (c.requiredVersion) {
            QFile f(ini);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(shippedIni);
        }
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
        EXPECT_TRUE(QDir(path(QStringLiteral("data"))).isEmpty());
        EXPECT_EQ(configBytes(), config);
    }
}

} // namespace

namespace {

// Every row of a query as its fields joined by "|" (NULL as "<null>"), sorted.
QStringList allRows(ov::Connection& cn, const QString& sql)
{
    QStringList out;
    ov::Recordset rs;
    EXPECT_TRUE(rs.Open(sql, cn)) << sql.toStdString() << ": " << rs.lastError().description.toStdString();
    for (; rs.isOpen() && !rs.Eof(); rs.MoveNext()) {
        QStringList fields;
        for (int i = 0; i < rs.FieldCount(); ++i) {
            const QVariant v = rs.Fields(i).Value();
            fields << (v.isValid() && !v.isNull() ? mdlCommon::ValueToText(v) : QStringLiteral("<null>"));
        }
        out << fields.join(QLatin1Char('|'));
    }
    out.sort();
    return out;
}

// The names of the columns of table, in their order.
QStringList columnsOf(ov::Connection& cn, const QString& table)
{
    QStringList out;
    ov::Recordset rs;
    EXPECT_TRUE(
        rs.Open(QStringLiteral("SELECT name FROM pragma_table_info('%1') ORDER BY cid").arg(table), cn));
    for (; rs.isOpen() && !rs.Eof(); rs.MoveNext())
        out << rs.Fields(0).Value().toString();
    return out;
}

} // namespace

// A converted database holds what a database created from the same rows
// holds after the update: the rows come in before the update script's data
// moves, which then act on them. The reference is made in the order of a
// creation: the schema script, the file's rows (as version "0"), the update
// script. Table by table, the two hold the same rows; only the columns that
// the versions after "0" added differ, where the converted database keeps the
// file's values (the test above) and the reference the script's defaults.
TEST_F(ConvertCommandTest, AConvertedDatabaseHoldsWhatACreatedAndUpdatedOneHolds)
{
    const Result r = convert({"--file", "Demo.cdb", "--database", kDatabase, "--trusted"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    const QString server = QStringLiteral("sqlite:") + path(QStringLiteral("data"));
    {
        ovtest::ScriptedUi ui;
        ovtest::RecordingStatus status;
        ovtest::RecordingProgress progress;
        for (const QString& name : {QStringLiteral("ref"), QStringLiteral("bare")}) {
            QFile made(path(QStringLiteral("data/") + name + QStringLiteral(".sqlite")));
            ASSERT_TRUE(made.open(QIODevice::WriteOnly));
            made.close();
            ASSERT_TRUE(mdlOVSqlUpdateDB::RunUpdateScript(server, name, true, QString(), QString(),
                                                          path(QStringLiteral("OVScriptEmpty.txt")), status,
                                                          progress));
        }
        auto cnFile = mdlOVSqlServer::ConnectToDBAccess(path(QStringLiteral("Demo.cdb")));
        auto cnRef =
            mdlOVSqlServer::ConnectToDBFile(server, QStringLiteral("ref"), true, QString(), QString());
        ASSERT_TRUE(cnFile && cnRef);
        const QStringList list = {QString(),    "tblVarible", "tblUser",
                                  "tblCompany", "tblContact", "tblActivity"};
        ASSERT_TRUE(
            mdlOVSqlUpdateDB::TransferDataFormCnToCn(cnFile.get(), cnRef.get(), list, status, progress));
        ASSERT_TRUE(cnRef->Execute(QStringLiteral(
            "UPDATE tblVarible SET VaribleValue = '0' WHERE [Module] = 'DB' AND VaribleName = 'Version'")));
        cnRef->Close();
        ASSERT_TRUE(mdlOVSqlUpdateDB::RunUpdateScript(server, QStringLiteral("ref"), true, QString(),
                                                      QString(), path(QStringLiteral("OVScriptUpdate.txt")),
                                                      status, progress));
    }

    ov::Connection converted;
    ov::Connection reference;
    ov::Connection bare;
    ASSERT_TRUE(converted.Open(QStringLiteral("Data Source=%1;Initial Catalog=%2").arg(server, kDatabase)));
    ASSERT_TRUE(reference.Open(QStringLiteral("Data Source=%1;Initial Catalog=ref").arg(server)));
    ASSERT_TRUE(bare.Open(QStringLiteral("Data Source=%1;Initial Catalog=bare").arg(server)));
    const QString tablesSql =
        QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
    const QStringList tables = allRows(reference, tablesSql);
    EXPECT_EQ(allRows(converted, tablesSql), tables);
    ASSERT_TRUE(tables.contains(QStringLiteral("tblContactPhone")));
    const QStringList original = allRows(bare, tablesSql);
    for (const QString& table : tables) {
        SCOPED_TRACE(table.toStdString());
        // A table of version "0" is compared on the columns it had then;
        // a table a later version made, on all of them.
        QStringList columns = columnsOf(original.contains(table) ? bare : reference, table);
        ASSERT_FALSE(columns.isEmpty());
        for (QString& c : columns)
            c = QLatin1Char('[') + c + QLatin1Char(']');
        // The history of the applied blocks carries the times of the runs.
        const QString sql =
            QStringLiteral("SELECT %1 FROM %2%3")
                .arg(columns.join(QLatin1Char(',')), table,
                     table == QLatin1String("tblVarible") ? QStringLiteral(" WHERE [Module] <> 'UpdateDB'")
                                                          : QString());
        const QStringList expected = allRows(reference, sql);
        EXPECT_EQ(allRows(converted, sql), expected);
        if (table == QLatin1String("tblContactPhone")) {
            EXPECT_EQ(expected.size(), 250);
        }
    }
    EXPECT_EQ(allRows(converted, QStringLiteral("SELECT VaribleValue FROM tblVarible WHERE VaribleName = "
                                                "'CompanyName'")),
              QStringList({QStringLiteral("演示公司")}));
}
