#include "platform/X11ForegroundWindow.h"

#include "platform/XcbSupport.h"

#include <QSocketNotifier>

#include <xcb/xcb.h>

#include <cstdlib>
#include <unistd.h>

namespace {

class NoForegroundWindow : public ForegroundWindow {
public:
    void reactivatePrevious() override {}
};

uint32_t readWindowProperty(xcb_connection_t *connection, uint32_t window, uint32_t property, uint32_t type) {
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, false, window, property, type, 0, 1), nullptr);
    uint32_t value = 0;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
        value = *static_cast<const uint32_t *>(xcb_get_property_value(reply));
    std::free(reply);
    return value;
}

} // namespace

std::shared_ptr<ForegroundWindow> ForegroundWindow::createForDesktop() {
    if (!qEnvironmentVariableIsSet("WAYLAND_DISPLAY") && qEnvironmentVariableIsSet("DISPLAY"))
        return std::make_shared<X11ForegroundWindow>();
    return std::make_shared<NoForegroundWindow>();
}

X11ForegroundWindow::X11ForegroundWindow(QObject *parent) : QObject(parent) {
    int screen = 0;
    m_connection = xcb_connect(nullptr, &screen);
    m_root = XcbSupport::rootWindow(m_connection, screen);
    if (!m_root)
        return;
    m_activeAtom = XcbSupport::atom(m_connection, "_NET_ACTIVE_WINDOW");
    m_pidAtom = XcbSupport::atom(m_connection, "_NET_WM_PID");
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &mask);
    noteActiveWindow();
    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(m_connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11ForegroundWindow::readEvents);
    readEvents();
}

X11ForegroundWindow::~X11ForegroundWindow() {
    xcb_disconnect(m_connection);
}

void X11ForegroundWindow::readEvents() {
    bool activeChanged = false;
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
            reinterpret_cast<xcb_property_notify_event_t *>(event)->atom == m_activeAtom)
            activeChanged = true;
        std::free(event);
    }
    if (activeChanged)
        noteActiveWindow();
    if (xcb_connection_has_error(m_connection) && m_notifier)
        m_notifier->setEnabled(false);
}

void X11ForegroundWindow::noteActiveWindow() {
    const uint32_t window = readWindowProperty(m_connection, m_root, m_activeAtom, XCB_ATOM_WINDOW);
    // Our own windows never count: they are the ones being hidden.
    if (window &&
        readWindowProperty(m_connection, window, m_pidAtom, XCB_ATOM_CARDINAL) != uint32_t(::getpid()))
        m_previous = window;
}

bool X11ForegroundWindow::windowManagerSupportsActivation() {
    const uint32_t supported = XcbSupport::atom(m_connection, "_NET_SUPPORTED", true);
    if (!supported)
        return false;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, false, m_root, supported, XCB_ATOM_ATOM, 0, 1024),
        nullptr);
    bool found = false;
    if (reply && reply->format == 32) {
        const auto *atoms = static_cast<const uint32_t *>(xcb_get_property_value(reply));
        const int count = xcb_get_property_value_length(reply) / 4;
        for (int i = 0; i < count && !found; ++i)
            found = atoms[i] == m_activeAtom;
    }
    std::free(reply);
    return found;
}

void X11ForegroundWindow::reactivatePrevious() {
    if (!m_previous || !m_root || xcb_connection_has_error(m_connection) ||
        !windowManagerSupportsActivation())
        return;
    xcb_client_message_event_t message = {};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = m_previous;
    message.type = m_activeAtom;
    message.data.data32[0] = 2; // source: a pager, i.e. the user's own wish, so it is not refused
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(m_connection, false, m_root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char *>(&message));
    xcb_flush(m_connection);
}
