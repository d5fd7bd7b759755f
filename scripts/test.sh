#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine on a
# virtual X display. Exit status is ctest's.
#
# The tests run the shipped 32-bit build wherever the machine runs 32-bit x86
# code, natively or through qemu-user 10 (tools/wine-env; scripts/install-deps.sh
# sets it up where the kernel refuses it). Where the machine runs no
# 32-bit code at all (or only through an older qemu, which crashes 32-bit
# Wine), the Windows tests run on the x86_64 build under 64-bit
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
    emulated) how="emulated ($ZELVO_I386_EMULATOR, qemu ${ZELVO_I386_EMULATOR_VERSION:-of unknown version})"
              zelvo_emulator_faulty && how="$how, an emulator that crashes 32-bit Wine" ;;
    *) how="not at all" ;;
esac
if [ "$ZELVO_WINE_ARCH" = win64 ]; then
    # The product and what the static checks look at; its test exes would not run here.
    bash "$root/scripts/build.sh" i686 --target ZelvoBackup static_checks
    bash "$root/scripts/build.sh" x86_64
else
    bash "$root/scripts/build.sh"
fi

# The tests a ctest run would take, on one line.
listed() { ctest --test-dir "$1" -N "${@:2}" | sed -n 's/^ *Test *#[0-9]*: //p' | tr '\n' ' '; }
echo "test.sh: 32-bit x86 code runs here $how"
if [ "$ZELVO_WINE_ARCH" = win64 ]; then
    echo "test.sh: i686 build ($build), no Wine: $(listed "$build" -L static "$@")"
    echo "test.sh: x86_64 build ($build/x64), 64-bit Wine: $(listed "$build/x64" "$@")"
else
    wine="32-bit Wine"
    [ "$ZELVO_I386" = emulated ] && wine="32-bit Wine in a WoW64 prefix"
    echo "test.sh: i686 build ($build), $wine: $(listed "$build" "$@")"
fi

rc=0
# ctest under Wine on a virtual X display, with one wineserver for the run.
run_ctest() { xvfb-run -a -s "-screen 0 1024x768x24" "$root/tools/run-ctest" "$@" || rc=$?; }
if [ "$ZELVO_WINE_ARCH" = win64 ]; then
    ctest --test-dir "$build" --output-on-failure -L static "$@" || rc=$?
    WINEPREFIX="$build/x64/wineprefix" run_ctest "$build/x64" "$@"
else
    WINEPREFIX="$build/wineprefix" run_ctest "$build" "$@"
fi
echo "test.sh: finished in $(( $(date +%s) - start )) s (32-bit x86 code $how)"
exit $rc
