#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine on a
# virtual X display. Exit status is ctest's.
#
# The tests run the shipped 32-bit build wherever the machine runs 32-bit x86
# code, natively or through an emulator (tools/wine-env; scripts/install-deps.sh
# sets up qemu-user where the kernel refuses it). Where the machine runs no
# 32-bit code at all, the Windows tests run on the x86_64 build under 64-bit
# Wine, and the 32-bit product build runs the checks that need no Wine (label
# "static"). The output says at its top which build runs which test.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZELVO_BUILD_DIR:-$root/build}"
start=$(date +%s)

bash "$root/scripts/install-deps.sh"
. "$root/tools/wine-env"
case "$ZELVO_I386" in
    native) how="natively" ;;
    emulated) how="emulated ($ZELVO_I386_EMULATOR)" ;;
    *) how="not at all" ;;
esac
if [ "$ZELVO_WINE_ARCH" = win64 ]; then
    # The product and what the static checks look at; its test exes would not run here.
    bash "$root/scripts/build.sh" i686 --target ZelvoBackup static_checks
    bash "$root/scripts/build.sh" x86_64
else
    bash "$root/scripts/build.sh"
fi

# The tests a ctest run would take, one name a line.
listed() { ctest --test-dir "$1" -N "${@:2}" | sed -n 's/^ *Test *#[0-9]*: //p' | tr '\n' ' '; }
echo "test.sh: 32-bit x86 code runs here $how"
if [ "$ZELVO_WINE_ARCH" = win64 ]; then
    echo "test.sh: i686 build ($build), no Wine: $(listed "$build" -L static "$@")"
    echo "test.sh: x86_64 build ($build/x64), 64-bit Wine: $(listed "$build/x64" "$@")"
else
    echo "test.sh: i686 build ($build), 32-bit Wine: $(listed "$build" "$@")"
fi

rc=0
if [ "$ZELVO_WINE_ARCH" = win64 ]; then
    ctest --test-dir "$build" --output-on-failure -L static "$@" || rc=$?
    tested="$build/x64"
else
    tested="$build"
fi
export WINEPREFIX="$tested/wineprefix"
xvfb-run -a -s "-screen 0 1024x768x24" "$root/tools/run-ctest" "$tested" "$@" || rc=$?
echo "test.sh: finished in $(( $(date +%s) - start )) s (32-bit x86 code $how)"
exit $rc
