#!/usr/bin/env bash
# The release's packages of every architecture, and its source release, are
# the same built elsewhere, later, on tmpfs, under other umasks and from
# the source tarball (packaging/packages/check_reproducible.sh): the
# release's, as the clone tagged as a release (build/tagged) builds them,
# where the arches part has built them already.
. "$(dirname "$0")/lib.sh"
tree=$(tagged_tree) || { fail "a clone tagged v$version"; finish; }
# shellcheck source=.ci/lib.sh
. "$tree/.ci/lib.sh"
mapfile -t arches < <(foreign_targets | cut -d' ' -f1)
packaged amd64 "${arches[@]}" || finish
packaging/packages/check_reproducible.sh "${arches[@]}" || fail "packaging/packages/check_reproducible.sh ${arches[*]}"
logged "sha256sum -c build/dist/SHA256SUMS" bash -c 'cd build/dist && sha256sum -c SHA256SUMS'
finish
