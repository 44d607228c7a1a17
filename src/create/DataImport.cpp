#include "create/DataImport.h"

#include "common/UiPort.h"
#include "common/mdlCommon.h"
#include "data/ServerAdmin.h"
#include "update/UpdateLog.h"
#include "update/UpdateScript.h"

#include <QDir>
#include <QFileInfo>

#include <memory>

namespace mdlOVSqlUpdateDB {

namespace {

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
    if (!EndsWithSeparator(folder))
        folder += QDir::separator();
    QStringList tables;
    if (!ReadListFile(folder + QStringLiteral("tables.txt"), tables))
        return false;

    // The management side of the server, and the database to fill on it.
    // Under integrated login the engine passes user and password over.
    const std::unique_ptr<ov::ServerAdmin> admin =
        ov::ServerAdmin::create(server, integratedLogin, user, password);
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
        } else {
            lblStatus.setCaption(mdlCommon::FormatTemplate(QStringLiteral("正在导入 {1}"), {table}));
            // The name goes to the engine as a value; each engine puts it
            // into its statements only as a quoted identifier. A load that
            // fails (no such table, an unreadable file) is passed over: its
            // reason is in the table's .log file.
            ov::ui().setBusyPointer(true);
            admin->bulkLoad(database, table, dat, folder + table + QStringLiteral(".log"),
                            folder + table + QStringLiteral(".err"));
            ov::ui().setBusyPointer(false);
        }
        prgProgress.setValue(i);
    }
    prgProgress.setValue(0);
    lblStatus.setCaption(mdlCommon::FormatTemplate(QStringLiteral("完成数据导入")));
    return true;
}

} // namespace mdlOVSqlUpdateDB
