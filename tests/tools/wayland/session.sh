#!/bin/sh
# session.sh DIR: a headless sway desktop with its own session bus, PipeWire and the
# screenshot portal, for the Wayland tests. DIR is an empty private folder of the user this runs
# as; it becomes XDG_RUNTIME_DIR and HOME. Prints the session's variables as NAME=VALUE lines and
# then "ready"; when its input closes it ends everything it started.
set -eu
dir=$1
export XDG_RUNTIME_DIR="$dir" HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/.config"
export XDG_CACHE_HOME="$dir/home/.cache" XDG_DATA_HOME="$dir/home/.local/share"
export XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland
export WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman
export GTK_USE_PORTAL=0 GDK_BACKEND=wayland NO_AT_BRIDGE=1
unset DISPLAY WAYLAND_DISPLAY SWAYSOCK
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME"
log="$dir/session.log"

# Everything started here shares this process group, the bus of dbus-run-session too.
trap 'trap - EXIT; kill 0 2>/dev/null' EXIT INT TERM HUP

wait_for() { # wait_for TRIES TEST...: a tenth of a second between tries
    tries=$1; shift
    while ! "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || { echo "gave up waiting for: $*" >&2; exit 1; }
        sleep 0.1
    done
}

cat > "$dir/sway.conf" <<CONF
xwayland enable
default_border none
focus_follows_mouse no
mouse_warping none
seat seat0 hide_cursor 800
output * bg #203040 solid_color
CONF
sway --config "$dir/sway.conf" >>"$log" 2>&1 &
wait_for 200 sh -c 'ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock'
SWAYSOCK=$(ls "$dir"/sway-ipc.*.sock | head -n 1)
export SWAYSOCK
wait_for 100 sh -c 'ls "$XDG_RUNTIME_DIR"/wayland-*[0-9]'
WAYLAND_DISPLAY=$(basename "$(ls "$dir"/wayland-*[0-9] | head -n 1)")
export WAYLAND_DISPLAY
# The X display sway gives its children, started on first use.
swaymsg -q exec "printenv DISPLAY > '$dir/display'"
wait_for 100 test -s "$dir/display"
DISPLAY=$(cat "$dir/display")

# The portal and its backends start on demand with the session's variables.
dbus-update-activation-environment WAYLAND_DISPLAY DISPLAY SWAYSOCK XDG_CURRENT_DESKTOP \
    XDG_SESSION_TYPE XDG_RUNTIME_DIR HOME XDG_CONFIG_HOME XDG_CACHE_HOME XDG_DATA_HOME \
    GTK_USE_PORTAL GDK_BACKEND NO_AT_BRIDGE
pipewire >>"$log" 2>&1 &
wait_for 100 test -S "$dir/pipewire-0"
wait_for 300 dbus-send --session --print-reply --dest=org.freedesktop.portal.Desktop \
    /org/freedesktop/portal/desktop org.freedesktop.DBus.Properties.Get \
    string:org.freedesktop.portal.Screenshot string:version

echo "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR"
echo "HOME=$HOME"
echo "WAYLAND_DISPLAY=$WAYLAND_DISPLAY"
echo "SWAYSOCK=$SWAYSOCK"
echo "XWAYLAND_DISPLAY=$DISPLAY"
echo "DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS"
echo ready
cat >/dev/null || true
