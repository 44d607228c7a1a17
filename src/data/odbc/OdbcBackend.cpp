#include "data/odbc/OdbcBackend.h"

#include "data/odbc/MssqlStatements.h"
#include "data/sqlite/EmbeddedServer.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <sql.h>
#include <sqlext.h>

namespace ov {

namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager must use 16-bit wide characters");

SQLWCHAR* wide(const QString& text)
{
    return reinterpret_cast<SQLWCHAR*>(
        const_cast<char16_t*>(reinterpret_cast<const char16_t*>(text.utf16())));
}

QString fromWide(const SQLWCHAR* text, qsizetype length)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(text), length);
}

// One environment for the whole process, made on first use.
SQLHENV environment(DataError& error)
{
    static SQLHENV env = [] {
        SQLHENV h = SQL_NULL_HENV;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h)))
            return SQLHENV(SQL_NULL_HENV);
        SQLSetEnvAttr(h, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        return h;
    }();
    if (env == SQL_NULL_HENV)
        setDataError(error, DataErr::ProviderFailure,
                     QStringLiteral("The ODBC driver manager cannot be loaded."), QStringLiteral("ODBC"));
    return env;
}

bool isSequenceError(SQLSMALLINT type, SQLHANDLE handle)
{
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRecW(type, handle, 1, state, &native, nullptr, 0, &len)))
        return false;
    return fromWide(state, 5) == QLatin1String("HY010");
}

// Drains the remaining results of a statement. The first error found is kept
// in error (when it holds none yet); returns false when there was one.
bool drainResults(SQLHSTMT stmt, DataError& error)
{
    bool ok = true;
    // A batch has a result per statement; the bound only protects against a
    // driver that never says it is done.
    for (int i = 0; i < 1000000; ++i) {
        const SQLRETURN r = SQLMoreResults(stmt);
        if (r == SQL_NO_DATA || r == SQL_INVALID_HANDLE)
            break;
        if (r == SQL_ERROR) {
            if (isSequenceError(SQL_HANDLE_STMT, stmt))
                break;
            if (ok && !error.isSet())
                odbcDiagnostics(SQL_HANDLE_STMT, stmt, error);
            ok = false;
        }
    }
    return ok;
}

int adoType(SQLSMALLINT sqlType)
{
    switch (sqlType) {
    case SQL_SMALLINT:
        return adSmallInt;
    case SQL_INTEGER:
        return adInteger;
    case SQL_TINYINT:
        return adUnsignedTinyInt;
    case SQL_BIGINT:
        return adBigInt;
    case SQL_REAL:
        return adSingle;
    case SQL_FLOAT:
    case SQL_DOUBLE:
        return adDouble;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        return adNumeric;
    case SQL_BIT:
        return adBoolean;
    case SQL_TYPE_DATE:
    case SQL_DATE:
        return adDBDate;
    case SQL_TYPE_TIME:
    case SQL_TIME:
        return adDBTime;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
        return adDBTimeStamp;
    case SQL_CHAR:
        return adChar;
    case SQL_VARCHAR:
        return adVarChar;
    case SQL_LONGVARCHAR:
        return adLongVarChar;
    case SQL_WCHAR:
        return adWChar;
    case SQL_WVARCHAR:
        return adVarWChar;
    case SQL_WLONGVARCHAR:
        return adLongVarWChar;
    case SQL_BINARY:
        return adBinary;
    case SQL_VARBINARY:
        return adVarBinary;
    case SQL_LONGVARBINARY:
        return adLongVarBinary;
    case SQL_GUID:
        return adGUID;
    default:
        return adVarWChar; // read as text
    }
}

bool isCharType(SQLSMALLINT sqlType)
{
    switch (sqlType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
        return true;
    default:
        return false;
    }
}

QString quoteIdentifier(const QString& name)
{
    QString n = name;
    n.replace(QLatin1String("]"), QLatin1String("]]"));
    return QLatin1Char('[') + n + QLatin1Char(']');
}

