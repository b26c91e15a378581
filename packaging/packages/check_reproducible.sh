#!/usr/bin/env bash
# Builds the committed tree's artefacts three more times and checks that
# they are byte for byte the ones in build/release (made by
# `cmake --workflow --preset package`, under the caller's umask), and the
# source release twice:
#   - from a clone on an ext4-like disk, under umask 077;
#   - from a clone at a longer path on tmpfs, where directories have other
#     sizes, under umask 002;
#   - from the source tarball (`cmake --workflow --preset dist`), unpacked
#     outside any git checkout, under umask 027.
# Each runs a second or more after the last, with no SOURCE_DATE_EPOCH, so
# that no build time, path, umask or file system can hide. Other
# architectures named as arguments (Debian's names) are built in the first
# clone too, several at once, and compared with their build/release-ARCH.
#   packaging/packages/check_reproducible.sh [ARCH...]
# shellcheck source=.ci/lib.sh
. "$(dirname "$0")/../../.ci/lib.sh"
unset SOURCE_DATE_EPOCH
[ -f build/release/release.json ] || { fail "no build/release; build the package workflow first"; finish; }
# The packages' version, as the build names it.
package_version=$(jq -er .package_version build/release/release.json)
artefacts=(argreport packages/SHA256SUMS "packages/argreport_${package_version}_amd64.deb"
           "packages/argreport-${package_version}.x86_64.rpm"
           "packages/argreport-${package_version}-linux-x86_64.tar.gz")
for f in "${artefacts[@]}"; do
    [ -f "build/release/$f" ] || { fail "no build/release/$f; build the package workflow first"; finish; }
done
[ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ] || { fail "/dev/shm is not a tmpfs"; finish; }

work=$(mktemp -d)
shm=$(mktemp -d -p /dev/shm)
trap 'rm -rf "$work" "$shm"' EXIT
git clone -q . "$work/one"
git clone -q . "$shm/a/much/longer/path/two"
cmake --workflow --preset dist >/dev/null
mkdir "$work/unpacked"
tar -xzf "build/dist/argreport-$release.tar.gz" -C "$work/unpacked"
three="$work/unpacked/argreport-$release"
[ ! -e "$three/.git" ] || { fail "the source tarball holds .git"; finish; }

build() { # directory, umask, architectures (Debian's names)
    local dir=$1 mask=$2 arch folder files f
    shift 2
    sleep 1
    (cd "$dir" && umask "$mask" && packaged "$@")
    for arch in "$@"; do
        folder=$(all_targets | awk -v arch="$arch" '$1 == arch { print $8 }')
        [ -n "$folder" ] || { fail "$arch is none of the targets in cmake/musl.cmake"; continue; }
        files=(argreport packages/SHA256SUMS)
        for f in "$folder"/packages/*.deb "$folder"/packages/*.rpm "$folder"/packages/*.tar.gz; do
            files+=("packages/${f##*/}")
        done
        for f in "${files[@]}"; do
            check "$folder/$f is the same from $dir (umask $mask)" cmp "$folder/$f" "$dir/$folder/$f"
        done
    done
}
build "$work/one" 077 amd64 "$@"
(cd "$work/one" && cmake --workflow --preset dist >/dev/null)
for f in "argreport-$release.tar.gz" SHA256SUMS; do
    check "the source release's $f is the same from $work/one" cmp "build/dist/$f" "$work/one/build/dist/$f"
done
build "$shm/a/much/longer/path/two" 002 amd64
build "$three" 027 amd64
finish
