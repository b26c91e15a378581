#!/usr/bin/env bash
# Makes the folder of a release the root of an APT repository and of an RPM
# repository, over the packages it holds, as they are: apt and dnf install
# and upgrade from it, served anywhere or as it lies (docs/releasing.md).
#   dists/stable/          the APT repository's index: Release, clear-signed
#                          as InRelease and signed as Release.gpg, and each
#                          architecture's main/binary-ARCH/Packages(.gz)
#   repodata/              the RPM repository's (createrepo_c): repomd.xml,
#                          signed as repomd.xml.asc, and the files it lists,
#                          named by their digests
# The packages stay where they are, at the top, and the indexes name them
# there. Every time in the indexes is EPOCH, the release's own, so that the
# same packages give the same indexes. Without KEY nothing is signed, and
# apt and dnf then refuse the repositories, as they should.
#   packaging/release/repositories.sh DIR EPOCH [KEY]
set -euo pipefail
[ $# = 2 ] || [ $# = 3 ] || { echo "usage: $0 DIR EPOCH [KEY]" >&2; exit 2; }
dir=$1 epoch=$2 key=${3:-}
sign=$(cd "$(dirname "$0")" && pwd)/sign.sh
cd "$dir"
rm -rf dists repodata

# APT: one suite, stable, with one component, main.
suite=dists/stable
arches=()
for deb in *.deb; do
    arch=$(dpkg-deb -f "$deb" Architecture)
    [[ " ${arches[*]} " == *" $arch "* ]] || arches+=("$arch")
done
[ ${#arches[@]} -gt 0 ] || { echo "repositories.sh: no .deb in $dir" >&2; exit 1; }
for arch in "${arches[@]}"; do
    mkdir -p "$suite/main/binary-$arch"
    apt-ftparchive --arch "$arch" packages . >"$suite/main/binary-$arch/Packages"
    gzip -9n <"$suite/main/binary-$arch/Packages" >"$suite/main/binary-$arch/Packages.gz"
done
apt-ftparchive -o APT::FTPArchive::Release::Origin=argreport -o APT::FTPArchive::Release::Label=argreport \
    -o APT::FTPArchive::Release::Suite=stable -o APT::FTPArchive::Release::Codename=stable \
    -o "APT::FTPArchive::Release::Architectures=${arches[*]}" -o APT::FTPArchive::Release::Components=main \
    -o "APT::FTPArchive::Release::Description=argreport's releases" \
    -o "APT::FTPArchive::Release::Date=$(LC_ALL=C date -u -d "@$epoch" '+%a, %d %b %Y %H:%M:%S UTC')" \
    release "$suite" >Release.new
mv Release.new "$suite/Release"

# RPM: every .rpm of the folder, the source RPM too.
createrepo_c --quiet --no-database --revision "$epoch" --set-timestamp-to-revision . >/dev/null

if [ -n "$key" ]; then
    "$sign" "$key" "$epoch" --clear "$suite/Release" "$suite/InRelease"
    "$sign" "$key" "$epoch" --detach "$suite/Release" "$suite/Release.gpg"
    "$sign" "$key" "$epoch" --detach repodata/repomd.xml repodata/repomd.xml.asc
fi
