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
#include <QStringDecoder>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <unistd.h>

namespace {

constexpr int kIdleMilliseconds = 120'000;

// The output path, or an empty string for arguments other than "-i -x -t png PATH". A path that
// is not UTF-8 would come back from QString under another name, so it is refused.
QString outputPathFrom(int argc, char **argv) {
    static const char *const expected[] = {"-i", "-x", "-t", "png"};
    if (argc != 6)
        return {};
    for (int i = 0; i < 4; ++i) {
        if (std::strcmp(argv[i + 1], expected[i]) != 0)
            return {};
    }
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString path = utf8(QByteArrayView(argv[5]));
    return utf8.hasError() ? QString() : path;
}

void say(const QString &line) {
    std::fprintf(stderr, "vellumbox-screencapture: %s\n", line.toUtf8().constData());
}

// Without a display the toolkit gives up inside QGuiApplication with a fatal message and an
// abort, which the controller could not tell from a crash. While it starts, its messages wait
// here: on success they go out as usual, on a fatal one the tool ends with Failed and one line.
namespace Startup {
QtMessageHandler g_previous = nullptr;
std::mutex g_mutex; // the X read runs on a thread of its own meanwhile
QList<std::pair<QtMsgType, QString>> g_held;

void handle(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    if (type == QtFatalMsg) {
        say(QStringLiteral("Keine Anzeige erreichbar: weder Wayland noch ein X-Server lässt sich öffnen."));
        ::_exit(CaptureExit::Failed);
    }
    const std::lock_guard lock(g_mutex);
    g_held.append({type, message});
}

void begin() {
    g_previous = qInstallMessageHandler(handle);
}

void end() {
    qInstallMessageHandler(g_previous);
    const std::lock_guard lock(g_mutex);
    const QMessageLogContext context;
    for (const auto &[type, message] : std::as_const(g_held))
        g_previous(type, context, message);
    g_held.clear();
}
} // namespace Startup

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
    const QString outputPath = outputPathFrom(argc, argv);
    if (outputPath.isEmpty())
        return CaptureExit::Failed;
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
    Startup::begin();
    QGuiApplication app(argc, argv);
    Startup::end();
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
    auto startSelection = [&](QImage image, const QRect &area, const QList<ScreenStill::Output> &outputs) {
        selector = std::make_unique<RegionSelector>(ScreenStill{std::move(image), area, outputs}, outputPath);
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
            // The portal's still covers the whole desktop at one scale. Only Wayland tells the
            // scale of each output; XWayland shows every output at scale 1.
            QList<ScreenStill::Output> outputs;
            if (platform == QLatin1String("wayland")) {
                for (QScreen *screen : QGuiApplication::screens())
                    outputs.append({screen->geometry(), screen->devicePixelRatio()});
            }
            startSelection(image, QGuiApplication::primaryScreen()->virtualGeometry(), outputs);
        });
        QObject::connect(portal.get(), &PortalScreenshot::refused, &app,
                         [&] { exitWith(CaptureExit::Refused); });
        QObject::connect(portal.get(), &PortalScreenshot::failed, &app, [&](const QString &reason) {
            say(QStringLiteral("Das Screenshot-Portal hat kein Bild geliefert: ") + reason);
            exitWith(CaptureExit::Failed);
        });
        portalWait.start(kIdleMilliseconds);
        portal->request();
    } else {
        // The root window spans every screen, in the toolkit's (unscaled) coordinates.
        const QRect area(QPoint(0, 0), x11Image.size());
        if (!area.contains(QGuiApplication::primaryScreen()->virtualGeometry()))
            return CaptureExit::Failed;
        startSelection(std::move(x11Image), area, {});
    }
    return QGuiApplication::exec();
}
