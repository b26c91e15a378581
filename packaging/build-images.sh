#!/usr/bin/env bash
# Builds the image of every architecture, as the image target of each
# release build makes it (argreport:VERSION-ARCH), building first any
# release that is missing, and then the manifest list
# localhost/argreport:VERSION over all of them, offline. The images take the
# commit's time, so two runs give the same images and the same list.
#   packaging/build-images.sh [ARCH...]     (Debian's names; all by default)
set -euo pipefail
cd "$(dirname "$0")/.."
# The release's name (see packaging/version.cmake), with a snapshot's '+',
# which a tag cannot hold, as '_'.
version=$(cmake -P packaging/version.cmake)
version=${version//+/_}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(amd64 arm64 armhf i386 ppc64el s390x)
list=localhost/argreport:$version

images=()
for arch in "${targets[@]}"; do
    if [ "$arch" = amd64 ]; then preset=release; else preset=release-$arch; fi
    if [ ! -x "build/$preset/argreport" ]; then
        cmake --workflow --preset "$preset" >/dev/null
    fi
    cmake --build "build/$preset" --target image >/dev/null
    images+=("localhost/argreport:$version-$arch")
    echo "built localhost/argreport:$version-$arch"
done

# The native build also tags its image with the bare version, which the
# list takes over.
if podman manifest exists "$list" 2>/dev/null; then
    podman manifest rm "$list" >/dev/null
elif podman image exists "$list"; then
    podman untag "$list" "$list"
fi
podman manifest create "$list" >/dev/null
for image in "${images[@]}"; do
    podman manifest add "$list" "containers-storage:$image" >/dev/null
done
echo "built the manifest list $list of ${targets[*]}"
