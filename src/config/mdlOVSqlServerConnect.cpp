#include "config/mdlOVSqlServerConnect.h"

#include "common/clsError.h"
#include "common/clsMouseCtrl.h"
#include "common/mdlCommon.h"
#include "data/ServerAdmin.h"

#include <QFileInfo>

namespace mdlOVSqlServer {

namespace {

constexpr int kCommandTimeout = 600;
constexpr int kProbeTimeout = 30;

} // namespace

QString BuildSqlConnectionString(QString server, QString database, bool trusted, QString user,
                                 QString password)
{
    return ov::Server({server, QString(), trusted, user, password}).connectionString(database);
}

std::unique_ptr<ov::Connection> ConnectToDatabase(const ov::Server& server, const QString& database)
{
    clsMouseCtrl busy;
    auto cn = std::make_unique<ov::Connection>();
    if (!server.open(*cn, database, kCommandTimeout)) {
        const ov::DataError& e = cn->lastError();
        mdlCommon::SetError(e.description, QString::number(e.number), e.source);
        mdlCommon::SetErrorContext(QStringLiteral("mdlContactTrace"), QStringLiteral("ConnectToDBFile"),
                                   QStringLiteral("连接数据库失败！"), QString());
        return nullptr;
    }
    return cn;
}

std::unique_ptr<ov::Connection> ConnectToDBFile(const QString& server, const QString& database, bool trusted,
                                                const QString& user, const QString& password)
{
    return ConnectToDatabase(ov::Server({server, database, trusted, user, password}), database);
}

bool EnsureSqlServerRunning(const ov::Server& server)
{
    // A server that is a folder has no service to start.
    if (!server.localFolder().isEmpty())
        return QFileInfo(server.localFolder()).isDir();
    ov::Connection cn;
    const bool answered = server.open(cn, QStringLiteral("master"), cn.CommandTimeout(), kProbeTimeout);
    cn.Close();
    return answered;
}

bool EnsureSqlServerRunning(const QString& server, bool trusted, const QString& user, const QString& password)
{
    return EnsureSqlServerRunning(ov::Server({server, QString(), trusted, user, password}));
}

std::shared_ptr<ov::DatabaseLock> LockDatabaseForTask(const ov::Server& server, const QString& database,
                                                      ov::DataError& error)
{
    error.clear();
    const auto admin = server.admin();
    std::shared_ptr<ov::DatabaseLock> lock = admin->lockDatabase(database);
    if (lock)
        return lock;
    error = admin->lastError();
    if (error.number == ov::DataErr::LockTimeout)
        error.description = mdlCommon::FormatTemplate(
            QStringLiteral(
                "数据库 [{1}] 正在被另一个任务（升级、创建或还原数据库）使用，请等该任务完成后再试。"),
            {database.trimmed()});
    return nullptr;
}

std::shared_ptr<ov::DatabaseLock> LockDatabaseForTask(const QString& server, const QString& database,
                                                      bool trusted, const QString& user,
                                                      const QString& password, ov::DataError& error)
{
    return LockDatabaseForTask(ov::Server({server, database, trusted, user, password}), database, error);
}

} // namespace mdlOVSqlServer
