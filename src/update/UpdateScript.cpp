#include "update/UpdateScript.h"

#include "common/Clock.h"
#include "common/Cp936.h"
#include "common/UiPort.h"
#include "common/clsError.h"
#include "common/mdlCommon.h"
#include "config/mdlOVSqlServerConnect.h"
#include "data/Connection.h"
#include "update/UpdateLog.h"
#include "update/VersionTable.h"

#include <QFileInfo>

#include <cstring>

#include <climits>

namespace mdlOVSqlUpdateDB {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

bool hasNonBlank(const QString& line)
{
    for (const QChar c : line) {
        if (c != QLatin1Char(' '))
            return true;
    }
    return false;
}

QString hyphens(int n)
{
    return QString(n, QLatin1Char('-'));
}

// The line after its leading spaces. Markers are ASCII, and in code page
// 936 and UTF-8 alike an ASCII byte is never part of another character, so
// they are found in the bytes without decoding the line.
QByteArrayView afterSpaces(QByteArrayView line)
{
    qsizetype at = 0;
    while (at < line.size() && line[at] == ' ')
        ++at;
    return line.sliced(at);
}

bool startsWithMarker(QByteArrayView line, const char* marker)
{
    const QByteArrayView m(marker);
    return line.size() >= m.size() && qstrnicmp(line.data(), m.data(), size_t(m.size())) == 0;
}

int clampInt(qint64 v)
{
    return v > INT_MAX ? INT_MAX : int(v);
}

// The trail a run leaves in the update log.
namespace logentry {

void header(const QString& server, const QString& database, const QString& scriptPath)
{
    const QString rule(72, QLatin1Char('#'));
    WriteUpdateLog(kCrLf + kCrLf + kCrLf);
    WriteUpdateLog(kCrLf + rule);
    WriteUpdateLog(ov::Clock::now().toString(QStringLiteral("MM/dd/yyyy HH:mm:ss")) + kCrLf);
    WriteUpdateLog(QStringLiteral("Server:") + server + QStringLiteral(", DB:") + database +
                   QStringLiteral(", Script File:") + scriptPath + kCrLf);
    WriteUpdateLog(rule + kCrLf);
}

void versionStarted(const QString& version, bool transaction)
{
    if (transaction) {
        WriteUpdateLog(QStringLiteral("{{{") + hyphens(95));
        WriteUpdateLog(QStringLiteral("SSSSS Ver:<") + version +
                       QStringLiteral("> Start And BEGIN TRANSFER .... SSSSS"));
    } else {
        WriteUpdateLog(QStringLiteral("{{{") + hyphens(97));
        WriteUpdateLog(QStringLiteral("SSSSS Ver:<") + version + QStringLiteral("> Start .... SSSSS") +
                       kCrLf);
    }
}

void versionPassedOver(const QString& version)
{
    WriteUpdateLog(QStringLiteral("{{{") + hyphens(95));
    WriteUpdateLog(QStringLiteral("XXXXXX VER:<") + version +
                   QStringLiteral("> Is been executed before , pass it XXXXXX"));
    WriteUpdateLog(hyphens(96) + QStringLiteral("}}}") + kCrLf);
}

void versionCompleted(const QString& version, bool committed)
{
    WriteUpdateLog(QStringLiteral("VVVVV Ver:<") + version +
                   (committed ? QStringLiteral("> Completed And COMMITED. VVVVV")
                              : QStringLiteral("> Completed. VVVVV")));
    WriteUpdateLog(hyphens(96) + QStringLiteral("}}}") + kCrLf);
}

void versionRolledBack(const QString& version)
{
    WriteUpdateLog(QStringLiteral("XXXXXX ROOLBACK Ver:<") + version + QStringLiteral(">   XXXXXX"));
    WriteUpdateLog(hyphens(96) + QStringLiteral("}}}") + kCrLf);
}

void versionNotRun(const QString& version, const QString& failed)
{
    WriteUpdateLog(QStringLiteral("{{{") + hyphens(95));
    WriteUpdateLog(QStringLiteral("XXXXXX VER:<") + version + QStringLiteral("> Not run: Ver:<") + failed +
                   QStringLiteral("> was rolled back XXXXXX"));
    WriteUpdateLog(hyphens(96) + QStringLiteral("}}}") + kCrLf);
}

void runStopped(const QString& failed, const QString& description)
{
    WriteUpdateLog(QStringLiteral("!!! Ver:<") + failed + QStringLiteral("> was rolled back: ") +
                   description + kCrLf + QStringLiteral("!!! The version blocks after it were not run.") +
                   kCrLf);
}

// The machine failed (a full disk, an I/O error, a lost connection) while a
// version block was running; it was stopped there and not recorded.
void versionStopped(const QString& version)
{
    WriteUpdateLog(QStringLiteral("XXXXXX STOPPED Ver:<") + version +
                   QStringLiteral(">, not recorded: a failure of the machine XXXXXX"));
    WriteUpdateLog(hyphens(96) + QStringLiteral("}}}") + kCrLf);
}

void runStoppedByMachine(const QString& version, const QString& description)
{
    WriteUpdateLog(
        QStringLiteral("!!! The run was stopped") +
        (version.isEmpty() ? QString() : QStringLiteral(" in Ver:<") + version + QLatin1Char('>')) +
        QStringLiteral(" by a failure of the machine: ") + description + kCrLf +
        QStringLiteral("!!! Nothing after it was run; run the update again once it is mended.") + kCrLf);
}

void transferStarted(const QString& name)
{
    WriteUpdateLog(QStringLiteral("[[[") + hyphens(49));
    WriteUpdateLog(QStringLiteral("sssss Transfer Block:<") + name + QStringLiteral("> Start .... sssss"));
}

void transferCommitted(const QString& name)
{
    WriteUpdateLog(QStringLiteral("vvvvv Transfer Block:<") + name + QStringLiteral("> COMMIT  vvvvv"));
    WriteUpdateLog(hyphens(40) + QStringLiteral("]]]") + kCrLf);
}

// A transfer block inside a version block's transaction ends without a
// commit of its own: its statements are committed or rolled back with the
// version block.
void transferEndedInVersion(const QString& name, const QString& version)
{
    WriteUpdateLog(QStringLiteral("vvvvv Transfer Block:<") + name +
                   QStringLiteral("> End, in the transaction of Ver:<") + version +
                   QStringLiteral(">  vvvvv"));
    WriteUpdateLog(hyphens(40) + QStringLiteral("]]]") + kCrLf);
}

void transferRolledBack(const QString& name)
{
    WriteUpdateLog(QStringLiteral("XXXXXX ROOLBACK Transfer Block:<") + name + QStringLiteral(">  XXXXXX"));
    WriteUpdateLog(hyphens(49) + QStringLiteral("]]]") + kCrLf);
}

void batchFailed(const QString& description, const QString& batch)
{
    WriteUpdateLog(hyphens(61));
    WriteUpdateLog(description);
    WriteUpdateLog(batch);
}

} // namespace logentry

// What the user is told when a failure of the machine stopped a run in the
// version block (empty: outside any version block). The values go in once
// each, so nothing in them is taken for a placeholder.
QString machineFailureMessage(const QString& version, const QString& description)
{
    const QString why = QStringLiteral("这是数据库所在机器或连接的故障（磁盘或日志已满、读写错误、数据损坏、"
                                       "内存不足、连接中断），不是脚本的错误。");
    if (version.isEmpty())
        return QStringLiteral(
                   "数据库升级因故障中止：%1\r\n\r\n%2能撤销的修改已撤销，其后的语句和版本均未执行。"
                   "\r\n\r\n详细记录见日志文件 %3\r\n排除故障（例如腾出磁盘空间）后请重新运行。")
            .arg(description, why, UpdateLogPath());
    return QStringLiteral("版本 %1 的升级因故障中止：%2\r\n\r\n%3能撤销的修改已撤销，版本 %1 "
                          "没有记录为已升级，其后的版本均未执行。\r\n\r\n详细记录见日志文件 %4\r\n"
                          "排除故障（例如腾出磁盘空间）后请重新运行，将从版本 %1 继续。")
        .arg(version, description, why, UpdateLogPath());
}

// The state of one run; everything starts afresh with each run.
//
// Once a transactional version block has been rolled back, no later version
// block runs: each of them builds on the ones before it, and recording them
// would raise the database's version past the block that is missing, so that
// no later run would ever try it again. The run then counts as failed.
class ScriptRun
{
public:
    ScriptRun(ov::Connection& cn, ScriptFile& file, ov::StatusLabel& status, ov::ProgressBar& progress,
              const ScriptRunHooks* hooks = nullptr)
        : m_cn(cn), m_file(file), m_status(status), m_progress(progress), m_hooks(hooks)
    {}

