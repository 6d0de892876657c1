#pragma once

#include <QObject>
#include <QUrl>

#include <functional>

// Hands a web address or a local folder to the desktop and learns whether a program took it.
// QDesktopServices::openUrl says yes as soon as xdg-open has started, also when xdg-open then finds
// no browser or file manager; here the answer is xdg-open's own verdict.
namespace DesktopOpener {

// Returns at once. `done` runs once on the main thread, unless `context` has gone by then; false
// when no program could be found or started for the address. Where xdg-open runs the program in
// the foreground the answer waits until that program ends; only a failure is news by then.
void open(const QUrl &url, QObject *context, std::function<void(bool opened)> done);

} // namespace DesktopOpener
