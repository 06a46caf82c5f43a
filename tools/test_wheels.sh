#!/usr/bin/env bash
# Installs each repaired wheel in $WHEEL_DIR (default dist) into a fresh
# virtual environment of its interpreter, with only binary packages and no
# compiler on PATH, and runs the test suite against it from outside the
# source tree. Versions as arguments restrict the run (default: every
# supported interpreter found).
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)
out=$(cd "${WHEEL_DIR:-dist}" && pwd)
pythons=$(tools/pythons.sh "$@")
[ -n "$pythons" ] || { echo "no CPython ${*:-3.11 or newer} found" >&2; exit 1; }
while read -r ver py; do
    tag=cp${ver/./}
    whl=$(ls "$out"/kestrane-*-"$tag"-"$tag"-manylinux*.whl 2>/dev/null | head -n 1 || true)
    [ -n "$whl" ] || { echo "no repaired wheel for Python $ver in $out (make wheel first)" >&2; exit 1; }
    echo "== $(basename "$whl") in a fresh Python $ver environment"
    tmp=$(mktemp -d)
    "$py" -m venv "$tmp/env"
    "$tmp/env/bin/python" -m pip install -q --only-binary :all: "$whl" pytest numpy hypothesis
    mkdir "$tmp/run"
    cp -r "$src/tests" "$src/examples" "$src/bench" "$tmp/run/"
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
