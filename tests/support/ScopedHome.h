#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace ovtest {

// Points HOME and the XDG configuration folder (whose user-dirs.dirs may name
// the documents folder) at a fresh temporary folder for as long as it lives.
class ScopedHome
{
public:
    ScopedHome()
        : m_oldHome(qgetenv("HOME")), m_oldConfig(qgetenv("XDG_CONFIG_HOME")),
          m_hadConfig(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"))
    {
        qputenv("HOME", QFile::encodeName(m_dir.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configFolder()));
        QDir().mkpath(configFolder());
    }
    ~ScopedHome()
    {
        qputenv("HOME", m_oldHome);
        if (m_hadConfig)
            qputenv("XDG_CONFIG_HOME", m_oldConfig);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }
    ScopedHome(const ScopedHome&) = delete;
    ScopedHome& operator=(const ScopedHome&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    QString configFolder() const { return m_dir.filePath(QStringLiteral("config")); }

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    QByteArray m_oldConfig;
    bool m_hadConfig;
};

} // namespace ovtest
