#include "data/StatementTranscript.h"

#include "common/FileCommit.h"
#include "common/mdlCommon.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

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

} // namespace

void StatementTranscript::addComment(const QString& text)
{
    for (const QString& line : crLfLines(text).split(kCrLf))
        m_text += (line.isEmpty() ? QStringLiteral("--") : QStringLiteral("-- ") + line) + kCrLf;
}

void StatementTranscript::addBatch(const QString& batch)
{
    m_batches.append(batch);
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
    static const QRegularExpression separator(QStringLiteral("^[ \\t]*GO(?:[ \\t].*)?$"),
                                              QRegularExpression::CaseInsensitiveOption);
    for (const QString& line : batch.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")))) {
        if (separator.match(line).hasMatch())
            return true;
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
    for (const QString& batch : m_batches) {
        if (cutByQueryTool(batch))
            return fail(
                QStringLiteral("A statement holds a line GO, where a query window would end the batch "
                               "and run it otherwise than the tool does; %1 is not written.")
                    .arg(path));
    }
    const QFileInfo target(path);
    if (target.exists() || target.isSymLink())
        return fail(QStringLiteral("%1 exists; the statements are written to a new file only.").arg(path));
    const QString part = newPartFile(target);
    if (part.isEmpty())
        return fail(QStringLiteral("Cannot write in the folder of %1.").arg(path));
    QFile file(part);
    const QByteArray bytes = QByteArray("\xEF\xBB\xBF") + m_text.toUtf8();
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
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
