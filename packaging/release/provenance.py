#!/usr/bin/env python3
"""Writes the release's provenance: an in-toto Statement with a SLSA
Provenance v1 predicate, in a DSSE envelope, as the one line of
PUBLISH_DIR/NAME (argreport-NAME-0upstreamN.intoto.jsonl, for a release of
every architecture).

    packaging/release/provenance.py [--sign KEY] PUBLISH_DIR NAME ARCH...

With KEY, the envelope's signature is an OpenPGP detached signature by KEY
(anything gpg takes for a secret key), made by sign.sh as every signature
of the release is, over DSSE's pre-authentication encoding of the
statement, so that gpgv verifies it with the key that signs SHA256SUMS
(docs/releasing.md gives the commands). Without it the envelope holds no
signature.

Its subjects are every file at the top of PUBLISH_DIR but the signatures,
the checksums and the statement itself (the checksums cover the statement). It names the
source commit and the source tarball's digest, the presets run, and the
Debian packages, with their versions, of the toolchain each build used.
Every value comes from the release builds (their release.json) and from
dpkg-query; nothing in it records the time or place of the run, so the
same release gives the same statement.
"""
import base64
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tarfile

# The module beside it, imported without leaving compiled Python in the tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import debian  # noqa: E402  (beside this script)

# The build's own type is described by a document of the source release
# itself; the project has no web address, so the URI is the purl of the
# source release with the document as its subpath (docs/releasing.md).
BUILD_TYPE_DOCUMENT = "docs/build-type.md"
PAYLOAD_TYPE = "application/vnd.in-toto+json"
BUILDER = "tag:maintainers@users.noreply.c-seed-8142300e.example,2026:argreport/maintainer-machine"


def die(message):
    print(f"provenance.py: {message}", file=sys.stderr)
    sys.exit(1)


