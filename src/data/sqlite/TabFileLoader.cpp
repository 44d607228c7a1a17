#include "data/sqlite/TabFileLoader.h"

#include "common/Clock.h"
#include "common/Cp936.h"
#include "data/AdoTypes.h"
#include "data/DataBackend.h"
#include "data/FieldValue.h"
#include "data/Identifiers.h"
#include "data/sqlite/EmbeddedServer.h"
#include "data/sqlite/SqliteBackend.h"
#include "data/sqlite/Statement.h"

#include <QFile>
#include <QStringList>

#include <cstring>
#include <sqlite3.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace ov::embedded {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The value of an integer field that passed its check, when it has no
// blanks, no leading zeros or plus sign and fits 64 bits: exactly the text
// the engine's integer affinity would turn into the same number. Anything
// else stays text and is left to the engine.
bool toInt64(const char* p, const char* e, qint64& value)
{
    const bool negative = p < e && *p == '-';
    if (negative)
        ++p;
    if (p == e || e - p > 18 || (*p == '0' && e - p > 1))
        return false;
    qint64 v = 0;
    for (; p < e; ++p) {
        if (!isDigit(*p))
            return false;
        v = v * 10 + (*p - '0');
    }
    value = negative ? -v : v;
    return true;
}

bool isAscii(const char* p, qsizetype n)
{
    unsigned char any = 0;
    for (qsizetype i = 0; i < n; ++i)
        any |= static_cast<unsigned char>(p[i]);
    return any < 0x80;
}

QString stamp()
{
    return Clock::now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void writeLog(const QString& logFile, const QStringList& lines)
{
    QFile log(logFile);
    if (!log.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    log.write(cp936::encode(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")));
}

// Runs a pragma and gives its single value as text.
QByteArray pragmaValue(sqlite3* db, const char* sql)
{
    Statement stmt;
    QByteArray value;
    if (stmt.prepare(db, sql) == SQLITE_OK && sqlite3_step(stmt.get()) == SQLITE_ROW)
        value = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
    return value;
}

// The pragmas of a bulk load, and the values they had before. The rollback
// journal stays on disk, where it survives a crash or a full disk in the
// middle of the commit: the next connection rolls the load back from it. A
// database whose journal was kept in memory or switched off gets one on disk
// for the load. The statement journal of each insert of several rows (what
// the statement changed, so that a refused row takes back the others) stays
// in memory: it is small, it is no help after a crash, and written to a
// temporary file it cost more than the inserts.
class BulkPragmas
{
public:
    explicit BulkPragmas(sqlite3* db) : m_db(db)
    {
        const QByteArray journal = pragmaValue(db, "PRAGMA journal_mode").toLower();
        if (journal == "memory" || journal == "off") {
            m_journal = journal;
            sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
        }
        m_cache = pragmaValue(db, "PRAGMA cache_size");
        sqlite3_exec(db, "PRAGMA cache_size=-65536", nullptr, nullptr, nullptr);
        m_tempStore = pragmaValue(db, "PRAGMA temp_store");
        sqlite3_exec(db, "PRAGMA temp_store=MEMORY", nullptr, nullptr, nullptr);
    }
    ~BulkPragmas()
    {
        if (!m_journal.isEmpty())
            sqlite3_exec(m_db, ("PRAGMA journal_mode=" + m_journal).constData(), nullptr, nullptr, nullptr);
        if (!m_cache.isEmpty())
            sqlite3_exec(m_db, ("PRAGMA cache_size=" + m_cache).constData(), nullptr, nullptr, nullptr);
        if (!m_tempStore.isEmpty())
            sqlite3_exec(m_db, ("PRAGMA temp_store=" + m_tempStore).constData(), nullptr, nullptr, nullptr);
    }
    BulkPragmas(const BulkPragmas&) = delete;
    BulkPragmas& operator=(const BulkPragmas&) = delete;

private:
    sqlite3* m_db;
    QByteArray m_journal;
    QByteArray m_cache;
    QByteArray m_tempStore;
};

void sqliteFailure(sqlite3* db, int rc, DataError& error)
{
    setDataError(error, sqlite3_extended_errcode(db) ? sqlite3_extended_errcode(db) : rc,
                 embedded::engineMessage(QString::fromUtf8(sqlite3_errmsg(db))), QStringLiteral("SQLite"));
}

void cannotWriteErrorFile(const QFile& rejects, const QString& errorFile, DataError& error)
{
    setDataError(error, 4861, QStringLiteral("无法写入错误文件 %1：%2").arg(errorFile, rejects.errorString()),
                 QStringLiteral("SQLite"));
}

// The table's columns, in order, as the field checks take them; none when
// there is no such table.
QVector<ColumnInfo> tableColumns(sqlite3* db, const QString& table)
{
    QVector<ColumnInfo> infos;
    const QByteArray sql = ("PRAGMA table_info(" + doubleQuoted(table) + ")").toUtf8();
    Statement stmt;
    if (stmt.prepare(db, sql.constData()) != SQLITE_OK)
        return infos;
    while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
        ColumnInfo info;
        info.name = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 1)));
        const char* decl = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 2));
        info.type = sqlitevalue::typeFromDeclaration(decl ? decl : "");
        sqlitevalue::sizeFromDeclaration(decl ? decl : "", info.size, info.decimals);
        info.nullable = sqlite3_column_int(stmt.get(), 3) == 0;
        infos.append(info);
    }
    return infos;
}

