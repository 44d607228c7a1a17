#include "data/sqlite/SqliteBackend.h"

#include "data/sqlite/EmbeddedServer.h"
#include "data/sqlite/FileLock.h"
#include "data/sqlite/Statement.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QStringList>

#include <algorithm>
#include <climits>
#include <map>
#include <optional>
#include <sqlite3.h>
#include <utility>

namespace ov {

namespace {

const char* const kNoTransaction = "没有正在进行的事务。";
constexpr qint32 kNoTransactionNumber = -2147168242; // XACT_E_NOTRANSACTION

QString toText(const void* utf16, int bytes)
{
    return QString::fromUtf16(static_cast<const char16_t*>(utf16), bytes / 2);
}

// The busy time-out for a command time-out: waiting for another
// connection's lock counts against the same limit; no limit means waiting as
// long as it takes.
int busyTimeoutMs(int seconds)
{
    return seconds > 0 && seconds < INT_MAX / 1000 ? seconds * 1000 : INT_MAX;
}

bool isDateType(int type)
{
    return type == adDBTimeStamp || type == adDBDate || type == adDBTime || type == adDate;
}

// ---- cursor -----------------------------------------------------------------

// False when column i of stmt is a table's column declared NOT NULL.
bool nullableColumn(sqlite3_stmt* stmt, int i)
{
    const char* table = sqlite3_column_table_name(stmt, i);
    const char* column = sqlite3_column_origin_name(stmt, i);
    if (!table || !column)
        return true;
    int notNull = 0;
    if (sqlite3_table_column_metadata(sqlite3_db_handle(stmt), sqlite3_column_database_name(stmt, i), table,
                                      column, nullptr, nullptr, &notNull, nullptr, nullptr) != SQLITE_OK)
        return true;
    return notNull == 0;
}

class SqliteCursor : public SpoolingCursor
{
public:
    SqliteCursor(SqliteBackend* owner, embedded::Statement rows, int firstStep)
        : SpoolingCursor(owner), m_backend(owner), m_stmt(std::move(rows))
    {
        m_pending = firstStep;
        sqlite3_stmt* stmt = m_stmt.get();
        const int n = stmt ? sqlite3_column_count(stmt) : 0;
        for (int i = 0; i < n; ++i) {
            ColumnInfo col;
            col.name = QString::fromUtf8(sqlite3_column_name(stmt, i));
            const char* decl = sqlite3_column_decltype(stmt, i);
            if (decl) {
                col.type = sqlitevalue::typeFromDeclaration(decl);
                col.nativeType = SQLITE_NULL; // declared
                sqlitevalue::sizeFromDeclaration(decl, col.size, col.decimals);
                col.nullable = nullableColumn(stmt, i);
            } else {
                // An expression: its type is what the first row holds.
                const int storage = firstStep == SQLITE_ROW ? sqlite3_column_type(stmt, i) : SQLITE_TEXT;
                col.nativeType = storage;
                switch (storage) {
                case SQLITE_INTEGER:
                    col.type = adBigInt;
                    break;
                case SQLITE_FLOAT:
                    col.type = adDouble;
                    break;
                case SQLITE_BLOB:
                    col.type = adLongVarBinary;
                    break;
                default:
                    col.type = adVarWChar;
                    break;
                }
            }
            m_columns.append(col);
        }
    }
    ~SqliteCursor() override { detach(); }

    const QVector<ColumnInfo>& columns() const override { return m_columns; }

protected:
    bool live() const override { return bool(m_stmt); }

    Fetch fetchLive(QVector<QVariant>& row, DataError& error) override
    {
        int rc = m_pending;
        m_pending = -1;
        if (rc < 0)
            rc = sqlite3_step(m_stmt.get());
        if (rc == SQLITE_DONE) {
            release();
            return Fetch::End;
        }
        if (rc != SQLITE_ROW) {
            m_backend->sqliteError(rc, error);
            release();
            return Fetch::Failed;
        }
        row.resize(m_columns.size());
        for (int i = 0; i < m_columns.size(); ++i)
            row[i] = sqlitevalue::read(m_stmt.get(), i, m_columns[i].type);
        return Fetch::Row;
    }

