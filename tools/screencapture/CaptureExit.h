#pragma once

// Exit statuses of vellumbox-screencapture, as the capture controller reads them.
namespace CaptureExit {
constexpr int Captured = 0;        // the region is at the output path
constexpr int NothingCaptured = 1; // Esc, right click, empty selection or two idle minutes
constexpr int Failed = 2;          // bad arguments, no display, no grab, write error or SIGTERM
constexpr int Refused = 3;         // the desktop's screenshot portal refused the still
} // namespace CaptureExit
