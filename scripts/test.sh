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

# Where 32-bit code is emulated, every test runs on the i686 build but these,
# which run on the x86_64 build under 64-bit Wine: test_shell, and every case
# of test_e2e but the two named below (a gtest filter). A new case follows its
# suite: on i686, or in test_e2e on x86_64 unless it is added to the list.
# What stays off i686 fails there for faults of the emulator, not of the
# program:
# - test_e2e drives the program by writing into its memory from outside
#   (RemoteBuffer: a time for a picker, a buffer for the status bar's text).
#   Wine's server reads and writes another process's memory at the address
#   the program sees; under qemu-user that address lies in the emulator's own
#   memory at qemu's guest base from where the program's memory is, so the
#   program reads nothing back and the write lands in qemu ("stack smashing
#   detected", the process dies). The two cases named here write nothing into
#   the program: a backup at a slot from the settings file, through the run's
#   dialog, and a trip to the tray and back.
# - test_shell, the shell's folder tree in-process, dies or hangs in qemu at
#   a case that differs from run to run (the delete through the shell, a
#   label edit, the process's exit): an "illegal instruction" in kernel32's
#   unwind_target at 0x7b62dd7c, where qemu 7 hands Wine's signal handler
#   trap number -1 and the thread's exception chain is garbage, or a
#   segmentation fault in qemu itself.
e2e_i686_when_emulated='ProgramTest.SlotFromTheSettingsFileRunsAtItsSecond:TrayProgramTest.MinimizingGoesIntoTheTrayAndDoubleClickBringsTheWindowBack'

bash "$root/scripts/install-deps.sh"
. "$root/tools/wine-env"
case "$ZELVO_I386" in
    native) how="natively" ;;
    emulated) how="emulated ($ZELVO_I386_EMULATOR)" ;;
    *) how="not at all" ;;
esac
split=""
[ "$ZELVO_I386" = emulated ] && [ "$ZELVO_WINE_ARCH" = win32 ] && split=1
if [ "$ZELVO_WINE_ARCH" = win64 ]; then
    # The product and what the static checks look at; its test exes would not run here.
    bash "$root/scripts/build.sh" i686 --target ZelvoBackup static_checks
    bash "$root/scripts/build.sh" x86_64
else
    bash "$root/scripts/build.sh"
    [ -z "$split" ] || bash "$root/scripts/build.sh" x86_64 --target test_shell test_e2e
fi

# The tests a ctest run would take, on one line.
listed() { ctest --test-dir "$1" -N "${@:2}" | sed -n 's/^ *Test *#[0-9]*: //p' | tr '\n' ' '; }
echo "test.sh: 32-bit x86 code runs here $how"
if [ "$ZELVO_WINE_ARCH" = win64 ]; then
    echo "test.sh: i686 build ($build), no Wine: $(listed "$build" -L static "$@")"
    echo "test.sh: x86_64 build ($build/x64), 64-bit Wine: $(listed "$build/x64" "$@")"
elif [ -n "$split" ]; then
    echo "test.sh: i686 build ($build), 32-bit Wine in a WoW64 prefix:" \
         "$(listed "$build" -E '^test_shell$' "$@")(test_e2e only $e2e_i686_when_emulated)"
    echo "test.sh: x86_64 build ($build/x64), 64-bit Wine:" \
         "$(listed "$build/x64" -R '^test_(shell|e2e)$' "$@")(test_e2e: the other cases)"
else
    echo "test.sh: i686 build ($build), 32-bit Wine: $(listed "$build" "$@")"
fi

rc=0
# ctest under Wine on a virtual X display, with one wineserver for the run.
run_ctest() { xvfb-run -a -s "-screen 0 1024x768x24" "$root/tools/run-ctest" "$@" || rc=$?; }
if [ "$ZELVO_WINE_ARCH" = win64 ]; then
    ctest --test-dir "$build" --output-on-failure -L static "$@" || rc=$?
    WINEPREFIX="$build/x64/wineprefix" run_ctest "$build/x64" "$@"
elif [ -n "$split" ]; then
    export WINEPREFIX="$build/wineprefix"
    run_ctest "$build" -E '^test_(shell|e2e)$' "$@"
    GTEST_FILTER="$e2e_i686_when_emulated" run_ctest "$build" -R '^test_e2e$' "$@"
    (
        export ZELVO_WINE_ARCH=win64 WINEPREFIX="$build/x64/wineprefix"
        # The filter takes out the i686 cases of test_e2e and matches nothing in test_shell.
        GTEST_FILTER="-$e2e_i686_when_emulated" run_ctest "$build/x64" -R '^test_(shell|e2e)$' "$@"
        exit $rc
    ) || rc=$?
else
    WINEPREFIX="$build/wineprefix" run_ctest "$build" "$@"
fi
echo "test.sh: finished in $(( $(date +%s) - start )) s (32-bit x86 code $how)"
exit $rc
