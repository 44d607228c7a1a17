#pragma once

#include "data/AdoTypes.h"
#include "data/DataError.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <deque>
#include <memory>
#include <set>

// The interface under Connection and Recordset. Each engine (ODBC, the
// embedded SQLite engine, the Jet reader) implements it; Connection picks one
// from the connection string (see openBackend) and Recordset talks only to it.
namespace ov {

class ConnectionBackend;
class Server;

// One column of a result.
struct ColumnInfo
{
    QString name;
    int type = adEmpty; // DataTypeEnum
    int nativeType = 0; // the engine's own type code (ODBC: the SQL type)
    qint64 size = 0;    // column size as the engine reports it (0: not known)
    int decimals = 0;   // digits after the point for exact numbers
    bool nullable = true;
};

// Something that lives on an open connection and holds engine resources
// (a statement). The connection closes its children before it closes itself,
// so a Recordset left open never outlives the handle it was read from.
class BackendChild
{
public:
    explicit BackendChild(ConnectionBackend* owner);
    virtual ~BackendChild();
    BackendChild(const BackendChild&) = delete;
    BackendChild& operator=(const BackendChild&) = delete;

    // Frees the engine resources; called once, by the child itself or by the
    // owner when the connection closes first.
    void detach();
    bool attached() const { return m_owner != nullptr; }
    // A child that reads rows reads the rest of them into memory here and
    // lets its statement go; others do nothing.
    virtual void spool() {}

protected:
    virtual void release() = 0;
    ConnectionBackend* owner() const { return m_owner; }

private:
    ConnectionBackend* m_owner;
};

// The rows of one statement, read forward.
class CursorBackend : public BackendChild
{
public:
    using BackendChild::BackendChild;
    enum class Fetch
    {
        Row,
        End,
        Failed,
    };
    virtual const QVector<ColumnInfo>& columns() const = 0;
    // Reads the next row into row (one value per column; a SQL NULL is an
    // invalid QVariant, an empty text is an empty QString).
    virtual Fetch fetch(QVector<QVariant>& row, DataError& error) = 0;
};

// A cursor on an engine that runs one statement at a time on a connection:
// before another command runs there, spool reads the rows still pending into
// memory and lets the statement go; fetch hands those rows out first.
class SpoolingCursor : public CursorBackend
{
public:
    using CursorBackend::CursorBackend;
    Fetch fetch(QVector<QVariant>& row, DataError& error) final;
    void spool() final;

protected:
    // Reads the next row from the statement; at the end, or on a failure, it
    // lets the statement go, and live() answers false from then on.
    virtual Fetch fetchLive(QVector<QVariant>& row, DataError& error) = 0;
    virtual bool live() const = 0;

private:
    std::deque<QVector<QVariant>> m_spooled;
    DataError m_spoolError; // the failure that ended a spool, reported after its rows
};

// Appends rows to one table.
class AppendBackend : public BackendChild
{
public:
    using BackendChild::BackendChild;
    // Stores one row: values[i] goes into columns[i] of the table when set[i]
    // is true; a column that is not set gets its default.
    virtual bool insert(const QVector<QVariant>& values, const QVector<bool>& set, DataError& error) = 0;
    // Stores rows in order, each with its own set flags. errors gets one entry
    // per row: unset for a row that was stored, the reason for one that was
    // refused; a refused row does not stop the others. The default stores one
    // row at a time with insert; an engine that can send many rows of one
    // prepared insert in a single call does so.
    virtual void insertRows(const QVector<QVector<QVariant>>& rows, const QVector<QVector<bool>>& sets,
                            QVector<DataError>& errors);
};

class ConnectionBackend
{
public:
    virtual ~ConnectionBackend();

    // "odbc", "sqlite" or "jet": which engine answers.
    virtual QString kind() const = 0;
    virtual void setCommandTimeout(int seconds) = 0;
    // Runs a batch: every statement of the text, in order, any rows ignored.
    virtual bool execute(const QString& batch, DataError& error) = 0;
    // Runs text and gives the rows of its first result that has columns.
    virtual std::unique_ptr<CursorBackend> query(const QString& text, DataError& error) = 0;
    // name as a quoted identifier of this engine; brackets unless the
    // engine says otherwise.
    virtual QString quoteIdentifier(const QString& name) const;
    // The statement that reads a whole table.
    QString tableQuery(const QString& table) const;
    // The user tables, in the engine's catalog order; false, with error set,
    // on an engine that cannot list them.
    virtual bool tableNames(QStringList& names, DataError& error);
    // The number of rows of a table, counted by reading it; -1 on error.
    virtual qint64 countRows(const QString& table, DataError& error);
    // The text that calls a stored procedure given as a call text.
    virtual QString procedureCall(const QString& callText) const;
    // The query that lists the columns of the database's own tables, in the
    // columns of CatalogColumns (data/Catalog.h); empty when the engine has
    // no catalog to read (the default).
    virtual QString catalogQuery() const;
    // The columns of an existing table are known from its query; the default
    // refuses appends (a read-only engine).
    virtual std::unique_ptr<AppendBackend> appender(const QString& table, const QVector<ColumnInfo>& columns,
                                                    DataError& error);
    virtual bool beginTrans(DataError& error);
    virtual bool commitTrans(DataError& error);
    virtual bool rollbackTrans(DataError& error);
    // Closes the children, then the connection; later calls do nothing.
    void close();
    // Before a connection runs another command, the record sets still open
    // on it read their remaining rows (client-side cursors): they keep
    // showing the rows as they were, and a SQL Server connection, which
    // carries one result at a time, is free for the command.
    void spoolCursors();
    bool closed() const { return m_closed; }

protected:
    virtual void closeConnection() = 0;

private:
    friend class BackendChild;
    std::set<BackendChild*> m_children;
    bool m_closed = false;
};

// Fills error with one of the layer's own errors.
void setDataError(DataError& error, qint32 number, const QString& description,
                  const QString& source = QStringLiteral("Orvane data access"));

// Opens the backend that the connection string names: the embedded engine for a
// data source "sqlite:FOLDER", ODBC for a string that begins with "Driver=" or
// "DSN=", SQL Server through ODBC for the SQL Server providers (or none), and an
// error for any other provider. user and password, when not empty, take the
// place of those in the string.
std::unique_ptr<ConnectionBackend> openBackend(const QString& connectionString, const QString& user,
                                               const QString& password, int commandTimeout, DataError& error);
// Opens the backend of database on server, as openBackend does for the
// connection string that names them; connectTimeout is the login time-out in
// seconds, the driver's default when negative.
std::unique_ptr<ConnectionBackend> openServerBackend(const Server& server, const QString& database,
                                                     int connectTimeout, int commandTimeout,
                                                     DataError& error);

} // namespace ov