    void release() override { m_stmt.clear(); }

private:
    SqliteBackend* m_backend;
    embedded::Statement m_stmt;
    int m_pending = -1;
    QVector<ColumnInfo> m_columns;
};

// ---- appender ---------------------------------------------------------------

class SqliteAppender : public AppendBackend
{
public:
    SqliteAppender(SqliteBackend* owner, QString table, QVector<ColumnInfo> columns)
        : AppendBackend(owner), m_backend(owner), m_table(std::move(table)), m_columns(std::move(columns))
    {}
    ~SqliteAppender() override { detach(); }

    bool insert(const QVector<QVariant>& values, const QVector<bool>& set, DataError& error) override
    {
        m_backend->spoolCursors();
        return store(values, set, error);
    }

    // Inside a transaction, rows that set the same columns go in up to
    // kBatchRows at a time through one insert of several rows: the engine's
    // work per statement is shared by the rows. When the engine refuses such
    // an insert (a key, a check, a value), it takes none of the rows back and
    // each row is stored again on its own, so that the refused rows and their
    // errors are those of storing the rows one after another; a refused row
    // does not stop the others. Outside a transaction each row is stored on
    // its own, at once.
    void insertRows(const QVector<QVector<QVariant>>& rows, const QVector<QVector<bool>>& sets,
                    QVector<DataError>& errors) override
    {
        m_backend->spoolCursors();
        errors = QVector<DataError>(rows.size());
        sqlite3* db = m_backend->handle();
        const bool batches = !sqlite3_get_autocommit(db) && rows.size() > 1 &&
                             !SqliteBackend::refusedInsertMayKeepRows(db, m_table);
        std::optional<StatementJournalInMemory> journal;
        if (batches)
            journal.emplace(db);
        for (qsizetype first = 0; first < rows.size();) {
            const QVector<bool> set = sets.value(first);
            qsizetype count = 1;
            if (batches && journal->held()) {
                const int columns = int(std::count(set.cbegin(), set.cend(), true));
                const qsizetype most = qBound(
                    1, sqlite3_limit(db, SQLITE_LIMIT_VARIABLE_NUMBER, -1) / qMax(columns, 1), kBatchRows);
                while (first + count < rows.size() && count < most && sets.value(first + count) == set)
                    ++count;
            }
            if (count < 2 || !storeMany(rows, first, int(count), set)) {
                for (qsizetype i = first; i < first + count; ++i)
                    store(rows[i], sets.value(i), errors[i]);
            }
            first += count;
        }
    }

protected:
    void release() override
    {
        m_stmt.clear();
        m_many.clear();
    }

private:
    // The most rows of one insert.
    static constexpr int kBatchRows = 64;

    // The statement journal of the inserts of several rows kept in memory for
    // as long as this lives: it holds what one statement changed, so that a
    // refused row takes back the others; written to a temporary file, as
    // SQLite does by default, it costs more than it saves. A change of the
    // setting would drop the connection's temporary objects; the engine
    // refuses it inside a transaction when there may be any, and then the
    // setting stays and held() is false.
    class StatementJournalInMemory
    {
    public:
        explicit StatementJournalInMemory(sqlite3* db) : m_db(db)
        {
            embedded::Statement stmt;
            if (stmt.prepare(db, "PRAGMA temp_store") != SQLITE_OK || sqlite3_step(stmt.get()) != SQLITE_ROW)
                return;
            m_before = sqlite3_column_int(stmt.get(), 0);
            if (m_before == 2) {
                m_held = true;
                return;
            }
            stmt.clear();
            // Inside a transaction the engine refuses the change when the
            // connection's temporary database is open, which is where
            // temporary objects would be; when it is not, there are none.
            m_changed = sqlite3_exec(db, "PRAGMA temp_store=MEMORY", nullptr, nullptr, nullptr) == SQLITE_OK;
            m_held = m_changed;
        }
        ~StatementJournalInMemory()
        {
            if (m_changed)
                sqlite3_exec(m_db, ("PRAGMA temp_store=" + QByteArray::number(m_before)).constData(), nullptr,
                             nullptr, nullptr);
        }
        StatementJournalInMemory(const StatementJournalInMemory&) = delete;
        StatementJournalInMemory& operator=(const StatementJournalInMemory&) = delete;

        bool held() const { return m_held; }

    private:
        sqlite3* m_db;
        int m_before = 0;
        bool m_changed = false;
        bool m_held = false;
    };