// Reads one column of the current row with SQLGetData.
bool readColumn(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT sqlType, QVariant& value, DataError& error)
{
    SQLLEN ind = 0;
    SQLRETURN r = SQL_SUCCESS;
    auto failed = [&] {
        odbcDiagnostics(SQL_HANDLE_STMT, stmt, error);
        return false;
    };
    switch (adoType(sqlType)) {
    case adSmallInt:
    case adInteger:
    case adUnsignedTinyInt:
    case adBigInt: {
        SQLBIGINT v = 0;
        r = SQLGetData(stmt, column, SQL_C_SBIGINT, &v, sizeof v, &ind);
        if (!SQL_SUCCEEDED(r))
            return failed();
        if (ind == SQL_NULL_DATA)
            value = QVariant();
        else if (sqlType == SQL_BIGINT)
            value = QVariant(qlonglong(v));
        else
            value = QVariant(int(v));
        return true;
    }
    case adSingle:
    case adDouble: {
        double v = 0;
        r = SQLGetData(stmt, column, SQL_C_DOUBLE, &v, sizeof v, &ind);
        if (!SQL_SUCCEEDED(r))
            return failed();
        value = ind == SQL_NULL_DATA ? QVariant() : QVariant(v);
        return true;
    }
    case adBoolean: {
        unsigned char v = 0;
        r = SQLGetData(stmt, column, SQL_C_BIT, &v, sizeof v, &ind);
        if (!SQL_SUCCEEDED(r))
            return failed();
        value = ind == SQL_NULL_DATA ? QVariant() : QVariant(v != 0);
        return true;
    }
    case adDBDate:
    case adDBTime:
    case adDBTimeStamp: {
        SQL_TIMESTAMP_STRUCT ts = {};
        r = SQLGetData(stmt, column, SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts, &ind);
        if (!SQL_SUCCEEDED(r))
            return failed();
        if (ind == SQL_NULL_DATA) {
            value = QVariant();
        } else {
            const QDate date(ts.year, ts.month, ts.day);
            const QTime time(ts.hour, ts.minute, ts.second, int(ts.fraction / 1000000));
            if (sqlType == SQL_TYPE_DATE || sqlType == SQL_DATE)
                value = QVariant(date);
            else if (sqlType == SQL_TYPE_TIME || sqlType == SQL_TIME)
                value = QVariant(time);
            else
                value = QVariant(QDateTime(date, time));
        }
        return true;
    }
    case adBinary:
    case adVarBinary:
    case adLongVarBinary: {
        QByteArray bytes;
        char buf[8192];
        for (;;) {
            r = SQLGetData(stmt, column, SQL_C_BINARY, buf, sizeof buf, &ind);
            if (r == SQL_NO_DATA)
                break;
            if (!SQL_SUCCEEDED(r))
                return failed();
            if (ind == SQL_NULL_DATA) {
                value = QVariant();
                return true;
            }
            const bool more = ind == SQL_NO_TOTAL || ind > SQLLEN(sizeof buf);
            bytes.append(buf, more ? qsizetype(sizeof buf) : qsizetype(ind));
            if (!more)
                break;
        }
        value = QVariant(bytes);
        return true;
    }
    default: {
        // Text, and everything without a better C type (decimals, GUIDs),
        // as the driver writes it.
        QString text;
        SQLWCHAR buf[4096];
        const SQLLEN capacity = SQLLEN(sizeof buf / sizeof buf[0]) - 1; // room for the terminator
        for (;;) {
            r = SQLGetData(stmt, column, SQL_C_WCHAR, buf, sizeof buf, &ind);
            if (r == SQL_NO_DATA)
                break;
            if (!SQL_SUCCEEDED(r))
                return failed();
            if (ind == SQL_NULL_DATA) {
                value = QVariant();
                return true;
            }
            const SQLLEN chars = ind == SQL_NO_TOTAL ? capacity : ind / SQLLEN(sizeof(SQLWCHAR));
            const bool more = chars > capacity;
            text += fromWide(buf, more ? capacity : chars);
            if (!more)
                break;
        }
        value = QVariant(text);
        return true;
    }
    }
}

} // namespace

void odbcDiagnostics(short handleType, void* handle, DataError& error)
{
    QStringList messages;
    qint32 number = 0;
    QString firstState;
    for (SQLSMALLINT i = 1; i < 50; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        SQLWCHAR message[2048];
        SQLRETURN r = SQLGetDiagRecW(handleType, handle, i, state, &native, message,
                                     SQLSMALLINT(sizeof message / sizeof message[0]), &length);
        if (!SQL_SUCCEEDED(r))
            break;
        QString text;
        if (length >= SQLSMALLINT(sizeof message / sizeof message[0])) {
            QVector<SQLWCHAR> longer(length + 1);
            SQLGetDiagRecW(handleType, handle, i, state, &native, longer.data(), SQLSMALLINT(longer.size()),
                           &length);
            text = fromWide(longer.constData(), length);
        } else {
            text = fromWide(message, length);
        }
        if (firstState.isEmpty())
            firstState = fromWide(state, 5);
        if (number == 0 && native != 0)
            number = native;
        text = text.trimmed();
        if (!text.isEmpty() && !messages.contains(text))
            messages.append(text);
    }
    error.number = number != 0 ? number : DataErr::ProviderFailure;
    error.description = messages.isEmpty()
                            ? QStringLiteral("The ODBC driver reported an error without a message.")
                            : messages.join('\n');
    error.source = firstState.isEmpty() ? QStringLiteral("ODBC") : QStringLiteral("ODBC ") + firstState;
}

