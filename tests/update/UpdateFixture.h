#pragma once

#include "common/Cp936.h"
#include "data/Connection.h"
#include "data/Recordset.h"
#include "support/RowTexts.h"
#include "support/ScopedProgramFolder.h"
#include "support/ScriptedUi.h"
#include "update/UpdateLog.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

namespace ovtest {

// A temporary program folder with an embedded server in it ("sqlite:FOLDER")
// holding one empty database "crm", a fixed clock and a scripted user
// interface. Scripts are written into the program folder in code page 936.
class UpdateFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_server = m_dir.makeServer();
        makeDatabase(QStringLiteral("crm"));
        m_dir.fixClock(QDateTime(QDate(2024, 3, 7), QTime(9, 5, 1)));
    }

    // An empty database file of the embedded server.
    void makeDatabase(const QString& name)
    {
        QFile f(m_dir.filePath(QStringLiteral("data/") + name + QStringLiteral(".sqlite")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }

    // Writes lines joined and ended by CR LF, in code page 936.
    QString writeScript(const QStringList& lines, const QString& name = QStringLiteral("script.txt"))
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QString text = lines.join(QStringLiteral("\r\n"));
        if (!lines.isEmpty())
            text += QStringLiteral("\r\n");
        f.write(ov::cp936::encode(text));
        return path;
    }

    // A connection of the test's own to crm.
    std::unique_ptr<ov::Connection> connect(const QString& database = QStringLiteral("crm"))
    {
        auto cn = std::make_unique<ov::Connection>();
        const bool opened = cn->Open(QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;"
                                                    "Initial Catalog=%1;Data Source=%2")
                                         .arg(database, m_server));
        EXPECT_TRUE(opened) << cn->lastError().description.toStdString();
        return cn;
    }

    void exec(const QString& sql)
    {
        auto cn = connect();
        ASSERT_TRUE(cn->Execute(sql))
            << sql.toStdString() << ": " << cn->lastError().description.toStdString();
    }

    // The rows of a query, each row its fields joined by "|" (NULL as "<null>").
    QStringList rows(const QString& sql)
    {
        auto cn = connect();
        ov::Recordset rs;
        if (!rs.Open(sql, *cn)) {
            ADD_FAILURE() << sql.toStdString() << ": " << rs.lastError().description.toStdString();
            return {};
        }
        return ovtest::RowTexts(rs);
    }

    // The version table of the product with the database at version (none
    // when version is null).
    void makeVersionTable(const QString& version)
    {
        exec(QStringLiteral("CREATE TABLE tblVarible ([Module] NVARCHAR(50), VaribleName NVARCHAR(100), "
                            "VaribleValue NVARCHAR(255), UserID NVARCHAR(50))"));
        if (!version.isNull())
            exec(QStringLiteral("INSERT INTO tblVarible VALUES ('DB', 'Version', '%1', '')").arg(version));
    }

    QByteArray logBytes() const
    {
        QFile f(mdlOVSqlUpdateDB::UpdateLogPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QString logText() const { return ov::cp936::decode(logBytes()); }

    // A file of tests/fixtures.
    static QByteArray readFixture(const QString& name)
    {
        QFile f(QStringLiteral(OV_SOURCE_DIR "/tests/fixtures/") + name);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
        return f.readAll();
    }

    ScopedProgramFolder m_dir;
    QString m_server;
    ScriptedUi m_ui;
    RecordingStatus m_status;
    RecordingProgress m_progress;
};

} // namespace ovtest
