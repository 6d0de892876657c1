#!/usr/bin/env bash
# scripts/bench capture: vellumbox-screencapture on its own 3840 × 2160 Xvfb, 20 runs.
set -euo pipefail
build=${1:?build directory}
runs=${2:-20}
cmake --build "$build" --target vellumbox-screencapture >/dev/null

display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
done
Xvfb ":$display" -screen 0 3840x2160x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$display" ] && break
    sleep 0.1
done

export DISPLAY=":$display"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
"$build/bench/bench_capture" "$build/vellumbox-screencapture" "$runs"