// ---- cursor -----------------------------------------------------------------

class OdbcCursor : public SpoolingCursor
{
public:
    OdbcCursor(OdbcBackend* owner, SQLHSTMT stmt, QVector<ColumnInfo> columns)
        : SpoolingCursor(owner), m_stmt(stmt), m_columns(std::move(columns))
    {}
    ~OdbcCursor() override { detach(); }

    const QVector<ColumnInfo>& columns() const override { return m_columns; }

protected:
    void release() override { freeStatement(); }
    bool live() const override { return m_stmt != nullptr; }

    Fetch fetchLive(QVector<QVariant>& row, DataError& error) override
    {
        const SQLRETURN r = SQLFetch(m_stmt);
        if (r == SQL_NO_DATA) {
            freeStatement();
            return Fetch::End;
        }
        if (!SQL_SUCCEEDED(r)) {
            odbcDiagnostics(SQL_HANDLE_STMT, m_stmt, error);
            freeStatement();
            return Fetch::Failed;
        }
        row.resize(m_columns.size());
        for (int i = 0; i < m_columns.size(); ++i) {
            if (!readColumn(m_stmt, SQLUSMALLINT(i + 1), SQLSMALLINT(m_columns[i].nativeType), row[i],
                            error)) {
                freeStatement();
                return Fetch::Failed;
            }
        }
        return Fetch::Row;
    }

private:
    void freeStatement()
    {
        if (!m_stmt)
            return;
        // Later results of the batch are dropped with the statement.
        SQLFreeHandle(SQL_HANDLE_STMT, m_stmt);
        m_stmt = nullptr;
    }

    SQLHSTMT m_stmt;
    QVector<ColumnInfo> m_columns;
};

// ---- appender ---------------------------------------------------------------

class OdbcAppender : public AppendBackend
{
public:
    OdbcAppender(OdbcBackend* owner, QString table, QVector<ColumnInfo> columns)
        : AppendBackend(owner), m_backend(owner), m_table(std::move(table)), m_columns(std::move(columns)),
          m_arrays(owner->dbmsName().contains(QLatin1String("SQL Server"), Qt::CaseInsensitive))
    {}
    ~OdbcAppender() override { detach(); }

