#include "update/SchemaCheck.h"

#include "common/UiPort.h"
#include "common/mdlCommon.h"
#include "data/Connection.h"
#include "update/UpdateLog.h"
#include "update/UpdateScript.h"
#include "update/VersionTable.h"

#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace mdlOVSqlUpdateDB {

namespace {

const QString kEmptyScriptName = QStringLiteral("OVScriptEmpty.txt");

QString key(const QString& name)
{
    return name.toCaseFolded();
}

// The progress of a reference build is nobody's to watch.
class QuietStatus : public ov::StatusLabel
{
public:
    void setCaption(const QString&) override {}
    QString caption() const override { return QString(); }
};
class QuietProgress : public ov::ProgressBar
{
public:
    void setMaximum(int) override {}
    int maximum() const override { return 0; }
    void setValue(int) override {}
    int value() const override { return 0; }
};

// Takes what the in-memory database holds now into the reference: new tables
// and columns come from block; tables and columns gone are dropped.
bool takeSnapshot(ov::Connection& cn, const QString& block, SchemaReference& reference, QString& error)
{
    reference.blocks.append(block);
    QList<ov::CatalogColumn> catalog;
    ov::DataError dataError;
    if (!ov::ReadCatalog(cn, catalog, dataError)) {
        error = dataError.description;
        return false;
    }
    QHash<QString, QList<ov::CatalogColumn>> byTable;
    QStringList order;
    for (const ov::CatalogColumn& c : std::as_const(catalog)) {
        if (!byTable.contains(key(c.table)))
            order.append(c.table);
        byTable[key(c.table)].append(c);
    }
    QList<ReferenceTable> tables;
    QHash<QString, int> known;
    for (ReferenceTable& t : reference.tables) {
        const auto now = byTable.constFind(key(t.name));
        if (now == byTable.constEnd())
            continue;
        ReferenceTable kept{t.name, t.block, {}, {}};
        for (const ov::CatalogColumn& c : *now) {
            int at = -1;
            for (int i = 0; i < t.columns.size(); ++i) {
                if (key(t.columns[i].column) == key(c.column))
                    at = i;
            }
            kept.columns.append(c);
            kept.columnBlocks.append(at < 0 ? block : t.columnBlocks[at]);
        }
        known.insert(key(t.name), int(tables.size()));
        tables.append(kept);
    }
    for (const QString& name : std::as_const(order)) {
        if (known.contains(key(name)))
            continue;
        ReferenceTable made{name, block, byTable.value(key(name)), {}};
        for (int i = 0; i < made.columns.size(); ++i)
            made.columnBlocks.append(block);
        tables.append(made);
    }
    reference.tables = tables;
    return true;
}

bool sized(const ov::CatalogColumn& c)
{
    return c.length != 0;
}

// How the database's column d stands to the reference's r: the same, wider
// (every value of r fits), or a gap.
enum class TypeFit
{
    Same,
    Wider,
    Differs,
};
TypeFit fit(const ov::CatalogColumn& r, const ov::CatalogColumn& d)
{
    if (r.type != d.type)
        return TypeFit::Differs;
    if (r.precision > 0) {
        if (d.precision == r.precision && d.scale == r.scale)
            return TypeFit::Same;
        return d.scale >= r.scale && d.precision - d.scale >= r.precision - r.scale ? TypeFit::Wider
                                                                                    : TypeFit::Differs;
    }
    // A type written without a length is compared by its family alone.
    if (!sized(r) || d.length == r.length)
        return TypeFit::Same;
    if (d.length < 0 || (r.length > 0 && d.length > r.length))
        return TypeFit::Wider;
    return TypeFit::Differs;
}

QString origin(const QString& block)
{
    return block.isEmpty() ? kEmptyScriptName : QStringLiteral("version block ") + block;
}

QString objectName(const SchemaFinding& f)
{
    return f.column.isEmpty() ? f.table : f.table + QLatin1Char('.') + f.column;
}

const char* kindName(SchemaFinding::Kind kind)
{
    switch (kind) {
    case SchemaFinding::Kind::MissingTable:
        return "missing table";
    case SchemaFinding::Kind::MissingColumn:
        return "missing column";
    case SchemaFinding::Kind::TypeDiffers:
        return "type differs";
    case SchemaFinding::Kind::WiderType:
        return "wider type";
    case SchemaFinding::Kind::NullabilityDiffers:
        return "nullability differs";
    case SchemaFinding::Kind::ExtraTable:
        return "extra table";
    case SchemaFinding::Kind::ExtraColumn:
        return "extra column";
    }
    return "";
}

// One line of the plain report for a finding.
QString findingLine(const SchemaFinding& f)
{
    switch (f.kind) {
    case SchemaFinding::Kind::MissingTable:
        return QStringLiteral("table %1, brought by %2").arg(f.table, origin(f.block));
    case SchemaFinding::Kind::MissingColumn:
        return QStringLiteral("column %1 (%2), brought by %3")
            .arg(objectName(f), f.expected, origin(f.block));
    case SchemaFinding::Kind::TypeDiffers:
        return QStringLiteral("column %1 is %2, the scripts make it %3 (%4)")
            .arg(objectName(f), f.found, f.expected, origin(f.block));
    case SchemaFinding::Kind::WiderType:
        return QStringLiteral("column %1 is %2, wider than the scripts' %3")
            .arg(objectName(f), f.found, f.expected);
    case SchemaFinding::Kind::NullabilityDiffers:
        return QStringLiteral("column %1 is %2, the scripts make it %3")
            .arg(objectName(f), f.found, f.expected);
    case SchemaFinding::Kind::ExtraTable:
        return QStringLiteral("table %1").arg(f.table);
    case SchemaFinding::Kind::ExtraColumn:
        return QStringLiteral("column %1 (%2)").arg(objectName(f), f.found);
    }
    return QString();
}

// A name as the plain report, the log and the message show it: a control
// character (a customer's table may hold a line break) shows as U+FFFD, so
// that every finding stays one line and no name can make lines of its own.
QString shown(const QString& name)
{
    return mdlCommon::ShowControlCharacters(name);
}

// The result with every name and version shown so; JSON keeps them exact.
SchemaCheckResult shown(SchemaCheckResult r)
{
    r.version = shown(r.version);
    r.scriptsEndAt = shown(r.scriptsEndAt);
    for (QList<SchemaFinding>* list : {&r.gaps, &r.information}) {
        for (SchemaFinding& f : *list) {
            f.table = shown(f.table);
            f.column = shown(f.column);
            f.block = shown(f.block);
            f.expected = shown(f.expected);
            f.found = shown(f.found);
        }
    }
    for (IncompleteBlock& b : r.incompleteBlocks) {
        b.block = shown(b.block);
        for (QString& name : b.exists)
            name = shown(name);
    }
    for (UnrunStatement& u : r.notRun) {
        u.block = shown(u.block);
        u.error = shown(u.error);
    }
    return r;
}

bool beyondScripts(const SchemaCheckResult& r)
{
    return !r.scriptsEndAt.isEmpty() && CompareVersions(r.version, r.scriptsEndAt) > 0;
}

// The first line of a batch that is not blank, as a person knows it by.
QString firstLine(const QString& batch)
{
    const QStringList lines = batch.split(QStringLiteral("\r\n"));
    for (const QString& line : lines) {
        if (!line.trimmed().isEmpty())
            return line.trimmed();
    }
    return QString();
}

// Why the reference is not the whole of the version: one note each for a
// version later than the scripts reach and for every statement the
// reference could not run. r is shown already, except for the batches.
QStringList partialNotes(const SchemaCheckResult& r)
{
    QStringList notes;
    if (beyondScripts(r))
        notes.append(
            QStringLiteral("The version %1 is later than the last version block of the update script "
                           "(%2): only what the blocks up to %2 bring is checked.")
                .arg(r.version, r.scriptsEndAt));
    for (const UnrunStatement& u : r.notRun)
        notes.append(
            QStringLiteral("Not checked: %1: %2 ... cannot run in the in-memory reference (%3), so "
                           "what it makes is not checked.")
                .arg(u.block.isEmpty() ? kEmptyScriptName : QStringLiteral("version block ") + u.block,
                     shown(firstLine(u.batch)), u.error));
    return notes;
}

QString nullability(bool nullable)
{
    return nullable ? QStringLiteral("NULL") : QStringLiteral("NOT NULL");
}

} // namespace

