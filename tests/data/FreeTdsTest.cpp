// SQL Server's connection path through unixODBC and the FreeTDS driver. No SQL
// Server is needed: a closed port gives the driver's own refusal, and a
// listener that speaks just enough of the protocol to receive the login packet
// shows what the driver made of the translated connection string.

#include "DataTestSupport.h"

#include "data/DataError.h"
#include "data/odbc/MssqlBulkCopy.h"
#include "support/SilentServer.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
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

// Accepts one connection, answers the pre-login packet (no encryption) and
// reads the login packet. With answerLogin false it then stays silent, as a
// server that accepted the connection and hangs.
class LoginListener
{
public:
    struct Login
    {
        bool received = false;
        QString user;
        QString password;
        QString database;
    };

    explicit LoginListener(bool closeAfterLogin) : m_closeAfterLogin(closeAfterLogin) { start(); }
    // Accepts the login as a server whose protocol is tdsVersion (0x72090002
    // for SQL Server 2005, 0x730B0003 for 2008, 0x74000004 for 2012 on), and
    // then answers every batch with an empty result until the client leaves.
    explicit LoginListener(quint32 tdsVersion) : m_closeAfterLogin(true), m_ackVersion(tdsVersion)
    {
        start();
    }
    ~LoginListener()
    {
        if (m_thread.joinable())
            m_thread.join();
        if (m_socket >= 0)
            ::close(m_socket);
    }
    LoginListener(const LoginListener&) = delete;
    LoginListener& operator=(const LoginListener&) = delete;

    int port() const { return m_port; }
    // Waits for the exchange to end.
    Login login()
    {
        if (m_thread.joinable())
            m_thread.join();
        return m_login;
    }

    // The batches received after the login, once the client has left.
    QStringList batches()
    {
        if (m_thread.joinable())
            m_thread.join();
        return m_batches;
    }

private:
    void start()
    {
        m_socket = listenOnLoopback(m_port);
        if (m_socket >= 0)
            m_thread = std::thread([this] { serve(); });
    }

    // One protocol message: the payloads of its packets up to the last one.
    static bool readMessage(int fd, unsigned char& type, QByteArray& payload)
    {
        payload.clear();
        for (;;) {
            unsigned char header[8];
            if (!readAll(fd, header, 8))
                return false;
            type = header[0];
            const int length = (header[2] << 8) | header[3];
            QByteArray part(length - 8, '\0');
            if (length < 8 || !readAll(fd, part.data(), part.size()))
                return false;
            payload += part;
            if (header[1] & 0x01)
                return true;
        }
    }
    static bool readAll(int fd, void* buffer, qsizetype size)
    {
        auto* p = static_cast<char*>(buffer);
        while (size > 0) {
            pollfd pfd = {fd, POLLIN, 0};
            if (::poll(&pfd, 1, 10000) <= 0)
                return false;
            const ssize_t n = ::recv(fd, p, size_t(size), 0);
            if (n <= 0)
                return false;
            p += n;
            size -= n;
        }
        return true;
    }
    static QString field(const QByteArray& login, int at)
    {
        const auto u16 = [&](int i) {
            return int(static_cast<unsigned char>(login[i])) |
                   (int(static_cast<unsigned char>(login[i + 1])) << 8);
        };
        const int offset = u16(at);
        const int chars = u16(at + 2);
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(login.constData() + offset), chars);
    }

    static void sendPacket(int fd, unsigned char type, const QByteArray& payload)
    {
        QByteArray packet;
        const int length = int(payload.size()) + 8;
        packet.append(char(type)).append(char(0x01)).append(char(length >> 8)).append(char(length & 0xFF));
        packet.append(4, '\0');
        packet += payload;
        ::send(fd, packet.constData(), size_t(packet.size()), MSG_NOSIGNAL);
    }
    // DONE, with the eight-byte row count of protocol 7.2 and later.
    static QByteArray doneToken() { return QByteArray("\xFD", 1) + QByteArray(12, '\0'); }
    // LOGINACK naming the server's protocol version, then DONE.
    QByteArray loginAck() const
    {
        const QString name = QStringLiteral("Microsoft SQL Server");
        QByteArray body;
        body.append(char(1));
        for (int shift = 24; shift >= 0; shift -= 8)
            body.append(char((m_ackVersion >> shift) & 0xFF));
        body.append(char(name.size()));
        body.append(reinterpret_cast<const char*>(name.utf16()), name.size() * 2);
        body.append("\x09\x00\x13\x88", 4);
        QByteArray token("\xAD", 1);
        token.append(char(body.size() & 0xFF)).append(char(body.size() >> 8));
        return token + body + doneToken();
    }

    void serve()
    {
        pollfd pfd = {m_socket, POLLIN, 0};
        if (::poll(&pfd, 1, 10000) <= 0)
            return;
        const int fd = ::accept(m_socket, nullptr, nullptr);
        if (fd < 0)
            return;
        unsigned char type = 0;
        QByteArray payload;
        if (readMessage(fd, type, payload) && type == 0x12) {
            if (m_ackVersion != 0) {
                // Pre-login answer of SQL Server 2005 and later: version,
                // encryption not supported, and the MARS option.
                static const unsigned char answer[] = {0x00, 0x00, 0x10, 0x00, 0x06, 0x01, 0x00, 0x16,
                                                       0x00, 0x01, 0x04, 0x00, 0x17, 0x00, 0x01, 0xFF,
                                                       0x09, 0x00, 0x13, 0x88, 0x00, 0x00, 0x02, 0x00};
                sendPacket(fd, 0x04, QByteArray(reinterpret_cast<const char*>(answer), sizeof answer));
            } else {
                // Pre-login answer: version 14.0, encryption not supported.
                static const unsigned char answer[] = {0x04, 0x01, 0x00, 26,   0x00, 0x00, 0x01, 0x00, 0x00,
                                                       0x00, 0x0B, 0x00, 0x06, 0x01, 0x00, 0x11, 0x00, 0x01,
                                                       0xFF, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02};
                ::send(fd, answer, sizeof answer, MSG_NOSIGNAL);
            }
            if (readMessage(fd, type, payload) && type == 0x10 && payload.size() >= 94) {
                m_login.received = true;
                m_login.user = field(payload, 40);
                m_login.database = field(payload, 68);
                // The password travels with each byte's halves swapped and XOR 0xA5.
                QString password = field(payload, 44);
                QByteArray bytes(reinterpret_cast<const char*>(password.utf16()), password.size() * 2);
                for (char& c : bytes) {
                    const unsigned char b = static_cast<unsigned char>(c) ^ 0xA5;
                    c = static_cast<char>(((b << 4) | (b >> 4)) & 0xFF);
                }
                m_login.password =
                    QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), password.size());
            }
            if (m_login.received && m_ackVersion != 0) {
                sendPacket(fd, 0x04, loginAck());
                while (readMessage(fd, type, payload)) {
                    // A batch of protocol 7.2 and later begins with its
                    // headers, led by their total length.
                    int text = 0;
                    if (payload.size() >= 4) {
                        const int headers = int(quint8(payload[0])) | (int(quint8(payload[1])) << 8) |
                                            (int(quint8(payload[2])) << 16) | (int(quint8(payload[3])) << 24);
                        if (headers >= 4 && headers <= payload.size())
                            text = headers;
                    }
                    m_batches.append(type == 0x01 ? QString::fromUtf16(reinterpret_cast<const char16_t*>(
                                                                           payload.constData() + text),
                                                                       (payload.size() - text) / 2)
                                                  : QStringLiteral("<message %1>").arg(type));
                    sendPacket(fd, 0x04, doneToken());
                }
            }
            if (!m_closeAfterLogin) {
                // Say nothing until the client gives up.
                char c;
                readAll(fd, &c, 1);
            }
        }
        ::close(fd);
    }

    int m_socket = -1;
    int m_port = -1;
    bool m_closeAfterLogin;
    quint32 m_ackVersion = 0;
    QStringList m_batches;
    std::thread m_thread;
    Login m_login;
};

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
        LoginListener server(true);
        ASSERT_GT(server.port(), 0);
        Connection cn;
        EXPECT_FALSE(
            cn.Open(sqlLogin(QStringLiteral("127.0.0.1,%1").arg(server.port()), QString::fromUtf8(c.database),
                             QString::fromUtf8(c.user), QString::fromUtf8(c.password))));
        const LoginListener::Login login = server.login();
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
    LoginListener server(true);
    ASSERT_GT(server.port(), 0);
    Connection cn;
    EXPECT_FALSE(
        cn.Open(sqlLogin(QStringLiteral("127.0.0.1,%1").arg(server.port()), QStringLiteral("OrvaneCrm"),
                         QStringLiteral("sa"), QStringLiteral("x}Database=master}"))));
    const LoginListener::Login login = server.login();
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
        LoginListener server(true);
        ASSERT_GT(server.port(), 0);
        Connection cn;
        EXPECT_FALSE(cn.Open(sqlLogin(QString::fromLatin1(form).arg(server.port()), QStringLiteral("crm"),
                                      QStringLiteral("sa"), QStringLiteral("pw"))));
        EXPECT_TRUE(server.login().received) << str(cn.lastError().description);
    }
}