    bool insert(const QVector<QVariant>& values, const QVector<bool>& set, DataError& error) override
    {
        m_backend->spoolCursors();
        if (!prepareFor(set, error))
            return false;
        // Buffers that must live until SQLExecute has sent the row.
        struct Param
        {
            QByteArray data;
            SQLLEN ind = 0;
        };
        QVector<Param> params(m_columns.size());
        SQLFreeStmt(m_stmt, SQL_RESET_PARAMS);
        SQLUSMALLINT number = 0;
        for (int i = 0; i < m_columns.size(); ++i) {
            if (!set.value(i))
                continue;
            ++number;
            const ColumnInfo& col = m_columns[i];
            const QVariant& v = values[i];
            Param& p = params[i];
            SQLSMALLINT cType = SQL_C_WCHAR;
            SQLULEN size = SQLULEN(qMax<qint64>(col.size, 1));
            const SQLSMALLINT sqlType = SQLSMALLINT(col.nativeType);
            if (!v.isValid() || v.isNull()) {
                cType = SQL_C_CHAR;
                p.ind = SQL_NULL_DATA;
            } else {
                switch (v.typeId()) {
                case QMetaType::Bool: {
                    const unsigned char b = v.toBool() ? 1 : 0;
                    p.data = QByteArray(reinterpret_cast<const char*>(&b), 1);
                    cType = SQL_C_BIT;
                    break;
                }
                case QMetaType::Int:
                case QMetaType::UInt:
                case QMetaType::LongLong:
                case QMetaType::ULongLong:
                case QMetaType::Short:
                case QMetaType::UShort:
                case QMetaType::Char:
                case QMetaType::UChar: {
                    const SQLBIGINT n = v.toLongLong();
                    p.data = QByteArray(reinterpret_cast<const char*>(&n), sizeof n);
                    cType = SQL_C_SBIGINT;
                    break;
                }
                case QMetaType::Double:
                case QMetaType::Float: {
                    const double d = v.toDouble();
                    p.data = QByteArray(reinterpret_cast<const char*>(&d), sizeof d);
                    cType = SQL_C_DOUBLE;
                    break;
                }
                case QMetaType::QDateTime:
                case QMetaType::QDate:
                case QMetaType::QTime: {
                    const SQL_TIMESTAMP_STRUCT ts = timestampOf(v);
                    p.data = QByteArray(reinterpret_cast<const char*>(&ts), sizeof ts);
                    cType = SQL_C_TYPE_TIMESTAMP;
                    break;
                }
                case QMetaType::QByteArray:
                    p.data = v.toByteArray();
                    cType = SQL_C_BINARY;
                    if (isCharType(sqlType))
                        size = SQLULEN(qMax<qsizetype>(p.data.size(), 1));
                    break;
                default: {
                    const QString s = v.toString();
                    p.data = QByteArray(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
                    cType = SQL_C_WCHAR;
                    if (isCharType(sqlType))
                        size = SQLULEN(qMax<qsizetype>(s.size(), 1));
                    break;
                }
                }
                p.ind = SQLLEN(p.data.size());
            }
            const SQLRETURN r = SQLBindParameter(
                m_stmt, number, SQL_PARAM_INPUT, cType, sqlType, size, SQLSMALLINT(col.decimals),
                p.ind == SQL_NULL_DATA ? nullptr : SQLPOINTER(p.data.data()), SQLLEN(p.data.size()), &p.ind);
            if (!SQL_SUCCEEDED(r)) {
                odbcDiagnostics(SQL_HANDLE_STMT, m_stmt, error);
                return false;
            }
        }
        const SQLRETURN r = SQLExecute(m_stmt);
        bool ok = true;
        if (!SQL_SUCCEEDED(r) && r != SQL_NO_DATA) {
            odbcDiagnostics(SQL_HANDLE_STMT, m_stmt, error);
            ok = false;
        }
        if (!drainResults(m_stmt, error))
            ok = false;
        SQLFreeStmt(m_stmt, SQL_CLOSE);
        return ok;
    }

    // On SQL Server, runs of rows with the same set columns, whose values bind
    // to the same C types, go as parameter arrays of the one prepared insert:
    // one call for the run instead of one per row. The driver's status array
    // tells which rows were refused; rows it did not run are sent one by one.
    // Other DBMSs get the rows one at a time: drivers differ in what they
    // report of a failing array (the SQLite driver fills no status array and
    // counts the processed rows without the failing one), and only a reliable
    // answer keeps "a refused row is left out, the others are stored".
    void insertRows(const QVector<QVector<QVariant>>& rows, const QVector<QVector<bool>>& sets,
                    QVector<DataError>& errors) override
    {
        errors = QVector<DataError>(rows.size());
        qsizetype start = 0;
        while (start < rows.size()) {
            QVector<BindClass> classes(m_columns.size(), BindClass::Null);
            qsizetype end = start;
            while (end < rows.size() && end - start < kMaxArrayRows && sets.value(end) == sets.value(start) &&
                   fitsRun(rows[end], sets.value(end), classes))
                ++end;
            if (end == start)
                end = start + 1;
            if (m_arrays && end - start > 1) {
                insertArray(rows, sets.value(start), classes, start, end, errors);
            } else {
                for (qsizetype i = start; i < end; ++i)
                    insert(rows[i], sets.value(i), errors[i]);
            }
            start = end;
        }
    }

protected:
    void release() override { freeStatement(); }

private:
    // How a value is handed to the driver; the same choice as insert makes
    // for a single row.
    enum class BindClass
    {
        Null,
        Bit,
        Integer,
        Double,
        Timestamp,
        Binary,
        Text,
    };
    static constexpr qsizetype kMaxArrayRows = 1000;
    // Longer texts go one row at a time rather than into an array of
    // elements that wide.
    static constexpr qsizetype kMaxArrayText = 4000;
    static constexpr SQLUSMALLINT kNoStatus = 0xFFFF;

    static BindClass classOf(const QVariant& v)
    {
        if (!v.isValid() || v.isNull())
            return BindClass::Null;
        switch (v.typeId()) {
        case QMetaType::Bool:
            return BindClass::Bit;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Char:
        case QMetaType::UChar:
            return BindClass::Integer;
        case QMetaType::Double:
        case QMetaType::Float:
            return BindClass::Double;
        case QMetaType::QDateTime:
        case QMetaType::QDate:
        case QMetaType::QTime:
            return BindClass::Timestamp;
        case QMetaType::QByteArray:
            return BindClass::Binary;
        default:
            return BindClass::Text;
        }
    }

    // True when every set value of row binds like the run so far (classes
    // holds the run's class per column and takes this row's where it had none).
    bool fitsRun(const QVector<QVariant>& row, const QVector<bool>& set, QVector<BindClass>& classes) const
    {
        QVector<BindClass> next = classes;
        for (int i = 0; i < m_columns.size(); ++i) {
            if (!set.value(i))
                continue;
            const BindClass c = classOf(row.value(i));
            if (c == BindClass::Null)
                continue;
            if ((c == BindClass::Text && row[i].toString().size() > kMaxArrayText) ||
                (c == BindClass::Binary && row[i].toByteArray().size() > kMaxArrayText))
                return false;
            if (next[i] != BindClass::Null && next[i] != c)
                return false;
            next[i] = c;
        }
        classes = next;
        return true;
    }

    static SQL_TIMESTAMP_STRUCT timestampOf(const QVariant& v)
    {
        const QDateTime dt =
            v.typeId() == QMetaType::QTime ? QDateTime(QDate(1900, 1, 1), v.toTime()) : v.toDateTime();
        SQL_TIMESTAMP_STRUCT ts = {};
        ts.year = SQLSMALLINT(dt.date().year());
        ts.month = SQLUSMALLINT(dt.date().month());
        ts.day = SQLUSMALLINT(dt.date().day());
        ts.hour = SQLUSMALLINT(dt.time().hour());
        ts.minute = SQLUSMALLINT(dt.time().minute());
        ts.second = SQLUSMALLINT(dt.time().second());
        ts.fraction = SQLUINTEGER(dt.time().msec()) * 1000000u;
        return ts;
    }

    // Sends rows [start, end) as one execution of the prepared insert with
    // column-wise parameter arrays.
    void insertArray(const QVector<QVector<QVariant>>& rows, const QVector<bool>& set,
                     const QVector<BindClass>& classes, qsizetype start, qsizetype end,
                     QVector<DataError>& errors)
    {
        m_backend->spoolCursors();
        const qsizetype n = end - start;
        DataError prepareError;
        if (!prepareFor(set, prepareError)) {
            for (qsizetype i = start; i < end; ++i)
                errors[i] = prepareError;
            return;
        }
        struct Column
        {
            QByteArray data;
            QVector<SQLLEN> ind;
            SQLLEN width = 0;
        };
        QVector<Column> buffers(m_columns.size());
        SQLFreeStmt(m_stmt, SQL_RESET_PARAMS);
        SQLUSMALLINT number = 0;
        bool bound = true;
        for (int c = 0; c < m_columns.size() && bound; ++c) {
            if (!set.value(c))
                continue;
            ++number;
            const ColumnInfo& col = m_columns[c];
            const SQLSMALLINT sqlType = SQLSMALLINT(col.nativeType);
            Column& b = buffers[c];
            b.ind = QVector<SQLLEN>(n, SQL_NULL_DATA);
            SQLSMALLINT cType = SQL_C_CHAR;
            SQLULEN size = SQLULEN(qMax<qint64>(col.size, 1));
            switch (classes[c]) {
            case BindClass::Null:
                b.width = 1;
                break;
            case BindClass::Bit:
                cType = SQL_C_BIT;
                b.width = 1;
                break;
            case BindClass::Integer:
                cType = SQL_C_SBIGINT;
                b.width = sizeof(SQLBIGINT);
                break;
            case BindClass::Double:
                cType = SQL_C_DOUBLE;
                b.width = sizeof(double);
                break;
            case BindClass::Timestamp:
                cType = SQL_C_TYPE_TIMESTAMP;
                b.width = sizeof(SQL_TIMESTAMP_STRUCT);
                break;
            case BindClass::Binary:
            case BindClass::Text: {
                qsizetype longest = 1;
                for (qsizetype r = start; r < end; ++r) {
                    const QVariant& v = rows[r].value(c);
                    if (classOf(v) != BindClass::Null)
                        longest = qMax(longest, classes[c] == BindClass::Text ? v.toString().size()
                                                                              : v.toByteArray().size());
                }
                cType = classes[c] == BindClass::Text ? SQL_C_WCHAR : SQL_C_BINARY;
                b.width = classes[c] == BindClass::Text ? SQLLEN((longest + 1) * 2) : SQLLEN(longest);
                if (isCharType(sqlType))
                    size = SQLULEN(longest);
                break;
            }
            }
            b.data = QByteArray(qsizetype(b.width) * n, '\0');
            for (qsizetype r = 0; r < n; ++r) {
                const QVariant& v = rows[start + r].value(c);
                if (classOf(v) == BindClass::Null)
                    continue;
                char* at = b.data.data() + r * b.width;
                switch (classes[c]) {
                case BindClass::Null:
                    break;
                case BindClass::Bit:
                    *at = v.toBool() ? 1 : 0;
                    b.ind[r] = 1;
                    break;
                case BindClass::Integer: {
                    const SQLBIGINT x = v.toLongLong();
                    memcpy(at, &x, sizeof x);
                    b.ind[r] = sizeof x;
                    break;
                }
                case BindClass::Double: {
                    const double x = v.toDouble();
                    memcpy(at, &x, sizeof x);
                    b.ind[r] = sizeof x;
                    break;
                }
                case BindClass::Timestamp: {
                    const SQL_TIMESTAMP_STRUCT ts = timestampOf(v);
                    memcpy(at, &ts, sizeof ts);
                    b.ind[r] = sizeof ts;
                    break;
                }
                case BindClass::Binary: {
                    const QByteArray bytes = v.toByteArray();
                    memcpy(at, bytes.constData(), size_t(bytes.size()));
                    b.ind[r] = SQLLEN(bytes.size());
                    break;
                }
                case BindClass::Text: {
                    const QString text = v.toString();
                    memcpy(at, text.utf16(), size_t(text.size()) * 2);
                    b.ind[r] = SQLLEN(text.size()) * 2;
                    break;
                }
                }
            }
            bound = SQL_SUCCEEDED(SQLBindParameter(m_stmt, number, SQL_PARAM_INPUT, cType, sqlType, size,
                                                   SQLSMALLINT(col.decimals), b.data.data(), b.width,
                                                   b.ind.data()));
        }

        QVector<SQLUSMALLINT> status(n, kNoStatus);
        SQLULEN processed = ~SQLULEN(0);
        bool arrays = bound &&
                      SQLSetStmtAttr(m_stmt, SQL_ATTR_PARAM_BIND_TYPE,
                                     reinterpret_cast<SQLPOINTER>(SQLULEN(SQL_PARAM_BIND_BY_COLUMN)),
                                     0) == SQL_SUCCESS &&
                      SQLSetStmtAttr(m_stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN(n)),
                                     0) == SQL_SUCCESS;
        if (arrays) {
            SQLSetStmtAttr(m_stmt, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0);
            SQLSetStmtAttr(m_stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0);
        }
        QVector<DataError> rowErrors(n);
        DataError general;
        SQLRETURN r = SQL_ERROR;
        if (arrays) {
            r = SQLExecute(m_stmt);
            if (r == SQL_ERROR || r == SQL_SUCCESS_WITH_INFO)
                rowDiagnostics(rowErrors, general);
            if (!drainResults(m_stmt, general) && !general.isSet())
                general.description = QStringLiteral("The insert failed.");
        }
        SQLFreeStmt(m_stmt, SQL_CLOSE);
        SQLSetStmtAttr(m_stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN(1)), 0);
        SQLSetStmtAttr(m_stmt, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
        SQLSetStmtAttr(m_stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
        SQLFreeStmt(m_stmt, SQL_RESET_PARAMS);

        if (!arrays) {
            // The driver takes no arrays: one row at a time from now on.
            m_arrays = false;
            for (qsizetype i = start; i < end; ++i)
                insert(rows[i], set, errors[i]);
            return;
        }
        const bool statusKnown =
            std::any_of(status.cbegin(), status.cend(), [](SQLUSMALLINT x) { return x != kNoStatus; });
        const bool succeeded = r == SQL_SUCCESS || r == SQL_SUCCESS_WITH_INFO || r == SQL_NO_DATA;
        if (!statusKnown) {
            // A driver that fills no status array: a whole success stored
            // every row; after a failure the count of processed sets (the
            // failing one included, as ODBC defines it) tells, and without it
            // the rows are given up as refused. Arrays stop here.
            m_arrays = false;
            if (succeeded && !general.isSet())
                return;
            const bool counted = processed != ~SQLULEN(0) && processed <= SQLULEN(n) && processed > 0;
            for (qsizetype k = 0; k < n; ++k) {
                if (counted && SQLULEN(k) + 1 < processed)
                    continue;
                if (counted && SQLULEN(k) + 1 > processed)
                    insert(rows[start + k], set, errors[start + k]);
                else
                    errors[start + k] = rowErrors[k].isSet() ? rowErrors[k] : general;
            }
            return;
        }
        for (qsizetype k = 0; k < n; ++k) {
            switch (status[k]) {
            case SQL_PARAM_SUCCESS:
            case SQL_PARAM_SUCCESS_WITH_INFO:
                break;
            case SQL_PARAM_ERROR:
            case SQL_PARAM_DIAG_UNAVAILABLE:
                errors[start + k] = rowErrors[k].isSet() ? rowErrors[k] : general;
                if (!errors[start + k].isSet())
                    setDataError(errors[start + k], DataErr::ProviderFailure,
                                 QStringLiteral("The driver refused the row without a message."));
                break;
            default:
                // Not run (SQL_PARAM_UNUSED, or no status): send it alone.
                insert(rows[start + k], set, errors[start + k]);
                break;
            }
        }
    }

    // The diagnostic records of the last execution: those that name a row of
    // the parameter arrays go to that row, the others to general.
    void rowDiagnostics(QVector<DataError>& rowErrors, DataError& general)
    {
        for (SQLSMALLINT i = 1; i < 1000; ++i) {
            SQLWCHAR state[6] = {};
            SQLINTEGER native = 0;
            SQLSMALLINT length = 0;
            SQLWCHAR message[2048];
            if (!SQL_SUCCEEDED(SQLGetDiagRecW(SQL_HANDLE_STMT, m_stmt, i, state, &native, message,
                                              SQLSMALLINT(sizeof message / sizeof message[0]), &length)))
                break;
            SQLLEN rowNumber = SQL_ROW_NUMBER_UNKNOWN;
            SQLGetDiagFieldW(SQL_HANDLE_STMT, m_stmt, i, SQL_DIAG_ROW_NUMBER, &rowNumber, 0, nullptr);
            const QString stateText = fromWide(state, 5);
            if (stateText.startsWith(QLatin1String("01")))
                continue; // a warning
            DataError e;
            e.number = native != 0 ? native : DataErr::ProviderFailure;
            e.description =
                fromWide(message, qMin<qsizetype>(length, sizeof message / sizeof message[0] - 1)).trimmed();
            e.source = QStringLiteral("ODBC ") + stateText;
            DataError& target =
                rowNumber >= 1 && rowNumber <= rowErrors.size() ? rowErrors[rowNumber - 1] : general;
            if (!target.isSet())
                target = e;
        }
    }

    bool prepareFor(const QVector<bool>& set, DataError& error)
    {
        if (m_stmt && set == m_preparedFor)
            return true;
        freeStatement();
        QStringList names;
        QStringList marks;
        for (int i = 0; i < m_columns.size(); ++i) {
            if (set.value(i)) {
                names.append(quoteIdentifier(m_columns[i].name));
                marks.append(QStringLiteral("?"));
            }
        }
        const QString sql =
            names.isEmpty() ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quoteIdentifier(m_table))
                            : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                  .arg(quoteIdentifier(m_table), names.join(QLatin1Char(',')),
                                       marks.join(QLatin1Char(',')));
        m_stmt = m_backend->allocStatement(error);
        if (!m_stmt)
            return false;
        if (!SQL_SUCCEEDED(SQLPrepareW(m_stmt, wide(sql), SQL_NTS))) {
            odbcDiagnostics(SQL_HANDLE_STMT, m_stmt, error);
            freeStatement();
            return false;
        }
        m_preparedFor = set;
        return true;
    }

