#!/usr/bin/env bash
# Builds the release archive, what a Windows user downloads:
# build/ZelvoBackup-<version>-win32.zip with ZelvoBackup.exe and 使用说明.txt,
# and beside it its SHA-256 file (sha256sum's form). The version comes from
# the VERSION file, as the program's version block does.
#
#   package.sh            the product: the 32-bit program from build/
#   package.sh x86_64     the same archive from the x86_64 test build in
#                         build/x64 (ZelvoBackup-<version>-win64.zip), for
#                         machines that run no 32-bit code
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZELVO_BUILD_DIR:-$root/build}"
arch="${1:-i686}"
case "$arch" in
    i686) dir="$build" suffix=win32 ;;
    x86_64) dir="$build/x64" suffix=win64 ;;
    *) echo "package.sh: unknown architecture $arch" >&2; exit 2 ;;
esac

bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" "$arch" --target release_archive

archive="$dir/ZelvoBackup-$(cut -d. -f1-3 "$root/VERSION")-$suffix.zip"
if [ ! -f "$archive" ] || [ ! -f "$archive.sha256" ]; then
    echo "package.sh: $archive was not made" >&2
    exit 1
fi
(cd "$dir" && sha256sum -c --quiet "$(basename "$archive").sha256")
echo "package.sh: $archive ($(stat -c %s "$archive") bytes)"
cat "$archive.sha256"
