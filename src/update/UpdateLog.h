#pragma once

#include <QString>

// The update log: UpdateDBSqlLog.Txt in the program folder, a plain-text trail
// of script runs and data loads in code page 936. Only ever appended to.
namespace mdlOVSqlUpdateDB {

// gstrAppPath + "UpdateDBSqlLog.Txt".
QString UpdateLogPath();

// Appends text and a CR LF as one entry, opening and closing the file for it
// (the file is made when missing). A failure to write loses the entry and is
// otherwise ignored: logging never stops the work it records.
void WriteUpdateLog(const QString& text);

// While one lives, WriteUpdateLog writes nothing: a dry run, which sends
// nothing to the database, leaves no trail of a run that did not happen.
class UpdateLogPause
{
public:
    UpdateLogPause();
    ~UpdateLogPause();
    UpdateLogPause(const UpdateLogPause&) = delete;
    UpdateLogPause& operator=(const UpdateLogPause&) = delete;
};

} // namespace mdlOVSqlUpdateDB