    void freeStatement()
    {
        if (m_stmt)
            SQLFreeHandle(SQL_HANDLE_STMT, m_stmt);
        m_stmt = nullptr;
        m_preparedFor.clear();
    }

    OdbcBackend* m_backend;
    QString m_table;
    QVector<ColumnInfo> m_columns;
    SQLHSTMT m_stmt = nullptr;
    QVector<bool> m_preparedFor;
    bool m_arrays;
};

// ---- connection -------------------------------------------------------------

OdbcBackend::OdbcBackend(void* dbc, int commandTimeout) : m_dbc(dbc), m_commandTimeout(commandTimeout) {}

OdbcBackend::~OdbcBackend()
{
    close();
}

std::unique_ptr<OdbcBackend> OdbcBackend::open(const QString& odbcString, int loginTimeout,
                                               int commandTimeout, DataError& error)
{
    SQLHENV env = environment(error);
    if (env == SQL_NULL_HENV)
        return nullptr;
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
        odbcDiagnostics(SQL_HANDLE_ENV, env, error);
        return nullptr;
    }
    SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN(loginTimeout)), 0);
    SQLSMALLINT outLength = 0;
    const SQLRETURN r = SQLDriverConnectW(dbc, nullptr, wide(odbcString), SQL_NTS, nullptr, 0, &outLength,
                                          SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(r)) {
        odbcDiagnostics(SQL_HANDLE_DBC, dbc, error);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        return nullptr;
    }
    return std::unique_ptr<OdbcBackend>(new OdbcBackend(dbc, commandTimeout));
}

