#!/usr/bin/env bash
# The release a downstream can verify: packaging/release/release.sh's signatures,
# SBOMs and provenance, made only once every architecture's binary has passed
# its tests (a fault planted in a temporary clone stops it). The signing key is a throwaway one in a temporary
# GNUPGHOME. Needs gpg, gpgv, npm (the SBOMs are validated with the
# CycloneDX project's library, installed as pinned by
# packaging/release/sbom/package-lock.json into build/sbom-check), podman, and what
# the release builds need. The names are checked by packaging/release/check_names.sh.
#   packaging/release/check_release.sh
. "$(dirname "$0")/../../.ci/lib.sh"
work=$(mktemp -d)
export GNUPGHOME=$work/gnupg
trap 'rm -rf "$work"' EXIT
unset SOURCE_DATE_EPOCH
mapfile -t arches < <(all_targets | cut -d' ' -f1)
declare -A build
while read -r arch _ _ _ _ _ _ folder _; do build[$arch]=$folder; done < <(all_targets)

# ---- without a key, nothing is signed, and it says so (one architecture will do)
if packaging/release/release.sh amd64 >"$work/unsigned.log" 2>&1; then
    check "without ARGREPORT_SIGNING_KEY release.sh says it signs nothing" grep -q 'ARGREPORT_SIGNING_KEY is not set: nothing is signed' "$work/unsigned.log"
    check "without ARGREPORT_SIGNING_KEY there is no signature" test -z "$(ls build/publish/*.asc 2>/dev/null)"
else
    cat "$work/unsigned.log"
    fail "packaging/release/release.sh without a key"
fi
# ---- the whole release, signed with a throwaway key
mkdir -m 700 "$GNUPGHOME"
gpg --batch --quiet --passphrase '' --quick-gen-key 'argreport CI throwaway <ci@invalid>' ed25519 sign never 2>/dev/null
key=$(gpg --batch --with-colons --list-secret-keys 2>/dev/null | awk -F: '/^fpr/ { print $10; exit }')
gpg --batch --export "$key" >"$work/signing-key.gpg"
name=$(cmake -P cmake/version.cmake)
# The files a rebuild changes are named with the packages' version.
pv=$package_version
sums=argreport-$pv.SHA256SUMS

# ---- test, then sign: a fault planted in a temporary clone tagged as the
# release stops release.sh before any signature exists. The foreign one is
# arm64's alone; release.sh builds and tests amd64 first, then arm64.
planted() { # what, what release.sh must say, then a command that plants it into the clone named last
    local what=$1 said=$2 clone=$work/planted
    shift 2
    rm -rf "$clone"
    git clone -q --no-tags . "$clone"
    "$@" "$clone"
    git -C "$clone" -c user.name=CI -c user.email=ci@invalid commit -qam "planted: $what"
    git -C "$clone" -c user.name=CI -c user.email=ci@invalid tag -a "v$version" -m "argreport $version"
    if (cd "$clone" && ARGREPORT_SIGNING_KEY=$key packaging/release/release.sh) >"$work/planted.log" 2>&1; then
        fail "release.sh signed a release with $what"
    else
        check "$what stops release.sh, which says that the tests failed" \
            grep -q "$said" "$work/planted.log"
        check "$what: no signature is written" test -z "$(find "$clone/build" -name '*.asc')"
    fi
    rm -rf "$clone"
}
failing_test() { printf '\nTEST(Planted, Fails) { FAIL() << "planted"; }\n' >>"$1/tests/argreport_test.cpp"; }
arm64_output() {
    sed -i 's|^\( *\)put_number_line("num = ", \(.*\));$|#ifdef __aarch64__\n\1put_number_line("num: ", \2);\n#else\n&\n#endif|' "$1/main.cpp"
    grep -q '^#ifdef __aarch64__$' "$1/main.cpp"
}
planted "a failing test" 'FAILED, so nothing is signed: .*env ARGREPORT_UNDER_TEST=.*/amd64/argreport ctest' failing_test
planted "an output changed on arm64 alone" 'FAILED, so nothing is signed: .*env ARGREPORT_UNDER_TEST=.*/arm64/argreport ctest' arm64_output

if ARGREPORT_SIGNING_KEY=$key packaging/release/release.sh >"$work/release.log" 2>&1; then
    ok "ARGREPORT_SIGNING_KEY=KEY packaging/release/release.sh made $name"
else
    cat "$work/release.log"
    fail "packaging/release/release.sh"
    finish
