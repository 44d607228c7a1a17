#include "data/Connection.h"

#include "data/CommandText.h"
#include "data/DataBackend.h"
#include "data/Identifiers.h"

namespace ov {

Connection::Connection() = default;

Connection::~Connection()
{
    Close();
}

void Connection::setCommandTimeout(int seconds)
{
    m_commandTimeout = seconds < 0 ? 0 : seconds;
    if (m_backend)
        m_backend->setCommandTimeout(m_commandTimeout);
}

bool Connection::Open(const QString& connectionString, const QString& userId, const QString& password)
{
    m_error.clear();
    if (m_backend) {
        setDataError(m_error, DataErr::ObjectOpen,
                     QStringLiteral("Operation is not allowed when the object is open."));
        return false;
    }
    if (!connectionString.isEmpty())
        m_connectionString = connectionString;
    std::unique_ptr<ConnectionBackend> backend =
        openBackend(m_connectionString, userId, password, m_commandTimeout, m_error);
    if (!backend)
        return false;
    m_backend = std::move(backend);
    return true;
}

bool Connection::requireOpen()
{
    m_error.clear();
    if (m_backend)
        return true;
    setDataError(m_error, DataErr::ObjectClosed,
                 QStringLiteral("Operation is not allowed when the object is closed."));
    return false;
}

bool Connection::Execute(const QString& commandText)
{
    return requireOpen() && acceptCommandText(commandText, m_error) &&
           m_backend->execute(commandText, m_error);
}

bool Connection::BeginTrans()
{
    return requireOpen() && m_backend->beginTrans(m_error);
}

bool Connection::CommitTrans()
{
    return requireOpen() && m_backend->commitTrans(m_error);
}

bool Connection::RollbackTrans()
{
    return requireOpen() && m_backend->rollbackTrans(m_error);
}

void Connection::Close()
{
    if (!m_backend)
        return;
    m_backend->close();
    m_backend.reset();
}

QString Connection::engine() const
{
    return m_backend ? m_backend->kind() : QString();
}

QString Connection::quoteIdentifier(const QString& name) const
{
    return m_backend ? m_backend->quoteIdentifier(name) : bracketQuoted(name);
}

} // namespace ov
