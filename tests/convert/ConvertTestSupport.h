#pragma once

#include "common/Cp936.h"
#include "config/mdlEncode.h"
#include "config/mdlOVSqlServerConnect.h"
#include "data/Connection.h"
#include "data/Recordset.h"
#include "data/ServerAdmin.h"
#include "jet/writer/Writer.h"
#include "support/ScopedProgramFolder.h"
#include "support/ScriptedUi.h"
#include "support/ShippedVersions.h"
#include "update/UpdateLog.h"
#include "update/UpdateScript.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
inline std::ostream& operator<<(std::ostream& os, const QString& text)
{
    return os << text.toStdString();
}
QT_END_NAMESPACE

namespace ovtest {

// One table of a single-user fixture file.
struct CdbTable
{
    QString name;
    QList<jet::Column> columns;
    QList<QList<QVariant>> rows;
};

// A temporary program folder (so the update log and the conversion files are
// its own) with a user folder holding "Data", an embedded server in it, and
// the scripted user-interface port.
class ConvertTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_server = m_dir.makeServer(QStringLiteral("server"));
        ASSERT_TRUE(QDir().mkpath(m_dir.makeUserFolder() + QStringLiteral("/Data")));
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    // Copies a shipped file of dist/ into the program folder.
    void copyDist(const QString& name) { m_dir.copyDist({name}); }

    void writeText(const QString& name, const QByteArray& bytes)
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    // A single-user file with the password every single-user file carries.
    QString writeCdb(const QString& name, const QList<CdbTable>& tables)
    {
        const QString file = path(name);
        jet::Writer w(file);
        w.setPassword(
            mdlEncode::UnscrambleText(mdlEncode::kScrambledFilePassword, mdlEncode::kFileKey, true));
        for (const CdbTable& t : tables) {
            EXPECT_TRUE(w.addTable(t.name, t.columns)) << t.name.toStdString();
            for (const auto& row : t.rows)
                EXPECT_TRUE(w.addRow(t.name, row)) << w.errorString().toStdString();
        }
        QString error;
        EXPECT_TRUE(w.save(&error)) << error.toStdString();
        return file;
    }

    // A file holding only tblVarible with the version row (none when the
    // version is empty).
    QString writeVersionedCdb(const QString& name, const QString& version)
    {
        CdbTable vars{
            QStringLiteral("tblVarible"),
            {{QStringLiteral("Module"), jet::ColumnType::Text, 50},
             {QStringLiteral("VaribleName"), jet::ColumnType::Text, 100},
             {QStringLiteral("VaribleValue"), jet::ColumnType::Text, 255},
             {QStringLiteral("UserID"), jet::ColumnType::Text, 50}},
            {{QStringLiteral("System"), QStringLiteral("CompanyName"), QStringLiteral("演示"), QString()}}};
        if (!version.isEmpty())
            vars.rows.append({QStringLiteral("DB"), QStringLiteral("Version"), version, QString()});
        return writeCdb(name, {vars});
    }

    // A database of the embedded server holding the result of batch.
    std::unique_ptr<ov::Connection> makeServerDatabase(const QString& name, const QString& batch)
    {
        auto admin = ov::ServerAdmin::create(m_server, true, QString(), QString());
        EXPECT_TRUE(admin->createDatabase(name)) << admin->lastError().description.toStdString();
        auto cn = mdlOVSqlServer::ConnectToDBFile(m_server, name, true, QString(), QString());
        EXPECT_TRUE(cn);
        if (cn && !batch.isEmpty()) {
            EXPECT_TRUE(cn->Execute(batch)) << cn->lastError().description.toStdString();
        }
        return cn;
    }

    // A field's value as text: "<null>" for NULL, dates as
    // "yyyy-MM-dd HH:mm:ss" from their date and time parts.
    static QString cellText(const QVariant& v)
    {
        if (!v.isValid())
            return QStringLiteral("<null>");
        if (v.typeId() == QMetaType::QDateTime)
            return QDateTime(v.toDateTime().date(), v.toDateTime().time())
                .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        return v.toString();
    }

    // The rows of a query, each row's values joined by "|".
    static QStringList rows(ov::Connection& cn, const QString& sql)
    {
        QStringList out;
        ov::Recordset rs;
        EXPECT_TRUE(rs.Open(sql, cn)) << rs.lastError().description.toStdString();
        while (rs.isOpen() && !rs.Eof()) {
            QStringList values;
            for (int i = 0; i < rs.FieldCount(); ++i)
                values.append(cellText(rs.Fields(i).Value()));
            out.append(values.join(QLatin1Char('|')));
            rs.MoveNext();
        }
        return out;
    }

    // The field names of a table.
    static QStringList columnNames(ov::Connection& cn, const QString& table)
    {
        QStringList names;
        ov::Recordset rs;
        EXPECT_TRUE(rs.Open(QStringLiteral("SELECT * FROM ") + table, cn))
            << rs.lastError().description.toStdString();
        for (int i = 0; rs.isOpen() && i < rs.FieldCount(); ++i)
            names.append(rs.Fields(i).Name());
        return names;
    }

    // The rows of a table over the given fields, each row's values joined by
    // "|", sorted: two engines holding the same rows give the same list.
    static QStringList sortedRows(ov::Connection& cn, const QString& table, const QStringList& columns)
    {
        QStringList out;
        ov::Recordset rs;
        EXPECT_TRUE(rs.Open(QStringLiteral("SELECT * FROM ") + table, cn))
            << rs.lastError().description.toStdString();
        while (rs.isOpen() && !rs.Eof()) {
            QStringList values;
            for (const QString& column : columns)
                values.append(cellText(rs.Fields(column).Value()));
            out.append(values.join(QLatin1Char('|')));
            rs.MoveNext();
        }
        out.sort();
        return out;
    }

    // The update log as text.
    static QString updateLog()
    {
        QFile f(mdlOVSqlUpdateDB::UpdateLogPath());
        return f.open(QIODevice::ReadOnly) ? ov::cp936::decode(f.readAll()) : QString();
    }

    ScopedProgramFolder m_dir;
    QString m_server;
    ScriptedUi m_ui;
};

} // namespace ovtest
