#pragma once

#include "data/AdoTypes.h"
#include "data/DataBackend.h"
#include "data/DataError.h"

#include <QString>
#include <QVariant>
#include <QVector>

#include <deque>
#include <memory>

namespace ov {

class Connection;
class Recordset;

// One field of the current row of a Recordset, found by name or position.
// A Field stays usable as long as its Recordset is open.
class Field
{
public:
    Field() = default;

    bool isValid() const;
    QString Name() const;
    // The value: an invalid QVariant for SQL NULL, an empty QString for an
    // empty text.
    QVariant Value() const;
    // DataTypeEnum.
    int Type() const;
    bool IsNull() const { return !Value().isValid(); }
    // Sets the field of a row begun with AddNew; an invalid QVariant stores
    // NULL. A value the field's column cannot take (see checkFieldValue) is
    // refused with the record set's error and leaves the field as it was.
    bool setValue(const QVariant& value);

private:
    friend class Recordset;
    Field(Recordset* recordset, int index) : m_rs(recordset), m_index(index) {}
    Recordset* m_rs = nullptr;
    int m_index = -1;
};

// The rows of a SELECT statement, a stored-procedure call text or a whole
// table, read forward, and rows appended to a table.
//
// Open positions on the first row (EOF when there is none). RecordCount is
// known with client-side cursors (the connection's CursorLocation adUseClient)
// or a cursor type other than forward-only, and -1 otherwise. AddNew and
// Update append rows to a table opened with adCmdTable and a lock type other
// than read-only; rows not yet read are read before the first append (with a
// known count) or dropped.
//
// With the lock type adLockBatchOptimistic, Update keeps the row in the
// record set instead of storing it, and UpdateBatch stores the kept rows
// together: one prepared insert for all of them, sent as parameter arrays
// where the engine takes them. Each row still succeeds or fails on its own.
class Recordset
{
public:
    Recordset();
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    bool Open(const QString& source, Connection& activeConnection, int cursorType = adOpenForwardOnly,
              int lockType = adLockReadOnly, int options = adCmdUnspecified);
    void Close();
    bool isOpen() const { return m_open; }

    bool Eof() const { return !m_hasRow; }
    bool MoveNext();
    qint64 RecordCount();

    int FieldCount() const;
    // The columns of the open record set, as the engine describes them.
    const QVector<ColumnInfo>& columns() const { return m_columns; }
    Field Fields(int index);
    // Compared without case.
    Field Fields(const QString& name);

    bool AddNew();
    // Stores the row begun with AddNew. A row the engine refuses is dropped
    // (the error tells why) and the next AddNew begins afresh.
    bool Update();
    // Stores the rows kept by Update under adLockBatchOptimistic, in order.
    // False when any row was refused; BatchErrors then names each refused row
    // (its position among the rows sent, from 0) with its error, and the
    // other rows are stored. Rows not sent before Close are dropped.
    bool UpdateBatch();
    int PendingRows() const { return int(m_pendingRows.size()); }
    struct RowError
    {
        int row;
        DataError error;
    };
    const QVector<RowError>& BatchErrors() const { return m_batchErrors; }

    const DataError& lastError() const { return m_error; }

private:
    friend class Field;
    bool require(bool condition, qint32 number, const QString& text);
    // The same for a fixed text, which becomes a QString only on failure:
    // the checks run for every field of every row.
    bool require(bool condition, qint32 number, QLatin1String text)
    {
        return condition || require(false, number, QString(text));
    }
    bool advance();
    bool readAhead();
    void finishCursor();

    std::shared_ptr<ConnectionBackend> m_backend;
    std::unique_ptr<CursorBackend> m_cursor;
    std::unique_ptr<AppendBackend> m_appender;
    QVector<ColumnInfo> m_columns;
    QVector<QVariant> m_row;
    std::deque<QVector<QVariant>> m_ahead;
    // The storage of the row before the current one, which the next row read
    // fills again instead of allocating its own.
    QVector<QVariant> m_spare;
    QVector<bool> m_set;
    QVector<QVector<QVariant>> m_pendingRows;
    QVector<QVector<bool>> m_pendingSets;
    QVector<RowError> m_batchErrors;
    QString m_table;
    qint64 m_fetched = 0;
    qint64 m_added = 0;
    bool m_open = false;
    bool m_hasRow = false;
    bool m_countable = false;
    bool m_updatable = false;
    bool m_adding = false;
    bool m_batch = false;
    DataError m_error;
};

} // namespace ov