    // Binds the values of the columns of set to stmt's parameters after
    // index, moving index on. The UTF-8 of a text value is kept in texts (one
    // per column) until the statement has run, so that SQLite binds it
    // without a copy of its own.
    int bindRow(sqlite3_stmt* stmt, int& index, const QVector<QVariant>& values, const QVector<bool>& set,
                QByteArray* texts)
    {
        for (int i = 0; i < m_columns.size(); ++i) {
            if (!set.value(i))
                continue;
            const QVariant& v = values.value(i);
            int rc;
            if (v.typeId() == QMetaType::QString && !v.isNull()) {
                texts[i] = v.toString().toUtf8();
                rc = sqlite3_bind_text(stmt, ++index, texts[i].constData(), int(texts[i].size()),
                                       SQLITE_STATIC);
            } else {
                rc = sqlitevalue::bind(stmt, ++index, v);
            }
            if (rc != SQLITE_OK)
                return rc;
        }
        return SQLITE_OK;
    }

    // Stores count rows from first, all setting the columns of set, with one
    // statement; false, with nothing stored, when the engine refuses it.
    bool storeMany(const QVector<QVector<QVariant>>& rows, qsizetype first, int count,
                   const QVector<bool>& set)
    {
        sqlite3_stmt* stmt = prepareMany(set, count);
        if (!stmt)
            return false;
        m_manyTexts.resize(qsizetype(count) * m_columns.size());
        int index = 0;
        for (int r = 0; r < count; ++r) {
            if (bindRow(stmt, index, rows[first + r], set,
                        m_manyTexts.data() + qsizetype(r) * m_columns.size()) != SQLITE_OK) {
                sqlite3_reset(stmt);
                return false;
            }
        }
        const int rc = sqlite3_step(stmt);
        sqlite3_reset(stmt);
        return rc == SQLITE_DONE;
    }

    // The insert of count rows setting the columns of set; null when the
    // engine cannot prepare it.
    sqlite3_stmt* prepareMany(const QVector<bool>& set, int count)
    {
        if (set != m_manyFor) {
            m_many.clear();
            m_manyFor = set;
        }
        embedded::Statement& stmt = m_many[count];
        if (!stmt) {
            QStringList names;
            for (int i = 0; i < m_columns.size(); ++i) {
                if (set.value(i))
                    names.append(doubleQuoted(m_columns[i].name));
            }
            if (names.isEmpty())
                return nullptr;
            QString sql = insertStatement(doubleQuoted(m_table), names);
            const QString values = sql.mid(sql.lastIndexOf(QLatin1String(" VALUES ")) + 8);
            for (int r = 1; r < count; ++r)
                sql += QLatin1Char(',') + values;
            const QByteArray utf8 = sql.toUtf8();
            if (stmt.prepare(m_backend->handle(), utf8.constData(), int(utf8.size())) != SQLITE_OK)
                return nullptr;
        }
        return stmt.get();
    }

    bool store(const QVector<QVariant>& values, const QVector<bool>& set, DataError& error)
    {
        if (!prepareFor(set, error))
            return false;
        // Outside a transaction each row is stored at once; inside one, the
        // commit checks the file.
        sqlite3* db = sqlite3_db_handle(m_stmt.get());
        if (sqlite3_get_autocommit(db) && SqliteBackend::fileGone(db, error))
            return false;
        // Every parameter of the statement is bound again below, so the
        // previous row's values need no clearing.
        sqlite3_stmt* stmt = m_stmt.get();
        sqlite3_reset(stmt);
        int index = 0;
        m_texts.resize(m_columns.size());
        const int bound = bindRow(stmt, index, values, set, m_texts.data());
        if (bound != SQLITE_OK) {
            m_backend->sqliteError(bound, error);
            return false;
        }
        const int rc = sqlite3_step(stmt);
        if (rc != SQLITE_DONE) {
            m_backend->sqliteError(rc, error);
            sqlite3_reset(stmt);
            return false;
        }
        return true;
    }

    bool prepareFor(const QVector<bool>& set, DataError& error)
    {
        if (m_stmt && set == m_preparedFor)
            return true;
        release();
        QStringList names;
        for (int i = 0; i < m_columns.size(); ++i) {
            if (set.value(i))
                names.append(doubleQuoted(m_columns[i].name));
        }
        const QString sql = insertStatement(doubleQuoted(m_table), names);
        const QByteArray utf8 = sql.toUtf8();
        const int rc = m_stmt.prepare(m_backend->handle(), utf8.constData(), int(utf8.size()));
        if (rc != SQLITE_OK) {
            m_backend->sqliteError(rc, error);
            return false;
        }
        m_preparedFor = set;
        return true;
    }

