// Jet read benchmark: a table of 100,000 rows in a single-user file written by
// the Jet writer, read whole through Connection and Recordset (every field's
// value of every row), against mdbtools' mdb-export of the same table into
// /dev/null. Each side runs three times; the best time of each counts.

#include "config/mdlEncode.h"
#include "config/mdlOVSqlServerAccess.h"
#include "data/Recordset.h"
#include "jet/writer/Writer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kRows = 100000;

bool makeFile(const QString& path)
{
    jet::Writer w(path);
    w.setPassword(mdlEncode::UnscrambleText(mdlEncode::kScrambledFilePassword, mdlEncode::kFileKey, true));
    w.addTable(QStringLiteral("tblContact"), {{QStringLiteral("ContactID"), jet::ColumnType::Long},
                                              {QStringLiteral("CompanyID"), jet::ColumnType::Long},
                                              {QStringLiteral("ContactName"), jet::ColumnType::Text, 50},
                                              {QStringLiteral("Mobile"), jet::ColumnType::Text, 30},
                                              {QStringLiteral("Email"), jet::ColumnType::Text, 100},
                                              {QStringLiteral("Amount"), jet::ColumnType::Double},
                                              {QStringLiteral("Birthday"), jet::ColumnType::DateTime},
                                              {QStringLiteral("IsPrimary"), jet::ColumnType::Bool},
                                              {QStringLiteral("Remark"), jet::ColumnType::Memo}});
    const QStringList surnames = {QStringLiteral("张"), QStringLiteral("王"), QStringLiteral("李"),
                                  QStringLiteral("赵"), QStringLiteral("陈"), QStringLiteral("刘")};
    const QDateTime base(QDate(1960, 1, 1), QTime(0, 0));
    for (int i = 0; i < kRows; ++i) {
        w.addRow(QStringLiteral("tblContact"),
                 {i, i % 5000, surnames[i % surnames.size()] + QStringLiteral("客户%1").arg(i % 997),
                  QStringLiteral("138%1").arg(10000000 + i), QStringLiteral("user%1@example.com").arg(i),
                  i * 0.25, base.addSecs(qint64(i) * 9973), i % 3 == 0,
                  i % 4 == 0 ? QVariant()
                             : QVariant(QStringLiteral("联系记录 %1：客户希望下周安排演示。").arg(i))});
    }
    QString error;
    if (!w.save(&error)) {
        std::fprintf(stderr, "jet-read: %s\n", qPrintable(error));
        return false;
    }
    return true;
}

// Reads every value of every row; -1 on failure.
qint64 readAll(const QString& path)
{
    std::unique_ptr<ov::Connection> cn = mdlOVSqlServer::ConnectToDBAccess(path);
    if (!cn)
        return -1;
    ov::Recordset rs;
    if (!rs.Open(QStringLiteral("tblContact"), *cn, ov::adOpenForwardOnly, ov::adLockReadOnly,
                 ov::adCmdTable))
        return -1;
    qint64 rows = 0;
    qint64 nulls = 0;
    while (!rs.Eof()) {
        for (int i = 0; i < rs.FieldCount(); ++i)
            nulls += rs.Fields(i).Value().isValid() ? 0 : 1;
        ++rows;
        if (!rs.MoveNext())
            return -1;
    }
    return nulls > rows ? -1 : rows;
}

bool mdbExport(const QString& program, const QString& path)
{
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, {path, QStringLiteral("tblContact")});
    return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString exporter = QStandardPaths::findExecutable(QStringLiteral("mdb-export"));
    if (exporter.isEmpty()) {
        std::fprintf(stderr, "jet-read: mdbtools' mdb-export is not installed\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.cdb"));
    if (!makeFile(path))
        return 1;

    double ours = 1e9;
    double peer = 1e9;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer t;
        t.start();
        if (readAll(path) != kRows) {
            std::fprintf(stderr, "jet-read: our read failed\n");
            return 1;
        }
        ours = qMin(ours, t.nsecsElapsed() / 1e9);
        t.restart();
        if (!mdbExport(exporter, path)) {
            std::fprintf(stderr, "jet-read: mdb-export failed\n");
            return 1;
        }
        peer = qMin(peer, t.nsecsElapsed() / 1e9);
    }
    std::printf("jet read %d rows of a single-user file: ours %.3f s, mdb-export %.3f s, ratio %.2f\n", kRows,
                ours, peer, ours / peer);
    return 0;
}
