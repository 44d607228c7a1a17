#pragma once

#include "cli/CliCommand.h"
#include "cli/CliLogin.h"

#include <QString>

#include <functional>
#include <optional>

namespace mdlOVSqlUpdateDB {
struct UpdateOutcome;
}

// ovsqlcli update over many databases in one run: --all (every product
// database of the server), --databases A,B, --list FILE (server<TAB>database
// lines, across servers) or --retry-failed REPORT.json (the databases an
// earlier run did not bring up to date). Each database is updated by an
// ovsqlcli update of its own, started as a child process: the very update of
// one database, with its task lock, backup, messages, log and exit code, so
// that up to --parallel N of them run side by side without sharing anything
// but the server; each one's log goes into the update log as one section.
namespace ovcli::ManyUpdate {

// The options of a run over many databases, taken from the arguments before
// the login options are.
struct Options
{
    bool all = false;
    std::optional<QString> databases;
    std::optional<QString> list;
    std::optional<QString> retryFailed;
    std::optional<QString> parallel;
    std::optional<QString> report;
    bool stopOnError = false;
    bool databaseGiven = false;
    QString error;

    void take(Args& args);
    // One of --all, --databases, --list or --retry-failed was given.
    bool chosen() const { return all || databases || list || retryFailed; }
    // An option of a run over many databases was given without one of them.
    bool strayOption() const { return !chosen() && (parallel || report || stopOnError); }
};

// The run over many databases; the exit code. taken is LoginOptions::take's
// answer; backupTo and noBackup the backup options; singleOnly is true when
// an option of a single update (--dry-run, --sql-out, --rerun) was given.
int run(const Options& options, Args& args, LoginOptions& login, bool taken,
        const std::optional<QString>& script, const std::optional<QString>& backupTo, bool noBackup,
        bool singleOnly);

// One database's update as a run over many databases starts it (ovsqlcli
// update --outcome-file FILE): its log goes into the update log as one
// section, an interrupt (SIGINT) lets the version block that runs end and
// runs no further one, and what became of it is written into FILE for the
// run that started it. update does the update; its exit code is returned.
int runOne(const QString& outcomeFile, mdlOVSqlUpdateDB::UpdateOutcome& outcome,
           const std::function<int()>& update);

} // namespace ovcli::ManyUpdate
