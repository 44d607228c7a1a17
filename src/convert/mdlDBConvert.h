#pragma once

#include "config/ConnectionSettings.h"
#include "create/CreateDatabase.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace ov {
class Connection;
class ProgressBar;
class StatusLabel;
} // namespace ov

// The conversion of a single-user database file (".cdb") into a new product
// database: the checks of the chosen file and the conversion itself, shared
// by the conversion window and ovsqlcli. Every message goes through the
// user-interface port.
namespace mdlDBConvert {

// gstrAppPath + "ConvertDataTables.ini": section MAIN, key VERSION, the lowest
// single-user database version that can be converted.
QString ConvertIniPath();
// gstrAppPath + "ConvertDataTables.txt": the tables to move, one a line, in an
// order that respects their references.
QString ConvertListPath();

// The lowest convertible version, or "NONE" when the file or its key is
// missing. When it is "NONE" the user is warned that the installation is
// incomplete and the result is false: no file is to be chosen.
bool ReadRequiredVersion(QString& requiredVersion);

// Opens the chosen file and reads its version ("DB"/"Version" of its
// tblVarible). A file that cannot be opened or has no version is no product
// database: warning naming the path, false. A version below requiredVersion
// (compared as the update script's blocks are, CompareVersions: the part
// before the first "." as a whole number, so 9.0 < 10.0, and the rest from
// the "." as text by character code, so 1.10 < 1.9 and 1.10 < 1.2; number
// versions so the order is plain, with as many digits after the "." within
// a release, 1.09 before 1.10): the message that the single-user database
// must be updated first, false. True when the file can be converted.
bool CheckConvertFile(const QString& path, const QString& requiredVersion);

// The step that makes the new database: server, database, login and
// password as read from the panel, with the window's status label and
// progress bar. fill brings the file's rows in; the step runs it once the
// tables are there and before the database is finished, and fails when it
// fails. It tells the user itself why it failed.
using CreateStep =
    std::function<bool(const ConnectionSettings& values, const mdlOVSqlUpdateDB::CreateFill& fill,
                       ov::StatusLabel& lblTip, ov::ProgressBar& prgProgress)>;

// The creation step of every conversion: CreateDatabase in the bare mode
// with the fill: the schema at the file's version, the rows, then the later
// version blocks over them. An existing database of that name is replaced
// only when the user agrees to the overwrite question.
bool CreateBareDatabase(const ConnectionSettings& values, const mdlOVSqlUpdateDB::CreateFill& fill,
                        ov::StatusLabel& lblTip, ov::ProgressBar& prgProgress);

// Runs again, on cn, the transfer blocks ("--<T:") of the version blocks of
// the update script at scriptPath that the database already has: the data
// moves those versions made, on rows that arrived after their tables were
// made. Each runs in its own transaction, as the runner runs it; true when
// every batch of them succeeded.
bool RerunAppliedTransfers(ov::Connection& cn, const QString& scriptPath, ov::StatusLabel& lblTip,
                           ov::ProgressBar& prgProgress);

// The conversion of the file at filePath into the database that values name:
//   1. the table list is read with the list-file reader of the data import
//      (trimmed names, blank lines dropped); when it cannot be, the reader
//      tells the path and why, then "请重新安装程序后再转换数据库。", false,
//      nothing changed;
//   2. create makes the database with the tables at the file's version and
//      fills it: the listed tables are transferred (tblVarible among them
//      carries the file's version and settings), the transfer blocks of the
//      versions the file has run over the rows, then the later versions;
//      false ends here (it told the user why);
//   3. the settings are written with the five values and CreateDBResult with
//      "1", so the product points at the new database from now on, and the
//      completion message follows.
// True once the database was created, whatever the transfer met (it reports
// its own problems); transferClean, when given, tells whether every table
// was moved and every transfer block run again without a failure of a
// statement, a row or a field.
bool DoConvert(const ConnectionSettings& values, const QString& filePath, const CreateStep& create,
               ov::StatusLabel& lblTip, ov::ProgressBar& prgProgress, bool* transferClean = nullptr);

} // namespace mdlDBConvert
