#!/usr/bin/env bash
# The test suite, built three ways: by the README's test command (the dev
# workflow), with clang++, and under AddressSanitizer and
# UndefinedBehaviorSanitizer; in the quick lane, the first alone.
. "$(dirname "$0")/lib.sh"
presets=(dev clang sanitize)
[ -z "${ARGREPORT_QUICK:-}" ] || presets=(dev)
for preset in "${presets[@]}"; do
    if out=$(cmake --workflow --preset "$preset" 2>&1); then
        ok "cmake --workflow --preset $preset: $(grep -o '[0-9]*% tests passed.*' <<<"$out")"
    else
        tail -n 60 <<<"$out"
        fail "cmake --workflow --preset $preset"
    fi
done
finish