    SqliteBackend* m_backend;
    QString m_table;
    QVector<ColumnInfo> m_columns;
    embedded::Statement m_stmt;
    QVector<bool> m_preparedFor;
    QVector<QByteArray> m_texts;
    std::map<int, embedded::Statement> m_many; // the inserts of several rows, by rows
    QVector<bool> m_manyFor;                   // the columns they set
    QVector<QByteArray> m_manyTexts;
};

// Runs the statements of a batch one after another, each to its end, as SQL
// Server runs a batch. With stopAtRows, the first statement that gives
// columns is stepped once and handed over in rows, firstStep its result, and
// the rest of the batch is not run. False, with error set, when a statement
// cannot be prepared or fails.
bool runBatch(SqliteBackend& backend, const QByteArray& sql, bool stopAtRows, embedded::Statement& rows,
              int& firstStep, DataError& error)
{
    const char* tail = sql.constData();
    const char* const end = tail + sql.size();
    embedded::Statement stmt;
    while (tail < end) {
        const char* next = nullptr;
        int rc = stmt.prepare(backend.handle(), tail, int(end - tail), &next);
        if (rc != SQLITE_OK) {
            backend.sqliteError(rc, error);
            return false;
        }
        if (!stmt) { // only blanks or comments were left
            if (next == tail)
                break;
            tail = next;
            continue;
        }
        tail = next;
        if (stopAtRows && sqlite3_column_count(stmt.get()) > 0) {
            rc = sqlite3_step(stmt.get());
            if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
                backend.sqliteError(rc, error);
                return false;
            }
            firstStep = rc;
            rows = std::move(stmt);
            return true;
        }
        while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        }
        if (rc != SQLITE_DONE) {
            backend.sqliteError(rc, error);
            return false;
        }
    }
    return true;
}

} // namespace

// ---- values -----------------------------------------------------------------

