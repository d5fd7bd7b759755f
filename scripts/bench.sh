#!/usr/bin/env bash
# Copy benchmark: builds, makes the data, mounts a simulated network share,
# and runs copybench.exe under Wine, which measures its variants in turns and
# prints medians and bests (see bench/copybench.cpp). The data is deleted at
# the end.
#
#   bash scripts/bench.sh [--scenario share|local|large|all] [--reps R]
#                         [--files N] [--file-size BYTES] [--large-size BYTES]
#                         [--share-files N] [--op-ms MS] [--fsync-ms MS]
#
# Sizes take K/M/G suffixes. Defaults: 5 repetitions; share: 300 files of 4K,
# every operation delayed 1 ms and every flush 5 ms more (a LAN round trip
# and a NAS disk); local: 5000 files of 4K; large: one file of 1G. The share
# is a FUSE pass-through (tests/e2e/latency_fs.py) that Wine serves as
# \\zelvo-nas\backup from its prefix's dosdevices/unc; without /dev/fuse that
# scenario is skipped, with a message.
set -euo pipefail
# Wine's desktop process wants a display even for console programs.
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZELVO_BUILD_DIR:-$root/build}"
. "$root/tools/wine-env"
if [ "$ZELVO_WINE_ARCH" = win64 ]; then
    # This machine runs no 32-bit code (tools/wine-env): time the x86_64 build
    # of the same sources under 64-bit Wine.
    echo "bench.sh: this machine runs no 32-bit code; timing the x86_64 build under 64-bit Wine"
    bash "$root/scripts/build.sh" x86_64 --target copybench >/dev/null
    build="$build/x64"
else
    [ "$ZELVO_I386" = emulated ] &&
        echo "bench.sh: 32-bit code runs emulated here ($ZELVO_I386_EMULATOR): the times are the emulator's"
    bash "$root/scripts/build.sh" i686 --target copybench >/dev/null
fi
data="$build/bench-data"

op_ms=1 fsync_ms=5 scenario=all
args=()
while [ $# -gt 0 ]; do
    case "$1" in
        --op-ms) op_ms="$2"; shift 2 ;;
        --fsync-ms) fsync_ms="$2"; shift 2 ;;
        --scenario) scenario="$2"; args+=("$1" "$2"); shift 2 ;;
        *) args+=("$1"); shift ;;
    esac
done

export WINEPREFIX="$build/wineprefix"
"$root/tools/wine-prefix"
nas="$data/nas"
unc="$WINEPREFIX/dosdevices/unc/zelvo-nas"
# A share left mounted by a run that was killed answers nothing
# ("Transport endpoint is not connected"), which mountpoint takes for no mount.
unmount_share() {
    if grep -qF " $nas " /proc/mounts; then umount -l "$nas" || true; fi
}
cleanup() {
    unmount_share
    rm -rf "$unc" "$data"
    "$ZELVO_WINESERVER" -k 2>/dev/null || true
}
trap cleanup EXIT
unmount_share
rm -rf "$data"
mkdir -p "$data"

share=()
if [ "$scenario" = all ] || [ "$scenario" = share ]; then
    if [ ! -c /dev/fuse ]; then
        echo "bench.sh: no /dev/fuse on this machine: the share scenario is skipped"
    else
        mkdir -p "$nas" "$data/nas-backing"
        /usr/bin/python3 "$root/tests/e2e/latency_fs.py" "$data/nas-backing" "$nas" \
            --op-ms "$op_ms" --fsync-ms "$fsync_ms" > "$data/nas.log" 2>&1 &
        for _ in $(seq 100); do mountpoint -q "$nas" && break; sleep 0.1; done
        if mountpoint -q "$nas"; then
            mkdir -p "$unc" && ln -sfn "$nas" "$unc/backup"
            share=(--share '\\zelvo-nas\backup')
            echo "bench.sh: the share \\\\zelvo-nas\\backup waits $op_ms ms for every operation," \
                 "$fsync_ms ms more for every flush"
        else
            echo "bench.sh: the share could not be mounted ($(cat "$data/nas.log")): its scenario is skipped"
        fi
    fi
fi

run() { "$root/tools/wine-run" "$build/copybench.exe" --dir "$(zelvo_windows_path "$data/work")" "${share[@]}" "${args[@]}" "$@"; }
run --prepare-only --keep
# Let the freshly made data reach the disk, so its write-back slows no run.
sync
run