def sha256_file(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def descriptor(package):
    name, version, arch = debian.fields(package, "Package", "Version", "Architecture")
    return {"name": f"{name}:{arch}", "uri": debian.purl("deb", "debian", name, version, arch=arch),
            "annotations": {"version": version}}


def tool(command, path):
    """The package of a tool the release ran, found at path, or, for one
    installed some other way, its name, first line of --version and digest."""
    package = debian.owner(path)
    if package:
        return descriptor(package)
    version = subprocess.run([path, "--version"], capture_output=True, text=True)
    return {"name": command, "digest": {"sha256": sha256_file(os.path.realpath(path))},
            "annotations": {"version": (version.stdout or version.stderr).strip().splitlines()[0]}}


def pae(payload_type, body):
    """DSSE's pre-authentication encoding, which is what is signed."""
    kind = payload_type.encode()
    return b"DSSEv1 %d %s %d %s" % (len(kind), kind, len(body), body)


def sign(key, epoch, data):
    """An OpenPGP detached signature of data by key, and the key's fingerprint."""
    listing = subprocess.run(["gpg", "--batch", "--with-colons", "--list-secret-keys", key],
                             capture_output=True, text=True)
    fingerprints = [line.split(":")[9] for line in listing.stdout.splitlines() if line.startswith("fpr:")]
    if listing.returncode != 0 or not fingerprints:
        die(f"no secret key {key!r}")
    signed = subprocess.run([os.path.join(os.path.dirname(os.path.abspath(__file__)), "sign.sh"),
                             key, epoch, "--raw"], input=data, capture_output=True)
    if signed.returncode != 0:
        die(f"could not sign with {key}: {signed.stderr.decode(errors='replace').strip()}")
    return fingerprints[0], signed.stdout


def main():
    args = sys.argv[1:]
    key = None
    if args[:1] == ["--sign"] and len(args) > 1:
        key, args = args[1], args[2:]
    if len(args) < 3:
        die("usage: packaging/release/provenance.py [--sign KEY] PUBLISH_DIR NAME ARCH...")
    publish, statement_name, arches = args[0], args[1], args[2:]
    # cmake/musl.cmake's table: each target's build folder and the workflow
    # that packages it, after its architecture and six other fields.
    table = subprocess.run(["cmake", "-P", "cmake/musl.cmake"], check=True, capture_output=True,
                           text=True).stdout.split("\n")
    targets = {row.split()[0]: row.split()[7:] for row in table if row}
    builds, presets = [], []
    for arch in arches:
        if arch not in targets:
            die(f"{arch} is none of the targets in cmake/musl.cmake")
        build, _, package = targets[arch]
        builds.append(json.load(open(os.path.join(build, "release.json"), encoding="utf-8")))
        presets.append(package)
    name, version, commit = builds[0]["name"], builds[0]["version"], builds[0]["commit"]
    for b in builds:
        if (b["version"], b["commit"]) != (version, commit):
            die(f"the builds are of {version} ({commit}) and of {b['version']} ({b['commit']})")
    source = f"{name}-{version}.tar.gz"

    subjects = []
    for f in sorted(os.listdir(publish)):
        if f == statement_name or f.endswith((".SHA256SUMS", ".asc")) \
                or not os.path.isfile(os.path.join(publish, f)):
            continue
        subjects.append({"name": f, "digest": {"sha256": sha256_file(os.path.join(publish, f))}})
    if not any(s["name"] == source for s in subjects):
        die(f"{publish}/{source} is missing")
    with tarfile.open(os.path.join(publish, source)) as t:
        if f"{name}-{version}/{BUILD_TYPE_DOCUMENT}" not in t.getnames():
            die(f"{source} holds no {BUILD_TYPE_DOCUMENT}, which the provenance's buildType names")

    # The toolchain: each build's compiler (the driver, and the gcc it points
    # to) and linker (the same), and musl, by package.
    files = []
    for b in builds:
        compiler = b["compiler"]
        ld = subprocess.run([compiler, "-print-prog-name=ld"], check=True, capture_output=True,
                            text=True).stdout.strip()
        if not os.path.isabs(ld):
            ld = shutil.which(ld) or die(f"{compiler}'s linker {ld} is not on PATH")
        files += [compiler, os.path.realpath(compiler), ld, os.path.realpath(ld)]
        if b["musl_libdir"]:
            files.append(os.path.join(b["musl_libdir"], "libc.a"))
    commands = ("cmake", "dpkg-deb", "rpmbuild", "podman", "buildah", "git", "gzip", "tar", "python3")
    paths = {command: shutil.which(command) for command in commands}
    debian.owners(files + [p for p in paths.values() if p])
    packages = {debian.owner(f, required=True) for f in files}
    tools = []
    for command, path in paths.items():
        found = path and tool(command, path)
        if found and found["name"] not in [t["name"] for t in tools]:
            tools.append(found)
    tarball = next(s for s in subjects if s["name"] == source)
    source_purl = debian.purl("generic", None, name, version)
    resolved = [{"name": "source commit", "digest": {"gitCommit": commit}},
                {"name": source, "uri": source_purl, "digest": tarball["digest"]}]
    toolchain = [descriptor(p) for p in packages]
    resolved += sorted(toolchain + [t for t in tools if t["name"] not in
                                    [d["name"] for d in toolchain]], key=lambda d: d["name"])

    statement = {
        "_type": "https://in-toto.io/Statement/v1",
        "subject": subjects,
        "predicateType": "https://slsa.dev/provenance/v1",
        "predicate": {
            "buildDefinition": {
                "buildType": f"{source_purl}#{BUILD_TYPE_DOCUMENT}",
                "externalParameters": {
                    "command": "packaging/release/release.sh",
                    "source": {"commit": commit, "tag": builds[0].get("tag", ""),
                               "version": version},
                    "packageRevision": builds[0]["package_revision"],
                    "architectures": [b["deb_arch"] for b in builds],
                },
                "internalParameters": {
                    "workflowPresets": ["dist"] + presets,
                    "SOURCE_DATE_EPOCH": builds[0]["epoch"],
                },
                "resolvedDependencies": resolved,
            },
            "runDetails": {
                "builder": {"id": BUILDER},
                "metadata": {"invocationId": f"{name}-{version}-{builds[0]['package_revision']}"},
            },
        },
    }
    body = json.dumps(statement, separators=(",", ":"), sort_keys=True).encode()
    signatures = []
    if key:
        keyid, signature = sign(key, builds[0]["epoch"], pae(PAYLOAD_TYPE, body))
        signatures.append({"keyid": keyid, "sig": base64.b64encode(signature).decode()})
    envelope = {"payloadType": PAYLOAD_TYPE, "payload": base64.b64encode(body).decode(),
                "signatures": signatures}
    with open(os.path.join(publish, statement_name), "w", encoding="utf-8") as f:
        f.write(json.dumps(envelope, separators=(",", ":")) + "\n")
    print(f"{publish}/{statement_name}: {len(subjects)} subjects, "
          f"{len(resolved) - 2} toolchain packages, "
          + (f"signed by {signatures[0]['keyid']}" if key else "not signed"))


if __name__ == "__main__":
    main()
