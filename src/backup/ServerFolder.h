#pragma once

#include "common/mdlCommon.h"

#include <QString>
#include <QStringList>

// The rules by which the server folder browser moves between folders of the
// server, for both ways a server writes paths. Windows style: drive paths
// ("D:\bak\"), the roots "C:\" to "H:\", names compared without case. POSIX
// style: absolute paths ("/var/opt/mssql/"), the one root "/", names compared
// with case. A folder always ends with the style's separator.
namespace ServerFolder {

using Style = mdlCommon::PathStyle;

QChar Separator(Style style);
// The roots the browser offers in its folder list.
QStringList Roots(Style style);
// The folder the browser falls back to: "C:\" or "/".
QString DefaultRoot(Style style);
// Where a file named without a folder goes on server: the folder of an
// embedded server (with its separator), the default root otherwise.
QString DefaultFolder(const QString& server, Style style);
// A path the browser can list: a drive path ("X:…") or an absolute POSIX path.
bool IsRooted(const QString& path, Style style);
Qt::CaseSensitivity NameCase(Style style);

// current with a trailing separator when it is a rooted path; otherwise
// headerMust, or the default root when that is empty too.
QString GetCurrentFolder(const QString& current, const QString& headerMust, Style style);
// Resolves one trailing "..": "D:\bak\..\" is "D:\", "D:\..\" stays "D:\"
// ("/a/b/../" is "/a/", "/../" is "/"). Any other path comes back unchanged.
QString ResolveParentFolder(const QString& path, Style style);
// The folder that the browser goes to when asked for path: a path that is not
// rooted keeps it where it is (current); the result ends with the separator,
// has its trailing ".." resolved and begins with headerMust when that is set.
QString SetCurrentFolder(const QString& path, const QString& current, const QString& headerMust, Style style);

// True for a file the embedded engine keeps beside its databases for its own
// use, which the browser does not offer: the hidden task and use locks
// (".NAME.sqlite-task", ".NAME.sqlite-use") and the hidden part files of
// unfinished writes with their journals (".NAME.XXXXXX.part", "…-journal").
bool IsEngineFile(const QString& name);

// How the paths of a server are written when no connection can be asked: a
// path that begins with "/" and holds no backslash is POSIX, one holding a
// backslash or a drive is Windows; otherwise the embedded engine is POSIX and
// SQL Server Windows.
Style GuessStyle(const QString& server, const QString& samplePath = QString());

} // namespace ServerFolder
