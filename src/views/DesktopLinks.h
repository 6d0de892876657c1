#pragma once

#include <QString>

// Where the window hands the user over to the desktop.
namespace DesktopLinks {

// The desktop's settings application found on PATH, or an empty string when none is installed.
QString settingsProgram();
// Starts it detached; false when there is none or it could not be started.
bool openSettings();
// Shows the file selected in the file manager, or opens its folder where no file manager
// answers on the session bus. Never waits for the desktop.
void revealFile(const QString &path);

} // namespace DesktopLinks
