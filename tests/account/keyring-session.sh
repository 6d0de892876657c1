#!/bin/sh
# keyring-session.sh MODE PROGRAM [ARGS...]
# Runs PROGRAM on a private session bus in a throw-away home, so the user's keyring is never
# touched: with an unlocked gnome-keyring (MODE secret-service) or with a bus that can start no
# service at all (MODE none). PROGRAM sees the mode in VELLUMBOX_TEST_KEYRING.
set -eu
mode=$1
shift
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
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
    dbus-run-session --config-file="$home/bus.conf" -- "$@"
else
    dbus-run-session -- sh -c 'printf pw | gnome-keyring-daemon --unlock --components=secrets >/dev/null && "$@"' \
        keyring "$@"
fi
