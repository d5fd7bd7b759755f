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
bash scripts/install-deps.sh >/dev/null
. tools/wine-env
if [ "$ZELVO_WINE_ARCH" = win64 ]; then
    # This machine runs no 32-bit code: start the x86_64 build of the program.
    bash scripts/build.sh x86_64 --target ZelvoBackup >/dev/null
    build="$build/x64"
else
    [ "$ZELVO_I386" = emulated ] &&
        echo "run.sh: 32-bit code runs emulated here ($ZELVO_I386_EMULATOR); each Wine process takes seconds to start"
    bash scripts/build.sh i686 --target ZelvoBackup >/dev/null
fi

export WINEPREFIX="$build/wineprefix"
tools/wine-prefix

xvfb_pid=""
shot="$build/run-screenshot.png"
cleanup() {
    [ -n "${wine_pid:-}" ] && kill "$wine_pid" 2>/dev/null || true
    "$ZELVO_WINESERVER" -k 2>/dev/null || true
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

"$ZELVO_WINE" explorer /desktop=zelvo,1024x768 "$(zelvo_windows_path "$build/ZelvoBackup.exe")" &
wine_pid=$!

if [ -n "$xvfb_pid" ]; then
    while kill -0 "$wine_pid" 2>/dev/null; do
        sleep 5
        import -display "$DISPLAY" -window root "$shot" 2>/dev/null || true
    done
else
    wait "$wine_pid"
fi
