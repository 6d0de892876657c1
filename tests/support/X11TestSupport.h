#pragma once

// Helpers for window tests that drive a real X server (Xvfb) from outside: input through
// xdotool, and a look at the server's grab state from a connection of our own.

#include <QColor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRasterWindow>
#include <QScreen>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace X11TestSupport {

// Generous: CI machines are small and busy.
constexpr int kPatienceMs = 60'000;

inline bool xdotool(const QStringList &arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    return process.waitForFinished(kPatienceMs) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

struct Connection {
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = 0;

    Connection() {
        int screen = 0;
        connection = xcb_connect(nullptr, &screen);
        auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection));
        for (int i = 0; i < screen && roots.rem; ++i)
            xcb_screen_next(&roots);
        if (roots.rem)
            root = roots.data->root;
    }
    ~Connection() { xcb_disconnect(connection); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool ok() const { return connection && !xcb_connection_has_error(connection) && root; }

    // True while another client holds the keyboard: our own grab attempt is refused.
    bool keyboardHeldElsewhere() {
        xcb_grab_keyboard_reply_t *reply =
            xcb_grab_keyboard_reply(connection,
                                    xcb_grab_keyboard(connection, false, root, XCB_CURRENT_TIME,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                    nullptr);
        const uint8_t status = reply ? reply->status : uint8_t(XCB_GRAB_STATUS_NOT_VIEWABLE);
        std::free(reply);
        if (status == XCB_GRAB_STATUS_SUCCESS) {
            xcb_ungrab_keyboard(connection, XCB_CURRENT_TIME);
            xcb_flush(connection);
        }
        return status == XCB_GRAB_STATUS_ALREADY_GRABBED;
    }

    bool grabKeyboard() {
        xcb_grab_keyboard_reply_t *reply =
            xcb_grab_keyboard_reply(connection,
                                    xcb_grab_keyboard(connection, false, root, XCB_CURRENT_TIME,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                    nullptr);
        const bool ok = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
        std::free(reply);
        return ok;
    }
};

// Waits until some other client grabs the keyboard, or the process ends first.
inline bool waitForForeignGrab(QProcess &process) {
    Connection x;
    if (!x.ok())
        return false;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kPatienceMs) {
        if (process.state() == QProcess::NotRunning)
            return false;
        if (x.keyboardHeldElsewhere())
            return true;
        QTest::qWait(20);
    }
    return false;
}

// A pixel pattern in which every position up to 4096 × 4096 has its own colour.
inline QRgb patternPixel(int x, int y) {
    return qRgb(x & 255, y & 255, ((x >> 8) << 4 | (y >> 8)) & 255);
}

inline QImage patternImage(QSize size, bool inverted = false) {
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = inverted ? (patternPixel(x, y) ^ 0x00ffffffu) : patternPixel(x, y);
    }
    return image;
}

// Covers the whole screen with the pattern, outside any window manager's care.
class PatternWindow : public QRasterWindow {
public:
    PatternWindow() {
        setFlags(Qt::Window | Qt::FramelessWindowHint | Qt::BypassWindowManagerHint);
        setGeometry(QGuiApplication::primaryScreen()->geometry());
        m_image = patternImage(size() * devicePixelRatio());
    }

    // Shows the window and waits until the server really has the pattern on screen.
    bool showAndSettle() {
        show();
        if (!QTest::qWaitForWindowExposed(this, kPatienceMs))
            return false;
        QScreen *screen = QGuiApplication::primaryScreen();
        const QPoint probe(geometry().width() - 7, geometry().height() - 5);
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < kPatienceMs) {
            const QImage grab = screen->grabWindow(0, probe.x(), probe.y(), 1, 1).toImage();
            if (!grab.isNull() && grab.pixel(0, 0) == patternPixel(probe.x(), probe.y()))
                return true;
            QTest::qWait(20);
        }
        return false;
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.drawImage(QRect(QPoint(0, 0), size()), m_image);
    }

private:
    QImage m_image;
};

} // namespace X11TestSupport
