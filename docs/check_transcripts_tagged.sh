#!/usr/bin/env bash
# CI part: the documents show a release's names, so their commands and
# transcripts run on a release too: docs/check_transcripts.sh, as it is in
# the commit checked out, in a temporary clone of that commit tagged
# vVERSION (uncommitted changes are not in it), where the build names itself
# VERSION and no output may differ from what is shown.
#   docs/check_transcripts_tagged.sh [DOCUMENT...]    (all of them by default)
. "$(dirname "$0")/../.ci/lib.sh"
scratch
tagged_clone "$work/release" || { fail "a clone tagged v$version"; finish; }
name=$(cd "$work/release" && cmake -P cmake/version.cmake)
check "the clone tagged v$version builds $version (it says $name)" test "$name" = "$version"
bash "$work/release/docs/check_transcripts.sh" "$@" || failures=$((failures + 1))
finish
