#pragma once

#include "data/DataError.h"

#include <QString>
#include <QStringList>

// The embedded engine's server: a folder named by "sqlite:FOLDER", each of
// its databases one SQLite file FOLDER/NAME.sqlite. Names match without case,
// as on SQL Server.
namespace ov::embedded {

// The source of the engine's own errors.
QString errorSource();
// SQLite's text of an error (sqlite3_errmsg) in the words of the rest of the
// program: the common ones in Chinese, naming the object they name; any
// other as SQLite words it.
QString engineMessage(const QString& sqliteText);

// The start of an embedded server's name, "sqlite:" (in any letter case);
// ov::Server tells the engines apart by it.
QLatin1String serverPrefix();
// The program folder, which a relative server folder lies in; set once at
// start-up (and by tests). Until it is set, the current folder is used.
void setProgramFolder(const QString& folder);
QString programFolder();
// The folder of an embedded server name: absolute as given, or relative to the
// program folder (setProgramFolder); cleaned, without a trailing separator.
QString serverFolder(const QString& server);

// The database that belongs to no product database: a connection to it is an
// in-memory database.
bool isTempdb(const QString& name);
// Refuses a database or table name that would reach outside the folder or is
// no name at all: empty, or holding "/", "\", ":", "..", or a control character.
bool checkName(const QString& name, const QString& what, DataError& error);

// The file of database name in folder: the existing file whose base name
// matches without case (the exact spelling first), or an empty string.
QString findDatabaseFile(const QString& folder, const QString& name);
// The path a new database of that name gets.
QString newDatabaseFile(const QString& folder, const QString& name);

// A database that this process builds under a side file of the folder before
// it takes its name: while it is staged, findDatabaseFile gives the side file
// for that name in this process, so every connection of the build reaches
// it by the name; other processes find no database of that name.
void stageDatabase(const QString& folder, const QString& name, const QString& sideFile);
void unstageDatabase(const QString& folder, const QString& name);
// The side file of a staged database; empty when it is not staged.
QString stagedDatabaseFile(const QString& folder, const QString& name);
// The start of the hidden side file of a new database: "." + name +
// ".sqlite~", followed by six letters or digits. It never ends in ".sqlite",
// so the folder's listing never shows it as a database.
QString sideFilePrefix(const QString& name);
// The database name a side file, or one of its companions (its journal, its
// use lock), was made for; empty for any other file name. fileName is a name
// of the folder without a path.
QString sideFileDatabase(const QString& fileName, QString* sideFileName = nullptr);
// The lock file of the tasks (update, create, restore) on database name,
// hidden beside its file: the same for every spelling of the name, and there
// before the database is. Lock files stay when the database goes: a lock
// file removed while a process waits on it would let two holders in.
QString taskLockFile(const QString& folder, const QString& name);
// The lock file, hidden beside a database file, that every connection to it
// holds shared and that a restore or a drop takes for itself.
QString useLockFile(const QString& databaseFile);
// The engine's catalog query (see ConnectionBackend::catalogQuery): the
// columns of every table but SQLite's own, with the type as declared. A
// primary-key column counts as not nullable, as SQL Server makes it.
QString catalogStatement();
// The databases of the folder, by name without case.
QStringList listDatabases(const QString& folder);

} // namespace ov::embedded
