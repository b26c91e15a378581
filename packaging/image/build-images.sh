#!/usr/bin/env bash
# Builds the image of every architecture, as the image target of each
# release build makes it (argreport:PV-ARCH, PV the packages' version as a
# tag holds it), building first any release that is missing, and then the
# manifest list localhost/argreport:PV over all of them, also named
# localhost/argreport:latest, offline. Each entry of the list carries the
# annotations of its image. Then it writes the list with its images, as one
# would publish them, to build/images/argreport-NAME-0upstreamN-oci.tar, an OCI image
# layout in a tar (layers compressed, so their digests are not the local
# ones) whose list carries the same annotations as its images: podman can
# annotate a list's entries, but not the list it keeps. The images take the
# commit's time, so two runs give the same images, list and archive, and
# leave no unnamed image behind.
#   packaging/image/build-images.sh [ARCH...]     (Debian's names; all by default)
set -euo pipefail
cd "$(dirname "$0")/../.."
# Each target of cmake/musl.cmake: its build folder and the workflow that
# builds it, by architecture; all of them by default.
declare -A build workflow
all=()
while read -r arch _ _ _ _ _ _ folder release _; do
    build[$arch]=$folder workflow[$arch]=$release all+=("$arch")
done < <(cmake -P cmake/musl.cmake)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")
for arch in "${targets[@]}"; do
    [ -n "${build[$arch]:-}" ] || { echo "$0: $arch is none of the targets in cmake/musl.cmake" >&2; exit 2; }
done
for arch in "${targets[@]}"; do
    if [ ! -x "${build[$arch]}/argreport" ]; then
        ARGREPORT_TARGET=$arch cmake --workflow --preset "${workflow[$arch]}" >/dev/null
    fi
done
# The packages' version, which names the images, as a tag holds it.
version=$(jq -er .image_version "${build[${targets[0]}]}/release.json")
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
    cmake --build "${build[$arch]}" --target image >/dev/null
    images+=("localhost/argreport:$version-$arch")
    echo "built localhost/argreport:$version-$arch"
done
for id in "${before[@]}"; do
    if [ -n "$id" ] && [ "$(podman image inspect --format '{{len .RepoTags}}' "$id" 2>/dev/null)" = 0 ]; then
        podman rmi "$id" >/dev/null
    fi
done

# The native build also tags its image with the bare version and latest,
# which the list takes over.
for name in "$list" "$latest"; do
    if podman image exists "$name"; then podman untag "$name" "$name"; fi
done
podman manifest create "$list" >/dev/null
for i in "${!images[@]}"; do
    podman manifest add "$list" "containers-storage:${images[$i]}" >/dev/null
    annotations=()
    while IFS= read -r annotation; do # quoted, as podman splits the option at commas
        annotations+=(--annotation "\"$annotation\"")
    done <"${build[${targets[$i]}]}/image/annotations"
    podman manifest annotate "${annotations[@]}" "$list" \
        "$(podman image inspect --format '{{.Digest}}' "${images[$i]}")" >/dev/null
done
podman tag "$list" "$latest"
echo "built the manifest list $list ($latest) of ${targets[*]}"

layout=build/images/layout
# Named with the packages' version, as every artefact a rebuild changes.
archive=build/images/argreport-$(jq -er .package_version "${build[${targets[0]}]}/release.json")-oci.tar
rm -rf "$layout" "$archive"
mkdir -p "$layout"
podman manifest push --quiet --all --format oci "$list" "oci:$layout:$version"
# The list takes the annotations its entries agree on; where they differ
# (the licences, where one architecture's binary holds code under another),
# the list, which holds them all, takes every term once, joined by AND.
python3 - "$layout" <<'PY'
import hashlib, json, os, sys
layout = sys.argv[1]
def blob(digest): return os.path.join(layout, "blobs", *digest.split(":"))
index = json.load(open(os.path.join(layout, "index.json")))
entry, = index["manifests"]
manifests = json.load(open(blob(entry["digest"])))
annotations = {}
for m in manifests["manifests"]:
    for key, value in m["annotations"].items():
        terms = annotations.setdefault(key, [])
        terms += [t for t in value.split(" AND ") if t not in terms]
for key, terms in annotations.items():
    if len(terms) > 1 and key != "org.opencontainers.image.licenses":
        sys.exit(f"the images disagree on {key}: {terms}")
manifests["annotations"] = {k: " AND ".join(v) for k, v in sorted(annotations.items())}
data = json.dumps(manifests, separators=(",", ":")).encode()
os.remove(blob(entry["digest"]))
entry["digest"] = "sha256:" + hashlib.sha256(data).hexdigest()
entry["size"] = len(data)
open(blob(entry["digest"]), "wb").write(data)
json.dump(index, open(os.path.join(layout, "index.json"), "w"), separators=(",", ":"))
PY
created=$(podman image inspect --format '{{index .Annotations "org.opencontainers.image.created"}}' "${images[0]}")
tar --sort=name --format=ustar --owner=0 --group=0 --numeric-owner --mode=u=rwX,go=rX \
    --mtime="$created" -C "$layout" -cf "$archive" oci-layout index.json blobs
rm -rf "$layout"
echo "wrote $archive"
