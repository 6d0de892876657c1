#pragma once

#include <QObject>
#include <QUrl>

#include <chrono>
#include <functional>

// Hands a web address or a local folder to the desktop and learns whether a program took it.
// QDesktopServices::openUrl says yes as soon as xdg-open has started, also when xdg-open then finds
// no browser or file manager; here the answer is xdg-open's own verdict.
namespace DesktopOpener {

// xdg-open tells within this time that it found no program or could not start one. Where it runs
// the program in the foreground, a later failure status is that program's: a browser that
// crashed or quit with an error after the user worked in it had opened.
inline constexpr std::chrono::milliseconds kStartTime{5000};

// Returns at once. `done` runs once on the main thread, unless `context` has gone by then; false
// when xdg-open could not be started or failed within `startTime`. Where xdg-open runs the
// program in the foreground the answer comes when that program ends, and is yes however it ends.
void open(const QUrl &url, QObject *context, std::function<void(bool opened)> done,
          std::chrono::milliseconds startTime = kStartTime);

} // namespace DesktopOpener
