#!/usr/bin/env bash
# CI part: every number the documents give is checked against what makes
# it, or is a name or a place, or a dated measurement of the benchmark's
# table (docs/figures.py has the rules, and says why each). The numbers of
# the binaries are those of the release, built in the clone of this commit
# tagged vVERSION that .ci/lib.sh's tagged_tree keeps in build/tagged: the
# amd64 release, and the arm64 and ppc64el ones whose alignment the
# documents give. Nothing here depends on a tool's version or on when the
# commit was made, but what the documents say of it.
#   docs/check_figures.sh
. "$(dirname "$0")/../.ci/lib.sh"
tree=$(tagged_tree) || { fail "a clone tagged v$version in build/tagged"; finish; }
logged "cmake --workflow --preset release, tagged v$version" bash -c 'cd "$1" && cmake --workflow --preset release' _ "$tree" ||
    finish
for arch in arm64 ppc64el; do
    logged "ARGREPORT_TARGET=$arch cmake --workflow --preset release-cross, tagged v$version" \
        bash -c 'cd "$1" && ARGREPORT_TARGET=$2 cmake --workflow --preset release-cross' _ "$tree" "$arch" || finish
done
python3 docs/figures.py "$tree" || failures=$((failures + 1))
finish
