// The demo single-user database that the build writes, checked against a
// database of the newest schema, and `ovsqlcli cdb-info`, which
// administrators use to check a file before converting it.

#include "JetReadSupport.h"
#include "JetReaders.h"

#include "common/Cp936.h"
#include "common/clsError.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "config/mdlOVSqlServerConnect.h"
#include "create/CreateDatabase.h"
#include "create/DataImport.h"
#include "data/jet/JetBackend.h"
#include "jet/demo/DemoDatabase.h"
#include "support/ScopedProgramFolder.h"
#include "support/ScriptedUi.h"
#include "support/ShippedVersions.h"
#include "update/UpdateScript.h"
#include "update/VersionTable.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

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

// A database of the newest schema: made bare by the create procedure on the
// embedded engine of a temporary program folder, with the shipped schema and
// update scripts.
class NewestSchema
{
public:
    // The connection to the new database; empty (and a failure recorded)
    // when it could not be made.
    std::unique_ptr<ov::Connection> create()
    {
        EXPECT_TRUE(m_dir.isValid());
        m_dir.copyDist({QStringLiteral("OVScriptEmpty.txt"), QStringLiteral("OVScriptUpdate.txt")});
        const QString server = m_dir.makeServer(QStringLiteral("server"));
        ovtest::ScriptedUi ui;
        ovtest::RecordingStatus status;
        ovtest::RecordingProgress progress;
        if (!mdlOVSqlUpdateDB::CreateDatabase(server, QStringLiteral("newest"), true, QString(), QString(),
                                              mdlOVSqlUpdateDB::CreateBare, status, progress)) {
            ADD_FAILURE() << ui.texts().join(QLatin1Char('\n')).toStdString();
            return nullptr;
        }
        EXPECT_EQ(ui.texts(), QStringList({QStringLiteral("创建数据库成功！")}));
        return mdlOVSqlServer::ConnectToDBFile(server, QStringLiteral("newest"), true, QString(), QString());
    }

private:
    ovtest::ScopedProgramFolder m_dir;
};

// The values of one column of the rows read; the test fails when the column
// is missing.
QList<QVariant> columnValues(const jetread::Rows& r, const QString& column)
{
    const qsizetype at = r.names.indexOf(column);
    EXPECT_GE(at, 0) << column.toStdString();
    QList<QVariant> values;
    for (const QList<QVariant>& row : r.rows)
        values << (at >= 0 ? row.value(at) : QVariant());
    return values;
}

bool isNull(const QVariant& v)
{
    return !v.isValid() || v.isNull();
}

