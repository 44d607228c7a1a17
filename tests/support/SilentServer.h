#pragma once

#include "data/Connection.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QEvent>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <QtTest/qtestspontaneevent.h>

#include <functional>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace ovtest {

// A SQL Server that accepts every connection on 127.0.0.1 and never answers,
// as a server that hangs. Counts the connections it accepted, so a test sees
// how often a task knocked.
class SilentServer
{
public:
    SilentServer()
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(m_socket, 8) != 0 ||
            ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            return;
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~SilentServer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        for (int fd : m_accepted)
            ::close(fd);
        if (m_socket >= 0)
            ::close(m_socket);
    }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    int port() const { return m_port; }
    // The server name that reaches it.
    QString name() const { return QStringLiteral("127.0.0.1,%1").arg(m_port); }
    int connections() const { return m_connections; }

private:
    void serve()
    {
        while (!m_stop) {
            pollfd pfd = {m_socket, POLLIN, 0};
            if (::poll(&pfd, 1, 50) <= 0)
                continue;
            const int fd = ::accept(m_socket, nullptr, nullptr);
            if (fd < 0)
                continue;
            m_accepted.push_back(fd);
            ++m_connections;
        }
    }

    int m_socket = -1;
    int m_port = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::vector<int> m_accepted;
};

// Shortens every login time-out to one second for its lifetime.
class ShortLoginTimeouts
{
public:
    ShortLoginTimeouts() { ov::setLoginTimeoutCap(1); }
    ~ShortLoginTimeouts() { ov::setLoginTimeoutCap(0); }
    ShortLoginTimeouts(const ShortLoginTimeouts&) = delete;
    ShortLoginTimeouts& operator=(const ShortLoginTimeouts&) = delete;
};

// Watches a window while one of its tasks meets a silent server: every 20 ms
// it asks the window to repaint, runs poke (a click that must start nothing,
// say) and, while the busy pointer is up, asks the window to close as the
// window system does when the user closes it from its frame; it counts the
// paint events that the window processed while the server held a connection.
// A window whose thread is blocked in the connection attempt processes none.
class WaitWatch : public QObject
{
public:
    WaitWatch(QWidget* window, const SilentServer& server, std::function<void()> poke = {})
        : m_window(window), m_server(server), m_poke(std::move(poke))
    {
        window->installEventFilter(this);
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
        m_timer.start();
    }
    ~WaitWatch() override
    {
        if (m_window)
            m_window->removeEventFilter(this);
    }

    int paintsWhileWaiting() const { return m_paints; }
    int ticksWhileWaiting() const { return m_ticks; }
    // How often the window was asked to close while it waited, and how often
    // it was still there after the request.
    int closeRequests() const { return m_closeRequests; }
    int closesRefused() const { return m_closesRefused; }
    // Whether the busy pointer was up at every tick during the wait.
    bool busyThroughout() const { return m_ticks > 0 && m_busyTicks == m_ticks; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_window && event->type() == QEvent::Paint && waiting())
            ++m_paints;
        return QObject::eventFilter(watched, event);
    }

private:
    bool waiting() const { return m_server.connections() > 0; }
    void tick()
    {
        if (!m_window || !waiting())
            return;
        ++m_ticks;
        const QCursor* pointer = QApplication::overrideCursor();
        const bool busy = pointer && pointer->shape() == Qt::WaitCursor;
        if (busy)
            ++m_busyTicks;
        m_window->update();
        if (m_poke)
            m_poke();
        if (busy && m_window && m_window->windowHandle()) {
            ++m_closeRequests;
            QCloseEvent close;
            QSpontaneKeyEvent::setSpontaneous(&close);
            QCoreApplication::sendEvent(m_window->windowHandle(), &close);
            if (m_window && m_window->isVisible())
                ++m_closesRefused;
        }
    }

    QPointer<QWidget> m_window;
    const SilentServer& m_server;
    std::function<void()> m_poke;
    QTimer m_timer;
    int m_paints = 0;
    int m_ticks = 0;
    int m_busyTicks = 0;
    int m_closeRequests = 0;
    int m_closesRefused = 0;
};

// What every window owes its user after one task met a silent server while
// watch looked on: the server was knocked on once, the window painted under
// the busy pointer while it waited, it refused to be closed meanwhile, and
// afterwards it is still there, enabled, with the normal pointer back.
inline void ExpectWaitedOnceWhilePainting(const SilentServer& server, const WaitWatch& watch,
                                          const QWidget* window)
{
    EXPECT_EQ(server.connections(), 1);
    EXPECT_GT(watch.paintsWhileWaiting(), 0);
    EXPECT_TRUE(watch.busyThroughout());
    EXPECT_GT(watch.closeRequests(), 0);
    EXPECT_EQ(watch.closesRefused(), watch.closeRequests());
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

} // namespace ovtest
