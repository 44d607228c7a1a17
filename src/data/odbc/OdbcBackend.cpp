#include "data/odbc/OdbcBackend.h"

#include "data/odbc/MssqlStatements.h"
#include "data/odbc/OdbcAppender.h"
#include "data/odbc/OdbcSupport.h"
#include "data/sqlite/EmbeddedServer.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <sql.h>
#include <sqlext.h>

namespace ov {

using namespace odbc;

namespace {

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
            // A text longer than the buffer fills it and is cut (01004); the
            // driver then gives its whole length, or SQL_NO_TOTAL where it
            // cannot tell (a server code page converted to UTF-16), and the
            // next call goes on where this one stopped.
            const bool cut =
                r == SQL_SUCCESS_WITH_INFO &&
                (ind == SQL_NO_TOTAL ? hasDiagState(SQL_HANDLE_STMT, stmt, QLatin1String("01004"))
                                     : ind / SQLLEN(sizeof(SQLWCHAR)) > capacity);
            SQLLEN chars = cut ? capacity : ind / SQLLEN(sizeof(SQLWCHAR));
            if (!cut && ind == SQL_NO_TOTAL)
                for (chars = 0; chars < capacity && buf[chars] != 0;)
                    ++chars; // the last piece, its length untold: up to the terminator
            text += fromWide(buf, qMin(chars, capacity));
            if (!cut)
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
    // Any record may say the machine failed: a batch that met a full log
    // after an ordinary error of an earlier statement reports both.
    bool machine = false;
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
        const QString recordState = fromWide(state, 5);
        if (firstState.isEmpty())
            firstState = recordState;
        machine = machine || isOdbcMachineFailure(native, recordState);
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
    error.machineFailure = machine;
}

// ---- cursor -----------------------------------------------------------------

class OdbcCursor : public SpoolingCursor
{
public:
    OdbcCursor(OdbcBackend* owner, SQLHSTMT stmt, QVector<ColumnInfo> columns)
        : SpoolingCursor(owner), m_dbc(owner->dbc()), m_stmt(stmt), m_columns(std::move(columns))
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
            // The statements after this one in the batch ran too: a
            // failure among them fails the reading.
            const bool ok = drainResults(m_dbc, m_stmt, error);
            freeStatement();
            return ok ? Fetch::End : Fetch::Failed;
        }
        if (!SQL_SUCCEEDED(r)) {
            odbcDiagnostics(SQL_HANDLE_STMT, m_stmt, error);
            noteLostConnection(m_dbc, error);
            freeStatement();
            return Fetch::Failed;
        }
        row.resize(m_columns.size());
        for (int i = 0; i < m_columns.size(); ++i) {
            if (!readColumn(m_stmt, SQLUSMALLINT(i + 1), SQLSMALLINT(m_columns[i].nativeType), row[i],
                            error)) {
                noteLostConnection(m_dbc, error);
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
        // Later results of the batch, when the rows were not all read, are
        // dropped with the statement.
        SQLFreeHandle(SQL_HANDLE_STMT, m_stmt);
        m_stmt = nullptr;
    }

    SQLHDBC m_dbc;
    SQLHSTMT m_stmt;
    QVector<ColumnInfo> m_columns;
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
    if (!drainResults(m_dbc, stmt, error))
        ok = false;
    if (!ok)
        noteLostConnection(m_dbc, error);
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
        noteLostConnection(m_dbc, error);
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
            noteLostConnection(m_dbc, error);
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
            noteLostConnection(m_dbc, error);
            SQLFreeHandle(SQL_HANDLE_STMT, stmt);
            return nullptr;
        }
        ColumnInfo col;
        col.name = fromWide(name, qMin<qsizetype>(nameLength, 511));
        col.nativeType = sqlType;
        col.type = adoType(sqlType);
        col.size = qint64(size);
        col.decimals = decimals;
        col.nullable = nullable != SQL_NO_NULLS;
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
    return makeOdbcAppender(this, table, columns);
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
    if (!ok) {
        odbcDiagnostics(SQL_HANDLE_DBC, m_dbc, error);
        noteLostConnection(m_dbc, error);
    }
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

namespace {

const QString kSavepoint = QStringLiteral("ov_rows");

bool isSqlServer(const QString& dbms)
{
    return dbms.contains(QLatin1String("SQL Server"), Qt::CaseInsensitive);
}

} // namespace

bool OdbcBackend::beginUndoable(DataError& error)
{
    if (m_undoable != Undoable::None) {
        setDataError(error, DataErr::NotSupported, QStringLiteral("An undoable run is already open."));
        return false;
    }
    if (!m_inTransaction) {
        if (!beginTrans(error))
            return false;
        m_undoable = Undoable::OwnTransaction;
        return true;
    }
    const QString sql = isSqlServer(dbmsName()) ? QStringLiteral("SAVE TRANSACTION ") + kSavepoint
                                                : QStringLiteral("SAVEPOINT ") + kSavepoint;
    if (!execute(sql, error))
        return false;
    m_undoable = Undoable::Savepoint;
    return true;
}

bool OdbcBackend::endUndoable(bool keep, DataError& error)
{
    const Undoable kind = m_undoable;
    m_undoable = Undoable::None;
    switch (kind) {
    case Undoable::None:
        return true;
    case Undoable::OwnTransaction:
        return keep ? commitTrans(error) : rollbackTrans(error);
    case Undoable::Savepoint:
        break;
    }
    if (isSqlServer(dbmsName()))
        return keep || execute(QStringLiteral("ROLLBACK TRANSACTION ") + kSavepoint, error);
    const bool undone = keep || execute(QStringLiteral("ROLLBACK TO SAVEPOINT ") + kSavepoint, error);
    return execute(QStringLiteral("RELEASE SAVEPOINT ") + kSavepoint, error) && undone;
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
