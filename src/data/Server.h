#pragma once

#include "common/mdlCommon.h"
#include "data/ConnectionSettings.h"
#include "data/DataError.h"

#include <QString>

#include <memory>

namespace ov {

class Connection;
class ServerAdmin;
class StatementTranscript;
struct OfflineAnswers;

// One server as the user named it, with the login: made once from the five
// connection values, it decides once which engine answers the name (the
// embedded engine for "sqlite:FOLDER", SQL Server for any other name) and
// answers for it from then on. Operations take the handle and a database
// name; nothing downstream looks at the server name again.
class Server
{
public:
    enum class Engine
    {
        SqlServer,
        Embedded,
    };

    // The database of settings is the handle's default database.
    explicit Server(ConnectionSettings settings);

    const ConnectionSettings& settings() const { return m_settings; }
    Engine engine() const { return m_engine; }

    // What the server can do, asked by name.
    //
    // The server's work (create, back up, restore a database) is statements
    // sent to it, which a transcript can record; the embedded engine makes
    // and copies files instead.
    bool runsStatements() const { return m_engine == Engine::SqlServer; }
    // Access takes a login and a password; the embedded engine's access is
    // the operating system's access to its folder.
    bool takesLogin() const { return m_engine == Engine::SqlServer; }
    // The folder of a server that is a folder of this machine, or an empty
    // string for a server on the network.
    QString localFolder() const { return m_folder; }
    // How paths on the server are most likely written, before any path of
    // it has been seen.
    mdlCommon::PathStyle pathStyle() const;

    // How connectionString writes its string.
    struct StringOptions
    {
        int connectTimeout = -1;    // seconds of the login time-out; none when negative
        bool withPassword = true;   // false: the password is given to Open instead
        bool quotedCatalog = false; // the database always in double quotes, even when plain
    };
    // The connection string of database on this server in the OLE DB form,
    // the one place where the program writes one. SQL Server login:
    //   Provider=SQLOLEDB.1;Persist Security Info=True;User ID=…;PASSWORD=…;
    //   Initial Catalog=…;Data Source=…
    // Windows login (trusted), without user and password:
    //   Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;
    //   Initial Catalog=…;Data Source=…
    // then ";Connect Timeout=N" when asked. A value holding ";", "=", a quote
    // or blanks at its ends is enclosed in double quotes (inner double quotes
    // doubled), so it stays one value and can never add or replace a key.
    QString connectionString(const QString& database, const StringOptions& options) const;
    QString connectionString(const QString& database) const { return connectionString(database, {}); }

    // Opens cn (closed) on database with client-side cursors and the
    // command time-out commandTimeout (seconds, 0 no limit), and the login
    // time-out connectTimeout when not negative, without a connection
    // string on the way. False with cn.lastError() set when it cannot.
    bool open(Connection& cn, const QString& database, int commandTimeout, int connectTimeout = -1) const;

    // The management side of this server.
    std::unique_ptr<ServerAdmin> admin() const;

    // From here on the handle records instead of changing: every connection
    // it opens, its admin's too (an admin made after this call), adds the
    // statements that would change something to transcript instead of
    // sending them (Connection::transcribe); what an operation reads first
    // (whether a file or a database exists, a backup's file list, the task
    // lock) is still read from the server. So the real operation, run on a
    // recording handle, writes what it would send. transcript must outlive
    // the handle and its connections. The embedded engine's admin works on
    // files, which no transcript shows: its creations, backups and restores
    // refuse a recording handle (see runsStatements).
    void record(StatementTranscript& transcript) { m_transcript = &transcript; }
    // The transcript being written, or nullptr when the handle sends.
    StatementTranscript* transcript() const { return m_transcript; }
    // A recording without a server: as record, but no connection reaches
    // the server; what an operation reads is answered from answers (see
    // openOfflineBackend), and a read they do not answer fails the
    // operation. So a transcript can be made where the server cannot be
    // reached, from what the command line says.
    void recordOffline(StatementTranscript& transcript, const OfflineAnswers& answers);
    // The answers of an offline recording, or nullptr.
    const OfflineAnswers* offlineAnswers() const { return m_offline.get(); }

private:
    ConnectionSettings m_settings;
    Engine m_engine;
    QString m_folder;
    StatementTranscript* m_transcript = nullptr;
    std::shared_ptr<const OfflineAnswers> m_offline;
};

} // namespace ov
