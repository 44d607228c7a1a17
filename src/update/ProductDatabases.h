#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The databases of a server that a run over many databases may update: the
// server's own listing, then each database asked for its version.
namespace mdlOVSqlUpdateDB {

// The user databases of a SQL Server that this login can use, online, by
// name: master's sys.databases without the four system databases, without
// those that are not online (offline, restoring, recovering, suspect) and
// without those the login has no access to.
QString UserDatabasesStatement();

// The user databases of the server, by name: on SQL Server by the statement
// above, on its connection to master; on the embedded engine every database
// of the folder. False, with error, when the server cannot be listed.
bool ListUserDatabases(const QString& server, bool trusted, const QString& user, const QString& password,
                       QStringList& names, QString& error);

// What a database is to an update: a product database carries tblVarible
// with the "DB"/"Version" row (its version); any other database has none.
struct DatabaseProbe
{
    bool reached = false;           // the connection was opened
    QString error;                  // why not, or why its version could not be read
    std::optional<QString> version; // the product database's version
};
DatabaseProbe ProbeDatabase(const QString& server, const QString& database, bool trusted, const QString& user,
                            const QString& password);

} // namespace mdlOVSqlUpdateDB
