# Sourced by every CI part, never run. A part prints "ok: ..." for each
# check that holds and "FAILED: ..." for each that does not, goes on to its
# other checks, and ends with `finish`, which exits non-zero if any failed.
# shellcheck shell=bash
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
failures=0
ok() { echo "ok: $*"; }
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
check() { # description, then a command that must succeed
    local what=$1
    shift
    if "$@" >/dev/null 2>&1; then ok "$what"; else fail "$what"; fi
}
finish() {
    [ "$failures" = 0 ] || { echo "$failures check(s) failed"; exit 1; }
}
version=$(sed -n 's/^project(argreport VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
