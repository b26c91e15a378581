#!/usr/bin/env bash
# The container images of the release, as packaging/release/release.sh
# built them in the clone tagged as a release (build/tagged; built here
# when it has not): the native image as the README builds it, its user,
# labels and files; then every architecture's image and their manifest
# list, built once again under umask 077, which must give the same images,
# list and archive, the arm64 one run under qemu. The README's recipes that
# run the image, its pod's among them, are docs/check_transcripts.sh's.
. "$(dirname "$0")/../../.ci/lib.sh"
own_network "$@"
tree=$(tagged_tree) || { fail "a clone tagged v$version"; finish; }
# shellcheck source=.ci/lib.sh
. "$tree/.ci/lib.sh"
scratch
mapfile -t arches < <(all_targets | cut -d' ' -f1)
list=localhost/argreport:$image_version
archive=build/images/argreport-$package_version-oci.tar
ids() { for arch in "${arches[@]}"; do podman image inspect --format '{{.Id}}' "localhost/argreport:$image_version-$arch"; done; }
if [ -f "$archive" ] && podman manifest exists "$list" 2>/dev/null; then
    ok "the images, their list and its archive, as packaging/release/release.sh built them, are here"
else
    logged "packaging/image/build-images.sh" packaging/image/build-images.sh || finish
fi
cp "$archive" "$work/archive.tar"
inspect=$(podman manifest inspect "$list")
built=$(ids)
dangling=$(podman images -q --filter dangling=true | sort)
# The image must hold the packaged binary and copyright file.
logged "cmake --workflow --preset package" cmake --workflow --preset package || finish
dpkg-deb -x "build/release/packages/argreport_${package_version}_amd64.deb" "$work/deb"
image=argreport:$image_version
untag() { podman rmi -f "$image" "$image-amd64" argreport:latest >/dev/null 2>&1; }

