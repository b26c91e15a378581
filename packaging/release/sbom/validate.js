// Validates CycloneDX SBOMs with the CycloneDX project's own library, its
// strict JSON validator for spec 1.6, and checks the NTIA minimum elements:
// the SBOM's author and timestamp, and for every component its supplier,
// name, version and a unique identifier (purl, CPE or hashes, besides its
// bom-ref), and its place in the dependency graph.
//   node validate.js SBOM PURL...    (PURLs the SBOM must name)
// Prints one line for each finding and exits 1 if there is any.
'use strict';
const fs = require('fs');
const CDX = require('@cyclonedx/cyclonedx-library');

(async () => {
  const [file, ...purls] = process.argv.slice(2);
  const text = fs.readFileSync(file, 'utf8');
  const problems = [];
  const validator = new CDX.Validation.JsonStrictValidator(CDX.Spec.Version.v1dot6);
  const invalid = await validator.validate(text);
  if (invalid !== null) problems.push(`not valid CycloneDX 1.6: ${JSON.stringify(invalid)}`);

  const bom = JSON.parse(text);
  const meta = bom.metadata || {};
  if (!meta.timestamp) problems.push('no timestamp');
  if (!(meta.authors || []).some((a) => a.name)) problems.push('no author of the SBOM data');
  const all = [];
  const walk = (c) => { all.push(c); (c.components || []).forEach(walk); };
  if (meta.component) walk(meta.component); else problems.push('no metadata.component');
  (bom.components || []).forEach(walk);
  const deps = new Map((bom.dependencies || []).map((d) => [d.ref, d.dependsOn || []]));
  for (const c of all) {
    const who = c['bom-ref'] || c.name;
    if (!(c.supplier && c.supplier.name)) problems.push(`${who}: no supplier`);
    if (!c.name) problems.push(`${who}: no name`);
    if (!c.version) problems.push(`${who}: no version`);
    if (!c['bom-ref'] || !(c.purl || c.cpe || (c.hashes || []).length)) problems.push(`${who}: no unique identifier`);
    if (!deps.has(c['bom-ref'])) problems.push(`${who}: not in the dependency graph`);
  }
  if (meta.component && !(deps.get(meta.component['bom-ref']) || []).length) {
    problems.push('the described component has no relationships');
  }
  for (const [ref, on] of deps) {
    for (const target of on) if (!all.some((c) => c['bom-ref'] === target)) problems.push(`${ref} depends on unknown ${target}`);
  }
  const named = new Set(all.map((c) => c.purl).filter(Boolean));
  for (const p of purls) if (!named.has(p)) problems.push(`names no ${p}`);

  problems.forEach((p) => console.log(`${file}: ${p}`));
  process.exit(problems.length ? 1 : 0);
})().catch((e) => { console.log(`${process.argv[2]}: ${e}`); process.exit(1); });
