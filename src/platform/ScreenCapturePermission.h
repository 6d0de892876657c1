#pragma once

#include <memory>

// Whether this program may take screenshots. An X server lets every client read the screen;
// under Wayland the desktop's portal decides at each capture, and its refusal reaches the
// capture controller as the tool's exit status instead.
class ScreenCapturePermission {
public:
    virtual ~ScreenCapturePermission() = default;
    virtual bool preflight() = 0; // granted already, without asking
    virtual bool request() = 0;   // asks where the desktop can; true when granted

    static std::shared_ptr<ScreenCapturePermission> createForDesktop();
};
