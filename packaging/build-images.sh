#!/usr/bin/env bash
# Builds the image of every architecture, as the image target of each
# release build makes it (argreport:VERSION-ARCH), building first any
# release that is missing, and then the manifest list
# localhost/argreport:VERSION over all of them, also named
# localhost/argreport:latest, offline. Each entry of the list carries the
# annotations of its image. The images take the commit's time, so two runs
# give the same images and the same list, and leave no unnamed image behind.
#   packaging/build-images.sh [ARCH...]     (Debian's names; all by default)
set -euo pipefail
cd "$(dirname "$0")/.."
# The release's name (see packaging/version.cmake), with a snapshot's '+',
# which a tag cannot hold, as '_'.
version=$(cmake -P packaging/version.cmake)
version=${version//+/_}
targets=("$@")
# All the targets of cmake/musl.cmake's table by default.
[ ${#targets[@]} -gt 0 ] || mapfile -t targets < <(sed -n 's/^ *"\([^|]*\)|.*/\1/p' cmake/musl.cmake)
list=localhost/argreport:$version

latest=localhost/argreport:latest

# The list of an earlier run goes first: the native image's build would take
# its name and leave it unnamed. Images that this run replaces go after it.
for name in "$list" "$latest"; do
    if podman manifest exists "$name" 2>/dev/null; then podman manifest rm "$name" >/dev/null; fi
done
before=()
for arch in "${targets[@]}"; do
    before+=("$(podman image inspect --format '{{.Id}}' "localhost/argreport:$version-$arch" 2>/dev/null || true)")
done

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
for id in "${before[@]}"; do
    if [ -n "$id" ] && [ "$(podman image inspect --format '{{len .RepoTags}}' "$id" 2>/dev/null)" = 0 ]; then
        podman rmi "$id" >/dev/null
    fi
done

# The native build also tags its image with the bare version, which the
# list takes over.
if podman image exists "$list"; then
    podman untag "$list" "$list"
fi
podman manifest create "$list" >/dev/null
for i in "${!images[@]}"; do
    podman manifest add "$list" "containers-storage:${images[$i]}" >/dev/null
    annotations=()
    preset=release
    [ "${targets[$i]}" = amd64 ] || preset=release-${targets[$i]}
    while IFS= read -r annotation; do # quoted, as podman splits the option at commas
        annotations+=(--annotation "\"$annotation\"")
    done <"build/$preset/image/annotations"
    podman manifest annotate "${annotations[@]}" "$list" \
        "$(podman image inspect --format '{{.Digest}}' "${images[$i]}")" >/dev/null
done
podman tag "$list" "$latest"
echo "built the manifest list $list ($latest) of ${targets[*]}"
