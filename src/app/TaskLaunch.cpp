#include "app/TaskLaunch.h"

#include "common/mdlCommon.h"
#include "common/mdlOEMResource.h"

namespace {

struct Row
{
    const char* command; // the switch
    Task task;
    ResultKey resetKey;
    const char* titleTemplate;
};

// The switch table, in the order in which the switches are compared.
constexpr Row kSwitchRows[] = {
    {"/OVUPDATE", Task::Update, ResultKey::UpdateDBResult, "{1} -- 升级数据库"},
    {"/OVCREATE", Task::Create, ResultKey::CreateDBResult, "{1} -- 创建数据库"},
    {"/OVRESTORE", Task::Restore, ResultKey::None, "{1} -- 恢复数据库"},
    {"/OVBACKUP", Task::Backup, ResultKey::None, "{1} - 备份数据库"},
    {"/OVCONVERT", Task::Convert, ResultKey::None, "{1} - 数据转换"},
};

// The menu's buttons: the conversion button resets CreateDBResult and its
// title has two hyphens, unlike the conversion switch.
constexpr Row kMenuRows[] = {
    {"", Task::Update, ResultKey::UpdateDBResult, "{1} -- 升级数据库"},
    {"", Task::Create, ResultKey::CreateDBResult, "{1} -- 创建数据库"},
    {"", Task::Convert, ResultKey::CreateDBResult, "{1} -- 数据转换"},
    {"", Task::Restore, ResultKey::None, "{1} -- 恢复数据库"},
    {"", Task::Backup, ResultKey::None, "{1} - 备份数据库"},
};

TaskLaunch Fill(const Row& row, const ConnectionSettings& stored)
{
    TaskLaunch launch;
    launch.task = row.task;
    launch.resetKey = row.resetKey;
    launch.title =
        mdlCommon::FormatTemplate(QString::fromUtf8(row.titleTemplate), {mdlOEMResource::GetOEMShortName()});
    launch.values.server = stored.server;
    // The create and conversion windows always start with an empty database name.
    const bool emptyDatabase = row.task == Task::Create || row.task == Task::Convert;
    launch.values.database = emptyDatabase ? QString() : stored.database;
    launch.values.trusted = stored.trusted;
    launch.values.user = stored.user;
    // No task window ever receives the stored password.
    launch.values.password.clear();
    return launch;
}

} // namespace

QString NormalizeCommandLine(const QStringList& arguments)
{
    return arguments.join(QLatin1Char(' ')).trimmed().toUpper();
}

QString CommandLineTail(const QString& rawCommandLine)
{
    const QString& s = rawCommandLine;
    qsizetype i = 0;
    if (s.startsWith(QLatin1Char('"'))) {
        const qsizetype close = s.indexOf(QLatin1Char('"'), 1);
        if (close < 0)
            return QString();
        i = close + 1;
    } else {
        while (i < s.size() && s[i] != QLatin1Char(' ') && s[i] != QLatin1Char('\t'))
            ++i;
    }
    while (i < s.size() && (s[i] == QLatin1Char(' ') || s[i] == QLatin1Char('\t')))
        ++i;
    return s.mid(i);
}

TaskLaunch LaunchForSwitch(const QString& gstrCommand, const ConnectionSettings& stored)
{
    for (const Row& row : kSwitchRows) {
        if (gstrCommand == QLatin1String(row.command))
            return Fill(row, stored);
    }
    return TaskLaunch{};
}

TaskLaunch LaunchForMenuButton(Task task, const ConnectionSettings& stored)
{
    for (const Row& row : kMenuRows) {
        if (row.task == task)
            return Fill(row, stored);
    }
    return TaskLaunch{};
}

QString SwitchOf(Task task)
{
    for (const Row& row : kSwitchRows) {
        if (row.task == task)
            return QString::fromLatin1(row.command);
    }
    return QString();
}
