#pragma once

#include <QString>

// The helpers of mdlCommon that need widgets.
namespace mdlCommon {

// Shows the open (save = false) or save (save = true) file dialog in front of
// the active window and returns the chosen full path, or "" when the user
// cancels. defaultPathFile presets the folder and name; initialFolder (or the
// user folder when empty) is where the dialog starts; filter is
// "description|pattern|description|pattern…". x and y are not used: the
// dialog centres on the active window. The open dialog accepts only an
// existing file; the save dialog asks before overwriting one.
QString ShowFileDialog(bool save, const QString& defaultPathFile, const QString& filter, int x, int y,
                       const QString& initialFolder, const QString& title);

// Turns a filter "description|pattern|…" into Qt's "description (pattern);;…".
QString ToQtFilter(const QString& filter);

// Gives the focus to each visible top-level window in the order they were
// made, so the last visible window ends up active after a dialog.
void ActivateVisibleForms();

} // namespace mdlCommon
