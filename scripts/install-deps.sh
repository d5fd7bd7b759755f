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
    need_root apt-get update -q
    need_root apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Wine needs a Chinese locale to run with the GBK ANSI code page.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
    echo "install-deps: generating zh_CN.UTF-8"
    if ! grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
        echo 'zh_CN.UTF-8 UTF-8' | need_root tee -a /etc/locale.gen >/dev/null
    fi
    need_root locale-gen >/dev/null
fi

command -v i686-w64-mingw32-g++-posix >/dev/null
command -v x86_64-w64-mingw32-g++-posix >/dev/null
command -v wine >/dev/null
test -x /usr/lib/wine/wine64
command -v xvfb-run >/dev/null
command -v python3 >/dev/null
echo "install-deps: all present"
