#!/usr/bin/env python3
"""Validates CycloneDX 1.6 documents, the release's SBOMs and VEXes.

    packaging/release/sbom/validate.py FILE...

Each FILE is checked against the CycloneDX 1.6 JSON schema, kept beside this
script as the CycloneDX project ships it for offline use (README.md), with
Debian's python3-jsonschema, and its formats too: date-time, idn-email and
uri; iri-reference is accepted as it is, as the CycloneDX project's own
validator accepts it. A document that describes
components is also checked for the NTIA minimum elements: the document's
author and timestamp, and for every component its supplier, name, version
and a unique identifier (purl, CPE or hashes, besides its bom-ref), and
its place in the dependency graph. Prints one line for each finding and
exits 1 if there is any.
"""
import json
import os
import re
import sys
import warnings
from datetime import datetime

import jsonschema

HERE = os.path.dirname(os.path.abspath(__file__))
# The schema's own names for the files it refers to, and where they are.
SCHEMAS = {"http://cyclonedx.org/schema/spdx.SNAPSHOT.schema.json": "spdx.SNAPSHOT.schema.json",
           "http://cyclonedx.org/schema/jsf-0.82.SNAPSHOT.schema.json": "jsf-0.82.SNAPSHOT.schema.json"}


def load(name):
    with open(os.path.join(HERE, name), encoding="utf-8") as f:
        return json.load(f)


# jsonschema checks date-time and uri only with modules that are optional,
# and that Debian does not all package: these two are checked here, the
# same with any jsonschema.
def date_time(value):
    """RFC 3339's date-time: a date, T, a time, and Z or an offset."""
    if not isinstance(value, str):
        return True
    if not re.fullmatch(r"\d{4}-\d\d-\d\d[Tt]\d\d:\d\d:\d\d(\.\d+)?([Zz]|[+-]\d\d:\d\d)", value):
        return False
    datetime.fromisoformat(value.upper().replace("Z", "+00:00"))
    return True


def uri(value):
    """RFC 3986's URI: a scheme, then characters a URI may hold."""
    return not isinstance(value, str) or bool(
        re.fullmatch(r"[A-Za-z][A-Za-z0-9+.-]*:[A-Za-z0-9\-._~:/?#\[\]@!$&'()*+,;=%]*", value))


def schema_validator():
    """CycloneDX 1.6's schema, read and compiled once for every document."""
    schema = load("bom-1.6.SNAPSHOT.schema.json")
    formats = jsonschema.FormatChecker()
    formats.checks("date-time", raises=ValueError)(date_time)
    formats.checks("uri")(uri)
    with warnings.catch_warnings():
        # RefResolver is the one resolver both Debian 12's jsonschema and
        # later ones have; the later ones call it deprecated.
        warnings.simplefilter("ignore", DeprecationWarning)
        resolver = jsonschema.RefResolver.from_schema(
            schema, store={uri: load(name) for uri, name in SCHEMAS.items()})
        return jsonschema.Draft7Validator(schema, resolver=resolver, format_checker=formats)


def schema_findings(validator, document):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        return [f"not valid CycloneDX 1.6: {'/'.join(map(str, e.absolute_path)) or '(document)'}: {e.message}"
                for e in validator.iter_errors(document)]


def ntia_findings(bom):
    problems = []
    meta = bom.get("metadata", {})
    if not meta.get("timestamp"):
        problems.append("no timestamp")
    if not any(a.get("name") for a in meta.get("authors", [])):
        problems.append("no author of the SBOM data")
    every = []

    def walk(c):
        every.append(c)
        for child in c.get("components", []):
            walk(child)
    if "component" in meta:
        walk(meta["component"])
    else:
        problems.append("no metadata.component")
    for c in bom.get("components", []):
        walk(c)
    deps = {d["ref"]: d.get("dependsOn", []) for d in bom.get("dependencies", [])}
    refs = {c.get("bom-ref") for c in every}
    for c in every:
        who = c.get("bom-ref") or c.get("name")
        if not c.get("supplier", {}).get("name"):
            problems.append(f"{who}: no supplier")
        if not c.get("name"):
            problems.append(f"{who}: no name")
        if not c.get("version"):
            problems.append(f"{who}: no version")
        if not c.get("bom-ref") or not (c.get("purl") or c.get("cpe") or c.get("hashes")):
            problems.append(f"{who}: no unique identifier")
        if c.get("bom-ref") not in deps:
            problems.append(f"{who}: not in the dependency graph")
    if "component" in meta and not deps.get(meta["component"].get("bom-ref")):
        problems.append("the described component has no relationships")
    for ref, on in deps.items():
        problems += [f"{ref} depends on unknown {target}" for target in on if target not in refs]
    return problems


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__.strip().splitlines()[2].strip())
    found = 0
    validator = schema_validator()
    for path in sys.argv[1:]:
        with open(path, encoding="utf-8") as f:
            bom = json.load(f)
        problems = schema_findings(validator, bom)
        if bom.get("components"):
            problems += ntia_findings(bom)
        for p in problems:
            print(f"{path}: {p}")
        found += len(problems)
    sys.exit(1 if found else 0)


if __name__ == "__main__":
    main()
