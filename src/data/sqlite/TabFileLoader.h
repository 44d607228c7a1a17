#pragma once

#include "data/DataError.h"
#include "data/ServerAdmin.h"

#include <QString>
#include <QtGlobal>

struct sqlite3;

namespace ov::embedded {

// Loads a tab-delimited, CR LF-terminated file into an existing table of an
// open SQLite database: one prepared insert, one transaction, a rollback
// journal on disk so that a crash during the load leaves the table as it was.
//
// Fields are code page 936 text, or UTF-8 after a byte-order mark; an empty
// field is NULL. A row is rejected, not loaded, when its field count differs
// from the table's column count, when a field is no value its column holds
// exactly (FieldTextCheck: no number, out of range, no date, too long, a NUL
// inside), or when the insert fails (a unique or check constraint); it goes to
// errorFile with the reason, and the counts go to logFile. Returns false only when the load could not run at
// all (no such table, unreadable file, a failed commit); the error tells why.
bool loadTabFile(sqlite3* db, const QString& database, const QString& table, const QString& dataFile,
                 const QString& logFile, const QString& errorFile, BulkLoadResult& result, DataError& error);

// The bytes of the data file that a load reads at a time (32 MB; 0 sets that
// again). The file is mapped into memory, and the load gives back each
// window once it has passed it, so that its resident memory does not grow
// with the file. Tests set a small window.
void setLoadWindowBytes(qsizetype bytes);

} // namespace ov::embedded
