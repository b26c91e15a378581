#!/usr/bin/env bash
# CI part: every number the documents give is checked against what makes
# it, or is a name or a place, or a dated measurement of the benchmark's
# table (docs/figures.py has the rules, and says why each). The numbers of
# the binaries are those of this tree's release builds, whatever name the
# tree gives them: the amd64 release, and the arm64 and ppc64el ones whose
# alignment the documents give, built as CI's other parts build them. Nothing here depends on a tool's version or on when the commit was
# made, but what the documents say of it.
#   docs/check_figures.sh
. "$(dirname "$0")/../.ci/lib.sh"
logged "cmake --workflow --preset release" cmake --workflow --preset release || finish
for arch in arm64 ppc64el; do
    logged "ARGREPORT_TARGET=$arch cmake --workflow --preset release-cross" \
        env ARGREPORT_TARGET="$arch" cmake --workflow --preset release-cross || finish
done
mapfile -t english < <(documents | grep -vE 'zh[-_]CN')
python3 docs/figures.py "$PWD" "${english[@]}" || failures=$((failures + 1))
finish