    // True when every transactional version block that ran was committed.
    bool run()
    {
        // The trail goes to the log a block at a time.
        const UpdateLogBuffer buffered;
        // At least one pass, so an empty file is read (as one empty line) too.
        do {
            ov::ui().pumpEvents();
            const QString line = m_file.readLine();
            m_charactersRead += line.size();
            m_progress.setValue(clampInt(m_charactersRead));
            handle(line);
        } while (!m_file.atEnd() && !m_stopped);
        finish();
        return !m_failed;
    }

    // The version block that was rolled back, or that a failure of the
    // machine stopped (empty when it struck outside a version block), and
    // why.
    const QString& failedVersion() const { return m_failedVersion; }
    const ov::DataError& failure() const { return m_failure; }

private:
    void handle(const QString& line)
    {
        switch (ClassifyScriptLine(line)) {
        case ScriptLineKind::VersionStart:
        case ScriptLineKind::TransactionalVersionStart: {
            const bool transaction =
                !standAlone() && (ClassifyScriptLine(line) == ScriptLineKind::TransactionalVersionStart ||
                                  (m_hooks && m_hooks->allInTransaction));
            m_version = GetMarkerName(line);
            if (passOver(m_version)) {
                SkipToVersionEnd(m_file);
                logentry::versionPassedOver(m_version);
                m_version.clear();
            } else if (m_failed) {
                SkipToVersionEnd(m_file);
                logentry::versionNotRun(m_version, m_failedVersion);
                m_version.clear();
            } else {
                logentry::versionStarted(m_version, transaction);
                // Whoever reads the log meanwhile sees which block runs.
                FlushUpdateLog();
                // A begin that fails is passed over like any other failure
                // of the run; the block then runs without a transaction.
                m_versionBegun = transaction && m_cn.BeginTrans();
                m_versionInTransaction = transaction;
                if (transaction && !m_versionBegun && m_cn.lastError().machineFailure) {
                    machineFailed(m_cn.lastError(), QStringLiteral("BEGIN TRANSACTION") + kCrLf);
                    break;
                }
            }
            // Statements collected before the marker and not yet sent are dropped.
            m_pending.clear();
            m_batch.clear();
            break;
        }
        case ScriptLineKind::TransferStart:
            m_transfer = GetMarkerName(line);
            logentry::transferStarted(m_transfer);
            FlushUpdateLog();
            // Transactions do not nest: inside a version block's transaction
            // the transfer runs in that transaction, so the version block
            // stays all or nothing.
            m_transferInVersion = m_versionBegun;
            m_transferBegun = !m_transferInVersion && !standAlone() && m_cn.BeginTrans();
            m_transferInTransaction = !standAlone();
            m_pending.clear();
            m_batch.clear();
            if (!m_transferInVersion && !m_transferBegun && m_cn.lastError().machineFailure)
                machineFailed(m_cn.lastError(), QStringLiteral("BEGIN TRANSACTION") + kCrLf);
            break;
        case ScriptLineKind::VersionEnd:
            // The block's entries reach the log before its work is recorded
            // and committed: a process killed after the commit leaves them.
            FlushUpdateLog();
            // A transfer block whose end marker is missing ends with its
            // version block, before the version is recorded: left open, its
            // transaction would take in the record and every later block,
            // and the next failing batch would roll them back and pass over
            // the rest of the file up to a transfer end.
            if (m_transferInTransaction)
                transferEnd();
            if (m_stopped)
                break;
            if (!m_version.isEmpty() && m_hooks && m_hooks->blockEnding && !m_hooks->blockEnding(m_version)) {
                blockRefused();
                break;
            }
            if (!m_version.isEmpty()) {
                const ov::DataError recording = RecordVersionApplied(m_version, &m_cn);
                if (recording.machineFailure) {
                    machineFailed(recording, QStringLiteral("(the record of Ver:<") + m_version +
                                                 QStringLiteral("> in tblVarible)") + kCrLf);
                    break;
                }
            }
            if (m_versionInTransaction && !commit(m_versionBegun)) {
                if (m_commitError.machineFailure) {
                    machineFailed(m_commitError, QStringLiteral("COMMIT TRANSACTION") + kCrLf, true);
                    break;
                }
                // The record went with the rest of the block.
                logentry::versionRolledBack(m_version);
                versionFailed(m_commitError);
            } else {
                logentry::versionCompleted(m_version, m_versionInTransaction);
            }
            m_version.clear();
            m_versionInTransaction = false;
            m_versionBegun = false;
            FlushUpdateLog();
            break;
        case ScriptLineKind::TransferEnd:
            FlushUpdateLog();
            transferEnd();
            FlushUpdateLog();
            break;
        case ScriptLineKind::StatusText:
            m_status.setCaption(mdlCommon::TrimBlanks(line).mid(7));
            break;
        case ScriptLineKind::ShowErrors:
            m_showErrors = true;
            break;
        case ScriptLineKind::HideErrors:
            m_showErrors = false;
            break;
        case ScriptLineKind::Comment:
            break;
        case ScriptLineKind::BatchEnd:
            sendBatch();
            break;
        case ScriptLineKind::Statement:
            ++m_lineCount;
            if (hasNonBlank(line)) {
                m_pending += line;
                m_pending += kCrLf;
            }
            // Long batches grow in steps of a short pending text rather than
            // line by line.
            if (m_lineCount == 100) {
                m_batch += m_pending;
                m_pending.clear();
            }
            break;
        }
    }

