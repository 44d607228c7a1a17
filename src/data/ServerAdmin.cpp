#include "data/ServerAdmin.h"

#include "data/Connection.h"
#include "data/DataBackend.h"
#include "data/Server.h"
#include "data/sqlite/EmbeddedServer.h"

#include <QCoreApplication>
#include <QHash>
#include <QMutex>

namespace ov {

std::unique_ptr<ServerAdmin> ServerAdmin::create(const QString& server, bool trusted, const QString& user,
                                                 const QString& password)
{
    return Server({server, QString(), trusted, user, password}).admin();
}

void ServerAdmin::setProgramFolder(const QString& folder)
{
    embedded::setProgramFolder(folder);
}

QString ServerAdmin::programFolder()
{
    return embedded::programFolder();
}

QString ServerAdmin::localFolder(const QString& server)
{
    return Server({server, QString(), true, QString(), QString()}).localFolder();
}

PathStyle ServerAdmin::likelyPathStyle(const QString& server)
{
    return Server({server, QString(), true, QString(), QString()}).pathStyle();
}

ServerAdmin::~ServerAdmin() = default;

DatabaseLock::~DatabaseLock() = default;

namespace {

// The database locks this process holds, by engine and lock key. A child
// made by fork() inherits the table but not the holds it names, so the table
// belongs to the process that filled it.
struct LockRegistry
{
    QMutex mutex;
    qint64 pid = 0;
    QHash<QString, std::weak_ptr<DatabaseLock>> held;
};

LockRegistry& lockRegistry()
{
    static LockRegistry registry;
    return registry;
}

} // namespace

std::shared_ptr<DatabaseLock> ServerAdmin::lockDatabase(const QString& database)
{
    m_error.clear();
    const QString key = engine() + QLatin1Char('\n') + lockKey(database);
    LockRegistry& registry = lockRegistry();
    QMutexLocker guard(&registry.mutex);
    const qint64 pid = QCoreApplication::applicationPid();
    if (registry.pid != pid) {
        registry.held.clear();
        registry.pid = pid;
    }
    if (std::shared_ptr<DatabaseLock> held = registry.held.value(key).lock())
        return held;
    std::shared_ptr<DatabaseLock> lock(takeLock(database));
    if (!lock)
        return nullptr;
    using Entry = QHash<QString, std::weak_ptr<DatabaseLock>>::iterator;
    registry.held.removeIf([](Entry entry) { return entry.value().expired(); });
    registry.held.insert(key, lock);
    return lock;
}

bool ServerAdmin::fail(qint32 number, const QString& description, const QString& source)
{
    setDataError(m_error, number, description, source);
    return false;
}

bool ServerAdmin::fail(const DataError& error)
{
    m_error = error;
    return false;
}

bool ServerAdmin::readBackupSets(const QString& pathFile, QList<BackupHeader>& sets)
{
    sets.clear();
    BackupHeader header;
    if (!readBackupHeader(pathFile, header))
        return false;
    sets.append(header);
    return true;
}

bool ServerAdmin::requireEngine(Connection& cn, const QString& engineName)
{
    // The SQL Server operations run on an ODBC connection.
    const QString wanted = engineName == QLatin1String("mssql") ? QStringLiteral("odbc") : engineName;
    if (cn.isOpen() && cn.engine() == wanted)
        return true;
    return fail(DataErr::InvalidConnection,
                cn.isOpen()
                    ? QStringLiteral("The connection belongs to another kind of server.")
                    : QStringLiteral("The connection cannot be used to perform this operation. It is either "
                                     "closed or invalid in this context."),
                QStringLiteral("Orvane data access"));
}

} // namespace ov
