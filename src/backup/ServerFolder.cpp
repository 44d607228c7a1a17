#include "backup/ServerFolder.h"

#include "data/ServerAdmin.h"

#include <QRegularExpression>

namespace ServerFolder {

QChar Separator(Style style)
{
    return style == Style::Windows ? QLatin1Char('\\') : QLatin1Char('/');
}

QStringList Roots(Style style)
{
    if (style == Style::Posix)
        return {QStringLiteral("/")};
    return {QStringLiteral("C:\\"), QStringLiteral("D:\\"), QStringLiteral("E:\\"),
            QStringLiteral("F:\\"), QStringLiteral("G:\\"), QStringLiteral("H:\\")};
}

QString DefaultRoot(Style style)
{
    return Roots(style).first();
}

QString DefaultFolder(const QString& server, Style style)
{
    // The embedded server's root would be the machine's "/": its own folder
    // is where its files belong.
    const QString folder = ov::ServerAdmin::localFolder(server);
    if (!folder.isEmpty())
        return folder.endsWith(Separator(style)) ? folder : folder + Separator(style);
    return DefaultRoot(style);
}

bool IsRooted(const QString& path, Style style)
{
    if (style == Style::Posix)
        return path.startsWith(QLatin1Char('/'));
    return path.size() >= 2 && path.at(1) == QLatin1Char(':');
}

Qt::CaseSensitivity NameCase(Style style)
{
    return style == Style::Windows ? Qt::CaseInsensitive : Qt::CaseSensitive;
}

QString GetCurrentFolder(const QString& current, const QString& headerMust, Style style)
{
    QString folder = current;
    if (!folder.endsWith(Separator(style)))
        folder += Separator(style);
    if (!IsRooted(folder, style))
        folder.clear();
    if (folder.isEmpty())
        folder = headerMust;
    if (folder.isEmpty())
        folder = DefaultRoot(style);
    return folder;
}

QString ResolveParentFolder(const QString& path, Style style)
{
    const QChar sep = Separator(style);
    const QString tail = QString(sep) + QStringLiteral("..") + sep;
    if (!path.endsWith(tail))
        return path;
    const QStringList parts = path.split(sep);
    QString out;
    for (int i = 0; i < parts.size() - 3; ++i)
        out += parts.at(i) + sep;
    // The ".." stood right after the drive (or the root): stay there.
    if (out.isEmpty())
        out = parts.first() + sep;
    return out;
}

QString SetCurrentFolder(const QString& path, const QString& current, const QString& headerMust, Style style)
{
    QString folder = path.isEmpty() ? headerMust : path;
    if (!IsRooted(folder, style))
        folder = GetCurrentFolder(current, headerMust, style);
    if (!folder.endsWith(Separator(style)))
        folder += Separator(style);
    folder = ResolveParentFolder(folder, style);
    if (!headerMust.isEmpty() && !folder.startsWith(headerMust))
        folder = GetCurrentFolder(current, headerMust, style);
    return folder;
}

bool IsEngineFile(const QString& name)
{
    static const QRegularExpression own(
        QRegularExpression::anchoredPattern(
            QStringLiteral("\\..+(-task|-use|\\.[A-Za-z0-9]{6}\\.part(-journal|-wal|-shm)?)")),
        QRegularExpression::DotMatchesEverythingOption);
    return own.match(name).hasMatch();
}

Style GuessStyle(const QString& server, const QString& samplePath)
{
    if (samplePath.contains(QLatin1Char('\\')) || IsRooted(samplePath, Style::Windows))
        return Style::Windows;
    if (samplePath.startsWith(QLatin1Char('/')))
        return Style::Posix;
    return ov::ServerAdmin::likelyPathStyle(server);
}

} // namespace ServerFolder
