#!/usr/bin/env bash
# Copy benchmark: builds, makes the data, times native cp on the large file,
# then runs copybench.exe under Wine (engine, xcopy, CopyFileA loop, into an
# empty destination and replacing a full one) and prints the times and
# ratios. The data is deleted at the end.
#
#   bash scripts/bench.sh [--files N] [--file-size BYTES] [--large-size BYTES] [--reps R]
#
# Sizes take K/M/G suffixes; defaults: 5000 files of 4K, one file of 1G, 3 runs.
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

reps=3
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
    [ "${args[$i]}" = "--reps" ] && reps="${args[$((i + 1))]}"
done

export WINEPREFIX="$build/wineprefix"
"$root/tools/wine-prefix"
run() { "$root/tools/wine-run" "$build/copybench.exe" --dir "$(zelvo_windows_path "$data")" "$@"; }

cleanup() { rm -rf "$data"; "$ZELVO_WINESERVER" -k 2>/dev/null || true; }
trap cleanup EXIT

rm -rf "$data"
run "$@" --prepare-only --keep
# Let the freshly written data reach the disk, so its write-back does not
# slow whichever copy comes first.
sync

best=""
for ((rep = 0; rep < reps; rep++)); do
    rm -rf "$data/cp-out" && mkdir -p "$data/cp-out"
    start=$(date +%s.%N)
    cp "$data/large/large.dat" "$data/cp-out/"
    end=$(date +%s.%N)
    best=$(awk -v s="$start" -v e="$end" -v b="$best" 'BEGIN { t = e - s; if (b == "" || t < b) b = t; print b }')
done
rm -rf "$data/cp-out"

run "$@" --cp-seconds "$best"
