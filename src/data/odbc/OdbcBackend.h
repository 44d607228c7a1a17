#pragma once

#include "data/DataBackend.h"

#include <QList>

#include <memory>

namespace ov {

// The ODBC engine: a connection through the driver manager (unixODBC on Linux)
// to whatever driver the string names: FreeTDS for SQL Server, the SQLite 3
// driver in the tests. Driver errors reach the caller with their native
// number and the driver's message text.
class OdbcBackend : public ConnectionBackend
{
public:
    // Seconds a login may take before the driver gives up: a server that
    // accepts the connection and never answers must not hang the program.
    static constexpr int kDefaultLoginTimeout = 15;

    // Connects with an ODBC connection string. The string is never put into
    // an error text (it may hold a password).
    static std::unique_ptr<OdbcBackend> open(const QString& odbcString, int loginTimeout, int commandTimeout,
                                             DataError& error);
    ~OdbcBackend() override;

    QString kind() const override { return QStringLiteral("odbc"); }
    void setCommandTimeout(int seconds) override { m_commandTimeout = seconds; }
    bool execute(const QString& batch, DataError& error) override;
    std::unique_ptr<CursorBackend> query(const QString& text, DataError& error) override;
    std::unique_ptr<AppendBackend> appender(const QString& table, const QVector<ColumnInfo>& columns,
                                            DataError& error) override;
    bool beginTrans(DataError& error) override;
    bool commitTrans(DataError& error) override;
    bool rollbackTrans(DataError& error) override;
    // SQL Server's INFORMATION_SCHEMA; a SQLite database reached through
    // its ODBC driver answers with the embedded engine's catalog query.
    QString catalogQuery() const override;

    // The DBMS name the driver reports ("Microsoft SQL Server", "SQLite", …).
    QString dbmsName() const;

    // Internal: the statements of this connection.
    void* allocStatement(DataError& error);
    void* dbc() const { return m_dbc; }

    // Internal: a point the work of this connection can go back to, for a run
    // of rows whose outcome the driver may not tell row by row: a savepoint
    // inside the open transaction, or a transaction of its own when none is
    // open. endUndoable keeps the work done since (keep) or undoes it. False
    // from beginUndoable when the engine offers no such point.
    bool beginUndoable(DataError& error);
    bool endUndoable(bool keep, DataError& error);

protected:
    void closeConnection() override;

private:
    explicit OdbcBackend(void* dbc, int commandTimeout);
    bool endTransaction(bool commit, DataError& error);

    void* m_dbc = nullptr;
    int m_commandTimeout = 30;
    bool m_inTransaction = false;
    enum class Undoable
    {
        None,
        Savepoint,
        OwnTransaction,
    } m_undoable = Undoable::None;
};

// Fills error from the diagnostic records of an ODBC handle (type is the
// SQL_HANDLE_* kind): the first native error number (or the generic provider
// failure when the driver gives none), every distinct message text, and the
// first SQLSTATE in the source.
void odbcDiagnostics(short handleType, void* handle, DataError& error);

} // namespace ov
