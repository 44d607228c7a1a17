#include "data/StatementTranscript.h"

#include "common/FileCommit.h"
#include "common/mdlCommon.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    QString t = crLfLines(batch);
    while (t.endsWith(kCrLf))
        t.chop(2);
    // A batch that ended in a comment line would swallow the GO behind it
    // only if they shared a line; the GO always stands on its own.
    m_text += t + kCrLf + QStringLiteral("GO") + kCrLf;
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
        return fail(QStringLiteral("%1 exists; the statements are written to a new file only.").arg(path));
    }
    mdlCommon::SyncFolder(target.absolutePath());
    return true;
}

} // namespace ov
