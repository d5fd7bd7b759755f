#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

need_root() {
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then sudo "$@"; else
            echo "install-deps: run as root (or install sudo)" >&2; exit 1; fi
    else
        "$@"
    fi
}

# A mirror in the middle of a sync serves a package list of the wrong size for a
# minute or so; apt-get update then fails although the lists it did fetch are fine.
# Try a few times, then go on with the lists it has (false: some are missing).
update_lists() {
    local i
    for i in 1 2 3 4; do
        "$@" apt-get update -q && return 0
        [ "$i" -lt 4 ] && { echo "install-deps: apt-get update failed, trying again" >&2; sleep 15; }
    done
    echo "install-deps: apt-get update kept failing; installing from the lists it has" >&2
    return 1
}

# As need_root, for a step the scripts can do without: false when it fails.
try_root() {
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null 2>&1 && sudo "$@"
    else
        "$@"
    fi
}

PKGS=(
    cmake make ccache
    g++-mingw-w64-i686-posix binutils-mingw-w64-i686
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    googletest
    wine wine32:i386 wine64
    xvfb xauth x11-utils imagemagick
    fonts-wqy-zenhei
    locales fonts-wine fonts-arphic-uming
    python3
    fuse3 python3-fusepy
)

missing=()
for p in "${PKGS[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
        missing+=("$p")
    fi
done

if [ "${#missing[@]}" -gt 0 ]; then
    echo "install-deps: installing ${missing[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        need_root dpkg --add-architecture i386
    fi
    export DEBIAN_FRONTEND=noninteractive
    lists_whole=yes
    update_lists need_root || lists_whole=no
    if ! need_root apt-get install -y -q --no-install-recommends "${missing[@]}"; then
        # Without one list of the security suite (seen: its i386 list), an i386
        # library cannot match the newer amd64 one installed beside it. The
        # release's own suite holds both; take the pair from there.
        [ "$lists_whole" = no ] || exit 1
        release=$(. /etc/os-release && echo "$VERSION_CODENAME")
        echo "install-deps: installing from $release alone" >&2
        need_root apt-get install -y -q --no-install-recommends -t "$release" "${missing[@]}"
    fi
fi

# Wine needs a Chinese locale to run with the GBK ANSI code page.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
    echo "install-deps: generating zh_CN.UTF-8"
    if ! grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
        echo 'zh_CN.UTF-8 UTF-8' | need_root tee -a /etc/locale.gen >/dev/null
    fi
    need_root locale-gen >/dev/null
fi

# Where the kernel refuses 32-bit x86 programs, qemu-user runs them: one
# binfmt_misc entry hands every i386 ELF file to qemu-i386-static ("F": the
# emulator is opened now, so it also serves programs in other mount
# namespaces). This changes how the whole machine runs 32-bit programs, until
# the next boot or `echo -1 > /proc/sys/fs/binfmt_misc/qemu-i386`. Where
# 32-bit code runs (natively, or through an entry made before), nothing is done.
# Every step of it may fail (no package lists, a read-only /proc/sys in an
# unprivileged container): the tests then run the x86_64 build, which is
# what that fall-back is for.
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    echo "install-deps: this kernel runs no 32-bit x86 code; running it through qemu-user"
    if ! dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q "ok installed"; then
        export DEBIAN_FRONTEND=noninteractive
        # The package lists may not be there yet when nothing else was missing.
        if ! { { update_lists try_root || true; } &&
               try_root apt-get install -y -q --no-install-recommends qemu-user-static; }; then
            echo "install-deps: qemu-user-static could not be installed" >&2
        fi
    fi
    binfmt=/proc/sys/fs/binfmt_misc
    if [ ! -e "$binfmt/register" ] && ! try_root mount -t binfmt_misc binfmt_misc "$binfmt"; then
        echo "install-deps: $binfmt could not be mounted" >&2
    fi
    if [ ! -e "$binfmt/qemu-i386" ] && [ -x /usr/bin/qemu-i386-static ]; then
        # i386 ELF executables and shared objects (e_type 2 or 3, e_machine 3).
        if ! printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
            | try_root tee "$binfmt/register" >/dev/null; then
            echo "install-deps: qemu-i386 could not be registered with $binfmt" >&2
        fi
    fi
    if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
        echo "install-deps: 32-bit programs still do not run (see $binfmt/qemu-i386);" \
             "the tests will run the x86_64 build" >&2
    fi
fi

command -v i686-w64-mingw32-g++-posix >/dev/null
command -v x86_64-w64-mingw32-g++-posix >/dev/null
command -v wine >/dev/null
test -x /usr/lib/wine/wine64
command -v xvfb-run >/dev/null
command -v python3 >/dev/null
echo "install-deps: all present"
