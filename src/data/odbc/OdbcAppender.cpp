#include "data/odbc/OdbcAppender.h"

#include "data/Identifiers.h"
#include "data/odbc/OdbcBackend.h"
#include "data/odbc/OdbcSupport.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <cstring>

namespace ov {

using namespace odbc;

namespace {

bool g_arraysForAnyDbms = false;

class OdbcAppender : public AppendBackend
{
public:
    OdbcAppender(OdbcBackend* owner, QString table, QVector<ColumnInfo> columns)
        : AppendBackend(owner), m_backend(owner), m_table(std::move(table)), m_columns(std::move(columns)),
          m_arrays(g_arraysForAnyDbms ||
                   owner->dbmsName().contains(QLatin1String("SQL Server"), Qt::CaseInsensitive))
    {}
    ~OdbcAppender() override { detach(); }

    bool insert(const QVector<QVariant>& values, const QVector<bool>& set, DataError& error) override
    {
        m_backend->spoolCursors();
        if (!prepareFor(set, error))
            return false;
        // One row is a parameter array of one: it binds exactly as the rows
        // of a run do.
        const QVector<QVector<QVariant>> rows{values};
        QVector<BindClass> classes(m_columns.size(), BindClass::Null);
        for (int i = 0; i < m_columns.size(); ++i) {
            if (set.value(i))
                classes[i] = classOf(values.value(i));
        }
        QVector<ColumnBuffer> buffers;
        bool ok = bindRun(rows, set, classes, 0, 1, buffers);
        if (!ok) {
            odbcDiagnostics(SQL_HANDLE_STMT, m_stmt, error);
        } else {
            const SQLRETURN r = SQLExecute(m_stmt);
            if (!SQL_SUCCEEDED(r) && r != SQL_NO_DATA) {
                odbcDiagnostics(SQL_HANDLE_STMT, m_stmt, error);
                ok = false;
            }
            if (!drainResults(m_backend->dbc(), m_stmt, error))
                ok = false;
        }
        SQLFreeStmt(m_stmt, SQL_CLOSE);
        SQLFreeStmt(m_stmt, SQL_RESET_PARAMS);
        return ok;
    }

    // On SQL Server, runs of rows with the same set columns, whose values bind
    // to the same C types, go as parameter arrays of the one prepared insert:
    // one call for the run instead of one per row. The driver's status array
    // tells which rows were refused; rows it did not run are sent one by one.
    // A run that fails without a status per row is undone (it runs after a
    // savepoint) and sent again one row at a time, so that each row's fate is
    // known.
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
    // The bound values of one column: n elements of width bytes, and their
    // length/NULL indicators.
    struct ColumnBuffer
    {
        QByteArray data;
        QVector<SQLLEN> ind;
        SQLLEN width = 0;
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

    // Binds the values of rows [start, end) column by column, each column's
    // values in one buffer of fixed-width elements; buffers must live until
    // the statement has run. False when the driver refuses a binding.
    bool bindRun(const QVector<QVector<QVariant>>& rows, const QVector<bool>& set,
                 const QVector<BindClass>& classes, qsizetype start, qsizetype end,
                 QVector<ColumnBuffer>& buffers)
    {
        const qsizetype n = end - start;
        buffers = QVector<ColumnBuffer>(m_columns.size());
        SQLFreeStmt(m_stmt, SQL_RESET_PARAMS);
        SQLUSMALLINT number = 0;
        bool bound = true;
        for (int c = 0; c < m_columns.size() && bound; ++c) {
            if (!set.value(c))
                continue;
            ++number;
            const ColumnInfo& col = m_columns[c];
            const SQLSMALLINT sqlType = SQLSMALLINT(col.nativeType);
            ColumnBuffer& b = buffers[c];
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
        return bound;
    }

    // Sends rows [start, end) as one execution of the prepared insert with
    // column-wise parameter arrays.
    void insertArray(const QVector<QVector<QVariant>>& rows, const QVector<bool>& set,
                     const QVector<BindClass>& classes, qsizetype start, qsizetype end,
                     QVector<DataError>& errors)
    {
        m_backend->spoolCursors();
        const qsizetype n = end - start;
        const auto oneByOne = [&] {
            for (qsizetype i = start; i < end; ++i)
                insert(rows[i], set, errors[i]);
        };
        DataError prepareError;
        if (!prepareFor(set, prepareError)) {
            for (qsizetype i = start; i < end; ++i)
                errors[i] = prepareError;
            return;
        }
        // Without a point to go back to, a failing run could leave rows
        // stored that nobody can name: the rows go one at a time instead.
        DataError undoError;
        if (!m_backend->beginUndoable(undoError)) {
            oneByOne();
            return;
        }
        QVector<ColumnBuffer> buffers;
        const bool bound = bindRun(rows, set, classes, start, end, buffers);

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
            if (!drainResults(m_backend->dbc(), m_stmt, general) && !general.isSet())
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
            m_backend->endUndoable(true, undoError);
            oneByOne();
            return;
        }
        const bool statusKnown =
            std::any_of(status.cbegin(), status.cend(), [](SQLUSMALLINT x) { return x != kNoStatus; });
        const bool succeeded = r == SQL_SUCCESS || r == SQL_SUCCESS_WITH_INFO || r == SQL_NO_DATA;
        if (!statusKnown) {
            // A driver that fills no status array: a whole success stored
            // every row. After a failure nothing tells which rows it stored
            // (drivers differ even in how they count them): the run is undone
            // and its rows go again one at a time. Arrays stop here.
            m_arrays = false;
            if (succeeded && !general.isSet()) {
                if (m_backend->endUndoable(true, undoError))
                    return;
                for (qsizetype i = start; i < end; ++i)
                    errors[i] = undoError;
                return;
            }
            if (!m_backend->endUndoable(false, undoError)) {
                // The run cannot be undone: its rows' fate is unknown.
                for (qsizetype i = start; i < end; ++i)
                    errors[i] = undoError;
                return;
            }
            oneByOne();
            return;
        }
        if (!m_backend->endUndoable(true, undoError)) {
            for (qsizetype i = start; i < end; ++i)
                errors[i] = undoError;
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
        for (int i = 0; i < m_columns.size(); ++i) {
            if (set.value(i))
                names.append(m_backend->quoteIdentifier(m_columns[i].name));
        }
        const QString sql = insertStatement(m_backend->quoteIdentifier(m_table), names);
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

} // namespace

void sendParameterArraysToAnyDbms(bool on)
{
    g_arraysForAnyDbms = on;
}

std::unique_ptr<AppendBackend> makeOdbcAppender(OdbcBackend* owner, const QString& table,
                                                const QVector<ColumnInfo>& columns)
{
    return std::make_unique<OdbcAppender>(owner, table, columns);
}

} // namespace ov
