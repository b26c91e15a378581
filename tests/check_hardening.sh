#!/usr/bin/env bash
# Checks a built executable's ELF headers for the hardening the release
# build asks for: position independence, immediate binding with read-only
# relocations, a stack that cannot be executed, and the stack protector.
# With --static, also that it needs no ELF interpreter (no dynamic loader).
set -u
static=0
if [ "${1:-}" = --static ]; then static=1; shift; fi
bin=${1:?usage: check_hardening.sh [--static] EXECUTABLE}
fail=0
check() { # description, then a command that must succeed
    local what=$1; shift
    if "$@" >/dev/null 2>&1; then echo "ok: $what"; else echo "FAILED: $what"; fail=1; fi
}
header=$(readelf -hW "$bin") || exit 1
dynamic=$(readelf -dW "$bin")
segments=$(readelf -lW "$bin")
symbols=$(readelf -sW "$bin")
check "position-independent executable" \
    grep -Eq 'Type: +DYN' <<<"$header"
check "marked PIE" grep -Eq 'FLAGS_1.*PIE' <<<"$dynamic"
check "immediate binding (BIND_NOW)" grep -Eq 'BIND_NOW|FLAGS_1.* NOW' <<<"$dynamic"
check "read-only relocations (GNU_RELRO)" grep -q 'GNU_RELRO' <<<"$segments"
check "non-executable stack" \
    awk '$1 == "GNU_STACK" { found = 1; rwx = $7 ~ /E/ } END { exit !found || rwx }' <<<"$segments"
check "stack protector (__stack_chk_fail)" grep -q '__stack_chk_fail' <<<"$symbols"
if [ $static = 1 ]; then
    check "no ELF interpreter (static)" bash -c '! grep -q INTERP <<<"$1"' _ "$segments"
    check "no shared libraries needed" bash -c '! grep -q NEEDED <<<"$1"' _ "$dynamic"
fi
exit $fail
