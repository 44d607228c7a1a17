#include "data/sqlite/TabFileLoader.h"

#include "common/Clock.h"
#include "common/Cp936.h"
#include "data/AdoTypes.h"
#include "data/DataBackend.h"
#include "data/FieldValue.h"
#include "data/Identifiers.h"
#include "data/sqlite/EmbeddedServer.h"
#include "data/sqlite/SqliteBackend.h"

#include <QFile>
#include <QStringList>

#include <cstring>
#include <sqlite3.h>
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
    sqlite3_stmt* stmt = nullptr;
    QByteArray value;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
        value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    sqlite3_finalize(stmt);
    return value;
}

// The pragmas of a bulk load, and the values they had before. The rollback
// journal stays on disk, where it survives a crash or a full disk in the
// middle of the commit: the next connection rolls the load back from it. A
// database whose journal was kept in memory or switched off gets one on disk
// for the load.
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
    }
    ~BulkPragmas()
    {
        if (!m_journal.isEmpty())
            sqlite3_exec(m_db, ("PRAGMA journal_mode=" + m_journal).constData(), nullptr, nullptr, nullptr);
        if (!m_cache.isEmpty())
            sqlite3_exec(m_db, ("PRAGMA cache_size=" + m_cache).constData(), nullptr, nullptr, nullptr);
    }
    BulkPragmas(const BulkPragmas&) = delete;
    BulkPragmas& operator=(const BulkPragmas&) = delete;

private:
    sqlite3* m_db;
    QByteArray m_journal;
    QByteArray m_cache;
};

