#include "update/ProductDatabases.h"

#include "common/mdlCommon.h"
#include "config/mdlOVSqlServerConnect.h"
#include "data/Connection.h"
#include "data/Recordset.h"
#include "data/Server.h"
#include "update/VersionTable.h"

namespace mdlOVSqlUpdateDB {

QString UserDatabasesStatement()
{
    // database_id 1 to 4 are master, tempdb, model and msdb; state 0 is
    // ONLINE; HAS_DBACCESS is 1 only for a database this login may open.
    return QStringLiteral("SELECT name FROM master.sys.databases WHERE database_id > 4 AND state = 0 "
                          "AND HAS_DBACCESS(name) = 1 ORDER BY name");
}

bool ListUserDatabases(const QString& server, bool trusted, const QString& user, const QString& password,
                       QStringList& names, QString& error)
{
    names.clear();
    const ov::Server handle({server, QString(), trusted, user, password});
    if (handle.engine() == ov::Server::Engine::Embedded) {
        const auto admin = handle.admin();
        if (admin->listDatabases(names))
            return true;
        error = admin->lastError().description;
        return false;
    }
    const auto cn =
        mdlOVSqlServer::ConnectToDBFile(server, QStringLiteral("master"), trusted, user, password);
    if (!cn) {
        error = mdlCommon::GetErrorText(true);
        return false;
    }
    ov::Recordset rs;
    if (!rs.Open(UserDatabasesStatement(), *cn)) {
        error = rs.lastError().description;
        return false;
    }
    for (; !rs.Eof(); rs.MoveNext())
        names.append(rs.Fields(0).Value().toString());
    if (rs.lastError().isSet()) {
        error = rs.lastError().description;
        return false;
    }
    return true;
}

namespace {

// Whether a failed read of the version says only that the database has no
// tblVarible, or not its columns: SQL Server's "Invalid object name" (208)
// and "Invalid column name" (207), the embedded engine's SQL error (no such
// table or column). Any other failure (a read refused, a lock waited on past
// its time, a connection lost) leaves unknown what the database is.
bool noVersionTable(const ov::DataError& e)
{
    if (e.source == QLatin1String("SQLite"))
        return e.number == 1;
    return e.number == 208 || e.number == 207;
}

} // namespace

DatabaseProbe ProbeDatabase(const QString& server, const QString& database, bool trusted, const QString& user,
                            const QString& password)
{
    DatabaseProbe probe;
    const auto cn = mdlOVSqlServer::ConnectToDBFile(server, database, trusted, user, password);
    if (!cn) {
        probe.error = mdlCommon::GetErrorText(true);
        return probe;
    }
    probe.reached = true;
    ov::DataError failure;
    probe.version = ReadDatabaseVersion(cn.get(), &failure);
    if (failure.isSet() && !noVersionTable(failure))
        probe.error = failure.description.isEmpty() ? QString::number(failure.number) : failure.description;
    cn->Close();
    return probe;
}

} // namespace mdlOVSqlUpdateDB
