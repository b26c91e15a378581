#!/usr/bin/env bash
# Makes the whole release of the commit checked out, into build/publish/:
#   argreport-NAME.tar.gz                   the source release
#   argreport-PV.src.rpm                    the source RPM the RPMs name
#   every architecture's .deb, .rpm and binary tarball
#   argreport-PV-oci.tar                    the images and their list (an OCI layout)
#   argreport-PV-ARCH.cdx.json              each architecture's SBOM (CycloneDX 1.6)
#   argreport-PV-ARCH.vex.cdx.json          and its VEX, about the musl it links
#   argreport-PV.intoto.jsonl               the provenance (in-toto, SLSA v1), in a
#                                           DSSE envelope signed with the key
#   dists/, repodata/                       an APT and an RPM repository over the
#                                           packages (repositories.sh)
#   argreport-NAME.tar.gz.asc               the tarball's detached signature
#   argreport-PV.SHA256SUMS                 over every file in the folder
#   argreport-PV.SHA256SUMS.asc             and its detached signature
# after testing every architecture's binary: nothing is signed, the RPMs and
# the repositories included, unless all of it passes. PV is the packages'
# version, NAME-0upstreamN: every file whose bytes a rebuild changes
# carries it. NAME is the version on a release's tag, a snapshot's name
# elsewhere (see cmake/version.cmake). Every signature is dated by the
# release itself (sign.sh), so that signing it again gives the same bytes.
#
#   [ARGREPORT_SIGNING_KEY=KEY] [ARGREPORT_PACKAGE_REVISION=N] packaging/release/release.sh [--names] [ARCH...]
#
# KEY is any name gpg takes for a secret key of the caller's keyring
# (GNUPGHOME is honoured); without it nothing is signed. N is the packages'
# revision, 1 by default; a rebuild (N > 1) is dated by SOURCE_DATE_EPOCH,
# which it needs, and signs its checksums, not the tarball again. ARCH are
# Debian's names, all of cmake/musl.cmake's by default; a release is all
# of them. Fewer make a trial, whose files that depend on which
# architectures it holds (checksums, images, provenance) are named
# argreport-PV-only-ARCH-ARCH...: never under the release's names. With
# --names it builds nothing and prints the names of the files at the top
# of the folder it would write.
set -euo pipefail
cd "$(dirname "$0")/../.."
names_only=
if [ "${1:-}" = --names ]; then names_only=1; shift; fi
# The targets of cmake/musl.cmake: the architecture, ..., its build folder
# and its workflows, by architecture.
declare -A target
every=()
while read -r arch row; do target[$arch]="$arch $row" every+=("$arch"); done < <(cmake -P cmake/musl.cmake)
arches=()
for arch in "${every[@]}"; do # in the table's order, each once
    [ $# -gt 0 ] && [[ " $* " != *" $arch "* ]] || arches+=("$arch")
done
for arch in "$@"; do
    [ -n "${target[$arch]:-}" ] || { echo "release.sh: $arch is none of the targets in cmake/musl.cmake" >&2; exit 2; }
done
trial=
[ ${#arches[@]} = ${#every[@]} ] || trial=-only-$(IFS=-; echo "${arches[*]}")
revision=${ARGREPORT_PACKAGE_REVISION:-1}
publish=build/publish
say() { echo "release.sh: $*" >&2; }
field() { jq -er ".$2" "$1"; }
# An architecture's packages, as its build names them.
packages_of() { # arch
    local machine rpm_arch
    read -r _ _ _ machine rpm_arch _ <<<"${target[$1]}"
    printf '%s\n' "argreport_${version}_$1.deb" "argreport-$version.$rpm_arch.rpm" \
        "argreport-$version-linux-$machine.tar.gz"
}
# A build is configured again only for another revision; the revision is
# its cache variable, set where it holds another, so that an earlier one's
# stays out.
configured() { # preset, build folder
    grep -qx "ARGREPORT_PACKAGE_REVISION:STRING=$revision" "$2/CMakeCache.txt" 2>/dev/null ||
        cmake --preset "$1" "-DARGREPORT_PACKAGE_REVISION=$revision" >/dev/null
}

if [ -n "${ARGREPORT_SIGNING_KEY:-}" ] && [ -z "$names_only" ]; then
    # Before building anything: a key that cannot sign stops the release.
    gpg --batch --list-secret-keys "$ARGREPORT_SIGNING_KEY" >/dev/null \
        || { say "no secret key '$ARGREPORT_SIGNING_KEY' in ${GNUPGHOME:-~/.gnupg}"; exit 1; }
fi
# Nothing but the commit: a changed or untracked file could reach an
# artefact (a stray packaging/source-release.cmake would rename them all).
# Ignored files (build/) are not listed.
stray=$(git status --porcelain --untracked-files=all)
if [ -n "$stray" ]; then
    say "the checkout holds changed or untracked files, which no release may hold:"
    echo "$stray" >&2
    exit 1
fi

# Each architecture's binary is tested before anything is signed: the suite,
# built by the dev preset, run against it in one process, and
# tests/check_hardening.sh and tests/check_faults.sh, natively or under qemu.
# The suite runs a foreign binary through a binfmt_misc entry that only it
# sees (tests/emulated.sh): no other program on the machine runs under qemu
# because of it.
logs=build/release-tests
logged() { # log name, command...: its output goes to the log, shown if it fails
    local log=$logs/$1
    shift
    if ! "$@" >"$log" 2>&1; then
        tail -n 40 "$log" >&2
        say "FAILED, so nothing is signed: $* (all of it in $log)"
        exit 1
    fi
}
tested() { # Debian's name for the architecture, the binary
    local arch=$1 bin=$2 qemu emulator=()
    read -r _ _ _ _ _ _ qemu _ <<<"${target[$arch]}"
    if ! tests/emulated.sh --native "$bin"; then
        command -v "qemu-$qemu-static" >/dev/null \
            || { say "qemu-$qemu-static, which runs the $arch binary, was not found"; exit 1; }
        emulator=(--emulator "$(command -v "qemu-$qemu-static")")
    fi
    # The suite first, and it stops at its first failure: a wrong binary
    # is told quickly.
    logged "$arch-suite.log" tests/emulated.sh "$arch" "$bin" env ARGREPORT_UNDER_TEST="$PWD/$bin" \
        build/dev/tests/argreport_test --gtest_fail_fast
    logged "$arch-hardening.log" tests/check_hardening.sh --static "${emulator[@]}" "$bin"
    logged "$arch-faults.log" tests/check_faults.sh "${emulator[@]}" "$bin"
    say "$arch: the suite, tests/check_hardening.sh and tests/check_faults.sh pass on $bin"
}

# Revision 1 is dated by its commit; a rebuild by the rebuilder's
# SOURCE_DATE_EPOCH, which configuring asks for.
if [ "$revision" = 1 ] && [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    say "SOURCE_DATE_EPOCH is not used for revision 1, which its commit dates"
    unset SOURCE_DATE_EPOCH
fi
configured dist build/dist
name=$(field build/dist/release.json version)
# Every file whose bytes a rebuild changes is named with the packages'
# version, NAME-0upstreamN; the source tarball, the same tree, keeps NAME.
version=$(field build/dist/release.json package_version)
epoch=$(field build/dist/release.json epoch)
sums=argreport-$version$trial.SHA256SUMS
images=
if command -v podman >/dev/null && command -v buildah >/dev/null; then
    images=argreport-$version$trial-oci.tar
fi
provenance=argreport-$version$trial.intoto.jsonl
if [ -n "$names_only" ]; then
    {
        echo "argreport-$name.tar.gz"
        echo "argreport-$version.src.rpm"
        for arch in "${arches[@]}"; do
            packages_of "$arch"
            printf '%s\n' "argreport-$version-$arch.cdx.json" "argreport-$version-$arch.vex.cdx.json"
        done
        [ -z "$images" ] || echo "$images"
        echo "$provenance"
        if [ -n "${ARGREPORT_SIGNING_KEY:-}" ] && [ "$revision" = 1 ]; then echo "argreport-$name.tar.gz.asc"; fi
        echo "$sums"
        [ -z "${ARGREPORT_SIGNING_KEY:-}" ] || echo "$sums.asc"
    } | LC_ALL=C sort
    exit 0
fi
cmake --workflow --preset dist >/dev/null
rm -rf "$publish"
mkdir -p "$publish"
cp "build/dist/argreport-$name.tar.gz" "build/dist/argreport-$version.src.rpm" "$publish/"
say "argreport $name, packages $version, for ${arches[*]}"

rm -rf "$logs"
mkdir -p "$logs"
# A configured build configures itself again where its files have changed.
logged dev-build.log bash -c '{ [ -f build/dev/CMakeCache.txt ] || cmake --preset dev; } && cmake --build --preset dev'

# Each architecture is built, then tested in a process of its own while the
# next one builds, with as many tests at once as the machine has
# processors; after a failure no more start, and the release stops once
# those running are done.
running=0 failed=
for arch in "${arches[@]}"; do
    read -r _ _ _ machine _ _ _ build configure package <<<"${target[$arch]}"
    export ARGREPORT_TARGET=$arch
    configured "$configure" "$build"
    cmake --workflow --preset "$package" >/dev/null
    [ "$(field "$build/release.json" version)" = "$name" ] \
        || { say "$build names $(field "$build/release.json" version), not $name"; exit 1; }
    [ "$(field "$build/release.json" package_version)" = "$version" ] \
        || { say "$build's packages are $(field "$build/release.json" package_version), not $version"; exit 1; }
    packages_of "$arch" | sed "s|^|$build/packages/|" | xargs cp -t "$publish/"
    # The binary as shipped, stripped, from the binary tarball.
    mkdir -p "$logs/$arch"
    tar -xzf "$publish/argreport-$version-linux-$machine.tar.gz" -C "$logs/$arch" --strip-components=2 \
        "argreport-$version-linux-$machine/bin/argreport"
    if [ "$running" -ge "$(nproc)" ]; then
        wait -n || failed=1
        running=$((running - 1))
    fi
    [ -z "$failed" ] || break
    tested "$arch" "$logs/$arch/argreport" &
    running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
    wait -n || failed=1
    running=$((running - 1))
done
[ -z "$failed" ] || exit 1

key=${ARGREPORT_SIGNING_KEY:-}
# The RPMs are signed first, as they are published: the SBOMs, the
# provenance, the repository and the checksums all describe them signed.
[ -z "$key" ] || packaging/release/sign.sh "$key" "$epoch" --rpm "$publish"/*.rpm

if [ -n "$images" ]; then
    packaging/image/build-images.sh "${arches[@]}" >/dev/null
    cp "build/images/argreport-$version-oci.tar" "$publish/$images"
else
    say "podman or buildah is not installed: no images are built or published, and the SBOMs name none"
fi

for arch in "${arches[@]}"; do
    read -r _ _ _ _ _ _ _ build _ <<<"${target[$arch]}"
    python3 packaging/release/sbom.py "$build" "$publish" ${images:+"$publish/$images"} >/dev/null
done
# The provenance is signed as it is written, and SHA256SUMS then covers it.
python3 packaging/release/provenance.py ${key:+--sign "$key"} "$publish" "$provenance" "${arches[@]}" >/dev/null

packaging/release/repositories.sh "$publish" "$epoch" ${key:+"$key"}

signed=()
if [ -n "$key" ]; then
    # The source tarball is signed once, with the version's first packages:
    # a rebuild's checksums cover it.
    if [ "$revision" = 1 ]; then
        packaging/release/sign.sh "$key" "$epoch" --detach "$publish/argreport-$name.tar.gz" "$publish/argreport-$name.tar.gz.asc"
        signed+=("argreport-$name.tar.gz")
    fi
fi
(cd "$publish" && find . -type f -printf '%P\n' | LC_ALL=C sort | xargs sha256sum >../SHA256SUMS.new)
mv build/SHA256SUMS.new "$publish/$sums"
if [ -n "$key" ]; then
    packaging/release/sign.sh "$key" "$epoch" --detach "$publish/$sums" "$publish/$sums.asc"
    signed+=("$sums")
    say "signed the RPMs, the provenance, the repositories and ${signed[*]} with $key"
else
    say "ARGREPORT_SIGNING_KEY is not set: nothing is signed"
fi
ls -1 "$publish"
