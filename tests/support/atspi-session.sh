#!/bin/sh
# Runs a test where a screen reader would find its windows: an X server (the offscreen platform
# offers no accessibility), a private session bus and the accessibility bus and registry of
# at-spi2-core, in a throwaway home, all ended with the test.
set -u
. "$(dirname "$0")/throwaway-home.sh"
dbus-run-session -- sh -c '
    # The server writes the number of the display it found free once it is ready.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$HOME/display" >/dev/null 2>&1 &
    xserver=$!
    tries=0
    until [ -s "$HOME/display" ]; do
        tries=$((tries + 1))
        [ "$tries" -lt 200 ] || { kill "$xserver"; exit 1; }
        sleep 0.05
    done
    export DISPLAY=":$(cat "$HOME/display")"
    /usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
    bus=$!
    # Up once the registry answers on the accessibility bus (asking starts it).
    tries=0
    until /usr/bin/python3 -c "import pyatspi; pyatspi.Registry.getDesktop(0)" 2>/dev/null; do
        tries=$((tries + 1))
        [ "$tries" -lt 100 ] || { kill "$bus" "$xserver"; exit 1; }
        sleep 0.1
    done
    QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$@"
    status=$?
    kill "$bus" "$xserver" 2>/dev/null
    wait "$bus" "$xserver" 2>/dev/null
    exit $status' atspi-session "$@"
