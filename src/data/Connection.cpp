#include "data/Connection.h"

#include "data/CommandText.h"
#include "data/DataBackend.h"
#include "data/Identifiers.h"
#include "data/OfflineServer.h"
#include "data/Server.h"
#include "data/StatementTranscript.h"
#include "data/odbc/MssqlStatements.h"

namespace ov {

namespace {

// An open connection whose changes go to a transcript instead of the
// database; the statements are the texts the connection would have run.
class TranscriptBackend : public ConnectionBackend
{
public:
    TranscriptBackend(std::shared_ptr<ConnectionBackend> inner, StatementTranscript& transcript)
        : m_inner(std::move(inner)), m_transcript(transcript)
    {}

    QString kind() const override { return m_inner->kind(); }
    void setCommandTimeout(int seconds) override { m_inner->setCommandTimeout(seconds); }
    bool execute(const QString& batch, DataError&) override
    {
        m_transcript.addBatch(batch);
        return true;
    }
    std::unique_ptr<CursorBackend> query(const QString& text, DataError& error) override
    {
        m_transcript.addBatch(text);
        return m_inner->query(text, error);
    }
    QString quoteIdentifier(const QString& name) const override { return m_inner->quoteIdentifier(name); }
    QString procedureCall(const QString& callText) const override { return m_inner->procedureCall(callText); }
    // The engine's catalog read, sent through query above like any other.
    QString catalogQuery() const override { return m_inner->catalogQuery(); }
    bool beginTrans(DataError&) override
    {
        m_transcript.addBatch(mssql::beginTransactionStatement());
        return true;
    }
    bool commitTrans(DataError&) override
    {
        m_transcript.addBatch(mssql::commitTransactionStatement());
        return true;
    }
    bool rollbackTrans(DataError&) override
    {
        m_transcript.addBatch(mssql::rollbackTransactionStatement());
        return true;
    }

protected:
    void closeConnection() override { m_inner->close(); }

private:
    std::shared_ptr<ConnectionBackend> m_inner;
    StatementTranscript& m_transcript;
};

} // namespace

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

bool Connection::Open(const Server& server, const QString& database, int connectTimeout)
{
    m_error.clear();
    if (m_backend) {
        setDataError(m_error, DataErr::ObjectOpen,
                     QStringLiteral("Operation is not allowed when the object is open."));
        return false;
    }
    // An offline recording reaches no server: its backend answers the reads.
    std::unique_ptr<ConnectionBackend> backend =
        server.offlineAnswers() && server.runsStatements()
            ? openOfflineBackend(*server.offlineAnswers())
            : openServerBackend(server, database, connectTimeout, m_commandTimeout, m_error);
    if (!backend)
        return false;
    m_backend = std::move(backend);
    if (server.transcript())
        transcribe(*server.transcript());
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

void Connection::transcribe(StatementTranscript& transcript)
{
    if (m_backend)
        m_backend = std::make_shared<TranscriptBackend>(m_backend, transcript);
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
