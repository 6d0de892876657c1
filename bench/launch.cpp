// bench_launch VELLUMBOX [LAUNCHES] [PRESSES]: on the X display in $DISPLAY (with a window
// manager), measures how long vellumbox takes from its start to the first painted frame of its
// main window with a library of 500 snips, its resident memory once idle, and the time from
// Control-Shift-Space to the capture overlay on screen. The program announces its first frame
// with one byte on the pipe named in VELLUMBOX_FIRST_FRAME_FD, whatever the window shows.

#include "model/JsonCoding.h"
#include "model/Snip.h"
#include "platform/XcbSupport.h"

#include "BenchSupport.h"
#include "XcbBenchSupport.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSnips = 500;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// 500 snips in 10 collections, their PNGs hard links of one 1920 × 1080 screenshot.
bool makeLibrary(const QString &root) {
    const QString images = root + QStringLiteral("/Images");
    if (!QDir().mkpath(images))
        return false;
    const QString source = root + QStringLiteral("/source.png");
    if (!screenshotImage(1920, 1080, 7).save(source, "PNG"))
        return false;
    SavedLibrary library;
    for (int c = 0; c < 10; ++c) {
        SnipCollection collection;
        collection.title = QStringLiteral("Sammlung %1").arg(c + 1);
        for (int s = 0; s < kSnips / 10; ++s) {
            Snip snip;
            snip.title = QStringLiteral("Schritt %1").arg(s + 1);
            snip.imageFile = uuidText(QUuid::createUuid()) + QStringLiteral(".png");
            if (::link(QFile::encodeName(source).constData(),
                       QFile::encodeName(images + u'/' + snip.imageFile).constData()) != 0)
                return false;
            collection.items.append(snip);
        }
        library.collections.append(collection);
    }
    library.selectedID = library.collections.first().id;
    const std::optional<QByteArray> json = encodeJson(library, JsonStyle::Pretty);
    QFile file(root + QStringLiteral("/library.json"));
    return json && file.open(QIODevice::WriteOnly) && file.write(*json) == json->size();
}

// Waits for the byte the program writes once its main window's first frame is painted: true
// when it came, false when the program closed the pipe without it or the bound passed.
bool firstFrameAnnounced(int pipe) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kBenchPatienceMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd readable{pipe, POLLIN, 0};
        if (::poll(&readable, 1, int(left.count()) + 1) < 0 && errno != EINTR)
            return false;
        char byte = 0;
        const ssize_t got = ::read(pipe, &byte, 1);
        if (got == 1)
            return true;
        if (got == 0 || (errno != EAGAIN && errno != EINTR))
            return false;
    }
}

} // namespace