bool BuildSchemaReference(const QString& emptyScript, const QString& updateScript, const QString& version,
                          SchemaReference& reference, QString& error)
{
    reference = SchemaReference();
    const UpdateLogPause mute;
    // The reference lives in the embedded engine's in-memory Tempdb; its
    // server folder only has to exist, and the root folder always does.
    ov::Connection cn;
    if (!cn.Open(QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Initial Catalog=Tempdb;"
                                "Data Source=sqlite:/"))) {
        error = cn.lastError().description;
        return false;
    }
    QuietStatus status;
    QuietProgress progress;
    QString failedVersion;
    ov::DataError failure;
    ScriptFile file;
    if (!file.open(emptyScript)) {
        error = QStringLiteral("%1: %2").arg(emptyScript, file.errorString());
        return false;
    }
    // The schema script runs whole, as the create procedure runs it.
    ScriptRunHooks hooks;
    hooks.passOver = [](const QString&) { return false; };
    // A batch that fails here leaves out what it makes: the check says so
    // instead of taking the reference for the whole schema.
    hooks.batchFailed = [&reference](const QString& block, const QString& batch, const ov::DataError& e) {
        reference.notRun.append({block, batch, e.description});
    };
    if (!RunScriptOnConnection(cn, file, hooks, status, progress, &failedVersion, &failure)) {
        error =
            QStringLiteral("%1, version block %2: %3").arg(emptyScript, failedVersion, failure.description);
        return false;
    }
    file.close();
    if (!takeSnapshot(cn, QString(), reference, error))
        return false;
    // A new database starts at version "0" (the create procedure), so the
    // version blocks meet the in-memory one as they met the user's.
    if (!cn.Execute(QStringLiteral("INSERT INTO tblVarible (VaribleValue, UserID, VaribleName, Module)"
                                   "    values('0', '', 'Version', 'DB')"))) {
        error = QStringLiteral("%1: %2").arg(emptyScript, cn.lastError().description);
        return false;
    }

    if (!file.open(updateScript)) {
        error = QStringLiteral("%1: %2").arg(updateScript, file.errorString());
        return false;
    }
    QString snapshotError;
    reference.scriptsEndAt = QStringLiteral("0");
    hooks.passOver = [&](const QString& block) {
        if (CompareVersions(block, reference.scriptsEndAt) > 0)
            reference.scriptsEndAt = block;
        return CompareVersions(block, version) > 0 || IsVersionApplied(block, &cn);
    };
    hooks.blockEnding = [&](const QString& block) {
        return snapshotError.isEmpty() && takeSnapshot(cn, block, reference, snapshotError);
    };
    const bool complete = RunScriptOnConnection(cn, file, hooks, status, progress, &failedVersion, &failure);
    file.close();
    if (!snapshotError.isEmpty()) {
        error = snapshotError;
        return false;
    }
    if (!complete) {
        error =
            QStringLiteral("%1, version block %2: %3").arg(updateScript, failedVersion, failure.description);
        return false;
    }
    return true;
}