logged "the image builds" cmake --build build/release --target image || finish
id2=$(podman image inspect --format '{{.Id}}' "$image")
check "the image builds to the same id as the list's amd64 entry: $id2" test "$id2" = "$(head -n 1 <<<"$built")"
check "the image runs as 65534:65534" test "$(podman image inspect --format '{{.Config.User}}' "$image")" = 65534:65534
labels=$(podman image inspect --format '{{range $k, $v := .Config.Labels}}{{$k}}={{$v}}
{{end}}' "$image")
created=$(TZ=UTC date -d "@$(git log -1 --format=%ct)" +%Y-%m-%dT%H:%M:%SZ)
for label in licenses=MIT "version=$release" title=argreport "revision=$(git rev-parse HEAD)" \
             "created=$created" "description=Show the argument vector a program receives, byte for byte" \
             "vendor=$(jq -r .supplier build/release/release.json)" "authors=$(jq -r .contact build/release/release.json)"; do
    check "the image's label $label" grep -qxF "org.opencontainers.image.$label" <<<"$labels"
done
container=$(podman create "$image")
podman export "$container" | tar -tf - | sort >"$work/image-files"
podman cp "$container:/argreport" "$work/image-argreport"
podman cp "$container:/usr/share/doc/argreport/copyright" "$work/image-copyright"
podman rm "$container" >/dev/null
check "the image holds /argreport and its copyright file" bash -c \
    'grep -qx argreport "$1" && grep -qx usr/share/doc/argreport/copyright "$1"' _ "$work/image-files"
check "the image's binary is the packaged one" cmp "$work/image-argreport" "$work/deb/usr/bin/argreport"
check "the image's copyright file is the build's" cmp "$work/image-copyright" build/release/copyright
has_note "$work/image-argreport"
check "podman run $image 42 x" test "$(podman run --rm "${podman_run_opts[@]}" "$image" 42 x)" = "$(road_report /argreport)"

# The name the README's recipes run it by.
check "the image is also argreport:latest" test "$(podman image inspect --format '{{.Id}}' argreport:latest)" = "$id2"
untag

# Every architecture's image, and their list, built once again, as a
# reproducible build gives them: the same.
# Each OCI platform's architecture, as the list names it: arm for linux/arm/v7.
platforms=$(all_targets | cut -d' ' -f6 | cut -d/ -f2 | tr '\n' ' ')
remove_all() {
    podman manifest rm "$list" >/dev/null 2>&1
    for arch in "${arches[@]}"; do podman rmi -f "localhost/argreport:$image_version-$arch" >/dev/null 2>&1; done
    podman manifest rm localhost/argreport:latest >/dev/null 2>&1
    podman rmi -f argreport:latest >/dev/null 2>&1
}
remove_all
rm -rf build/release*/image/argreport build/release*/image/copyright
logged "packaging/image/build-images.sh again, under umask 077" bash -c 'umask 077 && packaging/image/build-images.sh' || finish
check "the archive is the same when built again" cmp "$archive" "$work/archive.tar"
check "every image is the same when built again" test "$(ids)" = "$built"
check "building the images again leaves no unnamed image" test "$(podman images -q --filter dangling=true | sort)" = "$dangling"
check "the manifest list and its images are the same when built again" \
    test "$(podman manifest inspect "$list")" = "$inspect"
listed=$(grep -o '"architecture": "[^"]*"' <<<"$inspect" | cut -d'"' -f4 | tr '\n' ' ')
check "the manifest list holds $platforms" test "$listed" = "$platforms"
check "localhost/argreport:latest is the manifest list" test "$(podman manifest inspect localhost/argreport:latest)" = "$inspect"
# Each entry carries its image's annotations; no image names a base image
# or the builder's version.
for arch in "${arches[@]}"; do
    img=localhost/argreport:$image_version-$arch
    keys=$(podman image inspect --format '{{range $k, $v := .Annotations}}{{$k}} {{end}}{{range $k, $v := .Labels}}{{$k}} {{end}}' "$img")
    check "$img names no base image and no builder's version, not even empty" \
        bash -c '[[ -n $1 && ! $1 =~ (org\.opencontainers\.image\.base\.|io\.buildah\.version) ]]' _ "$keys"
    digest=$(podman image inspect --format '{{.Digest}}' "$img")
    entry=$(jq -r --arg d "$digest" '.manifests[] | select(.digest == $d)
        | .annotations | to_entries[] | "\(.key)=\(.value)"' <<<"$inspect")
    own=$(podman image inspect --format '{{range $k, $v := .Annotations}}{{$k}}={{$v}}
{{end}}' "$img" | sed '/^$/d')
    check "the list's entry for $arch carries its image's annotations" test -n "$entry" -a "$entry" = "$own"
done
# The list as published: the archive's list holds the same images, by their
# ids, and says what their annotations say, with every licence of any of
# them; skopeo copies it to a registry, or here a directory, as it is.
mkdir "$work/oci"
tar -xf "$archive" -C "$work/oci"
blob() { cat "$work/oci/blobs/sha256/${1#sha256:}"; }
published=$(blob "$(jq -r '.manifests[0].digest' "$work/oci/index.json")")
said() { # KEY=VALUE lines of the annotations of a manifest, but the licences
    jq -r '.annotations | to_entries[] | "\(.key)=\(.value)"' | grep -v '^org\.opencontainers\.image\.licenses='
}
licences=()
for arch in "${arches[@]}"; do
    img=localhost/argreport:$image_version-$arch
    read -r os architecture variant < <(buildah inspect --type image \
        --format '{{.OCIv1.OS}} {{.OCIv1.Architecture}} {{.OCIv1.Variant}}' "$img")
    manifest=$(blob "$(jq -r --arg a "$architecture" --arg v "$variant" '.manifests[]
        | select(.platform.architecture == $a and (.platform.variant // "") == $v) | .digest' <<<"$published")")
    check "the archive's $os/$architecture${variant:+/$variant} image is $img, by id" \
        test "$(jq -r .config.digest <<<"$manifest")" = "sha256:$(podman image inspect --format '{{.Id}}' "$img")"
    own=$(podman image inspect --format '{{json .Annotations}}' "$img" | jq '{annotations: .}')
    check "the archive's list says what the $arch image says" \
        test "$(said <<<"$own")" = "$(said <<<"$published")" -a -n "$(said <<<"$own")"
    licences+=("$(jq -r '.annotations["org.opencontainers.image.licenses"]' <<<"$own")")
done
every=$(printf '%s\n' "${licences[@]}" | sed 's/ AND /\n/g' | awk '!seen[$0]++' | paste -sd'|' | sed 's/|/ AND /g')
check "the archive's list names every licence of its images: $every" \
    test "$(jq -r '.annotations["org.opencontainers.image.licenses"]' <<<"$published")" = "$every"
check "skopeo copy --all takes the archive's list as it is" bash -c \
    'skopeo copy -q --all "oci-archive:$1:$2" "oci:$3:$2" && test "$(skopeo inspect --raw "oci:$3:$2")" = "$4"' \
    _ "$archive" "$image_version" "$work/copied" "$published"
# The README's command, now that argreport is the list: podman runs an entry.
check "podman run argreport 42 x, the README's, with argreport the list" \
    test "$(podman run --rm "${podman_run_opts[@]}" argreport 42 x)" = "$(road_report /argreport)"
arm64=$(awk '/"digest"/ { d = $2 } /"architecture": "arm64"/ { gsub(/[",]/, "", d); print d }' <<<"$inspect")
check "the list's arm64 entry is an arm64 image" \
    test "$(podman image inspect --format '{{.Architecture}}' "localhost/argreport@$arm64")" = arm64
# Its binary, in its container, run by qemu named as the entry point (-0
# gives the program its argv[0]): no binfmt_misc entry, which the whole
# machine would see, is needed.
qemu=$(command -v qemu-aarch64-static)
check "the list's arm64 image runs under qemu: podman run localhost/argreport@$arm64 42 x" \
    test "$(podman run --rm "${podman_run_opts[@]}" -v "$qemu:/qemu:ro" --entrypoint /qemu \
        "localhost/argreport@$arm64" -0 /argreport /argreport 42 x)" = "$(road_report /argreport)"
remove_all
finish