int main(int argc, char **argv) {
    QGuiApplication app(argc, argv); // for the PNG of the library only
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_launch VELLUMBOX [LAUNCHES] [PRESSES]\n");
        return 2;
    }
    const QByteArray program = argv[1];
    const int launches = argc > 2 ? std::atoi(argv[2]) : 5;
    const int presses = argc > 3 ? std::atoi(argv[3]) : 10;
    QTemporaryDir home;
    if (!home.isValid() || !makeLibrary(home.filePath(QStringLiteral(".local/share/Vellumbox"))) ||
        !QDir(home.path()).mkdir(QStringLiteral("runtime"))) {
        std::fprintf(stderr, "cannot make the library\n");
        return 2;
    }
    QFile(home.filePath(QStringLiteral("runtime")))
        .setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.filePath(QStringLiteral("runtime"))));
    for (const char *key : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        qunsetenv(key);

    const xcb_screen_t *screen = nullptr;
    xcb_connection_t *c = connectWatchingWindows(&screen);
    if (!c)
        return 2;
    const xcb_window_t root = screen->root;

    const char *args[] = {program.constData(), nullptr};
    std::vector<double> launchTimes, overlayTimes;
    double rss = -1;
    for (int launch = 0; launch < launches; ++launch) {
        // Only the program's end of the pipe is inherited.
        int frame[2];
        if (::pipe2(frame, O_CLOEXEC | O_NONBLOCK) != 0 || ::fcntl(frame[1], F_SETFD, 0) != 0)
            return 2;
        qputenv("VELLUMBOX_FIRST_FRAME_FD", QByteArray::number(frame[1]));
        pid_t pid = 0;
        const auto start = Clock::now();
        const int spawned =
            posix_spawn(&pid, program.constData(), nullptr, nullptr, const_cast<char **>(args), environ);
        ::close(frame[1]);
        if (spawned != 0) {
            std::fprintf(stderr, "cannot start %s\n", program.constData());
            return 2;
        }
        const auto abandon = [pid](const char *what) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            giveUp(what);
        };
        const bool announced = firstFrameAnnounced(frame[0]);
        ::close(frame[0]);
        if (!announced) {
            const bool ended = ::waitpid(pid, nullptr, WNOHANG) == pid;
            std::fprintf(stderr, ended ? "vellumbox ended before its first frame\n"
                                       : "vellumbox never announced its first frame\n");
            if (!ended) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
            return 3;
        }
        launchTimes.push_back(msSince(start));

        if (launch == launches - 1) {
            std::this_thread::sleep_for(std::chrono::seconds(3)); // idle: previews and saves settle
            rss = statusMegabytes("VmRSS:", QString::number(pid));
            const uint8_t control = XcbSupport::keycodesFor(c, 0xffe3).value(0);
            const uint8_t shift = XcbSupport::keycodesFor(c, 0xffe1).value(0);
            const uint8_t space = XcbSupport::keycodesFor(c, 0x20).value(0);
            const uint8_t escape = XcbSupport::keycodesFor(c, 0xff1b).value(0);
            for (int press = 0; press < presses; ++press) {
                while (xcb_generic_event_t *stale = xcb_poll_for_event(c))
                    std::free(stale);
                const auto pressed = Clock::now();
                fake(c, root, XCB_KEY_PRESS, control);
                fake(c, root, XCB_KEY_PRESS, shift);
                fake(c, root, XCB_KEY_PRESS, space);
                fake(c, root, XCB_KEY_RELEASE, space);
                fake(c, root, XCB_KEY_RELEASE, shift);
                fake(c, root, XCB_KEY_RELEASE, control);
                xcb_flush(c);
                // The overlay is the one override-redirect window that appears.
                double shown = -1;
                while (shown < 0) {
                    xcb_generic_event_t *event = waitForEvent(c, kBenchPatienceMs);
                    if (!event)
                        abandon("the capture overlay");
                    if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                        reinterpret_cast<xcb_map_notify_event_t *>(event)->override_redirect)
                        shown = msSince(pressed);
                    std::free(event);
                }
                overlayTimes.push_back(shown);
                if (!pollUntil([&] { return keyboardHeldElsewhere(c, root); }, std::chrono::milliseconds(2)))
                    abandon("the overlay to take the keyboard");
                fake(c, root, XCB_KEY_PRESS, escape);
                fake(c, root, XCB_KEY_RELEASE, escape);
                xcb_flush(c);
                if (!pollUntil([&] { return !keyboardHeldElsewhere(c, root); }, std::chrono::milliseconds(2)))
                    abandon("the overlay to give the keyboard back");
                std::this_thread::sleep_for(std::chrono::milliseconds(400)); // the panel comes back
            }
        }
        ::kill(pid, SIGTERM); // quits through the program's own save
        if (!reapChild(pid, kBenchPatienceMs))
            std::fprintf(stderr, "vellumbox did not end on SIGTERM and was killed\n");
    }
    xcb_disconnect(c);

    std::printf("snips: %d\n", kSnips);
    std::printf("launch_ms: %.1f\n", median(launchTimes));
    std::printf("launch_ms_max: %.1f\n", *std::max_element(launchTimes.begin(), launchTimes.end()));
    std::printf("shortcut_to_overlay_ms_median: %.1f\n", median(overlayTimes));
    std::printf("rss_mb_idle: %.1f\n", rss);
    return 0;
}