namespace sqlitevalue {

void sizeFromDeclaration(const char* declaredType, qint64& size, int& decimals)
{
    const QString decl = QString::fromUtf8(declaredType);
    const qsizetype open = decl.indexOf(QLatin1Char('('));
    const qsizetype close = decl.indexOf(QLatin1Char(')'), open + 1);
    if (open < 0 || close < 0) {
        // The date types without a size are described as SQL Server
        // describes them, so that their range can be told apart.
        static const QHash<QString, std::pair<qint64, int>> dateSizes = {
            {QStringLiteral("DATETIME"), {23, 3}},
            {QStringLiteral("SMALLDATETIME"), {16, 0}},
            {QStringLiteral("DATETIME2"), {27, 7}},
        };
        const auto it = dateSizes.constFind(decl.trimmed().toUpper());
        if (it != dateSizes.constEnd()) {
            size = it->first;
            decimals = it->second;
        }
        return;
    }
    const QStringList parts = decl.mid(open + 1, close - open - 1).split(QLatin1Char(','));
    bool ok = false;
    const qint64 n = parts.value(0).trimmed().toLongLong(&ok);
    if (!ok || n <= 0)
        return;
    size = n;
    const int d = parts.value(1).trimmed().toInt(&ok);
    if (parts.size() > 1 && ok && d >= 0 && d <= n)
        decimals = d;
}

int typeFromDeclaration(const char* declaredType)
{
    // The type's first word: up to a blank or the opening parenthesis of its size.
    const QString decl = QString::fromUtf8(declaredType).trimmed().toUpper();
    qsizetype cut = 0;
    while (cut < decl.size() && !decl.at(cut).isSpace() && decl.at(cut) != QLatin1Char('('))
        ++cut;
    const QString word = decl.left(cut);
    static const QHash<QString, int> types = {
        {QStringLiteral("BIT"), adBoolean},
        {QStringLiteral("BOOLEAN"), adBoolean},
        {QStringLiteral("TINYINT"), adUnsignedTinyInt},
        {QStringLiteral("SMALLINT"), adSmallInt},
        {QStringLiteral("INT"), adInteger},
        {QStringLiteral("INTEGER"), adInteger},
        {QStringLiteral("MEDIUMINT"), adInteger},
        {QStringLiteral("BIGINT"), adBigInt},
        {QStringLiteral("REAL"), adSingle},
        {QStringLiteral("FLOAT"), adDouble},
        {QStringLiteral("DOUBLE"), adDouble},
        {QStringLiteral("DECIMAL"), adNumeric},
        {QStringLiteral("NUMERIC"), adNumeric},
        {QStringLiteral("MONEY"), adCurrency},
        {QStringLiteral("SMALLMONEY"), adCurrency},
        {QStringLiteral("DATETIME"), adDBTimeStamp},
        {QStringLiteral("DATETIME2"), adDBTimeStamp},
        {QStringLiteral("SMALLDATETIME"), adDBTimeStamp},
        {QStringLiteral("TIMESTAMP"), adDBTimeStamp},
        {QStringLiteral("DATE"), adDBDate},
        {QStringLiteral("TIME"), adDBTime},
        {QStringLiteral("CHAR"), adChar},
        {QStringLiteral("NCHAR"), adWChar},
        {QStringLiteral("VARCHAR"), adVarChar},
        {QStringLiteral("NVARCHAR"), adVarWChar},
        {QStringLiteral("TEXT"), adLongVarChar},
        {QStringLiteral("NTEXT"), adLongVarWChar},
        {QStringLiteral("CLOB"), adLongVarWChar},
        {QStringLiteral("BINARY"), adBinary},
        {QStringLiteral("VARBINARY"), adVarBinary},
        {QStringLiteral("IMAGE"), adLongVarBinary},
        {QStringLiteral("BLOB"), adLongVarBinary},
        {QStringLiteral("UNIQUEIDENTIFIER"), adGUID},
    };
    const auto it = types.constFind(word);
    if (it != types.constEnd())
        return it.value();
    // SQLite's affinity rules for the rest.
    if (decl.contains(QLatin1String("INT")))
        return adInteger;
    if (decl.contains(QLatin1String("CHAR")) || decl.contains(QLatin1String("CLOB")) ||
        decl.contains(QLatin1String("TEXT")))
        return adVarWChar;
    if (decl.contains(QLatin1String("BLOB")) || decl.isEmpty())
        return adLongVarBinary;
    if (decl.contains(QLatin1String("REAL")) || decl.contains(QLatin1String("FLOA")) ||
        decl.contains(QLatin1String("DOUB")))
        return adDouble;
    return adNumeric;
}

QVariant read(sqlite3_stmt* stmt, int column, int fieldType)
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_NULL:
        return QVariant();
    case SQLITE_INTEGER: {
        const qlonglong v = sqlite3_column_int64(stmt, column);
        if (fieldType == adBoolean)
            return QVariant(v != 0);
        if ((fieldType == adInteger || fieldType == adSmallInt || fieldType == adTinyInt ||
             fieldType == adUnsignedTinyInt) &&
            v >= INT_MIN && v <= INT_MAX)
            return QVariant(int(v));
        return QVariant(v);
    }
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt, column));
    case SQLITE_BLOB: {
        const void* data = sqlite3_column_blob(stmt, column);
        const int size = sqlite3_column_bytes(stmt, column);
        return QVariant(QByteArray(static_cast<const char*>(data), size));
    }
    default: {
        const void* data = sqlite3_column_text16(stmt, column);
        const QString text = toText(data, sqlite3_column_bytes16(stmt, column));
        if (isDateType(fieldType)) {
            // Dates are kept as ISO texts ("2006-01-01 12:00:00.000").
            QString iso = text.trimmed();
            if (iso.size() > 10 && iso[10] == QLatin1Char(' '))
                iso[10] = QLatin1Char('T');
            if (iso.size() == 10) {
                const QDate d = QDate::fromString(iso, Qt::ISODate);
                if (d.isValid())
                    return fieldType == adDBDate ? QVariant(d) : QVariant(QDateTime(d, QTime(0, 0)));
            } else if (fieldType == adDBTime) {
                const QTime t = QTime::fromString(iso, Qt::ISODateWithMs);
                if (t.isValid())
                    return QVariant(t);
            } else {
                const QDateTime dt = QDateTime::fromString(iso, Qt::ISODateWithMs);
                if (dt.isValid())
                    return QVariant(dt);
            }
        }
        return QVariant(text);
    }
    }
}

