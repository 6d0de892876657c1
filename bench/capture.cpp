// bench_capture TOOL [RUNS]: on the X display in $DISPLAY, starts vellumbox-screencapture RUNS
// times and measures, from outside, the time from its start to its overlay being mapped, and
// the time from the mouse release ending a drag to the PNG being in place.

#include "XcbBenchSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_capture TOOL [RUNS]\n");
        return 2;
    }
    const std::string tool = argv[1];
    const int runs = argc > 2 ? std::atoi(argv[2]) : 20;
    const xcb_screen_t *screen = nullptr;
    xcb_connection_t *c = connectWatchingWindows(&screen);
    if (!c) {
        std::fprintf(stderr, "no X display\n");
        return 2;
    }
    const xcb_window_t root = screen->root;

    char directory[] = "/tmp/bench-capture-XXXXXX";
    if (!mkdtemp(directory))
        return 2;
    const std::string output = std::string(directory) + "/capture.png";
    // A 1920 × 1080 region of the 3840 × 2160 screen.
    const int16_t left = 600, top = 400, right = 2520, bottom = 1480;

    std::vector<double> overlay, write;
    for (int run = 0; run < runs; ++run) {
        while (xcb_generic_event_t *stale = xcb_poll_for_event(c))
            std::free(stale);
        fake(c, root, XCB_MOTION_NOTIFY, 0, left, top);
        xcb_flush(c);

        const char *args[] = {tool.c_str(), "-i", "-x", "-t", "png", output.c_str(), nullptr};
        pid_t pid = 0;
        const auto start = Clock::now();
        if (posix_spawn(&pid, tool.c_str(), nullptr, nullptr, const_cast<char **>(args), environ) != 0) {
            std::fprintf(stderr, "cannot start %s\n", tool.c_str());
            return 2;
        }
        const auto abandon = [pid](const char *what) {
            ::kill(pid, SIGKILL);
            giveUp(what);
        };
        double mapped = -1;
        while (mapped < 0) {
            xcb_generic_event_t *event = waitForEvent(c, kBenchPatienceMs);
            if (!event)
                abandon("the overlay to appear");
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY)
                mapped = msSince(start);
            std::free(event);
        }
        overlay.push_back(mapped);

        if (!pollUntil([&] { return keyboardHeldElsewhere(c, root); }, std::chrono::milliseconds(2)))
            abandon("the overlay to take the keyboard");
        fake(c, root, XCB_BUTTON_PRESS, 1);
        fake(c, root, XCB_MOTION_NOTIFY, 0, (left + right) / 2, (top + bottom) / 2);
        fake(c, root, XCB_MOTION_NOTIFY, 0, right, bottom);
        xcb_flush(c);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto release = Clock::now();
        fake(c, root, XCB_BUTTON_RELEASE, 1);
        xcb_flush(c);
        struct stat info = {};
        int status = 0;
        bool ended = false;
        const bool written = pollUntil(
            [&] {
                ended = waitpid(pid, &status, WNOHANG) == pid;
                return stat(output.c_str(), &info) == 0 || ended;
            },
            std::chrono::microseconds(500));
        if (!written)
            abandon("the PNG");
        if (ended && stat(output.c_str(), &info) != 0) {
            std::fprintf(stderr, "the tool ended without a file (status %d)\n", status);
            return 2;
        }
        write.push_back(msSince(release));
        if (!ended && !reapChild(pid, kBenchPatienceMs))
            giveUp("the tool to end");
        unlink(output.c_str());
    }
    rmdir(directory);
    xcb_disconnect(c);

    std::printf("runs: %d\n", runs);
    std::printf("overlay_ms_median: %.1f\n", median(overlay));
    std::printf("overlay_ms_max: %.1f\n", *std::max_element(overlay.begin(), overlay.end()));
    std::printf("write_ms_median: %.1f\n", median(write));
    std::printf("write_ms_max: %.1f\n", *std::max_element(write.begin(), write.end()));
    return 0;
}
