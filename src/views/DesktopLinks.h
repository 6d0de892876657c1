#pragma once

#include <QString>

// Where the window hands the user over to the desktop.
namespace DesktopLinks {

// Shows the file selected in the file manager, or opens its folder where no file manager
// answers on the session bus. Never waits for the desktop.
void revealFile(const QString &path);

} // namespace DesktopLinks
