#include "data/SqlServerStatements.h"

#include "data/odbc/MssqlStatements.h"

namespace ov::sqlserver {

QString listDatabasesStatement()
{
    return mssql::listDatabasesStatement();
}

QStringList createDatabaseStatements(const QString& database)
{
    return mssql::createDatabaseStatements(database);
}

QString dropDatabaseStatement(const QString& database)
{
    return mssql::dropDatabaseStatement(database);
}

QString backupStatement(const QString& database, const QString& pathFile, bool replace)
{
    return mssql::backupStatement(database, pathFile, replace);
}

QString headerStatement(const QString& pathFile)
{
    return mssql::headerStatement(pathFile);
}

QString fileListStatement(const QString& pathFile, int backupSet)
{
    return mssql::fileListStatement(pathFile, backupSet);
}

QStringList restoreStatements(const QString& database, const QString& pathFile, int backupSet,
                              const QList<QPair<QString, QString>>& moves, bool replace)
{
    return mssql::restoreStatements(database, pathFile, backupSet, moves, replace);
}

QString taskLockStatement(const QString& database)
{
    return mssql::taskLockStatement(database);
}

QString taskUnlockStatement(const QString& database)
{
    return mssql::taskUnlockStatement(database);
}

} // namespace ov::sqlserver
