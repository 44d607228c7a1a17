// The backup through the real ODBC code and the FreeTDS driver against the
// scripted TDS peer, answered as SQL Server documents BACKUP: progress
// messages, then success or an error at the end. What the peer receives is
// what "ovsqlcli backup --sql-out" writes down.

#include "PeerTaskSupport.h"

#include "backup/mdlOVSqlBackup.h"
#include "data/Identifiers.h"
#include "data/odbc/MssqlStatements.h"
#include "support/CliProgram.h"
#include "support/ScriptedUi.h"
#include "support/TdsPeer.h"

#include <QTemporaryDir>

using namespace ovtest;

namespace {

const QString kPath = QStringLiteral("D:\\bak\\o'neil [1].dat");

// The header read of a file that is not there: 3201 with operating system
// error 2, then 3013.
QJsonArray missingFile()
{
    return QJsonArray{error(3201,
                            QStringLiteral("Cannot open backup device '%1'. Operating system error "
                                           "2(The system cannot find the file specified.).")
                                .arg(kPath),
                            16, 1),
                      error(3013, QStringLiteral("RESTORE HEADERONLY is terminating abnormally.")),
                      doneWithError()};
}

// What BACKUP DATABASE sends while it runs: a message per database file,
// some time apart, then its summary.
QJsonArray progress()
{
    return QJsonArray{
        info(4035, QStringLiteral("Processed 344 pages for database 'crm', file 'crm_Data' on file 1.")),
        QJsonObject{{QStringLiteral("sleep"), 0.2}},
        info(4035, QStringLiteral("Processed 2 pages for database 'crm', file 'crm_Log' on file 1."))};
}

QJsonArray succeeded()
{
    QJsonArray reply = progress();
    reply.append(
        info(3014, QStringLiteral("BACKUP DATABASE successfully processed 346 pages in 0.161 seconds "
                                  "(16.787 MB/sec).")));
    reply.append(QJsonObject{{QStringLiteral("done"), QJsonObject{}}});
    return reply;
}

// The disk fills up as the backup ends: 3202, then 3013.
QJsonArray failedAtTheEnd()
{
    QJsonArray reply = progress();
    reply.append(error(
        3202,
        QStringLiteral("Write on \"%1\" failed: 112(There is not enough space on the disk.)").arg(kPath)));
    reply.append(error(3013, QStringLiteral("BACKUP DATABASE is terminating abnormally.")));
    reply.append(doneWithError());
    return reply;
}

// The same failure after a first result that ended well: the error comes in
// the batch's second result.
QJsonArray failedInALaterResult()
{
    QJsonArray reply = progress();
    reply.append(QJsonObject{{QStringLiteral("done"), QJsonObject{{QStringLiteral("more"), true}}}});
    const QJsonArray failed = failedAtTheEnd();
    for (qsizetype i = progress().size(); i < failed.size(); ++i)
        reply.append(failed[i]);
    return reply;
}

// The server goes away while the backup runs.
QJsonArray lostMidway()
{
    QJsonArray reply = progress();
    reply.append(QJsonObject{{QStringLiteral("close"), true}});
    return reply;
}

QJsonObject backupServer(const QJsonArray& backupReply, const QString& database = QStringLiteral("crm"))
{
    return QJsonObject{{QStringLiteral("databases"), QJsonArray{QStringLiteral("master"), database}},
                       {QStringLiteral("rules"),
                        QJsonArray{exactRule(ov::mssql::headerStatement(kPath), missingFile()),
                                   patternRule(QStringLiteral("BackUp Database .*"), backupReply)}}};
}

QString joined(const QStringList& texts)
{
    return texts.join(QLatin1Char('\n'));
}

} // namespace

