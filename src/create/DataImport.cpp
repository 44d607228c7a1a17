#include "create/DataImport.h"

#include "common/UiPort.h"
#include "common/mdlCommon.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "data/Server.h"
#include "data/ServerAdmin.h"
#include "update/UpdateLog.h"
#include "update/UpdateScript.h"

#include <QDir>
#include <QFileInfo>

#include <memory>

namespace mdlOVSqlUpdateDB {

namespace {

// How many tables that did not load the message box names.
constexpr int kFailedTablesShown = 20;

// The missing-file message carries its own caption instead of the
// application title; the title comes back when the box is answered.
ov::MsgAnswer MsgBoxWithCaption(const QString& text, ov::MsgStyle style, const QString& caption)
{
    const QString saved = ov::applicationTitle();
    ov::setApplicationTitle(caption);
    const ov::MsgAnswer answer = ov::MsgBox(text, style);
    ov::setApplicationTitle(saved);
    return answer;
}

bool EndsWithSeparator(const QString& folder)
{
    return folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\'));
}

// True when the file can be written (it is made when missing; what it holds
// stays).
bool CanWrite(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::Append);
}

// The folder that gets a table's .err and .log files: the data set's folder
// beside the .dat file, or, where the program folder cannot be written, the
// folder of the same name below "DBDataFiles" in the user's Orvane folder.
QString LoadFilesFolder(const QString& folder, const QString& table)
{
    if (CanWrite(folder + table + QStringLiteral(".err")) &&
        CanWrite(folder + table + QStringLiteral(".log")))
        return folder;
    if (gstrUserPath.isEmpty())
        return folder;
    const QString user = gstrUserPath + QStringLiteral("DBDataFiles") + QDir::separator() +
                         QDir(folder).dirName() + QDir::separator();
    QDir().mkpath(user);
    return user;
}

} // namespace

bool ReadListFile(const QString& path, QStringList& list)
{
    list = QStringList{QString()};
    ScriptFile file;
    if (!file.open(path)) {
        ov::MsgBox(path + QStringLiteral(", ") + file.errorString(), ov::MsgStyle::Information);
        return false;
    }
    while (!file.atEnd()) {
        const QString name = mdlCommon::TrimBlanks(file.readLine());
        if (!name.isEmpty())
            list.append(name);
    }
    file.close();
    return true;
}

bool IsSafeTableName(const QString& table)
{
    return !table.contains(QLatin1Char('/')) && !table.contains(QLatin1Char('\\')) &&
           !table.contains(QLatin1String("..")) && !table.contains(QLatin1Char(':'));
}

bool ImportTableData(const QString& server, const QString& database, bool integratedLogin,
                     const QString& user, const QString& password, QString folder, ov::StatusLabel& lblStatus,
                     ov::ProgressBar& prgProgress)
{
    return ImportTableData(ov::Server({server, database, integratedLogin, user, password}), database, folder,
                           lblStatus, prgProgress);
}

bool ImportTableData(const ov::Server& server, const QString& database, QString folder,
                     ov::StatusLabel& lblStatus, ov::ProgressBar& prgProgress)
{
    if (!EndsWithSeparator(folder))
        folder += QDir::separator();
    QStringList tables;
    if (!ReadListFile(folder + QStringLiteral("tables.txt"), tables))
        return false;

    // The management side of the server, and the database to fill on it.
    // Under integrated login the engine passes user and password over.
    const std::unique_ptr<ov::ServerAdmin> admin = server.admin();
    QString failure;
    QStringList databases;
    if (!admin->probe() || !admin->listDatabases(databases)) {
        failure = admin->lastError().description;
    } else {
        bool found = false;
        for (const QString& name : std::as_const(databases))
            found = found || name.compare(database, Qt::CaseInsensitive) == 0;
        if (!found)
            failure =
                QStringLiteral("The name '%1' was not found in the Databases collection.").arg(database);
    }
    if (!failure.isEmpty()) {
        ov::MsgBox(failure, ov::MsgStyle::Exclamation);
        lblStatus.setCaption(mdlCommon::FormatTemplate(QStringLiteral("导入数据错误")));
        return false;
    }

    const int n = int(tables.size()) - 1;
    prgProgress.setMaximum(n);
    lblStatus.setCaption(
        mdlCommon::FormatTemplate(QStringLiteral("向数据库 {1} 中导入数据，请等待..."), {database}));
    int missing = 0;
    // One line for each table that did not load completely.
    QStringList failed;
    for (int i = 1; i <= n; ++i) {
        ov::ui().pumpEvents();
        const QString& table = tables.at(i);
        const QString dat = folder + table + QStringLiteral(".dat");
        // A name that would lead out of the folder is treated as a data file
        // that is not there: nothing outside the data set is read or written.
        if (!IsSafeTableName(table) || !QFileInfo(dat).isFile()) {
            ++missing;
            const QString text = mdlCommon::FormatTemplate(QStringLiteral("文件 {1} 不存在！"), {dat});
            if (missing < 3)
                MsgBoxWithCaption(text, ov::MsgStyle::Exclamation, QStringLiteral("Import Data"));
            WriteUpdateLog(text);
            failed << table + QStringLiteral("：数据文件 ") + dat + QStringLiteral(" 不存在");
        } else {
            lblStatus.setCaption(mdlCommon::FormatTemplate(QStringLiteral("正在导入 {1}"), {table}));
            // The name goes to the engine as a value; each engine puts it
            // into its statements only as a quoted identifier. A load that
            // fails (no such table, an unreadable file) or rejects rows does
            // not stop the others; its reason is in the table's .log and .err
            // files.
            const QString files = LoadFilesFolder(folder, table);
            const QString log = files + table + QStringLiteral(".log");
            const QString err = files + table + QStringLiteral(".err");
            ov::BulkLoadResult counts;
            ov::ui().setBusyPointer(true);
            const bool loaded = admin->bulkLoad(database, table, dat, log, err, &counts);
            ov::ui().setBusyPointer(false);
            if (!loaded || counts.rowsRejected > 0)
                failed << table + QStringLiteral("：见 ") + err + QStringLiteral(" 和 ") + log;
        }
        prgProgress.setValue(i);
    }
    prgProgress.setValue(0);
    if (!failed.isEmpty()) {
        // A database that lacks rows of its data set is no finished database.
        // The log names every table; the message box the first ones, so
        // that it fits on the screen.
        const QString head = mdlCommon::FormatTemplate(
            QStringLiteral("以下数据表的数据没有完整导入数据库 {1}：{crlf}"), {database});
        WriteUpdateLog(head + failed.join(QStringLiteral("\r\n")));
        QString shown = head + failed.mid(0, kFailedTablesShown).join(QStringLiteral("\r\n"));
        if (failed.size() > kFailedTablesShown)
            shown += mdlCommon::FormatTemplate(QStringLiteral("{crlf}……共 {1} 个数据表，全部记录在 {2} 中。"),
                                               {int(failed.size()), UpdateLogPath()});
        ov::MsgBox(shown, ov::MsgStyle::Exclamation);
        lblStatus.setCaption(mdlCommon::FormatTemplate(QStringLiteral("导入数据错误")));
        return false;
    }
    lblStatus.setCaption(mdlCommon::FormatTemplate(QStringLiteral("完成数据导入")));
    return true;
}

} // namespace mdlOVSqlUpdateDB
