#!/bin/sh
# keyring-session.sh MODE PROGRAM [ARGS...]
# Runs PROGRAM on a private session bus in a throw-away home, so the user's keyring is never
# touched: with an unlocked gnome-keyring (MODE secret-service) or with a bus that can start no
# service at all (MODE none). PROGRAM sees the mode in VELLUMBOX_TEST_KEYRING.
set -eu
mode=$1
shift
home=$(mktemp -d)
session=
# On SIGTERM the program and everything it started end too, with SIGKILL after a few seconds.
cleanup() {
    if [ -n "$session" ] && kill -0 "-$session" 2>/dev/null; then
        kill -TERM "-$session" 2>/dev/null || true
        tries=50
        while [ "$tries" -gt 0 ] && kill -0 "-$session" 2>/dev/null; do
            tries=$((tries - 1))
            sleep 0.1
        done
        kill -KILL "-$session" 2>/dev/null || true
    fi
    rm -rf "$home"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP
export HOME="$home"
export XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache"
export XDG_RUNTIME_DIR="$home/run"
mkdir -p "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export VELLUMBOX_TEST_KEYRING="$mode"

if [ "$mode" = none ]; then
    cat >"$home/bus.conf" <<CONF
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=$home</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
    setsid dbus-run-session --config-file="$home/bus.conf" -- "$@" &
else
    setsid dbus-run-session -- sh -c \
        'printf pw | gnome-keyring-daemon --unlock --components=secrets >/dev/null && "$@"' keyring "$@" &
fi
session=$! # a process group of its own, so that everything the program started ends with it
status=0
wait "$session" || status=$?
exit "$status"
