#!/usr/bin/env bash
# The manylinux_2_17_aarch64 wheel for CPython 3.14, cross-built on this x86_64
# machine and tested under emulation:
#
#   tools/aarch64_wheel.sh build   compile with tools/manylinux/c++ for aarch64
#                                  against the headers of an arm64 Debian forky
#                                  root (tools/debian.sh), pack the wheel from
#                                  the x86_64 one of `make wheel` (same files
#                                  but the module), check it with auditwheel
#   tools/aarch64_wheel.sh test [PYTEST ARGS]
#                                  install it, with the test requirements, in
#                                  a fresh directory and run the suite on it
#                                  inside the arm64 root (qemu-user)
#                                  (default: the README's code and the random
#                                  cross-checks against the plain-Python twins)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
ver=3.14
tag=cp${ver/./}
out=${WHEEL_DIR:-dist}
tools=${TOOLS_VENV:-.venv-tools}
root=$top/.debian/forky-arm64
plat=manylinux_2_17_aarch64
cmd=${1:?usage: tools/aarch64_wheel.sh build|test [pytest args]}
shift

build() {
    local template
    template=$(ls "$out"/kestrane-*-$tag-$tag-manylinux*_x86_64.whl 2>/dev/null | head -n 1 || true)
    [ -n "$template" ] || { echo "no x86_64 wheel for Python $ver in $out to pack from (make wheel first)" >&2; exit 1; }
    [ -f /usr/lib/gcc-cross/aarch64-linux-gnu/12/libstdc++.a ] || {
        [ "$(id -u)" = 0 ] || { echo "needs Debian's libstdc++-12-dev-arm64-cross" >&2; exit 1; }
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libstdc++-12-dev-arm64-cross >/dev/null
    }
    tools/debian.sh setup arm64
    local work=build/aarch64-$ver
    rm -rf "$work"
    mkdir -p "$work"
    local sources
    sources=$(grep -oE 'src/(core|py)/[a-z_]+\.cpp' CMakeLists.txt | sort -u)  # each once (comments name some)
    echo "== compiling the module for aarch64, Python $ver"
    # The flags of CMake's Release build (CMakeLists.txt); the Python headers,
    # and the multiarch pyconfig.h they include, from the arm64 root.
    # shellcheck disable=SC2086
    KESTRANE_ZIG=$("$tools/bin/python" -c 'import ziglang, os; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))') \
    KESTRANE_WHEEL_ARCH=aarch64 KESTRANE_SYSINCLUDE="$root/usr/include" \
        tools/manylinux/c++ -std=c++17 -O3 -DNDEBUG -fPIC -fvisibility=hidden -shared -Wall -Wextra \
        -I"$root/usr/include/python$ver" $sources -o "$work/kestrane.cpython-${tag#cp}-aarch64-linux-gnu.so"
    "$tools/bin/python" - "$template" "$work" "$out/raw" <<'PY'
import base64, hashlib, pathlib, re, sys, zipfile
template, work, raw = sys.argv[1], pathlib.Path(sys.argv[2]), pathlib.Path(sys.argv[3])
module = next(work.glob("kestrane.*.so"))
name = re.sub(r"-manylinux.*\.whl$", "-linux_aarch64.whl", pathlib.Path(template).name)
raw.mkdir(parents=True, exist_ok=True)
records = []
with zipfile.ZipFile(template) as src, zipfile.ZipFile(raw / name, "w", zipfile.ZIP_DEFLATED) as dst:
    def put(arc, data):
        dst.writestr(arc, data)
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        records.append(f"{arc},sha256={digest},{len(data)}")
    record = None
    for info in src.infolist():
        arc = info.filename
        if info.is_dir():
            continue
        if arc.endswith(".dist-info/RECORD"):
            record = arc
        elif arc.endswith(".so"):
            put(module.name, module.read_bytes())
        elif arc.endswith(".dist-info/WHEEL"):
            text = src.read(arc).decode()
            text = re.sub(r"(?m)^Tag: (\S+?)-(\S+?)-.*$\n?", "", text)
            tag = name.split("-")[2]
            put(arc, (text + f"Tag: {tag}-{tag}-linux_aarch64\n").encode())
        elif "kestrane.libs/" not in arc:
            put(arc, src.read(arc))
    dst.writestr(record, "\n".join(records + [f"{record},,"]) + "\n")
print(raw / name)
PY
    export PATH="$(cd "$tools/bin" && pwd):$PATH"
    rm -f "$out"/kestrane-*-$tag-$tag-*aarch64.whl
    # --plat offers only this machine's architecture; the tag it picks must be $plat.
    auditwheel repair -w "$out" "$out"/raw/kestrane-*-$tag-$tag-linux_aarch64.whl
    local whl
    whl=$(ls "$out"/kestrane-*-$tag-$tag-*$plat.whl)
    auditwheel show "$whl"
    auditwheel show "$whl" | tr '\n' ' ' | grep -q "\"$plat\"" || { echo "$whl is not $plat" >&2; exit 1; }
}

run_tests() {
    local whl
    whl=$(ls "$out"/kestrane-*-$tag-$tag-*$plat.whl 2>/dev/null | head -n 1 || true)
    [ -n "$whl" ] || { echo "no $plat wheel in $out (tools/aarch64_wheel.sh build first)" >&2; exit 1; }
    local args="$*"
    # By default the README's code and the random cross-checks against the
    # plain-Python twins (some 4,700 graphs): the whole suite takes hours here.
    local files="tests/test_docs.py tests/test_traces.py tests/test_cross_sections.py tests/test_glue.py tests/test_conditions.py"
    [ -n "$args" ] || args="-q -p no:cacheprovider -k 'test_code_blocks_run or agree' $files"
    # pip under emulation takes many minutes: this machine's pip installs the
    # wheel and the test requirements, aarch64 builds only, into a fresh
    # directory that the arm64 interpreter then uses as its only site.
    local site=build/aarch64-$ver-site
    rm -rf "$site"
    # pip takes each platform tag literally: every glibc up to the root's 2.4x.
    local platforms=() g
    for g in $(seq 17 40); do platforms+=(--platform "manylinux_2_${g}_aarch64"); done
    "$tools/bin/python" -m pip install -q --no-compile --target "$site" --only-binary :all: \
        "${platforms[@]}" --implementation cp --python-version "$ver" --abi "$tag" --abi abi3 --abi none \
        "$whl" pytest numpy hypothesis
    echo "== $(basename "$whl") under qemu-user in the arm64 root: pytest $args"
    DEBIAN_BINDS="$top/$site:/opt/site" tools/debian.sh run arm64 -- sh -ec '
        uname -m
        # the module comes from /opt/site: no copy of it sits in /src
        PYTHONPATH=/opt/site python'"$ver"' -m pytest '"$args"'
    '
}

case $cmd in
    build) build ;;
    test) run_tests "$@" ;;
    *) echo "usage: tools/aarch64_wheel.sh build|test [pytest args]" >&2; exit 2 ;;
esac
