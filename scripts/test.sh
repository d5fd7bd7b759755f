#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine on a
# virtual X display. Exit status is ctest's.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZELVO_BUILD_DIR:-$root/build}"
start=$(date +%s)

bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh"

export WINEPREFIX="$build/wineprefix"
"$root/tools/wine-prefix"

rc=0
xvfb-run -a -s "-screen 0 1024x768x24" "$root/tools/run-ctest" "$build" "$@" || rc=$?
echo "test.sh: finished in $(( $(date +%s) - start )) s"
exit $rc
