#!/usr/bin/env bash
# scripts/bench launch: the release build on its own 1920 × 1080 Xvfb with openbox and a private
# session bus, a library of 500 snips in a temporary home.
set -euo pipefail
build=${1:?build directory}
shift
cmake --build "$build" --target vellumbox vellumbox-screencapture >/dev/null

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 200); do
    [ -s "$work/display" ] && break
    sleep 0.05
done
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
openbox >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 200); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
done
dbus-run-session -- "$build/bench/bench_launch" "$build/vellumbox" "$@"
