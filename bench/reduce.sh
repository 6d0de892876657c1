#!/usr/bin/env bash
# scripts/bench reduce: on an Xvfb of its own, for the paste from another program's clipboard.
set -euo pipefail
build=${1:?build directory}
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
exec xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" "$build/bench/bench_reduce"
