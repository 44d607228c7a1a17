// SQL Server's connection path through unixODBC and the FreeTDS driver. No SQL
// Server is needed: a closed port gives the driver's own refusal, and the
// scripted TDS peer of the test kit records the login packet, which shows what
// the driver made of the translated connection string, and answers as the
// server versions do.

#include "DataTestSupport.h"

#include "data/DataError.h"
#include "data/odbc/MssqlBulkCopy.h"
#include "support/SilentServer.h"
#include "support/TdsPeer.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace ov;
using ovtest::str;

namespace {

// Binds a listening socket on 127.0.0.1 with a port of the system's choice.
int listenOnLoopback(int& port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(s, 1) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (s >= 0)
            ::close(s);
        return -1;
    }
    port = ntohs(addr.sin_port);
    return s;
}

// A port of 127.0.0.1 where nothing listens.
int closedPort()
{
    int port = -1;
    const int s = listenOnLoopback(port);
    if (s >= 0)
        ::close(s);
    return port;
}

// The login a peer received, once the client has given up or logged in.
struct Login
{
    bool received = false;
    QString user;
    QString password;
    QString database;
};

Login loginOf(const ovtest::TdsPeer& peer)
{
    Login login;
    const QList<QJsonObject> logins = peer.events(QStringLiteral("login"));
    if (logins.size() != 1)
        return login;
    login.received = true;
    login.user = logins[0][QStringLiteral("user")].toString();
    login.password = logins[0][QStringLiteral("password")].toString();
    login.database = logins[0][QStringLiteral("database")].toString();
    return login;
}

// A peer that reads the login and then drops the connection, or with
// answer "silent" never says another word.
QByteArray loginOnly(const char* answer = "close")
{
    return QByteArray(R"j({"login": ")j") + answer + "\"}";
}

// Runs work on a thread of its own and waits for it at most a minute, far
// beyond any login time-out the tests set. A login that waits for ever is
// reported and ends the test program at once: the driver's thread cannot be
// stopped, and waiting on for it would only hang the run.
void expectToFinish(const char* what, std::function<void()> work)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread([done, work = std::move(work)] {
        work();
        *done = true;
    }).detach();
    for (int waited = 0; waited < 600 && !*done; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!*done) {
        std::fprintf(stderr, "%s: still waiting after a minute; the login time-out was not kept\n", what);
        std::fflush(stderr);
        ::_exit(1);
    }
}

QString sqlLogin(const QString& server, const QString& database, const QString& user, const QString& password)
{
    using connstr::oleDbValue;
    return QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=True;User ID=") + oleDbValue(user) +
           QStringLiteral(";PASSWORD=") + oleDbValue(password) + QStringLiteral(";Initial Catalog=") +
           oleDbValue(database) + QStringLiteral(";Data Source=") + oleDbValue(server);
}

TEST(FreeTds, ClosedPortGivesTheProvidersErrorWithNumberAndText)
{
    const int port = closedPort();
    ASSERT_GT(port, 0);
    Connection cn;
    cn.setCursorLocation(adUseClient);
    EXPECT_FALSE(cn.Open(sqlLogin(QStringLiteral("127.0.0.1,%1").arg(port), QStringLiteral("OrvaneCrm"),
                                  QStringLiteral("sa"), QStringLiteral("secret;x"))));
    EXPECT_FALSE(cn.isOpen());
    const DataError& e = cn.lastError();
    EXPECT_EQ(e.number, 20009) << str(e.description);
    EXPECT_TRUE(e.description.contains(QLatin1String(
        "[FreeTDS][SQL Server]Unable to connect: Adaptive Server is unavailable or does not exist")))
        << str(e.description);
    EXPECT_TRUE(e.source.startsWith(QLatin1String("ODBC 08"))) << str(e.source);
    // A server that cannot be reached is a failure of the machine, not of a statement.
    EXPECT_TRUE(e.machineFailure);
    EXPECT_FALSE(e.description.contains(QLatin1String("secret")));
}

// The task lock of a SQL Server that cannot be reached is no hold: the
// provider's error, never the refusal that says another task holds it.
TEST(FreeTds, TaskLockOnAnUnreachableServerFailsWithTheProvidersError)
{
    const int port = closedPort();
    ASSERT_GT(port, 0);
    const auto admin = ServerAdmin::create(QStringLiteral("127.0.0.1,%1").arg(port), false,
                                           QStringLiteral("sa"), QStringLiteral("pw"));
    EXPECT_FALSE(admin->lockDatabase(QStringLiteral("OrvaneCrm")));
    EXPECT_EQ(admin->lastError().number, 20009) << str(admin->lastError().description);
}

