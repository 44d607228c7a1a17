#include "config/mdlOVSqlServerConnect.h"

#include "common/clsError.h"
#include "common/clsMouseCtrl.h"
#include "common/mdlCommon.h"
#include "data/AdoTypes.h"
#include "data/ConnectionString.h"
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
    using ov::connstr::oleDbValue;
    if (trusted) {
        return QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;"
                              "Initial Catalog=") +
               oleDbValue(database) + QStringLiteral(";Data Source=") + oleDbValue(server);
    }
    return QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=True;User ID=") + oleDbValue(user) +
           QStringLiteral(";PASSWORD=") + oleDbValue(password) + QStringLiteral(";Initial Catalog=") +
           oleDbValue(database) + QStringLiteral(";Data Source=") + oleDbValue(server);
}

std::unique_ptr<ov::Connection> ConnectToDBFile(const QString& server, const QString& database, bool trusted,
                                                const QString& user, const QString& password)
{
    clsMouseCtrl busy;
    const QString text = BuildSqlConnectionString(server, database, trusted, user, password);
    auto cn = std::make_unique<ov::Connection>();
    cn->setCursorLocation(ov::adUseClient);
    cn->setCommandTimeout(kCommandTimeout);
    if (!cn->Open(text, QString(), QString())) {
        const ov::DataError& e = cn->lastError();
        mdlCommon::SetError(e.description, QString::number(e.number), e.source);
        mdlCommon::SetErrorContext(QStringLiteral("mdlContactTrace"), QStringLiteral("ConnectToDBFile"),
                                   QStringLiteral("连接数据库失败！"), QString());
        return nullptr;
    }
    return cn;
}

bool EnsureSqlServerRunning(const QString& server, bool trusted, const QString& user, const QString& password)
{
    // A server that is a folder has no service to start.
    const QString folder = ov::ServerAdmin::localFolder(server);
    if (!folder.isEmpty())
        return QFileInfo(folder).isDir();
    ov::Connection cn;
    cn.setCursorLocation(ov::adUseClient);
    const QString text = BuildSqlConnectionString(server, QStringLiteral("master"), trusted, user, password) +
                         QStringLiteral(";Connect Timeout=") + QString::number(kProbeTimeout);
    const bool answered = cn.Open(text);
    cn.Close();
    return answered;
}

std::shared_ptr<ov::DatabaseLock> LockDatabaseForTask(const QString& server, const QString& database,
                                                      bool trusted, const QString& user,
                                                      const QString& password, ov::DataError& error)
{
    error.clear();
    const auto admin = ov::ServerAdmin::create(server, trusted, user, password);
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

} // namespace mdlOVSqlServer
