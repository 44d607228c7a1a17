// The demo single-user database that the build writes, and `ovsqlcli
// cdb-info`, which administrators use to check a file before converting it.

#include "JetReadSupport.h"
#include "JetReaders.h"

#include "common/Cp936.h"
#include "common/clsError.h"
#include "data/jet/JetBackend.h"
#include "data/jet/demo/DemoDatabase.h"
#include "update/VersionTable.h"

#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

using jet::ColumnType;

namespace {

// The tables of the shipped schema script with their columns, in order.
QList<QPair<QString, QStringList>> schemaTables()
{
    QFile f(QStringLiteral(OV_SOURCE_DIR "/dist/OVScriptEmpty.txt"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QString text = ov::cp936::decodeFile(f.readAll());
    static const QRegularExpression table(QStringLiteral("^CREATE TABLE (\\w+) \\(\\s*$"));
    static const QRegularExpression column(QStringLiteral("^\\s*\\[(\\w+)\\]"));
    QList<QPair<QString, QStringList>> tables;
    bool inTable = false;
    for (const QString& line : text.split(QRegularExpression(QStringLiteral("\r?\n")))) {
        const QRegularExpressionMatch t = table.match(line);
        if (t.hasMatch()) {
            tables.append({t.captured(1), {}});
            inTable = true;
        } else if (inTable && line.startsWith(QLatin1Char(')'))) {
            inTable = false;
        } else if (inTable) {
            const QRegularExpressionMatch c = column.match(line);
            if (c.hasMatch())
                tables.last().second << c.captured(1);
        }
    }
    return tables;
}

TEST(JetDemoDatabase, HoldsTheShippedSchemaWithChineseRowsAndItsVersion)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Demo.cdb"));
    QString error;
    ASSERT_TRUE(jetdemo::WriteDemoDatabase(path, &error)) << error.toStdString();

    // Opened the way the conversion opens it: the password matches.
    std::unique_ptr<ov::Connection> cn = mdlOVSqlServer::ConnectToDBAccess(path);
    ASSERT_TRUE(cn) << mdlCommon::GetErrorText(true).toStdString();
    EXPECT_EQ(mdlOVSqlUpdateDB::ReadVaribleValue(QStringLiteral("DB"), QStringLiteral("Version"),
                                                 QStringLiteral("NONE"), QString(), cn.get()),
              jetdemo::kDemoVersion);

    const QList<QPair<QString, QStringList>> schema = schemaTables();
    ASSERT_FALSE(schema.isEmpty());
    QStringList names;
    for (const auto& t : schema)
        names << t.first;
    EXPECT_EQ(dynamic_cast<ov::JetBackend*>(cn->backend().get())->tableNames(), names);

    int rows = 0;
    int chinese = 0;
    for (const auto& [table, columns] : schema) {
        SCOPED_TRACE(table.toStdString());
        const jetread::Rows r = jetread::readAll(*cn, table);
        ASSERT_TRUE(r.opened) << r.error.description.toStdString();
        EXPECT_FALSE(r.error.isSet());
        EXPECT_EQ(r.names, columns);
        EXPECT_FALSE(r.rows.isEmpty());
        rows += r.rows.size();
        for (const QList<QVariant>& row : r.rows) {
            for (const QVariant& v : row)
                chinese += v.toString().contains(QRegularExpression(QStringLiteral("[\\x{4e00}-\\x{9fff}]")))
                               ? 1
                               : 0;
        }
        qint64 counted = 0;
        ASSERT_TRUE(jettest::mdbCount(path, table, &counted, &error)) << error.toStdString();
        EXPECT_EQ(counted, r.rows.size());
    }
    EXPECT_GE(rows, 300);
    EXPECT_GE(chinese, 300);

    // mdb-reader decodes the same database password.
    QJsonObject dump;
    ASSERT_TRUE(jettest::mdbReaderDump(path, &dump, &error)) << error.toStdString();
    EXPECT_EQ(dump.value(QStringLiteral("password")).toString(), jetread::filePassword());
}

struct CliResult
{
    int exitCode = -1;
    QString out;
    QString err;
};

CliResult runCli(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(OV_PROGRAM_DIR "/ovsqlcli"), args);
    EXPECT_TRUE(p.waitForStarted());
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(60000));
    CliResult r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

TEST(JetCdbInfo, PrintsTablesRowCountsAndVersion)
{
    QTemporaryDir dir;
    const QString path = jetread::writeCdb(dir, QStringLiteral("客户.cdb"), [](jet::Writer& w) {
        w.addTable(QStringLiteral("tblVarible"), {{QStringLiteral("Module"), ColumnType::Text, 50},
                                                  {QStringLiteral("VaribleName"), ColumnType::Text, 100},
                                                  {QStringLiteral("VaribleValue"), ColumnType::Text, 255},
                                                  {QStringLiteral("UserID"), ColumnType::Text, 50}});
        w.addRow(QStringLiteral("tblVarible"), {QStringLiteral("UpdateDB"), QStringLiteral("1.1"),
                                                QStringLiteral("x"), QStringLiteral("1")});
        w.addRow(QStringLiteral("tblVarible"),
                 {QStringLiteral("DB"), QStringLiteral("Version"), QStringLiteral("1.6"), QString()});
        w.addTable(QStringLiteral("联系人"), {{QStringLiteral("Id"), ColumnType::Long}});
        for (int i = 0; i < 1234; ++i)
            w.addRow(QStringLiteral("联系人"), {i});
        w.addTable(QStringLiteral("Empty"), {{QStringLiteral("Id"), ColumnType::Long}});
    });
    ASSERT_FALSE(path.isEmpty());
    const CliResult r = runCli({QStringLiteral("cdb-info"), path});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("file:    %1\n"
                                    "version: 1.6\n"
                                    "tables:\n"
                                    "  tblVarible  2\n"
                                    "  联系人         1234\n"
                                    "  Empty       0\n")
                         .arg(path));
}

TEST(JetCdbInfo, AFileThatIsNoProductDatabaseOrNoDatabase)
{
    QTemporaryDir dir;
    const QString noVersion = jetread::writeCdb(dir, QStringLiteral("other.cdb"), [](jet::Writer& w) {
        w.addTable(QStringLiteral("T"), {{QStringLiteral("Id"), ColumnType::Long}});
    });
    ASSERT_FALSE(noVersion.isEmpty());
    CliResult r = runCli({QStringLiteral("cdb-info"), noVersion});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("version: (none: "))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("cannot find the input table or query 'tblVarible'")))
        << r.out.toStdString();

    const QString missing = dir.filePath(QStringLiteral("missing.cdb"));
    r = runCli({QStringLiteral("cdb-info"), missing});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains(QStringLiteral("连接数据库失败！"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("Could not find file '%1'.").arg(missing)))
        << r.err.toStdString();

    r = runCli({QStringLiteral("cdb-info")});
    EXPECT_EQ(r.exitCode, 2);
}

} // namespace
