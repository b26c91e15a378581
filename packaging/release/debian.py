"""Which installed Debian package holds a file, and a package's URL (purl),
for sbom.py and provenance.py.

dpkg-query reads every package's list of files for each question: the files
are asked about all at once (owners), and each answer is kept for owner.
"""
import os
import subprocess
import sys
from urllib.parse import quote

_owners = {}


def candidates(path):
    """The names dpkg may know a file by: as given, with its links
    followed, and with /bin merged into /usr/bin, by its old path."""
    real = os.path.realpath(path)
    return list(dict.fromkeys((path, real, real.replace("/usr/", "/", 1))))


def owners(paths):
    """Asks dpkg-query, once, which packages hold each of paths."""
    asked = [c for p in paths for c in candidates(p) if c not in _owners]
    if not asked:
        return
    out = subprocess.run(["dpkg-query", "-S", *asked], capture_output=True, text=True).stdout
    for c in asked:
        _owners[c] = None
    for line in out.splitlines():
        packages, sep, path = line.partition(": ")
        if sep and path in _owners and not line.startswith("diversion "):
            _owners[path] = _owners[path] or packages.split(", ")[0]


def owner(path, required=False):
    """The package (NAME:ARCH) that holds path, or None; where one must,
    none ends the script that asked."""
    owners([path])
    for c in candidates(path):
        if _owners.get(c):
            return _owners[c]
    if required:
        sys.exit(f"{os.path.basename(sys.argv[0])}: no installed package holds {path}")
    return None


def fields(package, *names):
    """dpkg-query's fields of an installed package (${Package}, say), in order."""
    form = "\t".join("${%s}" % n for n in names) + "\n"
    out = subprocess.run(["dpkg-query", "-W", f"-f={form}", package], check=True,
                         capture_output=True, text=True).stdout
    return out.splitlines()[0].split("\t")


def purl(kind, namespace, name, version, **qualifiers):
    out = f"pkg:{kind}/" + (f"{namespace}/" if namespace else "") + quote(name, safe="")
    if version:
        out += "@" + quote(version, safe="")
    if qualifiers:
        out += "?" + "&".join(f"{k}={quote(v, safe='')}" for k, v in sorted(qualifiers.items()))
    return out
