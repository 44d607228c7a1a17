#pragma once

#include "update/SchemaCheck.h"

#include <QString>

namespace ov {
class ProgressBar;
class StatusLabel;
} // namespace ov

// The update task with the schema check at its end, and the way back for a
// version block that a database claims but lacks.
namespace ov {
class StatementTranscript;
} // namespace ov

namespace mdlOVSqlUpdateDB {

// How an update ended. The run decides the result, as the window and the
// main program know it; the check after a completed run only adds what it
// found, and a check that cannot be made changes nothing.
struct UpdateOutcome
{
    enum class Run
    {
        NotStarted, // refused before anything was sent (file, connection, lock, a refused rerun)
        Failed,     // started, but did not do all its work; the user was told why
        Completed,  // the script was read to its end and every transactional block committed
    };
    Run run = Run::NotStarted;
    SchemaCheckResult check; // the check after a completed run
    // Not started because another task held the database.
    bool busy = false;
    // Failed because a stop was asked for (RequestStopBeforeNextBlock)
    // while version blocks were left to run.
    bool stopped = false;
    // The version blocks that ran to their end marker.
    int blocksRun = 0;
    // The database's version once the script was read to its end (also
    // when a stop left blocks out); empty when the run did not get there.
    QString versionAfter;

    bool completed() const { return run == Run::Completed; }
    // The check found tables or columns of the version missing (or of
    // another type) after a completed run.
    bool gapsFound() const { return completed() && check.status == SchemaCheckResult::Status::Gaps; }
    // ovsqlcli update's exit code: 0 completed, nothing found missing; 3
    // completed, the check found something missing; 1 failed; 2 not started.
    int exitCode() const;
};

// RunUpdateScript, then, on the run's connection and under its hold on the
// database, the schema check against OVScriptEmpty.txt of the program folder
// and the script that ran. The check's result is logged and nothing is shown:
// the caller says the update succeeded first, then TellCheckFindings. With
// checkOnServer the check builds its reference on the SQL Server of the
// database (CheckSchema's onServer) instead of in memory. A
// database carrying the mark of an unfinished creation is refused before
// anything is sent; one without a version passes over every version block
// and is then refused: both, told to the user, end as not started.
UpdateOutcome RunUpdateAndCheck(const QString& server, const QString& database, bool integratedLogin,
                                const QString& user, const QString& password, const QString& scriptPath,
                                ov::StatusLabel& lblStatus, ov::ProgressBar& prgProgress,
                                bool checkOnServer = false);

// Asks the update running in this process to run no further version block
// once the one it is in has ended: the blocks left are not run, the run
// fails as stopped (UpdateOutcome::stopped). Only sets a flag, so a signal
// handler may call it.
void RequestStopBeforeNextBlock();

// The statements RunUpdateAndCheck would send on its connection, written
// into transcript (see TranscribeUpdateScript): the look for the mark of an
// unfinished creation, the script's, and the schema check's reads. False,
// after telling the user why, when a run could not start.
bool TranscribeUpdateAndCheck(const QString& server, const QString& database, bool integratedLogin,
                              const QString& user, const QString& password, const QString& scriptPath,
                              ov::StatementTranscript& transcript);

// After the success of a completed run: one further message (exclamation)
// naming what the check found missing, with the blocks that bring it and the
// log; nothing when it found nothing or could not be made.
void TellCheckFindings(const UpdateOutcome& outcome);

// Runs the version block named version of the script once more, and nothing
// else of it, then checks as RunUpdateAndCheck does. Refused, before
// anything is sent (not started), unless the check finds that block
// incomplete with none of its objects there yet. The block runs in a
// transaction whatever its marker, and is recorded as the runner records it;
// the database's version stays what it was (a block that sets it to its own
// version would otherwise take the database back). checkOnServer as above,
// for both checks.
UpdateOutcome RerunVersionBlock(const QString& server, const QString& database, bool integratedLogin,
                                const QString& user, const QString& password, const QString& scriptPath,
                                const QString& version, ov::StatusLabel& lblStatus,
                                ov::ProgressBar& prgProgress, bool checkOnServer = false);

// False, after telling the user, when the database carries the mark of a
// creation that did not finish; true otherwise, also when it cannot be
// reached (the task that follows tells why). For a window that would ask for
// a backup before it updates.
bool RefuseUnfinishedDatabase(const QString& server, const QString& database, bool integratedLogin,
                              const QString& user, const QString& password);

} // namespace mdlOVSqlUpdateDB
