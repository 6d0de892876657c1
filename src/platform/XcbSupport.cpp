#include "platform/XcbSupport.h"

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>

namespace XcbSupport {

uint32_t rootWindow(xcb_connection_t *connection, int screen) {
    if (!connection || xcb_connection_has_error(connection))
        return 0;
    auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screen && roots.rem; ++i)
        xcb_screen_next(&roots);
    return roots.rem ? roots.data->root : 0;
}

namespace {

bool hasExtension(xcb_connection_t *connection, QByteArrayView name) {
    xcb_query_extension_reply_t *reply = xcb_query_extension_reply(
        connection, xcb_query_extension(connection, uint16_t(name.size()), name.data()), nullptr);
    const bool present = reply && reply->present;
    std::free(reply);
    return present;
}

QList<QByteArray> outputNames(xcb_connection_t *connection, uint32_t root) {
    QList<QByteArray> names;
    xcb_randr_get_screen_resources_current_reply_t *resources = xcb_randr_get_screen_resources_current_reply(
        connection, xcb_randr_get_screen_resources_current(connection, root), nullptr);
    if (!resources)
        return names;
    const xcb_randr_output_t *outputs = xcb_randr_get_screen_resources_current_outputs(resources);
    const int count = xcb_randr_get_screen_resources_current_outputs_length(resources);
    QList<xcb_randr_get_output_info_cookie_t> cookies;
    for (int i = 0; i < count; ++i)
        cookies << xcb_randr_get_output_info(connection, outputs[i], resources->config_timestamp);
    for (const auto &cookie : std::as_const(cookies)) {
        if (xcb_randr_get_output_info_reply_t *info =
                xcb_randr_get_output_info_reply(connection, cookie, nullptr)) {
            names << QByteArray(reinterpret_cast<const char *>(xcb_randr_get_output_info_name(info)),
                                xcb_randr_get_output_info_name_length(info));
            std::free(info);
        }
    }
    std::free(resources);
    return names;
}

} // namespace

bool isXWaylandOutputName(QByteArrayView name) {
    const QByteArrayView prefix = "XWAYLAND";
    if (!name.startsWith(prefix) || name.size() == prefix.size())
        return false;
    const QByteArrayView number = name.sliced(prefix.size());
    return std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isXWayland(xcb_connection_t *connection) {
    if (!connection || xcb_connection_has_error(connection))
        return false;
    if (hasExtension(connection, "XWAYLAND"))
        return true;
    if (!hasExtension(connection, "RANDR"))
        return false;
    const QList<QByteArray> names = outputNames(connection, rootWindow(connection, 0));
    return std::any_of(names.begin(), names.end(),
                       [](const QByteArray &name) { return isXWaylandOutputName(name); });
}

QList<uint8_t> keycodesFor(xcb_connection_t *connection, uint32_t keysym) {
    const xcb_setup_t *setup = xcb_get_setup(connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t *reply = xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, uint8_t(count)), nullptr);
    QList<uint8_t> first;
    QList<uint8_t> other;
    if (reply) {
        const xcb_keysym_t *keysyms = xcb_get_keyboard_mapping_keysyms(reply);
        const int perKeycode = reply->keysyms_per_keycode;
        const int available = xcb_get_keyboard_mapping_keysyms_length(reply);
        for (int i = 0; i < count; ++i) {
            for (int column = 0; column < perKeycode && i * perKeycode + column < available; ++column) {
                if (keysyms[i * perKeycode + column] == keysym) {
                    (column == 0 ? first : other).append(uint8_t(setup->min_keycode + i));
                    break;
                }
            }
        }
    }
    std::free(reply);
    return first + other;
}

uint16_t modifierMaskFor(xcb_connection_t *connection, uint32_t keysym) {
    const QList<uint8_t> keycodes = keycodesFor(connection, keysym);
    if (keycodes.isEmpty())
        return 0;
    xcb_get_modifier_mapping_reply_t *reply =
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr);
    uint16_t mask = 0;
    if (reply) {
        const xcb_keycode_t *map = xcb_get_modifier_mapping_keycodes(reply);
        const int perModifier = reply->keycodes_per_modifier;
        for (int modifier = 0; modifier < 8; ++modifier) {
            for (int i = 0; i < perModifier; ++i) {
                if (keycodes.contains(map[modifier * perModifier + i]))
                    mask |= uint16_t(1u << modifier);
            }
        }
    }
    std::free(reply);
    return mask;
}

uint32_t atom(xcb_connection_t *connection, const QByteArray &name, bool onlyIfExists) {
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, onlyIfExists, uint16_t(name.size()), name.constData()),
        nullptr);
    const uint32_t result = reply ? reply->atom : 0;
    std::free(reply);
    return result;
}

} // namespace XcbSupport
