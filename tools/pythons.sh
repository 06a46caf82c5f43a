#!/usr/bin/env bash
# Prints one CPython interpreter per supported minor version found on this
# machine (pyenv's newest patch release first, then PATH), as "3.12 /path".
# With version arguments (3.12 3.13), only those.
set -euo pipefail
versions=("$@")
[ ${#versions[@]} -gt 0 ] || versions=(3.11 3.12 3.13 3.14)
root=""
command -v pyenv >/dev/null 2>&1 && root=$(pyenv root 2>/dev/null || true)
for ver in "${versions[@]}"; do
    py=""
    if [ -n "$root" ]; then
        v=$(pyenv versions --bare 2>/dev/null | grep -E "^${ver//./\\.}(\.[0-9]+)?$" | sort -V | tail -n 1 || true)
        [ -n "$v" ] && [ -x "$root/versions/$v/bin/python$ver" ] && py="$root/versions/$v/bin/python$ver"
    fi
    if [ -z "$py" ] && command -v "python$ver" >/dev/null 2>&1 && "python$ver" -V >/dev/null 2>&1; then
        py=$(command -v "python$ver")
    fi
    [ -n "$py" ] && echo "$ver $py"
done
exit 0
