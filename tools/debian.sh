#!/usr/bin/env bash
# A minimal Debian `forky` root under the checkout (.debian/forky-<arch>,
# ignored by git), for the interpreters this host lacks (3.14, 3.15): made
# once with debootstrap, reused while present.
#
#   tools/debian.sh setup [ARCH]        make the root if it is missing
#   tools/debian.sh run [ARCH] -- CMD   run CMD inside it, with the checkout's
#                                       tracked files copied to /src
#
# DEBIAN_BINDS="HOST[:INSIDE] ..." mounts host directories into the root for
# one run (at the same path when INSIDE is not given).
#
# Needs root. The mounts live in a private mount namespace, so nothing is left
# mounted when a run ends or is killed. The copy keeps a stale build/ of the
# checkout out of the root (it would shadow the `build` package there).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
cmd=${1:?usage: tools/debian.sh setup|run [ARCH] [-- CMD]}
shift
arch=amd64
if [ $# -gt 0 ] && [ "$1" != -- ]; then arch=$1; shift; fi
root=${DEBIAN_ROOT:-$top/.debian/forky-$arch}
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
packages=python3.14-dev,python3.14-venv,python3.15-dev,python3.15-venv,g++,make,ca-certificates
# Another architecture's root runs under qemu-user, slowly: only what running
# a cross-built wheel's tests needs (its headers serve the cross build).
[ "$arch" = "$(dpkg --print-architecture)" ] || packages=python3.14-dev,python3.14-venv,ca-certificates

need() {
    command -v "$1" >/dev/null 2>&1 && return
    [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1 || { echo "$1 is missing (Debian: apt-get install $2)" >&2; exit 1; }
    echo "installing Debian's $2"
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$2" >/dev/null
}

setup() {
    [ -e "$root/.ready" ] && return
    [ "$(id -u)" = 0 ] || { echo "making $root needs root" >&2; exit 1; }
    need debootstrap debootstrap
    local foreign=()
    if [ "$arch" != "$(dpkg --print-architecture)" ]; then
        need qemu-aarch64-static qemu-user-static
        need update-binfmts binfmt-support
        foreign=(--foreign)
    fi
    echo "== making a Debian forky root for $arch in $root (a few minutes, once)"
    rm -rf "$root"
    mkdir -p "$root"
    debootstrap --variant=minbase --arch="$arch" "${foreign[@]}" --include="$packages" \
        forky "$root" "$mirror" /usr/share/debootstrap/scripts/sid >"$root.log" 2>&1 \
        || { tail -n 20 "$root.log" >&2; exit 1; }
    if [ ${#foreign[@]} -gt 0 ]; then
        binfmt
        chroot "$root" /debootstrap/debootstrap --second-stage >>"$root.log" 2>&1 \
            || { tail -n 20 "$root.log" >&2; exit 1; }
    fi
    touch "$root/.ready"
}

# The kernel runs another architecture's programs through qemu-user once
# binfmt_misc knows it (registered with the F flag: found inside the root too).
binfmt() {
    [ "$arch" = "$(dpkg --print-architecture)" ] && return
    local q
    case $arch in arm64) q=qemu-aarch64 ;; *) q=qemu-$arch ;; esac
    [ -e /proc/sys/fs/binfmt_misc/register ] || mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    [ -e "/proc/sys/fs/binfmt_misc/$q" ] || update-binfmts --enable "$q"
}

run() {
    [ "${1:-}" = -- ] && shift
    setup
    # pip inside needs a resolver and the host's CA bundle (the root's own may lag).
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    [ -f /etc/ssl/certs/ca-certificates.crt ] && cp /etc/ssl/certs/ca-certificates.crt "$root/etc/ssl/certs/"
    binfmt
    rm -rf "$root/src"
    mkdir -p "$root/src"
    git ls-files -z --cached --others --exclude-standard \
        | tar --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -xf - -C "$root/src"
    local binds="" b
    for b in ${DEBIAN_BINDS:-}; do
        case $b in *:*) ;; *) b=$b:$b ;; esac
        binds="$binds $b"
    done
    binds=$binds unshare --mount --propagation private -- sh -c '
        root=$1; shift
        mount -t proc proc "$root/proc"
        mount --rbind /dev "$root/dev"
        mount -t tmpfs tmpfs "$root/dev/shm"
        mount --rbind /sys "$root/sys"
        mount -t tmpfs tmpfs "$root/tmp"
        for b in $binds; do
            mkdir -p "$root${b#*:}"
            mount --bind "${b%%:*}" "$root${b#*:}"
        done
        exec chroot "$root" env -i HOME=/root LANG=C.UTF-8 TERM=dumb CI="${CI:-}" \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin sh -c "cd /src && exec \"\$@\"" sh "$@"
    ' sh "$root" "$@"
}

case $cmd in
    setup) setup ;;
    run) run "$@" ;;
    *) echo "usage: tools/debian.sh setup|run [ARCH] [-- CMD]" >&2; exit 2 ;;
esac
