#pragma once

#include <QString>
#include <QtGlobal>

namespace ov {

// A failure of the data-access layer as the callers see it: the number, the
// text and the origin of the error, ready to go into the error record.
// Driver and engine errors keep their own numbers (ODBC native errors, SQLite
// result codes); the layer's own checks use the numbers of DataErr below.
struct DataError
{
    qint32 number = 0;
    QString description;
    QString source;
    // The failure is the machine's, not the statement's: the disk or the
    // transaction log is full, the storage failed or is damaged, memory ran
    // out, the connection to the server is lost. Work that meets one cannot
    // go on as after an ordinary failing statement. Set by the engines where
    // they make the error (isSqliteMachineFailure, isOdbcMachineFailure).
    bool machineFailure = false;

    bool isSet() const { return number != 0 || !description.isEmpty(); }
    void clear() { *this = DataError(); }
};

// Numbers of the errors that the layer raises itself. They are the numbers that
// ADO gives the same situations, so a user or an administrator who knows those
// recognises them.
namespace DataErr {
constexpr qint32 ProviderFailure = -2147467259; // 0x80004005: a driver error without a number of its own
constexpr qint32 QueryTimeout = -2147217871;    // 0x80040E31: the command time-out expired
constexpr qint32 InvalidArgument = 3001;        // arguments of the wrong kind or out of range
constexpr qint32 NoCurrentRecord = 3021;        // EOF (or BOF) is true
constexpr qint32 NotSupported = 3251;           // the operation is not supported here
constexpr qint32 ItemNotFound = 3265;           // no field of that name or position
constexpr qint32 ObjectClosed = 3704;           // the object is closed
constexpr qint32 ObjectOpen = 3705;             // the object is already open
constexpr qint32 InvalidConnection = 3709;      // the connection is closed or cannot be used
constexpr qint32 ProviderNotFound = 3706;       // no backend for that provider
constexpr qint32 LockTimeout = 1222;            // another task holds the database (SQL Server's number)
constexpr qint32 FieldValue = -2147217887;      // 0x80040E21: a field cannot take the value assigned
} // namespace DataErr

// Whether a SQLite result code, primary or extended, is a failure of the
// machine: SQLITE_FULL, SQLITE_IOERR, SQLITE_CORRUPT, SQLITE_NOMEM, and
// SQLITE_READONLY and SQLITE_CANTOPEN (the files cannot be written or opened).
bool isSqliteMachineFailure(int resultCode);
// Whether an ODBC diagnostic record is a failure of the machine: a state of
// class 08 (the connection is lost or cannot be made), or one of SQL Server's
// native errors for a full filegroup (1101, 1105), a full transaction log
// (9002) and an I/O error (3202).
bool isOdbcMachineFailure(qint32 nativeError, const QString& sqlState);

} // namespace ov