// The text of a data file, whole: mapped when it can be, read otherwise.
// begin is past the UTF-8 byte-order mark, when there is one.
struct DataText
{
    QByteArray readBuffer;
    const char* begin = nullptr;
    const char* end = nullptr;
    bool utf8 = false;

    explicit DataText(QFile& file)
    {
        const qint64 size = file.size();
        const char* data = nullptr;
        if (size > 0) {
            data = reinterpret_cast<const char*>(file.map(0, size));
            if (!data) {
                readBuffer = file.readAll();
                data = readBuffer.constData();
            }
        }
        begin = data;
        end = data ? data + size : nullptr;
        utf8 = size >= 3 && cp936::hasUtf8Bom(QByteArray::fromRawData(data, 3));
        if (utf8)
            begin += 3;
    }
};

constexpr qsizetype kLoadWindowBytes = qsizetype(32) << 20;
qsizetype g_loadWindowBytes = kLoadWindowBytes;

// Gives back the pages of a mapped data file below a point the load has
// passed. They are clean copies of the file, read from it again if touched;
// kept, they would make the load's resident memory as large as the file. A
// file that was read into a buffer instead (no mapping) keeps its buffer.
class PassedPages
{
public:
    explicit PassedPages(const DataText& text)
        : m_mapped(text.begin && text.readBuffer.isEmpty()),
          m_base(text.begin ? text.begin - (text.utf8 ? 3 : 0) : nullptr), m_released(m_base)
    {}

    void release(const char* upTo)
    {
        if (!m_mapped)
            return;
        static const qsizetype page = qsizetype(sysconf(_SC_PAGESIZE));
        const char* end = m_base + (upTo - m_base) / page * page;
        if (end > m_released) {
            madvise(const_cast<char*>(m_released), size_t(end - m_released), MADV_DONTNEED);
            m_released = end;
        }
    }

private:
    const bool m_mapped;
    const char* const m_base;
    const char* m_released;
};

// The end of the window of text that starts at p: g_loadWindowBytes on, to
// the end of the line there, so that no line is cut.
const char* windowEnd(const DataText& text, const char* p)
{
    if (text.end - p <= g_loadWindowBytes)
        return text.end;
    const char* cut = p + g_loadWindowBytes;
    const char* nl = static_cast<const char*>(std::memchr(cut, '\n', size_t(text.end - cut)));
    return nl ? nl + 1 : text.end;
}

// Whether the file holds a NUL byte anywhere, read window by window.
bool holdsNul(const DataText& text)
{
    PassedPages passed(text);
    bool found = false;
    for (const char* p = text.begin; p && p < text.end && !found;) {
        const char* end = windowEnd(text, p);
        found = std::memchr(p, 0, size_t(end - p)) != nullptr;
        passed.release(end);
        p = end;
    }
    return found;
}

