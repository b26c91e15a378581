#!/usr/bin/env bash
# Injects faults into the program's writes with strace, at every write of a
# report in turn, and checks what a user gets each time:
# - after an interruption (EINTR, or EAGAIN on a non-blocking pipe, then
#   EINTR in the poll that waits), the whole report, status 0, no message;
# - after a failure (EIO, ENOSPC, EPIPE with SIGPIPE ignored, a write that
#   returns 0, EAGAIN and then a poll that fails), standard output holds
#   exactly what the writes before it took, nothing more is written to it,
#   and the status is 1 with the message;
# - when the message's own write fails too, status 1 all the same;
# - a message whose write is interrupted, the usage message or the one
#   about a standard output that refuses everything, goes out whole;
# - when the mprotect that makes RELRO read-only is refused, as a seccomp
#   filter may refuse it, the whole report, status 0, no message.
# These are the branches no real sink reaches on demand. With --emulator
# QEMU, the program runs under qemu's user-mode emulation, whose host write,
# poll and mprotect calls are the ones strace sees and fails.
set -u
emulator=()
if [ "${1-}" = --emulator ]; then emulator=("$2"); shift 2; fi
bin=${1:?usage: check_faults.sh [--emulator QEMU] EXECUTABLE}
. "$(dirname "$0")/../.ci/report.sh"
command -v strace >/dev/null || { fail "strace is not installed"; finish; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
message=$'error: 写入标准输出失败!'
usage=$'error: 命令行参数个数错误!'
# A report of several buffers' worth, with an entry larger than the buffer
# in the middle: it leaves the program in a direct write of its own.
args=(7 "$(printf '%20000s' | tr ' ' x)" $(seq 3000))
runs=0

# One run under strace: how standard output is taken (file, nonblocking
# pipe, or /dev/full), then the rules to inject. Leaves out, err, status and
# the trace.
traced() {
    local sink=$1; shift
    local injections=()
    for rule in "$@"; do injections+=(-e "inject=$rule"); done
    runs=$((runs + 1))
    rm -f "$work/out" "$work/err" "$work/trace"
    if [ "$sink" = pipe ]; then
        # perl sets O_NONBLOCK on the pipe's open file, which the program
        # inherits; cat reads at its own pace.
        { timeout 30 perl -MFcntl -e 'fcntl(STDOUT, F_SETFL, fcntl(STDOUT, F_GETFL, 0) | O_NONBLOCK) or die; exec @ARGV' \
            strace -f -qq -e signal=none -e trace=write,poll,ppoll,mprotect -s 0 -o "$work/trace" "${injections[@]}" \
            "${emulator[@]}" "$bin" "${args[@]}" 2>"$work/err"
          echo $? >"$work/status"; } | cat >"$work/out"
    else
        local to=$work/out
        [ "$sink" != full ] || to=/dev/full
        (trap '' PIPE; exec timeout 30 strace -f -qq -e signal=none -e trace=write,poll,ppoll,mprotect -s 0 \
            -o "$work/trace" "${injections[@]}" "${emulator[@]}" "$bin" "${args[@]}" >"$to" 2>"$work/err")
        echo $? >"$work/status"
    fi
    status=$(cat "$work/status")
}
# What the writes to standard output took before the first injected one, and
# how many writes to it came after that one.
written_before_fault() {
    sed 's/^[0-9]* *//' "$work/trace" | awk -F' = ' '
        /^write\(1,/ && /INJECTED/ && !f { f = 1; next }
        /^write\(1,/ { if (f) after++; else n += $2 }
        END { print n + 0, after + 0 }'
}

traced file
expected=$work/expected
cp "$work/out" "$expected"
writes=$(grep -c 'write(1,' "$work/trace")
if [ "$status" != 0 ] || [ "$writes" -lt 4 ]; then
    fail "a run without faults: status $status, $writes writes to standard output"
    finish
fi
# The program's own mprotect is the last one its thread makes before its
# first write (an emulator makes its own before it starts the program):
# which of that thread's mprotect calls it is, as strace's when= counts.
protect=$(awk '$2 ~ /^mprotect\(/ { n[$1]++ } $2 ~ /^write\(1,/ { print n[$1] + 0; exit }' "$work/trace")

for ((n = 1; n <= writes; n++)); do
    for fault in EINTR EAGAIN EAGAIN+poll EIO ENOSPC EPIPE retval=0 EAGAIN+EINVAL; do
        case $fault in
        EINTR) traced file "write:error=EINTR:when=$n" ;;
        EAGAIN) traced pipe "write:error=EAGAIN:when=$n" ;;
        EAGAIN+poll) traced pipe "write:error=EAGAIN:when=$n" "poll,ppoll:error=EINTR:when=1" ;;
        # Into a file, where no write blocks, so that the only poll is the
        # one after the write made to fail.
        EAGAIN+EINVAL) traced file "write:error=EAGAIN:when=$n" "poll,ppoll:error=EINVAL" ;;
        retval=0) traced file "write:retval=0:when=$n" ;;
        *) traced file "write:error=$fault:when=$n" ;;
        esac
        what="$fault at write $n of $writes"
        case $fault in
        EINTR | EAGAIN | EAGAIN+poll)
            [ "$status" = 0 ] || fail "$what: status $status, not 0"
            cmp -s "$work/out" "$expected" || fail "$what: standard output is not the whole report"
            [ ! -s "$work/err" ] || fail "$what: standard error says $(head -c 200 "$work/err")"
            if [ "$fault" = EAGAIN+poll ] && ! grep -q 'poll.*EINTR.*INJECTED' "$work/trace"; then
                fail "$what: no poll followed the EAGAIN"
            fi
            ;;
        *)
            if [ "$fault" = EAGAIN+EINVAL ] && ! grep -q 'poll.*EINVAL.*INJECTED' "$work/trace"; then
                fail "$what: no poll followed the EAGAIN"
            fi
            read -r before after < <(written_before_fault)
            [ "$status" = 1 ] || fail "$what: status $status, not 1"
            [ "$(cat "$work/err")" = "$message" ] || fail "$what: standard error says $(head -c 200 "$work/err")"
            cmp -s "$work/out" <(head -c "$before" "$expected") ||
                fail "$what: standard output is not the report's first $before bytes ($(stat -c %s "$work/out") bytes)"
            [ "$after" = 0 ] || fail "$what: $after more writes to standard output after it"
            ;;
        esac
    done