void OdbcBackend::closeConnection()
{
    if (!m_dbc)
        return;
    if (m_inTransaction)
        SQLEndTran(SQL_HANDLE_DBC, m_dbc, SQL_ROLLBACK);
    SQLDisconnect(m_dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
    m_dbc = nullptr;
}

void* OdbcBackend::allocStatement(DataError& error)
{
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, m_dbc, &stmt))) {
        odbcDiagnostics(SQL_HANDLE_DBC, m_dbc, error);
        return nullptr;
    }
    // Not every driver knows a query time-out; those that do not keep theirs.
    SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(SQLULEN(m_commandTimeout)), 0);
    return stmt;
}

bool OdbcBackend::execute(const QString& batch, DataError& error)
{
    spoolCursors();
    SQLHSTMT stmt = allocStatement(error);
    if (!stmt)
        return false;
    bool ok = true;
    const SQLRETURN r = SQLExecDirectW(stmt, wide(batch), SQL_NTS);
    if (r == SQL_ERROR || r == SQL_INVALID_HANDLE || r == SQL_NEED_DATA) {
        odbcDiagnostics(SQL_HANDLE_STMT, stmt, error);
        ok = false;
    }
    // Every statement of the batch has a result; a later one may fail.
    if (!drainResults(stmt, error))
        ok = false;
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return ok;
}

