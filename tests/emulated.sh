#!/usr/bin/env bash
# Runs a command where a binary of one of cmake/musl.cmake's targets runs:
# natively when the kernel runs it, otherwise under qemu-user through a
# binfmt_misc entry that only this command and its children see.
#   tests/emulated.sh ARCH BINARY COMMAND...     (ARCH: Debian's name)
#   tests/emulated.sh --native BINARY            (status 0 if the kernel runs it)
# Since Linux 6.7 a user namespace may mount a binfmt_misc instance of its
# own, consulted before the machine's for the processes inside it: the entry
# is registered there, with argv[0] passed as given (P, which the suite
# checks), and goes with the namespace when the command ends. Nothing on the
# machine is changed, no other tree's binaries run through it, and it needs
# no root. With no entry registered in the instance, BINARY running at all
# says that the kernel runs it natively (i386 on most x86-64 kernels), and
# then nothing is registered.
set -euo pipefail
[ $# -ge 3 ] || { [ $# = 2 ] && [ "$1" = --native ]; } ||
    { echo "usage: $0 ARCH BINARY COMMAND... | $0 --native BINARY" >&2; exit 2; }
here=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${ARGREPORT_EMULATED:-}" ]; then
    ARGREPORT_EMULATED=1 exec unshare --user --map-root-user --mount -- "$0" "$@"
fi
mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
if [ "$1" = --native ]; then
    exec "$2" 1 >/dev/null 2>&1
fi
arch=$1 bin=$2
shift 2
qemu=$(cmake -P "$here/cmake/musl.cmake" | awk -v arch="$arch" '$1 == arch { print $7 }')
[ -n "$qemu" ] || { echo "$0: $arch is none of the targets in cmake/musl.cmake" >&2; exit 2; }
if ! "$bin" 1 >/dev/null 2>&1; then
    emulator=$(command -v "qemu-$qemu-static") ||
        { echo "$0: qemu-$qemu-static, which runs $arch binaries, was not found (Debian: qemu-user-static)" >&2; exit 1; }
    rule=/usr/lib/binfmt.d/qemu-$qemu.conf
    if [ -f "$rule" ]; then
        line=$(awk -F: -v OFS=: -v q="$emulator" '{ $7 = q; $8 = "POF"; print }' "$rule")
    elif [ "$qemu" = i386 ]; then # qemu ships no rule for what x86-64 kernels usually run
        line=":qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$emulator:POF"
    else
        echo "$0: no binfmt_misc rule for qemu-$qemu ($rule)" >&2
        exit 1
    fi
    echo "$line" >/proc/sys/fs/binfmt_misc/register
    "$bin" 1 >/dev/null 2>&1 || { echo "$0: $bin does not run, not even under $emulator" >&2; exit 1; }
fi
unset ARGREPORT_EMULATED
exec "$@"
