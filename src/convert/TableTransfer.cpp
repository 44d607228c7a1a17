#include "convert/TableTransfer.h"

#include "common/Clock.h"
#include "common/UiPort.h"
#include "common/clsError.h"
#include "common/clsMouseCtrl.h"
#include "common/mdlCommon.h"
#include "data/Connection.h"
#include "data/Recordset.h"
#include "update/UpdateLog.h"

#include <QVector>

#include <optional>

namespace mdlOVSqlUpdateDB {

namespace {

const QString kModule = QStringLiteral("mdlOVSqlUpdateDB");
const QString kProcedure = QStringLiteral("TransferDataFormCnToCn");
const QString kCrLf = QStringLiteral("\r\n");

QString logLine(const QString& where, const ov::DataError& e)
{
    return QStringLiteral("!!! ") + kProcedure + QLatin1Char(' ') + where + QStringLiteral(" Error:") +
           QString::number(e.number) + QLatin1Char(' ') +
           QString(e.description).replace(kCrLf, QStringLiteral(" "));
}

} // namespace

void ReportTransferError(const ov::DataError& e, const QString& detail)
{
    const qint32 n = e.number;
    const QString numberText = QString::number(n);
    if (n >= 3340 && n <= 3450) {
        ov::MsgBox(detail.isEmpty() ? e.description : e.description + kCrLf + detail,
                   ov::MsgStyle::Exclamation);
    } else if (n >= 3300 && n <= 3320) {
        mdlCommon::SetError(e.description, numberText, e.source);
        mdlCommon::SetErrorContext(kModule, kProcedure, e.description, detail);
    } else if (n == 3332) {
        mdlCommon::LogError(kModule, kProcedure, QString(), QString());
    } else if (n == 3330) {
        mdlCommon::LogError(kModule, kProcedure, QString(), QString());
        ov::MsgBox(mdlCommon::GetErrorText(true), ov::MsgStyle::Information);
    } else {
        mdlCommon::SetError(e.description, numberText, e.source);
        mdlCommon::SetErrorContext(kModule, kProcedure,
                                   mdlCommon::FormatTemplate(QStringLiteral("未知的错误！")), detail);
        ov::MsgBox(mdlCommon::GetErrorText(true), ov::MsgStyle::Information);
    }
}

namespace {

// A failure of a whole statement (emptying, opening, the transaction): logged
// and reported at once.
void StatementFailed(const QString& where, const ov::DataError& e)
{
    WriteUpdateLog(logLine(where, e));
    ReportTransferError(e, QString());
}

// The failures of the rows and fields of one table. Each occurrence is
// logged; each distinct error (number and description) is reported once,
// after the table, with the number of rows it hit.
class RowErrors
{
public:
    explicit RowErrors(QString table) : m_table(std::move(table)) {}

    void add(qint64 row, const QString& field, const ov::DataError& e)
    {
        QString where = QStringLiteral("Table:<%1> Row:%2").arg(m_table).arg(row);
        if (!field.isEmpty())
            where += QStringLiteral(" Field:<%1>").arg(field);
        m_log.append(logLine(where, e));
        if (m_log.size() >= 1000)
            flushLog();
        for (Distinct& d : m_distinct) {
            if (d.error.number == e.number && d.error.description == e.description) {
                // A row counts once per error, however many of its fields
                // met it.
                if (d.lastRow != row) {
                    ++d.rows;
                    d.lastRow = row;
                }
                return;
            }
        }
        m_distinct.append({e, 1, row});
    }

    bool any() const { return !m_distinct.isEmpty(); }

    void report()
    {
        flushLog();
        for (const Distinct& d : m_distinct) {
            ReportTransferError(
                d.error, mdlCommon::FormatTemplate(QStringLiteral("数据表 {1} 中有 {2} 行出现此错误。"),
                                                   {m_table, d.rows}));
        }
        m_distinct.clear();
    }

private:
    struct Distinct
    {
        ov::DataError error;
        qint64 rows;
        qint64 lastRow;
    };

    void flushLog()
    {
        if (!m_log.isEmpty())
            WriteUpdateLog(m_log.join(kCrLf));
        m_log.clear();
    }