fi
publish=build/publish
check "release.sh ran the suite, check_hardening.sh and check_faults.sh on all ${#arches[@]} architectures, then signed" \
    awk -v n=${#arches[@]} '/^release.sh: [a-z0-9]+: the suite, tests\/check_hardening.sh and tests\/check_faults.sh pass on / { if (!signed) tested++ }
        /^release.sh: signed / { signed = 1 } END { exit !(signed && tested == n) }' "$work/release.log"
for f in "$sums" "argreport-$name.tar.gz"; do
    check "gpgv verifies $f.asc" gpgv --keyring "$work/signing-key.gpg" "$publish/$f.asc" "$publish/$f"
    cp "$publish/$f" "$work/changed"
    printf '\x01' | dd of="$work/changed" bs=1 seek=100 conv=notrunc 2>/dev/null
    cmp -s "$publish/$f" "$work/changed" || check "gpgv rejects $f with one byte changed" \
        bash -c "! gpgv --keyring '$work/signing-key.gpg' '$publish/$f.asc' '$work/changed'"
done
check "sha256sum -c $sums passes" bash -c "cd $publish && sha256sum -c --quiet $sums"
check "$sums covers every file but itself and the signatures" \
    diff <(find "$publish" -maxdepth 1 -type f ! -name "$sums" ! -name '*.asc' -printf '%f\n' | LC_ALL=C sort) \
        <(awk '{ print $2 }' "$publish/$sums")
check "build/publish holds the source RPM, argreport-$pv.src.rpm" test -f "$publish/argreport-$pv.src.rpm"
for arch in "${arches[@]}"; do
    rpm_arch=$(rpm -qp --qf '%{ARCH}' "${build[$arch]}"/packages/argreport-"$pv".*.rpm)
    for f in "argreport_${pv}_$arch.deb" "argreport-$pv.$rpm_arch.rpm" "argreport-$pv-$arch.cdx.json"; do
        check "build/publish holds $f" test -f "$publish/$f"
    done
done
check "build/publish holds the images, argreport-$pv-oci.tar" test -f "$publish/argreport-$pv-oci.tar"

# ---- the SBOMs
mkdir -p build/sbom-check
cp packaging/release/sbom/package.json packaging/release/sbom/package-lock.json packaging/release/sbom/validate.js build/sbom-check/
if (cd build/sbom-check && npm ci --ignore-scripts --no-audit --no-fund --silent >/dev/null 2>&1); then
    ok "the CycloneDX library, as pinned, is installed in build/sbom-check"
else
    fail "npm ci in build/sbom-check"
fi
uri() { jq -rn --arg v "$1" '$v | @uri'; }
# The Debian release this machine's packages, musl's among them, come from,
# as the purl type deb's distro qualifier writes it.
# shellcheck disable=SC1091
read -r distro_id os_version < <(. /etc/os-release && echo "$ID ${VERSION_ID:-$VERSION_CODENAME}")
distro=$distro_id-$os_version
# shellcheck disable=SC1091
[ -n "$(. /etc/os-release && echo "${VERSION_ID:-}")" ] || distro=$os_version
# The images' manifests, as the archive's one list names them.
archive=$publish/argreport-$pv-oci.tar
image_list=$(tar -xOf "$archive" index.json | jq -r '.manifests[].digest')
image_manifests=$(tar -xOf "$archive" "blobs/${image_list/://}" | jq -r '.manifests[].digest')
for arch in "${arches[@]}"; do
    sbom=$publish/argreport-$pv-$arch.cdx.json
    musl=$(dpkg-query -W -f='${source:Version}' "musl-dev:$arch")
    musl_purl="pkg:deb/$distro_id/musl@$(uri "$musl")?arch=$arch&distro=$distro"
    # Our packages' purls, from what the packages themselves say.
    deb=$publish/argreport_${pv}_$arch.deb
    rpm=$publish/$(basename "$(ls "${build[$arch]}"/packages/argreport-"$pv".*.rpm)")
    deb_purl="pkg:deb/argreport/argreport@$(uri "$(dpkg-deb -f "$deb" Version)")?arch=$(dpkg-deb -f "$deb" Architecture)"
    rpm_purl="pkg:rpm/argreport/argreport@$(uri "$(rpm -qp --qf '%{VERSION}-%{RELEASE}' "$rpm")")?arch=$(rpm -qp --qf '%{ARCH}' "$rpm")"
    if node build/sbom-check/validate.js "$sbom" "$musl_purl" "$deb_purl" "$rpm_purl"; then
        ok "$arch's SBOM passes CycloneDX 1.6 strict validation and the NTIA check, and names $musl_purl, $deb_purl and $rpm_purl"
    else
        fail "$arch's SBOM"
    fi
    upstream=${musl#*:}
    check "$arch's SBOM gives musl the CPE of upstream's ${upstream%-*}" test \
        "$(jq -r '.metadata.component.components[] | select(.name == "musl") | .cpe' "$sbom")" \
        = "cpe:2.3:a:musl-libc:musl:${upstream%-*}:*:*:*:*:*:*:*"
    check "$arch's SBOM has one operating-system component, $distro_id $os_version, as /etc/os-release names it" test \
        "$(jq -r '[.components[] | select(.type == "operating-system")] | map("\(.name) \(.version)") | join(", ")' "$sbom")" \
        = "$distro_id $os_version"
    image=$(jq -r '.components[] | select(.type == "container") | .purl' "$sbom" \
        | sed -n 's/^pkg:oci\/argreport@sha256%3A\([0-9a-f]\{64\}\)?.*/sha256:\1/p')
    check "$arch's SBOM names its image by one of the manifests that the archive's list names" \
        grep -qx "${image:-none}" <<<"$image_manifests"
    check "$arch: the archive's blob $image is the manifest of that digest" \
        test "sha256:$(tar -xOf "$archive" "blobs/${image/://}" | sha256sum | cut -d' ' -f1)" = "$image"
    config=$(tar -xOf "$archive" "blobs/${image/://}" | jq -r .config.digest)
    check "$arch: that manifest is of the image localhost/argreport:${name//+/_}-$arch, and the SBOM says its id" test \
        "sha256:$(podman image inspect --format '{{.Id}}' "localhost/argreport:${name//+/_}-$arch")
$config" = "$config
$(jq -r '.components[] | select(.type == "container") | .properties[] | select(.name == "argreport:image-id") | .value' "$sbom")"
    licence=MIT
    [ "$arch" = armhf ] && licence="MIT AND BSD-2-Clause"
    check "$arch: SBOM, RPM, copyright file and image all say $licence" test \
        "$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["metadata"]["component"]["licenses"][0]["expression"])' "$sbom")
$(rpm -qp --qf '%{LICENSE}' "$rpm")
$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/argreport/copyright | sed -n 's/^Comment: The binary is under \(.*\) (an SPDX expression)\.$/\1/p')
$(podman image inspect --format '{{index .Config.Labels "org.opencontainers.image.licenses"}}' "localhost/argreport:${name//+/_}-$arch")" \
        = "$licence
$licence
$licence
$licence"
    check "$arch: the SBOM's hashes are those of the published packages and the shipped binary" python3 - "$sbom" "$publish" <<'EOF'
import hashlib, json, os, sys, tarfile
bom = json.load(open(sys.argv[1]))
for c in bom["components"]:
    if c["type"] == "file":
        data = open(os.path.join(sys.argv[2], c["name"]), "rb").read()
        assert c["hashes"][0]["content"] == hashlib.sha256(data).hexdigest(), c["name"]
        if c["name"].endswith(".tar.gz"):
            with tarfile.open(os.path.join(sys.argv[2], c["name"])) as t:
                binary = t.extractfile(c["name"][:-len(".tar.gz")] + "/bin/argreport").read()
            assert bom["metadata"]["component"]["hashes"][0]["content"] == hashlib.sha256(binary).hexdigest()
EOF
done

# ---- the provenance, a DSSE envelope signed with the key
envelope=$publish/argreport-$pv.intoto.jsonl
statement=$work/statement.json
jq -j .payload "$envelope" | base64 -d >"$statement"
check "the provenance is one DSSE envelope of an in-toto statement, with one signature by $key" test \
    "$(jq -c '[.payloadType, [.signatures[].keyid]]' "$envelope") $(wc -l <"$envelope")" \
    = "[\"application/vnd.in-toto+json\",[\"$key\"]] 1"
# docs/releasing.md's commands, as a downloader runs them: those that verify
# SHA256SUMS, then those that verify the provenance, in a directory with the
# release and the public key, and a GNUPGHOME that holds nothing.
doc_block() { # the indented block under <!-- run by packaging/release/check_release.sh: $1 -->
    awk -v marker="<!-- run by packaging/release/check_release.sh: $1 -->" \
        '$0 == marker { on = 1; next } on && /^    / { print substr($0, 5); next } on { exit }' docs/releasing.md
}
doc_block download >"$work/download.sh"
doc_block provenance >"$work/provenance.sh"
mkdir -m 700 "$work/empty-gnupg"
mkdir "$work/download"
cp "$publish"/* "$work/download/"
gpg --batch --armor --export "$key" >"$work/download/argreport-signing-key.asc"
run_doc() { # directory, then the blocks to run there, as bash -e runs a script
    (cd "$1" && shift && for block in "$@"; do GNUPGHOME=$work/empty-gnupg bash -e -o pipefail "$block" || exit; done)
}
if [ -s "$work/download.sh" ] && [ -s "$work/provenance.sh" ] \
   && run_doc "$work/download" "$work/download.sh" "$work/provenance.sh" >"$work/doc.log" 2>&1; then
    ok "docs/releasing.md's commands verify SHA256SUMS, the provenance's signature and its subjects"
else
    cat "$work/doc.log"
    fail "docs/releasing.md's commands to verify a download and its provenance"
fi
# The same commands, on an envelope whose statement has one byte changed.
mkdir "$work/changed-statement"
cp "$work/download"/* "$work/changed-statement/"
python3 - "$work/changed-statement/argreport-$pv.intoto.jsonl" <<'EOF'
import base64, json, sys
envelope = json.load(open(sys.argv[1]))
body = bytearray(base64.b64decode(envelope["payload"]))
body[100] ^= 1
envelope["payload"] = base64.b64encode(bytes(body)).decode()
open(sys.argv[1], "w").write(json.dumps(envelope, separators=(",", ":")) + "\n")
EOF
run_doc "$work/changed-statement" "$work/provenance.sh" >"$work/changed.log" 2>&1
check "docs/releasing.md's commands reject the provenance with one byte of its statement changed" \
    grep -q 'BAD signature' "$work/changed.log"
check "every provenance subject's digest is its file's, and every file is a subject" python3 - "$statement" "$publish" "$envelope" <<'EOF'
import hashlib, json, os, sys
s = json.loads(open(sys.argv[1]).read())
assert s["_type"] == "https://in-toto.io/Statement/v1"
assert s["predicateType"] == "https://slsa.dev/provenance/v1"
names = set()
for subject in s["subject"]:
    data = open(os.path.join(sys.argv[2], subject["name"]), "rb").read()
    assert subject["digest"]["sha256"] == hashlib.sha256(data).hexdigest(), subject["name"]
    names.add(subject["name"])
files = {f for f in os.listdir(sys.argv[2]) if not f.endswith((".SHA256SUMS", ".asc"))}
assert names == files - {os.path.basename(sys.argv[3])}, files ^ names
EOF
check "the provenance names the source commit and the source tarball's digest" python3 - "$statement" "$publish" "$(git rev-parse HEAD)" "$name" <<'EOF'
import hashlib, json, sys
s = json.loads(open(sys.argv[1]).read())
deps = s["predicate"]["buildDefinition"]["resolvedDependencies"]
assert {"gitCommit": sys.argv[3]} in [d.get("digest") for d in deps]
tarball = open(f"{sys.argv[2]}/argreport-{sys.argv[4]}.tar.gz", "rb").read()
assert {"sha256": hashlib.sha256(tarball).hexdigest()} in [d.get("digest") for d in deps]
EOF
check "the provenance's buildType is a document of the source release it lists, as this tree has it" python3 - "$statement" "$publish" "$name" <<'EOF'
import hashlib, json, sys, tarfile
s = json.loads(open(sys.argv[1]).read())
build = s["predicate"]["buildDefinition"]
source, path = build["buildType"].split("#", 1)
tarball = f"{sys.argv[2]}/argreport-{sys.argv[3]}.tar.gz"
dep, = [d for d in build["resolvedDependencies"] if d.get("uri") == source]
assert dep["digest"]["sha256"] == hashlib.sha256(open(tarball, "rb").read()).hexdigest()
with tarfile.open(tarball) as t:
    assert t.extractfile(f"argreport-{sys.argv[3]}/{path}").read() == open(path, "rb").read()
EOF
toolchain=$(python3 -c 'import json, sys
s = json.loads(open(sys.argv[1]).read())
print("\n".join(d.get("uri", "") for d in s["predicate"]["buildDefinition"]["resolvedDependencies"]))' "$statement")
for arch in "${arches[@]}"; do
    musl=$(dpkg-query -W -f='${Version}' "musl-dev:$arch")
    check "the provenance names musl-dev:$arch $musl" grep -qF "pkg:deb/debian/musl-dev@$musl?arch=$arch" <<<"$toolchain"
done
for package in cmake dpkg rpm podman binutils; do
    check "the provenance names $package $(dpkg-query -W -f='${Version}' "$package")" \
        grep -qF "pkg:deb/debian/$package@$(python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1], safe=""))' "$(dpkg-query -W -f='${Version}' "$package")")?" <<<"$toolchain"
done
check "the provenance names the presets run" grep -q '"workflowPresets":\["dist","package","package-cross"' "$statement"

finish
