#include "data/Recordset.h"

#include "data/CommandText.h"
#include "data/Connection.h"
#include "data/FieldValue.h"

namespace ov {

namespace {

const char* const kNoCurrentRecord =
    "Either BOF or EOF is True, or the current record has been deleted. Requested "
    "operation requires a current record.";
const char* const kClosed = "Operation is not allowed when the object is closed.";

} // namespace

// ---- Field ------------------------------------------------------------------

bool Field::isValid() const
{
    return m_rs && m_rs->m_open && m_index >= 0 && m_index < m_rs->m_columns.size();
}

QString Field::Name() const
{
    return isValid() ? m_rs->m_columns[m_index].name : QString();
}

QVariant Field::Value() const
{
    if (!isValid())
        return QVariant();
    if (!m_rs->m_hasRow) {
        m_rs->require(false, DataErr::NoCurrentRecord, QLatin1String(kNoCurrentRecord));
        return QVariant();
    }
    return m_rs->m_row.value(m_index);
}

int Field::Type() const
{
    return isValid() ? m_rs->m_columns[m_index].type : adEmpty;
}

bool Field::setValue(const QVariant& value)
{
    if (!isValid())
        return false;
    if (!m_rs->require(
            m_rs->m_adding, DataErr::NotSupported,
            QStringLiteral("Current Recordset does not support updating. Only a row begun with AddNew "
                           "can be changed.")))
        return false;
    // A value the column cannot take is refused here, with the field named,
    // and the field stays unset: the rest of the row can still be stored.
    if (!checkFieldValue(m_rs->m_columns[m_index], value, m_rs->m_error))
        return false;
    m_rs->m_row[m_index] = value;
    m_rs->m_set[m_index] = true;
    return true;
}

// ---- Recordset --------------------------------------------------------------

Recordset::Recordset() = default;

Recordset::~Recordset()
{
    Close();
}

bool Recordset::require(bool condition, qint32 number, const QString& text)
{
    if (condition)
        return true;
    setDataError(m_error, number, text);
    return false;
}

bool Recordset::Open(const QString& source, Connection& activeConnection, int cursorType, int lockType,
                     int options)
{
    m_error.clear();
    if (!require(!m_open, DataErr::ObjectOpen,
                 QStringLiteral("Operation is not allowed when the object is open.")))
        return false;
    const std::shared_ptr<ConnectionBackend>& backend = activeConnection.backend();
    if (!require(
            backend && !backend->closed(), DataErr::InvalidConnection,
            QStringLiteral("The connection cannot be used to perform this operation. It is either closed or "
                           "invalid in this context.")))
        return false;
    if (!require(!source.trimmed().isEmpty(), DataErr::InvalidArgument,
                 QStringLiteral("The source of the record set is empty.")))
        return false;

    QString text = source;
    if (options == adCmdTable) {
        text = backend->tableQuery(source.trimmed());
        m_table = source.trimmed();
    } else if (options == adCmdStoredProc) {
        text = backend->procedureCall(source);
    }
    if (!acceptCommandText(text, m_error))
        return false;
    std::unique_ptr<CursorBackend> cursor = backend->query(text, m_error);
    if (!cursor) {
        m_table.clear();
        return false;
    }
    m_backend = backend;
    m_cursor = std::move(cursor);
    m_columns = m_cursor->columns();
    m_open = true;
    m_countable = activeConnection.CursorLocation() == adUseClient || cursorType != adOpenForwardOnly;
    m_updatable = options == adCmdTable && lockType != adLockReadOnly;
    m_batch = m_updatable && lockType == adLockBatchOptimistic;
    if (!advance()) {
        const DataError failure = m_error;
        Close();
        m_error = failure;
        return false;
    }
    return true;
}

void Recordset::finishCursor()
{
    if (m_cursor) {
        m_cursor->detach();
        m_cursor.reset();
    }
}

bool Recordset::readAhead()
{
    if (!m_cursor || !m_cursor->attached()) {
        finishCursor();
        return false;
    }
    QVector<QVariant> row = std::move(m_spare);
    m_spare = QVector<QVariant>();
    switch (m_cursor->fetch(row, m_error)) {
    case CursorBackend::Fetch::Row:
        ++m_fetched;
        m_ahead.push_back(std::move(row));
        return true;
    case CursorBackend::Fetch::End:
        // The statement is released at once, so the connection is free for
        // the next command while the record set stays open.
        finishCursor();
        return false;
    case CursorBackend::Fetch::Failed:
        finishCursor();
        return false;
    }
    return false;
}

bool Recordset::advance()
{
    if (m_ahead.empty() && m_cursor) {
        m_error.clear();
        readAhead();
    }
    if (m_ahead.empty()) {
        m_hasRow = false;
        m_row.clear();
        return !m_error.isSet();
    }
    m_spare = std::move(m_row);
    m_row = std::move(m_ahead.front());
    m_ahead.pop_front();
    m_hasRow = true;
    return true;
}

bool Recordset::MoveNext()
{
    m_error.clear();
    if (!require(m_open, DataErr::ObjectClosed, QLatin1String(kClosed)))
        return false;
    if (m_adding && !Update())
        return false;
    if (!require(m_hasRow, DataErr::NoCurrentRecord, QLatin1String(kNoCurrentRecord)))
        return false;
    return advance();
}

qint64 Recordset::RecordCount()
{
    m_error.clear();
    if (!require(m_open, DataErr::ObjectClosed, QLatin1String(kClosed)))
        return -1;
    if (!m_countable)
        return -1;
    while (m_cursor && readAhead()) {
    }
    if (m_error.isSet())
        return -1;
    return m_fetched + m_added;
}

int Recordset::FieldCount() const
{
    return m_open ? m_columns.size() : 0;
}

Field Recordset::Fields(int index)
{
    if (!require(m_open, DataErr::ObjectClosed, QLatin1String(kClosed)))
        return Field();
    if (!require(
            index >= 0 && index < m_columns.size(), DataErr::ItemNotFound,
            QStringLiteral("Item cannot be found in the collection corresponding to the requested name or "
                           "ordinal.")))
        return Field();
    return Field(this, index);
}

Field Recordset::Fields(const QString& name)
{
    if (!require(m_open, DataErr::ObjectClosed, QLatin1String(kClosed)))
        return Field();
    for (int i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return Field(this, i);
    }
    require(false, DataErr::ItemNotFound,
            QStringLiteral(
                "Item cannot be found in the collection corresponding to the requested name or ordinal. "
                "(%1)")
                .arg(name));
    return Field();
}

bool Recordset::AddNew()
{
    m_error.clear();
    if (!require(m_open, DataErr::ObjectClosed, QLatin1String(kClosed)))
        return false;
    if (!require(
            m_updatable, DataErr::NotSupported,
            QStringLiteral("Current Recordset does not support updating. This may be a limitation of the "
                           "provider, or of the selected locktype.")))
        return false;
    if (m_adding && !Update())
        return false;
    if (!m_appender) {
        // One command at a time on a connection: the rows of the table are
        // read (or dropped) before the first insert.
        if (m_countable) {
            while (m_cursor && readAhead()) {
            }
        }
        finishCursor();
        if (m_backend->closed()) {
            require(false, DataErr::InvalidConnection, QStringLiteral("The connection has been closed."));
            return false;
        }
        m_error.clear();
        m_appender = m_backend->appender(m_table, m_columns, m_error);
        if (!m_appender)
            return false;
    }
    m_row = QVector<QVariant>(m_columns.size());
    m_set = QVector<bool>(m_columns.size(), false);
    m_adding = true;
    m_hasRow = true;
    return true;
}

bool Recordset::Update()
{
    m_error.clear();
    if (!require(m_open, DataErr::ObjectClosed, QLatin1String(kClosed)))
        return false;
    if (!m_adding)
        return true;
    m_adding = false;
    if (!require(m_appender && m_appender->attached(), DataErr::InvalidConnection,
                 QStringLiteral("The connection has been closed.")))
        return false;
    if (m_batch) {
        m_pendingRows.append(m_row);
        m_pendingSets.append(m_set);
        return true;
    }
    if (!m_appender->insert(m_row, m_set, m_error))
        return false;
    ++m_added;
    return true;
}

bool Recordset::UpdateBatch()
{
    m_error.clear();
    m_batchErrors.clear();
    if (!require(m_open, DataErr::ObjectClosed, QLatin1String(kClosed)))
        return false;
    if (m_adding && !Update())
        return false;
    if (m_pendingRows.isEmpty())
        return true;
    if (!require(m_appender && m_appender->attached(), DataErr::InvalidConnection,
                 QStringLiteral("The connection has been closed.")))
        return false;
    QVector<DataError> errors;
    m_appender->insertRows(m_pendingRows, m_pendingSets, errors);
    for (int i = 0; i < m_pendingRows.size(); ++i) {
        if (i < errors.size() && errors[i].isSet())
            m_batchErrors.append({i, errors[i]});
        else
            ++m_added;
    }
    m_pendingRows.clear();
    m_pendingSets.clear();
    if (m_batchErrors.isEmpty())
        return true;
    m_error = m_batchErrors.constFirst().error;
    return false;
}

void Recordset::Close()
{
    finishCursor();
    if (m_appender) {
        m_appender->detach();
        m_appender.reset();
    }
    m_backend.reset();
    m_columns.clear();
    m_row.clear();
    m_ahead.clear();
    m_set.clear();
    m_pendingRows.clear();
    m_pendingSets.clear();
    m_table.clear();
    m_fetched = 0;
    m_added = 0;
    m_open = false;
    m_hasRow = false;
    m_adding = false;
    m_batch = false;
}

} // namespace ov
