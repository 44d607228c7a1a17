#include "data/StatementTranscript.h"

#include "common/FileCommit.h"
#include "common/mdlCommon.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace ov {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// Line ends of a text as CR LF, whatever they were.
QString crLfLines(const QString& text)
{
    QString t = text;
    t.replace(kCrLf, QStringLiteral("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    t.replace(QLatin1Char('\n'), kCrLf);
    return t;
}

// The part file is made for its owner alone; the transcript gets the
// permissions of any new file (the process's umask), so that the person who
// reviews it can read it.
bool readableAsNew(QFile& file)
{
#ifdef Q_OS_UNIX
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return ::fchmod(file.handle(), 0666 & ~mask) == 0;
#else
    Q_UNUSED(file);
    return true;
#endif
}

} // namespace

void StatementTranscript::addComment(const QString& text)
{
    for (const QString& line : crLfLines(text).split(kCrLf))
        m_text += (line.isEmpty() ? QStringLiteral("--") : QStringLiteral("-- ") + line) + kCrLf;
}

void StatementTranscript::addBatch(const QString& batch)
{
    m_cut = m_cut || cutByQueryTool(batch);
    // The batch as sent; only the line ends at its end give way to the one
    // before GO. Line ends inside it stay as they are, so that a name or a
    // literal keeps its exact characters.
    QString t = batch;
    while (t.endsWith(QLatin1Char('\n')) || t.endsWith(QLatin1Char('\r')))
        t.chop(1);
    m_text += t + kCrLf + QStringLiteral("GO") + kCrLf;
}

bool StatementTranscript::cutByQueryTool(const QString& batch)
{
    // sqlcmd and the query windows end a batch at a line whose first word
    // is GO, with an optional count ("GO 5" runs it five times) or a
    // comment after it; any of \r\n, \r and \n ends a line there.
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    const auto lineEnd = [](QChar c) { return c == QLatin1Char('\r') || c == QLatin1Char('\n'); };
    const qsizetype n = batch.size();
    for (qsizetype start = 0; start < n;) {
        qsizetype end = start;
        while (end < n && !lineEnd(batch.at(end)))
            ++end;
        qsizetype i = start;
        while (i < end && blank(batch.at(i)))
            ++i;
        if (end - i >= 2 && batch.at(i).toUpper() == QLatin1Char('G') &&
            batch.at(i + 1).toUpper() == QLatin1Char('O') && (i + 2 == end || blank(batch.at(i + 2))))
            return true;
        start = end + 1;
    }
    return false;
}

QString StatementTranscript::text() const
{
    return m_text;
}

bool StatementTranscript::writeNew(const QString& path, QString* error) const
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (m_cut)
        return fail(QStringLiteral("A statement holds a line GO, where a query window would end the batch "
                                   "and run it otherwise than the tool does; %1 is not written.")
                        .arg(path));
    const QFileInfo target(path);
    if (target.exists() || target.isSymLink())
        return fail(QStringLiteral("%1 exists; the statements are written to a new file only.").arg(path));
    const QString part = newPartFile(target);
    if (part.isEmpty())
        return fail(QStringLiteral("Cannot write in the folder of %1.").arg(path));
    QFile file(part);
    const QByteArray bytes = QByteArray("\xEF\xBB\xBF") + m_text.toUtf8();
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate) && readableAsNew(file) &&
                         file.write(bytes) == bytes.size() && file.flush();
    file.close();
    if (!written || !syncFile(part)) {
        QFile::remove(part);
        return fail(QStringLiteral("Cannot write %1 (the disk may be full).").arg(path));
    }
    if (!renameIfFree(part, target.absoluteFilePath())) {
        QFile::remove(part);
        // Another run may have made the file meanwhile; it stays as it is.
        if (QFileInfo(path).exists() || QFileInfo(path).isSymLink())
            return fail(
                QStringLiteral("%1 exists; the statements are written to a new file only.").arg(path));
        return fail(QStringLiteral("Cannot write %1.").arg(path));
    }
    mdlCommon::SyncFolder(target.absolutePath());
    return true;
}

} // namespace ov
