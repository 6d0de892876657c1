// vellumbox-screencapture -i -x -t png PATH
//
// Interactive region capture: takes a still of every screen, lets the user drag a rectangle
// over it and writes that region to PATH as a PNG without alpha. Exit statuses in CaptureExit.h.

#include "CaptureExit.h"
#include "PortalScreenshot.h"
#include "RegionSelector.h"
#include "ScreenStill.h"
#include "TerminationSignals.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <QImageReader>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>

#include <cstring>
#include <future>
#include <memory>

namespace {

constexpr int kIdleMilliseconds = 120'000;

bool validArguments(int argc, char **argv) {
    static const char *const expected[] = {"-i", "-x", "-t", "png"};
    if (argc != 6 || argv[5][0] == '\0')
        return false;
    for (int i = 0; i < 4; ++i) {
        if (std::strcmp(argv[i + 1], expected[i]) != 0)
            return false;
    }
    return true;
}

// The still is in device pixels and the overlay must match it pixel for pixel, so the toolkit's
// own scaling stays out of the way; Wayland still reports its buffer scale, which the selector
// maps.
void disableToolkitScaling() {
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    for (const char *name : {"QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_AUTO_SCREEN_SCALE_FACTOR",
                             "QT_USE_PHYSICAL_DPI", "QT_FONT_DPI"})
        qunsetenv(name);
}

} // namespace

int main(int argc, char **argv) {
    if (!validArguments(argc, argv))
        return CaptureExit::Failed;
    const QString outputPath = QString::fromLocal8Bit(argv[5]);
    if (!TerminationSignals::install())
        return CaptureExit::Failed;

    // Under Wayland, and under XWayland whose root window is black, the still comes from the
    // desktop's screenshot portal; only a plain X server is read directly, on its own thread
    // while the toolkit starts, and always before any window of ours exists.
    bool usePortal = qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
    std::future<X11Still::Grab> x11Grab;
    if (!usePortal)
        x11Grab = std::async(std::launch::async, X11Still::grabRoot);

    disableToolkitScaling();
    QImageReader::setAllocationLimit(1024);
    QGuiApplication app(argc, argv);
    QGuiApplication::setQuitOnLastWindowClosed(false);
    QImage x11Image;
    if (x11Grab.valid()) {
        X11Still::Grab grab = x11Grab.get();
        if (grab.server == X11Still::Server::XWayland)
            usePortal = true;
        else if (grab.image.isNull())
            return CaptureExit::Failed;
        else
            x11Image = std::move(grab.image);
    }
    if (TerminationSignals::received())
        return CaptureExit::Failed;
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("xcb") && !(usePortal && platform == QLatin1String("wayland")))
        return CaptureExit::Failed;
    if (QGuiApplication::screens().isEmpty())
        return CaptureExit::Failed;

    QObject::connect(TerminationSignals::createNotifier(&app), &QSocketNotifier::activated, &app,
                     [] { QCoreApplication::exit(CaptureExit::Failed); });

    // Queued, so an end reached before the event loop runs still ends it.
    auto exitWith = [](int status) {
        QMetaObject::invokeMethod(
            qApp, [status] { QCoreApplication::exit(status); }, Qt::QueuedConnection);
    };
    std::unique_ptr<RegionSelector> selector;
    const bool requireGrab = platform == QLatin1String("xcb");
    auto startSelection = [&](QImage image, const QRect &area) {
        selector = std::make_unique<RegionSelector>(ScreenStill{std::move(image), area}, outputPath);
        QObject::connect(selector.get(), &RegionSelector::finished, &app, exitWith);
        selector->start(requireGrab);
    };

    std::unique_ptr<PortalScreenshot> portal;
    QTimer portalWait;
    if (usePortal) {
        portal = std::make_unique<PortalScreenshot>(QDBusConnection::sessionBus());
        portalWait.setSingleShot(true);
        QObject::connect(&portalWait, &QTimer::timeout, &app,
                         [&] { exitWith(CaptureExit::NothingCaptured); });
        QObject::connect(portal.get(), &PortalScreenshot::taken, &app, [&](const QImage &image) {
            portalWait.stop();
            // The portal's still covers the whole desktop, whatever its scale.
            startSelection(image, QGuiApplication::primaryScreen()->virtualGeometry());
        });
        QObject::connect(portal.get(), &PortalScreenshot::refused, &app,
                         [&] { exitWith(CaptureExit::Refused); });
        QObject::connect(portal.get(), &PortalScreenshot::failed, &app,
                         [&] { exitWith(CaptureExit::Failed); });
        portalWait.start(kIdleMilliseconds);
        portal->request();
    } else {
        // The root window spans every screen, in the toolkit's (unscaled) coordinates.
        const QRect area(QPoint(0, 0), x11Image.size());
        if (!area.contains(QGuiApplication::primaryScreen()->virtualGeometry()))
            return CaptureExit::Failed;
        startSelection(std::move(x11Image), area);
    }
    return QGuiApplication::exec();
}