    // The caller's end of a block refused it: the block goes as a failing
    // batch of a transactional block would make it go.
    void blockRefused()
    {
        const ov::DataError error = m_cn.lastError();
        if (error.machineFailure) {
            machineFailed(error,
                          QStringLiteral("(the end of Ver:<") + m_version + QStringLiteral(">)") + kCrLf);
            return;
        }
        if (m_versionBegun)
            m_cn.RollbackTrans();
        logentry::versionRolledBack(m_version);
        versionFailed(error);
        m_version.clear();
        m_versionInTransaction = false;
        m_versionBegun = false;
    }

    bool standAlone() const { return m_hooks && m_hooks->standAloneBatches; }

    bool passOver(const QString& version)
    {
        if (m_hooks && m_hooks->passOver)
            return m_hooks->passOver(version);
        return IsVersionApplied(version, &m_cn);
    }

    void transferEnd()
    {
        if (m_transferInVersion)
            logentry::transferEndedInVersion(m_transfer, m_version);
        else if (commit(m_transferBegun))
            logentry::transferCommitted(m_transfer);
        else if (m_commitError.machineFailure) {
            machineFailed(m_commitError, QStringLiteral("COMMIT TRANSACTION") + kCrLf, true);
            return;
        } else
            logentry::transferRolledBack(m_transfer);
        clearTransfer();
    }

