// portal_still PATH: writes the desktop portal's still of the whole desktop to PATH as a PNG and
// exits 0, or exits 1 with the reason on standard error. The Wayland tests wait with it until the
// desktop shows what they put there.

#include "PortalScreenshot.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 1;
    PortalScreenshot portal(QDBusConnection::sessionBus());
    QObject::connect(&portal, &PortalScreenshot::taken, &app, [&](const QImage &image) {
        QCoreApplication::exit(image.save(argv[1], "png") ? 0 : 1);
    });
    QObject::connect(&portal, &PortalScreenshot::refused, &app, [] { QCoreApplication::exit(1); });
    QObject::connect(&portal, &PortalScreenshot::failed, &app, [](const QString &reason) {
        std::fprintf(stderr, "portal_still: %s\n", reason.toUtf8().constData());
        QCoreApplication::exit(1);
    });
    portal.request();
    return QCoreApplication::exec();
}
