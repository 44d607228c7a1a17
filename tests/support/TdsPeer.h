#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace ovtest {

// The JSON array of text, for the replies of a peer's script and for
// comparing what it recorded.
inline QJsonArray JsonArray(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).array();
}

// A scripted SQL Server on 127.0.0.1 (tests/support/tdspeer.py): it answers
// the login and then each request from the script, and records every batch,
// RPC, bulk load, attention and transaction request it receives. The script's
// keys and the record's fields are described at the top of tdspeer.py.
//
//   ovtest::TdsPeer peer(R"({"rules": [{"match": "SELECT 1", "reply": [
//       {"columns": [{"name": "a", "type": "int"}], "rows": [[1]]}, {"done": {"count": 1}}]}]})");
//   Connection cn;
//   ASSERT_TRUE(cn.Open(peer.login("crm")));
//   ... peer.statements(), peer.events("rpc") ...
//
// The peer ends with this object, with the test process, or after five idle
// minutes. A script the peer could not follow fails the test.
class TdsPeer
{
public:
    // script: the script as JSON text; an empty text answers everything with a DONE.
    explicit TdsPeer(const QByteArray& script = "{}");
    explicit TdsPeer(const QJsonObject& script);
    ~TdsPeer();
    TdsPeer(const TdsPeer&) = delete;
    TdsPeer& operator=(const TdsPeer&) = delete;

    // Whether it listens; when not, error() says why.
    bool isRunning() const { return m_port > 0; }
    QString error() const;
    int port() const { return m_port; }
    // The server name that reaches it: "127.0.0.1,PORT".
    QString server() const;
    // The OLE DB connection string of a SQL Server login to database on the peer.
    QString login(const QString& database, const QString& user = QStringLiteral("sa"),
                  const QString& password = QStringLiteral("pw")) const;
    // A freetds.conf naming the peer "peer" (TDS 7.4), for FreeTDS's own
    // programs: set FREETDSCONF to it and give "-S peer".
    QString freetdsConf() const;
    // A folder that lives as long as the peer.
    QString folder() const { return m_dir.path(); }

    // Every record line so far, in the order received.
    QList<QJsonObject> record() const;
    // The record lines of one kind ("batch", "rpc", "bulk", "tm", "attention", "login", ...).
    QList<QJsonObject> events(const QString& kind) const;
    // The text of each batch and the statement of each RPC, in order.
    QStringList statements() const;
    // The messages clients sent, in order, for a peer whose script has
    // "wire": true: each one round trip, with its TDS packet type, its size
    // on the wire (packet headers included) and the record lines of the
    // requests it carried (an RPC message of a parameter array carries one
    // "rpc" line per row).
    struct Message
    {
        int connection = 0;
        int type = 0;
        qint64 bytes = 0;
        QList<QJsonObject> requests;
    };
    QList<Message> messages() const;
    // Waits until the record has count lines of kind; false after timeoutMs.
    bool waitFor(const QString& kind, int count = 1, int timeoutMs = 10000) const;
    // Stops the peer at once; the record stays readable.
    void stop();

private:
    void start(const QByteArray& script);

    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = -1;
};

} // namespace ovtest
