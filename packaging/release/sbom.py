#!/usr/bin/env python3
"""Writes the CycloneDX 1.6 SBOM of one architecture's release, and its VEX.

    packaging/release/sbom.py BUILD_DIR PUBLISH_DIR [IMAGE_ARCHIVE]
    packaging/release/sbom.py --libc-members LINKER_MAP

BUILD_DIR is a release build (build/release, build/release-ARCH);
PUBLISH_DIR holds the source tarball and that architecture's packages, as
they are published (the RPMs signed, if they are). The SBOM goes to
PUBLISH_DIR/argreport-NAME-0upstreamN-ARCH.cdx.json, the VEX beside it as
...-ARCH.vex.cdx.json. IMAGE_ARCHIVE is the OCI layout that
packaging/image/build-images.sh writes: the image is named by the digest of
its manifest there, the one a registry serves once it is pushed, which is
the same whichever other architectures the archive holds. With
--libc-members it prints the members of musl's libc.a that the linker
took, one a line, as the SBOM lists them.

What the binary holds is read from the linker's map of that build, not from
a list: the members of musl's libc.a and the objects the linker took, each
with its hash, the Debian package it came from (as dpkg-query reports it)
and its licence, which for musl's files is the stanza of musl's own
copyright file that covers the file's source. The binary's licence as a
whole is ours and those of the linked files that ask for something; the
build declared one (release.json) for its packages and image, and if the
two disagree nothing is written and the exit status is 1.

What is linked into the binary, musl and gcc's runtime, are the SBOM's
top-level components, where scanners look, each with its purl and CPE, and
the dependency graph ties them to the binary; the files of each that the
linker took are nested in it. musl's purl names the Debian package that
held libc.a, musl-dev, with its source package, musl, as the upstream
qualifier: Debian files its advisories under the source package, and the
binary package is what dpkg-query names for the file, so both the file and
the advisories are found from it. The distribution release those packages
came from is the build machine's, as its os-release file says: the purls'
distro qualifier names it, and the SBOM's formulation describes it as the
machine the binary was built on, not one it runs on (the binary needs no
operating system's files at all).

The VEX says, for each advisory in musl-advisories that concerns the musl
linked, whether the members of libc.a the advisory is about are among
those the linker took: not, and the binary is not affected, its code not
being present; or they are, and the advisory is to be judged (in_triage).
"""
import fnmatch
import hashlib
import json
import os
import re
import shlex
import subprocess
import sys
import tarfile
import uuid
from datetime import datetime, timezone

# The module beside it, imported without leaving compiled Python in the tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import debian  # noqa: E402  (beside this script)

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
# The CPE dictionary's names for gcc and for a distribution's releases, by
# os-release ID; it calls Debian 12 "12.0".
GCC_CPE = "cpe:2.3:a:gnu:gcc:{version}:*:*:*:*:*:*:*"
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


def owner(path):
    """The installed Debian package that holds path, and its versions."""
    package = debian.owner(path, required=True)
    return dict(zip(("package", "version", "source", "source_version", "arch", "maintainer"),
                    debian.fields(package, "Package", "Version", "source:Package", "source:Version",
                                  "Architecture", "Maintainer")))


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
    """The objects and archive members the linker took, from its map:
    the objects' paths, and (archive, member) pairs."""
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


_archives = {}


def ar_members(archive):
    """An ar archive's members, as (name, data) in order, read as ar writes
    them: 60-byte headers, GNU's table of long names (//), its symbol table
    (/) left out."""
    if archive not in _archives:
        data = open(archive, "rb").read()
        if not data.startswith(b"!<arch>\n"):
            die(f"{archive} is not an ar archive")
        members, names, at = [], b"", 8
        while at + 60 <= len(data):
            header = data[at:at + 60]
            size = int(header[48:58])
            body = data[at + 60:at + 60 + size]
            name = header[:16].rstrip(b" ")
            if name == b"//":
                names = body
            elif name not in (b"/", b"/SYM64/"):
                if name.startswith(b"/") and name[1:].isdigit():
                    start = int(name[1:])
                    name = names[start:names.index(b"/\n", start)]
                members.append((name.rstrip(b"/").decode(), body))
            at += 60 + size + size % 2
        _archives[archive] = members
    return _archives[archive]


