#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstdint>

struct xcb_connection_t;

// Small lookups on an X connection shared by the X11 layers.
namespace XcbSupport {

// The root window of the given screen; 0 when the connection failed.
uint32_t rootWindow(xcb_connection_t *connection, int screen);
// XWayland, whose root window stays black and whose key grabs only see X clients. Newer servers
// announce themselves with the XWAYLAND extension; older ones only name their RandR outputs
// XWAYLAND0, XWAYLAND1 and so on.
bool isXWayland(xcb_connection_t *connection);
bool isXWaylandOutputName(QByteArrayView name);
// Keycodes that produce the keysym, those with it in the first column first.
QList<uint8_t> keycodesFor(xcb_connection_t *connection, uint32_t keysym);
// The modifier mask that a key with this keysym sets, or 0.
uint16_t modifierMaskFor(xcb_connection_t *connection, uint32_t keysym);
uint32_t atom(xcb_connection_t *connection, const QByteArray &name, bool onlyIfExists = false);

} // namespace XcbSupport
