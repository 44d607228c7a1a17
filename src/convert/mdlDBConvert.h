#pragma once

#include "config/ConnectionSettings.h"

#include <QString>

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
// (dotted versions compared segment by segment, numbers as numbers, so 9.0 <
// 10.0): the message that the single-user database must be updated first,
// false. True when the file can be converted.
bool CheckConvertFile(const QString& path, const QString& requiredVersion);

} // namespace mdlDBConvert
