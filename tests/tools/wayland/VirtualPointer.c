// virtual_pointer: a pointer of its own on the Wayland desktop in $WAYLAND_DISPLAY, driven by lines
// on standard input: "move X Y WIDTH HEIGHT" (X, Y in logical pixels of a desktop spanning
// WIDTH × HEIGHT), "down B" and "up B" (B: 1 left, 2 middle, 3 right). It answers each line with
// "ok" once the compositor has taken the event, or "error". The device lives as long as the
// program, so clients have long seen the seat's pointer when the first event comes.

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <stdio.h>
#include <string.h>
#include <wayland-client.h>

static struct wl_seat *seat;
static struct zwlr_virtual_pointer_manager_v1 *manager;

static void global(void *data, struct wl_registry *registry, uint32_t name, const char *interface,
                   uint32_t version) {
    if (strcmp(interface, wl_seat_interface.name) == 0 && !seat)
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
    else if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        manager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
}

static void global_remove(void *data, struct wl_registry *registry, uint32_t name) {}

static const struct wl_registry_listener listener = {global, global_remove};

int main(void) {
    // Linux input codes of the left, middle and right buttons.
    static const uint32_t buttons[] = {0x110, 0x112, 0x111};
    struct wl_display *display = wl_display_connect(NULL);
    if (!display)
        return 2;
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, NULL);
    wl_display_roundtrip(display);
    if (!manager)
        return 2;
    struct zwlr_virtual_pointer_v1 *pointer =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, seat);
    if (wl_display_roundtrip(display) < 0)
        return 2;
    setvbuf(stdout, NULL, _IOLBF, 0);
    printf("ok\n");
    uint32_t time = 1;
    char line[256];
    while (fgets(line, sizeof line, stdin)) {
        unsigned x, y, width, height, button;
        char action[8];
        if (sscanf(line, "move %u %u %u %u", &x, &y, &width, &height) == 4 && width && height) {
            zwlr_virtual_pointer_v1_motion_absolute(pointer, time++, x, y, width, height);
        } else if (sscanf(line, "%7s %u", action, &button) == 2 && button >= 1 && button <= 3 &&
                   (strcmp(action, "down") == 0 || strcmp(action, "up") == 0)) {
            zwlr_virtual_pointer_v1_button(pointer, time++, buttons[button - 1],
                                           strcmp(action, "down") == 0 ? WL_POINTER_BUTTON_STATE_PRESSED
                                                                       : WL_POINTER_BUTTON_STATE_RELEASED);
        } else {
            printf("error\n");
            continue;
        }
        zwlr_virtual_pointer_v1_frame(pointer);
        if (wl_display_roundtrip(display) < 0)
            return 2;
        printf("ok\n");
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
