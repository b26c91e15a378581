# How every check reports, sourced by the CI parts (through .ci/lib.sh) and
# by the checks that also run alone, never run itself: "ok: ..." for each
# check that holds and "FAILED: ..." for each that does not, going on to the
# others, and `finish` at the end, which exits non-zero if any failed.
# shellcheck shell=bash
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

# As check, but the command's output is shown when it fails, and its status
# returned: `logged ... || finish` ends a part that cannot go on without it.
logged() { # description, then a command that must succeed
    local what=$1 log
    shift
    log=$(mktemp)
    if "$@" >"$log" 2>&1; then
        ok "$what"
        rm -f "$log"
    else
        tail -n 40 "$log"
        fail "$what"
        rm -f "$log"
        return 1
    fi
}