    void clearTransfer()
    {
        m_transfer.clear();
        m_transferInTransaction = false;
        m_transferBegun = false;
        m_transferInVersion = false;
    }

    // Commits at a block's end. A commit that fails on a transaction this run
    // began (the disk is full, the database file has gone) rolls back what is
    // left and answers false, with the commit's error in lastError(), so the
    // block is not called committed and nothing later runs inside a
    // transaction that is still open. A commit without a transaction of this
    // run (its begin failed, or a stray end marker) is passed over as it
    // fails.
    bool commit(bool begun)
    {
        if (m_cn.CommitTrans() || !begun)
            return true;
        const ov::DataError error = m_cn.lastError();
        m_cn.RollbackTrans();
        m_commitError = error;
        return false;
    }

    // The first transactional block rolled back stops every later version
    // block.
    void versionFailed(const ov::DataError& error)
    {
        if (m_failed)
            return;
        m_failed = true;
        m_failedVersion = m_version;
        m_failure = error;
    }

    // A failure of the machine (a full disk or log, an I/O error, a damaged
    // file, a lost connection) is no error of the script: the script's rules
    // for failing batches (a transfer rolls back only itself, a block without
    // a transaction goes on and is recorded) would record a version whose
    // work is lost, and nothing could bring it back. The run stops here
    // instead: what is in a transaction is rolled back, the version block it
    // struck in is not recorded, nothing after it runs, and the log says why
    // whatever the show-errors flag says. what is the statement that met it;
    // rolledBack says that the open transaction has gone already (a failed
    // commit rolls back what is left).
    void machineFailed(const ov::DataError& error, const QString& what, bool rolledBack = false)
    {
        logentry::batchFailed(error.description, what);
        if (m_transferInTransaction) {
            if (m_transferBegun && !rolledBack)
                m_cn.RollbackTrans();
            logentry::transferRolledBack(m_transfer);
        }
        if (!m_version.isEmpty()) {
            if (m_versionBegun) {
                if (!rolledBack)
                    m_cn.RollbackTrans();
                logentry::versionRolledBack(m_version);
            } else {
                logentry::versionStopped(m_version);
            }
        }
        clearTransfer();
        m_versionInTransaction = false;
        m_versionBegun = false;
        // It is the failure the run reports, even after a rolled-back block.
        m_failed = true;
        m_failedVersion = m_version;
        m_failure = error;
        m_stopped = true;
    }