int SchemaCheckResult::exitCode() const
{
    switch (status) {
    case Status::Complete:
        return 0;
    case Status::Gaps:
        return 1;
    case Status::Partial:
    case Status::NoVersion:
    case Status::Failed:
        break;
    }
    return 2;
}

SchemaCheckResult CompareSchema(const SchemaReference& reference, const QList<ov::CatalogColumn>& catalog)
{
    SchemaCheckResult result;
    QHash<QString, QHash<QString, const ov::CatalogColumn*>> db;
    QStringList dbTables;
    for (const ov::CatalogColumn& c : catalog) {
        if (!db.contains(key(c.table)))
            dbTables.append(c.table);
        db[key(c.table)].insert(key(c.column), &c);
    }

    // Per block: what of it is missing, what exists.
    QHash<QString, IncompleteBlock> blocks;
    const auto count = [&](const QString& block, bool exists, const QString& name) {
        if (!blocks.contains(block))
            blocks.insert(block, IncompleteBlock{block, 0, {}});
        IncompleteBlock& b = blocks[block];
        if (exists)
            b.exists.append(name);
        else
            ++b.missing;
    };

    QHash<QString, bool> referenceTables;
    for (const ReferenceTable& t : reference.tables) {
        referenceTables.insert(key(t.name), true);
        const auto table = db.constFind(key(t.name));
        const bool tableExists = table != db.constEnd();
        count(t.block, tableExists, t.name);
        if (!tableExists)
            result.gaps.append(
                {SchemaFinding::Kind::MissingTable, t.name, QString(), t.block, QString(), QString()});
        for (int i = 0; i < t.columns.size(); ++i) {
            const ov::CatalogColumn& r = t.columns[i];
            const QString& block = t.columnBlocks[i];
            const QString expected = ov::TypeText(r);
            // The columns a table is made with go with it.
            if (!tableExists) {
                if (block != t.block) {
                    count(block, false, t.name + QLatin1Char('.') + r.column);
                    result.gaps.append(
                        {SchemaFinding::Kind::MissingColumn, t.name, r.column, block, expected, QString()});
                }
                continue;
            }
            const ov::CatalogColumn* d = table->value(key(r.column));
            if (block != t.block)
                count(block, d != nullptr, t.name + QLatin1Char('.') + r.column);
            if (!d) {
                result.gaps.append(
                    {SchemaFinding::Kind::MissingColumn, t.name, r.column, block, expected, QString()});
                continue;
            }
            switch (fit(r, *d)) {
            case TypeFit::Same:
                break;
            case TypeFit::Wider:
                result.information.append(
                    {SchemaFinding::Kind::WiderType, t.name, r.column, block, expected, ov::TypeText(*d)});
                break;
            case TypeFit::Differs:
                result.gaps.append(
                    {SchemaFinding::Kind::TypeDiffers, t.name, r.column, block, expected, ov::TypeText(*d)});
                break;
            }
            if (r.nullable != d->nullable)
                result.information.append({SchemaFinding::Kind::NullabilityDiffers, t.name, r.column, block,
                                           nullability(r.nullable), nullability(d->nullable)});
        }
    }
    for (const ReferenceTable& t : reference.tables) {
        QHash<QString, bool> columns;
        for (const ov::CatalogColumn& r : t.columns)
            columns.insert(key(r.column), true);
        for (const ov::CatalogColumn& d : catalog) {
            if (key(d.table) == key(t.name) && !columns.contains(key(d.column)))
                result.information.append({SchemaFinding::Kind::ExtraColumn, d.table, d.column, QString(),
                                           QString(), ov::TypeText(d)});
        }
    }
    for (const QString& name : std::as_const(dbTables)) {
        if (!referenceTables.contains(key(name)))
            result.information.append(
                {SchemaFinding::Kind::ExtraTable, name, QString(), QString(), QString(), QString()});
    }
    // Grouped by kind; extra columns stay in the database's column order.
    std::stable_sort(
        result.information.begin(), result.information.end(),
        [](const SchemaFinding& a, const SchemaFinding& b) { return int(a.kind) < int(b.kind); });

    // Gaps in the order of the blocks that bring them.
    std::stable_sort(result.gaps.begin(), result.gaps.end(),
                     [&](const SchemaFinding& a, const SchemaFinding& b) {
                         return reference.blocks.indexOf(a.block) < reference.blocks.indexOf(b.block);
                     });
    for (const QString& block : reference.blocks) {
        if (blocks.contains(block) && blocks[block].missing > 0)
            result.incompleteBlocks.append(blocks[block]);
    }
    result.status =
        result.gaps.isEmpty() ? SchemaCheckResult::Status::Complete : SchemaCheckResult::Status::Gaps;
    return result;
}

