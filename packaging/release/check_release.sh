#!/usr/bin/env bash
# The release as a downstream gets it: packaging/release/release.sh run in
# the clone tagged as a release (build/tagged, which the parts that build
# and read the release share; the arches part has built it there), signed
# with a throwaway key in a temporary GNUPGHOME. In this order:
#   - a failure planted in the arm64 binary's tests stops release.sh, with
#     nothing signed; a run without a key signs nothing and says so, and a
#     run of fewer architectures writes none of the release's own names;
#   - revision 2 of amd64 (a rebuild, dated a day later) and then revision
#     1 of every architecture, the release itself, whose log shows every
#     architecture tested before anything is signed;
#   - their names: those release.sh --names gives, one content each,
#     images whose tags do not move, signatures that come out the same when
#     made again;
#   - apt and dnf install revision 1 from its repositories and upgrade to
#     revision 2, as docs/releasing.md says (check_repositories.sh);
#   - the SBOMs and VEXes, read as a scanner reads them and validated; the
#     provenance; docs/releasing.md's commands to verify a download, run as
#     written in a folder that holds both revisions.
# Building the rebuild there and then the release again leaves the clone as
# it was: revision 1, built. Needs root (check_repositories.sh), gpg, gpgv,
# podman, buildah, apt-ftparchive, createrepo_c, dnf, python3-jsonschema and
# what the release builds need.
#   packaging/release/check_release.sh
# shellcheck source=.ci/lib.sh
. "$(dirname "$0")/../../.ci/lib.sh"
tree=$(tagged_tree) || { fail "a clone tagged v$version"; finish; }
# The same checks, run in the tagged clone: its names are the release's,
# and its images are kept in its own storage.
# shellcheck source=.ci/lib.sh
. "$tree/.ci/lib.sh"
scratch
export GNUPGHOME=$work/gnupg
unset SOURCE_DATE_EPOCH
mapfile -t arches < <(all_targets | cut -d' ' -f1)
declare -A build
while read -r arch _ _ _ _ _ _ folder _; do build[$arch]=$folder; done < <(all_targets)
publish=build/publish
mkdir -m 700 "$GNUPGHOME"
gpg --batch --quiet --passphrase '' --quick-gen-key 'argreport CI throwaway <ci@invalid>' ed25519 sign never 2>/dev/null
key=$(gpg --batch --with-colons --list-secret-keys 2>/dev/null | awk -F: '/^fpr/ { print $10; exit }')
gpg --batch --export "$key" >"$work/signing-key.gpg"
name=$release pv=$package_version
sums=argreport-$pv.SHA256SUMS
listing() { (cd "$1" && find . -maxdepth 1 -type f -printf '%f\n' | LC_ALL=C sort); }
unsigned() { # folder: no signature in it, the RPMs' included
    [ -z "$(find "$1" \( -name '*.asc' -o -name InRelease -o -name Release.gpg \) -print -quit)" ] &&
        ! rpmkeys -Kv "$1"/*.rpm | grep -q Signature
}
release() { # log, then the environment and arguments: release.sh's run,
    # as a user's shell runs it, which may well write compiled Python
    local log=$1
    shift
    env -u PYTHONDONTWRITEBYTECODE "$@" >"$log" 2>&1
}

# ---- test, then sign: arm64's binary, run here by a qemu that reports
# nothing it was given, fails its tests, and release.sh stops before any
# signature exists.
mkdir "$work/planted"
printf '#!/bin/sh\necho "argc = 0"\n' >"$work/planted/qemu-aarch64-static"
chmod +x "$work/planted/qemu-aarch64-static"
if release "$work/planted.log" PATH="$work/planted:$PATH" ARGREPORT_SIGNING_KEY="$key" packaging/release/release.sh arm64; then
    fail "release.sh signed a release whose arm64 binary fails its tests"
else
    check "arm64's failing tests stop release.sh, which says so" \
        grep -q 'FAILED, so nothing is signed: .*arm64/argreport' "$work/planted.log"
    check "arm64's failing tests: no signature is written, on the RPMs neither" unsigned "$publish"
fi

# ---- without a key, nothing is signed, and it says so; fewer architectures
# are a trial, named so (amd64 alone will do for both)
if release "$work/unsigned.log" packaging/release/release.sh amd64; then
    check "without ARGREPORT_SIGNING_KEY release.sh says it signs nothing" \
        grep -q 'ARGREPORT_SIGNING_KEY is not set: nothing is signed' "$work/unsigned.log"
    check "without ARGREPORT_SIGNING_KEY nothing is signed, the RPMs and repositories neither" unsigned "$publish"
    listing "$publish" >"$work/trial.names"
else
    tail -n 30 "$work/unsigned.log"
    fail "packaging/release/release.sh amd64, without a key"
fi

# ---- revision 2 of amd64, dated a day after the commit, then the release
rev2=$version-0upstream2
rebuilt=$(($(git log -1 --format=%ct) + 86400))
if release "$work/rev2.log" ARGREPORT_PACKAGE_REVISION=2 SOURCE_DATE_EPOCH=$rebuilt ARGREPORT_SIGNING_KEY="$key" \
        packaging/release/release.sh amd64; then
    cp -a "$publish" "$work/rev2"
    ok "ARGREPORT_PACKAGE_REVISION=2 packaging/release/release.sh amd64 made $rev2"
    check "revision 2's files are those release.sh --names gives" diff <(listing "$work/rev2") \
        <(ARGREPORT_PACKAGE_REVISION=2 SOURCE_DATE_EPOCH=$rebuilt ARGREPORT_SIGNING_KEY="$key" packaging/release/release.sh --names amd64)
else
    tail -n 30 "$work/rev2.log"
    fail "ARGREPORT_PACKAGE_REVISION=2 packaging/release/release.sh amd64"
    finish
fi
deb=$work/rev2/argreport_${rev2}_amd64.deb
rpm=$work/rev2/argreport-$rev2.x86_64.rpm
check "revision 2 gives argreport_${rev2}_amd64.deb" test "$(dpkg-deb -f "$deb" Version)" = "$rev2"
check "revision 2 gives an RPM with release 0upstream2" test "$(rpm -qp --qf '%{VERSION}-%{RELEASE}' "$rpm" 2>/dev/null)" = "$rev2"
check "revision 2 publishes its source RPM, and its checksums list it" \
    grep -q " argreport-$rev2.src.rpm\$" "$work/rev2/argreport-$rev2-only-amd64.SHA256SUMS"
when=$(date -u -d "@$rebuilt" '+%a, %d %b %Y %H:%M:%S +0000')
check "the .deb's changelog starts with $rev2, a rebuild released as unstable, dated by SOURCE_DATE_EPOCH ($when)" \
    bash -c 'dpkg-deb --fsys-tarfile "$1" | tar -xOf - ./usr/share/doc/argreport/changelog.Debian.gz | gunzip |
        sed -n "1p;/^ -- /{p;q}" | tr "\n" " " | grep -q "^argreport ($2) unstable; urgency=medium  -- .*  $3 $"' _ "$deb" "$rev2" "$when"
check "the RPM's and the source RPM's %changelog start with $rev2, of that day" bash -c \
    'for f in "$@"; do rpm -qp --changelog "$f" 2>/dev/null | head -1 | grep -q "^\* $(date -u -d "@'"$rebuilt"'" "+%a %b %d %Y") .* - '"$rev2"'\$" || exit 1; done' \
    _ "$rpm" "$work/rev2/argreport-$rev2.src.rpm"
rev2_tag=localhost/argreport:$(cmake -D "ARGREPORT_IMAGE_TAG_OF=$rev2" -P cmake/version.cmake)-amd64
rev2_image=$(podman image inspect --format '{{.Id}}' "$rev2_tag")
# The same revision built again, with the same SOURCE_DATE_EPOCH, gives the
# same packages, and signing its RPM again the same bytes as published.
(SOURCE_DATE_EPOCH=$rebuilt cmake --workflow --preset package >/dev/null 2>&1)
cp "build/release/packages/argreport-$rev2.x86_64.rpm" "$work/resigned.rpm"
packaging/release/sign.sh "$key" "$rebuilt" --rpm "$work/resigned.rpm"
check "revision 2 built again with the same SOURCE_DATE_EPOCH is the same .deb, and its RPM, signed again, the same RPM" \
    bash -c 'cmp "$1/argreport_$2_amd64.deb" "$3/argreport_$2_amd64.deb" && cmp "$4" "$3/argreport-$2.x86_64.rpm"' _ \
    build/release/packages "$rev2" "$work/rev2" "$work/resigned.rpm"

if release "$work/release.log" ARGREPORT_SIGNING_KEY="$key" packaging/release/release.sh; then
    ok "ARGREPORT_SIGNING_KEY=KEY packaging/release/release.sh made $name"
else
    tail -n 40 "$work/release.log"
    fail "packaging/release/release.sh"
    finish
fi
check "release.sh ran the suite, check_hardening.sh and check_faults.sh on all ${#arches[@]} architectures, then signed" \
    awk -v n=${#arches[@]} '/^release.sh: [a-z0-9]+: the suite, tests\/check_hardening.sh and tests\/check_faults.sh pass on / { if (!signed) tested++ }
        /^release.sh: signed / { signed = 1 } END { exit !(signed && tested == n) }' "$work/release.log"

# ---- one name, one content
check "the release's files are those release.sh --names gives" diff <(listing "$publish") \
    <(ARGREPORT_SIGNING_KEY="$key" packaging/release/release.sh --names)
shared=$(comm -12 <(listing "$publish") <(listing "$work/rev2") | tr '\n' ' ')
check "revisions 1 and 2 share one name, the source tarball's, and its bytes (they share: $shared)" \
    bash -c '[ "$1" = "argreport-$2.tar.gz " ] && cmp "$3/argreport-$2.tar.gz" "$4/argreport-$2.tar.gz"' _ \
    "$shared" "$name" "$publish" "$work/rev2"
check "a release of amd64 alone shares none of the checksums', images' and provenance's names of the release" \
    test -z "$(comm -12 "$work/trial.names" <(listing "$publish") | grep -E '\.SHA256SUMS|-oci\.tar$|\.intoto\.jsonl$')"
check "the rebuild's image tag $rev2_tag still names its image, after the release's images are built" \
    test "$(podman image inspect --format '{{.Id}}' "$rev2_tag")" = "$rev2_image"
for archive in "$publish/argreport-$pv-oci.tar:$pv" "$work/rev2/argreport-$rev2-only-amd64-oci.tar:$rev2"; do
    tagged=$(tar -xOf "${archive%:*}" index.json | jq -r '.manifests[].annotations["org.opencontainers.image.ref.name"]')
    check "$(basename "${archive%:*}") names its list after its packages' version: $tagged" \
        test "$tagged" = "$(cmake -D "ARGREPORT_IMAGE_TAG_OF=${archive##*:}" -P cmake/version.cmake)"
done
# Signing again: every signature comes out the same; a key whose do not
# is refused before it signs anything.
resign() { # what, sign.sh's arguments but the output, the published signature
    local what=$1
    shift
    if packaging/release/sign.sh "$key" "$(git log -1 --format=%ct)" "${@:1:$#-1}" "$work/again" &&
        cmp "$work/again" "${*: -1}"; then
        ok "$what, signed again, is the same bytes"
    else
        fail "$what signed again gives other bytes"
    fi
}
resign "$sums" --detach "$publish/$sums" "$publish/$sums.asc"
resign "argreport-$name.tar.gz" --detach "$publish/argreport-$name.tar.gz" "$publish/argreport-$name.tar.gz.asc"
resign "the APT repository's InRelease" --clear "$publish/dists/stable/Release" "$publish/dists/stable/InRelease"
resign "the RPM repository's repomd.xml" --detach "$publish/repodata/repomd.xml" "$publish/repodata/repomd.xml.asc"
mkdir "$work/rpms"
for arch in "${arches[@]}"; do cp "${build[$arch]}"/packages/argreport-"$pv".*.rpm "$work/rpms/"; done
cp "build/dist/argreport-$pv.src.rpm" "$work/rpms/"
packaging/release/sign.sh "$key" "$(git log -1 --format=%ct)" --rpm "$work"/rpms/*.rpm || fail "sign.sh --rpm"
for rpm in "$work"/rpms/*.rpm; do
    check "${rpm##*/} as built, signed again, is the published RPM" cmp "$rpm" "$publish/${rpm##*/}"
done
cp "$publish/argreport-$pv.intoto.jsonl" "$work/provenance"
python3 packaging/release/provenance.py --sign "$key" "$publish" "argreport-$pv.intoto.jsonl" "${arches[@]}" >/dev/null
check "the provenance, signed again, is the same bytes" cmp "$work/provenance" "$publish/argreport-$pv.intoto.jsonl"
# Planted: a gpg that writes a notation of its own into each signature.
mkdir "$work/noisy"
printf '#!/bin/sh\nexec %s --sig-notation "nonce@argreport.invalid=$$" "$@"\n' "$(command -v gpg)" >"$work/noisy/gpg"
chmod +x "$work/noisy/gpg"
if PATH=$work/noisy:$PATH packaging/release/sign.sh "$key" 0 --detach "$publish/$sums" "$work/noisy.asc" 2>"$work/noisy.log"; then
    fail "sign.sh signed with a gpg whose signatures differ each time"
else
    check "sign.sh refuses a gpg whose signatures differ each time, and says why" grep -q 'signing the release again would give other bytes' "$work/noisy.log"
fi

# ---- the signatures, the checksums, the repositories (the documents'
# commands verify them, further down)
for f in "$sums" "argreport-$name.tar.gz"; do
    cp "$publish/$f" "$work/changed"
    printf '\x01' | dd of="$work/changed" bs=1 seek=100 conv=notrunc 2>/dev/null
    cmp -s "$publish/$f" "$work/changed" || check "gpgv rejects $f with one byte changed" \
        bash -c "! gpgv --keyring '$work/signing-key.gpg' '$publish/$f.asc' '$work/changed'"
done
check "$sums covers every file in the folder but itself and its signature" \
    diff <(cd "$publish" && find . -type f ! -name "$sums" ! -name "$sums.asc" -printf '%P\n' | LC_ALL=C sort) \
        <(sed 's/^[0-9a-f]\{64\}  //' "$publish/$sums")
for arch in "${arches[@]}"; do
    check "the APT repository lists the $arch .deb, and the RPM repository the $arch RPM" bash -c \
        'grep -qx "Filename: ./argreport_$2_$3.deb" "$1/dists/stable/main/binary-$3/Packages" &&
         gunzip <"$1"/repodata/*-primary.xml.gz | grep -q "<location href=\"$(basename "$(ls "$4"/packages/argreport-"$2".*.rpm)")\"/>"' _ \
        "$publish" "$pv" "$arch" "${build[$arch]}"
done
packaging/release/check_repositories.sh "$publish" "$work/rev2" "$key" || fail "packaging/release/check_repositories.sh"

# ---- the SBOMs and VEXes, as a scanner reads them: the top-level
# components, each by its purl and CPE
# shellcheck disable=SC1091
read -r distro_id os_version < <(. /etc/os-release && echo "$ID ${VERSION_ID:-$VERSION_CODENAME}")
if out=$(python3 packaging/release/sbom/validate.py "$publish"/argreport-"$pv"-*.cdx.json); then
    ok "every SBOM and VEX is valid CycloneDX 1.6, and every SBOM has the NTIA minimum elements"
else
    echo "$out"
    fail "the SBOMs and VEXes: packaging/release/sbom/validate.py"
fi
archive=$publish/argreport-$pv-oci.tar
image_list=$(tar -xOf "$archive" index.json | jq -r '.manifests[].digest')
image_manifests=$(tar -xOf "$archive" "blobs/${image_list/://}" | jq -r '.manifests[].digest')
for arch in "${arches[@]}"; do
    sbom=$publish/argreport-$pv-$arch.cdx.json vex=$publish/argreport-$pv-$arch.vex.cdx.json
    info=${build[$arch]}/release.json
    musl=$(dpkg-query -W -f='${source:Version}' "musl-dev:$arch")
    check "$arch: the build read musl-dev:$arch's version, $musl, as the one linked" test "$(jq -r .musl_version "$info")" = "$musl"
    upstream=$(jq -r .musl_upstream_version "$info")
    deb=$publish/argreport_${pv}_$arch.deb
    rpm=$publish/$(basename "$(ls "${build[$arch]}"/packages/argreport-"$pv".*.rpm)")
    deb_purl="pkg:deb/argreport/argreport@$(jq -rn --arg v "$(dpkg-deb -f "$deb" Version)" '$v | @uri')?arch=$(dpkg-deb -f "$deb" Architecture)"
    rpm_purl="pkg:rpm/argreport/argreport@$(jq -rn --arg v "$(rpm -qp --qf '%{VERSION}-%{RELEASE}' "$rpm" 2>/dev/null)" '$v | @uri')?arch=$(rpm -qp --qf '%{ARCH}' "$rpm" 2>/dev/null)"
    check "$arch's SBOM names $deb_purl and $rpm_purl" bash -c \
        'purls=$(jq -r ".components[].purl // empty" "$1") && grep -qxF "$2" <<<"$purls" && grep -qxF "$3" <<<"$purls"' _ \
        "$sbom" "$deb_purl" "$rpm_purl"
    # What a scanner takes from the SBOM: each top-level component's purl and
    # CPE, nothing nested. musl must be there, at the version linked.
    found=$(jq -r '.components[] | "\(.purl // "-") \(.cpe // "-")"' "$sbom" |
        awk -v musl="$(jq -rn --arg v "$musl" '$v | @uri')" -v up="$upstream" -v arch="$arch" '
        { split($1, p, "[@?]"); n = split($1, q, "[?&]") }
        p[1] == "pkg:deb/debian/musl-dev" && p[2] == musl {
            for (i = 2; i <= n; i++) { if (q[i] == "upstream=musl") source = 1; if (q[i] == "arch=" arch) on = 1 }
            if (source && on && $2 ~ "^cpe:2\\.3:a:musl-libc:musl:" up ":") print "found" }')
    check "$arch's SBOM lists musl at the top: pkg:deb/debian/musl-dev@$musl (upstream musl) and the CPE of musl $upstream" test "$found" = found
    check "$arch's SBOM ties musl and gcc's runtime to the binary in its dependency graph" test \
        "$(jq -r '.metadata.component["bom-ref"] as $b | .dependencies[] | select(.ref == $b) | .dependsOn | length' "$sbom")" = 2
    check "$arch's SBOM names no operating system among its components, and the build machine, $distro_id $os_version, as its formulation's" test \
        "$(jq -r '[.components[] | select(.type == "operating-system")] | length' "$sbom") $(jq -r '.formulation[].components[] | select(.type == "operating-system") | "\(.name) \(.version)"' "$sbom")" \
        = "0 $distro_id $os_version"
    # The VEX: an advisory whose member of libc.a the SBOM does not list is
    # one the binary is not affected by.
    iconv=$(jq -r '.components[] | select(.name == "musl") | .components[].name' "$sbom" | grep -c '^libc\.a(iconv\.lo)$')
    check "$arch's VEX says CVE-2025-26519 (iconv) does not affect it, the code not being present: the SBOM lists no iconv.lo" test \
        "$iconv $(jq -r '.vulnerabilities[] | select(.id == "CVE-2025-26519") | "\(.analysis.state) \(.analysis.justification) \(.affects[0].ref)"' "$vex")" \
        = "0 not_affected code_not_present urn:cdx:$(jq -r '.serialNumber | ltrimstr("urn:uuid:")' "$sbom")/1#$(jq -r '.components[] | select(.name == "musl") | .["bom-ref"]' "$sbom")"
    image=$(jq -r '.components[] | select(.type == "container") | .purl' "$sbom" \
        | sed -n 's/^pkg:oci\/argreport@sha256%3A\([0-9a-f]\{64\}\)?.*/sha256:\1/p')
    check "$arch's SBOM names its image by one of the manifests that the archive's list names" \
        grep -qx "${image:-none}" <<<"$image_manifests"
    check "$arch: the archive's blob $image is the manifest of that digest" \
        test "sha256:$(tar -xOf "$archive" "blobs/${image/://}" | sha256sum | cut -d' ' -f1)" = "$image"
    config=$(tar -xOf "$archive" "blobs/${image/://}" | jq -r .config.digest)
    tag=localhost/$(jq -r .image_tag "$info")
    check "$arch: that manifest is of the image $tag, and the SBOM says its id" test \
        "sha256:$(podman image inspect --format '{{.Id}}' "$tag") $config" = "$config $(jq -r '.components[] | select(.type == "container") | .properties[] | select(.name == "argreport:image-id") | .value' "$sbom")"
    licence=$(jq -r .license "$info")
    check "$arch: SBOM, RPM, copyright file and image all say $licence, as the build does" test \
        "$(jq -r '.metadata.component.licenses[0].expression' "$sbom")
$(rpm -qp --qf '%{LICENSE}' "$rpm" 2>/dev/null)
$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/argreport/copyright | sed -n 's/^Comment: The binary is under \(.*\) (an SPDX expression)\.$/\1/p')
$(podman image inspect --format '{{index .Config.Labels "org.opencontainers.image.licenses"}}' "$tag")" \
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
# the checksums, then those that verify the provenance, in a directory with
# the public key and two releases' files, revision 1's and 2's, and a
# GNUPGHOME that holds nothing. They name revision 1's files: the other's
# are reported as not listed, and nothing else is.
doc_block docs/releasing.md download >"$work/download.sh"
doc_block docs/releasing.md tarball >"$work/tarball.sh"
doc_block docs/releasing.md provenance >"$work/provenance.sh"
mkdir -m 700 "$work/empty-gnupg"
mkdir "$work/download"
cp "$publish"/argreport* "$work/download/"
cp -n "$work/rev2"/argreport* "$work/download/"
gpg --batch --armor --export "$key" >"$work/download/argreport-signing-key.asc"
run_doc() { # directory, then the blocks to run there, one after the other in one shell, as bash -e runs a script
    (cd "$1" && shift && cat "$@" | GNUPGHOME=$work/empty-gnupg bash -e -o pipefail)
}
if [ -s "$work/download.sh" ] && [ -s "$work/tarball.sh" ] && [ -s "$work/provenance.sh" ] \
   && run_doc "$work/download" "$work/download.sh" "$work/tarball.sh" "$work/provenance.sh" >"$work/doc.log" 2>&1; then
    ok "docs/releasing.md's commands verify $sums, the tarball's signature, the provenance's signature and its subjects, with revision 2 beside them"
else
    cat "$work/doc.log"
    fail "docs/releasing.md's commands to verify a download and its provenance"
fi
check "docs/releasing.md's commands report the files that $sums does not list: revision 2's, and no other" \
    diff <(sed -n 's/^not listed: //p' "$work/doc.log") <(listing "$work/rev2" | grep -vxF "argreport-$name.tar.gz")
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
grep '^pv=' "$work/download.sh" >"$work/pv.sh"
run_doc "$work/changed-statement" "$work/pv.sh" "$work/provenance.sh" >"$work/changed.log" 2>&1
check "docs/releasing.md's commands reject the provenance with one byte of its statement changed" \
    grep -q 'BAD signature' "$work/changed.log"
check "every provenance subject's digest is its file's, and every file at the top is a subject" python3 - "$statement" "$publish" "$envelope" <<'EOF'
import hashlib, json, os, sys
s = json.loads(open(sys.argv[1]).read())
assert s["_type"] == "https://in-toto.io/Statement/v1"
assert s["predicateType"] == "https://slsa.dev/provenance/v1"
names = set()
for subject in s["subject"]:
    data = open(os.path.join(sys.argv[2], subject["name"]), "rb").read()
    assert subject["digest"]["sha256"] == hashlib.sha256(data).hexdigest(), subject["name"]
    names.add(subject["name"])
files = {f for f in os.listdir(sys.argv[2])
         if os.path.isfile(os.path.join(sys.argv[2], f)) and not f.endswith((".SHA256SUMS", ".asc"))}
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
toolchain=$(jq -r '.predicate.buildDefinition.resolvedDependencies[].uri // empty' "$statement")
for arch in "${arches[@]}"; do
    musl=$(dpkg-query -W -f='${Version}' "musl-dev:$arch")
    check "the provenance names musl-dev:$arch $musl" grep -qF "pkg:deb/debian/musl-dev@$musl?arch=$arch" <<<"$toolchain"
done
for package in cmake dpkg rpm podman binutils; do
    installed=$(dpkg-query -W -f='${Version}' "$package")
    check "the provenance names $package $installed" \
        grep -qF "pkg:deb/debian/$package@$(jq -rn --arg v "$installed" '$v | @uri')?" <<<"$toolchain"
done
check "the provenance names the presets run" grep -q '"workflowPresets":\["dist","package","package-cross"' "$statement"

# ---- no compiled Python: none in the tree after the release, none in its tarball
check "the release left no compiled Python in the tree" \
    test -z "$(git status --porcelain --ignored --untracked-files=all | grep -E '__pycache__|\.py[co]$')"
check "the source tarball holds no compiled Python" \
    bash -c '! tar -tzf "$1" | grep -qE "__pycache__|\.py[co]$"' _ "$publish/argreport-$name.tar.gz"

finish
