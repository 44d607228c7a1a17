#pragma once

#include <QList>
#include <QPair>
#include <QString>

// The statements the program sends to SQL Server, composed from their parts.
// Every value put into a statement is quoted: a single quote inside a path or
// a name between single quotes is doubled, a database name between brackets
// has "]" doubled, and a database name that the tool encloses in double quotes
// has its double quotes doubled.
namespace ov::mssql {

// 'text' with inner single quotes doubled.
QString stringLiteral(const QString& text);
// N'text', for text that may hold characters outside the server's code page.
QString unicodeLiteral(const QString& text);
// The database name as the backup and restore statements write it: a name the
// user typed as one quoted identifier ("crm", "a""b") is used as typed; any
// other name is enclosed in double quotes with its double quotes doubled, so
// it stays one name whatever it holds.
QString quotedDatabaseName(const QString& name);

// Paths and logical file names travel as N'…' literals, so that characters
// outside the server's code page (a Chinese folder on a server whose code
// page is not 936) arrive unchanged.
//
// A backup file is a media set that holds backup sets, numbered from 1 in
// the order they were written (RESTORE HEADERONLY's Position). A backup
// without INIT adds a set to an existing file, and a restore without FILE
// takes set 1, the oldest; so the tool never backs up into an existing file
// unless replacing it, and always names the set it reads or restores.
//
// BackUp Database "crm" to disk=N'D:\bak\crm-202612041533.dat'[ WITH INIT]
// With replace, INIT overwrites every backup set of an existing file and
// keeps its media header. FORMAT is not used: it would write a new media
// header over anything, including a file that is no backup at all and one
// member of a media set striped over several files, which leaves the whole
// set unusable; INIT refuses both, and unexpired sets too.
QString backupStatement(const QString& database, const QString& pathFile, bool replace = false);
// RESTORE DATABASE "crm" FROM DISK = N'path' WITH RECOVERY[,REPLACE][,move N'logical' to N'target']…,FILE = n
QString restoreStatement(const QString& database, const QString& pathFile, int backupSet,
                         const QList<QPair<QString, QString>>& moves, bool replace);
// What a restore sends, in order: the verification of the backup set, then
// the restore itself.
QList<QString> restoreStatements(const QString& database, const QString& pathFile, int backupSet,
                                 const QList<QPair<QString, QString>>& moves, bool replace);
// RESTORE VERIFYONLY FROM DISK = N'path' WITH FILE = n[,move N'logical' to N'target']…: the
// server reads the whole backup set and checks it is complete and readable,
// and that the targets of the restore (the recorded paths, or those the MOVE
// clauses name) can take its files, without restoring anything.
QString verifyStatement(const QString& pathFile, int backupSet, const QList<QPair<QString, QString>>& moves);
// RESTORE FILELISTONLY FROM DISK = N'path' WITH FILE = n
QString fileListStatement(const QString& pathFile, int backupSet);
// RESTORE HEADERONLY From DISK = N'path': one row per backup set.
QString headerStatement(const QString& pathFile);
// True when the error with which the server answered a statement reading the
// backup file pathFile says that the file is not there: "Cannot open backup
// device" (3201) with the operating system's "file not found" (2) or "path
// not found" (3). Any other error (no permission, the file in use or not a
// backup) says nothing about whether it exists.
bool isMissingBackupDevice(qint32 number, const QString& message, const QString& pathFile);
// USE [name]: makes database the current one of a session.
QString useStatement(const QString& database);

// The directory listings through the server's command shell: every entry
// (folders first, by name) or the folders only. folder ends with "\".
QString shellListingStatement(const QString& folder, bool foldersOnly);
// The same folder through xp_dirtree, which needs no shell: one row per entry
// with the columns subdirectory, depth and file (1 for a file).
QString dirTreeStatement(const QString& folder);
// A folder is sent to the command shell only when it holds none of the
// characters the shell would read inside its double quotes: " % and control characters.
bool isShellSafeFolder(const QString& folder);
// True for an output line of "dir" that is no entry name: the messages for an
// empty, missing or refused folder, in English and Chinese Windows.
bool isShellNoise(const QString& line);

// The statements that name a database in brackets name the database that
// unquotedName denotes, the one the backup and restore statements name.
// CREATE DATABASE [name]
QString createDatabaseStatement(const QString& database);
// The two options set on a new database (see the source for why these two).
QList<QString> databaseOptionStatements(const QString& database);
// What creating a database sends, in order: CREATE DATABASE, then its options.
QList<QString> createDatabaseStatements(const QString& database);
// DROP DATABASE [name]
QString dropDatabaseStatement(const QString& database);
// The application lock that an update, a creation or a restore of database
// holds for its whole run (see ServerAdmin::lockDatabase): the resource names
// the database in case-folded form, as SQL Server compares database names
// without case and lock resources with it.
QString taskLockResource(const QString& database);
// Takes that lock for the session without waiting, and selects
// sp_getapplock's result (0 taken, -1 held by another session, below that an
// error).
QString taskLockStatement(const QString& database);
// Gives it back.
QString taskUnlockStatement(const QString& database);
// The transaction statements of a statement transcript. The ODBC engine
// does not send these texts: it switches the connection's autocommit off and
// ends the transaction with SQLEndTran, and the driver begins and ends the
// transaction on the server; in a query window these statements do the same.
QString beginTransactionStatement();
QString commitTransactionStatement();
QString rollbackTransactionStatement();
// The databases of the server in the server's own order.
QString listDatabasesStatement();
// The server's path separator ("\" on Windows, "/" on Linux, NULL when the
// server is older than SQL Server 2017 and so runs on Windows).
QString pathSeparatorStatement();

// The catalog query (see ConnectionBackend::catalogQuery): every column of
// the base tables in the session's default schema, where the scripts'
// unqualified names go, by table and then in column order.
QString columnsCatalogStatement();

} // namespace ov::mssql
