#pragma once

#include <QString>

namespace mdlWindowsFunctions {

// Makes sure that every folder of an absolute path exists, creating the
// missing ones from the root down. Returns false, doing nothing, for a path
// that is not absolute; false when a folder cannot be made or something that
// is not a folder stands in the way (folders made before the failure stay).
// Windows: a drive path "X:\…" (backslashes); relative and network ("\\…")
// paths are refused. POSIX: a path "/…"; relative paths and a network-style
// start "//" are refused. A missing trailing separator is supplied.
bool MakePath(const QString& path);

} // namespace mdlWindowsFunctions
