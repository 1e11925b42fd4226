#!/bin/sh
# Runs a test in a private session bus with a keyring of its own, unlocked, in a throwaway home:
# the user's own keyring is never touched, and the keyring ends with the test.
set -u
. "$(dirname "$0")/throwaway-home.sh"
dbus-run-session -- sh -c '
    printf test | gnome-keyring-daemon --foreground --unlock --components=secrets \
        >/dev/null 2>&1 &
    keyring=$!
    # Up once it owns the Secret Service name on the bus.
    tries=0
    until dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
            grep -q true; do
        tries=$((tries + 1))
        [ "$tries" -lt 100 ] || { kill "$keyring"; exit 1; }
        sleep 0.05
    done
    "$@"
    status=$?
    kill "$keyring" 2>/dev/null
    wait "$keyring" 2>/dev/null
    exit $status' keyring-session "$@"
