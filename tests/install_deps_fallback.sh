#!/usr/bin/env bash
# install-deps.sh on a machine that runs no 32-bit code and refuses every step
# of setting up qemu-user (no qemu there, no backports list to be had,
# binfmt_misc not mountable): it says so and carries on, so that the tests
# fall back to the x86_64 build. A package is missing too, and the mirror
# never serves a whole set of lists (a sync in progress), so that only the
# release's own versions install: it tries the update again, then installs
# those. Played in a private user and mount namespace: /lib/ld-linux.so.2 is
# /bin/false there, and apt-get, dpkg, dpkg-query, locale, mount, sleep and tee
# are stand-ins that log their calls. Exits 77 (skipped) where no such
# namespace can be made.
set -uo pipefail
script="$1"
stubs="$(mktemp -d)"
trap 'rm -rf "$stubs"' EXIT
stub() { printf '#!/bin/sh\n%s\n' "$2" > "$stubs/$1"; chmod +x "$stubs/$1"; }
stub apt-get 'echo "apt-get $*" >> "$0.log"; case "$*" in *" -t "*) exit 0;; *) exit 100;; esac'
stub dpkg 'echo i386'
stub dpkg-query 'for last; do :; done; case "$last" in cmake) exit 1;; esac; printf "install ok installed"'
stub locale 'echo zh_CN.utf8'
stub sleep 'echo "sleep $*" >> "$0.log"'
stub mount 'echo "mount $*" >> "$0.log"; exit 32'
stub tee 'echo "tee $*" >> "$0.log"; exit 1'
unshare --user --map-root-user --mount true 2>/dev/null || { echo "no user namespace here"; exit 77; }
unshare --user --map-root-user --mount bash -c '
    mount --bind /bin/false /lib/ld-linux.so.2 && mount -t tmpfs tmpfs /proc/sys/fs/binfmt_misc || exit 77
    [ ! -e /usr/bin/qemu-i386 ] || mount --bind /bin/false /usr/bin/qemu-i386 || exit 77
    PATH="$0:$PATH" bash "$1"' "$stubs" "$script"
status=$?
[ "$status" -eq 77 ] && { echo "the namespace could not be set up"; exit 77; }
cat "$stubs"/*.log 2>/dev/null
[ "$status" -eq 0 ] || { echo "FAIL: install-deps.sh stopped with $status"; exit 1; }
grep -q '^apt-get update' "$stubs/apt-get.log" || { echo "FAIL: no apt-get update before the install"; exit 1; }
[ "$(sed '/^apt-get install/q' "$stubs/apt-get.log" | grep -c '^apt-get update')" -ge 2 ] ||
    { echo "FAIL: a failed apt-get update was not tried again"; exit 1; }
release=$(. /etc/os-release && echo "$VERSION_CODENAME")
grep -q "^apt-get install .* -t $release cmake" "$stubs/apt-get.log" ||
    { echo "FAIL: the missing package was not installed from $release alone"; exit 1; }
echo "install-deps.sh carried on to the fall-back"
