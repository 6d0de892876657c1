#include "platform/X11GlobalShortcut.h"

#include "platform/XcbSupport.h"

#include <QSocketNotifier>

#include <xcb/xcb.h>
// xkb.h names a field "explicit".
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>

namespace {

constexpr uint32_t kSpace = 0x0020;   // XK_space
constexpr uint32_t kNumLock = 0xff7f; // XK_Num_Lock
constexpr uint16_t kModifiers = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;

// Without it the server reports a held key as release/press pairs.
bool enableDetectableRepeat(xcb_connection_t *connection) {
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(connection, &xcb_xkb_id);
    if (!extension || !extension->present)
        return false;
    xcb_xkb_use_extension_reply_t *use = xcb_xkb_use_extension_reply(
        connection, xcb_xkb_use_extension(connection, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION), nullptr);
    const bool supported = use && use->supported;
    std::free(use);
    if (!supported)
        return false;
    xcb_xkb_per_client_flags_reply_t *flags = xcb_xkb_per_client_flags_reply(
        connection,
        xcb_xkb_per_client_flags(connection, XCB_XKB_ID_USE_CORE_KBD,
                                 XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT,
                                 XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, 0, 0, 0),
        nullptr);
    const bool enabled = flags && (flags->value & XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT);
    std::free(flags);
    return enabled;
}

} // namespace

X11GlobalShortcut::X11GlobalShortcut(QObject *parent) : GlobalShortcut(parent) {}

X11GlobalShortcut::~X11GlobalShortcut() {
    ungrabAll();
    if (m_connection)
        xcb_disconnect(m_connection);
}

void X11GlobalShortcut::registerShortcut() {
    if (m_connection) // one attempt per object
        return;
    int screen = 0;
    m_connection = xcb_connect(nullptr, &screen);
    m_root = XcbSupport::rootWindow(m_connection, screen);
    // XWayland only sees keys typed into X clients: that is no global shortcut.
    if (!m_root || XcbSupport::isXWayland(m_connection)) {
        fail();
        return;
    }
    const auto spaceKeys = XcbSupport::keycodesFor(m_connection, kSpace);
    if (spaceKeys.isEmpty()) {
        fail();
        return;
    }
    m_keycode = spaceKeys.first();
    const uint16_t numLock = XcbSupport::modifierMaskFor(m_connection, kNumLock);
    QList<uint16_t> locks{0, XCB_MOD_MASK_LOCK};
    if (numLock && numLock != XCB_MOD_MASK_LOCK)
        locks << numLock << uint16_t(numLock | XCB_MOD_MASK_LOCK);

    QList<xcb_void_cookie_t> cookies;
    for (uint16_t lock : locks) {
        cookies << xcb_grab_key_checked(m_connection, false, m_root, kModifiers | lock, m_keycode,
                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    }
    bool taken = true;
    for (qsizetype i = 0; i < cookies.size(); ++i) {
        if (xcb_generic_error_t *error = xcb_request_check(m_connection, cookies[i])) {
            taken = false; // BadAccess: another client holds this combination
            std::free(error);
        } else {
            m_grabbed << locks[i];
        }
    }
    if (!taken) {
        ungrabAll();
        fail();
        return;
    }
    m_detectableRepeat = enableDetectableRepeat(m_connection);
    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(m_connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11GlobalShortcut::readEvents);
    readEvents();
}

void X11GlobalShortcut::fail() {
    QMetaObject::invokeMethod(
        this, [this] { emit failed(); }, Qt::QueuedConnection);
}

void X11GlobalShortcut::ungrabAll() {
    if (!m_connection || m_grabbed.isEmpty())
        return;
    for (uint16_t lock : std::as_const(m_grabbed))
        xcb_ungrab_key(m_connection, m_keycode, m_root, kModifiers | lock);
    m_grabbed.clear();
    xcb_flush(m_connection);
}

void X11GlobalShortcut::readEvents() {
    xcb_generic_event_t *next = nullptr;
    while (xcb_generic_event_t *event = next ? next : xcb_poll_for_event(m_connection)) {
        next = nullptr;
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_KEY_PRESS) {
            const auto *key = reinterpret_cast<const xcb_key_press_event_t *>(event);
            // A held key repeats as presses; it fires once until released.
            if (key->detail == m_keycode && !m_down) {
                m_down = true;
                QMetaObject::invokeMethod(
                    this, [this] { emit activated(); }, Qt::QueuedConnection);
            }
        } else if (type == XCB_KEY_RELEASE) {
            const auto *key = reinterpret_cast<const xcb_key_release_event_t *>(event);
            if (key->detail == m_keycode) {
                bool repeat = false;
                if (!m_detectableRepeat) {
                    // Without XKB a repeat is a release followed by a press of the same moment.
                    next = xcb_poll_for_event(m_connection);
                    const auto *press = reinterpret_cast<const xcb_key_press_event_t *>(next);
                    if (next && (next->response_type & 0x7f) == XCB_KEY_PRESS &&
                        press->detail == key->detail && press->time == key->time) {
                        repeat = true;
                        std::free(next);
                        next = nullptr;
                    }
                }
                if (!repeat)
                    m_down = false;
            }
        }
        std::free(event);
    }
    if (xcb_connection_has_error(m_connection) && m_notifier)
        m_notifier->setEnabled(false);
}
