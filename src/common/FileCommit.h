#pragma once

#include <QFileInfo>
#include <QString>

// Writing a file whole before it takes its name: a part file beside the
// target, flushed to the disk, then renamed into place in one step, so that
// a crash at any moment leaves the old state or the new one.
namespace ov {

// Flushes a file's content to the disk.
bool syncFile(const QString& path);
// A new, empty file beside target that no other run uses, for a file that is
// written whole before it takes target's name; empty on failure. This process
// holds it (a lock the system ends with the process) until it takes its name
// or is discarded, so that removeDeadPartFiles leaves it alone meanwhile.
QString newPartFile(const QFileInfo& target);
// Removes a part file, with the journal files SQLite may have made beside
// it, and ends this process's hold on it.
void discardPartFile(const QString& part);
// Removes the part files (".NAME.XXXXXX.part") of folder that no live
// process holds: those of runs that were killed or crashed.
void removeDeadPartFiles(const QString& folder);
// Gives part the name target when no entry has that name (a file, a folder
// or a link, also one to nothing), decided by the file system in one step.
// Once renamed, the part file is no longer held.
bool renameIfFree(const QString& part, const QString& target);
// Gives part the name target. Without replace an existing target stays and
// the rename fails; with it target is replaced in one step.
bool renameOver(const QString& part, const QString& target, bool replace);

} // namespace ov
