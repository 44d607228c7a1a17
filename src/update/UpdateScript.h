#pragma once

#include <QFile>

#include <QList>
#include <QString>
#include <functional>

namespace ov {
class Connection;
class StatementTranscript;
struct DataError;
class ProgressBar;
class Server;
class StatusLabel;
} // namespace ov

// The update script runner. A script (OVScriptEmpty.txt, OVScriptUpdate.txt)
// is SQL in batches that end at GO lines, with marker comments:
//   --<V:name> … --</V:name>    a version block, passed over when the database
//                               already has that version
//   --<VT:name> … --</V:name>   the same inside a transaction: a failing batch
//                               rolls back the whole block
//   --<T:name> … --</T:name>    a transfer block: its batches all or nothing;
//                               in a --<VT: block it runs in that block's
//                               transaction, and a version end closes it
//   --<REM>text                 text for the status label
//   --<SHOW ERR> / --<HIDE ERR> log failing batches from here on, or not
// Any other line starting with "--" is a comment and never sent.
namespace mdlOVSqlUpdateDB {

// What a script line is, decided by the first test that matches. Markers are
// found on the line without the spaces at its ends (a tab-indented marker is
// a statement line) and in any letter case.
enum class ScriptLineKind
{
    VersionStart,              // "--<V:"
    TransactionalVersionStart, // "--<VT:"
    TransferStart,             // "--<T:"
    VersionEnd,                // "--</V:"
    TransferEnd,               // "--</T:"
    StatusText,                // "--<REM>"
    ShowErrors,                // "--<SHOW ERR>"
    HideErrors,                // "--<HIDE ERR>"
    Comment,                   // any other "--"
    BatchEnd,                  // "GO" alone, with blanks or tabs around it
    Statement,                 // everything else
};
ScriptLineKind ClassifyScriptLine(const QString& line);

// The name in a marker line: the text between the first and the second ":" or
// ">" ("--<V:2.5.1>" names 2.5.1); empty when there is no such text.
QString GetMarkerName(const QString& line);

// A script file read forward one line at a time, never whole: code page 936,
// or UTF-8 when it begins with a byte-order mark. A line ends at CR LF, at LF
// or at a lone CR (so a file saved with CR CR LF reads as lines with empty
// lines between them); the line end is not part of the line. open refuses,
// naming the line, what the reader would have to guess at: a NUL byte (a file
// saved as UTF-16, "Unicode"), bytes that are not text of the file's encoding,
// and a block started inside another that has not ended (a version block
// inside a version or transfer block, a transfer block inside a transfer
// block).
class ScriptFile
{
public:
    // False when the file cannot be opened or is refused; errorString then
    // says why.
    bool open(const QString& path);
    QString errorString() const { return m_error.isEmpty() ? m_file.errorString() : m_error; }
    // Length of the file in bytes.
    qint64 size() const { return m_file.size(); }
    bool atEnd() const { return m_pos >= m_buffer.size() && m_file.atEnd(); }
    // The next line; empty at the end of the file.
    QString readLine();
    // Reads lines up to and including the next one that starts with marker
    // (ASCII, in any letter case) after its leading spaces, or to the end of
    // the file, without decoding them.
    void skipPast(const char* marker);
    void close() { m_file.close(); }

private:
    // Reads the next piece of the file into the buffer; false at its end.
    bool fill();
    // The next line's bytes, valid until the next read: a view into the
    // buffer, or into m_carry when the line spans two pieces of the file.
    QByteArrayView nextLine();
    QString decodeLine(QByteArrayView bytes) const;
    // Reads every line up to the end, refusing (false, with m_error) the
    // first that the reader would have to guess at.
    bool check(const QString& path);