void sqliteFailure(sqlite3* db, int rc, DataError& error)
{
    setDataError(error, sqlite3_extended_errcode(db) ? sqlite3_extended_errcode(db) : rc,
                 embedded::engineMessage(QString::fromUtf8(sqlite3_errmsg(db))), QStringLiteral("SQLite"));
}

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

    // The table's columns, in order, as the field checks take them.
    QStringList names;
    QVector<ColumnInfo> infos;
    {
        const QByteArray sql = ("PRAGMA table_info(" + doubleQuoted(table) + ")").toUtf8();
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.constData(), -1, &stmt, nullptr) == SQLITE_OK) {
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                ColumnInfo info;
                info.name = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)));
                const char* decl = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 2));
                info.type = sqlitevalue::typeFromDeclaration(decl ? decl : "");
                sqlitevalue::sizeFromDeclaration(decl ? decl : "", info.size, info.decimals);
                info.nullable = sqlite3_column_int(stmt, 3) == 0;
                names << info.name;
                infos.append(info);
            }
        }
        sqlite3_finalize(stmt);
    }
    DataError e;
    if (names.isEmpty()) {
        setDataError(e, 208, QStringLiteral("对象名 %1 无效：数据库中没有这个表。").arg(table),
                     QStringLiteral("SQLite"));
        return failed(e);
    }
    const int columns = int(names.size());

    QFile file(dataFile);
    if (!file.open(QIODevice::ReadOnly)) {
        setDataError(e, 4860,
                     QStringLiteral("无法批量导入：文件 %1 不存在，或者没有读取它的权限。").arg(dataFile),
                     QStringLiteral("SQLite"));
        return failed(e);
    }
    QFile rejects(errorFile);
    if (!rejects.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        setDataError(e, 4861, QStringLiteral("无法写入错误文件 %1：%2").arg(errorFile, rejects.errorString()),
                     QStringLiteral("SQLite"));
        return failed(e);
    }

    // The whole file at once: mapped when it can be, read otherwise.
    const qint64 size = file.size();
    QByteArray readBuffer;
    const char* data = nullptr;
    if (size > 0) {
        data = reinterpret_cast<const char*>(file.map(0, size));
        if (!data) {
            readBuffer = file.readAll();
            data = readBuffer.constData();
        }
    }
    const char* p = data;
    const char* const end = data ? data + size : nullptr;
    const bool utf8 = size >= 3 && cp936::hasUtf8Bom(QByteArray::fromRawData(data, 3));
    if (utf8)
        p += 3;
    // What each column takes, decided once for the whole file; a file
    // without a NUL byte needs no search for one in each text.
    const bool mayHoldNul = p && std::memchr(p, 0, size_t(end - p)) != nullptr;
    std::vector<FieldTextCheck> checks;
    checks.reserve(size_t(columns));
    for (const ColumnInfo& info : std::as_const(infos))
        checks.emplace_back(info, utf8, mayHoldNul);

    BulkPragmas pragmas(db);
    int rc = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        sqliteFailure(db, rc, e);
        return failed(e);
    }
    sqlite3_stmt* insert = nullptr;
    {
        QStringList quoted;
        for (const QString& n : names)
            quoted << doubleQuoted(n);
        const QByteArray sql = insertStatement(doubleQuoted(table), quoted).toUtf8();
        rc = sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &insert, nullptr);
        if (rc != SQLITE_OK) {
            sqliteFailure(db, rc, e);
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            return failed(e);
        }
    }

    auto reject = [&](qint64 row, const char* line, qsizetype length, const QString& reason) {
        ++result.rowsRejected;
        rejects.write(cp936::encode(QStringLiteral("#@ Row %1: %2 @#\r\n").arg(row).arg(reason)));
        rejects.write(line, length);
        rejects.write("\r\n", 2);
    };

    std::vector<const char*> starts(static_cast<size_t>(columns) + 1);
    std::vector<qsizetype> lengths(static_cast<size_t>(columns) + 1);
    std::vector<QByteArray> converted(static_cast<size_t>(columns));
    DataError fieldError;
    qint64 row = 0;
    bool fatal = false;
    while (p && p < end) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        const char* lineEnd = nl ? nl : end;
        const char* next = nl ? nl + 1 : end;
        qsizetype length = lineEnd - p;
        if (length > 0 && p[length - 1] == '\r')
            --length;
        if (!nl && length == 0)
            break;
        ++row;
        const char* line = p;
        p = next;

        // Split at tabs; one field more than the table has columns is enough
        // to tell the row is wrong.
        int fields = 0;
        const char* f = line;
        const char* const e2 = line + length;
        for (;;) {
            const char* tab = static_cast<const char*>(std::memchr(f, '\t', size_t(e2 - f)));
            const char* fieldEnd = tab ? tab : e2;
            if (fields <= columns) {
                starts[size_t(fields)] = f;
                lengths[size_t(fields)] = fieldEnd - f;
            }
            ++fields;
            if (!tab)
                break;
            f = tab + 1;
        }
        if (fields != columns) {
            reject(
                row, line, length,
                QStringLiteral("the row has %1 fields, the table has %2 columns").arg(fields).arg(columns));
            continue;
        }

        bool refused = false;
        for (int c = 0; c < columns; ++c) {
            const char* s = starts[size_t(c)];
            const qsizetype n = lengths[size_t(c)];
            const FieldTextCheck& check = checks[size_t(c)];
            if (!check.check(s, n, fieldError)) {
                refused = true;
                break;
            }
            if (n == 0) {
                sqlite3_bind_null(insert, c + 1);
                continue;
            }
            qint64 number = 0;
            int bit = -1;
            if (check.kind() == FieldTextCheck::Kind::Bit && (bit = FieldTextCheck::bitWord(s, n)) >= 0) {
                // The bit the word stands for, as SQL Server stores it, not
                // the text "true", which no query for 1 would find.
                sqlite3_bind_int(insert, c + 1, bit);
            } else if (check.kind() == FieldTextCheck::Kind::Integer && toInt64(s, s + n, number)) {
                // The value the column's affinity would make of the text,
                // without the engine parsing it again.
                sqlite3_bind_int64(insert, c + 1, number);
            } else if (utf8 || isAscii(s, n)) {
                sqlite3_bind_text(insert, c + 1, s, int(n), SQLITE_STATIC);
            } else {
                QByteArray& u = converted[size_t(c)];
                cp936::decodeToUtf8(s, n, u);
                sqlite3_bind_text(insert, c + 1, u.constData(), int(u.size()), SQLITE_STATIC);
            }
        }
        if (refused) {
            sqlite3_reset(insert);
            reject(row, line, length, fieldError.description);
            continue;
        }
        rc = sqlite3_step(insert);
        if (rc == SQLITE_DONE) {
            ++result.rowsCopied;
            sqlite3_reset(insert);
            continue;
        }
        const QString reason = embedded::engineMessage(QString::fromUtf8(sqlite3_errmsg(db)));
        sqlite3_reset(insert);
        const int primary = rc & 0xff;
        if (primary == SQLITE_CONSTRAINT || primary == SQLITE_MISMATCH || primary == SQLITE_TOOBIG ||
            primary == SQLITE_RANGE) {
            reject(row, line, length, reason);
            continue;
        }
        // Anything else (a full disk, an I/O error) ends the load.
        setDataError(e, rc, reason, QStringLiteral("SQLite"));
        fatal = true;
        break;
    }
    sqlite3_finalize(insert);
    // A rejected row that did not reach the error file (a full disk) would
    // be lost without a trace: the load fails as a whole instead.
    if (!fatal && (!rejects.flush() || rejects.error() != QFileDevice::NoError)) {
        setDataError(e, 4861, QStringLiteral("无法写入错误文件 %1：%2").arg(errorFile, rejects.errorString()),
                     QStringLiteral("SQLite"));
        fatal = true;
    }
    rejects.close();

    if (fatal) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        result.rowsCopied = 0;
        return failed(e);
    }
    if (SqliteBackend::fileGone(db, e)) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        result.rowsCopied = 0;
        return failed(e);
    }
    rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        sqliteFailure(db, rc, e);
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        result.rowsCopied = 0;
        return failed(e);
    }
    log << QStringLiteral("%1 rows read, %2 rows copied, %3 rows rejected.")
               .arg(row)
               .arg(result.rowsCopied)
               .arg(result.rowsRejected);
    if (result.rowsRejected > 0)
        log << QStringLiteral("Rejected rows are in \"%1\".").arg(errorFile);
    log << QStringLiteral("Finished: %1").arg(stamp());
    writeLog(logFile, log);
    return true;
}

} // namespace ov::embedded
