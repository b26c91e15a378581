#!/usr/bin/env bash
# The test suite, built three ways: by the README's test command (the dev
# workflow), run as the README shows it, with clang++, and under
# AddressSanitizer and UndefinedBehaviorSanitizer; in the quick lane, the
# first alone.
. "$(dirname "$0")/lib.sh"
runs=("$(doc_block README.md tests)") || { fail "the README's test command"; finish; }
[ -n "${ARGREPORT_QUICK:-}" ] || runs+=("cmake --workflow --preset clang" "cmake --workflow --preset sanitize")
for run in "${runs[@]}"; do
    if out=$(bash -e -c "$run" 2>&1); then
        ok "$run: $(grep -o '[0-9]*% tests passed.*' <<<"$out")"
    else
        tail -n 60 <<<"$out"
        fail "$run"
    fi
done
finish
