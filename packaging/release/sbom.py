#!/usr/bin/env python3
"""Writes the CycloneDX 1.6 SBOM of one architecture's release.

    packaging/release/sbom.py BUILD_DIR PUBLISH_DIR [IMAGE_ARCHIVE]

BUILD_DIR is a release build (build/release, build/release-ARCH) whose
packages are made; PUBLISH_DIR holds the source tarball. The SBOM goes to
PUBLISH_DIR/argreport-NAME-0upstreamN-ARCH.cdx.json. IMAGE_ARCHIVE is the OCI
layout that packaging/image/build-images.sh writes: the image is named by
the digest of its manifest there, the one a registry serves once it is
pushed.

What the binary holds is read from the linker's map of that build, not from
a list: the members of musl's libc.a and the objects the linker took, each
with its hash, the Debian package it came from (as dpkg-query reports it)
and its licence, which for musl's files is the stanza of musl's own
copyright file that covers the file's source. The binary's licence as a
whole is ours and those of the linked files that ask for something; the
build declared one (release.json) for its packages and image, and if the
two disagree nothing is written and the exit status is 1.

The distribution release those packages came from is the build machine's,
as its os-release file says: the SBOM names it as an operating-system
component and in the purls' distro qualifier, so that a scanner knows whose
advisories apply.
"""
import fnmatch
import hashlib
import io
import json
import os
import re
import shlex
import subprocess
import sys
import tarfile
import uuid
from datetime import datetime, timezone
from urllib.parse import quote

# Debian's short licence names, as SPDX names them. Public-domain files ask
# nothing of whoever ships them; the rest go into the binary's licence.
SPDX = {"MIT": "MIT", "Expat": "MIT", "BSD-2-clause": "BSD-2-Clause",
        "BSD-3-clause": "BSD-3-Clause", "ISC": "ISC",
        "public-domain": "LicenseRef-musl-public-domain",
        "permissive": "LicenseRef-musl-sun-permissive"}
NO_CONDITIONS = {"LicenseRef-musl-public-domain"}
# The purl namespace of the packages made here: the deb and rpm types take
# the vendor who built the package, and ours are the project's own, not a
# distribution's (docs/releasing.md).
UPSTREAM = "argreport"
# libgcc and gcc's start files, as gcc's own sources state it.
GCC_LICENSE = "GPL-3.0-or-later WITH GCC-exception-3.1"
# The CPE dictionary's names for a distribution's releases, by os-release
# ID; it calls Debian 12 "12.0".
DISTRO_CPE = {"debian": "cpe:2.3:o:debian:debian_linux:{version}:*:*:*:*:*:*:*"}
# musl's names for its architectures, as they appear in its source tree.
MUSL_ARCHES = {"aarch64", "arm", "i386", "x86_64", "x32", "mips", "mips64", "mipsn32",
               "microblaze", "or1k", "powerpc", "powerpc64", "riscv32", "riscv64",
               "s390x", "sh", "m68k", "loongarch64"}


def die(message):
    print(f"sbom.py: {message}", file=sys.stderr)
    sys.exit(1)


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def hashes(data):
    return [{"alg": "SHA-256", "content": sha256(data)},
            {"alg": "SHA-512", "content": hashlib.sha512(data).hexdigest()}]


def dpkg(*args):
    return subprocess.run(["dpkg-query", *args], check=True, capture_output=True,
                          text=True).stdout.strip()


def owner(path):
    """The installed Debian package that holds path, and its versions."""
    out = subprocess.run(["dpkg-query", "-S", path], capture_output=True, text=True)
    if out.returncode != 0:
        real = os.path.realpath(path)
        out = subprocess.run(["dpkg-query", "-S", real], capture_output=True, text=True)
    if out.returncode != 0:
        die(f"no installed package holds {path}")
    package = out.stdout.split(": ", 1)[0].split(", ")[0]
    fields = dpkg("-W", "-f=${Package}\t${Version}\t${source:Package}\t${source:Version}\t"
                  "${Architecture}\t${Maintainer}\n", package).splitlines()[0].split("\t")
    return dict(zip(("package", "version", "source", "source_version", "arch", "maintainer"), fields))