    QString m_table;
    QList<Distinct> m_distinct;
    QStringList m_log;
};

// Sends the rows kept in target; rows it refuses are counted against their
// place in the file (firstRow is the file row of the first kept row).
void SendRows(ov::Recordset& target, qint64 firstRow, RowErrors& errors)
{
    if (target.PendingRows() == 0)
        return;
    if (target.UpdateBatch())
        return;
    if (target.BatchErrors().isEmpty()) {
        errors.add(firstRow, QString(), target.lastError());
        return;
    }
    for (const ov::Recordset::RowError& e : target.BatchErrors())
        errors.add(firstRow + e.row, QString(), e.error);
}

// Copies one table; true when no row or field of it failed.
bool CopyTable(ov::Connection& cnFile, ov::Connection& cnServer, const QString& name)
{
    ov::Recordset source;
    ov::Recordset target;
    if (!source.Open(name, cnFile, ov::adOpenForwardOnly, ov::adLockReadOnly, ov::adCmdTable)) {
        StatementFailed(QStringLiteral("Table:<%1> (file)").arg(name), source.lastError());
        return false;
    }
    if (!target.Open(name, cnServer, ov::adOpenForwardOnly, ov::adLockBatchOptimistic, ov::adCmdTable)) {
        StatementFailed(QStringLiteral("Table:<%1> (server)").arg(name), target.lastError());
        return false;
    }

    // Every field of the server table is looked up in the file by name, once
    // per table; a field the file lacks fails the same way on every row.
    struct Mapping
    {
        int source = -1;
        QString name;
        ov::DataError missing;
    };
    QVector<Mapping> mapping(target.FieldCount());
    for (int i = 0; i < target.FieldCount(); ++i) {
        mapping[i].name = target.Fields(i).Name();
        for (int j = 0; j < source.FieldCount() && mapping[i].source < 0; ++j) {
            if (source.Fields(j).Name().compare(mapping[i].name, Qt::CaseInsensitive) == 0)
                mapping[i].source = j;
        }
        if (mapping[i].source < 0) {
            source.Fields(mapping[i].name); // fails: its error is the one every row meets
            mapping[i].missing = source.lastError();
        }
    }

    RowErrors errors(name);
    qint64 row = 0;
    qint64 firstKept = 1;
    while (!source.Eof()) {
        ++row;
        if (target.PendingRows() == 0)
            firstKept = row;
        if (!target.AddNew()) {
            // Nothing can be appended to this table.
            errors.add(row, QString(), target.lastError());
            break;
        }
        for (int i = 0; i < mapping.size(); ++i) {
            const Mapping& m = mapping[i];
            if (m.source < 0) {
                errors.add(row, m.name, m.missing);
                continue;
            }
            ov::Field field = target.Fields(i);
            if (!field.setValue(source.Fields(m.source).Value()))
                errors.add(row, m.name, target.lastError());
        }
        if (!target.Update())
            errors.add(row, QString(), target.lastError());
        if (target.PendingRows() >= kTransferBatchRows)
            SendRows(target, firstKept, errors);
        if (!source.MoveNext()) {
            // The file cannot be read any further.
            SendRows(target, firstKept, errors);
            errors.add(row, QString(), source.lastError());
            break;
        }
    }
    SendRows(target, firstKept, errors);
    source.Close();
    target.Close();
    const bool clean = !errors.any();
    errors.report();
    return clean;
}

} // namespace

bool TransferDataFormCnToCn(ov::Connection* cnFile, ov::Connection* cnServer, const QStringList& tableList,
                            ov::StatusLabel& lblTip, ov::ProgressBar& prgProgress,
                            const TransferOptions& options)
{
    bool clean = true;
    // A connection that could not be opened is a closed one: every use of it
    // fails and is reported like any other failure.
    ov::Connection closedFile;
    ov::Connection closedServer;
    ov::Connection& file = cnFile ? *cnFile : closedFile;
    ov::Connection& server = cnServer ? *cnServer : closedServer;

    std::optional<clsMouseCtrl> busy;
    busy.emplace();
    const int n = mdlCommon::ArrayUpperBound(QVariant(tableList));
    prgProgress.setMaximum(qMax(n, 0));
    lblTip.setCaption(mdlCommon::FormatTemplate(QStringLiteral("向数据库中导入数据，请等待...")));
    WriteUpdateLog(kCrLf + QStringLiteral("Convert tables: ") +
                   ov::Clock::now().toString(QStringLiteral("MM/dd/yyyy HH:mm:ss")));

    if (!server.BeginTrans()) {
        StatementFailed(QStringLiteral("BEGIN TRANSACTION"), server.lastError());
        clean = false;
    }

    for (int i = n; i >= 1; --i) {
        ov::ui().pumpEvents();
        prgProgress.setValue(n - i + 1);
        const QString name = tableList.at(i).trimmed();
        if (name.isEmpty())
            continue;
        if (!server.Execute(QStringLiteral("DELETE FROM ") + server.quoteIdentifier(name))) {
            StatementFailed(QStringLiteral("Table:<%1> DELETE").arg(name), server.lastError());
            clean = false;
        }
    }

    for (int i = 1; i <= n; ++i) {
        ov::ui().pumpEvents();
        prgProgress.setValue(i);
        const QString name = tableList.at(i).trimmed();
        if (name.isEmpty())
            continue;
        if (!CopyTable(file, server, name))
            clean = false;
    }

    if (options.beforeCommit && !options.beforeCommit(server)) {
        StatementFailed(QStringLiteral("Before COMMIT"), server.lastError());
        clean = false;
    }
    if (!server.CommitTrans()) {
        StatementFailed(QStringLiteral("COMMIT"), server.lastError());
        clean = false;
    }
    prgProgress.setValue(0);
    lblTip.setCaption(QStringLiteral("完成数据导入"));
    WriteUpdateLog(QStringLiteral("Convert tables completed."));
    busy.reset();
    if (options.tellDone)
        ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("单机版数据库升级为网络版数据库完成！")),
                   ov::MsgStyle::Information);
    return clean;
}

} // namespace mdlOVSqlUpdateDB
