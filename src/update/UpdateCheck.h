#pragma once

#include <QString>

namespace ov {
class ProgressBar;
class StatusLabel;
} // namespace ov

// The update task with the schema check at its end, and the way back for a
// version block that a database claims but lacks.
namespace mdlOVSqlUpdateDB {

// Why an update did not start its work: the database is refused as it
// stands, rather than the run having failed.
enum class UpdateRefusal
{
    None,
    Unfinished, // it carries the mark of a creation that did not finish
    NoVersion,  // its version cannot be learnt: every block was passed over
};

// RunUpdateScript, then, on the run's connection and under its hold on the
// database, the schema check against OVScriptEmpty.txt of the program folder
// and the script that ran. The result is logged; a gap fails the run with a
// message naming the missing objects and their blocks, and so does a check
// that cannot run. A database carrying the mark of an unfinished creation
// is refused before anything is sent. A database without a version passes
// over every version block, and the run then fails: nothing was updated,
// and it may be no product database or an unfinished creation. refusal,
// when given, tells those two cases from other failures.
bool RunUpdateAndCheck(const QString& server, const QString& database, bool integratedLogin,
                       const QString& user, const QString& password, const QString& scriptPath,
                       ov::StatusLabel& lblStatus, ov::ProgressBar& prgProgress,
                       UpdateRefusal* refusal = nullptr);

// Runs the version block named version of the script once more, and nothing
// else of it, then checks as RunUpdateAndCheck does. Refused, before
// anything is sent, unless the check finds that block incomplete with none
// of its objects there yet. The block runs in a transaction whatever its
// marker, and is recorded as the runner records it;
// the database's version stays what it was (a block that sets it to its own
// version would otherwise take the database back).
bool RerunVersionBlock(const QString& server, const QString& database, bool integratedLogin,
                       const QString& user, const QString& password, const QString& scriptPath,
                       const QString& version, ov::StatusLabel& lblStatus, ov::ProgressBar& prgProgress,
                       UpdateRefusal* refusal = nullptr);

// False, after telling the user, when the database carries the mark of a
// creation that did not finish; true otherwise, also when it cannot be
// reached (the task that follows tells why). For a window that would ask for
// a backup before it updates.
bool RefuseUnfinishedDatabase(const QString& server, const QString& database, bool integratedLogin,
                              const QString& user, const QString& password);

} // namespace mdlOVSqlUpdateDB