def os_release():
    """The build machine's os-release fields, where its packages come from."""
    for path in ("/etc/os-release", "/usr/lib/os-release"):
        if os.path.exists(path):
            fields = {}
            for line in open(path, encoding="utf-8"):
                m = re.match(r"^([A-Z0-9_]+)=(.*)$", line.strip())
                if m:
                    fields[m.group(1)] = "".join(shlex.split(m.group(2)))
            if not fields.get("ID") or not (fields.get("VERSION_ID") or fields.get("VERSION_CODENAME")):
                die(f"{path} names no ID and VERSION_ID or VERSION_CODENAME: "
                    "whose packages musl is cannot be said")
            return fields
    die("the build machine has no os-release file: whose packages musl is cannot be said")


def cpe_value(text):
    """text as a CPE 2.3 formatted string writes a value: punctuation quoted."""
    return re.sub(r"([^A-Za-z0-9._-])", r"\\\1", text)


def link_map(path):
    """The objects and archive members the linker took, from its map."""
    text = open(path, encoding="utf-8", errors="replace").read()
    members = []
    section = text.split("Archive member included to satisfy reference by file (symbol)", 1)
    if len(section) == 2:
        body = re.split(r"\n(?:Discarded input sections|Allocating common symbols|"
                        r"Memory Configuration|As-needed library included)", section[1])[0]
        for line in body.splitlines():
            m = re.match(r"^(\S+\.a)\(([^)]+)\)", line)
            if m:
                members.append((os.path.normpath(m.group(1)), m.group(2)))
    objects = [os.path.normpath(p) for p in re.findall(r"^LOAD (\S+\.o)$", text, re.M)]
    if not objects:
        die(f"{path} names no object: is it a linker map?")
    return objects, members


def copyright_stanzas(path):
    """musl's copyright file as (patterns, SPDX licence) pairs, in order."""
    stanzas = []
    for block in re.split(r"\n\s*\n", open(path, encoding="utf-8").read()):
        m = re.search(r"^Files:(.*(?:\n[ \t]+\S.*)*)", block, re.M)
        lic = re.search(r"^License:[ \t]*(\S+)", block, re.M)
        if m and lic:
            name = lic.group(1)
            if name not in SPDX:
                die(f"musl's licence {name!r} has no SPDX name here: add it to SPDX in {__file__}")
            stanzas.append((m.group(1).split(), SPDX[name]))
    return stanzas


def musl_file_license(stanzas, musl_arch, kind, stem):
    """The licence of the musl file that gave the object stem: kind is "crt"
    for the start files, "src" for libc.a's members, which musl's build
    takes from src/*/ARCH/ when there is such a file, else from src/*/."""
    generic, specific = "MIT", None
    for patterns, lic in stanzas:
        for pattern in patterns:
            parts = pattern.split("/")
            if parts[0] != kind or parts[0] == "debian":
                continue
            arches = [p for p in parts[1:-1] if p in MUSL_ARCHES]
            if arches and arches != [musl_arch]:
                continue
            last = os.path.splitext(parts[-1])[0] if parts[-1] != "*" else "*"
            if kind == "src" and last == "*":
                continue  # a whole directory: which of its files is unknown
            if fnmatch.fnmatchcase(stem, last):
                if arches:
                    specific = lic
                else:
                    generic = lic
    return specific or generic


def archive_member(archive, name):
    listing = subprocess.run(["ar", "t", archive], check=True, capture_output=True,
                             text=True).stdout.split()
    if listing.count(name) != 1:
        die(f"{archive} holds {listing.count(name)} members named {name}: "
            "the map cannot say which one was linked")
    return subprocess.run(["ar", "p", archive, name], check=True, capture_output=True).stdout


def image_in_archive(archive, platform):
    """The digests of platform's image (os/architecture[/variant]) in an OCI
    layout archive whose index holds one list: its manifest's, its
    configuration's (the image's id) and the list's."""
    want = dict(zip(("os", "architecture", "variant"), platform.split("/")))
    with tarfile.open(archive) as t:
        def blob(digest):
            data = t.extractfile("blobs/" + digest.replace(":", "/", 1)).read()
            if f"sha256:{sha256(data)}" != digest:
                die(f"{archive}: the blob {digest} holds other bytes")
            return json.loads(data)
        lists = json.load(t.extractfile("index.json"))["manifests"]
        if len(lists) != 1:
            die(f"{archive} holds {len(lists)} entries, not one list")
        found = [m for m in blob(lists[0]["digest"])["manifests"]
                 if {k: m.get("platform", {}).get(k) for k in ("os", "architecture", "variant")}
                 == {k: want.get(k) for k in ("os", "architecture", "variant")}]
        if len(found) != 1:
            die(f"{archive} holds {len(found)} images for {platform}")
        config = blob(found[0]["digest"])["config"]["digest"]
    return found[0]["digest"], config, lists[0]["digest"]


