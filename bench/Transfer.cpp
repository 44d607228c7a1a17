// Transfer benchmark: a single-user file of 200,000 rows over three tables,
// written by the Jet writer, moved into a database of the embedded engine by
// the conversion's table transfer, against mdbtools' mdb-export of the same
// tables piped into the sqlite3 shell's .import into the same empty tables.
// Each side runs three times into a fresh database; the best time counts.

#include "common/UiPort.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "config/mdlEncode.h"
#include "config/mdlOVSqlServerAccess.h"
#include "config/mdlOVSqlServerConnect.h"
#include "convert/TableTransfer.h"
#include "data/Recordset.h"
#include "data/ServerAdmin.h"
#include "jet/writer/Writer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

namespace {

using jet::ColumnType;

constexpr int kCompanies = 20000;
constexpr int kContacts = 80000;
constexpr int kActivities = 100000;

const QString kSchema = QStringLiteral(
    "CREATE TABLE tblCompany ([CompanyID] INT NOT NULL PRIMARY KEY, [CompanyName] NVARCHAR(100), "
    "[City] NVARCHAR(50), [CreateDate] DATETIME, [Remark] NVARCHAR(1000));"
    "CREATE TABLE tblContact ([ContactID] INT NOT NULL PRIMARY KEY, [CompanyID] INT, [ContactName] "
    "NVARCHAR(50), [Mobile] NVARCHAR(50), [Birthday] DATETIME);"
    "CREATE TABLE tblActivity ([ActivityID] INT NOT NULL PRIMARY KEY, [ContactID] INT, [Subject] "
    "NVARCHAR(200), [ActivityDate] DATETIME, [IsDone] INT);");

bool makeFile(const QString& path)
{
    jet::Writer w(path);
    w.setPassword(mdlEncode::UnscrambleText(mdlEncode::kScrambledFilePassword, mdlEncode::kFileKey, true));
    w.addTable(QStringLiteral("tblCompany"), {{QStringLiteral("CompanyID"), ColumnType::Long},
                                              {QStringLiteral("CompanyName"), ColumnType::Text, 100},
                                              {QStringLiteral("City"), ColumnType::Text, 50},
                                              {QStringLiteral("CreateDate"), ColumnType::DateTime},
                                              {QStringLiteral("Remark"), ColumnType::Memo}});
    w.addTable(QStringLiteral("tblContact"), {{QStringLiteral("ContactID"), ColumnType::Long},
                                              {QStringLiteral("CompanyID"), ColumnType::Long},
                                              {QStringLiteral("ContactName"), ColumnType::Text, 50},
                                              {QStringLiteral("Mobile"), ColumnType::Text, 50},
                                              {QStringLiteral("Birthday"), ColumnType::DateTime}});
    w.addTable(QStringLiteral("tblActivity"), {{QStringLiteral("ActivityID"), ColumnType::Long},
                                               {QStringLiteral("ContactID"), ColumnType::Long},
                                               {QStringLiteral("Subject"), ColumnType::Text, 200},
                                               {QStringLiteral("ActivityDate"), ColumnType::DateTime},
                                               {QStringLiteral("IsDone"), ColumnType::Long}});
    const QDateTime base(QDate(2020, 1, 1), QTime(9, 0));
    for (int i = 1; i <= kCompanies; ++i) {
        w.addRow(
            QStringLiteral("tblCompany"),
            {i, QStringLiteral("华信科技有限公司%1").arg(i), QStringLiteral("北京"), base.addSecs(i * 60),
             i % 3 ? QVariant(QStringLiteral("客户对价格比较敏感，需要准备详细的报价方案。")) : QVariant()});
    }
    for (int i = 1; i <= kContacts; ++i) {
        w.addRow(QStringLiteral("tblContact"),
                 {i, 1 + i % kCompanies, QStringLiteral("联系人%1").arg(i),
                  QStringLiteral("138%1").arg(10000000 + i),
                  QDateTime(QDate(1970, 1, 1).addDays(i % 10000), QTime(0, 0))});
    }
    for (int i = 1; i <= kActivities; ++i) {
        w.addRow(QStringLiteral("tblActivity"),
                 {i, 1 + i % kContacts, QStringLiteral("产品演示 %1").arg(i), base.addSecs(i * 90), i % 2});
    }
    QString error;
    if (!w.save(&error)) {
        std::fprintf(stderr, "transfer: %s\n", qPrintable(error));
        return false;
    }
    return true;
}

// A fresh database of the embedded engine in folder with the three tables.
bool makeDatabase(const QString& folder, const QString& name)
{
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const QString server = QStringLiteral("sqlite:") + folder;
    auto admin = ov::ServerAdmin::create(server, true, QString(), QString());
    if (!admin->createDatabase(name))
        return false;
    auto cn = mdlOVSqlServer::ConnectToDBFile(server, name, true, QString(), QString());
    return cn && cn->Execute(kSchema);
}

qint64 countRows(const QString& folder, const QString& name)
{
    auto cn =
        mdlOVSqlServer::ConnectToDBFile(QStringLiteral("sqlite:") + folder, name, true, QString(), QString());
    ov::Recordset rs;
    if (!cn || !rs.Open(QStringLiteral("SELECT (SELECT COUNT(*) FROM tblCompany) + (SELECT COUNT(*) FROM "
                                       "tblContact) + (SELECT COUNT(*) FROM tblActivity)"),
                        *cn))
        return -1;
    return rs.Fields(0).Value().toLongLong();
}

bool ours(const QString& file, const QString& folder)
{
    auto cnFile = mdlOVSqlServer::ConnectToDBAccess(file);
    auto cnServer = mdlOVSqlServer::ConnectToDBFile(QStringLiteral("sqlite:") + folder, QStringLiteral("crm"),
                                                    true, {}, {});
    if (!cnFile || !cnServer)
        return false;
    ov::PlainStatusLabel status;
    ov::PlainProgressBar progress;
    mdlOVSqlUpdateDB::TransferDataFormCnToCn(cnFile.get(), cnServer.get(),
                                             {QString(), QStringLiteral("tblCompany"),
                                              QStringLiteral("tblContact"), QStringLiteral("tblActivity")},
                                             status, progress);
    return true;
}

// mdb-export of each table (tab-separated, no header, no quotes) into the
// sqlite3 shell's .import, in one transaction as the transfer has.
bool peer(const QString& file, const QString& database)
{
    QString script = QStringLiteral("set -e -o pipefail\n");
    for (const char* table : {"tblCompany", "tblContact", "tblActivity"}) {
        script += QStringLiteral("mdb-export -H -Q -d '\\t' -D '%F %T' '%1' %2 > '%3.%2.tsv'\n")
                      .arg(file, QLatin1String(table), database);
    }
    script += QStringLiteral("sqlite3 '%1' <<'EOF'\n.mode tabs\nBEGIN;\n").arg(database);
    for (const char* table : {"tblCompany", "tblContact", "tblActivity"})
        script += QStringLiteral(".import '%1.%2.tsv' %2\n").arg(database, QLatin1String(table));
    script += QStringLiteral("COMMIT;\nEOF\n");
    QProcess p;
    p.start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
    const bool ok = p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok)
        std::fprintf(stderr, "transfer: %s\n", p.readAllStandardError().constData());
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    for (const char* tool : {"mdb-export", "sqlite3"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty()) {
            std::fprintf(stderr, "transfer: %s is not installed\n", tool);
            return 1;
        }
    }
    QTemporaryDir dir;
    // The transfer writes its update log into the program folder: keep it in
    // the benchmark's own folder, not wherever the benchmark was started.
    mdlOVSqlUpdateDB::gstrAppPath = dir.path() + QLatin1Char('/');
    const QString file = dir.filePath(QStringLiteral("bench.cdb"));
    if (!makeFile(file))
        return 1;
    const qint64 total = kCompanies + kContacts + kActivities;
    const QString oursFolder = dir.filePath(QStringLiteral("ours"));
    const QString peerFolder = dir.filePath(QStringLiteral("peer"));

    double oursTime = 1e9;
    double peerTime = 1e9;
    for (int run = 0; run < 3; ++run) {
        if (!makeDatabase(oursFolder, QStringLiteral("crm")) ||
            !makeDatabase(peerFolder, QStringLiteral("crm")))
            return 1;
        QElapsedTimer t;
        t.start();
        if (!ours(file, oursFolder) || countRows(oursFolder, QStringLiteral("crm")) != total) {
            std::fprintf(stderr, "transfer: our transfer failed\n");
            return 1;
        }
        oursTime = qMin(oursTime, t.nsecsElapsed() / 1e9);
        t.restart();
        if (!peer(file, peerFolder + QStringLiteral("/crm.sqlite")) ||
            countRows(peerFolder, QStringLiteral("crm")) != total) {
            std::fprintf(stderr, "transfer: mdb-export | sqlite3 failed\n");
            return 1;
        }
        peerTime = qMin(peerTime, t.nsecsElapsed() / 1e9);
    }
    std::printf("transfer %lld rows of a single-user file into the embedded engine: ours %.3f s, "
                "mdb-export | sqlite3 .import %.3f s, ratio %.2f\n",
                total, oursTime, peerTime, oursTime / peerTime);
    return 0;
}
