#pragma once

#include <QString>

// The update log: UpdateDBSqlLog.Txt in the program folder, a plain-text trail
// of script runs and data loads in code page 936. Only ever appended to.
namespace mdlOVSqlUpdateDB {

// gstrAppPath + "UpdateDBSqlLog.Txt".
QString UpdateLogPath();

// Appends text and a CR LF as one entry, opening and closing the file for it
// (the file is made when missing). A failure to write loses the entry but
// never stops the work it records; it is noted through the user-interface
// port, once until an entry is written again.
void WriteUpdateLog(const QString& text);

// While one lives, WriteUpdateLog writes nothing: a run that changes no
// database of the user's (a dry run, or the schema reference built in
// memory) leaves no trail that would read as an update.
class UpdateLogPause
{
public:
    UpdateLogPause();
    ~UpdateLogPause();
    UpdateLogPause(const UpdateLogPause&) = delete;
    UpdateLogPause& operator=(const UpdateLogPause&) = delete;
};

} // namespace mdlOVSqlUpdateDB
