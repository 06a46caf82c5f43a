#!/usr/bin/env bash
# The README's `make test` for an interpreter this host lacks, run inside the
# Debian forky root (tools/debian.sh): `tools/test_debian.sh 3.14`. The
# environment and the build directory stay in the root between runs.
set -euo pipefail
cd "$(dirname "$0")/.."
ver=${1:?usage: tools/test_debian.sh 3.14|3.15 [pytest args]}
shift
case $ver in 3.14|3.15) ;; *) echo "Debian forky carries 3.14 and 3.15, not $ver" >&2; exit 2 ;; esac
exec tools/debian.sh run -- make test PYTHON="python$ver" VENV="/root/venv-$ver" \
    BUILD_DIR="/root/build-$ver" CI="${CI:-}" PYTEST_ARGS="$*"