def archive_member(archive, name):
    found = [body for member, body in ar_members(archive) if member == name]
    if len(found) != 1:
        die(f"{archive} holds {len(found)} members named {name}: "
            "the map cannot say which one was linked")
    return found[0]


def image_in_archive(archive, platform):
    """The digests of platform's image (os/architecture[/variant]) in an OCI
    layout archive whose index holds one list: its manifest's and its
    configuration's (the image's id)."""
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
    return found[0]["digest"], config


def upstream_version(version):
    """A version as a tuple of numbers, for musl-advisories' ranges."""
    return tuple(int(part) for part in re.findall(r"[0-9]+", version))


def advisories(path, version):
    """The advisories of musl-advisories that concern musl VERSION: id,
    members of libc.a where the flaw is, and what it is."""
    found = []
    for line in open(path, encoding="utf-8"):
        if not line.strip() or line.startswith("#"):
            continue
        ident, first, last, members, summary = line.rstrip("\n").split("\t")
        if upstream_version(first) <= upstream_version(version) <= upstream_version(last):
            found.append((ident, members.split(","), summary))
    return found


def document(bom):
    """The BOM with a serial number of its contents: the same inputs give the
    same document, serial number included."""
    text = json.dumps(bom, indent=2, ensure_ascii=False)
    return {"bomFormat": "CycloneDX", "specVersion": "1.6",
            "serialNumber": f"urn:uuid:{uuid.UUID(sha256(text.encode())[:32], version=5)}", **bom}


def write(path, bom):
    with open(path, "w", encoding="utf-8") as f:
        f.write(json.dumps(bom, indent=2, ensure_ascii=False) + "\n")