// The backup window's and the update's operation: progress messages and the
// summary are success; an error after the progress messages is a failure
// that names the server's error, not one of its progress messages.
TEST(PeerBackup, ProgressMessagesThenSuccessOrAnErrorAtTheEnd)
{
    const struct
    {
        const char* what;
        QJsonArray reply;
        bool ok;
    } cases[] = {
        {"success", succeeded(), true},
        {"an error at the end", failedAtTheEnd(), false},
        {"the connection lost midway", lostMidway(), false},
        {"an error in a later result", failedInALaterResult(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TdsPeer peer(backupServer(c.reply));
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        ScriptedUi ui;
        QString writtenTo;
        EXPECT_EQ(mdlOVSqlBackup::DoBackup(peer.server(), QStringLiteral("crm"), false, QStringLiteral("sa"),
                                           QStringLiteral("pw"), kPath, mdlOVSqlBackup::IfExists::Refuse,
                                           &writtenTo),
                  c.ok);
        EXPECT_EQ(peer.statements(),
                  (QStringList{ov::mssql::headerStatement(kPath),
                               ov::mssql::backupStatement(QStringLiteral("crm"), kPath, false)}));
        // On a connection to the database itself.
        const QList<QJsonObject> logins = peer.events(QStringLiteral("login"));
        ASSERT_EQ(logins.size(), 1);
        EXPECT_EQ(logins[0][QStringLiteral("database")].toString(), QStringLiteral("crm"));
        ASSERT_EQ(ui.texts().size(), 1) << str(joined(ui.texts()));
        const QString shown = ui.texts()[0];
        if (c.ok) {
            EXPECT_EQ(shown, QStringLiteral("备份数据库成功！"));
            EXPECT_EQ(writtenTo, kPath);
        } else {
            EXPECT_TRUE(writtenTo.isEmpty());
            // "备份数据库失败！", the error's number, then the server's words.
            const QStringList lines = shown.split(QStringLiteral("\r\n"));
            ASSERT_GE(lines.size(), 3) << str(shown);
            EXPECT_EQ(lines[0], QStringLiteral("备份数据库失败！"));
            if (c.reply == failedAtTheEnd() || c.reply == failedInALaterResult()) {
                EXPECT_EQ(lines[1], QStringLiteral("3202")) << str(shown);
                EXPECT_TRUE(shown.contains(QStringLiteral("There is not enough space on the disk.")))
                    << str(shown);
                EXPECT_TRUE(shown.contains(QStringLiteral("BACKUP DATABASE is terminating abnormally.")))
                    << str(shown);
            }
        }
    }
}

// ovsqlcli backup against the peer: the exit code says how the backup went,
// and what the peer received is what --sql-out writes down: its batches,
// and the header read its comment names.
TEST(PeerBackup, TheCommandSendsWhatItsTranscriptSays)
{
    QTemporaryDir dir;
    ASSERT_TRUE(InstallCli(dir.path()));
    const struct
    {
        const char* what;
        QJsonArray reply;
        bool replace;
        int exitCode;
        QString database;
    } cases[] = {
        {"success", succeeded(), false, 0, QStringLiteral("crm")},
        {"replacing", succeeded(), true, 0, QStringLiteral("crm")},
        {"an error at the end", failedAtTheEnd(), false, 1, QStringLiteral("crm")},
        {"a name with quotes, a bracket and a separator", succeeded(), false, 0,
         QStringLiteral("客户\"库] o'neil;x=1")},
        {"a name in double quotes", succeeded(), true, 0, QStringLiteral("\"crm\"")},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TdsPeer peer(backupServer(c.reply, ov::unquotedName(c.database)));
        ASSERT_TRUE(peer.isRunning()) << str(peer.error());
        const QStringList login = {QStringLiteral("--server"),
                                   peer.server(),
                                   QStringLiteral("--database"),
                                   c.database,
                                   QStringLiteral("--user"),
                                   QStringLiteral("sa"),
                                   QStringLiteral("--password-stdin"),
                                   QStringLiteral("--to"),
                                   kPath};
        const QStringList replace = c.replace ? QStringList{QStringLiteral("--replace")} : QStringList();
        const QString transcriptFile = dir.filePath(QStringLiteral("backup%1.sql").arg(++n));
        const CliResult written = RunCli(dir.path(),
                                         QStringList{QStringLiteral("backup")} + login + replace +
                                             QStringList{QStringLiteral("--sql-out"), transcriptFile},
                                         "pw\n");
        ASSERT_EQ(written.exitCode, 0) << str(written.err);
        // Writing the transcript reads what the backup must know first and
        // changes nothing.
        const QStringList reads = peer.statements();
        EXPECT_TRUE(onlyReads(reads)) << str(joined(reads));

        const CliResult r =
            RunCli(dir.path(), QStringList{QStringLiteral("backup")} + login + replace, "pw\n");
        EXPECT_EQ(r.exitCode, c.exitCode) << str(r.err);
        if (c.exitCode == 0)
            EXPECT_EQ(r.out, kPath + QLatin1Char('\n'));
        else
            EXPECT_TRUE(r.err.contains(QStringLiteral("There is not enough space on the disk.")))
                << str(r.err);

        const Transcript t = readTranscript(transcriptFile);
        ASSERT_FALSE(t.batches.isEmpty());
        // The backup sends what the transcript writes, the header read among
        // it.
        const QStringList sent = peer.statements().mid(reads.size());
        EXPECT_EQ(sentBatches(sent, t), t.batches) << str(joined(sent));
        EXPECT_EQ(sent.contains(ov::mssql::headerStatement(kPath)),
                  t.batches.contains(ov::mssql::headerStatement(kPath)))
            << str(joined(t.batches));
    }
}
