#!/usr/bin/env bash
# The release a downstream can verify: packaging/release/release.sh's signatures,
# SBOMs and provenance. The signing key is a throwaway one in a temporary
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
name=$(cmake -P packaging/release/version.cmake)
if ARGREPORT_SIGNING_KEY=$key packaging/release/release.sh >"$work/release.log" 2>&1; then
    ok "ARGREPORT_SIGNING_KEY=KEY packaging/release/release.sh made $name"
else
    cat "$work/release.log"
    fail "packaging/release/release.sh"
    finish
fi
publish=build/publish
for f in SHA256SUMS "argreport-$name.tar.gz"; do
    check "gpgv verifies $f.asc" gpgv --keyring "$work/signing-key.gpg" "$publish/$f.asc" "$publish/$f"
    cp "$publish/$f" "$work/changed"
    printf '\x01' | dd of="$work/changed" bs=1 seek=100 conv=notrunc 2>/dev/null
    cmp -s "$publish/$f" "$work/changed" || check "gpgv rejects $f with one byte changed" \
        bash -c "! gpgv --keyring '$work/signing-key.gpg' '$publish/$f.asc' '$work/changed'"
done
check "sha256sum -c SHA256SUMS passes" bash -c "cd $publish && sha256sum -c --quiet SHA256SUMS"
check "SHA256SUMS covers every file but itself and the signatures" \
    diff <(find "$publish" -maxdepth 1 -type f ! -name SHA256SUMS ! -name '*.asc' -printf '%f\n' | LC_ALL=C sort) \
        <(awk '{ print $2 }' "$publish/SHA256SUMS")
for arch in "${arches[@]}"; do
    if [ "$arch" = amd64 ]; then build=build/release; else build=build/release-$arch; fi
    rpm_arch=$(rpm -qp --qf '%{ARCH}' "$build"/packages/argreport-"$name"-1.*.rpm)
    for f in "argreport_$name-1_$arch.deb" "argreport-$name-1.$rpm_arch.rpm" "argreport-$name-$arch.cdx.json"; do
        check "build/publish holds $f" test -f "$publish/$f"
    done
done
check "build/publish holds the images, argreport-$name-oci.tar" test -f "$publish/argreport-$name-oci.tar"

# ---- the SBOMs
mkdir -p build/sbom-check
cp packaging/release/sbom/package.json packaging/release/sbom/package-lock.json packaging/release/sbom/validate.js build/sbom-check/
if (cd build/sbom-check && npm ci --ignore-scripts --no-audit --no-fund --silent >/dev/null 2>&1); then
    ok "the CycloneDX library, as pinned, is installed in build/sbom-check"
else
    fail "npm ci in build/sbom-check"
fi
for arch in "${arches[@]}"; do
    sbom=$publish/argreport-$name-$arch.cdx.json
    musl=$(dpkg-query -W -f='${source:Version}' "musl-dev:$arch")
    musl_purl="pkg:deb/debian/musl@$(python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1], safe=""))' "$musl")?arch=$arch"
    if node build/sbom-check/validate.js "$sbom" "$musl_purl"; then
        ok "$arch's SBOM passes CycloneDX 1.6 strict validation and the NTIA check, and names $musl_purl"
    else
        fail "$arch's SBOM"
    fi
    licence=MIT
    [ "$arch" = armhf ] && licence="MIT AND BSD-2-Clause"
    if [ "$arch" = amd64 ]; then build=build/release; else build=build/release-$arch; fi
    rpm=$publish/$(basename "$(ls "$build"/packages/argreport-"$name"-1.*.rpm)")
    check "$arch: SBOM, RPM, copyright file and image all say $licence" test \
        "$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["metadata"]["component"]["licenses"][0]["expression"])' "$sbom")
$(rpm -qp --qf '%{LICENSE}' "$rpm")
$(dpkg-deb --fsys-tarfile "$publish/argreport_$name-1_$arch.deb" | tar -xOf - ./usr/share/doc/argreport/copyright | sed -n 's/^Comment: The binary is under \(.*\) (an SPDX expression)\.$/\1/p')
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

# ---- the provenance
statement=$publish/argreport-$name.intoto.jsonl
check "every provenance subject's digest is its file's, and every file is a subject" python3 - "$statement" "$publish" <<'EOF'
import hashlib, json, os, sys
s = json.loads(open(sys.argv[1]).read())
assert s["_type"] == "https://in-toto.io/Statement/v1"
assert s["predicateType"] == "https://slsa.dev/provenance/v1"
names = set()
for subject in s["subject"]:
    data = open(os.path.join(sys.argv[2], subject["name"]), "rb").read()
    assert subject["digest"]["sha256"] == hashlib.sha256(data).hexdigest(), subject["name"]
    names.add(subject["name"])
files = {f for f in os.listdir(sys.argv[2]) if f != "SHA256SUMS" and not f.endswith(".asc")}
assert names == files - {os.path.basename(sys.argv[1])}, files ^ names
EOF
check "the provenance names the source commit and the source tarball's digest" python3 - "$statement" "$publish" "$(git rev-parse HEAD)" "$name" <<'EOF'
import hashlib, json, sys
s = json.loads(open(sys.argv[1]).read())
deps = s["predicate"]["buildDefinition"]["resolvedDependencies"]
assert {"gitCommit": sys.argv[3]} in [d.get("digest") for d in deps]
tarball = open(f"{sys.argv[2]}/argreport-{sys.argv[4]}.tar.gz", "rb").read()
assert {"sha256": hashlib.sha256(tarball).hexdigest()} in [d.get("digest") for d in deps]
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
check "the provenance names the presets run" grep -q '"workflowPresets":\["dist","package","package-arm64"' "$statement"

finish