    void sendBatch()
    {
        m_batch += m_pending;
        m_pending.clear();
        if (!m_batch.isEmpty() && !m_cn.Execute(m_batch)) {
            const ov::DataError error = m_cn.lastError();
            if (m_hooks && m_hooks->batchFailed)
                m_hooks->batchFailed(m_version, m_batch, error);
            if (m_showErrors && !error.machineFailure)
                logentry::batchFailed(error.description, m_batch);
            if (error.machineFailure) {
                machineFailed(error, m_batch);
            } else if (m_versionInTransaction) {
                // The whole block goes; it stays unrecorded, so the next run
                // tries it again. A transfer block open in it went with it.
                m_cn.RollbackTrans();
                SkipToVersionEnd(m_file);
                logentry::versionRolledBack(m_version);
                versionFailed(error);
                m_versionInTransaction = false;
                m_versionBegun = false;
                clearTransfer();
            } else if (m_transferInTransaction) {
                m_cn.RollbackTrans();
                SkipToTransferEnd(m_file);
                logentry::transferRolledBack(m_transfer);
                clearTransfer();
            }
        }
        m_pending.clear();
        m_batch.clear();
        m_lineCount = 0;
        // Outside a transaction the batch is stored already; so is the trail
        // of it.
        if (!m_versionBegun && !m_transferBegun)
            FlushUpdateLog();
    }

    // The file has ended. A block still open (its end marker missing) is not
    // complete: its transaction is rolled back here rather than left to the
    // closing connection, and said so in the log.
    void finish()
    {
        if (m_stopped) {
            logentry::runStoppedByMachine(m_failedVersion, m_failure.description);
            return;
        }
        if (m_versionInTransaction && m_versionBegun) {
            m_cn.RollbackTrans();
            logentry::versionRolledBack(m_version);
            ov::DataError missing;
            missing.description = QStringLiteral("the script ends before the block's end marker --</V:");
            versionFailed(missing);
        } else if (m_transferInTransaction && m_transferBegun) {
            m_cn.RollbackTrans();
            logentry::transferRolledBack(m_transfer);
        }
        if (m_failed)
            logentry::runStopped(m_failedVersion, m_failure.description);
    }

    ov::Connection& m_cn;
    ScriptFile& m_file;
    ov::StatusLabel& m_status;
    ov::ProgressBar& m_progress;
    const ScriptRunHooks* m_hooks;

    QString m_version;
    bool m_versionInTransaction = false;
    bool m_versionBegun = false; // the block's transaction was begun
    QString m_transfer;
    bool m_transferInTransaction = false;
    bool m_transferBegun = false;
    bool m_transferInVersion = false; // it runs in the version block's transaction
    bool m_showErrors = false;
    QString m_pending;
    QString m_batch;
    int m_lineCount = 0;
    qint64 m_charactersRead = 0;
    bool m_failed = false;  // a transactional version block was rolled back
    bool m_stopped = false; // a failure of the machine ended the run
    QString m_failedVersion;
    ov::DataError m_failure;
    ov::DataError m_commitError;
};

} // namespace

ScriptLineKind ClassifyScriptLine(const QString& line)
{
    // Every line of a script passes here, so it looks at the line in place
    // instead of making trimmed copies.
    QStringView t(line);
    while (!t.isEmpty() && t.front() == QLatin1Char(' '))
        t = t.mid(1);
    while (!t.isEmpty() && t.back() == QLatin1Char(' '))
        t.chop(1);
    if (t.startsWith(QLatin1String("--"))) {
        const auto marker = [t](const char* m) {
            return t.startsWith(QLatin1String(m), Qt::CaseInsensitive);
        };
        if (marker("--<V:"))
            return ScriptLineKind::VersionStart;
        if (marker("--<VT:"))
            return ScriptLineKind::TransactionalVersionStart;
        if (marker("--<T:"))
            return ScriptLineKind::TransferStart;
        if (marker("--</V:"))
            return ScriptLineKind::VersionEnd;
        if (marker("--</T:"))
            return ScriptLineKind::TransferEnd;
        if (marker("--<REM>"))
            return ScriptLineKind::StatusText;
        if (marker("--<SHOW ERR>"))
            return ScriptLineKind::ShowErrors;
        if (marker("--<HIDE ERR>"))
            return ScriptLineKind::HideErrors;
        return ScriptLineKind::Comment;
    }
    // "GO" alone, with blanks or tabs around it.
    const auto blankOrTab = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    QStringView go(line);
    while (!go.isEmpty() && blankOrTab(go.front()))
        go = go.mid(1);
    while (!go.isEmpty() && blankOrTab(go.back()))
        go.chop(1);
    if (go.compare(QLatin1String("GO"), Qt::CaseInsensitive) == 0)
        return ScriptLineKind::BatchEnd;
    return ScriptLineKind::Statement;
}

QString GetMarkerName(const QString& line)
{
    QString s = line;
    s.replace(QLatin1Char(':'), QLatin1Char('>'));
    const int first = s.indexOf(QLatin1Char('>'));
    if (first < 0)
        return QString();
    const int second = s.indexOf(QLatin1Char('>'), first + 1);
    return second < 0 ? s.mid(first + 1) : s.mid(first + 1, second - first - 1);
}

