// The server folder browser through the real ODBC code and the FreeTDS
// driver against the scripted TDS peer: the rows xp_dirtree answers
// (subdirectory, depth, file), and the command shell's listing where the
// server refuses xp_dirtree.

#include "PeerTaskSupport.h"

#include "backup/frmSqlServerDirectory.h"
#include "config/mdlOVSqlServerConnect.h"
#include "data/Connection.h"
#include "data/ServerAdmin.h"
#include "support/TdsPeer.h"

#include <QTreeWidget>

using namespace ovtest;

namespace {

// xp_dirtree's answer with its three columns; rows: [name, file].
QJsonArray dirTreeReply(const QJsonArray& rows)
{
    QJsonArray withDepth;
    for (const QJsonValue& r : rows)
        withDepth.append(QJsonArray{r.toArray()[0], 1, r.toArray()[1]});
    return QJsonArray{
        QJsonObject{
            {QStringLiteral("columns"), jsonArray(R"j([{"name": "subdirectory", "type": "nvarchar(512)"},
                                                              {"name": "depth", "type": "int"},
                                                              {"name": "file", "type": "int"}])j")},
            {QStringLiteral("rows"), withDepth}},
        QJsonObject{{QStringLiteral("done"), QJsonObject{{QStringLiteral("count"), rows.size()}}}}};
}

QJsonArray shellReply(const QStringList& lines)
{
    QJsonArray rows;
    for (const QString& l : lines)
        rows.append(QJsonArray{l.isNull() ? QJsonValue() : QJsonValue(l)});
    return QJsonArray{
        QJsonObject{
            {QStringLiteral("columns"), jsonArray(R"j([{"name": "output", "type": "nvarchar(255)"}])j")},
            {QStringLiteral("rows"), rows}},
        QJsonObject{{QStringLiteral("done"), QJsonObject{{QStringLiteral("count"), rows.size()}}}}};
}

QJsonArray separatorReply(const char* separator)
{
    return QJsonArray{
        QJsonObject{{QStringLiteral("columns"), jsonArray(R"j([{"name": "", "type": "nvarchar(1)"}])j")},
                    {QStringLiteral("rows"), QJsonArray{QJsonArray{QString::fromUtf8(separator)}}}},
        QJsonObject{{QStringLiteral("done"), QJsonObject{{QStringLiteral("count"), 1}}}}};
}

// The browser window as the backup window opens it, on a connection to
// Tempdb of the peer, showing folder.
struct Browser
{
    explicit Browser(const TdsPeer& peer, const QString& folder)
        : admin(ov::ServerAdmin::create(peer.server(), false, QStringLiteral("sa"), QStringLiteral("pw")))
    {
        cn.setCursorLocation(ov::adUseClient);
        opened = cn.Open(mdlOVSqlServer::BuildSqlConnectionString(
            peer.server(), QStringLiteral("Tempdb"), false, QStringLiteral("sa"), QStringLiteral("pw")));
        if (opened)
            window.Prepare(cn, *admin, QString(), folder, QStringLiteral("crm.dat"), true);
    }
    QStringList entries() const
    {
        auto* list = window.findChild<QTreeWidget*>(QStringLiteral("lvwFolder"));
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            out << list->topLevelItem(i)->text(0) +
                       (list->topLevelItem(i)->data(0, Qt::UserRole).toString() == QLatin1String("FOLDER")
                            ? QStringLiteral("/")
                            : QString());
        return out;
    }

    ov::Connection cn;
    std::unique_ptr<ov::ServerAdmin> admin;
    frmSqlServerDirectory window;
    bool opened = false;
};

QJsonObject server(const char* separator, const QJsonArray& rules)
{
    QJsonArray all = rules;
    all.prepend(
        exactRule(QStringLiteral("SELECT SERVERPROPERTY('PathSeparator')"), separatorReply(separator)));
    return QJsonObject{
        {QStringLiteral("databases"), QJsonArray{QStringLiteral("master"), QStringLiteral("Tempdb")}},
        {QStringLiteral("rules"), all}};
}

QJsonArray refused(const QString& procedure)
{
    return QJsonArray{error(229,
                            QStringLiteral("The EXECUTE permission was denied on the object '%1', database "
                                           "'mssqlsystemresource', schema 'sys'.")
                                .arg(procedure),
                            14, 5),
                      doneWithError()};
}

} // namespace

