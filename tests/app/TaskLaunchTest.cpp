#include "app/TaskLaunch.h"

#include <gtest/gtest.h>

namespace {

ConnectionSettings Stored()
{
    ConnectionSettings s;
    s.server = QStringLiteral("DBHOST");
    s.database = QStringLiteral("CrmProd");
    s.trusted = false;
    s.user = QStringLiteral("admin");
    s.password = QStringLiteral("secret");
    return s;
}

struct SwitchCase
{
    QStringList arguments;
    Task task;
    ResultKey reset;
    const char* title;
};

} // namespace

TEST(TaskLaunch, EverySwitchSelectsItsRow)
{
    const SwitchCase cases[] = {
        {{"/OVUPDATE"}, Task::Update, ResultKey::UpdateDBResult, "Orvane -- 升级数据库"},
        {{"/OVCREATE"}, Task::Create, ResultKey::CreateDBResult, "Orvane -- 创建数据库"},
        {{"/OVRESTORE"}, Task::Restore, ResultKey::None, "Orvane -- 恢复数据库"},
        {{"/OVBACKUP"}, Task::Backup, ResultKey::None, "Orvane - 备份数据库"},
        {{"/OVCONVERT"}, Task::Convert, ResultKey::None, "Orvane - 数据转换"},
        // Letter case and surrounding blanks do not matter.
        {{"/ovupdate"}, Task::Update, ResultKey::UpdateDBResult, "Orvane -- 升级数据库"},
        {{"  /OvCreate  "}, Task::Create, ResultKey::CreateDBResult, "Orvane -- 创建数据库"},
        {{"", "/ovbackup", ""}, Task::Backup, ResultKey::None, "Orvane - 备份数据库"},
        // Anything else opens the menu, which sets its own caption.
        {{}, Task::Menu, ResultKey::None, ""},
        {{""}, Task::Menu, ResultKey::None, ""},
        {{"/OVUPDATE", "extra"}, Task::Menu, ResultKey::None, ""},
        {{"/OVBACKUP", "/OVUPDATE"}, Task::Menu, ResultKey::None, ""},
        {{"OVUPDATE"}, Task::Menu, ResultKey::None, ""},
        {{"\"/OVUPDATE\""}, Task::Menu, ResultKey::None, ""},
        {{"/OVUPDATE2"}, Task::Menu, ResultKey::None, ""},
        {{"-OVUPDATE"}, Task::Menu, ResultKey::None, ""},
    };
    for (const SwitchCase& c : cases) {
        const QString command = NormalizeCommandLine(c.arguments);
        SCOPED_TRACE(command.toStdString());
        const TaskLaunch launch = LaunchForSwitch(command, Stored());
        EXPECT_EQ(launch.task, c.task);
        EXPECT_EQ(launch.resetKey, c.reset);
        EXPECT_EQ(launch.title, QString::fromUtf8(c.title));
    }
}

TEST(TaskLaunch, NormalizedCommandIsTrimmedUpperCase)
{
    EXPECT_EQ(NormalizeCommandLine({" /ovUpdate "}), QStringLiteral("/OVUPDATE"));
    EXPECT_EQ(NormalizeCommandLine({"/ovupdate", "x"}), QStringLiteral("/OVUPDATE X"));
    EXPECT_EQ(NormalizeCommandLine({}), QString());
}

// The create and conversion windows start without a database name; no
// window ever receives the stored password.
TEST(TaskLaunch, OpenersReceiveStoredValuesButNeverThePassword)
{
    for (Task task : {Task::Update, Task::Create, Task::Restore, Task::Backup, Task::Convert}) {
        const bool emptyDatabase = task == Task::Create || task == Task::Convert;
        for (const TaskLaunch& launch :
             {LaunchForSwitch(SwitchOf(task), Stored()), LaunchForMenuButton(task, Stored())}) {
            SCOPED_TRACE(SwitchOf(task).toStdString());
            EXPECT_EQ(launch.task, task);
            EXPECT_EQ(launch.values.server, QStringLiteral("DBHOST"));
            EXPECT_EQ(launch.values.database, emptyDatabase ? QString() : QStringLiteral("CrmProd"));
            EXPECT_FALSE(launch.values.trusted);
            EXPECT_EQ(launch.values.user, QStringLiteral("admin"));
            EXPECT_TRUE(launch.values.password.isEmpty());
        }
    }
}

// The menu's conversion button differs from the switch: two hyphens in the
// title, and it resets CreateDBResult.
TEST(TaskLaunch, MenuButtonsHaveTheirOwnTitlesAndResets)
{
    const struct
    {
        Task task;
        ResultKey reset;
        const char* title;
    } cases[] = {
        {Task::Update, ResultKey::UpdateDBResult, "Orvane -- 升级数据库"},
        {Task::Create, ResultKey::CreateDBResult, "Orvane -- 创建数据库"},
        {Task::Convert, ResultKey::CreateDBResult, "Orvane -- 数据转换"},
        {Task::Restore, ResultKey::None, "Orvane -- 恢复数据库"},
        {Task::Backup, ResultKey::None, "Orvane - 备份数据库"},
    };
    for (const auto& c : cases) {
        const TaskLaunch launch = LaunchForMenuButton(c.task, Stored());
        EXPECT_EQ(launch.resetKey, c.reset);
        EXPECT_EQ(launch.title, QString::fromUtf8(c.title));
    }
}

// On Windows the switch is read from the raw command line, quotation marks
// and all: the program name (quoted or not) goes, the rest is the command.
TEST(TaskLaunch, RawCommandLineKeepsTheQuotationMarks)
{
    const struct
    {
        const char* raw;
        Task task;
    } cases[] = {
        {"ovsqlupdatedb.exe /OVUPDATE", Task::Update},
        {"\"C:\\Program Files\\Orvane\\ovsqlupdatedb.exe\" /ovbackup", Task::Backup},
        {"\"C:\\Program Files\\Orvane\\ovsqlupdatedb.exe\"/OVCREATE", Task::Create},
        {"C:\\Orvane\\ovsqlupdatedb.exe \t /OVRESTORE  ", Task::Restore},
        {"ovsqlupdatedb.exe \"/OVUPDATE\"", Task::Menu},
        {"\"C:\\Program Files\\Orvane\\ovsqlupdatedb.exe\" \"/OVBACKUP\"", Task::Menu},
        {"ovsqlupdatedb.exe /OVUPDATE \"\"", Task::Menu},
        {"ovsqlupdatedb.exe", Task::Menu},
        {"\"C:\\Program Files\\Orvane\\ovsqlupdatedb.exe", Task::Menu},
        {"", Task::Menu},
    };
    for (const auto& c : cases) {
        const QString tail = CommandLineTail(QString::fromUtf8(c.raw));
        const TaskLaunch launch = LaunchForSwitch(NormalizeCommandLine({tail}), Stored());
        EXPECT_EQ(launch.task, c.task) << c.raw << " -> " << tail.toStdString();
    }
    EXPECT_EQ(CommandLineTail(QStringLiteral("\"C:\\a b\\x.exe\"  \"/OVUPDATE\" ")),
              QStringLiteral("\"/OVUPDATE\" "));
}