bool ScriptFile::open(const QString& path)
{
    m_buffer.clear();
    m_pos = 0;
    m_error.clear();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly))
        return false;
    // Neither code page 936 nor UTF-8 text holds a NUL byte. In a file saved
    // as UTF-16 no marker and no GO line would be found, so nothing would be
    // sent and the run would look complete; a NUL inside a statement would
    // cut it short. The whole file is looked at before its first line is
    // handed out.
    for (;;) {
        const QByteArray piece = m_file.read(64 * 1024);
        if (piece.isEmpty()) {
            if (m_file.error() != QFileDevice::NoError)
                return false;
            break;
        }
        if (piece.contains('\0')) {
            m_file.close();
            m_error = QStringLiteral("文件 %1 中有 NUL 字符，不是 ANSI 或 UTF-8 编码的文本"
                                     "（以 Unicode 保存的文件即如此），请另存为 ANSI 或 UTF-8 编码。")
                          .arg(path);
            return false;
        }
    }
    if (!m_file.seek(0))
        return false;
    const QByteArray head = m_file.peek(3);
    m_utf8 = ov::cp936::hasUtf8Bom(head);
    if (m_utf8)
        m_file.skip(3);
    // The runner must not guess: every line is looked at before the first
    // is handed out, and the file is then read again from its start.
    if (!check(path)) {
        m_file.close();
        return false;
    }
    m_buffer.clear();
    m_pos = 0;
    if (!m_file.seek(m_utf8 ? 3 : 0))
        return false;
    return true;
}

bool ScriptFile::fill()
{
    m_buffer = m_file.read(64 * 1024);
    m_pos = 0;
    m_nextLf = -1;
    return !m_buffer.isEmpty();
}

QString ScriptFile::readLine()
{
    return decodeLine(nextLine());
}

void ScriptFile::skipPast(const char* marker)
{
    while (!atEnd()) {
        if (startsWithMarker(afterSpaces(nextLine()), marker))
            return;
    }
}

QString ScriptFile::decodeLine(QByteArrayView bytes) const
{
    if (m_utf8)
        return QString::fromUtf8(bytes);
    // Most lines of a script are plain ASCII, which needs no conversion.
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return ov::cp936::decode(bytes.toByteArray());
    }
    return QString::fromLatin1(bytes);
}

QByteArrayView ScriptFile::nextLine()
{
    // Most lines lie inside one piece of the file and are handed out in
    // place; only a line that spans two pieces is copied together.
    m_carry.clear();
    bool carried = false;
    for (;;) {
        if (m_pos >= m_buffer.size() && !fill())
            break;
        const char* const data = m_buffer.constData();
        const char* const begin = data + m_pos;
        const char* const end = data + m_buffer.size();
        // The line ends at its first CR or LF; memchr scans a word at a time.
        // Where the next LF is stays known until it is passed, so that a
        // file of lines that end in CR alone is not scanned to the end of
        // the piece for every line.
        if (m_nextLf < m_pos) {
            const void* lf = std::memchr(begin, '\n', size_t(end - begin));
            m_nextLf = lf ? static_cast<const char*>(lf) - data : m_buffer.size();
        }
        const char* const limit = data + m_nextLf;
        const char* const cr = static_cast<const char*>(std::memchr(begin, '\r', size_t(limit - begin)));
        const char* const p = cr ? cr : limit;
        if (p == end) {
            m_carry.append(begin, p - begin);
            carried = true;
            m_pos = m_buffer.size();
            continue;
        }
        m_pos = (p - data) + 1;
        if (*p == '\r' && m_pos >= m_buffer.size()) {
            // CR LF is one line end, even when the LF opens the next piece,
            // which replaces the buffer the line is in.
            m_carry.append(begin, p - begin);
            if (fill() && m_buffer.at(0) == '\n')
                m_pos = 1;
            return m_carry;
        }
        if (*p == '\r' && m_buffer.at(m_pos) == '\n')
            ++m_pos;
        if (!carried)
            return QByteArrayView(begin, p - begin);
        m_carry.append(begin, p - begin);
        break;
    }
    return m_carry;
}

