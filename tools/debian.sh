#!/usr/bin/env bash
# A minimal Debian `forky` root under the checkout (.debian/forky-<arch>,
# ignored by git), for the interpreters this host lacks (3.14, 3.15): made
# once with debootstrap, reused while present.
#
#   tools/debian.sh setup [ARCH]        make the root if it is missing
#   tools/debian.sh run [ARCH] -- CMD   run CMD inside it, with the checkout's
#                                       tracked files copied to /src
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
        foreign=(--foreign)
    fi
    echo "== making a Debian forky root for $arch in $root (a few minutes, once)"
    rm -rf "$root"
    mkdir -p "$root"
    debootstrap --variant=minbase --arch="$arch" "${foreign[@]}" --include="$packages" \
        forky "$root" "$mirror" /usr/share/debootstrap/scripts/sid >"$root.log" 2>&1 \
        || { tail -n 20 "$root.log" >&2; exit 1; }
    if [ ${#foreign[@]} -gt 0 ]; then
        cp /usr/bin/qemu-aarch64-static "$root/usr/bin/"
        chroot "$root" /debootstrap/debootstrap --second-stage >>"$root.log" 2>&1 \
            || { tail -n 20 "$root.log" >&2; exit 1; }
    fi
    touch "$root/.ready"
}

run() {
    [ "${1:-}" = -- ] && shift
    setup
    # pip inside needs a resolver and the host's CA bundle (the root's own may lag).
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    [ -f /etc/ssl/certs/ca-certificates.crt ] && cp /etc/ssl/certs/ca-certificates.crt "$root/etc/ssl/certs/"
    rm -rf "$root/src"
    mkdir -p "$root/src"
    git ls-files -z --cached --others --exclude-standard \
        | tar --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -xf - -C "$root/src"
    unshare --mount --propagation private -- sh -c '
        root=$1; shift
        mount -t proc proc "$root/proc"
        mount --rbind /dev "$root/dev"
        mount -t tmpfs tmpfs "$root/dev/shm"
        mount --rbind /sys "$root/sys"
        mount -t tmpfs tmpfs "$root/tmp"
        exec chroot "$root" env -i HOME=/root LANG=C.UTF-8 TERM=dumb CI="${CI:-}" \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin sh -c "cd /src && exec \"\$@\"" sh "$@"
    ' sh "$root" "$@"
}

case $cmd in
    setup) setup ;;
    run) run "$@" ;;
    *) echo "usage: tools/debian.sh setup|run [ARCH] [-- CMD]" >&2; exit 2 ;;
esac