// The demo file looks like a file of the current single-user edition: its
// version is the newest of the update script, the tables that the conversion
// moves have exactly the columns that a database of the newest schema has
// (so the conversion meets no missing field), and the columns that the
// update script added hold values.
TEST(JetDemoDatabase, CarriesTheNewestSchemaWithChineseRowsAndItsVersion)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Demo.cdb"));
    QString error;
    ASSERT_TRUE(jetdemo::WriteDemoDatabase(path, &error)) << error.toStdString();

    // Opened the way the conversion opens it: the password matches.
    std::unique_ptr<ov::Connection> cn = mdlOVSqlServer::ConnectToDBAccess(path);
    ASSERT_TRUE(cn) << mdlCommon::GetErrorText(true).toStdString();
    const QStringList versions = ovtest::ShippedVersions();
    ASSERT_FALSE(versions.isEmpty());
    EXPECT_EQ(jetdemo::kDemoVersion, versions.last()) << jetdemo::kDemoVersion.toStdString();
    EXPECT_EQ(mdlOVSqlUpdateDB::ReadVaribleValue(QStringLiteral("DB"), QStringLiteral("Version"),
                                                 QStringLiteral("NONE"), QString(), cn.get()),
              jetdemo::kDemoVersion);

    // tblVarible and the tables of the conversion list, nothing else.
    QStringList listed;
    {
        ovtest::ScriptedUi ui;
        ASSERT_TRUE(mdlOVSqlUpdateDB::ReadListFile(
            QStringLiteral(OV_SOURCE_DIR "/dist/ConvertDataTables.txt"), listed));
    }
    listed.removeFirst();
    ASSERT_FALSE(listed.isEmpty());
    QStringList expectedTables = QStringList({QStringLiteral("tblVarible")}) + listed;
    expectedTables.removeDuplicates();
    QStringList tables;
    ov::DataError listError;
    ASSERT_TRUE(cn->backend()->tableNames(tables, listError)) << listError.description.toStdString();
    expectedTables.sort();
    tables.sort();
    ASSERT_EQ(tables, expectedTables) << tables.join(QLatin1Char(',')).toStdString();

    const QList<QPair<QString, QStringList>> schema = schemaTables();
    ASSERT_FALSE(schema.isEmpty());
    NewestSchema newest;
    std::unique_ptr<ov::Connection> server = newest.create();
    ASSERT_TRUE(server);

    int rows = 0;
    int chinese = 0;
    QMap<QString, jetread::Rows> read;
    for (const QString& table : tables) {
        SCOPED_TRACE(table.toStdString());
        const jetread::Rows r = jetread::readAll(*cn, table);
        ASSERT_TRUE(r.opened) << r.error.description.toStdString();
        EXPECT_FALSE(r.error.isSet());
        const jetread::Rows onServer = jetread::readAll(*server, table);
        ASSERT_TRUE(onServer.opened) << onServer.error.description.toStdString();
        EXPECT_EQ(r.names, onServer.names)
            << "file: " << r.names.join(QLatin1Char(',')).toStdString()
            << "\nnewest schema: " << onServer.names.join(QLatin1Char(',')).toStdString();
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

        // The columns that the update script added hold values.
        QStringList original;
        for (const auto& t : schema) {
            if (t.first == table)
                original = t.second;
        }
        ASSERT_FALSE(original.isEmpty());
        for (const QString& column : onServer.names) {
            if (original.contains(column))
                continue;
            const QList<QVariant> values = columnValues(r, column);
            EXPECT_TRUE(std::any_of(values.begin(), values.end(), [](const QVariant& v) {
                return !isNull(v);
            })) << column.toStdString();
        }
        read.insert(table, r);
    }
    EXPECT_GE(rows, 300);
    EXPECT_GE(chinese, 300);

    // The values are those of a product in use: a company's province goes
    // with its city, levels 1-5 and priorities 1-3, open activities are due
    // after they were planned, done ones are not due, every user has his own
    // e-mail address and logged in after he was made.
    const jetread::Rows& companies = read[QStringLiteral("tblCompany")];
    const QList<QVariant> cities = columnValues(companies, QStringLiteral("City"));
    const QList<QVariant> provinces = columnValues(companies, QStringLiteral("Province"));
    const QList<QVariant> levels = columnValues(companies, QStringLiteral("CustomerLevel"));
    ASSERT_FALSE(companies.rows.isEmpty());
    QMap<QString, QString> provinceOfCity;
    QSet<int> levelsSeen;
    for (qsizetype i = 0; i < companies.rows.size(); ++i) {
        const QString city = cities[i].toString();
        const QString province = provinces[i].toString();
        EXPECT_FALSE(province.isEmpty()) << i;
        EXPECT_EQ(provinceOfCity.value(city, province), province) << city.toStdString();
        provinceOfCity.insert(city, province);
        if (province.endsWith(QStringLiteral("市"))) {
            EXPECT_EQ(province, city + QStringLiteral("市"));
        }
        EXPECT_TRUE(levels[i].toInt() >= 1 && levels[i].toInt() <= 5) << levels[i].toString().toStdString();
        levelsSeen.insert(levels[i].toInt());
    }
    EXPECT_GT(levelsSeen.size(), 1);

    const jetread::Rows& activities = read[QStringLiteral("tblActivity")];
    const QList<QVariant> done = columnValues(activities, QStringLiteral("IsDone"));
    const QList<QVariant> planned = columnValues(activities, QStringLiteral("ActivityDate"));
    const QList<QVariant> due = columnValues(activities, QStringLiteral("DueDate"));
    const QList<QVariant> priorities = columnValues(activities, QStringLiteral("Priority"));
    int open = 0;
    for (qsizetype i = 0; i < activities.rows.size(); ++i) {
        EXPECT_TRUE(priorities[i].toInt() >= 1 && priorities[i].toInt() <= 3)
            << priorities[i].toString().toStdString();
        if (done[i].toInt() != 0) {
            EXPECT_TRUE(isNull(due[i])) << i;
            continue;
        }
        ++open;
        ASSERT_FALSE(isNull(due[i])) << i;
        EXPECT_GT(due[i].toDateTime(), planned[i].toDateTime()) << i;
    }
    EXPECT_GT(open, 0);

    const jetread::Rows& users = read[QStringLiteral("tblUser")];
    const QList<QVariant> emails = columnValues(users, QStringLiteral("Email"));
    const QList<QVariant> made = columnValues(users, QStringLiteral("CreateDate"));
    const QList<QVariant> lastLogins = columnValues(users, QStringLiteral("LastLoginDate"));
    QSet<QString> addresses;
    for (qsizetype i = 0; i < users.rows.size(); ++i) {
        EXPECT_TRUE(emails[i].toString().contains(
            QRegularExpression(QStringLiteral("^[\\w.-]+@[\\w-]+(\\.[\\w-]+)+$"))))
            << emails[i].toString().toStdString();
        addresses.insert(emails[i].toString());
        ASSERT_FALSE(isNull(lastLogins[i])) << i;
        EXPECT_GT(lastLogins[i].toDateTime(), made[i].toDateTime()) << i;
    }
    EXPECT_EQ(addresses.size(), users.rows.size());

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
