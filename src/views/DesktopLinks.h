#pragma once

#include <QObject>
#include <QString>

#include <functional>

// Where the window hands the user over to the desktop.
namespace DesktopLinks {

// Shows the file selected in the file manager, or opens its folder where no file manager answers
// on the session bus. Never waits for the desktop: `notOpened` runs later on the main thread,
// unless `context` has gone, when neither could be done.
void revealFile(const QString &path, QObject *context, std::function<void()> notOpened);

// What the window says when the folder of `path` could not be shown.
QString folderNotOpened(const QString &path);

} // namespace DesktopLinks