done

# RELRO stays writable, and the report goes out all the same. A dynamically
# linked build's RELRO is its loader's to protect (and glibc's loader stops
# when it cannot): only a static build makes the call itself.
if readelf -lW "$bin" | grep -q 'Requesting program interpreter'; then
    echo "note: $bin is linked dynamically: no mprotect of its own to refuse"
elif [ "$protect" = 0 ]; then
    fail "no mprotect before the report's first write"
else
    traced file "mprotect:error=EPERM:when=$protect"
    what="EPERM at mprotect $protect"
    [ "$status" = 0 ] || fail "$what: status $status, not 0"
    cmp -s "$work/out" "$expected" || fail "$what: standard output is not the whole report"
    [ ! -s "$work/err" ] || fail "$what: standard error says $(head -c 200 "$work/err")"
    grep -q '^[0-9]* *mprotect(.*PROT_READ) = -1 EPERM .*INJECTED' "$work/trace" ||
        fail "$what: no mprotect to read-only was the one refused"
fi

# Standard output fails, and then so does the message about it.
traced file "write:error=EIO:when=1+"
[ "$status" = 1 ] || fail "EIO at every write: status $status, not 1"
[ ! -s "$work/out" ] && [ ! -s "$work/err" ] || fail "EIO at every write: something was written"

# The messages' own writes interrupted, then failed: the usage message, the
# first write of a run with no argument, and the one that follows a report
# refused whole. Interrupted, each goes out whole; failed, the status is 1.
message_fault() { # which write, the message, then the arguments
    local when=$1 want=$2 fault what
    shift 2
    args=("$@")
    for fault in EINTR EIO; do
        traced full "write:error=$fault:when=$when"
        what="$fault at the message's write, with ${*:-no argument}"
        [ "$status" = 1 ] || fail "$what: status $status, not 1"
        [ "$fault" = EIO ] && want=
        [ "$(cat "$work/err")" = "$want" ] || fail "$what: standard error says $(head -c 200 "$work/err")"
        grep -q "^[0-9]* *write(2,.*$fault.*INJECTED" "$work/trace" ||
            fail "$what: the message's write was not the one injected"
    done
}
message_fault 1 "$usage"
message_fault 2 "$message" 42

[ "$failures" != 0 ] ||
    ok "$runs runs with faults injected into $writes writes, the polls that wait on them and the mprotect before them: every one as the contract says"
finish
