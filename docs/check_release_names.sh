#!/usr/bin/env bash
# CI part: the documents give a release's names, and each of them is a file
# that the release writes, compared whole (docs/documents.py names-check
# says how a name is read). The release is the commit checked out, in the
# clone of it tagged vVERSION that .ci/lib.sh's tagged_tree keeps in
# build/tagged (uncommitted changes are not in it), where the documents'
# own commands build it as typed: the packages, arm64's as
# docs/architectures.md builds them, and the source release; then the SBOM
# and VEX of amd64, which packaging/release/release.sh would write from
# them, read by docs/releasing.md's commands. The names that only a whole
# release has (the image archive, the checksums, the provenance, the
# signatures) are compared with those release.sh --names gives.
#   docs/check_release_names.sh
. "$(dirname "$0")/../.ci/lib.sh"
mapfile -t docs < <(documents | grep -v '^docs/launchers')
# The targets' names and build folders that docs/architectures.md's table
# gives are cmake/musl.cmake's.
check "docs/architectures.md's table gives each target's names and build folder as cmake/musl.cmake does" \
    diff <(all_targets | awk '{ print $1, $4, $8 }') \
    <(sed -n 's/^| \([a-z0-9]*\) | \([a-z0-9_]*\) | `\([^`]*\)` |.*/\1 \2 \3/p' docs/architectures.md)
tree=$(tagged_tree) || { fail "a clone tagged v$version in build/tagged"; finish; }
cd "$tree" || finish
check "the clone tagged v$version names itself $version" test "$(cmake -P cmake/version.cmake)" = "$version"
pv=${package_version/#"$release"/$version}

logged "cmake --workflow --preset package" cmake --workflow --preset package || finish
release=$version has_note build/release/argreport
# docs/architectures.md's build of arm64, and the places its comments name.
arm64=$(doc_block docs/architectures.md arm64) || fail "docs/architectures.md's arm64 block"
logged "docs/architectures.md's commands to build arm64" bash -e -c "$arm64" || finish
for made in $(sed -n 's/.*# //p' <<<"$arm64"); do
    check "$made is there, as docs/architectures.md says" test -e "$made"
done
# The source release, as docs/building.md and docs/releasing.md build it.
dist=$(doc_block docs/building.md dist) || fail "docs/building.md's dist block"
check "docs/releasing.md builds the source release with docs/building.md's command" \
    test "$(doc_block docs/releasing.md dist)" = "$dist"
logged "$dist" bash -e -c "$dist" || finish

# The SBOM and VEX of amd64, as packaging/release/release.sh writes them from
# its build, for docs/releasing.md's commands to read; the image archive,
# which would only add the image's digest, is left to the release.
publish=build/publish-names
rm -rf "$publish"
mkdir -p "$publish"
cp "build/dist/argreport-$version.tar.gz" build/release/packages/argreport[-_]"$pv"[._-]*[mbz] "$publish/"
logged "packaging/release/sbom.py build/release $publish" python3 packaging/release/sbom.py build/release "$publish"
# docs/releasing.md's command that lists what of musl the binary holds.
sbom=$(doc_block docs/releasing.md sbom) || fail "docs/releasing.md's sbom block"
if members=$(cd "$publish" && bash -e -o pipefail -c "$sbom" 2>&1) && grep -q 'libc\.a\|\.o$' <<<"$members" &&
   ! grep -q iconv <<<"$members"; then
    ok "docs/releasing.md's command lists what of musl the amd64 binary holds, and none of it is iconv's"
else
    echo "$members"
    fail "docs/releasing.md's command on the amd64 SBOM: its output, above, lists no member of libc.a, or one of iconv's"
fi

# And its command that says what the VEX beside it says of musl's iconv,
# which the binary does not link.
vex=$(doc_block docs/releasing.md vex) || fail "docs/releasing.md's vex block"
if said=$(cd "$publish" && bash -e -o pipefail -c "$vex" 2>&1) &&
   grep -qx 'CVE-2025-26519 not_affected code_not_present' <<<"$said"; then
    ok "docs/releasing.md's command on the amd64 VEX says the binary is not affected by musl's iconv flaw"
else
    echo "$said"
    fail "docs/releasing.md's command on the amd64 VEX: its output, above, does not say iconv's flaw is not present"
fi

# What a whole release writes, signed, as release.sh names it without
# building; the publish part holds the release to those names.
logged "packaging/release/release.sh --names" bash -c 'ARGREPORT_SIGNING_KEY=key packaging/release/release.sh --names >"$1"' _ \
    "$publish/release.names" || finish
cd "$top" || finish
python3 docs/documents.py names-check "$tree" "$version" "$(all_targets)" "$tree/$publish/release.names" "${docs[@]}" ||
    failures=$((failures + 1))
# A snapshot's name, which the README gives as VERSION~gitDATE.COMMIT (and
# +git after VERSION's release), is what cmake/version.cmake makes of a
# commit between releases, as this tree's is when it is one.
[ "$release" = "$version" ] || check "this snapshot's name, $release, is VERSION~gitDATE.COMMIT or VERSION+gitDATE.COMMIT" \
    grep -qxE "${version//./\\.}[~+]git[0-9]{8}\.[0-9a-f]{7}" <<<"$release"
finish
