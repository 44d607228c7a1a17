#pragma once

#include "data/DataError.h"

#include <QList>
#include <QPair>
#include <QString>

#include <optional>

namespace ov {
class Connection;
}

// The version table tblVarible of a product database: the schema version
// (Module "DB", VaribleName "Version") and one "UpdateDB" row per applied
// version block of the update script. All three work on the caller's
// connection, and so inside any transaction the caller has open on it.
namespace mdlOVSqlUpdateDB {

// The VaribleValue of the row (module, name), and of userId when it is not
// empty; defaultValue when there is no connection, no such row, or the read
// fails in any way (no table, a broken connection). Quotes in the values are
// doubled in the statement.
QString ReadVaribleValue(const QString& module, const QString& name, const QString& defaultValue,
                         const QString& userId, ov::Connection* cn);

// Compares two version names. When the texts before their first "." are both
// all digits, those compare as whole numbers and the rest (from the ".") by
// character code; otherwise the whole texts compare by character code. So
// 9.0 < 10.0, while decimal-style series keep the order of their texts:
// 2.01 < 2.05 < 2.1, 1.10 < 1.9. Negative, zero or positive as with strcmp.
int CompareVersions(const QString& a, const QString& b);

// True when the version block named version is to be passed over: the
// database is at that version or a later one, or its version cannot be learnt
// (no version row, a NULL or blank value, no table), so that such a database
// receives no versioned blocks. The stored version loses its blanks at both
// ends; the block name is compared exactly as given.
bool IsVersionApplied(const QString& version, ov::Connection* cn);

// The version the database's schema is at, as the version check reads it:
// the "DB"/"Version" value without the blanks at its ends; nothing when it
// cannot be learnt (no row, a NULL, blank or "NONE" value, no table).
// With readFailure, the error of a read that failed is left there (it stays
// clear when the read succeeded, with or without the row).
std::optional<QString> ReadDatabaseVersion(ov::Connection* cn, ov::DataError* readFailure = nullptr);

// Sets the "DB"/"Version" value; false, with the connection's error, when
// the statement fails.
bool WriteDatabaseVersion(const QString& version, ov::Connection* cn);

// The mark of a database whose creation has not finished: the row
// "DB"/"Creating" of tblVarible. The create procedure writes it as soon as
// the table is there and removes it as its last statement, so a creation
// that was killed or failed half-way leaves a database that says so.
// False, with the connection's error, when the statement fails.
bool WriteCreationMark(ov::Connection* cn);
bool RemoveCreationMark(ov::Connection* cn);
// True when the database carries the mark; false when it does not or it
// cannot be read (a database without tblVarible has no version either,
// which refuses it as well).
bool HasCreationMark(ov::Connection* cn);
// What the update and the check tell of a database carrying the mark, and
// of one whose version cannot be learnt.
QString UnfinishedCreationMessage(const QString& database);
QString NoVersionMessage(const QString& database);

// Records the block as applied: replaces its "UpdateDB" row with one carrying
// the current time as "mm/dd/yyyy HH:NN:SS", or the time when given (as it
// was recorded). A statement that fails is passed over, except a failure of
// the machine, after which nothing more is sent. Gives the error of the first
// statement that failed, or the failure of the machine when there was one
// (unset when both ran), for a caller that must not go on after a failure of
// the machine.
ov::DataError RecordVersionApplied(const QString& version, ov::Connection* cn,
                                   const QString& when = QString());
// The "UpdateDB" rows: the version blocks recorded as applied, each with the
// time recorded for it.
QList<QPair<QString, QString>> ReadVersionRecords(ov::Connection* cn);

} // namespace mdlOVSqlUpdateDB
