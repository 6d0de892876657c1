#pragma once

#include <memory>

// The window of another program that was active before ours. The capture controller gives it
// the focus back before the region capture starts, so the user captures what they were using.
class ForegroundWindow {
public:
    virtual ~ForegroundWindow() = default;
    virtual void reactivatePrevious() = 0;

    // Follows _NET_ACTIVE_WINDOW where a window manager maintains it; elsewhere does nothing.
    static std::shared_ptr<ForegroundWindow> createForDesktop();
};
