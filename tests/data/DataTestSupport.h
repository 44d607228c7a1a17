#pragma once

#include "data/Connection.h"
#include "data/ConnectionString.h"
#include "data/Recordset.h"
#include "data/ServerAdmin.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

// Texts in failure messages as texts, not as arrays of code units.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace ovtest {

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The OLE DB string the program builds for a database (Windows login).
inline QString oleDbString(const QString& server, const QString& database)
{
    return QStringLiteral("Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;"
                          "Initial Catalog=") +
           ov::connstr::oleDbValue(database) + QStringLiteral(";Data Source=") +
           ov::connstr::oleDbValue(server);
}

// An embedded server in a fresh temporary folder.
class EmbeddedServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_folder = m_dir.path() + QStringLiteral("/server");
        ASSERT_TRUE(QDir().mkpath(m_folder));
        m_server = QStringLiteral("sqlite:") + m_folder;
        m_admin = ov::ServerAdmin::create(m_server, true, QString(), QString());
    }

    // Opens database with client-side cursors, as the program's connections are.
    bool open(ov::Connection& cn, const QString& database)
    {
        cn.setCursorLocation(ov::adUseClient);
        return cn.Open(oleDbString(m_server, database));
    }

    // A database holding the result of batch.
    void makeDatabase(const QString& name, const QString& batch)
    {
        ASSERT_TRUE(m_admin->createDatabase(name)) << m_admin->lastError().description.toStdString();
        ov::Connection cn;
        ASSERT_TRUE(open(cn, name)) << cn.lastError().description.toStdString();
        ASSERT_TRUE(cn.Execute(batch)) << cn.lastError().description.toStdString();
    }

    // The values of one column, in row order, as texts ("<null>" for NULL).
    QStringList column(ov::Connection& cn, const QString& sql, int index = 0)
    {
        QStringList values;
        ov::Recordset rs;
        EXPECT_TRUE(rs.Open(sql, cn)) << rs.lastError().description.toStdString();
        for (; !rs.Eof(); rs.MoveNext()) {
            const QVariant v = rs.Fields(index).Value();
            values << (v.isValid() ? v.toString() : QStringLiteral("<null>"));
        }
        return values;
    }

    QTemporaryDir m_dir;
    QString m_folder;
    QString m_server;
    std::unique_ptr<ov::ServerAdmin> m_admin;
};

inline std::string str(const QString& s)
{
    return s.toStdString();
}

} // namespace ovtest
