#include "data/DataBackend.h"

#include "data/Connection.h"
#include "data/ConnectionString.h"
#include "data/Identifiers.h"
#include "data/Server.h"
#include "data/jet/JetBackend.h"
#include "data/odbc/OdbcBackend.h"
#include "data/sqlite/EmbeddedServer.h"
#include "data/sqlite/SqliteBackend.h"

#include "common/UiPort.h"

#include <QHash>

namespace ov {

BackendChild::BackendChild(ConnectionBackend* owner) : m_owner(owner)
{
    if (m_owner)
        m_owner->m_children.insert(this);
}

BackendChild::~BackendChild()
{
    // Subclasses call detach() in their own destructors, while their members
    // still exist; this only unregisters a child that never held anything.
    if (m_owner)
        m_owner->m_children.erase(this);
}

void BackendChild::detach()
{
    if (!m_owner)
        return;
    release();
    m_owner->m_children.erase(this);
    m_owner = nullptr;
}

CursorBackend::Fetch SpoolingCursor::fetch(QVector<QVariant>& row, DataError& error)
{
    if (!m_spooled.empty()) {
        row = std::move(m_spooled.front());
        m_spooled.pop_front();
        return Fetch::Row;
    }
    if (m_spoolError.isSet()) {
        error = m_spoolError;
        m_spoolError.clear();
        return Fetch::Failed;
    }
    if (!live())
        return Fetch::End;
    return fetchLive(row, error);
}

void SpoolingCursor::spool()
{
    QVector<QVariant> row;
    while (live() && fetchLive(row, m_spoolError) == Fetch::Row)
        m_spooled.push_back(row);
}

ConnectionBackend::~ConnectionBackend() = default;

QString ConnectionBackend::quoteIdentifier(const QString& name) const
{
    return bracketQuoted(name);
}

QString ConnectionBackend::tableQuery(const QString& table) const
{
    return QStringLiteral("SELECT * FROM ") + quoteIdentifier(table);
}

bool ConnectionBackend::tableNames(QStringList& names, DataError& error)
{
    names.clear();
    setDataError(error, DataErr::NotSupported, QStringLiteral("This connection cannot list its tables."));
    return false;
}

qint64 ConnectionBackend::countRows(const QString& table, DataError& error)
{
    std::unique_ptr<CursorBackend> cursor = query(tableQuery(table), error);
    if (!cursor)
        return -1;
    qint64 count = 0;
    QVector<QVariant> row;
    for (;;) {
        switch (cursor->fetch(row, error)) {
        case CursorBackend::Fetch::Row:
            ++count;
            break;
        case CursorBackend::Fetch::End:
            return count;
        case CursorBackend::Fetch::Failed:
            return -1;
        }
    }
}

QString ConnectionBackend::catalogQuery() const
{
    return QString();
}

QString ConnectionBackend::procedureCall(const QString& callText) const
{
    return QStringLiteral("EXEC ") + callText;
}

void AppendBackend::insertRows(const QVector<QVector<QVariant>>& rows, const QVector<QVector<bool>>& sets,
                               QVector<DataError>& errors)
{
    errors = QVector<DataError>(rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i)
        insert(rows[i], sets.value(i), errors[i]);
}

std::unique_ptr<AppendBackend> ConnectionBackend::appender(const QString&, const QVector<ColumnInfo>&,
                                                           DataError& error)
{
    setDataError(
        error, DataErr::NotSupported,
        QStringLiteral("Current Recordset does not support updating. This may be a limitation of the "
                       "provider, or of the selected locktype."));
    return nullptr;
}

bool ConnectionBackend::beginTrans(DataError& error)
{
    setDataError(error, DataErr::NotSupported,
                 QStringLiteral("This connection does not support transactions."));
    return false;
}

bool ConnectionBackend::commitTrans(DataError& error)
{
    return beginTrans(error);
}

bool ConnectionBackend::rollbackTrans(DataError& error)
{
    return beginTrans(error);
}

void ConnectionBackend::close()
{
    if (m_closed)
        return;
    m_closed = true;
    while (!m_children.empty())
        (*m_children.begin())->detach();
    closeConnection();
}

void ConnectionBackend::spoolCursors()
{
    const std::set<BackendChild*> children = m_children;
    for (BackendChild* child : children) {
        if (m_children.count(child))
            child->spool();
    }
}

void setDataError(DataError& error, qint32 number, const QString& description, const QString& source)
{
    error.number = number;
    error.description = description;
    error.source = source;
    error.machineFailure = false;
}

namespace {

int g_loginTimeoutCap = 0;

// The servers that the running task gave up on, with the error it got.
int g_taskDepth = 0;
QHash<QString, DataError> g_unreachable;

QString serverKey(const QString& server)
{
    return server.trimmed().toLower();
}

// The driver could not reach the server or gave up waiting for it (ODBC's
// connection-failure and time-out states), as against a login it refused.
bool notReached(const DataError& error)
{
    return error.source.startsWith(QLatin1String("ODBC 08")) ||
           error.source.startsWith(QLatin1String("ODBC HYT"));
}

bool startsWith(const QString& text, const char* prefix)
{
    return text.trimmed().startsWith(QLatin1String(prefix), Qt::CaseInsensitive);
}

} // namespace

OneWaitPerServer::OneWaitPerServer()
{
    ++g_taskDepth;
}

OneWaitPerServer::~OneWaitPerServer()
{
    if (--g_taskDepth == 0)
        g_unreachable.clear();
}

void setLoginTimeoutCap(int seconds)
{
    g_loginTimeoutCap = seconds > 0 ? seconds : 0;
}

int loginTimeoutCap()
{
    return g_loginTimeoutCap;
}

namespace {

// Opens the engine that server decided on, for what target asks.
std::unique_ptr<ConnectionBackend> openTarget(const Server& server, const connstr::SqlServerTarget& target,
                                              int commandTimeout, DataError& error)
{
    if (server.engine() == Server::Engine::Embedded)
        return SqliteBackend::open(server.localFolder(), target.database, commandTimeout, error);

    const QString driver = connstr::sqlServerDriver();
    QString refusal;
    if (!connstr::driverTakesValues(target, driver, &refusal)) {
        setDataError(error, DataErr::InvalidArgument, refusal);
        return nullptr;
    }
    int loginTimeout = target.connectTimeout >= 0 ? target.connectTimeout : OdbcBackend::kDefaultLoginTimeout;
    // A time-out of 0 waits for ever; a cap limits that too.
    if (g_loginTimeoutCap > 0 && (loginTimeout == 0 || loginTimeout > g_loginTimeoutCap))
        loginTimeout = g_loginTimeoutCap;
    const QString key = serverKey(target.server);
    if (const auto known = g_unreachable.constFind(key); known != g_unreachable.constEnd()) {
        error = *known;
        return nullptr;
    }
    // The login can take its whole time-out; the windows go on painting.
    const QString odbc = connstr::sqlServerOdbcString(target, driver);
    std::unique_ptr<ConnectionBackend> backend;
    ui().waitFor(QStringLiteral("正在连接服务器 %1...").arg(target.server.trimmed()),
                 [&] { backend = OdbcBackend::open(odbc, loginTimeout, commandTimeout, error); });
    if (!backend) {
        if (g_taskDepth > 0 && notReached(error))
            g_unreachable.insert(key, error);
        const QString advice = connstr::certificateAdvice(error.description, driver);
        if (!advice.isEmpty())
            error.description += QLatin1Char('\n') + advice;
    }
    return backend;
}

} // namespace

std::unique_ptr<ConnectionBackend> openBackend(const QString& connectionString, const QString& user,
                                               const QString& password, int commandTimeout, DataError& error)
{
    if (connstr::isOdbcDriverString(connectionString)) {
        // Already in the driver's form: passed on, with the login of Open's
        // arguments in place of any in the string.
        QString odbc = connectionString;
        if (!user.isEmpty() || !password.isEmpty()) {
            connstr::Pairs pairs;
            if (connstr::parseOdbc(connectionString, pairs)) {
                for (int i = pairs.size() - 1; i >= 0; --i) {
                    const QString& key = pairs[i].key;
                    if ((!user.isEmpty() && key.compare(QLatin1String("UID"), Qt::CaseInsensitive) == 0) ||
                        (!password.isEmpty() && key.compare(QLatin1String("PWD"), Qt::CaseInsensitive) == 0))
                        pairs.removeAt(i);
                }
                if (!user.isEmpty())
                    pairs.append({QStringLiteral("UID"), user});
                if (!password.isEmpty())
                    pairs.append({QStringLiteral("PWD"), password});
                odbc = connstr::joinOdbc(pairs);
            }
        }
        return OdbcBackend::open(odbc, OdbcBackend::kDefaultLoginTimeout, commandTimeout, error);
    }

    connstr::Pairs pairs;
    QString parseError;
    if (!connstr::parseOleDb(connectionString, pairs, &parseError)) {
        setDataError(error, DataErr::InvalidArgument,
                     QStringLiteral("The connection string is not valid: %1").arg(parseError));
        return nullptr;
    }
    const QString provider = connstr::oleDbFind(pairs, QStringLiteral("Provider")).trimmed();
    const connstr::SqlServerTarget target = connstr::readSqlServerTarget(pairs, user, password);

    // The Jet reader for ".cdb" files plugs in here, chosen by its provider.
    if (startsWith(provider, "Microsoft.Jet.OLEDB"))
        return JetBackend::open(pairs, error);
    const bool sqlServerProvider = provider.isEmpty() || startsWith(provider, "SQLOLEDB") ||
                                   startsWith(provider, "SQLNCLI") || startsWith(provider, "MSOLEDBSQL");
    if (!sqlServerProvider) {
        setDataError(
            error, DataErr::ProviderNotFound,
            QStringLiteral("Provider cannot be found. It may not be properly installed. (%1)").arg(provider));
        return nullptr;
    }

    return openTarget(Server(ConnectionSettings{target.server, {}, target.trusted, {}, {}}), target,
                      commandTimeout, error);
}

std::unique_ptr<ConnectionBackend> openServerBackend(const Server& server, const QString& database,
                                                     int connectTimeout, int commandTimeout, DataError& error)
{
    // The values a string built for them would carry, read back: with the
    // Windows login, the string has neither user nor password.
    const ConnectionSettings& s = server.settings();
    connstr::SqlServerTarget target;
    target.server = s.server;
    target.database = database;
    target.trusted = s.trusted;
    if (!s.trusted) {
        target.user = s.user;
        target.password = s.password;
    }
    target.connectTimeout = connectTimeout;
    return openTarget(server, target, commandTimeout, error);
}

} // namespace ov
