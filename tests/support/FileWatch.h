#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <sys/inotify.h>
#include <unistd.h>

namespace ovtest {

// Counts the states one file of a folder is seen in from the watch's start:
// each time it is created (also by linking a finished file into place), a
// file is renamed over it, or a write to it is closed. A writer that replaces
// the file in one step counts once, however many values it changes.
class FileWatch
{
public:
    FileWatch(const QString& folder, const QString& name)
        : m_fd(inotify_init1(IN_NONBLOCK)), m_name(QFile::encodeName(name))
    {
        if (m_fd >= 0)
            inotify_add_watch(m_fd, QFile::encodeName(folder).constData(),
                              IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE);
    }
    ~FileWatch()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // The states so far; -1 when the watch could not be set up.
    int count()
    {
        if (m_fd < 0)
            return -1;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = read(m_fd, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0 && QByteArray(event->name) == m_name)
                    ++m_count;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        return m_count;
    }

private:
    int m_fd;
    QByteArray m_name;
    int m_count = 0;
};

} // namespace ovtest
