#pragma once

#include "common/Cp936.h"
#include "config/clsIniFile.h"
#include "config/mdlOVSqlServer.h"
#include "data/Connection.h"
#include "data/Recordset.h"
#include "support/ScopedProgramFolder.h"
#include "support/ScriptedUi.h"
#include "support/ShippedVersions.h"
#include "update/UpdateLog.h"
#include "update/UpdateScript.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace ovtest {

// The scripted answerer that also calls onPump each time an operation lets
// pending events run, so that a test can look at a window in mid-run.
class PumpWatchingUi : public ScriptedUi
{
public:
    std::function<void()> onPump;
    void pumpEvents() override
    {
        ScriptedUi::pumpEvents();
        if (onPump)
            onPump();
    }
};

// A temporary program folder holding a copy of the shipped files, an
// embedded server in its folder "data", a fixed clock and the scripted user
// interface.
class CreateFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_dir.copyDist());
        m_server = m_dir.makeServer();
        m_dir.fixClock(QDateTime(QDate(2026, 12, 10), QTime(9, 30, 0)));
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    void writeFile(const QString& name, const QByteArray& bytes)
    {
        QDir().mkpath(QFileInfo(path(name)).path());
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << name.toStdString();
        f.write(bytes);
    }
    // Text in code page 936 with CR LF line ends.
    void writeLines(const QString& name, const QStringList& lines)
    {
        writeFile(name, ov::cp936::encode(lines.join(QStringLiteral("\r\n")) +
                                          (lines.isEmpty() ? QString() : QStringLiteral("\r\n"))));
    }
    QByteArray readFile(const QString& name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    bool databaseExists(const QString& name) const
    {
        return QFileInfo::exists(path(QStringLiteral("data/") + name + QStringLiteral(".sqlite")));
    }
    void exec(const QString& database, const QString& sql)
    {
        ov::Connection cn;
        ASSERT_TRUE(cn.Open(QStringLiteral("Data Source=%1;Initial Catalog=%2").arg(m_server, database)));
        ASSERT_TRUE(cn.Execute(sql)) << sql.toStdString() << ": " << cn.lastError().description.toStdString();
    }
    // The rows of a query, each its fields joined by "|" (NULL as "<null>");
    // "(fails)" when the query cannot run.
    QStringList rows(const QString& database, const QString& sql) const
    {
        ov::Connection cn;
        ov::Recordset rs;
        if (!cn.Open(QStringLiteral("Data Source=%1;Initial Catalog=%2").arg(m_server, database)) ||
            !rs.Open(sql, cn))
            return {QStringLiteral("(fails)")};
        QStringList out;
        for (; !rs.Eof(); rs.MoveNext()) {
            QStringList fields;
            for (int i = 0; i < rs.FieldCount(); ++i) {
                const QVariant v = rs.Fields(i).Value();
                fields.append(v.isValid() && !v.isNull() ? v.toString() : QStringLiteral("<null>"));
            }
            out.append(fields.join(QLatin1Char('|')));
        }
        return out;
    }
    QString version(const QString& database) const
    {
        return rows(database, QStringLiteral("SELECT VaribleValue FROM tblVarible WHERE [Module] = 'DB' AND "
                                             "VaribleName = 'Version'"))
            .join(QLatin1Char(','));
    }
    static QStringList shippedVersions() { return ShippedVersions(); }
    // The blocks recorded as applied, in version order.
    QStringList appliedVersions(const QString& database) const
    {
        return rows(database, QStringLiteral("SELECT VaribleName FROM tblVarible WHERE [Module] = 'UpdateDB' "
                                             "ORDER BY VaribleName"));
    }
    QString mainValue(const QString& key) const
    {
        clsIniFile ini;
        ini.setFileName(mdlOVSqlServer::ConfigFilePath());
        return ini.ReadString(QStringLiteral("MAIN"), key, QStringLiteral("(none)"), 255);
    }
    // A database as the create procedure leaves a bare one before its
    // update: the schema script run and the version row "0".
    void makeBareDatabase(const QString& name)
    {
        ASSERT_TRUE(QFile(path(QStringLiteral("data/") + name + QStringLiteral(".sqlite")))
                        .open(QIODevice::WriteOnly));
        RecordingStatus status;
        RecordingProgress progress;
        ASSERT_TRUE(mdlOVSqlUpdateDB::RunUpdateScript(m_server, name, true, QString(), QString(),
                                                      path(QStringLiteral("OVScriptEmpty.txt")), status,
                                                      progress));
        exec(name, QStringLiteral("INSERT INTO tblVarible VALUES ('DB', 'Version', '0', '')"));
        QFile::remove(mdlOVSqlUpdateDB::UpdateLogPath());
        m_ui.clear();
    }
    QString logText() const
    {
        QFile f(mdlOVSqlUpdateDB::UpdateLogPath());
        return f.open(QIODevice::ReadOnly) ? ov::cp936::decode(f.readAll()) : QString();
    }

    ScopedProgramFolder m_dir;
    QString m_server;
    PumpWatchingUi m_ui;
    RecordingStatus m_status;
    RecordingProgress m_progress;
};

} // namespace ovtest
