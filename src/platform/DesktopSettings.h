#pragma once

#include <QString>

// The desktop's own settings program, where the user allows screenshots. Desktops name it
// differently and some have none; without one the caller offers no button.
namespace DesktopSettings {

// The program's path; empty when none is installed.
QString program();
// Starts it detached; false when there is none or it would not start.
bool open();

} // namespace DesktopSettings
