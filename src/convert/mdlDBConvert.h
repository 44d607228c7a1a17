#pragma once

#include "config/ConnectionSettings.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace ov {
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

// The step that makes the new, bare database (the schema at version "0",
// brought up to date): server, database, login and password as read from the
// panel, with the window's status label and progress bar. It tells the user
// itself why it failed.
using CreateStep = std::function<bool(const ConnectionSettings& values, ov::StatusLabel& lblTip,
                                      ov::ProgressBar& prgProgress)>;

// The creation step of every conversion: CreateDatabase in the bare mode, so
// the database gets the schema, the version row "0" and then every version
// block of the update script. An existing database of that name is replaced
// only when the user agrees to the overwrite question.
bool CreateBareDatabase(const ConnectionSettings& values, ov::StatusLabel& lblTip,
                        ov::ProgressBar& prgProgress);

// The conversion of the file at filePath into the database that values name:
//   1. the table list is read with the list-file reader of the data import
//      (trimmed names, blank lines dropped); when it cannot be, the reader
//      tells the path and why, then "请重新安装程序后再转换数据库。", false,
//      nothing changed;
//   2. create makes the database; false ends here (it told the user why);
//   3. the settings are written with the five values and CreateDBResult with
//      "1", so the product points at the new database from now on;
//   4. the file and the new database are opened and the tables transferred.
// True once the database was created, whatever the transfer met (it reports
// its own problems); transferClean, when given, tells whether every table
// was moved without a failure of a statement, a row or a field.
bool DoConvert(const ConnectionSettings& values, const QString& filePath, const CreateStep& create,
               ov::StatusLabel& lblTip, ov::ProgressBar& prgProgress, bool* transferClean = nullptr);

} // namespace mdlDBConvert
