// The page's data, decoded by the page's own script, against the records it
// was rendered from: every field the table, the filters and an opened row
// show, for every host.
//   node page_data_test.js [--live] PAGE.html RECORDS.jsonl...
// --live: the page a sweep made as it checked, whose records have no site
// but their own (a rendered file's records without one take the file's name).
// With several records files the page holds the last record of each host
// (files given in the order of their checks).
'use strict';
const fs = require('fs');
const vm = require('vm');
const { accountDomain, inOldDomain } = require('./make_records.js');

const args = process.argv.slice(2);
const live = args[0] === '--live';
const [page, ...recordFiles] = live ? args.slice(1) : args;
const html = fs.readFileSync(page, 'utf8');
const between = (open, close) => {
  const start = html.indexOf(open);
  if (start < 0) throw new Error(`no ${open} in ${page}`);
  return html.slice(start + open.length, html.indexOf(close, start + open.length));
};
const dataText = between('<script type="application/json" id="qvx-data">', '</script>');
const script = /<script nonce="[0-9a-f]+">([\s\S]*?)<\/script>/.exec(html)[1];

// The page's script with no document to draw in: it only defines its decoder.
const context = { document: { visibilityState: 'visible' }, requestAnimationFrame: () => {} };
vm.runInNewContext(script, context);
const hosts = context.decodeFleetData(JSON.parse(dataText));

const key = (host) => host.trim().toUpperCase();
const byKey = new Map();
for (const file of recordFiles) {
  for (const line of fs.readFileSync(file, 'utf8').split('\n')) {
    if (!line) continue;
    const r = JSON.parse(line);
    // A record without a site is its file's, as the merge names it.
    if (live) r.site = r.site || null;
    else if (!r.site) r.site = require('path').basename(file).replace(/\.[^.]*$/, '');
    byKey.delete(key(r.host));
    byKey.set(key(r.host), r);
  }
}
const records = Array.from(byKey.values());

const MOVE = ['clock_skew_s', 'dns_domain', 'reboot_pending', 'remote_registry', 'domain_services', 'local_admins',
  'profiles', 'old_domain', 'blockers'];
function shown(r) {
  const entries = (list, cells, domainOf) => list === null ? null
    : list.map((e) => cells(e).concat([inOldDomain(r, domainOf(e)) ? 1 : 0]));
  const rr = r.remote_registry;
  return {
    h: r.host, c: r.exit_code, f: r.failed, to: r.timed_out, cr: r.crashed, a: r.address, fn: r.full_name,
    nb: r.netbios_name, d: r.domain, pt: r.product_type, ov: r.os_version, as: r.admin_share, fb: r.free_bytes,
    e: r.elapsed_ms, at: r.checked_at, l: r.lines,
    os: [r.os.ProductName, r.os.EditionID, r.os.DisplayVersion, r.os.InstallationType,
      r.os.CurrentMajorVersionNumber, r.os.CurrentMinorVersionNumber],
    er: r.errors.map((e) => [e.call, e.status, e.name || '']),
    sm: r.smb.dialect === null && r.smb.signing_required === null ? null
      : [r.smb.dialect, r.smb.signing_required === null ? null : r.smb.signing_required ? 1 : 0],
    b: r.blockers,
    s: r.site,
    mv: MOVE.every((k) => r[k] === null) ? null : [r.clock_skew_s, r.reboot_pending, rr && [rr.state, rr.start_type],
      entries(r.domain_services, (s) => [s.name, s.display_name, s.account, s.start_type, s.state],
        (s) => accountDomain(s.account)),
      entries(r.local_admins, (a) => [a.name, a.domain, a.kind, a.sid], (a) => a.domain),
      entries(r.profiles, (p) => [p.sid, p.name, p.domain], (p) => p.domain),
      r.old_domain, r.dns_domain],
  };
}

let failed = 0;
if (hosts.length !== records.length) {
  console.log(`not ok - the page holds ${hosts.length} hosts, the records ${records.length}`);
  failed++;
}
for (let i = 0; i < Math.min(hosts.length, records.length) && failed < 5; i++) {
  const want = shown(records[i]);
  for (const [k, v] of Object.entries(want)) {
    const got = JSON.stringify(hosts[i][k]);
    if (got !== JSON.stringify(v)) {
      console.log(`not ok - host ${i} (${JSON.stringify(want.h)}) ${k}: page ${got}, records ${JSON.stringify(v)}`);
      failed++;
    }
  }
  // Derived by the sweep from the OS facts; a family of the record's own is shown as it is.
  if (records[i].os.family && hosts[i].fam !== records[i].os.family) {
    console.log(`not ok - host ${i} family ${hosts[i].fam}`);
    failed++;
  }
}
console.log(`${failed ? 'not ok' : 'ok'} - ${page}: ${hosts.length} hosts decoded as their records show them ` +
  `(${(dataText.length / 1e6).toFixed(1)} MB of data)`);
process.exit(failed ? 1 : 0);
