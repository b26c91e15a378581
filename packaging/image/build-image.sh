#!/usr/bin/env bash
# Builds the image from the build's image context: the static binary alone,
# as the entry point, with its copyright file, so that the image shows what
# a container runtime or an orchestrator passes as command and arguments.
# Made with buildah from scratch rather than from a Containerfile, because a
# Containerfile build always records the base image's name and digest
# (empty, or an intermediate image's); here the image carries the
# annotations given and no other, and no builder's version label, which
# would tie the image's id to the builder's version. Run by the image target
# of a release build:
#   packaging/image/build-image.sh CONTEXT EPOCH PLATFORM NAME...
# CONTEXT holds argreport, copyright and annotations (KEY=VALUE a line), each
# of which is also a label; EPOCH is every time in the image; PLATFORM
# (os/arch[/variant]) may be empty for the host's; the first NAME is the
# image's, the others are tags.
set -euo pipefail
context=$1 epoch=$2 platform=$3
shift 3
config=()
while IFS= read -r annotation; do
    config+=(--label "$annotation" --annotation "$annotation")
done <"$context/annotations"
container=$(buildah from --quiet ${platform:+--platform "$platform"} scratch)
trap 'buildah rm "$container" >/dev/null 2>&1 || true' EXIT
buildah copy --quiet --chmod 0755 "$container" "$context/argreport" /argreport
buildah copy --quiet --chmod 0644 "$container" "$context/copyright" /usr/share/doc/argreport/copyright
# The program needs no privilege. The commit would add the base image's keys,
# empty, unless they are removed here.
buildah config --user 65534:65534 --entrypoint '["/argreport"]' "${config[@]}" \
    --annotation org.opencontainers.image.base.name- \
    --annotation org.opencontainers.image.base.digest- \
    --created-by "packaging/image/build-image.sh" "$container"
buildah commit --quiet --rm --identity-label=false --timestamp "$epoch" "$container" "$1"
trap - EXIT
for name in "${@:2}"; do
    buildah tag "$1" "$name"
done
