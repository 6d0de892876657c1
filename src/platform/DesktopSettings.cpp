#include "platform/DesktopSettings.h"

#include <QProcess>
#include <QStandardPaths>

namespace DesktopSettings {

QString program() {
    // The settings programs of the common desktops; a machine rarely has more than one.
    static const char *const kNames[] = {"gnome-control-center",   "systemsettings",
                                         "xfce4-settings-manager", "cinnamon-settings",
                                         "mate-control-center",    "lxqt-config"};
    for (const char *name : kNames) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty())
            return path;
    }
    return {};
}

bool open() {
    const QString path = program();
    return !path.isEmpty() && QProcess::startDetached(path, {});
}

} // namespace DesktopSettings