// The rows of a data file through prepared inserts of several rows each. A
// row that does not fit the table goes to the error file with its reason; a
// failure of the engine (a full disk, an I/O error) ends the load.
//
// Rows whose fields passed their checks wait until there are kBatchRows of
// them and go in with one statement: the engine's work per statement (its
// statement journal, its cursors) is shared by the rows. A row that is
// rejected first sends the rows before it, so the error file keeps the order
// of the data file. When the engine refuses a statement of several rows (a
// unique key, a check), the statement takes none of them back and each row is
// inserted again on its own: the rows refused are the ones a row-by-row load
// refuses, with the same reasons.
class RowLoader
{
public:
    RowLoader(sqlite3* db, const QVector<ColumnInfo>& infos, const DataText& text, QFile& rejects,
              BulkLoadResult& result)
        : m_db(db), m_columns(int(infos.size())), m_utf8(text.utf8), m_rejects(rejects), m_result(result)
    {
        // What each column takes, decided once for the whole file; a file
        // without a NUL byte needs no search for one in each text.
        const bool mayHoldNul = holdsNul(text);
        m_checks.reserve(size_t(m_columns));
        for (const ColumnInfo& info : infos)
            m_checks.emplace_back(info, m_utf8, mayHoldNul);
        // As many rows as the engine takes parameters for in one statement.
        const int parameters = sqlite3_limit(db, SQLITE_LIMIT_VARIABLE_NUMBER, -1);
        m_batchRows = qBound(1, parameters / qMax(m_columns, 1), kBatchRows);
        const size_t places = size_t(m_batchRows) * size_t(m_columns + 1);
        m_starts.resize(places);
        m_lengths.resize(places);
        m_converted.resize(size_t(m_batchRows) * size_t(m_columns));
        m_pending.reserve(size_t(m_batchRows));
        m_inserts.resize(size_t(m_batchRows) + 1);
    }

    int prepare(const QVector<ColumnInfo>& infos, const QString& table)
    {
        QStringList quoted;
        for (const ColumnInfo& info : infos)
            quoted << doubleQuoted(info.name);
        m_sql = insertStatement(doubleQuoted(table), quoted).toUtf8();
        const int values = int(m_sql.lastIndexOf(" VALUES ")) + 8;
        m_rowValues = m_sql.mid(values);
        m_sql.truncate(values);
        if (SqliteBackend::refusedInsertMayKeepRows(m_db, table))
            m_batchRows = 1;
        return insert(1) ? SQLITE_OK : m_prepareResult;
    }

    // Loads the lines from p to end; false, with error set, when the engine
    // failed. rows counts the lines read.
    bool load(const char* p, const char* const end, qint64& rows, DataError& error)
    {
        const char* line = nullptr;
        qsizetype length = 0;
        while (nextDataLine(p, end, line, length)) {
            ++rows;
            if (!loadLine(rows, line, length, error))
                return false;
        }
        return send(error);
    }

    // Lets the inserts go, before the transaction ends.
    void finish() { m_inserts.clear(); }

private:
    // The most rows of one insert statement.
    static constexpr int kBatchRows = 64;

    struct Pending
    {
        qint64 row;
        const char* line;
        qsizetype length;
    };

    // One line: rejected, kept for the next insert, or the end of the load
    // (false).
    bool loadLine(qint64 row, const char* line, qsizetype length, DataError& error)
    {
        const int slot = int(m_pending.size());
        const int fields = split(slot, line, length);
        if (fields != m_columns) {
            if (!send(error))
                return false;
            reject(
                row, line, length,
                QStringLiteral("the row has %1 fields, the table has %2 columns").arg(fields).arg(m_columns));
            return true;
        }
        if (!checkFields(slot)) {
            if (!send(error))
                return false;
            reject(row, line, length, m_fieldError.description);
            return true;
        }
        m_pending.push_back({row, line, length});
        return int(m_pending.size()) < m_batchRows || send(error);
    }

    // Inserts the rows kept; false, with error set, when the engine failed.
    bool send(DataError& error)
    {
        const int rows = int(m_pending.size());
        if (rows == 0)
            return true;
        sqlite3_stmt* stmt = rows > 1 ? insert(rows) : nullptr;
        if (stmt) {
            for (int slot = 0; slot < rows; ++slot)
                bindFields(stmt, slot, slot * m_columns);
            const int rc = sqlite3_step(stmt);
            sqlite3_reset(stmt);
            if (rc == SQLITE_DONE) {
                m_result.rowsCopied += rows;
                m_pending.clear();
                return true;
            }
            if (!rejectable(rc))
                return fatal(rc, error);
        }
        // One row, or a statement of several that was refused: each row on
        // its own, so that only the rows the engine refuses are rejected.
        sqlite3_stmt* single = insert(1);
        for (int slot = 0; slot < rows; ++slot) {
            bindFields(single, slot, 0);
            const int rc = sqlite3_step(single);
            if (rc == SQLITE_DONE) {
                ++m_result.rowsCopied;
                sqlite3_reset(single);
                continue;
            }
            const QString reason = embedded::engineMessage(QString::fromUtf8(sqlite3_errmsg(m_db)));
            sqlite3_reset(single);
            if (!rejectable(rc)) {
                setDataError(error, rc, reason, QStringLiteral("SQLite"));
                return false;
            }
            const Pending& p = m_pending[size_t(slot)];
            reject(p.row, p.line, p.length, reason);
        }
        m_pending.clear();
        return true;
    }