SchemaCheckResult CheckSchema(ov::Connection& cn, const QString& emptyScript, const QString& updateScript)
{
    SchemaCheckResult result;
    const std::optional<QString> version = ReadDatabaseVersion(&cn);
    if (!version) {
        result.status = SchemaCheckResult::Status::NoVersion;
        result.error = QStringLiteral(
            "The database has no version: tblVarible has no \"DB\"/\"Version\" row, its value is empty or "
            "NONE, or the table cannot be read; so there is nothing to compare it with.");
        return result;
    }
    QList<ov::CatalogColumn> catalog;
    ov::DataError dataError;
    if (!ov::ReadCatalog(cn, catalog, dataError)) {
        result.version = *version;
        result.error = QStringLiteral("The database's catalog cannot be read: ") + dataError.description;
        return result;
    }
    SchemaReference reference;
    QString error;
    if (!BuildSchemaReference(emptyScript, updateScript, *version, reference, error)) {
        result.version = *version;
        result.error = QStringLiteral("The reference schema cannot be built: ") + error;
        return result;
    }
    result = CompareSchema(reference, catalog);
    result.version = *version;
    result.scriptsEndAt = reference.scriptsEndAt;
    result.notRun = reference.notRun;
    // What the reference holds is all there; but it is not the whole of a
    // version later than the scripts, nor of scripts some of whose
    // statements it could not run, so that is not called complete.
    if (result.status == SchemaCheckResult::Status::Complete &&
        (beyondScripts(result) || !result.notRun.isEmpty()))
        result.status = SchemaCheckResult::Status::Partial;
    return result;
}