bool ScriptFile::check(const QString& path)
{
    // Where a block that has not ended yet began.
    struct OpenBlock
    {
        int line = 0;
        QString name;
    };
    OpenBlock version;
    OpenBlock transfer;
    const auto refuse = [&](int line, const QString& kind, const QString& name, const OpenBlock& open,
                            const QString& openKind, const char* end) {
        m_error =
            QStringLiteral("脚本文件 %1 第 %2 行开始了%3 %4，而第 %5 行开始的%6 %7 还没有结束（缺少 %8 行）。"
                           "块不能套在没有结束的块中，无法确定脚本的本意，未执行任何语句。")
                .arg(path, QString::number(line), kind, name, QString::number(open.line), openKind, open.name,
                     QLatin1String(end));
        return false;
    };
    const QString versionKind = QStringLiteral("版本块");
    const QString transferKind = QStringLiteral("传输块");
    int number = 0;
    while (!atEnd()) {
        const QByteArrayView bytes = nextLine();
        ++number;
        if (!ov::cp936::isValid(bytes, m_utf8)) {
            m_error =
                (m_utf8 ? QStringLiteral("文件 %1 以 UTF-8 的 BOM 开头，但第 %2 行有不是 UTF-8 编码的字节，")
                        : QStringLiteral("文件 %1 第 %2 行有不是 GBK（代码页 936）编码的字节，")) +
                QStringLiteral("无法确定该行的内容，未读取此文件。请将文件另存为 ANSI（GBK）编码，"
                               "或带 BOM 的 UTF-8 编码。");
            m_error = m_error.arg(path, QString::number(number));
            return false;
        }
        // Only the lines of markers ("--<") matter here.
        if (!startsWithMarker(afterSpaces(bytes), "--<"))
            continue;
        const QString line = decodeLine(bytes);
        switch (ClassifyScriptLine(line)) {
        case ScriptLineKind::VersionStart:
        case ScriptLineKind::TransactionalVersionStart:
            if (version.line)
                return refuse(number, versionKind, GetMarkerName(line), version, versionKind, "--</V:");
            if (transfer.line)
                return refuse(number, versionKind, GetMarkerName(line), transfer, transferKind, "--</T:");
            version = {number, GetMarkerName(line)};
            break;
        case ScriptLineKind::TransferStart:
            if (transfer.line)
                return refuse(number, transferKind, GetMarkerName(line), transfer, transferKind, "--</T:");
            transfer = {number, GetMarkerName(line)};
            break;
        case ScriptLineKind::VersionEnd:
            // The runner ends a transfer block still open with its version
            // block.
            version = OpenBlock();
            transfer = OpenBlock();
            break;
        case ScriptLineKind::TransferEnd:
            transfer = OpenBlock();
            break;
        default:
            break;
        }
    }
    return true;
}

void SkipToVersionEnd(ScriptFile& file)
{
    file.skipPast("--</V:");
}

void SkipToTransferEnd(ScriptFile& file)
{
    file.skipPast("--</T:");
}

bool RunUpdateScript(const QString& server, const QString& database, bool integratedLogin,
                     const QString& user, const QString& password, const QString& scriptPath,
                     ov::StatusLabel& lblStatus, ov::ProgressBar& prgProgress)
{
    return RunUpdateScript(server, database, integratedLogin, user, password, scriptPath, lblStatus,
                           prgProgress, UpdateRunSteps());
}

bool RunUpdateScript(const QString& server, const QString& database, bool integratedLogin,
                     const QString& user, const QString& password, const QString& scriptPath,
                     ov::StatusLabel& lblStatus, ov::ProgressBar& prgProgress, const UpdateRunSteps& steps)
{
    return RunUpdateScript(ov::Server({server, database, integratedLogin, user, password}), database,
                           scriptPath, lblStatus, prgProgress, steps);
}

bool RunUpdateScript(const ov::Server& server, const QString& database, const QString& scriptPath,
                     ov::StatusLabel& lblStatus, ov::ProgressBar& prgProgress, const UpdateRunSteps& steps)
{
    if (scriptPath.trimmed().isEmpty() || !QFileInfo(scriptPath).isFile()) {
        ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("文件 {1} 不存在！"), {scriptPath}),
                   ov::MsgStyle::Information);
        return false;
    }
    // A script that cannot be read as it stands is refused before the
    // database is touched.
    ScriptFile file;
    if (!file.open(scriptPath)) {
        ov::MsgBox(file.errorString(), ov::MsgStyle::Information);
        lblStatus.setCaption(QStringLiteral("错误"));
        return false;
    }
    ov::OneWaitPerServer oneWait;
    std::unique_ptr<ov::Connection> cn = mdlOVSqlServer::ConnectToDatabase(server, database);
    if (!cn) {
        ov::MsgBox(mdlCommon::GetErrorText(true), ov::MsgStyle::Information);
        return false;
    }
    // The database is this run's until it ends: another update, creation or
    // restore of it is refused meanwhile.
    ov::DataError lockError;
    const auto lock = mdlOVSqlServer::LockDatabaseForTask(server, database, lockError);
    if (!lock) {
        if (steps.lockRefused)
            steps.lockRefused(lockError);
        ov::MsgBox(lockError.description, ov::MsgStyle::Exclamation);
        return false;
    }
    if (steps.prepare && !steps.prepare(*cn))
        return false;
    logentry::header(server.settings().server, database, scriptPath);

    prgProgress.setValue(0);
    prgProgress.setMaximum(clampInt(file.size()));

    ScriptRun run(*cn, file, lblStatus, prgProgress, &steps.hooks);
    const bool complete = run.run();

    prgProgress.setValue(0);
    file.close();
    const bool finished = complete && (!steps.finish || steps.finish(*cn));
    cn->Close();
    if (!complete && run.failure().machineFailure) {
        ov::MsgBox(machineFailureMessage(run.failedVersion(), run.failure().description),
                   ov::MsgStyle::Exclamation);
        return false;
    }
    if (!complete) {
        ov::MsgBox(mdlCommon::FormatTemplate(
                       QStringLiteral("版本 {1} 的升级未能完成，该版本的修改已全部撤销，其后的版本均未执行。"
                                      "{CRLF}{CRLF}错误描述:{2}{CRLF}{CRLF}详细记录见日志文件 {3}"
                                      "{CRLF}排除原因后请重新运行，将从版本 {1} 继续。"),
                       {run.failedVersion(), run.failure().description, UpdateLogPath()}),
                   ov::MsgStyle::Exclamation);
        return false;
    }
    return finished;
}

