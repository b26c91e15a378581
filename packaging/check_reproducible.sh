#!/usr/bin/env bash
# Builds the committed tree's artefacts twice, from clones at different
# paths, at different times, the second under umask 002, with no
# SOURCE_DATE_EPOCH, and checks that they are byte for byte the same as
# the ones in build/release (made by `cmake --workflow --preset package`).
set -euo pipefail
cd "$(dirname "$0")/.."
unset SOURCE_DATE_EPOCH
artefacts=(argreport argreport_1.0.0_amd64.deb argreport-1.0.0-1.x86_64.rpm
           argreport-1.0.0-linux-x86_64.tar.gz)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git clone -q . "$work/one"
git clone -q . "$work/a/much/longer/path/two"
for clone in "$work/one" "$work/a/much/longer/path/two"; do
    sleep 1 # a second apart, so that no build time can hide
    if [ "$clone" = "$work/one" ]; then mask=022; else mask=002; fi
    (cd "$clone" && umask $mask && cmake --workflow --preset package >/dev/null)
    for f in "${artefacts[@]}"; do
        if cmp "build/release/$f" "$clone/build/release/$f"; then
            echo "ok: $f is the same from $clone (umask $mask)"
        else
            echo "FAILED: $f differs when built in $clone (umask $mask)"
            exit 1
        fi
    done
done
