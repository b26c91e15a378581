#!/usr/bin/env bash
# Makes the whole release of the commit checked out, into build/publish/:
#   argreport-NAME.tar.gz                   the source release
#   every architecture's .deb, .rpm and binary tarball
#   argreport-NAME-oci.tar                  the images and their list (an OCI layout)
#   argreport-NAME-ARCH.cdx.json            each architecture's SBOM (CycloneDX 1.6)
#   argreport-NAME.intoto.jsonl             the provenance (in-toto, SLSA v1)
#   SHA256SUMS                              over all of them
#   SHA256SUMS.asc, argreport-NAME.tar.gz.asc
#                                           detached signatures, with a key
# NAME is the version on a release's tag, a snapshot's name elsewhere (see
# packaging/release/version.cmake). The SBOMs name each architecture's image by its
# id, the digest of its configuration, which the archive's image has too.
#
#   [ARGREPORT_SIGNING_KEY=KEY] [ARGREPORT_PACKAGE_REVISION=N] packaging/release/release.sh [ARCH...]
#
# KEY is any name gpg takes for a secret key of the caller's keyring
# (GNUPGHOME is honoured); without it nothing is signed. N is the packages'
# revision, 1 by default. ARCH are Debian's names, all by default; a
# release is all of them.
set -euo pipefail
cd "$(dirname "$0")/../.."
arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(amd64 arm64 armhf i386 ppc64el s390x)
revision=${ARGREPORT_PACKAGE_REVISION:-1}
publish=build/publish
say() { echo "release.sh: $*" >&2; }
field() { python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' "$1" "$2"; }

if [ -n "${ARGREPORT_SIGNING_KEY:-}" ]; then
    # Before building anything: a key that cannot sign stops the release.
    gpg --batch --list-secret-keys "$ARGREPORT_SIGNING_KEY" >/dev/null \
        || { say "no secret key '$ARGREPORT_SIGNING_KEY' in ${GNUPGHOME:-~/.gnupg}"; exit 1; }
fi
[ -z "$(git status --porcelain --untracked-files=no)" ] \
    || { say "the checkout has uncommitted changes, which no release may hold"; exit 1; }

cmake --workflow --preset dist >/dev/null
name=$(cmake -P packaging/release/version.cmake)
rm -rf "$publish"
mkdir -p "$publish"
cp "build/dist/argreport-$name.tar.gz" "$publish/"
say "argreport $name, packages revision $revision, for ${arches[*]}"

presets=()
for arch in "${arches[@]}"; do
    if [ "$arch" = amd64 ]; then build=build/release package=package; else build=build/release-$arch package=package-$arch; fi
    # The revision is the build's cache variable; set on each run, so that
    # an earlier one's stays out.
    cmake --preset "${build#build/}" "-DARGREPORT_PACKAGE_REVISION=$revision" >/dev/null
    cmake --workflow --preset "$package" >/dev/null
    [ "$(field "$build/release.json" version)" = "$name" ] \
        || { say "$build names $(field "$build/release.json" version), not $name"; exit 1; }
    package_version=$(field "$build/release.json" package_version)
    rpm_arch=$(field "$build/release.json" rpm_arch)
    machine=$(field "$build/release.json" machine)
    for f in "argreport_${package_version}_$arch.deb" "argreport-$name-$revision.$rpm_arch.rpm" \
             "argreport-$name-linux-$machine.tar.gz"; do
        cp "$build/packages/$f" "$publish/"
    done
    presets+=("$package")
done

images=()
if command -v podman >/dev/null && command -v buildah >/dev/null; then
    packaging/image/build-images.sh "${arches[@]}" >/dev/null
    for arch in "${arches[@]}"; do
        images+=("$(podman image inspect --format '{{.Id}}' "localhost/argreport:${name//+/_}-$arch")")
    done
    cp "build/images/argreport-$name-oci.tar" "$publish/"
else
    say "podman or buildah is not installed: no images are built or published, and the SBOMs name none"
fi

for i in "${!arches[@]}"; do
    arch=${arches[$i]}
    if [ "$arch" = amd64 ]; then build=build/release; else build=build/release-$arch; fi
    python3 packaging/release/sbom.py "$build" "$publish" ${images[$i]:+"${images[$i]}"} >/dev/null
done
python3 packaging/release/provenance.py "$publish" "${presets[@]}" >/dev/null

(cd "$publish" && find . -maxdepth 1 -type f -printf '%f\n' | LC_ALL=C sort | xargs sha256sum >../SHA256SUMS.new)
mv build/SHA256SUMS.new "$publish/SHA256SUMS"

if [ -n "${ARGREPORT_SIGNING_KEY:-}" ]; then
    for f in SHA256SUMS "argreport-$name.tar.gz"; do
        gpg --batch --yes --quiet --local-user "$ARGREPORT_SIGNING_KEY" --armor --detach-sign \
            --output "$publish/$f.asc" "$publish/$f"
    done
    say "signed SHA256SUMS and argreport-$name.tar.gz with $ARGREPORT_SIGNING_KEY"
else
    say "ARGREPORT_SIGNING_KEY is not set: nothing is signed"
fi
ls -1 "$publish"
