#pragma once

// For benchmarks that drive an X display from outside through XTEST.

#include "Patience.h"

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <cstdlib>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

// Whether another client holds the keyboard (an overlay grabs it while it is on screen).
inline bool keyboardHeldElsewhere(xcb_connection_t *c, xcb_window_t root) {
    auto *reply = xcb_grab_keyboard_reply(
        c, xcb_grab_keyboard(c, false, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
        nullptr);
    const int status = reply ? reply->status : -1;
    std::free(reply);
    if (status == XCB_GRAB_STATUS_SUCCESS) {
        xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
        xcb_flush(c);
    }
    return status == XCB_GRAB_STATUS_ALREADY_GRABBED;
}

// One key or button event, or a pointer motion to (x, y) on the root window.
inline void fake(xcb_connection_t *c, xcb_window_t root, uint8_t type, uint8_t detail, int16_t x = 0,
                 int16_t y = 0) {
    xcb_test_fake_input(c, type, detail, XCB_CURRENT_TIME, type == XCB_MOTION_NOTIFY ? root : XCB_NONE, x, y,
                        0);
}

// A connection to $DISPLAY that hears of every window mapped on the first screen; null when
// there is no display.
inline xcb_connection_t *connectWatchingWindows(const xcb_screen_t **screen) {
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return nullptr;
    }
    *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, (*screen)->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
    return c;
}

// The next event from the server, or null once `timeoutMs` have passed or the connection broke.
inline xcb_generic_event_t *waitForEvent(xcb_connection_t *c, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (xcb_generic_event_t *event = xcb_poll_for_event(c))
            return event;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (xcb_connection_has_error(c) || left.count() <= 0)
            return nullptr;
        pollfd readable{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&readable, 1, int(left.count()) + 1);
    }
}

// Waits for the child `pid` to end; past `timeoutMs` it is killed. False when it had to be.
inline bool reapChild(pid_t pid, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return false;
        }
        ::poll(nullptr, 0, 5);
    }
    return true;
}
