#include "data/Server.h"

#include "data/Connection.h"
#include "data/ConnectionString.h"
#include "data/OfflineServer.h"
#include "data/odbc/MssqlAdmin.h"
#include "data/sqlite/EmbeddedServer.h"
#include "data/sqlite/SqliteAdmin.h"

namespace ov {

namespace {

// "sqlite:FOLDER" (the prefix in any letter case) names the embedded engine.
bool isEmbeddedServer(const QString& server)
{
    return server.trimmed().startsWith(embedded::serverPrefix(), Qt::CaseInsensitive);
}

} // namespace

Server::Server(ConnectionSettings settings)
    : m_settings(std::move(settings)),
      m_engine(isEmbeddedServer(m_settings.server) ? Engine::Embedded : Engine::SqlServer)
{
    if (m_engine == Engine::Embedded)
        m_folder = embedded::serverFolder(m_settings.server);
}

mdlCommon::PathStyle Server::pathStyle() const
{
    return m_engine == Engine::Embedded ? mdlCommon::PathStyle::Posix : mdlCommon::PathStyle::Windows;
}

QString Server::connectionString(const QString& database, const StringOptions& options) const
{
    using connstr::oleDbValue;
    const ConnectionSettings& s = m_settings;
    const QString catalog = options.quotedCatalog ? connstr::oleDbQuoted(database) : oleDbValue(database);
    QString text;
    if (s.trusted)
        text = QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;"
                              "Initial Catalog=") +
               catalog + QStringLiteral(";Data Source=") + oleDbValue(s.server);
    else
        text = QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=True;User ID=") +
               oleDbValue(s.user) +
               (options.withPassword ? QStringLiteral(";PASSWORD=") + oleDbValue(s.password) : QString()) +
               QStringLiteral(";Initial Catalog=") + catalog + QStringLiteral(";Data Source=") +
               oleDbValue(s.server);
    if (options.connectTimeout >= 0)
        text += QStringLiteral(";Connect Timeout=") + QString::number(options.connectTimeout);
    return text;
}

bool Server::open(Connection& cn, const QString& database, int commandTimeout, int connectTimeout) const
{
    cn.setCursorLocation(adUseClient);
    cn.setCommandTimeout(commandTimeout);
    return cn.Open(*this, database, connectTimeout);
}

void Server::recordOffline(StatementTranscript& transcript, const OfflineAnswers& answers)
{
    m_transcript = &transcript;
    m_offline = std::make_shared<const OfflineAnswers>(answers);
}

std::unique_ptr<ServerAdmin> Server::admin() const
{
    // The embedded engine has no logins of its own: access is the operating
    // system's access to its folder, whichever login mode is chosen.
    if (m_engine == Engine::Embedded)
        return std::make_unique<SqliteAdmin>(m_folder);
    return std::make_unique<MssqlAdmin>(*this);
}

} // namespace ov
