#include "update/SchemaCheck.h"

#include "common/UiPort.h"
#include "common/mdlCommon.h"
#include "config/mdlOVSqlServerConnect.h"
#include "data/Connection.h"
#include "data/Identifiers.h"
#include "data/Recordset.h"
#include "data/Server.h"
#include "data/ServerAdmin.h"
#include "update/UpdateLog.h"
#include "update/UpdateScript.h"
#include "update/VersionTable.h"

#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QRandomGenerator>
#include <QSet>

#include <atomic>

#include <functional>
#include <optional>

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
    return block.isEmpty() ? kEmptyScriptName : QStringLiteral("版本块 ") + block;
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

// The text with {1}, {2} … replaced by the values in one pass: a name that
// holds "{2}" or "{CRLF}" stays as it is and brings no other value and no
// line of its own.
QString fill(const QString& text, const QStringList& values)
{
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('{') && i + 2 < text.size() && text.at(i + 2) == QLatin1Char('}')) {
            const int n = text.at(i + 1).digitValue();
            if (n >= 1 && n <= values.size()) {
                out += values.at(n - 1);
                i += 2;
                continue;
            }
        }
        out += text.at(i);
    }
    return out;
}

// One line of the plain report for a finding.
QString findingLine(const SchemaFinding& f)
{
    switch (f.kind) {
    case SchemaFinding::Kind::MissingTable:
        return fill(QStringLiteral("表 {1}（{2}）"), {f.table, origin(f.block)});
    case SchemaFinding::Kind::MissingColumn:
        return fill(QStringLiteral("列 {1}（{2}，{3}）"), {objectName(f), f.expected, origin(f.block)});
    case SchemaFinding::Kind::TypeDiffers:
        return fill(QStringLiteral("列 {1} 的类型为 {2}，脚本建立的是 {3}（{4}）"),
                    {objectName(f), f.found, f.expected, origin(f.block)});
    case SchemaFinding::Kind::WiderType:
        return fill(QStringLiteral("列 {1} 的类型为 {2}，比脚本的 {3} 宽"),
                    {objectName(f), f.found, f.expected});
    case SchemaFinding::Kind::NullabilityDiffers:
        return fill(QStringLiteral("列 {1} 为 {2}，脚本建立的是 {3}"), {objectName(f), f.found, f.expected});
    case SchemaFinding::Kind::ExtraTable:
        return fill(QStringLiteral("表 {1}"), {f.table});
    case SchemaFinding::Kind::ExtraColumn:
        return fill(QStringLiteral("列 {1}（{2}）"), {objectName(f), f.found});
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

// A text of several lines (a server's error holds one line for each of its
// messages) shown line by line: its line breaks stay, any other control
// character is made visible.
QString shownLines(const QString& text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = shown(line);
    return lines.join(QLatin1Char('\n'));
}

// The result with every name and version shown so; JSON keeps them exact.
SchemaCheckResult shown(SchemaCheckResult r)
{
    r.version = shown(r.version);
    r.scriptsEndAt = shown(r.scriptsEndAt);
    r.error = shownLines(r.error);
    for (QString& note : r.referenceNotes)
        note = shownLines(note);
    for (QList<SchemaFinding>* list : {&r.gaps, &r.information, &r.notChecked}) {
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

// Where the reference was built, as the reports name it.
QString referencePlace(const SchemaCheckResult& r)
{
    return r.referenceOnServer ? QStringLiteral("服务器上的参照库") : QStringLiteral("内存中的参照库");
}

// Why the reference is not the whole of the version: one note each for a
// version later than the scripts reach and for every statement the
// reference could not run. r is shown already, except for the batches.
QStringList partialNotes(const SchemaCheckResult& r)
{
    QStringList notes;
    if (beyondScripts(r))
        notes.append(fill(QStringLiteral("版本 {1} 高于升级脚本的最后一个版本块（{2}）：只检查到版本块 {2} "
                                         "为止带来的对象。"),
                          {r.version, r.scriptsEndAt}));
    for (const UnrunStatement& u : r.notRun)
        notes.append(fill(QStringLiteral("未检查：{1}：{2} …… 这条语句在{3}里无法执行（{4}），"
                                         "它建立、改动或涉及的对象未检查。"),
                          {origin(u.block), shown(firstLine(u.batch)), referencePlace(r), u.error}));
    return notes;
}

QString nullability(bool nullable)
{
    return nullable ? QStringLiteral("NULL") : QStringLiteral("NOT NULL");
}

bool nameCharacter(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('@') || c == QLatin1Char('#') ||
           c == QLatin1Char('$');
}

// Every name a statement holds, case-folded: words, [bracketed] and "quoted"
// names whole, and the parts of a dotted name in a text literal
// ('tblCompany.Province', as sp_rename takes it). Keywords come along; they
// only make the answer more careful.
QSet<QString> namesIn(const QString& batch)
{
    QSet<QString> names;
    const int n = int(batch.size());
    for (int i = 0; i < n;) {
        const QChar c = batch.at(i);
        if (c == QLatin1Char('[') || c == QLatin1Char('"')) {
            const QChar close = c == QLatin1Char('[') ? QLatin1Char(']') : QLatin1Char('"');
            QString name;
            int j = i + 1;
            for (; j < n; ++j) {
                if (batch.at(j) == close) {
                    if (j + 1 < n && batch.at(j + 1) == close) {
                        name += close;
                        ++j;
                        continue;
                    }
                    break;
                }
                name += batch.at(j);
            }
            names.insert(key(name));
            i = j + 1;
        } else if (nameCharacter(c)) {
            int j = i;
            while (j < n && nameCharacter(batch.at(j)))
                ++j;
            names.insert(key(batch.mid(i, j - i)));
            i = j;
        } else {
            ++i;
        }
    }
    return names;
}

// The names of each statement the reference could not run that may change
// the schema (it creates, alters, drops, renames, runs a procedure or
// selects into a table): what it names it may have made, renamed or dropped.
// Statements that only change rows change no table or column.
QList<QSet<QString>> schemaNames(const QList<UnrunStatement>& notRun)
{
    static const QStringList changing = {QStringLiteral("create"),  QStringLiteral("alter"),
                                         QStringLiteral("drop"),    QStringLiteral("exec"),
                                         QStringLiteral("execute"), QStringLiteral("sp_rename")};
    QList<QSet<QString>> all;
    for (const UnrunStatement& u : notRun) {
        const QSet<QString> names = namesIn(u.batch);
        bool changes = names.contains(QStringLiteral("select")) && names.contains(QStringLiteral("into"));
        for (const QString& word : changing)
            changes = changes || names.contains(word);
        if (changes)
            all.append(names);
    }
    return all;
}

// Opens a script of the reference; false, with error saying why, when it is
// missing or cannot be read.
bool openScript(ScriptFile& file, const QString& path, QString& error)
{
    if (!QFileInfo(path).isFile()) {
        error = fill(QStringLiteral("文件 {1} 不存在！"), {path});
        return false;
    }
    if (!file.open(path)) {
        error = fill(QStringLiteral("文件 {1} 无法读取：{2}"), {path, file.errorString()});
        return false;
    }
    return true;
}

} // namespace

namespace {

// Runs the two scripts on cn, a new empty database, into reference: the
// schema script whole, then the version blocks up to version, every batch
// on its own, with a snapshot of the catalog at the end of each.
bool runReference(ov::Connection& cn, const QString& emptyScript, const QString& updateScript,
                  const QString& version, SchemaReference& reference, QString& error)
{
    QuietStatus status;
    QuietProgress progress;
    ScriptFile file;
    if (!openScript(file, emptyScript, error))
        return false;
    // Every batch stands on its own: one the reference engine refuses (SQL
    // Server's own syntax in memory, a table of the customer's) leaves out
    // what it makes and is named as not checked, and the rest still runs,
    // whether or not its block is transactional.
    ScriptRunHooks hooks;
    hooks.standAloneBatches = true;
    // The schema script runs whole, as the create procedure runs it.
    hooks.passOver = [](const QString&) { return false; };
    hooks.batchFailed = [&reference](const QString& block, const QString& batch, const ov::DataError& e) {
        reference.notRun.append({block, batch, e.description});
    };
    RunScriptOnConnection(cn, file, hooks, status, progress);
    file.close();
    if (!takeSnapshot(cn, QString(), reference, error))
        return false;
    // A new database starts at version "0" (the create procedure), so the
    // version blocks meet the reference as they met the user's database.
    if (!cn.Execute(QStringLiteral("INSERT INTO tblVarible (VaribleValue, UserID, VaribleName, Module)"
                                   "    values('0', '', 'Version', 'DB')"))) {
        error = fill(QStringLiteral("{1} 没有建立版本表 tblVarible：{2}"),
                     {emptyScript, cn.lastError().description});
        return false;
    }

    if (!openScript(file, updateScript, error))
        return false;
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
    RunScriptOnConnection(cn, file, hooks, status, progress);
    file.close();
    if (!snapshotError.isEmpty()) {
        error = fill(QStringLiteral("参照库的表和列无法读取：{1}"), {snapshotError});
        return false;
    }
    return true;
}

// Both scripts are there to be read: checked before anything is made.
bool scriptsReadable(const QString& emptyScript, const QString& updateScript, QString& error)
{
    ScriptFile empty;
    ScriptFile update;
    return openScript(empty, emptyScript, error) && openScript(update, updateScript, error);
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
    if (!cn.Open(ov::Server({QStringLiteral("sqlite:/"), QString(), true, QString(), QString()}),
                 QStringLiteral("Tempdb"))) {
        error = fill(QStringLiteral("内存中的参照库无法打开：{1}"), {cn.lastError().description});
        return false;
    }
    return runReference(cn, emptyScript, updateScript, version, reference, error);
}

namespace {

const QString kScratchPrefix = QStringLiteral("ovcheck_");
constexpr int kScratchDigits = 32;
// The mark a check gives its scratch database right after making it, a
// database-level extended property that INFORMATION_SCHEMA does not show;
// its value is the database's name. Only a leftover with the mark is dropped.
const QString kScratchMark = QStringLiteral("OrvaneSchemaCheck");

// Each statement of the reference on the server may take this long. CREATE
// DATABASE copies model and, without instant file initialisation, zeroes the
// log file, which on a slow or busy disk takes tens of seconds; five minutes
// leaves room for that and still ends the wait on a server that stopped
// answering.
std::atomic<int> referenceTimeout{300};

QString markStatement(const QString& name)
{
    return QStringLiteral("EXEC %1.sys.sp_addextendedproperty @name = N'%2', @value = N'%3'")
        .arg(ov::bracketQuoted(name), kScratchMark,
             QString(name).replace(QLatin1Char('\''), QStringLiteral("''")));
}
QString markQuery(const QString& name)
{
    return QStringLiteral(
               "SELECT CONVERT(nvarchar(128), value) FROM %1.sys.extended_properties WHERE class = 0 "
               "AND name = N'%2'")
        .arg(ov::bracketQuoted(name), kScratchMark);
}

// The error of a server statement, said in Chinese when its time-out ended it.
QString serverErrorText(const ov::DataError& e)
{
    const bool timedOut = e.number == ov::DataErr::QueryTimeout ||
                          e.description.contains(QStringLiteral("HYT00")) ||
                          e.description.contains(QStringLiteral("timeout"), Qt::CaseInsensitive) ||
                          e.description.contains(QStringLiteral("timed out"), Qt::CaseInsensitive);
    if (!timedOut)
        return e.description;
    return fill(QStringLiteral("服务器在 {1} 秒内没有回答（{2}）"),
                {QString::number(referenceTimeout.load()), e.description});
}

// A connection to master with the check's time-out.
std::unique_ptr<ov::Connection> openMaster(const ConnectionSettings& login)
{
    std::unique_ptr<ov::Connection> cn = mdlOVSqlServer::ConnectToDBFile(
        login.server, QStringLiteral("master"), login.trusted, login.user, login.password);
    if (cn)
        cn->setCommandTimeout(referenceTimeout.load());
    return cn;
}

// SQL Server's "CREATE DATABASE permission denied in database 'master'."
constexpr qint32 kCreateDatabaseDenied = 262;
// SQL Server's "Database 'x' already exists.": CREATE DATABASE made nothing,
// and the database of that name is not this check's.
constexpr qint32 kDatabaseExists = 1801;
// SQL Server's "Cannot drop the database 'x', because it does not exist or
// you do not have permission."
constexpr qint32 kNoSuchDatabase = 3701;

// The scratch databases this process is using now. Within one process the
// task locks of one database share one hold (ServerAdmin::lockDatabase), so
// the lock alone would not keep a check from dropping one of this process's
// own.
struct ScratchRegistry
{
    QMutex mutex;
    QSet<QString> names;
};
ScratchRegistry& scratchRegistry()
{
    static ScratchRegistry registry;
    return registry;
}
bool scratchInUse(const QString& name)
{
    ScratchRegistry& r = scratchRegistry();
    const QMutexLocker guard(&r.mutex);
    return r.names.contains(name.toCaseFolded());
}
class ScratchInUse
{
public:
    explicit ScratchInUse(const QString& name) : m_name(name.toCaseFolded())
    {
        ScratchRegistry& r = scratchRegistry();
        const QMutexLocker guard(&r.mutex);
        r.names.insert(m_name);
    }
    ~ScratchInUse()
    {
        ScratchRegistry& r = scratchRegistry();
        const QMutexLocker guard(&r.mutex);
        r.names.remove(m_name);
    }
    ScratchInUse(const ScratchInUse&) = delete;
    ScratchInUse& operator=(const ScratchInUse&) = delete;

private:
    QString m_name;
};

QString newScratchName()
{
    quint32 words[kScratchDigits / 8];
    QRandomGenerator::system()->fillRange(words);
    QString name = kScratchPrefix;
    for (const quint32 word : words)
        name += QStringLiteral("%1").arg(word, 8, 16, QLatin1Char('0'));
    return name;
}

// Drops the scratch databases that checks which were killed left on the
// server. A running check holds the task lock on its scratch database from
// before it makes it until after it has dropped it, and the lock ends with
// the session of a check that was killed: a scratch database whose lock can
// be had belongs to no running check. DROP DATABASE itself is refused while
// any connection uses the database, so a database in use is never taken
// away either.
void dropLeftovers(ov::ServerAdmin& admin, const ConnectionSettings& login, QStringList& notes)
{
    QStringList names;
    if (!admin.listDatabases(names)) {
        notes.append(
            fill(QStringLiteral("服务器上的数据库无法列出，以前被中断的检查留下的临时数据库未清理：{1}"),
                 {admin.lastError().description}));
        return;
    }
    for (const QString& name : std::as_const(names)) {
        if (!IsScratchDatabaseName(name) || scratchInUse(name))
            continue;
        const std::shared_ptr<ov::DatabaseLock> lock = admin.lockDatabase(name);
        if (!lock)
            continue;
        // A customer's database may have a name of our pattern: only one
        // that carries the mark of a check is taken for a leftover.
        QString mark;
        QString markError;
        if (const std::unique_ptr<ov::Connection> master = openMaster(login)) {
            ov::Recordset rs;
            if (rs.Open(markQuery(name), *master)) {
                if (!rs.Eof())
                    mark = rs.Fields(0).Value().toString();
            } else {
                markError = serverErrorText(rs.lastError());
            }
            master->Close();
        } else {
            markError = mdlCommon::GetErrorText(true);
        }
        if (mark != name) {
            notes.append(
                fill(QStringLiteral("数据库 {1} 的名字像检查的临时数据库，但没有检查的标记，未删除。{2}"),
                     {name, markError}));
            continue;
        }
        if (admin.dropDatabase(name))
            notes.append(fill(QStringLiteral("已删除以前被中断的检查留下的临时数据库 {1}。"), {name}));
        else if (admin.lastError().number == kNoSuchDatabase)
            continue; // its own check dropped it after the listing
        else
            notes.append(fill(QStringLiteral("以前被中断的检查留下的临时数据库 {1} 未能删除：{2}"),
                              {name, admin.lastError().description}));
    }
}

// The code of one line of a script, its comments and literals blanked out;
// state carries what is still open at its end (a literal, a quoted name or
// nested block comments) to the next line of its batch. A "--" or "/*" inside a literal
// or a quoted name starts no comment, so what follows it stays code.
struct CodeScan
{
    QChar open;      // the closing character of an open literal or name
    int comment = 0; // depth of open block comments
};
QString codeOf(const QString& line, CodeScan& state)
{
    QString code;
    const int n = int(line.size());
    for (int i = 0; i < n; ++i) {
        const QChar c = line.at(i);
        const QChar next = i + 1 < n ? line.at(i + 1) : QChar();
        if (state.comment > 0) {
            if (c == QLatin1Char('*') && next == QLatin1Char('/')) {
                --state.comment;
                ++i;
            } else if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
                ++state.comment;
                ++i;
            }
            code += QLatin1Char(' ');
        } else if (!state.open.isNull()) {
            // A quoted name stays (namesIn reads it); a literal is blanked.
            const QChar shown = state.open == QLatin1Char('\'') ? QLatin1Char(' ') : c;
            if (c == state.open) {
                if (next == state.open) {
                    code += shown; // doubled: the character itself
                    ++i;
                } else {
                    state.open = QChar();
                }
            }
            code += shown;
        } else if (c == QLatin1Char('-') && next == QLatin1Char('-')) {
            break;
        } else if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
            state.comment = 1;
            ++i;
            code += QLatin1Char(' ');
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('[')) {
            state.open = c == QLatin1Char('[') ? QLatin1Char(']') : c;
            code += c == QLatin1Char('\'') ? QLatin1Char(' ') : c;
        } else {
            code += c;
        }
    }
    return code;
}

// The first line of the scripts that holds a USE statement, or nothing. On
// the server a USE would take the rest of the reference's statements out of
// the scratch database, into the customer's or a system database; such
// scripts are checked in memory. Comments and literals are left out, read
// as the server reads them; a name "use" in brackets may be taken for one,
// which only costs the server reference.
std::optional<QString> lineWithUse(const QStringList& paths)
{
    for (const QString& path : paths) {
        ScriptFile file;
        if (!file.open(path))
            continue;
        CodeScan state;
        while (!file.atEnd()) {
            const QString line = file.readLine();
            // Each batch reaches the server on its own: what one left open
            // ends with it.
            if (ClassifyScriptLine(line) == ScriptLineKind::BatchEnd) {
                state = CodeScan();
                continue;
            }
            if (namesIn(codeOf(line, state)).contains(QStringLiteral("use")))
                return line.trimmed();
        }
    }
    return std::nullopt;
}

} // namespace

int ServerReferenceTimeout()
{
    return referenceTimeout.load();
}
void SetServerReferenceTimeout(int seconds)
{
    referenceTimeout.store(seconds);
}

bool IsScratchDatabaseName(const QString& name)
{
    if (name.size() != kScratchPrefix.size() + kScratchDigits || !name.startsWith(kScratchPrefix))
        return false;
    for (int i = kScratchPrefix.size(); i < name.size(); ++i) {
        const QChar c = name.at(i);
        if (!(c >= QLatin1Char('0') && c <= QLatin1Char('9')) &&
            !(c >= QLatin1Char('a') && c <= QLatin1Char('f')))
            return false;
    }
    return true;
}

bool BuildSchemaReferenceOnServer(const ConnectionSettings& login, const QString& emptyScript,
                                  const QString& updateScript, const QString& version,
                                  SchemaReference& reference, QString& error, QStringList& notes)
{
    reference = SchemaReference();
    reference.onServer = true;
    if (!scriptsReadable(emptyScript, updateScript, error))
        return false;
    const UpdateLogPause mute;
    const std::unique_ptr<ov::ServerAdmin> admin =
        ov::ServerAdmin::create(login.server, login.trusted, login.user, login.password);
    if (admin->engine() != QLatin1String("mssql")) {
        error = QStringLiteral("服务器不是 SQL Server");
        return false;
    }
    if (const std::optional<QString> line = lineWithUse({emptyScript, updateScript})) {
        error = fill(QStringLiteral("脚本中有 USE 语句（{1}），在服务器上执行会离开临时数据库"), {*line});
        return false;
    }
    admin->setCommandTimeout(referenceTimeout.load());
    dropLeftovers(*admin, login, notes);

    const QString name = newScratchName();
    const ScratchInUse inUse(name);
    const std::shared_ptr<ov::DatabaseLock> lock = admin->lockDatabase(name);
    if (!lock) {
        error = fill(QStringLiteral("临时数据库 {1} 无法锁定：{2}"), {name, admin->lastError().description});
        return false;
    }
    const auto drop = [&] {
        if (!admin->dropDatabase(name) && admin->lastError().number != kNoSuchDatabase)
            notes.append(fill(
                QStringLiteral("临时数据库 {1} 未能删除：{2}。下一次在服务器上建立参照库的检查会删除它。"),
                {name, admin->lastError().description}));
    };
    if (!admin->createDatabase(name)) {
        const ov::DataError failure = admin->lastError();
        if (failure.number == kCreateDatabaseDenied) {
            error = fill(QStringLiteral("登录没有在服务器上建立数据库的权限（{1}）"), {failure.description});
            return false;
        }
        // CREATE DATABASE may have made it before it or an option failed.
        error = fill(QStringLiteral("临时数据库 {1} 无法建立：{2}"), {name, serverErrorText(failure)});
        if (failure.number != kDatabaseExists)
            drop();
        return false;
    }
    // Marked at once, so that a later check drops it only as ours.
    {
        const std::unique_ptr<ov::Connection> master = openMaster(login);
        const bool marked = master && master->Execute(markStatement(name));
        if (!marked) {
            error =
                fill(QStringLiteral("临时数据库 {1} 无法标记：{2}"),
                     {name, master ? serverErrorText(master->lastError()) : mdlCommon::GetErrorText(true)});
            if (master)
                master->Close();
            drop();
            return false;
        }
        master->Close();
    }
    bool built = false;
    if (const auto cn =
            mdlOVSqlServer::ConnectToDBFile(login.server, name, login.trusted, login.user, login.password)) {
        cn->setCommandTimeout(referenceTimeout.load());
        // A new database is a copy of the server's model database: tables
        // put there would be taken for the schema script's.
        QList<ov::CatalogColumn> model;
        ov::DataError readError;
        if (!ov::ReadCatalog(*cn, model, readError))
            error =
                fill(QStringLiteral("临时数据库 {1} 的表和列无法读取：{2}"), {name, readError.description});
        else if (!model.isEmpty())
            error = fill(QStringLiteral("新建的数据库并不是空的：服务器的 model 数据库含有表 {1}"),
                         {model.first().table});
        else
            built = runReference(*cn, emptyScript, updateScript, version, reference, error);
        // DROP DATABASE is refused while a connection uses the database.
        cn->Close();
    } else {
        error = fill(QStringLiteral("临时数据库 {1} 无法连接：{2}"), {name, mdlCommon::GetErrorText(true)});
    }
    drop();
    return built;
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

    // A table, or a column of it, that a statement the reference could not
    // run names: that statement may have made, renamed or dropped it, so
    // nothing is claimed about it. A table named alone stands for all of it
    // when it is missing or extra.
    const QList<QSet<QString>> touched = schemaNames(reference.notRun);
    const auto unsure = [&touched](const QString& table, const QString& column) {
        for (const QSet<QString>& names : touched) {
            if (names.contains(key(table)) && (column.isEmpty() || names.contains(key(column))))
                return true;
        }
        return false;
    };
    const auto judge = [&](const SchemaFinding& f, QList<SchemaFinding>& list, bool wholeTable) {
        if (unsure(f.table, wholeTable ? QString() : f.column)) {
            result.notChecked.append(f);
            return false;
        }
        list.append(f);
        return true;
    };

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
        if (table == db.constEnd()) {
            if (!judge({SchemaFinding::Kind::MissingTable, t.name, QString(), t.block, QString(), QString()},
                       result.gaps, true))
                continue;
            count(t.block, false, t.name);
            // The columns a table is made with go with it; those later blocks
            // add are missing with their blocks.
            for (int i = 0; i < t.columns.size(); ++i) {
                const QString& block = t.columnBlocks[i];
                if (block == t.block)
                    continue;
                const ov::CatalogColumn& r = t.columns[i];
                count(block, false, t.name + QLatin1Char('.') + r.column);
                result.gaps.append({SchemaFinding::Kind::MissingColumn, t.name, r.column, block,
                                    ov::TypeText(r), QString()});
            }
            continue;
        }
        count(t.block, true, t.name);
        for (int i = 0; i < t.columns.size(); ++i) {
            const ov::CatalogColumn& r = t.columns[i];
            const QString& block = t.columnBlocks[i];
            const QString expected = ov::TypeText(r);
            const ov::CatalogColumn* d = table->value(key(r.column));
            if (!d) {
                if (judge({SchemaFinding::Kind::MissingColumn, t.name, r.column, block, expected, QString()},
                          result.gaps, false) &&
                    block != t.block)
                    count(block, false, t.name + QLatin1Char('.') + r.column);
                continue;
            }
            if (block != t.block)
                count(block, true, t.name + QLatin1Char('.') + r.column);
            switch (fit(r, *d)) {
            case TypeFit::Same:
                break;
            case TypeFit::Wider:
                judge({SchemaFinding::Kind::WiderType, t.name, r.column, block, expected, ov::TypeText(*d)},
                      result.information, false);
                break;
            case TypeFit::Differs:
                judge({SchemaFinding::Kind::TypeDiffers, t.name, r.column, block, expected, ov::TypeText(*d)},
                      result.gaps, false);
                break;
            }
            if (r.nullable != d->nullable)
                judge({SchemaFinding::Kind::NullabilityDiffers, t.name, r.column, block,
                       nullability(r.nullable), nullability(d->nullable)},
                      result.information, false);
        }
    }
    for (const ReferenceTable& t : reference.tables) {
        QHash<QString, bool> columns;
        for (const ov::CatalogColumn& r : t.columns)
            columns.insert(key(r.column), true);
        for (const ov::CatalogColumn& d : catalog) {
            if (key(d.table) == key(t.name) && !columns.contains(key(d.column)))
                judge({SchemaFinding::Kind::ExtraColumn, d.table, d.column, QString(), QString(),
                       ov::TypeText(d)},
                      result.information, false);
        }
    }
    for (const QString& name : std::as_const(dbTables)) {
        if (!referenceTables.contains(key(name)))
            judge({SchemaFinding::Kind::ExtraTable, name, QString(), QString(), QString(), QString()},
                  result.information, true);
    }
    // Grouped by kind; extra columns stay in the database's column order.
    const auto byKind = [](const SchemaFinding& a, const SchemaFinding& b) {
        return int(a.kind) < int(b.kind);
    };
    std::stable_sort(result.information.begin(), result.information.end(), byKind);
    std::stable_sort(result.notChecked.begin(), result.notChecked.end(), byKind);

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

SchemaCheckResult CheckSchema(ov::Connection& cn, const QString& emptyScript, const QString& updateScript,
                              const ConnectionSettings* onServer)
{
    SchemaCheckResult result;
    QStringList notes;
    // The embedded engine's reference is that engine's own already.
    if (onServer && !ov::ServerAdmin::localFolder(onServer->server).isEmpty()) {
        notes.append(QStringLiteral("在服务器上建立参照库只用于 SQL Server：嵌入式引擎的数据库，其参照库本来"
                                    "就由同一引擎在内存中建立。"));
        onServer = nullptr;
    }
    result.referenceNotes = notes;
    const std::optional<QString> version = ReadDatabaseVersion(&cn);
    if (!version) {
        result.status = SchemaCheckResult::Status::NoVersion;
        result.error = QStringLiteral("数据库没有版本：tblVarible 中没有“DB”/“Version”行，或其值为空或 NONE，"
                                      "或该表无法读取，因此没有可以比较的依据。");
        return result;
    }
    result.version = *version;
    QList<ov::CatalogColumn> catalog;
    ov::DataError dataError;
    if (!ov::ReadCatalog(cn, catalog, dataError)) {
        result.error = fill(QStringLiteral("数据库的表和列无法读取：{1}"), {dataError.description});
        return result;
    }
    SchemaReference reference;
    QString error;
    // A script that cannot be read fails the check the same way wherever
    // the reference would be built: before anything is made on a server.
    if (onServer && !scriptsReadable(emptyScript, updateScript, error)) {
        result.error = fill(QStringLiteral("无法建立用来比较的参照结构：{1}"), {error});
        return result;
    }
    bool built = false;
    if (onServer) {
        built = BuildSchemaReferenceOnServer(*onServer, emptyScript, updateScript, *version, reference, error,
                                             notes);
        if (!built)
            notes.append(
                fill(QStringLiteral("未能在服务器上建立参照库：{1}。改用内存中的参照库。"), {error}));
    }
    if (!built && !BuildSchemaReference(emptyScript, updateScript, *version, reference, error)) {
        result.error = fill(QStringLiteral("无法建立用来比较的参照结构：{1}"), {error});
        result.referenceNotes = notes;
        return result;
    }
    result = CompareSchema(reference, catalog);
    result.version = *version;
    result.scriptsEndAt = reference.scriptsEndAt;
    result.notRun = reference.notRun;
    result.referenceOnServer = reference.onServer;
    result.referenceNotes = notes;
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
    QString notes;
    for (const QString& note : r.referenceNotes)
        notes += note + QLatin1Char('\n');
    if (r.status == Status::NoVersion || r.status == Status::Failed)
        return notes + fill(QStringLiteral("无法进行检查：{1}\n"), {r.error});
    QString out = notes + fill(QStringLiteral("数据库版本 {1}：与 {2} 及版本 {1} 以前（含）的各版本块比较"
                                              "（{3}）。\n"),
                               {r.version, kEmptyScriptName, referencePlace(r)});
    for (const QString& note : partialNotes(r))
        out += note + QLatin1Char('\n');
    const auto section = [&out](const QString& title, const QList<SchemaFinding>& findings,
                                const std::function<bool(const SchemaFinding&)>& take) {
        QString lines;
        for (const SchemaFinding& f : findings) {
            if (take(f))
                lines += QStringLiteral("  ") + findingLine(f) + QLatin1Char('\n');
        }
        if (!lines.isEmpty())
            out += title + QLatin1Char('\n') + lines;
    };
    const auto missing = [](const SchemaFinding& f) {
        return f.kind == SchemaFinding::Kind::MissingTable || f.kind == SchemaFinding::Kind::MissingColumn;
    };
    const auto all = [](const SchemaFinding&) { return true; };
    section(QStringLiteral("缺少："), r.gaps, missing);
    section(QStringLiteral("类型不同："), r.gaps, [&](const SchemaFinding& f) { return !missing(f); });
    if (!r.incompleteBlocks.isEmpty()) {
        out += QStringLiteral("不完整的版本块：\n");
        for (const IncompleteBlock& b : r.incompleteBlocks) {
            const QString n = QString::number(b.missing);
            if (b.block.isEmpty())
                out += fill(QStringLiteral("  {1}：缺少 {2} 个对象；结构脚本不能重新执行\n"),
                            {kEmptyScriptName, n});
            else if (b.rerunSafe())
                out +=
                    fill(QStringLiteral("  版本块 {1}：缺少 {2} 个对象，其对象都还不存在，可以安全地重新执行"
                                        "（ovsqlcli update --rerun {1}）\n"),
                         {b.block, n});
            else
                out +=
                    fill(QStringLiteral("  版本块 {1}：缺少 {2} 个对象，但 {3} 已经存在，重新执行并不安全\n"),
                         {b.block, n, b.exists.join(QStringLiteral(", "))});
        }
    }
    section(QStringLiteral("未检查（上面所列无法执行的语句涉及这些对象）："), r.notChecked, all);
    section(QStringLiteral("其他（并非脚本所建）："), r.information, all);
    if (r.status == Status::Complete)
        out += fill(QStringLiteral("结果：数据库具有版本 {1} 的全部表和列。\n"), {r.version});
    else if (r.status == Status::Partial)
        out += fill(QStringLiteral("结果：能检查的对象都不缺少，但版本 {1} 未能全部检查（见上）。\n"),
                    {r.version});
    else
        out += fill(QStringLiteral("结果：版本 {1} 有 {2} 处缺失或不符。\n"),
                    {r.version, QString::number(r.gaps.size())});
    return out;
}

QByteArray SchemaReportJson(const SchemaCheckResult& r)
{
    using Status = SchemaCheckResult::Status;
    QJsonObject o;
    static const char* const statusNames[] = {"complete", "gaps", "partial", "no version", "failed"};
    o.insert(QStringLiteral("status"), QLatin1String(statusNames[int(r.status)]));
    o.insert(QStringLiteral("exitCode"), r.exitCode());
    o.insert(QStringLiteral("reference"),
             r.referenceOnServer ? QStringLiteral("server") : QStringLiteral("memory"));
    o.insert(QStringLiteral("referenceNotes"), QJsonArray::fromStringList(r.referenceNotes));
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
    o.insert(QStringLiteral("notChecked"), findings(r.notChecked));
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

QString SchemaGapMessage(const SchemaCheckResult& result)
{
    const SchemaCheckResult r = shown(result);
    constexpr int kMostLines = 15;
    QStringList lines;
    for (const SchemaFinding& f : r.gaps) {
        if (lines.size() == kMostLines) {
            lines.append(
                fill(QStringLiteral("……另有 {1} 项"), {QString::number(r.gaps.size() - kMostLines)}));
            break;
        }
        const QString where =
            f.block.isEmpty() ? kEmptyScriptName : fill(QStringLiteral("版本 {1}"), {f.block});
        switch (f.kind) {
        case SchemaFinding::Kind::MissingTable:
            lines.append(fill(QStringLiteral("缺少表 {1}（{2}）"), {f.table, where}));
            break;
        case SchemaFinding::Kind::MissingColumn:
            lines.append(fill(QStringLiteral("缺少列 {1}（{2}）"), {objectName(f), where}));
            break;
        default:
            lines.append(fill(QStringLiteral("列 {1} 的类型为 {2}，应为 {3}（{4}）"),
                              {objectName(f), f.found, f.expected, where}));
            break;
        }
    }
    const QString unchecked =
        r.notRun.isEmpty()
            ? QString()
            : fill(QStringLiteral("另有 {1} 条语句无法在{2}里执行，它们涉及的对象未检查。\r\n"),
                   {QString::number(r.notRun.size()), referencePlace(r)});
    return fill(
        QStringLiteral(
            "升级后的数据库结构检查未通过：数据库版本为 {1}，但缺少该版本应有的对象：\r\n\r\n{2}"
            "\r\n\r\n{3}详细记录见日志文件 {4}"
            "\r\n可用 ovsqlcli check 查看各版本块能否安全地重新执行（ovsqlcli update --rerun 版本）。"),
        {r.version, lines.join(QStringLiteral("\r\n")), unchecked, UpdateLogPath()});
}

QString SchemaCheckNotice(const SchemaCheckResult& result)
{
    const SchemaCheckResult r = shown(result);
    QString notes;
    for (const QString& note : r.referenceNotes)
        notes += note + QLatin1Char('\n');
    switch (r.status) {
    case SchemaCheckResult::Status::Complete:
    case SchemaCheckResult::Status::Gaps:
        break;
    case SchemaCheckResult::Status::Partial:
        return notes + QStringLiteral("升级后的数据库结构检查未能检查全部对象，能检查的对象都不缺少：\n") +
               partialNotes(r).join(QLatin1Char('\n')) + QLatin1Char('\n');
    case SchemaCheckResult::Status::NoVersion:
    case SchemaCheckResult::Status::Failed:
        return notes + fill(QStringLiteral("升级后的数据库结构检查未能进行：{1}\n"), {r.error});
    }
    return notes;
}

void LogSchemaCheck(const SchemaCheckResult& result)
{
    const SchemaCheckResult r = shown(result);
    QString text = QStringLiteral("##### 数据库结构检查：");
    switch (r.status) {
    case SchemaCheckResult::Status::Complete:
        text += fill(QStringLiteral("版本 {1} 完整。"), {r.version});
        break;
    case SchemaCheckResult::Status::Partial:
        text += partialNotes(r).join(QLatin1Char(' ')) + QStringLiteral(" 能检查的对象都不缺少。");
        break;
    case SchemaCheckResult::Status::NoVersion:
    case SchemaCheckResult::Status::Failed:
        text += fill(QStringLiteral("未能进行：{1}"), {r.error});
        break;
    case SchemaCheckResult::Status::Gaps:
        text += fill(QStringLiteral("版本 {1} 有 {2} 处缺失或不符："),
                     {r.version, QString::number(r.gaps.size())});
        for (const QString& note : partialNotes(r))
            text += QLatin1Char(' ') + note;
        for (const SchemaFinding& f : r.gaps)
            text += QStringLiteral("\r\n!!! ") + findingLine(f);
        break;
    }
    for (const SchemaFinding& f : r.notChecked)
        text += QStringLiteral("\r\n??? 未检查：") + findingLine(f);
    for (const QString& note : r.referenceNotes)
        text += QStringLiteral("\r\n--- ") + note;
    WriteUpdateLog(text + QStringLiteral("\r\n"));
}

} // namespace mdlOVSqlUpdateDB