QString SchemaReportText(const SchemaCheckResult& result)
{
    const SchemaCheckResult r = shown(result);
    using Status = SchemaCheckResult::Status;
    if (r.status == Status::NoVersion || r.status == Status::Failed)
        return QStringLiteral("The check cannot run: ") + r.error + QLatin1Char('\n');
    QString out = QStringLiteral("Database version %1: compared with %2 and the version blocks up to %1.\n")
                      .arg(r.version, kEmptyScriptName);
    for (const QString& note : partialNotes(r))
        out += note + QLatin1Char('\n');
    const auto section = [&out](const QString& title, const QList<SchemaFinding>& findings, bool gaps) {
        QStringList lines;
        for (const SchemaFinding& f : findings) {
            const bool missing =
                f.kind == SchemaFinding::Kind::MissingTable || f.kind == SchemaFinding::Kind::MissingColumn;
            if (gaps && (title.startsWith(QLatin1String("Missing")) != missing))
                continue;
            lines.append(QStringLiteral("  ") + findingLine(f) + QLatin1Char('\n'));
        }
        if (!lines.isEmpty())
            out += title + QLatin1Char('\n') + lines.join(QString());
    };
    section(QStringLiteral("Missing:"), r.gaps, true);
    section(QStringLiteral("Of another type:"), r.gaps, true);
    if (!r.incompleteBlocks.isEmpty()) {
        out += QStringLiteral("Incomplete:\n");
        for (const IncompleteBlock& b : r.incompleteBlocks) {
            if (b.block.isEmpty())
                out += QStringLiteral("  %1: %2 object(s) missing; the schema script cannot be run again\n")
                           .arg(kEmptyScriptName)
                           .arg(b.missing);
            else if (b.rerunSafe())
                out += QStringLiteral("  version block %1: %2 object(s) missing, none of its objects exists "
                                      "yet; safe to run again (ovsqlcli update --rerun %1)\n")
                           .arg(b.block)
                           .arg(b.missing);
            else
                out += QStringLiteral("  version block %1: %2 object(s) missing, but %3 exist(s) already; "
                                      "not safe to run again\n")
                           .arg(b.block)
                           .arg(b.missing)
                           .arg(b.exists.join(QStringLiteral(", ")));
        }
    }
    section(QStringLiteral("Information (not the scripts' doing):"), r.information, false);
    if (r.status == Status::Complete)
        out += QStringLiteral("Result: the database holds every table and column of version %1.\n")
                   .arg(r.version);
    else if (r.status == Status::Partial)
        out += QStringLiteral("Result: nothing that could be checked is missing, but not all of version %1 "
                              "could be checked (see above).\n")
                   .arg(r.version);
    else
        out += QStringLiteral("Result: %1 gap(s) in version %2.\n").arg(r.gaps.size()).arg(r.version);
    return out;
}