    // The engine's refusals of a row, as opposed to its failures (a full
    // disk, an I/O error), which end the load.
    static bool rejectable(int rc)
    {
        const int primary = rc & 0xff;
        return primary == SQLITE_CONSTRAINT || primary == SQLITE_MISMATCH || primary == SQLITE_TOOBIG ||
               primary == SQLITE_RANGE;
    }

    bool fatal(int rc, DataError& error)
    {
        setDataError(error, rc, embedded::engineMessage(QString::fromUtf8(sqlite3_errmsg(m_db))),
                     QStringLiteral("SQLite"));
        return false;
    }

    // The insert of rows rows, prepared on first use; null when the engine
    // cannot prepare it.
    sqlite3_stmt* insert(int rows)
    {
        Statement& stmt = m_inserts[size_t(rows)];
        if (!stmt) {
            QByteArray sql = m_sql;
            sql.reserve(m_sql.size() + rows * (m_rowValues.size() + 1));
            for (int i = 0; i < rows; ++i) {
                if (i > 0)
                    sql += ',';
                sql += m_rowValues;
            }
            m_prepareResult = stmt.prepare(m_db, sql.constData(), int(sql.size()));
        }
        return stmt.get();
    }

    // Splits the line at tabs into the fields of slot; the number of
    // fields. One field more than the table has columns is enough to tell
    // the row is wrong, so no more are kept.
    int split(int slot, const char* line, qsizetype length)
    {
        const size_t base = size_t(slot) * size_t(m_columns + 1);
        int fields = 0;
        const char* f = line;
        const char* const e = line + length;
        for (;;) {
            const char* tab = static_cast<const char*>(std::memchr(f, '\t', size_t(e - f)));
            const char* fieldEnd = tab ? tab : e;
            if (fields <= m_columns) {
                m_starts[base + size_t(fields)] = f;
                m_lengths[base + size_t(fields)] = fieldEnd - f;
            }
            ++fields;
            if (!tab)
                return fields;
            f = tab + 1;
        }
    }

    // False, with m_fieldError set, when a field of slot is no value its
    // column holds exactly.
    bool checkFields(int slot)
    {
        const size_t base = size_t(slot) * size_t(m_columns + 1);
        for (int c = 0; c < m_columns; ++c) {
            if (!m_checks[size_t(c)].check(m_starts[base + size_t(c)], m_lengths[base + size_t(c)],
                                           m_fieldError))
                return false;
        }
        return true;
    }

    // Binds the checked fields of slot to the parameters of stmt from first
    // on.
    void bindFields(sqlite3_stmt* stmt, int slot, int first)
    {
        const size_t base = size_t(slot) * size_t(m_columns + 1);
        for (int c = 0; c < m_columns; ++c) {
            const char* s = m_starts[base + size_t(c)];
            const qsizetype n = m_lengths[base + size_t(c)];
            const FieldTextCheck& check = m_checks[size_t(c)];
            const int parameter = first + c + 1;
            if (n == 0) {
                sqlite3_bind_null(stmt, parameter);
                continue;
            }
            qint64 number = 0;
            int bit = -1;
            if (check.kind() == FieldTextCheck::Kind::Bit && (bit = FieldTextCheck::bitWord(s, n)) >= 0) {
                // The bit the word stands for, as SQL Server stores it, not
                // the text "true", which no query for 1 would find.
                sqlite3_bind_int(stmt, parameter, bit);
            } else if (check.kind() == FieldTextCheck::Kind::Integer && toInt64(s, s + n, number)) {
                // The value the column's affinity would make of the text,
                // without the engine parsing it again.
                sqlite3_bind_int64(stmt, parameter, number);
            } else if (m_utf8 || isAscii(s, n)) {
                sqlite3_bind_text(stmt, parameter, s, int(n), SQLITE_STATIC);
            } else {
                QByteArray& u = m_converted[size_t(slot) * size_t(m_columns) + size_t(c)];
                cp936::decodeToUtf8(s, n, u);
                sqlite3_bind_text(stmt, parameter, u.constData(), int(u.size()), SQLITE_STATIC);
            }
        }
    }

