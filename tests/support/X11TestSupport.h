#pragma once

// Helpers for window tests that drive a real X server (Xvfb) from outside: input through
// xdotool, a look at the server's grab state, a known picture on screen and a fake portal.

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRasterWindow>
#include <QScreen>
#include <QTemporaryFile>
#include <QTest>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace X11TestSupport {

// Generous: CI machines are small and busy.
constexpr int kPatienceMs = 60'000;

// One xdotool command line, its words separated by single spaces.
inline bool xdotool(const QString &command) {
    QProcess process;
    process.start("xdotool", command.split(' '));
    return process.waitForFinished(kPatienceMs) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// A client of our own.
struct Connection {
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;

    Connection() = default;
    Q_DISABLE_COPY(Connection)
    ~Connection() { xcb_disconnect(c); }

    uint8_t grabKeyboard() {
        auto *reply = xcb_grab_keyboard_reply(
            c, xcb_grab_keyboard(c, false, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
            nullptr);
        const uint8_t status = reply ? reply->status : uint8_t(XCB_GRAB_STATUS_NOT_VIEWABLE);
        std::free(reply);
        return status;
    }
};

// Waits until another client holds the keyboard; false if the process ends first.
inline bool waitForForeignGrab(const QProcess &process) {
    Connection x;
    const auto heldOrEnded = [&] {
        const bool held = x.grabKeyboard() == XCB_GRAB_STATUS_ALREADY_GRABBED;
        xcb_ungrab_keyboard(x.c, XCB_CURRENT_TIME);
        xcb_flush(x.c);
        return held || process.state() == QProcess::NotRunning;
    };
    return QTest::qWaitFor(heldOrEnded, kPatienceMs) && process.state() == QProcess::Running;
}

// Every position up to 4096 × 4096 has its own colour.
inline QImage patternImage(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb(x & 255, y & 255, ((x >> 8) << 4 | y >> 8) & 255));
    return image;
}

// Covers the whole screen with the pattern, outside any window manager's care.
class PatternWindow : public QRasterWindow {
public:
    QImage image;

    // Shows the window and waits until the server really has the pattern on screen.
    bool showAndSettle() {
        setFlags(Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint);
        setGeometry(screen()->geometry());
        image = patternImage(size());
        show();
        return settled();
    }

    // Waits until the whole screen shows the pattern again: after an overlay closes, the server
    // has the window repaint, and a still taken before that would hold the overlay's leftovers.
    bool settled() {
        const auto shown = [&] {
            return screen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32) == image;
        };
        return QTest::qWaitFor(shown, kPatienceMs);
    }

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).drawImage(0, 0, image); }
};

// tests/tools/FakePortal.cpp on a private session bus, which ends with it. The bus starts no
// services of its own, so where the desktop's real portal is installed, it stays out. Bus and fake
// share a process group of their own, so that neither outlives the test when the fake hangs.
struct FakePortal {
    QTemporaryFile config;
    QProcess process;
    QString address; // empty when it did not start

    FakePortal(const QString &program, const QStringList &arguments) {
        static const char busConfig[] =
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>\n"
            "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
            "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
        if (!config.open() || config.write(busConfig) < 0 || !config.flush())
            return;
        process.start("setsid",
                      QStringList{"dbus-run-session", "--config-file=" + config.fileName(), "--", program} +
                          arguments);
        process.waitForReadyRead(kPatienceMs); // one short write
        address = process.readLine().trimmed();
    }
    ~FakePortal() {
        process.closeWriteChannel(); // the fake's cue to end
        if (!process.waitForFinished(kPatienceMs) && process.processId() > 0) {
            std::fprintf(stderr, "the fake portal did not end; killing its session\n");
            ::kill(-pid_t(process.processId()), SIGKILL);
            process.waitForFinished(kPatienceMs);
        }
    }
};

} // namespace X11TestSupport
