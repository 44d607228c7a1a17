#pragma once

#include "data/DataBackend.h"
#include "data/Identifiers.h"

#include <QElapsedTimer>

#include <memory>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

namespace ov {

namespace embedded {
class FileLock;
}

// The embedded engine's connection: one SQLite database file of the server
// folder (or an in-memory database for Tempdb). Batches run statement after
// statement as SQL Server runs a batch; the command time-out interrupts a
// statement that runs too long, and bounds the wait for another connection's
// lock. For its whole life the connection holds the database's use lock
// shared, so that a restore or a drop in any process knows it is in use.
class SqliteBackend : public ConnectionBackend
{
public:
    // Opens database of the server folder. The database must exist; the
    // folder must exist; a name that would reach outside the folder is refused.
    static std::unique_ptr<SqliteBackend> open(const QString& folder, const QString& database,
                                               int commandTimeout, DataError& error);
    // Opens a database file by path, creating it when create is true.
    static std::unique_ptr<SqliteBackend> openFile(const QString& path, bool create, int commandTimeout,
                                                   DataError& error);
    ~SqliteBackend() override;

    QString kind() const override { return QStringLiteral("sqlite"); }
    void setCommandTimeout(int seconds) override;
    bool execute(const QString& batch, DataError& error) override;
    std::unique_ptr<CursorBackend> query(const QString& text, DataError& error) override;
    QString quoteIdentifier(const QString& name) const override { return doubleQuoted(name); }
    QString procedureCall(const QString& callText) const override { return callText; }
    QString catalogQuery() const override;
    std::unique_ptr<AppendBackend> appender(const QString& table, const QVector<ColumnInfo>& columns,
                                            DataError& error) override;
    bool beginTrans(DataError& error) override;
    bool commitTrans(DataError& error) override;
    bool rollbackTrans(DataError& error) override;

    sqlite3* handle() const { return m_db; }
    // The database file; empty for Tempdb.
    QString filePath() const { return m_path; }

    // Fills error from the handle's last error (code is the failing result).
    void sqliteError(int code, DataError& error) const;
    // Starts and stops the command time-out clock around a statement.
    void arm();
    void disarm();

    // True, with error set, when the database file of db was removed or
    // replaced since it was opened. SQLite would go on writing into the old,
    // unlinked file and report success for work that is then lost with it.
    static bool fileGone(sqlite3* db, DataError& error);
    // True when an insert into table that the engine refuses may keep the
    // rows it stored before the refused one: the table has a trigger (which
    // may raise FAIL) or a constraint that fails ON CONFLICT FAIL. Such a
    // table takes its rows one statement each.
    static bool refusedInsertMayKeepRows(sqlite3* db, const QString& table);

private:
    SqliteBackend(sqlite3* db, QString path, int commandTimeout, std::unique_ptr<embedded::FileLock> useLock);
    static int progress(void* self);
    static int beforeCommit(void* self);
    bool endTransaction(const char* sql, DataError& error);

    sqlite3* m_db = nullptr;
    QString m_path;
    std::unique_ptr<embedded::FileLock> m_useLock;
    int m_commandTimeout = 30;
    QElapsedTimer m_clock;
    bool m_armed = false;
    bool m_timedOut = false;
    // Set when a commit was turned into a rollback because the database file
    // had gone; the error the commit then reports.
    mutable std::optional<DataError> m_fileGoneAtCommit;

protected:
    void closeConnection() override;
};

// Values between SQLite and the data-access layer.
namespace sqlitevalue {
// The field type of a column from its declared type (NVARCHAR(50), INT, …).
int typeFromDeclaration(const char* declaredType);
// The size and decimals a declared type gives in parentheses: NVARCHAR(50)
// has size 50, DECIMAL(18,4) size 18 and 4 decimals; size stays 0 without.
void sizeFromDeclaration(const char* declaredType, qint64& size, int& decimals);
// The value of column i of the current row; a SQL NULL is an invalid QVariant.
QVariant read(sqlite3_stmt* stmt, int column, int fieldType);
// Binds value to parameter index (from 1); returns the SQLite result code.
int bind(sqlite3_stmt* stmt, int index, const QVariant& value);
} // namespace sqlitevalue

} // namespace ov
