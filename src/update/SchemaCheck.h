#pragma once

#include "config/ConnectionSettings.h"
#include "data/Catalog.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace ov {
class Connection;
}

// The schema check: does a database hold the tables and columns that its
// version says it has? The answer compares the database's catalog with a
// reference: the schema script (OVScriptEmpty.txt), then the version blocks
// of the update script up to and including the database's version, run by
// the script runner on an in-memory embedded database, block by block, so
// that each table and column is known with the block that brings it. Asked
// to, the reference is built on the SQL Server of the database instead, in a
// scratch database of its own, so that statements only SQL Server accepts
// are checked too.
namespace mdlOVSqlUpdateDB {

// A table or a column of the reference with the version block that brings
// it; an empty block is the schema script.
struct ReferenceTable
{
    QString name;
    QString block;
    QList<ov::CatalogColumn> columns;
    QStringList columnBlocks; // one per column
};
// A batch of the scripts that failed in the in-memory database (SQL
// Server's own syntax, such as sp_rename, IF … BEGIN … END, ADD CONSTRAINT,
// NVARCHAR(MAX) or GETDATE(); a table of the customer's that the reference
// does not have): what it makes is not in the reference, and what it names
// is not judged (SchemaCheckResult::notChecked).
struct UnrunStatement
{
    QString block; // empty: the schema script, or outside a version block
    QString batch; // as sent
    QString error;
};
struct SchemaReference
{
    QList<ReferenceTable> tables; // in the order they were made
    QStringList blocks;           // the blocks run, in order ("" the schema script first)
    // The latest version block of the update script, run or not ("0", the
    // version of a new database, when it has none): a database whose
    // version is later holds what these scripts cannot describe.
    QString scriptsEndAt;
    QList<UnrunStatement> notRun; // in the order of the scripts
    bool onServer = false;        // built on SQL Server, not in memory
};

// Builds the reference for a database at version. Every batch runs on its
// own, whatever its block's marker, so a batch that fails in memory leaves
// out only itself (SchemaReference::notRun). False, with error set (in
// Chinese), when a script is missing or cannot be read, the schema script
// makes no version table, or the in-memory database fails. Writes nothing
// to the update log.
bool BuildSchemaReference(const QString& emptyScript, const QString& updateScript, const QString& version,
                          SchemaReference& reference, QString& error);

// The name of a scratch database of the check on a server: "ovcheck_" and 32
// lower-case hexadecimal digits. Only such names are ever dropped as left
// over by a check that was killed.
bool IsScratchDatabaseName(const QString& name);
// The seconds each statement of the reference on the server may take before
// the check gives up on the server and uses the in-memory reference.
int ServerReferenceTimeout();
void SetServerReferenceTimeout(int seconds);
// Builds the reference as BuildSchemaReference does, but on the SQL Server
// of login (its database is not used): first every scratch database that a
// killed check left there and no running check holds is dropped; then a new
// one is made (CREATE DATABASE with the server's defaults, the smallest size
// the server gives), taken for this check with an application lock for as
// long as it lives, the scripts run in it by the script runner, its
// INFORMATION_SCHEMA read, and it is dropped again, also when something
// failed. notes (Chinese) tells what was cleaned away and what could not
// be. False, with error set (Chinese; a login that may not create databases
// is told so), when the reference could not be built there.
bool BuildSchemaReferenceOnServer(const ConnectionSettings& login, const QString& emptyScript,
                                  const QString& updateScript, const QString& version,
                                  SchemaReference& reference, QString& error, QStringList& notes);

struct SchemaFinding
{
    enum class Kind
    {
        // Gaps: the run that made the database did not do all its work.
        MissingTable,
        MissingColumn,
        TypeDiffers, // another family, or room for fewer characters or digits
                     // Information: customers add and widen their own.
        WiderType,
        NullabilityDiffers,
        ExtraTable,
        ExtraColumn,
    };
    Kind kind;
    QString table;
    QString column;   // empty for a table
    QString block;    // the version block that brings it; empty: the schema script
    QString expected; // the reference's type (or nullability)
    QString found;    // the database's
};

// A version block that brought something the database lacks.
struct IncompleteBlock
{
    QString block;      // empty: the schema script, which cannot be run again
    int missing = 0;    // its tables and columns that the database lacks
    QStringList exists; // those it has ("table" or "table.column")
    // Nothing of it exists yet, so running it again meets no object it
    // would make a second time.
    bool rerunSafe() const { return !block.isEmpty() && exists.isEmpty(); }
};

struct SchemaCheckResult
{
    enum class Status
    {
        Complete, // everything the version says is there
        Gaps,     // something is missing or of another type
        // Nothing the reference holds is missing, but the reference is not
        // the whole of the version: the version is later than the update
        // script's last block (or no number, which the runner orders after
        // every block), or statements of the scripts could not run in memory.
        Partial,
        NoVersion, // the database says no version: there is nothing to compare with
        Failed,    // the check could not run; error says why
    };
    Status status = Status::Failed;
    QString version;
    QString scriptsEndAt;         // see SchemaReference
    QList<UnrunStatement> notRun; // see SchemaReference
    QString error;
    QList<SchemaFinding> gaps;
    QList<SchemaFinding> information;
    // Findings on what a statement the reference could not run names (it
    // may have made, renamed or dropped it): neither gaps nor information.
    QList<SchemaFinding> notChecked;
    QList<IncompleteBlock> incompleteBlocks; // in the order of the scripts
    // Where the reference was built, and what the user should know of it
    // (asked on the server but built in memory, and why; a scratch database
    // that could not be dropped). Neither changes the status.
    bool referenceOnServer = false;
    QStringList referenceNotes;

    // 0 complete, 1 gaps, 2 the check cannot run or cannot vouch for the
    // version (no version, a version beyond the scripts).
    int exitCode() const;
};

// The findings of the database's catalog against the reference. Names
// compare without case, as SQL Server's and SQLite's do.
SchemaCheckResult CompareSchema(const SchemaReference& reference, const QList<ov::CatalogColumn>& catalog);

// Reads the database's version and catalog on cn and compares them with the
// reference the two scripts make for that version: in memory, or, given
// onServer (the login of cn's server), on that server when it is SQL Server.
// A reference that cannot be made there is made in memory, with a note why;
// on the embedded engine the in-memory reference is that engine's own.
SchemaCheckResult CheckSchema(ov::Connection& cn, const QString& emptyScript, const QString& updateScript,
                              const ConnectionSettings* onServer = nullptr);

// The result for people (plain text, lines ending in "\n") and for scripts
// (a JSON object).
QString SchemaReportText(const SchemaCheckResult& result);
QByteArray SchemaReportJson(const SchemaCheckResult& result);
// The message of an update whose check found gaps: the missing objects with
// their blocks, at most a screenful, and the log that lists them all.
QString SchemaGapMessage(const SchemaCheckResult& result);
// For the command line after a completed update: what the check could not
// check (Partial) or why it was not made (NoVersion, Failed), lines ending in
// a line feed; empty when it was made in full.
QString SchemaCheckNotice(const SchemaCheckResult& result);
// The result as update-log entries.
void LogSchemaCheck(const SchemaCheckResult& result);

} // namespace mdlOVSqlUpdateDB
