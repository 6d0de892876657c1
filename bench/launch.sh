#!/usr/bin/env bash
# scripts/bench launch: the release build on its own 1920 × 1080 Xvfb with openbox and a private
# session bus, a library of 500 snips in a temporary home.
set -euo pipefail
build=${1:?build directory}
shift
cmake --build "$build" --target vellumbox vellumbox-screencapture >/dev/null
exec "$(dirname "$0")/../scripts/desktop-session" "$build/bench/bench_launch" "$build/vellumbox" "$@"