    void reject(qint64 row, const char* line, qsizetype length, const QString& reason)
    {
        ++m_result.rowsRejected;
        m_rejects.write(cp936::encode(QStringLiteral("#@ Row %1: %2 @#\r\n").arg(row).arg(reason)));
        m_rejects.write(line, length);
        m_rejects.write("\r\n", 2);
    }

    sqlite3* m_db;
    const int m_columns;
    const bool m_utf8;
    QFile& m_rejects;
    BulkLoadResult& m_result;
    int m_batchRows = 1;
    QByteArray m_sql;       // the insert up to its values
    QByteArray m_rowValues; // the parameters of one row: "(?,?,...)"
    int m_prepareResult = SQLITE_OK;
    std::vector<Statement> m_inserts; // by number of rows
    std::vector<FieldTextCheck> m_checks;
    // The fields of each kept row, m_columns + 1 places per row.
    std::vector<const char*> m_starts;
    std::vector<qsizetype> m_lengths;
    std::vector<QByteArray> m_converted;
    std::vector<Pending> m_pending;
    DataError m_fieldError;
};

} // namespace

bool loadTabFile(sqlite3* db, const QString& database, const QString& table, const QString& dataFile,
                 const QString& logFile, const QString& errorFile, BulkLoadResult& result, DataError& error)
{
    result = BulkLoadResult();
    QStringList log;
    log << QStringLiteral("Bulk load of \"%1\" into table \"%2\" of database \"%3\"")
               .arg(dataFile, table, database);
    log << QStringLiteral("Started: %1").arg(stamp());
    auto failed = [&](const DataError& e) {
        error = e;
        log << QStringLiteral("Failed: %1").arg(e.description);
        writeLog(logFile, log);
        return false;
    };

    const QVector<ColumnInfo> infos = tableColumns(db, table);
    DataError e;
    if (infos.isEmpty()) {
        setDataError(e, 208, QStringLiteral("对象名 %1 无效：数据库中没有这个表。").arg(table),
                     QStringLiteral("SQLite"));
        return failed(e);
    }
    QFile file(dataFile);
    if (!file.open(QIODevice::ReadOnly)) {
        setDataError(e, 4860,
                     QStringLiteral("无法批量导入：文件 %1 不存在，或者没有读取它的权限。").arg(dataFile),
                     QStringLiteral("SQLite"));
        return failed(e);
    }
    QFile rejects(errorFile);
    if (!rejects.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        cannotWriteErrorFile(rejects, errorFile, e);
        return failed(e);
    }
    const DataText text(file);
    RowLoader loader(db, infos, text, rejects, result);

    BulkPragmas pragmas(db);
    int rc = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        sqliteFailure(db, rc, e);
        return failed(e);
    }
    // Whatever ends the load before its commit takes back what it stored.
    auto rollBack = [&] {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        result.rowsCopied = 0;
        return failed(e);
    };
    rc = loader.prepare(infos, table);
    if (rc != SQLITE_OK) {
        sqliteFailure(db, rc, e);
        return rollBack();
    }
    qint64 rows = 0;
    bool fatal = false;
    PassedPages passed(text);
    for (const char* p = text.begin; p && p < text.end && !fatal;) {
        const char* end = windowEnd(text, p);
        fatal = !loader.load(p, end, rows, e);
        passed.release(end);
        p = end;
    }
    loader.finish();
    // A rejected row that did not reach the error file (a full disk) would
    // be lost without a trace: the load fails as a whole instead.
    if (!fatal && (!rejects.flush() || rejects.error() != QFileDevice::NoError)) {
        cannotWriteErrorFile(rejects, errorFile, e);
        fatal = true;
    }
    rejects.close();
    if (fatal || SqliteBackend::fileGone(db, e))
        return rollBack();
    rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        sqliteFailure(db, rc, e);
        return rollBack();
    }
    log << QStringLiteral("%1 rows read, %2 rows copied, %3 rows rejected.")
               .arg(rows)
               .arg(result.rowsCopied)
               .arg(result.rowsRejected);
    if (result.rowsRejected > 0)
        log << QStringLiteral("Rejected rows are in \"%1\".").arg(errorFile);
    log << QStringLiteral("Finished: %1").arg(stamp());
    writeLog(logFile, log);
    return true;
}

void setLoadWindowBytes(qsizetype bytes)
{
    g_loadWindowBytes = bytes > 0 ? bytes : kLoadWindowBytes;
}

} // namespace ov::embedded
