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
# binfmt_misc entry hands every i386 ELF file to /usr/bin/qemu-i386 ("F": the
# emulator is opened now, so it also serves programs in other mount
# namespaces). This changes how the whole machine runs 32-bit programs, until
# the next boot or `echo -1 > /proc/sys/fs/binfmt_misc/qemu-i386`. Where
# 32-bit code runs natively, or through qemu 10 or later, nothing is done.
# Debian 12's own qemu (7.2) crashes 32-bit Wine as one of its threads ends,
# so the emulator is qemu-user from bookworm-backports, that package alone;
# an entry that runs an older qemu is replaced. Every step may fail (no
# package lists, a read-only /proc/sys in an unprivileged container): the
# tests then run the x86_64 build, which is what that fall-back is for.
qemu_wanted=10
# The version of the emulator that the kernel hands i386 programs to (qemu-user
# takes its -version switch from the environment too); empty where none does.
# The loader itself answers with a usage text, and a refused one not at all.
qemu_version() { "$@" 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9][0-9.]*\).*/\1/p'; true; }
i386_emulator_version() { QEMU_VERSION=1 qemu_version /lib/ld-linux.so.2; }
major() { echo "${1%%.*}"; }
# The address of the Debian archive that the machine's own sources use for
# its release (deb822 .sources files first, then one-line .list files).
debian_archive() {
    local release=$1 f
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && awk -v s="$release" 'BEGIN { RS = ""; FS = "\n" }
            { uris = ""; hit = 0; deb = 0
              for (i = 1; i <= NF; i++) {
                  if ($i ~ /^URIs:/) { sub(/^URIs:[ \t]*/, "", $i); split($i, u, /[ \t]+/); uris = u[1] }
                  if ($i ~ /^Types:/ && $i ~ /[ \t]deb([ \t]|$)/) deb = 1
                  if ($i ~ /^Suites:/) { n = split($i, a, /[ \t]+/); for (j = 2; j <= n; j++) if (a[j] == s) hit = 1 }
              }
              if (hit && deb && uris != "") { print uris; exit } }' "$f"
    done
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | awk -v s="$release" '
        $1 == "deb" { i = 2; if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
                      if ($(i + 1) == s) { print $i; exit } }'
}
install_qemu() {
    local release archive list=/etc/apt/sources.list.d/zelvo-backports.sources
    release=$(. /etc/os-release && echo "$VERSION_CODENAME")
    archive=$(debian_archive "$release" | head -n 1)
    if [ -z "$archive" ]; then
        echo "install-deps: no Debian archive for $release in the apt sources" >&2
        return 1
    fi
    {
        printf 'Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: main\n' "$archive" "$release"
        [ -f /usr/share/keyrings/debian-archive-keyring.gpg ] &&
            printf 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n'
    } | try_root tee "$list" >/dev/null || return 1
    export DEBIAN_FRONTEND=noninteractive
    # This list alone: a mirror in the middle of a sync elsewhere does not matter.
    try_root apt-get update -q -o Dir::Etc::sourcelist="$list" -o Dir::Etc::sourceparts=- \
        -o APT::Get::List-Cleanup=0 || return 1
    # name/suite takes that one package from backports; nothing else is upgraded.
    try_root apt-get install -y -q --no-install-recommends "qemu-user/$release-backports"
}
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1 ||
   { emulator=$(i386_emulator_version); [ -n "$emulator" ] && [ "$(major "$emulator")" -lt "$qemu_wanted" ]; }; then
    if [ -n "${emulator:-}" ]; then
        echo "install-deps: 32-bit x86 code runs here through qemu $emulator, which crashes 32-bit Wine;" \
             "replacing it with qemu $qemu_wanted"
    else
        echo "install-deps: this kernel runs no 32-bit x86 code; running it through qemu-user"
    fi
    installed=$(major "$(qemu_version /usr/bin/qemu-i386 --version)")
    if [ "${installed:-0}" -lt "$qemu_wanted" ] && ! install_qemu; then
        echo "install-deps: qemu-user $qemu_wanted could not be installed" >&2
    fi
    binfmt=/proc/sys/fs/binfmt_misc
    if [ ! -e "$binfmt/register" ] && ! try_root mount -t binfmt_misc binfmt_misc "$binfmt"; then
        echo "install-deps: $binfmt could not be mounted" >&2
    fi
    installed=$(major "$(qemu_version /usr/bin/qemu-i386 --version)")
    if [ "${installed:-0}" -ge "$qemu_wanted" ]; then
        # Old entries for i386 (the one an earlier install-deps made, Debian's
        # qemu-user-binfmt) would take precedence over the new one.
        for entry in "$binfmt"/*; do
            if grep -q '^interpreter .*qemu-i386' "$entry" 2>/dev/null; then
                echo "install-deps: removing the binfmt_misc entry ${entry##*/} ($(sed -n 's/^interpreter //p' "$entry"))"
                echo -1 | try_root tee "$entry" >/dev/null || echo "install-deps: $entry could not be removed" >&2
            fi
        done
        # i386 ELF executables and shared objects (e_type 2 or 3, e_machine 3).
        if ! printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F' \
            | try_root tee "$binfmt/register" >/dev/null; then
            echo "install-deps: qemu-i386 could not be registered with $binfmt" >&2
        fi
    fi
    emulator=$(i386_emulator_version)
    if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1 ||
       { [ -n "$emulator" ] && [ "$(major "$emulator")" -lt "$qemu_wanted" ]; }; then
        echo "install-deps: 32-bit programs do not run here through qemu $qemu_wanted or later" \
             "(see $binfmt); the tests will run the x86_64 build" >&2
    else
        echo "install-deps: 32-bit x86 code now runs through qemu $emulator"
    fi
fi

command -v i686-w64-mingw32-g++-posix >/dev/null
command -v x86_64-w64-mingw32-g++-posix >/dev/null
command -v wine >/dev/null
test -x /usr/lib/wine/wine64
command -v xvfb-run >/dev/null
command -v python3 >/dev/null
echo "install-deps: all present"