std::unique_ptr<CursorBackend> OdbcBackend::query(const QString& text, DataError& error)
{
    spoolCursors();
    SQLHSTMT stmt = allocStatement(error);
    if (!stmt)
        return nullptr;
    SQLRETURN r = SQLExecDirectW(stmt, wide(text), SQL_NTS);
    if (r == SQL_ERROR || r == SQL_INVALID_HANDLE || r == SQL_NEED_DATA) {
        odbcDiagnostics(SQL_HANDLE_STMT, stmt, error);
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return nullptr;
    }
    // The first result with columns; statements before it only ran.
    SQLSMALLINT count = 0;
    for (;;) {
        SQLNumResultCols(stmt, &count);
        if (count > 0)
            break;
        r = SQLMoreResults(stmt);
        if (r == SQL_NO_DATA)
            break;
        if (r == SQL_ERROR) {
            odbcDiagnostics(SQL_HANDLE_STMT, stmt, error);
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
            return nullptr;
        }
    }
    QVector<ColumnInfo> columns;
    for (SQLUSMALLINT i = 1; i <= SQLUSMALLINT(count); ++i) {
        SQLWCHAR name[512];
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT sqlType = 0;
        SQLULEN size = 0;
        SQLSMALLINT decimals = 0;
        SQLSMALLINT nullable = 0;
        if (!SQL_SUCCEEDED(SQLDescribeColW(stmt, i, name, SQLSMALLINT(sizeof name / sizeof name[0]),
                                           &nameLength, &sqlType, &size, &decimals, &nullable))) {
            odbcDiagnostics(SQL_HANDLE_STMT, stmt, error);
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
            return nullptr;
        }
        ColumnInfo col;
        col.name = fromWide(name, qMin<qsizetype>(nameLength, 511));
        col.nativeType = sqlType;
        col.type = adoType(sqlType);
        col.size = qint64(size);
        col.decimals = decimals;
        columns.append(col);
    }
    if (count == 0) {
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        stmt = nullptr;
    }
    return std::make_unique<OdbcCursor>(this, stmt, std::move(columns));
}