TEST(FreeTds, ValuesWithSeparatorsReachTheServerWhole)
{
    // Each value must arrive as typed: a password that tries to change the
    // database logs in with that password and the database stays.
    const struct
    {
        const char* user;
        const char* password;
        const char* database;
    } cases[] = {
        {"sa", "a;Initial Catalog=master", "OrvaneCrm"},
        {"o'brien", "\"quoted\" 'single'", "Crm;Database=master"},
        {"user=admin", " spaces ", "{Crm"},
        {"张三", "密码;PWD=x;UID=sa", "客户"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.password);
        ovtest::TdsPeer server(loginOnly());
        ASSERT_TRUE(server.isRunning()) << str(server.error());
        Connection cn;
        EXPECT_FALSE(
            cn.Open(sqlLogin(QStringLiteral("127.0.0.1,%1").arg(server.port()), QString::fromUtf8(c.database),
                             QString::fromUtf8(c.user), QString::fromUtf8(c.password))));
        const Login login = loginOf(server);
        ASSERT_TRUE(login.received) << str(cn.lastError().description);
        EXPECT_EQ(login.database, QString::fromUtf8(c.database));
        EXPECT_EQ(login.user, QString::fromUtf8(c.user));
        EXPECT_EQ(login.password, QString::fromUtf8(c.password));
    }
}

TEST(FreeTds, ClosingBracesNeverChangeOtherValues)
{
    // A "}" inside a value is written "}}". FreeTDS before 1.4 reads that
    // literally, so such a password fails as a wrong one there; the database
    // and the login stay as typed either way.
    ovtest::TdsPeer server(loginOnly());
    ASSERT_TRUE(server.isRunning()) << str(server.error());
    Connection cn;
    EXPECT_FALSE(
        cn.Open(sqlLogin(QStringLiteral("127.0.0.1,%1").arg(server.port()), QStringLiteral("OrvaneCrm"),
                         QStringLiteral("sa"), QStringLiteral("x}Database=master}"))));
    const Login login = loginOf(server);
    ASSERT_TRUE(login.received) << str(cn.lastError().description);
    EXPECT_EQ(login.database, QStringLiteral("OrvaneCrm"));
    EXPECT_EQ(login.user, QStringLiteral("sa"));
    EXPECT_TRUE(login.password == QStringLiteral("x}Database=master}") ||
                login.password == QStringLiteral("x}}Database=master}}"))
        << str(login.password);

    // "};" would end the value early in those versions and turn the rest into
    // keys: such a value is refused before anything is sent.
    for (const char* password : {"a}};Database=master;x={", "x};UID=sa"}) {
        Connection refused;
        EXPECT_FALSE(refused.Open(sqlLogin(QStringLiteral("127.0.0.1,1"), QStringLiteral("OrvaneCrm"),
                                           QStringLiteral("sa"), QString::fromUtf8(password))));
        EXPECT_EQ(refused.lastError().number, DataErr::InvalidArgument) << password;
        EXPECT_TRUE(refused.lastError().description.contains(QLatin1String("password"))) << password;
        EXPECT_FALSE(refused.lastError().description.contains(QString::fromUtf8(password)));
    }
}

TEST(FreeTds, ServerNameFormsReachTheRightPort)
{
    for (const char* form : {"127.0.0.1,%1", "(local),%1", "tcp:localhost,%1", " . ,%1"}) {
        SCOPED_TRACE(form);
        ovtest::TdsPeer server(loginOnly());
        ASSERT_TRUE(server.isRunning()) << str(server.error());
        Connection cn;
        EXPECT_FALSE(cn.Open(sqlLogin(QString::fromLatin1(form).arg(server.port()), QStringLiteral("crm"),
                                      QStringLiteral("sa"), QStringLiteral("pw"))));
        EXPECT_TRUE(loginOf(server).received) << str(cn.lastError().description);
    }
}

TEST(FreeTds, ServerThatNeverAnswersEndsAtTheLoginTimeOut)
{
    ovtest::TdsPeer server(loginOnly("silent"));
    ASSERT_TRUE(server.isRunning()) << str(server.error());
    Connection cn;
    // The login time-out of the string (here one second instead of the
    // default fifteen) reaches the driver.
    EXPECT_FALSE(cn.Open(sqlLogin(QStringLiteral("127.0.0.1,%1").arg(server.port()), QStringLiteral("crm"),
                                  QStringLiteral("sa"), QStringLiteral("pw")) +
                         QStringLiteral(";Connect Timeout=1")));
    EXPECT_TRUE(loginOf(server).received);
    EXPECT_FALSE(cn.isOpen());
    EXPECT_TRUE(cn.lastError().description.contains(QLatin1String("[FreeTDS][SQL Server]Timeout expired")))
        << str(cn.lastError().description);
}