def main():
    if sys.argv[1:2] == ["--libc-members"] and len(sys.argv) == 3:
        for archive, member in link_map(sys.argv[2])[1]:
            if os.path.basename(archive) == "libc.a":
                print(member)
        return
    if len(sys.argv) not in (3, 4):
        die(__doc__.strip().splitlines()[2].strip())
    build, publish = sys.argv[1], sys.argv[2]
    image_archive = sys.argv[3] if len(sys.argv) == 4 else ""
    info = json.load(open(os.path.join(build, "release.json"), encoding="utf-8"))
    if not info["static"]:
        die(f"{build} is not a static release build")
    name, version, arch = info["name"], info["version"], info["deb_arch"]
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
    build_machine = {
        "type": "operating-system", "bom-ref": f"build-machine:{distro}", "name": vendor,
        "version": os_version, "supplier": {"name": release.get("NAME", vendor)},
        "description": f"{release.get('PRETTY_NAME', distro)}: the system the binary was built "
                       "on, whose packages musl and gcc's runtime, linked into it, are; the "
                       "binary runs on any Linux system, and needs none of its files",
        "cpe": DISTRO_CPE[vendor].format(version=cpe_value(
            f"{os_version.split('.')[0]}.0" if release.get("VERSION_ID") else os_version)),
        "properties": [{"name": f"argreport:os-release:{key}", "value": release[key]}
                       for key in ("ID", "VERSION_ID", "VERSION_CODENAME") if release.get(key)]}

    # The artefacts that carry the binary, as published.
    deb = f"{name}_{info['package_version']}_{arch}.deb"
    rpm = f"{name}-{info['package_version']}.{info['rpm_arch']}.rpm"
    tgz = f"{name}-{info['package_version']}-linux-{info['machine']}.tar.gz"
    source = f"{name}-{version}.tar.gz"
    for f in (deb, rpm, tgz, source):
        if not os.path.exists(os.path.join(publish, f)):
            die(f"{publish}/{f} is missing: publish it first")
    with tarfile.open(os.path.join(publish, tgz)) as t:
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
    debian.owners([os.path.join(musl_dir, "libc.a")] + [path for path, *_ in gcc_files])

    def file_component(ref, label, data, license_expr, pkg):
        return {"type": "file", "bom-ref": ref, "name": label, "version": pkg["version"],
                "supplier": {"name": "Debian", "contact": [{"name": pkg["maintainer"]}]},
                "hashes": hashes(data), "licenses": [{"expression": license_expr}],
                "properties": [{"name": "argreport:debian-package",
                                "value": f"{pkg['package']}:{pkg['arch']}"}]}

    # musl, with the files of it that were linked, at the versions the build
    # read (release.json): Debian's, and musl's own, which the CPE names.
    libc = os.path.join(musl_dir, "libc.a")
    musl_pkg = owner(libc)
    if musl_pkg["source_version"] != info["musl_version"]:
        die(f"{libc} is of musl {musl_pkg['source_version']}, but {build} was configured with "
            f"{info['musl_version']}: configure it again")
    musl_upstream = info["musl_upstream_version"]
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
    upstream = musl_pkg["source"]
    if musl_pkg["source_version"] != musl_pkg["version"]:
        upstream += f"@{musl_pkg['source_version']}"
    musl = {"type": "library", "bom-ref": musl_ref, "name": "musl", "version": musl_upstream,
            "supplier": {"name": "Debian", "contact": [{"name": musl_pkg["maintainer"]}]},
            "description": "the C library, linked statically",
            "licenses": [{"expression": musl_license}],
            "purl": debian.purl("deb", vendor, musl_pkg["package"], musl_pkg["version"], arch=musl_pkg["arch"],
                         distro=distro, upstream=upstream),
            "cpe": f"cpe:2.3:a:musl-libc:musl:{cpe_value(musl_upstream)}:*:*:*:*:*:*:*",
            "hashes": hashes(open(libc, "rb").read()),
            "properties": [{"name": "argreport:debian-package",
                            "value": f"{musl_pkg['package']}:{musl_pkg['arch']} {musl_pkg['version']}"},
                           {"name": "argreport:archive", "value": libc}],
            "components": musl_children}

    # gcc's runtime: its start files, and on some targets members of libgcc.a,
    # at the version of the compiler that linked them.
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
    gcc_version = subprocess.run([info["compiler"], "-dumpfullversion"], check=True,
                                 capture_output=True, text=True).stdout.strip()
    gcc_ref = f"gcc-runtime?arch={arch}"
    gcc = {"type": "library", "bom-ref": gcc_ref, "name": gcc_pkg["package"],
           "version": gcc_pkg["version"],
           "supplier": {"name": "Debian", "contact": [{"name": gcc_pkg["maintainer"]}]},
           "description": f"gcc {gcc_version}'s start files and runtime support, linked statically",
           "licenses": [{"expression": GCC_LICENSE}],
           "purl": debian.purl("deb", vendor, gcc_pkg["package"], gcc_pkg["version"],
                        arch=gcc_pkg["arch"], upstream=gcc_pkg["source"], distro=distro),
           "cpe": GCC_CPE.format(version=cpe_value(gcc_version)),
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
              "purl": debian.purl("generic", None, name, version, arch=arch),
              "hashes": hashes(shipped),
              "externalReferences": [{
                  "type": "source-distribution", "url": source,
                  "comment": "the source release the binary was built from",
                  "hashes": [{"alg": "SHA-256",
                              "content": sha256(open(os.path.join(publish, source), "rb").read())}]}],
              "properties": [{"name": "argreport:source-commit", "value": info["commit"]},
                             {"name": "argreport:path", "value": "/usr/bin/argreport"},
                             {"name": "argreport:linked-objects", "value": " ".join(other)}]}
    if info["commit"]:
        binary["pedigree"] = {"commits": [{"uid": info["commit"]}]}

    carriers = []
    for label, ref_purl in (
            (deb, debian.purl("deb", UPSTREAM, name, info["package_version"], arch=arch)),
            (rpm, debian.purl("rpm", UPSTREAM, name, f"{version}-{info['package_revision']}",
                       arch=info["rpm_arch"])),
            (tgz, None)):
        data = open(os.path.join(publish, label), "rb").read()
        c = {"type": "file", "bom-ref": label, "name": label, "version": info["package_version"]
             if label != tgz else version, "supplier": supplier,
             "licenses": [{"expression": license_expr}], "hashes": hashes(data)}
        if ref_purl:
            c["purl"] = ref_purl
        carriers.append(c)
    if image_archive:
        manifest, config = image_in_archive(image_archive, info["oci_platform"])
        carriers.append({
            "type": "container", "bom-ref": info["image_tag"], "name": name, "version": version,
            "supplier": supplier, "licenses": [{"expression": license_expr}],
            "description": f"the image {info['image_tag']}, named by the digest of its manifest",
            "hashes": [{"alg": "SHA-256", "content": manifest.split(":", 1)[1]}],
            "purl": debian.purl("oci", None, name, manifest, arch=info["oci_platform"].split("/", 1)[1].replace("/", ""),
                         tag=info["image_tag"].split(":", 1)[1]),
            "properties": [{"name": "argreport:image-id", "value": config}]})

    def refs(component):
        yield component
        for child in component.get("components", []):
            yield from refs(child)

    dependencies = [{"ref": binary_ref, "dependsOn": [musl_ref, gcc_ref]}]
    for c in list(refs(musl)) + list(refs(gcc)):
        dependencies.append({"ref": c["bom-ref"], "dependsOn": []})
    for c in carriers:
        dependencies.append({"ref": c["bom-ref"], "dependsOn": [binary_ref]})

    tool = {"components": [{"type": "application", "name": "packaging/release/sbom.py",
                            "version": version, "supplier": supplier}]}
    bom = document({
        "version": 1,
        "metadata": {
            "timestamp": created,
            "lifecycles": [{"phase": "build"}],
            "tools": tool,
            "authors": [supplier["contact"][0]],
            "supplier": supplier,
            "component": binary,
            "properties": [{"name": "argreport:architecture", "value": arch}]},
        "components": [musl, gcc] + carriers,
        "dependencies": dependencies,
        "formulation": [{"bom-ref": "build", "components": [build_machine]}],
    })
    stem = os.path.join(publish, f"{name}-{info['package_version']}-{arch}")
    write(f"{stem}.cdx.json", bom)

    # The VEX: the advisories about this musl, against what the linker took.
    all_members = ar_members(libc)
    linked = {member for archive, member in members if os.path.dirname(os.path.realpath(archive)) == musl_dir}
    vulnerabilities = []
    for ident, where, summary in advisories(os.path.join(os.path.dirname(__file__), "musl-advisories"),
                                            musl_upstream):
        held = sorted(set(where) & linked)
        said = ", ".join(where)
        if held:
            analysis = {"state": "in_triage",
                        "detail": f"The binary holds {', '.join(held)} of libc.a, where this flaw is: "
                                  "to be judged."}
        else:
            analysis = {"state": "not_affected", "justification": "code_not_present",
                        "detail": f"The binary holds {len(linked)} of the {len(all_members)} members of "
                                  f"musl's libc.a, as its linker's map says (the SBOM lists them); {said}, "
                                  "where this flaw is, is not among them."}
        vulnerabilities.append({
            "bom-ref": ident, "id": ident, "description": summary,
            "affects": [{"ref": f"urn:cdx:{bom['serialNumber'][len('urn:uuid:'):]}/1#{musl_ref}"}],
            "analysis": analysis})
    vex = document({
        "version": 1,
        "metadata": {
            "timestamp": created, "tools": tool, "authors": [supplier["contact"][0]],
            "supplier": supplier,
            "component": {k: binary[k] for k in ("type", "bom-ref", "name", "version", "supplier", "purl")}},
        "vulnerabilities": vulnerabilities,
    })
    write(f"{stem}.vex.cdx.json", vex)
    print(f"{stem}.cdx.json: {len(musl_children)} files of musl {musl_pkg['source_version']} "
          f"({musl_license}), {len(gcc_children)} of {gcc_pkg['package']}; the binary is {license_expr}; "
          f"the VEX: " + (", ".join(f"{v['id']} {v['analysis']['state']}" for v in vulnerabilities) or "none"))


if __name__ == "__main__":
    main()
