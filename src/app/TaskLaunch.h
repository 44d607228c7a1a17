#pragma once

#include "config/ConnectionSettings.h"

#include <QString>
#include <QStringList>

// What start-up and the menu decide before a task window opens: which window,
// which result key is reset to "0", the application title, and the values its
// opener receives. Pure functions, so every switch and button is testable
// without a window.
enum class Task
{
    Menu,
    Update,
    Create,
    Restore,
    Backup,
    Convert,
};

enum class ResultKey
{
    None,
    UpdateDBResult,
    CreateDBResult,
};

struct TaskLaunch
{
    Task task = Task::Menu;
    ResultKey resetKey = ResultKey::None;
    QString title;             // the application title to set; empty for the menu
    ConnectionSettings values; // what the window's opener receives
};

// The command line after the program name as the switch table sees it: the
// arguments joined by blanks, trimmed at both ends, in upper case.
QString NormalizeCommandLine(const QStringList& arguments);
// The raw command line of a Windows process (GetCommandLineW) without the
// program name: a name in quotation marks ends at the closing mark, any other
// at the first blank or tab; the blanks after it go. Everything else stays as
// typed, quotation marks included, so "/OVUPDATE" in quotes names no task.
QString CommandLineTail(const QString& rawCommandLine);

// The row of the switch table that gstrCommand selects (exact, case-sensitive
// comparison of the whole text; anything else opens the menu), filled with
// the stored settings.
TaskLaunch LaunchForSwitch(const QString& gstrCommand, const ConnectionSettings& stored);

// The same for a task button of the menu window, which differs from the
// switches in two places: the conversion title has two hyphens, and the
// conversion button resets CreateDBResult.
TaskLaunch LaunchForMenuButton(Task task, const ConnectionSettings& stored);

// The switch that names a task ("/OVUPDATE"…); empty for the menu.
QString SwitchOf(Task task);
