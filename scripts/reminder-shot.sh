#!/usr/bin/env bash
# Shows reminders through a real notification daemon and takes a picture of the screen:
# a private session bus with dunst on an X display (Xvfb started when none runs there), the
# command run on them, then the whole screen saved as a PNG.
#   scripts/reminder-shot.sh :75 /tmp/shot.png build/bin/Corvantis week.cv1
# The command is left running for a few seconds (WAIT, default 6) and then ended.
set -euo pipefail
display=$1
shot=$2
shift 2
wait_seconds=${WAIT:-6}

xvfb_pid=
if [ ! -e "/tmp/.X11-unix/X${display#:}" ]; then
    Xvfb "$display" -screen 0 1024x700x24 >/dev/null 2>&1 &
    xvfb_pid=$!
    sleep 1
fi
export DISPLAY=$display

WAIT_SECONDS=$wait_seconds SHOT=$shot dbus-run-session -- bash -c '
    dunst >/dev/null 2>&1 &
    daemon=$!
    sleep 1
    "$@" &
    program=$!
    sleep "$WAIT_SECONDS"
    import -window root "$SHOT"
    kill "$program" "$daemon" 2>/dev/null || true
    wait 2>/dev/null || true
' reminder-shot "$@"
if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid"
fi
echo "$shot"