std::unique_ptr<AppendBackend> OdbcBackend::appender(const QString& table, const QVector<ColumnInfo>& columns,
                                                     DataError&)
{
    return std::make_unique<OdbcAppender>(this, table, columns);
}

bool OdbcBackend::beginTrans(DataError& error)
{
    if (m_inTransaction) {
        setDataError(
            error, DataErr::NotSupported,
            QStringLiteral("A transaction is already active on this connection; transactions do not nest."));
        return false;
    }
    spoolCursors();
    if (!SQL_SUCCEEDED(SQLSetConnectAttr(m_dbc, SQL_ATTR_AUTOCOMMIT,
                                         reinterpret_cast<SQLPOINTER>(SQLULEN(SQL_AUTOCOMMIT_OFF)), 0))) {
        odbcDiagnostics(SQL_HANDLE_DBC, m_dbc, error);
        return false;
    }
    m_inTransaction = true;
    return true;
}

bool OdbcBackend::endTransaction(bool commit, DataError& error)
{
    if (!m_inTransaction) {
        setDataError(error, -2147168242, QStringLiteral("No transaction is active."));
        return false;
    }
    spoolCursors();
    bool ok = SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, m_dbc, commit ? SQL_COMMIT : SQL_ROLLBACK));
    if (!ok)
        odbcDiagnostics(SQL_HANDLE_DBC, m_dbc, error);
    // Back to one transaction per statement, whatever the end was.
    SQLSetConnectAttr(m_dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQLULEN(SQL_AUTOCOMMIT_ON)),
                      0);
    m_inTransaction = false;
    return ok;
}

bool OdbcBackend::commitTrans(DataError& error)
{
    return endTransaction(true, error);
}

bool OdbcBackend::rollbackTrans(DataError& error)
{
    return endTransaction(false, error);
}

QString OdbcBackend::dbmsName() const
{
    SQLWCHAR name[256] = {};
    SQLSMALLINT length = 0;
    if (!m_dbc || !SQL_SUCCEEDED(SQLGetInfoW(m_dbc, SQL_DBMS_NAME, name, sizeof name, &length)))
        return QString();
    return fromWide(name, length / SQLSMALLINT(sizeof(SQLWCHAR)));
}

QString OdbcBackend::catalogQuery() const
{
    if (dbmsName().contains(QLatin1String("SQLite"), Qt::CaseInsensitive))
        return embedded::catalogStatement();
    return mssql::columnsCatalogStatement();
}

} // namespace ov