TEST(FreeTds, ServerThatNeverAnswersEndsAtTheLoginTimeOut)
{
    LoginListener server(false);
    ASSERT_GT(server.port(), 0);
    Connection cn;
    // The login time-out of the string (here one second instead of the
    // default fifteen) reaches the driver.
    EXPECT_FALSE(cn.Open(sqlLogin(QStringLiteral("127.0.0.1,%1").arg(server.port()), QStringLiteral("crm"),
                                  QStringLiteral("sa"), QStringLiteral("pw")) +
                         QStringLiteral(";Connect Timeout=1")));
    EXPECT_TRUE(server.login().received);
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
        EXPECT_FALSE(mssql::bulkCopyIn({server.name(), false, QStringLiteral("sa"), QStringLiteral("pw")},
                                       QStringLiteral("crm"), QStringLiteral("t"), data,
                                       dir.filePath(QStringLiteral("t.err")), rows, messages, error));
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
    const struct
    {
        const char* server;
        quint32 version;
    } servers[] = {
        {"SQL Server 2005", 0x72090002}, {"SQL Server 2008", 0x730B0003}, {"SQL Server 2012", 0x74000004}};
    for (const auto& v : servers) {
        SCOPED_TRACE(v.server);
        LoginListener server(v.version);
        ASSERT_GT(server.port(), 0);
        {
            Connection cn;
            ASSERT_TRUE(cn.Open(sqlLogin(QStringLiteral("127.0.0.1,%1").arg(server.port()),
                                         QStringLiteral("crm"), QStringLiteral("sa"), QStringLiteral("pw"))))
                << str(cn.lastError().description);
            EXPECT_TRUE(cn.Execute(QStringLiteral("UPDATE t SET a = N'中文'")))
                << str(cn.lastError().description);
        }
        EXPECT_TRUE(server.login().received);
        EXPECT_TRUE(server.batches().contains(QStringLiteral("UPDATE t SET a = N'中文'")))
            << server.batches().join(QLatin1Char('\n')).toStdString();
    }
}

} // namespace
