#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine on a
# virtual X display. Exit status is ctest's.
#
# Where the machine runs no 32-bit code (tools/wine-env), the Windows tests
# run on the x86_64 build under 64-bit Wine, and the 32-bit product build
# runs the checks that need no Wine (label "static").
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZELVO_BUILD_DIR:-$root/build}"
start=$(date +%s)

bash "$root/scripts/install-deps.sh"
. "$root/tools/wine-env"
if [ "$ZELVO_WINE_ARCH" = win64 ]; then
    # The product and what the static checks look at; its test exes would not run here.
    bash "$root/scripts/build.sh" i686 --target ZelvoBackup static_checks
else
    bash "$root/scripts/build.sh"
fi

rc=0
if [ "$ZELVO_WINE_ARCH" = win64 ]; then
    echo "test.sh: this machine runs no 32-bit code; testing the x86_64 build under 64-bit Wine"
    bash "$root/scripts/build.sh" x86_64
    ctest --test-dir "$build" --output-on-failure -L static || rc=$?
    tested="$build/x64"
else
    tested="$build"
fi
export WINEPREFIX="$tested/wineprefix"
"$root/tools/wine-prefix"
xvfb-run -a -s "-screen 0 1024x768x24" "$root/tools/run-ctest" "$tested" "$@" || rc=$?
echo "test.sh: finished in $(( $(date +%s) - start )) s"
exit $rc
