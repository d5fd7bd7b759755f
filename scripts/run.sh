#!/usr/bin/env bash
# Builds the program and starts it under Wine, in a Wine desktop with a task
# bar and a notification area, on the current X display. Without a display
# it starts a virtual one (Xvfb) and keeps a screenshot of it in
# build/run-screenshot.png, refreshed every few seconds, until the program
# ends or Ctrl-C.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZELVO_BUILD_DIR:-$root/build}"
cd "$root"
bash scripts/build.sh >/dev/null

export WINEPREFIX="$build/wineprefix"
export LC_ALL=zh_CN.UTF-8 WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win32
tools/wine-prefix

xvfb_pid=""
shot="$build/run-screenshot.png"
cleanup() {
    [ -n "${wine_pid:-}" ] && kill "$wine_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT INT TERM

if [ -z "${DISPLAY:-}" ]; then
    for n in $(seq 90 120); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
    done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    sleep 1
    echo "run.sh: no display; started Xvfb on $DISPLAY."
    echo "run.sh: look at $shot (refreshed every 5 s); Ctrl-C ends the program."
fi

wine explorer /desktop=zelvo,1024x768 "$(winepath -w "$build/ZelvoBackup.exe")" &
wine_pid=$!

if [ -n "$xvfb_pid" ]; then
    while kill -0 "$wine_pid" 2>/dev/null; do
        sleep 5
        import -display "$DISPLAY" -window root "$shot" 2>/dev/null || true
    done
else
    wait "$wine_pid"
fi
