#!/usr/bin/env bash
# Installs each repaired wheel in $WHEEL_DIR (default dist) into a fresh
# virtual environment of its interpreter, with only binary packages and no
# compiler on PATH, and runs the test suite against it from outside the
# source tree. Versions as arguments restrict the run (default: 3.11 to
# 3.15); 3.14 and 3.15, when this machine lacks them, run inside the Debian
# forky root (tools/debian.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)
out=$(cd "${WHEEL_DIR:-dist}" && pwd)
versions=("$@")
[ ${#versions[@]} -gt 0 ] || versions=(3.11 3.12 3.13 3.14 3.15)
pythons=$(tools/pythons.sh "${versions[@]}")
debian=()
for ver in "${versions[@]}"; do
    grep -q "^$ver " <<< "$pythons" && continue
    case $ver in
        3.14|3.15) [ -z "${KESTRANE_IN_DEBIAN:-}" ] && debian+=("$ver") ;;
        *) echo "== no Python $ver here: its wheel is not tested" ;;
    esac
done
[ -n "$pythons" ] || [ ${#debian[@]} -gt 0 ] || { echo "no CPython ${*:-3.11 or newer} found" >&2; exit 1; }
[ -n "$pythons" ] && while read -r ver py; do
    tag=cp${ver/./}
    whl=$(ls "$out"/kestrane-*-"$tag"-"$tag"-manylinux*.whl 2>/dev/null | head -n 1 || true)
    [ -n "$whl" ] || { echo "no repaired wheel for Python $ver in $out (make wheel first)" >&2; exit 1; }
    echo "== $(basename "$whl") in a fresh Python $ver environment"
    tmp=$(mktemp -d)
    "$py" -m venv "$tmp/env"
    "$tmp/env/bin/python" -m pip install -q --only-binary :all: "$whl" pytest numpy hypothesis
    mkdir "$tmp/run"
    cp -r "$src/tests" "$src/examples" "$src/bench" "$src/README.md" "$src/ARCHITECTURE.md" "$tmp/run/"
    # Nothing but the environment on PATH: no compiler, no source tree.
    (cd "$tmp/run" && env -i HOME="$HOME" LANG=C.UTF-8 PATH="$tmp/env/bin" python - <<'PY'
import pathlib, shutil, sys
import kestrane
compilers = [c for c in ("cc", "c++", "gcc", "g++", "clang", "clang++") if shutil.which(c)]
assert not compilers, f"compiler on PATH: {compilers}"
origin = pathlib.Path(kestrane.__file__).resolve()
assert origin.is_relative_to(pathlib.Path(sys.prefix).resolve()), origin
print("testing", origin.name, "from", origin.parent)
PY
    )
    (cd "$tmp/run" && env -i HOME="$HOME" LANG=C.UTF-8 PATH="$tmp/env/bin" \
        python -m pytest -q -ra -p no:cacheprovider tests)
    rm -rf "$tmp"
done <<< "$pythons"
if [ ${#debian[@]} -gt 0 ]; then
    DEBIAN_BINDS="$out:/src/dist" tools/debian.sh run -- env KESTRANE_IN_DEBIAN=1 tools/test_wheels.sh "${debian[@]}"
fi