QByteArray SchemaReportJson(const SchemaCheckResult& r)
{
    using Status = SchemaCheckResult::Status;
    QJsonObject o;
    static const char* const statusNames[] = {"complete", "gaps", "partial", "no version", "failed"};
    o.insert(QStringLiteral("status"), QLatin1String(statusNames[int(r.status)]));
    o.insert(QStringLiteral("exitCode"), r.exitCode());
    if (r.status == Status::NoVersion || r.status == Status::Failed) {
        o.insert(QStringLiteral("error"), r.error);
        if (!r.version.isEmpty())
            o.insert(QStringLiteral("version"), r.version);
        return QJsonDocument(o).toJson(QJsonDocument::Indented);
    }
    o.insert(QStringLiteral("version"), r.version);
    o.insert(QStringLiteral("scriptsEndAt"), r.scriptsEndAt);
    QJsonArray notRun;
    for (const UnrunStatement& u : r.notRun) {
        QJsonObject e;
        e.insert(QStringLiteral("block"), u.block);
        e.insert(QStringLiteral("statement"), u.batch);
        e.insert(QStringLiteral("error"), u.error);
        notRun.append(e);
    }
    o.insert(QStringLiteral("notRun"), notRun);
    const auto findings = [](const QList<SchemaFinding>& list) {
        QJsonArray a;
        for (const SchemaFinding& f : list) {
            QJsonObject e;
            e.insert(QStringLiteral("kind"), QLatin1String(kindName(f.kind)));
            e.insert(QStringLiteral("table"), f.table);
            if (!f.column.isEmpty())
                e.insert(QStringLiteral("column"), f.column);
            if (f.kind < SchemaFinding::Kind::ExtraTable) {
                e.insert(QStringLiteral("block"), f.block);
                e.insert(QStringLiteral("script"),
                         f.block.isEmpty() ? kEmptyScriptName : QStringLiteral("OVScriptUpdate.txt"));
            }
            if (!f.expected.isEmpty())
                e.insert(QStringLiteral("expected"), f.expected);
            if (!f.found.isEmpty())
                e.insert(QStringLiteral("found"), f.found);
            a.append(e);
        }
        return a;
    };
    o.insert(QStringLiteral("gaps"), findings(r.gaps));
    QJsonArray blocks;
    for (const IncompleteBlock& b : r.incompleteBlocks) {
        QJsonObject e;
        e.insert(QStringLiteral("block"), b.block);
        e.insert(QStringLiteral("missing"), b.missing);
        e.insert(QStringLiteral("exists"), QJsonArray::fromStringList(b.exists));
        e.insert(QStringLiteral("rerunSafe"), b.rerunSafe());
        blocks.append(e);
    }
    o.insert(QStringLiteral("incompleteBlocks"), blocks);
    o.insert(QStringLiteral("information"), findings(r.information));
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

QString SchemaGapMessage(const SchemaCheckResult& result)
{
    const SchemaCheckResult r = shown(result);
    constexpr int kMostLines = 15;
    QStringList lines;
    for (const SchemaFinding& f : r.gaps) {
        if (lines.size() == kMostLines) {
            lines.append(mdlCommon::FormatTemplate(QStringLiteral("……另有 {1} 项"),
                                                   {QString::number(r.gaps.size() - kMostLines)}));
            break;
        }
        const QString where = f.block.isEmpty()
                                  ? kEmptyScriptName
                                  : mdlCommon::FormatTemplate(QStringLiteral("版本 {1}"), {f.block});
        switch (f.kind) {
        case SchemaFinding::Kind::MissingTable:
            lines.append(mdlCommon::FormatTemplate(QStringLiteral("缺少表 {1}（{2}）"), {f.table, where}));
            break;
        case SchemaFinding::Kind::MissingColumn:
            lines.append(
                mdlCommon::FormatTemplate(QStringLiteral("缺少列 {1}（{2}）"), {objectName(f), where}));
            break;
        default:
            lines.append(mdlCommon::FormatTemplate(QStringLiteral("列 {1} 的类型为 {2}，应为 {3}（{4}）"),
                                                   {objectName(f), f.found, f.expected, where}));
            break;
        }
    }
    return mdlCommon::FormatTemplate(
        QStringLiteral(
            "升级后的数据库结构检查未通过：数据库版本为 {1}，但缺少该版本应有的对象：{CRLF}{CRLF}{2}"
            "{CRLF}{CRLF}详细记录见日志文件 {3}"
            "{CRLF}可用 ovsqlcli check 查看各版本块能否安全地重新执行（ovsqlcli update --rerun 版本）。"),
        {r.version, lines.join(QStringLiteral("\r\n")), UpdateLogPath()});
}

void LogSchemaCheck(const SchemaCheckResult& result)
{
    const SchemaCheckResult r = shown(result);
    QString text = QStringLiteral("##### Schema check: ");
    switch (r.status) {
    case SchemaCheckResult::Status::Complete:
        text += QStringLiteral("version %1 complete.").arg(r.version);
        break;
    case SchemaCheckResult::Status::Partial:
        text += partialNotes(r).join(QLatin1Char(' ')) +
                QStringLiteral(" Nothing that could be checked is missing.");
        break;
    case SchemaCheckResult::Status::NoVersion:
    case SchemaCheckResult::Status::Failed:
        text += QStringLiteral("not run: ") + r.error;
        break;
    case SchemaCheckResult::Status::Gaps:
        text += QStringLiteral("version %1 has %2 gap(s):").arg(r.version).arg(r.gaps.size());
        for (const QString& note : partialNotes(r))
            text += QLatin1Char(' ') + note;
        for (const SchemaFinding& f : r.gaps)
            text += QStringLiteral("\r\n!!! ") + findingLine(f);
        break;
    }
    WriteUpdateLog(text + QStringLiteral("\r\n"));
}

} // namespace mdlOVSqlUpdateDB
