#!/usr/bin/env bash
# Configures and builds everything (program, tests, benchmark).
#   build.sh            the 32-bit product build in build/
#   build.sh x86_64     the 64-bit test build in build/x64 (see tools/wine-env)
# Further arguments go to cmake --build (for example --target NAME).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZELVO_BUILD_DIR:-$root/build}"
arch="${1:-i686}"
shift || true
case "$arch" in
    i686) dir="$build" ;;
    x86_64) dir="$build/x64" ;;
    *) echo "build.sh: unknown architecture $arch" >&2; exit 2 ;;
esac
launcher=()
if command -v ccache >/dev/null 2>&1; then
    # Two builds of the same sources on two cores: ccache spares the second
    # configuration of a machine most of its compiling.
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    # Paths relative to the checkout, so another clone of it finds the same entries.
    export CCACHE_BASEDIR="$root"
fi
if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
elif [ $# -gt 0 ]; then
    # make looks for named targets before it regenerates a changed tree.
    cmake "$dir" >/dev/null
fi
cmake --build "$dir" -j"$(nproc)" "$@"
