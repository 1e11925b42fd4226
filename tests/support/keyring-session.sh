#!/bin/sh
# Runs a test in a private session bus with a keyring of its own, unlocked, in a throwaway home:
# the user's own keyring is never touched.
set -u
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" \
    XDG_RUNTIME_DIR="$home/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
exec dbus-run-session -- sh -c '
    printf test | gnome-keyring-daemon --unlock --components=secrets >/dev/null 2>&1 || exit 1
    "$@"' keyring-session "$@"
