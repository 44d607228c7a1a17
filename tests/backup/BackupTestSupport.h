#pragma once

#include "backup/frmDBBackup.h"
#include "backup/frmDBRestore.h"
#include "backup/frmSqlServerDirectory.h"
#include "config/mdlOVSqlServer.h"
#include "data/Connection.h"
#include "data/Recordset.h"
#include "data/ServerAdmin.h"
#include "support/ScopedProgramFolder.h"
#include "support/ScriptedUi.h"
#include "support/Windows.h"

#include <QApplication>
#include <QDir>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace ovtest {

// A temporary program folder (so OrvaneSqlConfig.ini is a temporary one), an
// embedded server in its folder "data", a folder "bak" for backup files, the
// scripted answerer and a fixed clock.
class BackupFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_server = m_dir.makeServer();
        ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("bak")));
        m_admin = ov::ServerAdmin::create(m_server, true, QString(), QString());
        m_dir.fixClock(QDateTime(QDate(2026, 12, 4), QTime(15, 33, 0)));
    }
    void TearDown() override { DeleteTopLevels<frmDBBackup, frmDBRestore, frmSqlServerDirectory>(); }

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString ConfigPath() const { return path(QStringLiteral("OrvaneSqlConfig.ini")); }

    // A database with the rows (1,'one') and (2,'two') in table t.
    void MakeDatabase(const QString& name)
    {
        ASSERT_TRUE(m_admin->createDatabase(name)) << m_admin->lastError().description.toStdString();
        Exec(name, QStringLiteral("CREATE TABLE t (id INT, name NVARCHAR(20)); "
                                  "INSERT INTO t VALUES (1, 'one'); INSERT INTO t VALUES (2, 'two')"));
    }
    void Exec(const QString& database, const QString& sql)
    {
        ov::Connection cn;
        ASSERT_TRUE(cn.Open(QStringLiteral("Data Source=%1;Initial Catalog=%2").arg(m_server, database)));
        ASSERT_TRUE(cn.Execute(sql)) << cn.lastError().description.toStdString();
    }
    // The rows of t as "id:name", in id order; "(no database)" when it cannot be read.
    QStringList Rows(const QString& database)
    {
        ov::Connection cn;
        ov::Recordset rs;
        if (!cn.Open(QStringLiteral("Data Source=%1;Initial Catalog=%2").arg(m_server, database)) ||
            !rs.Open(QStringLiteral("SELECT id, name FROM t ORDER BY id"), cn))
            return {QStringLiteral("(no database)")};
        QStringList rows;
        for (; !rs.Eof(); rs.MoveNext())
            rows << rs.Fields(0).Value().toString() + QLatin1Char(':') + rs.Fields(1).Value().toString();
        return rows;
    }

    ScopedProgramFolder m_dir;
    QString m_server;
    std::unique_ptr<ov::ServerAdmin> m_admin;
    ScriptedUi m_ui;
};

// Clicks an option button on its indicator: the middle of a wide button lies
// outside the part that takes clicks.
inline void ClickOption(QRadioButton* option)
{
    QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(6, option->height() / 2));
}

inline void Activate(QWidget* window)
{
    window->show();
    QApplication::setActiveWindow(window);
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));
}

} // namespace ovtest
