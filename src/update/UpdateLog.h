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

// While one lives (a script run), the entries of WriteUpdateLog are held in
// memory and written in one piece by FlushUpdateLog, which the runner calls
// at a block's start, before a block is committed, after a batch stored
// outside a transaction, when they grow past a quarter of a megabyte, and
// when the last one ends: the log shows which block runs, and the trail
// costs a few writes a block instead of an open, a lock and a write a line.
// A process killed in a block loses only entries of work that was not
// stored.
class UpdateLogBuffer
{
public:
    UpdateLogBuffer();
    ~UpdateLogBuffer();
    UpdateLogBuffer(const UpdateLogBuffer&) = delete;
    UpdateLogBuffer& operator=(const UpdateLogBuffer&) = delete;
};

// Writes the entries an UpdateLogBuffer holds.
void FlushUpdateLog();

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

// While one lives, the entries of WriteUpdateLog go into a section file of
// this process beside the log (".UpdateDBSqlLog.Txt.XXXXXX.section", held
// with a lock the system ends with the process), and commit appends the
// section to the log in one write under the log's lock: the updates of
// several processes at once each leave one whole section, never entries
// interleaved with another's. Without a section file (the folder cannot be
// written) the entries go to the log one by one, as without a section.
class UpdateLogSection
{
public:
    UpdateLogSection();
    // Commits what is not committed yet.
    ~UpdateLogSection();
    UpdateLogSection(const UpdateLogSection&) = delete;
    UpdateLogSection& operator=(const UpdateLogSection&) = delete;

    // Appends the section to the log and removes its file. The number of the
    // log's line where the section begins (from 1); 0 when the section is
    // empty or could not be appended (noted as a lost entry is, and its file
    // is left for FoldLeftLogSections).
    qint64 commit();

private:
    QString m_file;
    int m_hold = -1;
};

// Appends the section files that no live process holds (those of updates
// that were killed or crashed) to the log, each behind a line saying it was
// left unfinished, and removes them.
void FoldLeftLogSections();

} // namespace mdlOVSqlUpdateDB