def purl(kind, namespace, name, version, **qualifiers):
    out = f"pkg:{kind}/" + (f"{namespace}/" if namespace else "") + quote(name, safe="")
    if version:
        out += "@" + quote(version, safe="")
    if qualifiers:
        out += "?" + "&".join(f"{k}={quote(v, safe='')}" for k, v in sorted(qualifiers.items()))
    return out


def main():
    if len(sys.argv) not in (3, 4):
        die(__doc__.strip().splitlines()[2].strip())
    build, publish = sys.argv[1], sys.argv[2]
    image_archive = sys.argv[3] if len(sys.argv) == 4 else ""
    info = json.load(open(os.path.join(build, "release.json"), encoding="utf-8"))
    if not info["static"]:
        die(f"{build} is not a static release build")
    name, version, arch = info["name"], info["version"], info["deb_arch"]
    packages = os.path.join(build, "packages")
    binary_path = os.path.join(build, "argreport")
    map_path = os.path.join(build, "argreport.map")
    if not os.path.exists(map_path) or os.path.getmtime(map_path) < os.path.getmtime(binary_path):
        die(f"{map_path} is missing or older than the binary: link it again")
    created = datetime.fromtimestamp(int(info["epoch"]), timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
    contact = re.match(r"(.*) <(.*)>", info["contact"])
    supplier = {"name": info["supplier"], "contact": [{"name": contact.group(1), "email": contact.group(2)}]}
    musl_arch = os.path.basename(info["musl_libdir"]).split("-")[0].replace("powerpc64le", "powerpc64")

    # The distribution whose packages musl and gcc's runtime are: its
    # release, as the purl type deb's distro qualifier writes it (ID-VERSION_ID,
    # or the codename of a release that has no number yet).
    release = os_release()
    vendor = release["ID"].lower()
    if vendor not in DISTRO_CPE:
        die(f"the build machine runs {vendor}, whose releases have no CPE here: add it to DISTRO_CPE")
    if release.get("VERSION_ID"):
        distro = f"{vendor}-{release['VERSION_ID']}"
        os_version = release["VERSION_ID"]
    else:
        distro = os_version = release["VERSION_CODENAME"]
    os_ref = f"os:{distro}"
    operating_system = {
        "type": "operating-system", "bom-ref": os_ref, "name": vendor, "version": os_version,
        "supplier": {"name": release.get("NAME", vendor)},
        "description": f"{release.get('PRETTY_NAME', distro)}: the release whose packages musl "
                       "and gcc's runtime, linked into the binary, are",
        "cpe": DISTRO_CPE[vendor].format(version=cpe_value(
            f"{os_version.split('.')[0]}.0" if release.get("VERSION_ID") else os_version)),
        "properties": [{"name": f"argreport:os-release:{key}", "value": release[key]}
                       for key in ("ID", "VERSION_ID", "VERSION_CODENAME") if release.get(key)]}

    # The artefacts that carry the binary.
    deb = f"{name}_{info['package_version']}_{arch}.deb"
    rpm = f"{name}-{version}-{info['package_revision']}.{info['rpm_arch']}.rpm"
    tgz = f"{name}-{info['package_version']}-linux-{info['machine']}.tar.gz"
    source = f"{name}-{version}.tar.gz"
    for f in (deb, rpm, tgz):
        if not os.path.exists(os.path.join(packages, f)):
            die(f"{packages}/{f} is missing: make the packages first")
    if not os.path.exists(os.path.join(publish, source)):
        die(f"{publish}/{source} is missing: make the source release first")
    with tarfile.open(os.path.join(packages, tgz)) as t:
        shipped = t.extractfile(f"{tgz[:-len('.tar.gz')]}/bin/argreport").read()

    # What the linker took.
    objects, members = link_map(map_path)
    stanzas = copyright_stanzas(info["musl_copyright"])
    musl_dir = os.path.realpath(info["musl_libdir"])
    musl_files, gcc_files, other = [], [], []
    for obj in objects:
        real = os.path.realpath(obj)
        if not os.path.isabs(obj):
            other.append(obj)  # the program's own object, from this build
        elif os.path.dirname(real) == musl_dir:
            musl_files.append(("crt", real, os.path.basename(real), open(real, "rb").read()))
        else:
            gcc_files.append((real, os.path.basename(real), open(real, "rb").read()))
    for archive, member in members:
        real = os.path.realpath(archive)
        data = archive_member(real, member)
        if os.path.dirname(real) == musl_dir:
            musl_files.append(("src", real, member, data))
        else:
            gcc_files.append((real, member, data))
    if not any(kind == "src" for kind, *_ in musl_files):
        die(f"{map_path} names no member of musl's libc.a")

    def file_component(ref, label, data, license_expr, pkg):
        return {"type": "file", "bom-ref": ref, "name": label, "version": pkg["version"],
                "supplier": {"name": "Debian", "contact": [{"name": pkg["maintainer"]}]},
                "hashes": hashes(data), "licenses": [{"expression": license_expr}],
                "properties": [{"name": "argreport:debian-package",
                                "value": f"{pkg['package']}:{pkg['arch']}"}]}

    # musl, with the files of it that were linked.
    libc = os.path.join(musl_dir, "libc.a")
    musl_pkg = owner(libc)
    # Debian's version less its epoch and revision is upstream's, which the
    # CPE names.
    musl_upstream = musl_pkg["source_version"].split(":", 1)[-1].rsplit("-", 1)[0]
    musl_ref = f"musl@{musl_pkg['source_version']}?arch={arch}"
    licences = set()
    musl_children = []
    for kind, path, label, data in sorted(musl_files, key=lambda f: (f[0], f[2])):
        stem = os.path.splitext(label)[0]
        lic = musl_file_license(stanzas, musl_arch, kind, stem)
        licences.add(lic)
        shown = f"libc.a({label})" if kind == "src" else label
        musl_children.append(file_component(f"{musl_ref}#{shown}", shown, data, lic, musl_pkg))
    musl_license = " AND ".join(sorted(licences))
    musl = {"type": "library", "bom-ref": musl_ref, "name": "musl", "version": musl_upstream,
            "supplier": {"name": "Debian", "contact": [{"name": musl_pkg["maintainer"]}]},
            "description": "the C library, linked statically",
            "licenses": [{"expression": musl_license}],
            "purl": purl("deb", vendor, musl_pkg["source"], musl_pkg["source_version"], arch=arch,
                         distro=distro),
            "cpe": f"cpe:2.3:a:musl-libc:musl:{cpe_value(musl_upstream)}:*:*:*:*:*:*:*",
            "hashes": hashes(open(libc, "rb").read()),
            "properties": [{"name": "argreport:debian-package",
                            "value": f"{musl_pkg['package']}:{musl_pkg['arch']} {musl_pkg['version']}"},
                           {"name": "argreport:archive", "value": libc}],
            "components": musl_children}

    # gcc's runtime: its start files, and on some targets members of libgcc.a.
    gcc_children, gcc_pkg = [], None
    for path, label, data in sorted(gcc_files, key=lambda f: f[1]):
        pkg = owner(path)
        if gcc_pkg and pkg["package"] != gcc_pkg["package"]:
            die(f"gcc's runtime comes from {gcc_pkg['package']} and {pkg['package']}")
        gcc_pkg = pkg
        shown = f"libgcc.a({label})" if path.endswith(".a") else label
        gcc_children.append(file_component(f"gcc-runtime?arch={arch}#{shown}", shown, data,
                                           GCC_LICENSE, pkg))
    if not gcc_pkg:
        die(f"{map_path} names none of gcc's start files")
    gcc_ref = f"gcc-runtime?arch={arch}"
    gcc = {"type": "library", "bom-ref": gcc_ref, "name": gcc_pkg["package"],
           "version": gcc_pkg["version"],
           "supplier": {"name": "Debian", "contact": [{"name": gcc_pkg["maintainer"]}]},
           "description": "gcc's start files and runtime support, linked statically",
           "licenses": [{"expression": GCC_LICENSE}],
           "purl": purl("deb", vendor, gcc_pkg["package"], gcc_pkg["version"],
                        arch=gcc_pkg["arch"], upstream=gcc_pkg["source"], distro=distro),
           "components": gcc_children}

    # The binary's licence as a whole, which its packages and image declare.
    conditions = sorted({"MIT"} | {lic for lic in licences if lic not in NO_CONDITIONS},
                        key=lambda lic: (lic != "MIT", lic))
    license_expr = " AND ".join(conditions)
    if license_expr != info["license"]:
        die(f"the {arch} binary holds code under {license_expr}, but its packages and image "
            f"say {info['license']}: change ARGREPORT_LICENSE in packaging/install.cmake")

    binary_ref = f"{name}@{version}?arch={arch}"
    binary = {"type": "application", "bom-ref": binary_ref, "name": name, "version": version,
              "supplier": supplier, "authors": [supplier["contact"][0]],
              "description": info["description"],
              "licenses": [{"expression": license_expr}],
              "copyright": "2026 The argreport developers",
              "purl": purl("generic", None, name, version, arch=arch),
              "hashes": hashes(shipped),
              "externalReferences": [{
                  "type": "source-distribution", "url": source,
                  "comment": "the source release the binary was built from",
                  "hashes": [{"alg": "SHA-256",
                              "content": sha256(open(os.path.join(publish, source), "rb").read())}]}],
              "pedigree": {"commits": [{"uid": info["commit"]}]} if info["commit"] else {},
              "properties": [{"name": "argreport:source-commit", "value": info["commit"]},
                             {"name": "argreport:path", "value": "/usr/bin/argreport"},
                             {"name": "argreport:linked-objects", "value": " ".join(other)}],
              "components": [musl, gcc]}
    if not info["commit"]:
        del binary["pedigree"]

    carriers = []
    for label, kind, ref_purl in (
            (deb, "file", purl("deb", UPSTREAM, name, info["package_version"], arch=arch)),
            (rpm, "file", purl("rpm", UPSTREAM, name, f"{version}-{info['package_revision']}",
                               arch=info["rpm_arch"])),
            (tgz, "file", None)):
        data = open(os.path.join(packages, label), "rb").read()
        c = {"type": kind, "bom-ref": label, "name": label, "version": info["package_version"]
             if label != tgz else version, "supplier": supplier,
             "licenses": [{"expression": license_expr}], "hashes": hashes(data)}
        if ref_purl:
            c["purl"] = ref_purl
        carriers.append(c)
    if image_archive:
        manifest, config, index = image_in_archive(image_archive, info["oci_platform"])
        carriers.append({
            "type": "container", "bom-ref": info["image_tag"], "name": name, "version": version,
            "supplier": supplier, "licenses": [{"expression": license_expr}],
            "description": f"the image {info['image_tag']}, named by the digest of its manifest "
                           f"in {os.path.basename(image_archive)}",
            "hashes": [{"alg": "SHA-256", "content": manifest.split(":", 1)[1]}],
            "purl": purl("oci", None, name, manifest, arch=info["oci_platform"].split("/", 1)[1].replace("/", ""),
                         tag=info["image_tag"].split(":", 1)[1]),
            "properties": [{"name": "argreport:image-id", "value": config},
                           {"name": "argreport:image-index", "value": index}]})

    def refs(component):
        yield component
        for child in component.get("components", []):
            yield from refs(child)

    dependencies = [{"ref": binary_ref, "dependsOn": [musl_ref, gcc_ref]}]
    for c in list(refs(musl)) + list(refs(gcc)):
        dependencies.append({"ref": c["bom-ref"], "dependsOn": []})
    for c in carriers:
        dependencies.append({"ref": c["bom-ref"], "dependsOn": [binary_ref]})
    dependencies.append({"ref": os_ref, "dependsOn": []})

    bom = {
        "bomFormat": "CycloneDX", "specVersion": "1.6", "version": 1,
        "metadata": {
            "timestamp": created,
            "lifecycles": [{"phase": "build"}],
            "tools": {"components": [{"type": "application", "name": "packaging/release/sbom.py",
                                      "version": version, "supplier": supplier}]},
            "authors": [supplier["contact"][0]],
            "supplier": supplier,
            "component": binary,
            "properties": [{"name": "argreport:architecture", "value": arch}]},
        "components": carriers + [operating_system],
        "dependencies": dependencies,
    }
    # The same inputs give the same document, serial number included.
    text = json.dumps(bom, indent=2, ensure_ascii=False)
    bom = {"bomFormat": "CycloneDX", "specVersion": "1.6",
           "serialNumber": f"urn:uuid:{uuid.UUID(sha256(text.encode())[:32], version=5)}", **bom}
    out = os.path.join(publish, f"{name}-{info['package_version']}-{arch}.cdx.json")
    with open(out, "w", encoding="utf-8") as f:
        f.write(json.dumps(bom, indent=2, ensure_ascii=False) + "\n")
    print(f"{out}: {len(musl_children)} files of musl {musl_pkg['source_version']} "
          f"({musl_license}), {len(gcc_children)} of {gcc_pkg['package']}; the binary is {license_expr}")


if __name__ == "__main__":
    main()