// xp_dirtree's rows in the order the server found them: the window shows
// "..", the folders, then the files, each group by name, on Windows and on
// Linux servers; names with quotes, brackets and Chinese characters come
// back as they are.
TEST(PeerBrowser, DirTreeRowsAreListedFoldersFirst)
{
    const QJsonArray rows = jsonArray(R"j([["crm-202612041533.dat", 1], ["旧备份", 0], ["O'Neil [2].bak", 1],
                                           ["archive", 0], ["a.bak", 1]])j");
    const struct
    {
        const char* separator;
        QString folder;
        QString sent;
    } cases[] = {
        {"\\", QStringLiteral("D:\\R&D\\o'neil\\"),
         QStringLiteral("EXEC master.sys.xp_dirtree N'D:\\R&D\\o''neil\\', 1, 1")},
        {"/", QStringLiteral("/var/opt/mssql/data/"),
         QStringLiteral("EXEC master.sys.xp_dirtree N'/var/opt/mssql/data/', 1, 1")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.separator);
        TdsPeer peer(server(c.separator, {patternRule(QStringLiteral("EXEC master\\.sys\\.xp_dirtree .*"),
                                                      dirTreeReply(rows))}));
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        Browser b(peer, c.folder);
        ASSERT_TRUE(b.opened) << str(b.cn.lastError().description);
        EXPECT_EQ(b.entries(),
                  (QStringList{QStringLiteral("../"), QStringLiteral("archive/"), QStringLiteral("旧备份/"),
                               QStringLiteral("a.bak"), QStringLiteral("crm-202612041533.dat"),
                               QStringLiteral("O'Neil [2].bak")}));
        EXPECT_EQ(peer.statements(),
                  (QStringList{QStringLiteral("SELECT SERVERPROPERTY('PathSeparator')"), c.sent}));
    }
}

// Where the server refuses xp_dirtree, the command shell lists the folder;
// its messages are no entries. Where it refuses both, the window shows
// only "..", as for a folder it cannot read.
TEST(PeerBrowser, TheShellListsWhereDirTreeIsRefused)
{
    const QString folder = QStringLiteral("D:\\R&D\\");
    {
        TdsPeer peer(server(
            "\\", {patternRule(QStringLiteral("EXEC master\\.sys\\.xp_dirtree .*"),
                               refused(QStringLiteral("xp_dirtree"))),
                   patternRule(QStringLiteral("master\\.dbo\\.xp_cmdshell .* /OGN /A /B'"),
                               shellReply({QStringLiteral("旧备份"), QStringLiteral("crm.dat"), QString()})),
                   patternRule(QStringLiteral("master\\.dbo\\.xp_cmdshell .* /ON /ad /B'"),
                               shellReply({QStringLiteral("旧备份"), QString()}))}));
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        Browser b(peer, folder);
        ASSERT_TRUE(b.opened) << str(b.cn.lastError().description);
        EXPECT_EQ(b.entries(),
                  (QStringList{QStringLiteral("../"), QStringLiteral("旧备份/"), QStringLiteral("crm.dat")}));
        EXPECT_EQ(peer.statements(),
                  (QStringList{QStringLiteral("SELECT SERVERPROPERTY('PathSeparator')"),
                               QStringLiteral("EXEC master.sys.xp_dirtree N'D:\\R&D\\', 1, 1"),
                               QStringLiteral("master.dbo.xp_cmdshell N'dir \"D:\\R&D\\\" /OGN /A /B'"),
                               QStringLiteral("master.dbo.xp_cmdshell N'dir \"D:\\R&D\\\" /ON /ad /B'")}));
    }
    {
        // xp_cmdshell switched off, as it is by default.
        TdsPeer peer(server(
            "\\", {patternRule(QStringLiteral("EXEC master\\.sys\\.xp_dirtree .*"),
                               refused(QStringLiteral("xp_dirtree"))),
                   patternRule(
                       QStringLiteral("master\\.dbo\\.xp_cmdshell .*"),
                       QJsonArray{error(15281,
                                        QStringLiteral("SQL Server blocked access to procedure "
                                                       "'sys.xp_cmdshell' of component 'xp_cmdshell' because "
                                                       "this component is turned off as part of the security "
                                                       "configuration for this server."),
                                        16, 1),
                                  doneWithError()})}));
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        Browser b(peer, folder);
        ASSERT_TRUE(b.opened) << str(b.cn.lastError().description);
        EXPECT_EQ(b.entries(), QStringList{QStringLiteral("../")});
        EXPECT_EQ(b.admin->lastError().number, 15281) << str(b.admin->lastError().description);
        EXPECT_EQ(peer.statements().filter(QStringLiteral("xp_cmdshell")).size(), 1);
    }
}
