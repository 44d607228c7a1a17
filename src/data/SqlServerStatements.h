#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// The statements that the SQL Server engine sends for a task, as texts for
// statement transcripts (--sql-out): the texts the engine itself builds, so a
// transcript never differs from what a run sends.
namespace ov::sqlserver {

// The databases of the server in the server's own order.
QString listDatabasesStatement();
// What creating database sends, in order: CREATE DATABASE, then its options.
QStringList createDatabaseStatements(const QString& database);
// DROP DATABASE of database.
QString dropDatabaseStatement(const QString& database);
// The backup of database into the file pathFile of the server; with replace
// it overwrites the backup sets of an existing file.
QString backupStatement(const QString& database, const QString& pathFile, bool replace = false);
// The listing of the backup sets of the file pathFile.
QString headerStatement(const QString& pathFile);
// The listing of the database files held in backup set backupSet of pathFile.
QString fileListStatement(const QString& pathFile, int backupSet);
// What a restore sends, in order: the verification of the backup set, then
// the restore itself, moving each logical file to its target.
QStringList restoreStatements(const QString& database, const QString& pathFile, int backupSet,
                              const QList<QPair<QString, QString>>& moves, bool replace);
// The application lock that a task on database holds for its whole run, and
// the statement that gives it back.
QString taskLockStatement(const QString& database);
QString taskUnlockStatement(const QString& database);

} // namespace ov::sqlserver