// A server that accepts the connection and never says a word, not even to the
// pre-login packet: each way of logging in gives up at its time-out. (FreeTDS's
// automatic protocol choice falls back to a second login that waits without
// one, so the protocol version is always named.)
TEST(FreeTds, ServerThatNeverSaysAWordEndsEveryLoginAtItsTimeOut)
{
    ovtest::SilentServer server;
    ASSERT_GT(server.port(), 0);
    ovtest::ShortLoginTimeouts shortened;

    Connection cn;
    expectToFinish("Connection::Open", [&] {
        EXPECT_FALSE(cn.Open(
            sqlLogin(server.name(), QStringLiteral("crm"), QStringLiteral("sa"), QStringLiteral("pw"))));
    });
    EXPECT_FALSE(cn.isOpen());
    EXPECT_TRUE(cn.lastError().description.contains(QLatin1String("Timeout expired")))
        << str(cn.lastError().description);

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString data = dir.filePath(QStringLiteral("t.dat"));
    ovtest::writeFile(data, "1\r\n");
    qint64 rows = -1;
    QStringList messages;
    DataError error;
    expectToFinish("bulkCopyIn", [&] {
        EXPECT_FALSE(mssql::bulkCopyIn(
            {server.name(), QStringLiteral("crm"), false, QStringLiteral("sa"), QStringLiteral("pw")},
            QStringLiteral("t"), data, dir.filePath(QStringLiteral("t.err")), rows, messages, error));
    });
    EXPECT_TRUE(error.isSet());
    EXPECT_EQ(rows, 0);
    EXPECT_GE(server.connections(), 2);
}

// The protocol is named as 7.4, and a server that answers the login with an
// older one is taken at its word: SQL Server 2005 and 2008 connect and run
// batches, as 2012 and later do.
TEST(FreeTds, ServersOfEveryProtocolFrom2005OnAcceptTheLogin)
{
    for (const char* version : {"2005", "2008", "2012"}) {
        SCOPED_TRACE(version);
        ovtest::TdsPeer server(QByteArray(R"j({"version": ")j") + version + "\"}");
        ASSERT_TRUE(server.isRunning()) << str(server.error());
        {
            Connection cn;
            ASSERT_TRUE(cn.Open(
                sqlLogin(server.server(), QStringLiteral("crm"), QStringLiteral("sa"), QStringLiteral("pw"))))
                << str(cn.lastError().description);
            EXPECT_TRUE(cn.Execute(QStringLiteral("UPDATE t SET a = N'中文'")))
                << str(cn.lastError().description);
        }
        EXPECT_TRUE(loginOf(server).received);
        EXPECT_TRUE(server.statements().contains(QStringLiteral("UPDATE t SET a = N'中文'")))
            << server.statements().join(QLatin1Char('\n')).toStdString();
    }
}

} // namespace

namespace {

// A text of length characters, mixed Chinese and ASCII, whose every piece
// differs, so that a lost or repeated piece shows.
QString longText(int length)
{
    QString text;
    for (int i = 0; text.size() < length; ++i)
        text += QStringLiteral("行%1,").arg(i);
    return text.left(length);
}

} // namespace

// Long texts come back whole through SQLGetData, also where the driver cannot
// say how much is left (SQL_NO_TOTAL) and only reports that it cut the text.
TEST(FreeTds, LongTextsComeBackWhole)
{
    const struct
    {
        const char* type;
        int length;
        const char* options;
    } cases[] = {
        {"nvarchar(4000)", 4000, ""},
        {"nvarchar(max)", 4095, ""},
        {"nvarchar(max)", 4096, ""},
        {"nvarchar(max)", 20000, R"j(, "chunk": 999)j"},
        {"nvarchar(max)", 9000, R"j(, "total": false)j"},
        {"varchar(max)", 5000, ""},
        {"varchar(8000)", 4100, ""},
        {"ntext", 5000, ""},
        {"text", 9000, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + std::to_string(c.length) + c.options);
        const QString text = longText(c.length);
        const QByteArray value = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
        ovtest::TdsPeer peer(QByteArray(R"j({"rules": [{"match": "SELECT body FROM m", "reply": [
            {"columns": [{"name": "body", "type": ")j") +
                             c.type + "\"" + c.options + R"j(}], "rows": [)j" + value + R"j(]},
            {"done": {"count": 1}}]}]})j");
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        Connection cn;
        ASSERT_TRUE(cn.Open(peer.login(QStringLiteral("crm")))) << str(cn.lastError().description);
        Recordset rs;
        ASSERT_TRUE(rs.Open(QStringLiteral("SELECT body FROM m"), cn)) << str(rs.lastError().description);
        ASSERT_FALSE(rs.Eof());
        const QString read = rs.Fields(0).Value().toString();
        EXPECT_EQ(read.size(), text.size());
        EXPECT_TRUE(read == text);
    }
}
