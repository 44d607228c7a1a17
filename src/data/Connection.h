#pragma once

#include "data/AdoTypes.h"
#include "data/DataError.h"

#include <QString>

#include <memory>

namespace ov {

class ConnectionBackend;
class Server;
class StatementTranscript;

// A database connection with the operations the program uses: the cursor
// location and command time-out settings, Open with a connection string (and
// optionally a user and a password), Execute a batch, transactions and Close.
//
// The connection string chooses the engine: "Provider=SQLOLEDB.1;…" strings
// reach SQL Server through ODBC (translated key by key), a data source
// "sqlite:FOLDER" is the embedded engine, and a string beginning with
// "Driver=" goes to that ODBC driver as it stands.
//
// Failures are results: every call that fails returns false and leaves the
// error in lastError() for the caller to put into the error record.
class Connection
{
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int CursorLocation() const { return m_cursorLocation; }
    void setCursorLocation(int location) { m_cursorLocation = location; }
    // Seconds a statement may run; 0 means no limit. Applies to an open
    // connection too.
    int CommandTimeout() const { return m_commandTimeout; }
    void setCommandTimeout(int seconds);
    QString ConnectionString() const { return m_connectionString; }
    void setConnectionString(const QString& text) { m_connectionString = text; }

    // Opens with connectionString (or, when it is empty, the one set before).
    // A user or password given here takes the place of the one in the string.
    bool Open(const QString& connectionString = QString(), const QString& userId = QString(),
              const QString& password = QString());
    // Opens database on server, as a connection string naming them would,
    // without one on the way (see Server::open); connectTimeout, when not
    // negative, is the login time-out in seconds.
    bool Open(const Server& server, const QString& database, int connectTimeout = -1);
    // Runs every statement of the text in order; returned rows are dropped.
    bool Execute(const QString& commandText);
    bool BeginTrans();
    bool CommitTrans();
    bool RollbackTrans();
    // Closes the connection and any record set still open on it.
    void Close();
    // From here on (on an open connection) nothing that changes the database
    // is sent: Execute and the transaction calls only add their statements to
    // transcript and succeed; queries still run, so a dry run reads the
    // database as it is, and are added too. transcript must outlive the
    // connection's use.
    void transcribe(StatementTranscript& transcript);

    bool isOpen() const { return m_backend != nullptr; }
    // "odbc", "sqlite" or "jet" while open, empty when closed.
    QString engine() const;
    // name as a quoted identifier of the engine behind the connection (in
    // brackets while closed).
    QString quoteIdentifier(const QString& name) const;
    const DataError& lastError() const { return m_error; }
    // For Recordset and the server operations of the engines.
    const std::shared_ptr<ConnectionBackend>& backend() const { return m_backend; }

private:
    bool requireOpen();

    std::shared_ptr<ConnectionBackend> m_backend;
    QString m_connectionString;
    int m_cursorLocation = adUseServer;
    int m_commandTimeout = 30;
    DataError m_error;
};

// For its lifetime (one task), a SQL Server that was not reached is not tried
// again: every later connection to it fails at once with the error of the
// attempt that gave up, so the user waits on a silent server once per task.
// Scopes nest; the memory lasts as long as the outermost one.
class OneWaitPerServer
{
public:
    OneWaitPerServer();
    ~OneWaitPerServer();
    OneWaitPerServer(const OneWaitPerServer&) = delete;
    OneWaitPerServer& operator=(const OneWaitPerServer&) = delete;
};

// Caps the login time-out of every SQL Server connection of this process at
// seconds (0, the default: each connection waits its own time-out). Tests use
// it to meet a silent server without waiting out the real limits.
void setLoginTimeoutCap(int seconds);
int loginTimeoutCap();

} // namespace ov
