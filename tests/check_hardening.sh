#!/usr/bin/env bash
# Checks a built executable's ELF headers for the hardening the release
# build asks for: position independence, immediate binding with read-only
# relocations, and a stack that cannot be executed.
set -u
bin=${1:?usage: check_hardening.sh EXECUTABLE}
fail=0
check() { # description, then a command that must succeed
    local what=$1; shift
    if "$@" >/dev/null 2>&1; then echo "ok: $what"; else echo "FAILED: $what"; fail=1; fi
}
header=$(readelf -hW "$bin") || exit 1
dynamic=$(readelf -dW "$bin")
segments=$(readelf -lW "$bin")
check "position-independent executable" \
    grep -Eq 'Type: +DYN' <<<"$header"
check "marked PIE" grep -Eq 'FLAGS_1.*PIE' <<<"$dynamic"
check "immediate binding (BIND_NOW)" grep -Eq 'BIND_NOW|FLAGS_1.* NOW' <<<"$dynamic"
check "read-only relocations (GNU_RELRO)" grep -q 'GNU_RELRO' <<<"$segments"
check "non-executable stack" \
    awk '$1 == "GNU_STACK" { found = 1; rwx = $7 ~ /E/ } END { exit !found || rwx }' <<<"$segments"
exit $fail
