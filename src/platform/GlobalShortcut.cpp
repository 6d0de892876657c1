#include "platform/GlobalShortcut.h"

#include "platform/PortalGlobalShortcut.h"
#include "platform/X11GlobalShortcut.h"

namespace {

// Neither an X server nor Wayland: the menu and the buttons remain.
class MissingGlobalShortcut : public GlobalShortcut {
public:
    using GlobalShortcut::GlobalShortcut;
    void registerShortcut() override {
        QMetaObject::invokeMethod(
            this, [this] { emit failed(); }, Qt::QueuedConnection);
    }
    bool isRegistered() const override { return false; }
};

} // namespace

std::unique_ptr<GlobalShortcut> GlobalShortcut::createForDesktop() {
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
        return std::make_unique<PortalGlobalShortcut>(QDBusConnection::sessionBus());
    if (qEnvironmentVariableIsSet("DISPLAY"))
        return std::make_unique<X11GlobalShortcut>();
    return std::make_unique<MissingGlobalShortcut>();
}