int bind(sqlite3_stmt* stmt, int index, const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return sqlite3_bind_null(stmt, index);
    switch (value.typeId()) {
    case QMetaType::Bool:
        return sqlite3_bind_int(stmt, index, value.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::UChar:
        return sqlite3_bind_int64(stmt, index, value.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return sqlite3_bind_double(stmt, index, value.toDouble());
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return sqlite3_bind_blob(stmt, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
    }
    case QMetaType::QDateTime: {
        // Written from the date and time parts straight into the text: this
        // runs once per date of every stored row, and the general formatter
        // parses its pattern each time. Years of four digits, as SQLite's
        // date functions read them.
        const QDateTime dt = value.toDateTime();
        const QTime t = dt.time();
        int year = 0, month = 0, day = 0;
        dt.date().getDate(&year, &month, &day);
        if (year >= 1 && year <= 9999) {
            char text[24];
            char* p = text;
            const auto put = [&p](int number, int digits) {
                for (int i = digits - 1; i >= 0; --i, number /= 10)
                    p[i] = char('0' + number % 10);
                p += digits;
            };
            put(year, 4);
            *p++ = '-';
            put(month, 2);
            *p++ = '-';
            put(day, 2);
            *p++ = ' ';
            put(t.hour(), 2);
            *p++ = ':';
            put(t.minute(), 2);
            *p++ = ':';
            put(t.second(), 2);
            if (t.msec()) {
                *p++ = '.';
                put(t.msec(), 3);
            }
            return sqlite3_bind_text(stmt, index, text, int(p - text), SQLITE_TRANSIENT);
        }
        const QString text = dt.toString(t.msec() ? QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")
                                                  : QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const QByteArray utf8 = text.toUtf8();
        return sqlite3_bind_text(stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    case QMetaType::QDate: {
        const QByteArray utf8 = value.toDate().toString(Qt::ISODate).toUtf8();
        return sqlite3_bind_text(stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    case QMetaType::QTime: {
        const QByteArray utf8 = value.toTime().toString(QStringLiteral("HH:mm:ss")).toUtf8();
        return sqlite3_bind_text(stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    default: {
        // The database keeps UTF-8: Qt's conversion is quicker than the one
        // SQLite makes of a UTF-16 value.
        const QByteArray utf8 = value.toString().toUtf8();
        return sqlite3_bind_text(stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    }
}

} // namespace sqlitevalue

// ---- connection -------------------------------------------------------------

SqliteBackend::SqliteBackend(sqlite3* db, QString path, int commandTimeout,
                             std::unique_ptr<embedded::FileLock> useLock)
    : m_db(db), m_path(std::move(path)), m_useLock(std::move(useLock))
{
    sqlite3_progress_handler(m_db, 1000, &SqliteBackend::progress, this);
    // Every commit looks for a moved file, also one a batch of the caller's
    // own (COMMIT, END) makes inside a transaction.
    sqlite3_commit_hook(m_db, &SqliteBackend::beforeCommit, this);
    setCommandTimeout(commandTimeout);
}

SqliteBackend::~SqliteBackend()
{
    close();
}

std::unique_ptr<SqliteBackend> SqliteBackend::open(const QString& folder, const QString& database,
                                                   int commandTimeout, DataError& error)
{
    const QString name = unquotedName(database);
    // A server whose folder is not there cannot be reached, not even for its
    // Tempdb.
    if (!QFileInfo(folder).isDir()) {
        setDataError(
            error, 17,
            QStringLiteral("内置数据库服务器的文件夹 %1 不存在：请检查“服务器”框中 sqlite: 后面的文件夹。")
                .arg(folder),
            embedded::errorSource());
        return nullptr;
    }
    if (embedded::isTempdb(name))
        return openFile(QStringLiteral(":memory:"), true, commandTimeout, error);
    if (!embedded::checkName(name, QStringLiteral("数据库"), error))
        return nullptr;
    const QString file = embedded::findDatabaseFile(folder, name);
    if (file.isEmpty()) {
        setDataError(error, 4060,
                     QStringLiteral("无法打开登录请求的数据库 %1，登录失败：文件夹 %2 "
                                    "中没有这个名称的数据库，请检查“数据库”框中的名称。")
                         .arg(name, folder),
                     embedded::errorSource());
        return nullptr;
    }
    return openFile(file, false, commandTimeout, error);
}

std::unique_ptr<SqliteBackend> SqliteBackend::openFile(const QString& path, bool create, int commandTimeout,
                                                       DataError& error)
{
    const bool memory = path == QLatin1String(":memory:");
    // The database is in use from here on. While a restore or a drop has it
    // for itself, it cannot be opened, as a database being restored cannot on
    // SQL Server. A lock file that cannot be made (a folder the user may only
    // read) leaves the connection without the lock.
    auto useLock = std::make_unique<embedded::FileLock>();
    if (!memory && useLock->take(embedded::useLockFile(QFileInfo(path).absoluteFilePath()),
                                 embedded::FileLock::Mode::Shared) == embedded::FileLock::Result::Busy) {
        setDataError(error, 927,
                     QStringLiteral("无法打开数据库文件 %1：该数据库正在被还原或删除。").arg(path),
                     embedded::errorSource());
        return nullptr;
    }
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    const QByteArray file = path.toUtf8();
    int rc = sqlite3_open_v2(file.constData(), &db, flags, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_extended_result_codes(db, 1);
        // Another connection's lock is waited for from the first statement on.
        sqlite3_busy_timeout(db, busyTimeoutMs(commandTimeout));
        // Reading the schema tells a database from any other file now rather
        // than at the first statement.
        rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
        setDataError(error, db ? sqlite3_extended_errcode(db) : rc,
                     QStringLiteral("%1 (%2)").arg(embedded::engineMessage(QString::fromUtf8(
                                                       db ? sqlite3_errmsg(db) : sqlite3_errstr(rc))),
                                                   path),
                     QStringLiteral("SQLite"));
        error.machineFailure = isSqliteMachineFailure(error.number);
        sqlite3_close_v2(db);
        return nullptr;
    }
    return std::unique_ptr<SqliteBackend>(new SqliteBackend(
        db, memory ? QString() : QFileInfo(path).absoluteFilePath(), commandTimeout, std::move(useLock)));
}

void SqliteBackend::closeConnection()
{
    if (m_db) {
        if (!sqlite3_get_autocommit(m_db))
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close_v2(m_db);
    }
    m_db = nullptr;
    m_useLock.reset();
}

void SqliteBackend::setCommandTimeout(int seconds)
{
    m_commandTimeout = seconds;
    sqlite3_busy_timeout(m_db, busyTimeoutMs(seconds));
}

int SqliteBackend::progress(void* self)
{
    auto* b = static_cast<SqliteBackend*>(self);
    if (b->m_armed && b->m_clock.elapsed() > qint64(b->m_commandTimeout) * 1000) {
        b->m_timedOut = true;
        return 1;
    }
    return 0;
}

int SqliteBackend::beforeCommit(void* self)
{
    auto* b = static_cast<SqliteBackend*>(self);
    DataError error;
    if (!fileGone(b->m_db, error))
        return 0;
    // Non-zero turns the commit into a rollback.
    b->m_fileGoneAtCommit = error;
    return 1;
}

void SqliteBackend::arm()
{
    m_fileGoneAtCommit.reset();
    m_timedOut = false;
    m_armed = m_commandTimeout > 0;
    if (m_armed)
        m_clock.start();
}

void SqliteBackend::disarm()
{
    m_armed = false;
}

void SqliteBackend::sqliteError(int code, DataError& error) const
{
    if (m_fileGoneAtCommit) {
        error = *std::exchange(m_fileGoneAtCommit, std::nullopt);
        return;
    }
    if (m_timedOut && (code & 0xff) == SQLITE_INTERRUPT) {
        setDataError(error, DataErr::QueryTimeout, QStringLiteral("查询超时"), QStringLiteral("SQLite"));
        return;
    }
    const int extended = sqlite3_extended_errcode(m_db);
    // The engine refuses to write into a file that was moved or deleted
    // (inside a transaction nothing looks before it does): said as such.
    if (extended == SQLITE_READONLY_DBMOVED && fileGone(m_db, error))
        return;
    setDataError(error, extended != SQLITE_OK ? extended : code,
                 embedded::engineMessage(QString::fromUtf8(sqlite3_errmsg(m_db))), QStringLiteral("SQLite"));
    error.machineFailure = isSqliteMachineFailure(error.number);
}

QString SqliteBackend::catalogQuery() const
{
    return embedded::catalogStatement();
}

bool SqliteBackend::execute(const QString& batch, DataError& error)
{
    // Outside a transaction each statement is stored at once and the file
    // is looked at first; inside one, the commit looks at it.
    if (sqlite3_get_autocommit(m_db) && fileGone(m_db, error))
        return false;
    spoolCursors();
    arm();
    embedded::Statement rows;
    int firstStep = SQLITE_DONE;
    const bool ok = runBatch(*this, batch.toUtf8(), false, rows, firstStep, error);
    disarm();
    return ok;
}

bool SqliteBackend::fileGone(sqlite3* db, DataError& error)
{
    int moved = 0;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) != SQLITE_OK || !moved)
        return false;
    setDataError(error, SQLITE_READONLY_DBMOVED,
                 QStringLiteral("数据库文件 %1 在打开期间被删除或替换了。")
                     .arg(QString::fromUtf8(sqlite3_db_filename(db, "main"))),
                 QStringLiteral("SQLite"));
    return true;
}

bool SqliteBackend::refusedInsertMayKeepRows(sqlite3* db, const QString& table)
{
    // "FAIL" anywhere in the table's definition is taken as ON CONFLICT FAIL;
    // a column of that name only costs the speed of several rows a statement.
    static const char kSql[] =
        "SELECT 1 FROM sqlite_schema WHERE (type = 'trigger' AND tbl_name = ?1 COLLATE NOCASE) "
        "OR (type = 'table' AND name = ?1 COLLATE NOCASE AND sql LIKE '%FAIL%') "
        "UNION ALL SELECT 1 FROM sqlite_temp_schema WHERE type = 'trigger' AND tbl_name = ?1 COLLATE NOCASE";
    embedded::Statement stmt;
    if (stmt.prepare(db, kSql) != SQLITE_OK)
        return true;
    const QByteArray name = table.toUtf8();
    sqlite3_bind_text(stmt.get(), 1, name.constData(), int(name.size()), SQLITE_STATIC);
    return sqlite3_step(stmt.get()) != SQLITE_DONE;
}

std::unique_ptr<CursorBackend> SqliteBackend::query(const QString& text, DataError& error)
{
    // A query text may change data before its SELECT.
    if (fileGone(m_db, error))
        return nullptr;
    spoolCursors();
    arm();
    // The first statement with columns gives the rows; the rest of the text
    // is not run.
    embedded::Statement rows;
    int firstStep = SQLITE_DONE;
    const bool ok = runBatch(*this, text.toUtf8(), true, rows, firstStep, error);
    disarm();
    if (!ok)
        return nullptr;
    return std::make_unique<SqliteCursor>(this, std::move(rows), firstStep);
}

std::unique_ptr<AppendBackend> SqliteBackend::appender(const QString& table,
                                                       const QVector<ColumnInfo>& columns, DataError&)
{
    return std::make_unique<SqliteAppender>(this, table, columns);
}

bool SqliteBackend::beginTrans(DataError& error)
{
    if (!sqlite3_get_autocommit(m_db)) {
        setDataError(error, DataErr::NotSupported, QStringLiteral("这个连接上已经有一个事务，事务不能嵌套。"),
                     QStringLiteral("SQLite"));
        return false;
    }
    spoolCursors();
    const int rc = sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        sqliteError(rc, error);
        return false;
    }
    return true;
}

bool SqliteBackend::endTransaction(const char* sql, DataError& error)
{
    if (sqlite3_get_autocommit(m_db)) {
        setDataError(error, kNoTransactionNumber, QString::fromUtf8(kNoTransaction),
                     QStringLiteral("SQLite"));
        return false;
    }
    spoolCursors();
    // A commit into a file that is no longer there is rolled back instead.
    if (qstrcmp(sql, "COMMIT") == 0 && fileGone(m_db, error)) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    m_fileGoneAtCommit.reset();
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        sqliteError(rc, error);
        return false;
    }
    return true;
}

bool SqliteBackend::commitTrans(DataError& error)
{
    return endTransaction("COMMIT", error);
}

bool SqliteBackend::rollbackTrans(DataError& error)
{
    return endTransaction("ROLLBACK", error);
}

} // namespace ov