bool RunScriptOnConnection(ov::Connection& cn, ScriptFile& file, const ScriptRunHooks& hooks,
                           ov::StatusLabel& lblStatus, ov::ProgressBar& prgProgress, QString* failedVersion,
                           ov::DataError* failure)
{
    ScriptRun run(cn, file, lblStatus, prgProgress, &hooks);
    const bool complete = run.run();
    if (failedVersion)
        *failedVersion = run.failedVersion();
    if (failure)
        *failure = run.failure();
    return complete;
}

bool TranscribeUpdateScript(const QString& server, const QString& database, bool integratedLogin,
                            const QString& user, const QString& password, const QString& scriptPath,
                            ov::StatementTranscript& transcript)
{
    return TranscribeUpdateScript(server, database, integratedLogin, user, password, scriptPath, transcript,
                                  UpdateRunSteps());
}

bool TranscribeUpdateScript(const QString& server, const QString& database, bool integratedLogin,
                            const QString& user, const QString& password, const QString& scriptPath,
                            ov::StatementTranscript& transcript, const UpdateRunSteps& steps)
{
    if (scriptPath.trimmed().isEmpty() || !QFileInfo(scriptPath).isFile()) {
        ov::MsgBox(mdlCommon::FormatTemplate(QStringLiteral("文件 {1} 不存在！"), {scriptPath}),
                   ov::MsgStyle::Information);
        return false;
    }
    // The very runner of a real run, on a connection that writes down what
    // it would change instead of changing it; every batch then succeeds, as
    // the run that the transcript shows.
    ov::Server recording({server, database, integratedLogin, user, password});
    recording.record(transcript);
    std::unique_ptr<ov::Connection> cn = mdlOVSqlServer::ConnectToDatabase(recording, database);
    if (!cn) {
        ov::MsgBox(mdlCommon::GetErrorText(true), ov::MsgStyle::Information);
        return false;
    }
    ScriptFile file;
    if (!file.open(scriptPath)) {
        ov::MsgBox(file.errorString(), ov::MsgStyle::Information);
        return false;
    }
    const UpdateLogPause noLog;
    // The recording handle has made the connection write down what it would
    // change instead of changing it.
    if (steps.prepare && !steps.prepare(*cn))
        return false;
    ov::PlainStatusLabel status;
    ov::PlainProgressBar progress;
    ScriptRun run(*cn, file, status, progress, &steps.hooks);
    if (run.run() && steps.finish)
        steps.finish(*cn);
    file.close();
    cn->Close();
    return true;
}

bool PlanUpdateScript(const QString& scriptPath, ov::Connection* cn, QList<VersionBlockPlan>& plan)
{
    plan.clear();
    ScriptFile file;
    if (!file.open(scriptPath))
        return false;
    while (!file.atEnd()) {
        const QString line = file.readLine();
        const ScriptLineKind kind = ClassifyScriptLine(line);
        if (kind != ScriptLineKind::VersionStart && kind != ScriptLineKind::TransactionalVersionStart)
            continue;
        VersionBlockPlan block;
        block.name = GetMarkerName(line);
        block.transactional = kind == ScriptLineKind::TransactionalVersionStart;
        block.passOver = IsVersionApplied(block.name, cn);
        plan.append(block);
        SkipToVersionEnd(file);
    }
    return true;
}

} // namespace mdlOVSqlUpdateDB
