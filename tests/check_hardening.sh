#!/usr/bin/env bash
# Checks a built executable's ELF headers for the hardening the release
# build asks for: position independence, immediate binding with read-only
# relocations, a stack that cannot be executed, and the stack protector.
# With --static, also that it needs no ELF interpreter (no dynamic loader).
# Then checks on runs of it that these are in effect: a flag in the headers
# protects nothing unless the start-up code acts on it. With --emulator
# QEMU, for another architecture, the one run-time check is that RELRO is
# made read-only, which qemu's -strace shows: the memory map, the stack and
# the load address are then qemu's, not the kernel's.
set -u
static=0 emulator=""
while [ $# -gt 1 ]; do
    case $1 in
    --static) static=1; shift ;;
    --emulator) emulator=$2; shift 2 ;;
    *) break ;;
    esac
done
bin=${1:?usage: check_hardening.sh [--static] [--emulator QEMU] EXECUTABLE}
. "$(dirname "$0")/../.ci/report.sh"
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

# Then the effect, on runs of the program. A report far larger than a pipe
# holds blocks it in write(2) on a pipe that nobody reads, long after its
# start-up; its memory map then shows what the start-up left in force.
real=$(readlink -f "$bin")
blocked_maps() { # prints the memory map of a run blocked in write(2), or fails
    local work pid reader blocked=0
    work=$(mktemp -d)
    mkfifo "$work/pipe"
    sleep 60 <"$work/pipe" &
    reader=$!
    "$bin" $(seq 20000) >"$work/pipe" &
    pid=$!
    for _ in $(seq 100); do # until it has started and is blocked
        [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$real" ] &&
            [ "$(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null)" = S ] && { blocked=1; break; }
        sleep 0.1
    done
    [ $blocked = 1 ] && cat "/proc/$pid/maps"
    kill "$pid" "$reader" 2>/dev/null
    wait "$pid" "$reader" 2>/dev/null
    rm -rf "$work"
    [ $blocked = 1 ]
}
load_address() { # of the executable's first mapping, in a memory map
    local range off path
    while read -r range _ off _ _ path; do
        [ "$path" = "$real" ] && [ $((16#$off)) = 0 ] && { echo $((16#${range%-*})); return; }
    done <<<"$1"
    return 1
}
relro_read_only() { # GNU_RELRO's address and size, a memory map
    local page base start end p lo hi range perm ok
    page=$(getconf PAGESIZE)
    base=$(load_address "$3") || return 1
    start=$(( (base + $1) / page * page ))
    end=$(( (base + $1 + $2) / page * page ))
    [ $start -lt $end ] || return 1 # not one whole page to protect
    for ((p = start; p < end; p += page)); do
        ok=0
        while read -r range perm _; do
            lo=$((16#${range%-*})) hi=$((16#${range#*-}))
            [ $lo -le $p ] && [ $p -lt $hi ] && [[ $perm == r-* ]] && ok=1
        done <<<"$3"
        [ $ok = 1 ] || return 1
    done
}
relro=$(awk '$1 == "GNU_RELRO" { print $3, $6 }' <<<"$segments")
if [ -n "$emulator" ]; then
    # mprotect(ADDRESS,LENGTH,PROT_READ) = 0, ending where RELRO ends: the
    # load address is a multiple of the data segment's alignment.
    align=$(awk '$1 == "LOAD" && $7 ~ /W/ { print $NF }' <<<"$segments")
    relro_in_trace() { # GNU_RELRO's address and size, the trace
        local address length
        read -r address length < <(sed -n 's/.*mprotect(\(0x[0-9a-f]*\),\([0-9]*\),PROT_READ) = 0$/\1 \2/p' <<<"$3")
        [ -n "$address" ] && [ $(( (address + length) % align )) = $(( ($1 + $2) % align )) ] &&
            [ $(( address % 4096 )) = 0 ] && [ "$length" -ge "$(( $2 ))" ]
    }
    check "RELRO read-only at run time ($(basename "$emulator") -strace)" \
        relro_in_trace $relro "$("$emulator" -strace "$bin" 1 2>&1 >/dev/null)"
    finish
    exit
fi
# Without a run blocked in write(2) there is no map to read: say so, rather
# than report protections that were never seen.
if ! maps1=$(blocked_maps) || ! maps2=$(blocked_maps); then
    fail "the run-time checks could not run: $bin did not block writing a report to a pipe nobody reads"
    finish
fi
check "RELRO read-only at run time" relro_read_only $relro "$maps1"
check "stack not executable at run time" \
    awk '$NF == "[stack]" { found = 1; x = $2 ~ /x/ } END { exit !found || x }' <<<"$maps1"
check "loaded at a random address (two runs differ)" \
    bash -c '[ -n "$1" ] && [ -n "$2" ] && [ "$1" != "$2" ]' _ \
    "$(load_address "$maps1")" "$(load_address "$maps2")"
finish