    QFile m_file;
    QString m_error;
    QByteArray m_buffer;
    QByteArray m_carry;
    qsizetype m_pos = 0;
    // Where the next LF of the buffer is at or after m_pos (the buffer's
    // size when there is none); below m_pos when not known.
    qsizetype m_nextLf = -1;
    bool m_utf8 = false;
};

// Read lines up to and including the next version end ("--</V:") or transfer
// end ("--</T:") line, or to the end of the file, without looking at anything
// in between (nesting, names, GO lines).
void SkipToVersionEnd(ScriptFile& file);
void SkipToTransferEnd(ScriptFile& file);

// Runs the script at scriptPath on the database: one connection for the whole
// run; each batch is sent at its GO line; version blocks that the database
// already has are passed over; each completed version block is recorded in
// tblVarible; every step goes into the update log. The status label shows the
// script's "--<REM>" texts, the progress bar the share of the file read; the
// pending window events run once per line.
//
// True when the script was read to its end and every transactional version
// block that ran was committed; a failing batch outside such a block does not
// change that. Once a transactional version block has rolled back, every
// later version block is passed over (logged as not run) and the result is
// false, after telling the user which version failed and where the log is; a
// later run starts again at that block. A failure of the machine (a full
// disk or log, an I/O error, a damaged file, a lost connection) stops the run
// where it strikes, in any batch, commit or version record: what is in a
// transaction is rolled back, the version block is not recorded, nothing
// after it runs, the log states the error and the result is false, after
// telling the user which version, why and where the log is. False too, after
// telling the user why, when the file is missing, the connection cannot be
// opened or the file cannot be read.
bool RunUpdateScript(const QString& server, const QString& database, bool integratedLogin,
                     const QString& user, const QString& password, const QString& scriptPath,
                     ov::StatusLabel& lblStatus, ov::ProgressBar& prgProgress);

// The statements a run of the script on the database would send, judged by
// the database's version now, in the order it would send them, added to
// transcript: the version-table reads, the batches of the blocks that would
// run, the transaction statements and the version records. Nothing that
// changes the database is sent, no lock is taken and the update log is not
// written. False, after telling the user why, when the file is missing or
// cannot be read or the connection cannot be opened.
bool TranscribeUpdateScript(const QString& server, const QString& database, bool integratedLogin,
                            const QString& user, const QString& password, const QString& scriptPath,
                            ov::StatementTranscript& transcript);
struct UpdateRunSteps;
// The same with what a run with steps does on its connection before and
// after the script (their reads are sent and written down, their changes
// written down only); a prepare that refuses ends the transcript there and
// answers false, as the run would stop.
bool TranscribeUpdateScript(const QString& server, const QString& database, bool integratedLogin,
                            const QString& user, const QString& password, const QString& scriptPath,
                            ov::StatementTranscript& transcript, const UpdateRunSteps& steps);
// What a run on a connection of the caller's does beyond the script's rules.
struct ScriptRunHooks
{
    // Whether the version block of that name is passed over; unset, the
    // database's version decides (IsVersionApplied).
    std::function<bool(const QString& version)> passOver;
    // Every version block that runs runs in a transaction, "--<V:" blocks
    // too: all of it or nothing, whatever stops it.
    bool allInTransaction = false;
    // No transaction at all: every batch stands on its own, and a failing one
    // (told to batchFailed) rolls nothing back and skips nothing, so the run
    // does all of the script it can (the schema check's reference).
    bool standAloneBatches = false;
    // Called at the end marker of a version block that ran, before the block
    // is recorded and its transaction committed. False fails the block as a
    // failing batch of a "--<VT:" block does: rolled back when it has a
    // transaction, not recorded, no later block run; the error is the
    // connection's last.
    std::function<bool(const QString& version)> blockEnding;
    // Told of every batch that fails, with the version block it is in
    // (empty outside one), before the run goes on as the script's rules say.
    std::function<void(const QString& version, const QString& batch, const ov::DataError& error)> batchFailed;
};

// More work for a run of RunUpdateScript, on the run's connection and under
// its hold on the database. prepare runs before anything is logged or sent
// and may refuse the run (false, having told the user why); hooks steer the
// version blocks; finish runs once the script was read to its end and every
// transactional block that ran was committed, and its answer is the run's.
struct UpdateRunSteps
{
    // Told why the run could not take the database for itself (another
    // task holds it, or the lock could not be had), before the user is.
    std::function<void(const ov::DataError&)> lockRefused;
    std::function<bool(ov::Connection&)> prepare;
    ScriptRunHooks hooks;
    std::function<bool(ov::Connection&)> finish;
};
bool RunUpdateScript(const QString& server, const QString& database, bool integratedLogin,
                     const QString& user, const QString& password, const QString& scriptPath,
                     ov::StatusLabel& lblStatus, ov::ProgressBar& prgProgress, const UpdateRunSteps& steps);
// The same on a server handle.
bool RunUpdateScript(const ov::Server& server, const QString& database, const QString& scriptPath,
                     ov::StatusLabel& lblStatus, ov::ProgressBar& prgProgress, const UpdateRunSteps& steps);

// The runner of RunUpdateScript on a connection and a script file the caller
// has opened: no lock, no log header, no message; true under the same rule.
// When false, failedVersion and failure (when given) say which transactional
// block rolled back and why.
bool RunScriptOnConnection(ov::Connection& cn, ScriptFile& file, const ScriptRunHooks& hooks,
                           ov::StatusLabel& lblStatus, ov::ProgressBar& prgProgress,
                           QString* failedVersion = nullptr, ov::DataError* failure = nullptr);

// A version block of a script as a run on the database would meet it now.
struct VersionBlockPlan
{
    QString name;
    bool transactional = false; // "--<VT:"
    bool passOver = false;      // the database has it already
};
// The version blocks of the script, each with what a run would do with it
// judged by the database's version now; reads the database, changes nothing.
// False when the file cannot be opened.
bool PlanUpdateScript(const QString& scriptPath, ov::Connection* cn, QList<VersionBlockPlan>& plan);

} // namespace mdlOVSqlUpdateDB
