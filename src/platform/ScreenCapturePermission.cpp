#include "platform/ScreenCapturePermission.h"

namespace {

class DesktopScreenCapturePermission : public ScreenCapturePermission {
public:
    bool preflight() override { return true; }
    bool request() override { return true; }
};

} // namespace

std::shared_ptr<ScreenCapturePermission> ScreenCapturePermission::createForDesktop() {
    return std::make_shared<DesktopScreenCapturePermission>();
}
