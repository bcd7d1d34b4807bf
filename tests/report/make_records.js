// Writes sweep records (JSON Lines, as the sweep writes them) for the report's
// browser suite:
//   node make_records.js crafted DIR   DIR/crafted.jsonl (a Samba fleet as a sweep
//                                      records it, plus hostile and odd records)
//                                      and DIR/older.jsonl (the same fleet a week before)
//   node make_records.js sites DIR     DIR/lyon.jsonl, paris.jsonl (swept with --site)
//                                      and old-branch.jsonl (an older sweep: no site,
//                                      no blocker facts), two hosts in two of them
//   node make_records.js fleet N FILE  N hosts of a made-up fleet, for size and for
//                                      the README's picture
//   node make_records.js sweep N FILE [FIRST [SITE [START]]]
//                                      N hosts as a large sweep with /V records them,
//                                      hosts FIRST to FIRST+N-1 (0 by default), each
//                                      record with the site SITE when given, checked
//                                      from START on at the pace of a sweep
'use strict';
const fs = require('fs');
const path = require('path');

const FAMILIES = [
  // family, major, minor, build, ubr, display, product, edition, installation, product type
  ['Windows 11 23H2', 10, 0, '22631', 4460, '23H2', 'Windows 10 Pro', 'Professional', 'Client', 'WinNT'],
  ['Windows 11 24H2', 10, 0, '26100', 2605, '24H2', 'Windows 10 Enterprise', 'Enterprise', 'Client', 'WinNT'],
  ['Windows 10 22H2', 10, 0, '19045', 5247, '22H2', 'Windows 10 Enterprise', 'Enterprise', 'Client', 'WinNT'],
  ['Windows 10 21H2', 10, 0, '19044', 4291, '21H2', 'Windows 10 Enterprise LTSC 2021', 'EnterpriseS', 'Client', 'WinNT'],
  ['Windows Server 2022', 10, 0, '20348', 2849, '21H2', 'Windows Server 2022 Standard', 'ServerStandard', 'Server', 'ServerNT'],
  ['Windows Server 2019', 10, 0, '17763', 6414, '1809', 'Windows Server 2019 Datacenter', 'ServerDatacenter', 'Server', 'ServerNT'],
  ['Windows Server 2016', 10, 0, '14393', 7428, '1607', 'Windows Server 2016 Standard', 'ServerStandard', 'Server', 'ServerNT'],
  ['Windows Server 2012 R2', null, null, '9600', 21620, null, 'Windows Server 2012 R2 Standard', 'ServerStandard', 'Server', 'ServerNT'],
  ['Windows 7', null, null, '7601', 24214, null, 'Windows 7 Professional', 'Professional', 'Client', 'WinNT'],
  ['Windows Server 2025', 10, 0, '26100', 2894, '24H2', 'Windows Server 2025 Datacenter', 'ServerDatacenter', 'Server Core', 'ServerNT'],
];

const PARTS = [[1, 'unreachable'], [2, 'no-management'], [4, 'name-mismatch'], [8, 'domain'],
  [16, 'admin-share'], [32, 'role'], [64, 'os-version'], [128, 'registry']];
function failed(code) {
  if (code === 0) return [];
  if (code === 9) return ['usage'];
  if (code === 99) return ['invalid'];
  return PARTS.filter(([bit]) => code < 16 ? code === bit : bit >= 16 && (code & bit)).map(([, n]) => n);
}

function record(fields) {
  const r = Object.assign({
    schema: 1, host: '', checked_at: '2026-12-07T09:00:00Z', elapsed_ms: 85, exit_code: 0,
    timed_out: false, crashed: false, address: null, full_name: null, netbios_name: null,
    domain: null, product_type: null, os_version: null, admin_share: null, free_bytes: null,
    os: {}, errors: [], smb: { dialect: null, signing_required: null }, lines: [],
  }, MOVE_NONE, fields);
  r.failed = failed(r.exit_code);
  r.os = Object.assign({
    CurrentMajorVersionNumber: null, CurrentMinorVersionNumber: null, CurrentBuildNumber: null,
    UBR: null, DisplayVersion: null, ProductName: null, EditionID: null, InstallationType: null,
    family: null,
  }, r.os);
  const ordered = {};
  for (const k of ['schema', 'host', 'checked_at', 'elapsed_ms', 'exit_code', 'failed', 'timed_out',
    'crashed', 'address', 'full_name', 'netbios_name', 'domain', 'product_type', 'os_version',
    'admin_share', 'free_bytes', 'os', 'errors', 'smb'].concat(Object.keys(MOVE_NONE), ['lines'])) ordered[k] = r[k];
  return ordered;
}

// What a move trips over, null where a sweep did not learn it (an older sweep,
// a host that never answered).
const MOVE_NONE = {
  clock_skew_s: null, dns_domain: null, reboot_pending: null, remote_registry: null, domain_services: null,
  local_admins: null, profiles: null, old_domain: null, blockers: null,
};

// The domain part of "DOM\\user" or "user@dns.domain".
function accountDomain(account) {
  const slash = account.indexOf('\\');
  if (slash >= 0) return account.slice(0, slash);
  const at = account.lastIndexOf('@');
  return at >= 0 ? account.slice(at + 1) : '';
}
// Whether a domain names the record's old domain; ASCII case only, as the
// made-up records need.
function inOldDomain(r, domain) {
  const up = (s) => s.replace(/[a-z]/g, (c) => c.toUpperCase());
  if (!r.old_domain || !domain) return false;
  if (up(domain) === up(r.old_domain)) return true;
  return !!(r.dns_domain && r.domain && up(r.old_domain) === up(r.domain) && up(domain) === up(r.dns_domain));
}

// Gives a record move facts and the blockers a sweep derives from them; the
// old domain is the one given (as with /C), else the host's own.
function withMove(r, facts, oldDomain) {
  Object.assign(r, facts);
  r.old_domain = oldDomain || r.domain;
  const olds = (list, domainOf) => (list || []).some((e) => inOldDomain(r, domainOf(e)));
  const rr = r.remote_registry;
  r.blockers = [
    ['clock', r.clock_skew_s !== null && Math.abs(r.clock_skew_s) > 300],
    ['reboot-pending', r.reboot_pending !== null && r.reboot_pending.length > 0],
    ['remote-registry', rr !== null && (rr.state === 'stopped' || rr.start_type === 'disabled')],
    ['old-domain-services', olds(r.domain_services, (s) => accountDomain(s.account))],
    ['old-domain-admins', olds(r.local_admins, (a) => a.domain)],
    ['old-domain-profiles', olds(r.profiles, (p) => p.domain)],
  ].filter(([, stands]) => stands).map(([name]) => name);
  return r;
}

const service = (name, display_name, account, start_type = 'automatic', state = 'running') =>
  ({ name, display_name, account, start_type, state });
const account = (sid, name, domain, kind) => ({ sid, name, domain, kind });
const profile = (sid, name, domain) => ({ sid, name, domain });
const LOCAL_ADMIN = (host) => account(`S-1-5-21-${host.length}-77-88-500`, 'Administrator', host.toUpperCase(), 'user');

function osOf(f) {
  return {
    CurrentMajorVersionNumber: f[1], CurrentMinorVersionNumber: f[2], CurrentBuildNumber: f[3],
    UBR: f[4], DisplayVersion: f[5], ProductName: f[6], EditionID: f[7], InstallationType: f[8],
    family: f[0],
  };
}

// The lines the single tool prints for a host that answers, as a sweep records them.
function liveLines(addr, domain, code, free, productType) {
  const mark = (bit) => (code & bit ? ' - ' : ' + ');
  const lines = [` + Resolved hostname to: ${addr}`, ' + NetBIOS name matches.', ` + Host in domain: ${domain}`,
    ' ! OS version: 6.3', ` ! ROLE: ${productType === 'WinNT' ? 'workstation' : 'non-DC server'}`];
  lines.push(code & 16 ? ' - Admin$ share exists but has less than 15MB free.'
    : ` + Admin$ share exists and has greater than 15MB free.`);
  lines.push(code & 128 ? ' - Can not connect to remote registry.' : ' + Connected to remote registry.');
  lines.push(`${mark(32)}${productType === 'WinNT' ? 'WORKSTATION' : 'SERVER'} role.`);
  lines.push(`${mark(64)}W2K or greater OS.`);
  return lines;
}

function live(host, i, code, family, domain, free) {
  const addr = `10.97.${(i >> 8) & 255}.${(i & 255) || 1}`;
  const netbios = host.split('.')[0].toUpperCase().slice(0, 15);
  const errors = [];
  if (code & 128) errors.push({ call: 'RegConnectRegistryW', status: 53, name: 'ERROR_BAD_NETPATH' });
  if (code & 16 && free === null) errors.push({ call: 'GetDiskFreeSpaceExW', status: 5, name: 'ERROR_ACCESS_DENIED' });
  return record({
    host, exit_code: code, address: addr, full_name: host.includes('.') ? host : `${host}.corp.example`,
    netbios_name: netbios, domain, product_type: code & 128 ? null : family[9],
    os_version: code & 128 ? null : family[3] === '7601' ? '6.1' : '6.3',
    admin_share: !(code & 16) || free !== null, free_bytes: free, os: code & 128 ? {} : osOf(family),
    errors, smb: { dialect: '3.1.1', signing_required: family[9] !== 'WinNT' },
    lines: liveLines(addr, domain, code, free, family[9]), elapsed_ms: 60 + (i * 37) % 400,
  });
}

function dead(host, i, kind) {
  if (kind === 'timeout') {
    return record({ host, exit_code: 2, timed_out: true, elapsed_ms: 10000, address: `10.98.0.${i % 250 + 1}`,
      full_name: host, lines: [` + Resolved hostname to: 10.98.0.${i % 250 + 1}`] });
  }
  if (kind === 'refused') {
    return record({ host, exit_code: 2, elapsed_ms: 5100, address: `10.98.1.${i % 250 + 1}`, full_name: host,
      errors: [{ call: 'NetWkstaGetInfo', status: 1722, name: 'RPC_S_SERVER_UNAVAILABLE' }],
      lines: [` + Resolved hostname to: 10.98.1.${i % 250 + 1}`, ' ! Second knock...',
        ' - Can not access. NetWkstaGetInfo call failed.'] });
  }
  return record({ host, exit_code: 1, elapsed_ms: 30,
    errors: [{ call: 'gethostbyname', status: 11001, name: 'WSAHOST_NOT_FOUND' }],
    lines: [` - Can not resolve hostname: ${host}`] });
}

// The suite's Samba host as the sweep recorded it, in its several set-ups.
function sambaFleet() {
  const samba = FAMILIES[4];
  const rows = [];
  const domain = 'SÄLJARE';
  rows.push(live('qvxhost', 1, 0, samba, domain, 19922944));
  rows.push(live('qvxhost.test.lan', 1, 0, samba, domain, 19922944));
  rows.push(live('qvxhost-w', 2, 32, samba, domain, 19922944));
  rows.push(live('qvxhost-full', 3, 16, samba, domain, 1048576));
  rows.push(live('qvxhost-noshare', 4, 16, samba, domain, null));
  rows.push(live('qvxhost-noreg', 5, 128 + 32 + 64, samba, domain, 19922944));
  const mismatch = live('wrongname', 6, 4, samba, domain, null);
  mismatch.lines = [' + Resolved hostname to: 10.97.0.1', ' - NetBIOS name does NOT match. Returned: QVXHOST'];
  mismatch.os = osOf([null, null, null, null, null, null, null, null, null]);
  mismatch.os.family = null;
  mismatch.admin_share = null;
  rows.push(mismatch);
  const otherDomain = live('ghost.test.lan', 7, 8, samba, 'WORKGROUP', null);
  otherDomain.lines = [' + Resolved hostname to: 192.0.2.1', ' + NetBIOS name matches.', ' - Host in domain: WORKGROUP'];
  otherDomain.admin_share = null;
  rows.push(otherDomain);
  rows.push(dead('silent.test.lan', 8, 'timeout'));
  rows.push(dead('drop.test.lan', 9, 'refused'));
  rows.push(dead('nohost.test.lan', 10, 'absent'));
  rows.push(record({ host: 'bad,host', exit_code: 9, elapsed_ms: 0,
    lines: ['the host text holds a comma'] }));
  for (let i = 0; i < 8; i++) {
    const f = FAMILIES[i % FAMILIES.length];
    rows.push(live(`ws-${String(i + 1).padStart(3, '0')}.corp.example`, 20 + i, [0, 0, 16, 0, 64, 0, 0, 128][i], f,
      i % 3 ? 'CORP' : 'LEGACY', (i + 1) * 7 * 2 ** 30));
  }
  const byHost = new Map(rows.map((r) => [r.host, r]));
  const move = (host, facts) => withMove(byHost.get(host), facts);
  const clean = { clock_skew_s: 0.4, reboot_pending: [], domain_services: [], profiles: [] };
  move('qvxhost', Object.assign({}, clean, { local_admins: [LOCAL_ADMIN('qvxhost')] }));
  move('qvxhost-w', Object.assign({}, clean, { clock_skew_s: 301.5, local_admins: [LOCAL_ADMIN('qvxhost-w')] }));
  // Its registry would not open; what the service manager says of Remote Registry tells why.
  move('qvxhost-noreg', { clock_skew_s: -2.1, remote_registry: { state: 'stopped', start_type: 'disabled' },
    domain_services: [], local_admins: [LOCAL_ADMIN('qvxhost-noreg')], profiles: [] });
  move('ws-001.corp.example', Object.assign({}, clean, {
    local_admins: [LOCAL_ADMIN('ws-001'), account('S-1-5-21-9-8-7-512', 'Domain Admins', 'LEGACY', 'group')],
    profiles: [profile('S-1-5-21-9-8-7-1201', 'alice', 'LEGACY'), profile('S-1-5-21-5-5-5-1300', 'bob', 'NEWDOM')] }));
  // The old domain by another case, and by its DNS name in a UPN.
  move('ws-002.corp.example', { clock_skew_s: 412.3, dns_domain: 'corp.example',
    reboot_pending: ['windows-update', 'file-rename'],
    domain_services: [service('MSSQLSERVER', 'SQL Server (MSSQLSERVER)', 'corp\\svc-sql'),
      service('BackupAgent', 'Backup agent', 'svc-backup@CORP.example', 'manual', 'stopped'),
      service('Monitor', 'Monitoring agent', 'NEWDOM\\svc-mon', 'disabled', 'stopped')],
    local_admins: [LOCAL_ADMIN('ws-002'), account('S-1-5-21-5-5-5-512', 'Domain Admins', 'NEWDOM', 'group'),
      account('S-1-5-21-1-2-3-1105', '', '', 'deleted')],
    profiles: [profile('S-1-5-21-5-5-5-1300', 'bob', 'NEWDOM')] });
  move('ws-003.corp.example', Object.assign({}, clean, { reboot_pending: ['component-servicing'], local_admins: [] }));
  move('ws-004.corp.example', Object.assign({}, clean, { local_admins: [LOCAL_ADMIN('ws-004')] }));
  move('ws-006.corp.example', Object.assign({}, clean, { clock_skew_s: -305, local_admins: [] }));
  move('ws-007.corp.example', Object.assign({}, clean, {
    local_admins: [account('S-1-5-21-9-8-7-1105', 'helpdesk', 'LEGACY', 'group')] }));
  // A registry that failed with Remote Registry running is no blocker.
  move('ws-008.corp.example', { clock_skew_s: 1, remote_registry: { state: 'running', start_type: 'manual' },
    domain_services: [], local_admins: [], profiles: [] });
  return rows;
}

function hostile() {
  const pwn = (n) => `window.__qvxPwned=${n}`;
  const h1 = live('<script>' + pwn(1) + '</script>', 40, 0, FAMILIES[0], 'CORP', 5 * 2 ** 30);
  const h2 = live(`"><img src=x onerror="${pwn(2)}">`, 41, 16, FAMILIES[1], `</script><script>${pwn(3)}</script>`, null);
  const h3 = live('ctl\u0001\u001b[31mred\u0007\u2028sep', 42, 0, FAMILIES[2], 'CORP', 2 ** 40);
  h3.lines.push(`<svg onload="${pwn(4)}">`, '\u001b]0;title\u0007', '&lt;not an entity&gt;');
  const h4 = live('odd-os', 43, 64, FAMILIES[3], 'CORP', 3 * 2 ** 30);
  h4.os.family = `<b onmouseover="${pwn(5)}">Windows</b>`;
  h4.os.ProductName = `"'<iframe src="javascript:${pwn(6)}">`;
  h4.errors.push({ call: '<i>call</i>', status: -1073741790, name: '<u>STATUS_ACCESS_DENIED</u>' });
  withMove(h2, { clock_skew_s: 0, reboot_pending: [`<iframe src="javascript:${pwn(7)}">`],
    domain_services: [service(`<b>${pwn(8)}</b>`, `</script><script>${pwn(9)}</script>`,
      `CORP\\<img src=x onerror="${pwn(10)}">`, '<i>auto</i>', '<u>on</u>')],
    local_admins: [account('<u>S-1-5</u>', `<img src=x onerror="${pwn(11)}">`, 'corp', '<b>group</b>')],
    profiles: [profile(`<svg onload="${pwn(12)}">`, '<i>x</i>', 'CORP')] }, 'CORP');
  h2.blockers.push(`<img src=x onerror="${pwn(13)}">`);  // a name this version does not know
  return [h1, h2, h3, h4];
}

function crafted(dir) {
  const now = sambaFleet().concat(hostile());
  const older = sambaFleet().map((r) => JSON.parse(JSON.stringify(r)));
  const byHost = new Map(older.map((r) => [r.host, r]));
  // A week before: one host not yet ready, one ready that is not now, one
  // since upgraded, one since retired; the hostile ones were not listed.
  byHost.get('ws-003.corp.example').exit_code = 0;
  byHost.get('ws-003.corp.example').failed = [];
  byHost.get('ws-002.corp.example').exit_code = 16;
  byHost.get('ws-002.corp.example').failed = ['admin-share'];
  byHost.get('ws-001.corp.example').os = osOf(FAMILIES[2]);
  // Blockers then, compared name by name; a record without them never counts.
  const blockersThen = [['qvxhost-noreg', ['clock', 'remote-registry']], ['ws-001.corp.example', ['old-domain-admins']],
    ['ws-002.corp.example', ['old-domain-services']], ['ws-004.corp.example', ['old-domain-admins']],
    ['ws-006.corp.example', []], ['ws-007.corp.example', null]];
  for (const [host, blockers] of blockersThen) byHost.get(host).blockers = blockers;
  older.push(live('retired.corp.example', 99, 0, FAMILIES[8], 'CORP', 2 ** 33));
  fs.writeFileSync(path.join(dir, 'crafted.jsonl'), now.map((r) => JSON.stringify(r) + '\n').join(''));
  fs.writeFileSync(path.join(dir, 'older.jsonl'), older.map((r) => JSON.stringify(r) + '\n').join(''));
}

// Three sites swept apart. shared-01 was checked at Paris, then later at
// Lyon; shared-02 at Lyon and by the branch in the same second, and the
// branch's file is named last. Paris's site name is hostile.
const SITE_FILES = ['lyon.jsonl', 'paris.jsonl', 'old-branch.jsonl'];
const PARIS = 'Paris "<i>Nord</i>"';
function sites(dir) {
  const clean = { clock_skew_s: 0.4, reboot_pending: [], domain_services: [], local_admins: [], profiles: [] };
  const facts = (more) => Object.assign({}, clean, more);
  const swept = (records, site, checkedAt) => records.map((r) => Object.assign(r, { checked_at: checkedAt, site }));
  const free = 60 * 2 ** 30;
  const lyon = swept([
    withMove(live('lyon-001.corp.example', 1, 0, FAMILIES[0], 'CORP', free), clean),
    withMove(live('lyon-002.corp.example', 2, 0, FAMILIES[1], 'CORP', free), facts({ clock_skew_s: 400 })),
    withMove(live('lyon-003.corp.example', 3, 16, FAMILIES[2], 'CORP', 2 ** 20), facts({ reboot_pending: ['windows-update'] })),
    dead('lyon-004.corp.example', 4, 'absent'),
    dead('lyon-005.corp.example', 5, 'timeout'),
    withMove(live('shared-01.corp.example', 6, 0, FAMILIES[4], 'CORP', free), clean),
  ], 'Lyon', '2026-12-08T10:00:00Z');
  lyon.push(...swept([withMove(live('shared-02.corp.example', 7, 0, FAMILIES[4], 'CORP', free),
    facts({ clock_skew_s: -500 }))], 'Lyon', '2026-12-07T09:00:00Z'));
  const paris = swept([
    withMove(live('paris-001.corp.example', 11, 0, FAMILIES[5], 'CORP', free), clean),
    withMove(live('paris-002.corp.example', 12, 32, FAMILIES[6], 'CORP', free),
      facts({ local_admins: [account('S-1-5-21-9-8-7-1105', 'helpdesk', 'CORP', 'group')] })),
    dead('paris-003.corp.example', 13, 'refused'),
    withMove(live('SHARED-01.corp.example', 14, 16, FAMILIES[4], 'CORP', 2 ** 20), clean),
  ], PARIS, '2026-12-07T11:00:00Z');
  // An older sweep wrote neither a site nor what a move trips over.
  const older = (r) => {
    for (const key of Object.keys(MOVE_NONE)) delete r[key];
    return r;
  };
  const branch = [
    live('branch-001.corp.example', 21, 0, FAMILIES[2], 'LEGACY', free),
    live('branch-002.corp.example', 22, 64, FAMILIES[8], 'LEGACY', free),
    dead('branch-003.corp.example', 23, 'absent'),
    live('shared-02.corp.example', 24, 0, FAMILIES[4], 'LEGACY', free),
  ].map(older);
  [lyon, paris, branch].forEach((records, i) => fs.writeFileSync(path.join(dir, SITE_FILES[i]),
    records.map((r) => JSON.stringify(r) + '\n').join('')));
}

// A fleet swept with /C LEGACY: its domain accounts are shared across hosts,
// a few hosts lag behind.
function fleetMove(r, i) {
  const registry = (r.exit_code & 128) !== 0;
  const legacy = (k) => (i * k) % 11 === 0;
  const domainSid = (rid) => `S-1-5-21-4100-4200-${r.domain === 'LEGACY' ? 4300 : 4400}-${rid}`;
  withMove(r, {
    clock_skew_s: i % 41 === 0 ? 300.5 + (i % 90) : ((i * 37) % 200 - 100) / 10,
    reboot_pending: registry ? null : i % 9 === 0 ? ['windows-update'] : i % 23 === 0 ? ['file-rename'] : [],
    remote_registry: !registry ? null : i % 2 ? { state: 'stopped', start_type: 'disabled' }
      : { state: 'running', start_type: 'manual' },
    domain_services: i % 6 ? [] : [service('MSSQLSERVER', 'SQL Server (MSSQLSERVER)',
      `${legacy(3) ? 'LEGACY' : 'CORP'}\\svc-sql`)],
    // Each host's own accounts have a SID of their own.
    local_admins: [account(`S-1-5-21-${4000000000 - i * 7919}-1862412345-${100000 + i}-500`, 'Administrator',
      r.netbios_name, 'user'), account(domainSid(512), 'Domain Admins', r.domain, 'group')]
      .concat(legacy(7) ? [account('S-1-5-21-4100-4200-4300-1105', 'helpdesk', 'LEGACY', 'group')] : []),
    profiles: [profile(domainSid(2000 + i % 300), `user${i % 300}`, r.domain)],
  }, 'LEGACY');
}

function fleet(n, file) {
  const out = fs.openSync(file, 'w');
  let chunk = '';
  for (let i = 0; i < n; i++) {
    // Deterministic but varied: most ready, the rest spread over the parts.
    const roll = (i * 7919) % 100;
    const family = FAMILIES[(i * 31) % FAMILIES.length];
    const domain = ['CORP', 'CORP', 'CORP', 'SALES', 'LEGACY'][(i * 13) % 5];
    const name = `${family[9] === 'WinNT' ? 'ws' : 'srv'}-${String(i + 1).padStart(5, '0')}.corp.example`;
    let r;
    if (roll < 62) r = live(name, i, 0, family, domain, ((i * 2654435761) % 400 + 2) * 2 ** 30);
    else if (roll < 70) r = live(name, i, 16, family, domain, ((i * 97) % 14) * 2 ** 20);
    else if (roll < 75) r = live(name, i, 32, family, domain, ((i * 2654435761) % 200 + 2) * 2 ** 30);
    else if (roll < 79) r = live(name, i, family[0] === 'Windows 7' ? 64 : 128, family, domain, 40 * 2 ** 30);
    else if (roll < 84) r = live(name, i, 8, family, 'OLDDOMAIN', null);
    if (r) fleetMove(r, i);
    else if (roll < 90) r = dead(name, i, 'absent');
    else if (roll < 95) r = dead(name, i, 'refused');
    else r = dead(name, i, 'timeout');
    chunk += JSON.stringify(r) + '\n';
    if (chunk.length > 1 << 20) { fs.writeSync(out, chunk); chunk = ''; }
  }
  fs.writeSync(out, chunk);
  fs.closeSync(out);
}

// A large sweep with /V /C LEGACY: 5% of the hosts unreachable, every failed
// part and every blocker present, most hosts answering with the facts beyond
// the checks. The same host number always gives the same record but for its
// time, so two sweeps of overlapping ranges describe the same hosts.
const COMMENTS = ['', '', 'Finance workstation', 'Build server', 'Print server, 3rd floor', 'SQL cluster node',
  'Kiosk'];
const SERVICES = [
  ['MSSQLSERVER', 'SQL Server (MSSQLSERVER)', 'svc-sql'], ['SQLSERVERAGENT', 'SQL Server Agent (MSSQLSERVER)', 'svc-sql'],
  ['BackupAgent', 'Backup agent', 'svc-backup'], ['MonAgent', 'Monitoring agent', 'svc-mon'],
  ['W3SVC', 'World Wide Web Publishing Service', 'svc-web'], ['Spooler2', 'Print relay', 'svc-print'],
];
function sweepLines(r, i, code, server) {
  const lines = [` + Resolved hostname to: ${r.address}`];
  if (code === 4) return lines.concat([` - NetBIOS name does NOT match. Returned: ${'PC' + (i * 7 % 9000 + 1000)}`]);
  lines.push(' + NetBIOS name matches.');
  if (code === 8) return lines.concat([` - Host is in the ${r.domain} domain (NOT LEGACY as expected).`]);
  lines.push(` + Host in domain: ${r.domain}`, ` ! OS version: ${r.os_version || '10.0'}`);
  const comment = COMMENTS[i % COMMENTS.length];
  if (comment) lines.push(` ! OS comment: ${comment}`);
  if (server) lines.push(' ! ROLE: non-DC server');
  if (i % 17 === 0) lines.push(' ! ROLE: Time server');
  if (i % 3) lines.push(` ! Active sessions: ${i % 5 + 1}`);
  lines.push(code & 16 ? (r.free_bytes === null ? ' - Admin$ share does NOT exist or we have no access to it.'
    : ' - Admin$ share exists but has less than 015MB free.') : ' + Admin$ share exists and has greater than 015MB free.');
  if (code & 128) {
    return lines.concat([' - Can NOT access remote registry. Non-NT OS or access denied.']);
  }
  lines.push(' + Connected to remote registry.', `${code & 32 ? ' - ' : ' + '}${server ? 'SERVER' : 'WORKSTATION'} role.`);
  lines.push(code & 64 ? ' - Unsupported OS.' : ' + W2K or greater OS.');
  return lines;
}

function sweepMove(r, i) {
  const server = r.product_type === 'ServerNT';
  const legacy = r.domain === 'LEGACY';
  const dom = (k) => (legacy || (i * k) % 13 === 0 ? 'LEGACY' : r.domain);
  const domainSid = (d, rid) => `S-1-5-21-4100-4200-${d === 'LEGACY' ? 4300 : d === 'SALES' ? 4500 : 4400}-${rid}`;
  const services = server ? SERVICES.filter((_, k) => (i >> k) % 3 === 0).map(([name, display, user], k) =>
    service(name, display, `${dom(k + 3)}\\${user}`, k % 4 ? 'automatic' : 'manual', k % 5 ? 'running' : 'stopped'))
    : i % 7 ? [] : [service('BackupAgent', 'Backup agent', `${dom(5)}\\svc-backup`)];
  const users = Array.from({ length: i % 4 }, (_, k) => (i * 31 + k * 977) % 4000);
  withMove(r, {
    clock_skew_s: i % 53 === 0 ? 300.5 + (i % 90) : ((i * 37) % 200 - 100) / 10,
    dns_domain: `${r.domain.toLowerCase()}.example`,
    reboot_pending: i % 9 === 0 ? ['windows-update'] : i % 23 === 0 ? ['component-servicing', 'file-rename'] : [],
    remote_registry: null,
    domain_services: services,
    local_admins: [account(`S-1-5-21-${4000000000 - i * 7919}-${1862412345 - i}-${100000 + i}-500`, 'Administrator',
      r.netbios_name, 'user'), account(domainSid(r.domain, 512), 'Domain Admins', r.domain, 'group')]
      .concat(i % 11 === 0 ? [account(domainSid('LEGACY', 1105), 'helpdesk', 'LEGACY', 'group')] : [])
      .concat(i % 97 === 0 ? [account(`S-1-5-21-1-2-3-${1100 + i % 50}`, '', '', 'deleted')] : []),
    profiles: users.map((u) => { const d = dom(u + 1); return profile(domainSid(d, 2000 + u), `user${u}`, d); }),
  }, 'LEGACY');
}

function sweepRecord(i, site, startMs) {
  const roll = (i * 7919 + 13) % 1000;
  const family = FAMILIES[(i * 31 + (i >> 4)) % FAMILIES.length];
  const server = family[9] === 'ServerNT';
  const domain = ['CORP', 'CORP', 'CORP', 'SALES', 'LEGACY'][(i * 13) % 5];
  const host = `${server ? 'srv' : 'ws'}-${String(i + 1).padStart(6, '0')}.corp.example`;
  const addr = `10.${96 + (i >> 16)}.${(i >> 8) & 255}.${(i & 255) || 1}`;
  let r;
  if (roll < 20) {
    r = record({ host, exit_code: 1, elapsed_ms: 20 + i % 40, lines: [' - Could not resolve hostname to IP Address.'],
      errors: [{ call: 'getaddrinfo', status: 11001, name: 'WSAHOST_NOT_FOUND' }] });
  } else if (roll < 40) {
    r = record({ host, exit_code: 2, elapsed_ms: 5000 + i % 300, address: addr, full_name: host,
      errors: [{ call: 'NetWkstaGetInfo', status: 1722, name: 'RPC_S_SERVER_UNAVAILABLE' },
        { call: 'NetWkstaGetInfo', status: 1722, name: 'RPC_S_SERVER_UNAVAILABLE' }],
      lines: [` + Resolved hostname to: ${addr}`, ' ! Retrying NetWkstaGetInfo call...',
        ' - Can not access. NetWkstaGetInfo call failed.'] });
  } else if (roll < 50) {
    r = record({ host, exit_code: 2, timed_out: true, elapsed_ms: 60000 + i % 900, address: addr, full_name: host,
      lines: [` + Resolved hostname to: ${addr}`] });
  } else if (roll < 51) {
    r = record({ host: host.replace('.', ' .'), exit_code: 9, elapsed_ms: 0,
      lines: ['ERROR: The host text holds a space, which no host name does.'] });
  } else if (roll < 53) {
    r = record({ host, exit_code: 2, crashed: true, elapsed_ms: 900 + i % 400, address: addr, full_name: host,
      lines: [` + Resolved hostname to: ${addr}`, ' + NetBIOS name matches.'] });
  } else {
    const code = roll < 75 ? 4 : roll < 115 ? 8 : roll < 175 ? 16 : roll < 215 ? 32 : roll < 235 ? 64
      : roll < 265 ? [128, 144, 160, 176][i % 4] : 0;
    const free = code & 16 ? (i % 3 ? ((i * 97) % 14) * 2 ** 20 : null) : ((i * 2654435761) % 400 + 2) * 2 ** 30;
    r = live(host, i, code, family, code === 8 ? 'OLDDOMAIN' : domain, free);
    r.address = addr;
    if (code === 4 || code === 8) {
      Object.assign(r, { product_type: null, os_version: null, admin_share: null, free_bytes: null,
        os: osOf([null, null, null, null, null, null, null, null, null]) });
      r.os.family = null;
      r.errors = [];
    }
    if (code & 128) {
      r.errors = [{ call: 'RegConnectRegistryW', status: 53, name: 'ERROR_BAD_NETPATH' }];
      if (code & 16 && free === null) r.errors.push({ call: 'NetShareGetInfo', status: 5, name: 'ERROR_ACCESS_DENIED' });
    }
    r.lines = sweepLines(r, i, code, server);
    if (code !== 4 && code !== 8) {
      sweepMove(r, i);
      if (code & 128) {
        r.remote_registry = i % 2 ? { state: 'stopped', start_type: 'disabled' } : { state: 'running', start_type: 'manual' };
        r.reboot_pending = null;
        withMove(r, {}, 'LEGACY');
      }
    }
  }
  if (site) r.site = site;
  // About 20 hosts a second finish in a large sweep.
  r.checked_at = new Date(startMs + Math.floor(i * 50 + (i % 7) * 9)).toISOString().replace(/\.\d+Z$/, 'Z');
  return r;
}

function sweepFile(n, file, first, site, start) {
  const out = fs.openSync(file, 'w');
  const startMs = Date.parse(start || '2026-12-07T08:00:00Z');
  let chunk = '';
  for (let i = first; i < first + n; i++) {
    chunk += JSON.stringify(sweepRecord(i, site, startMs)) + '\n';
    if (chunk.length > 1 << 20) { fs.writeSync(out, chunk); chunk = ''; }
  }
  fs.writeSync(out, chunk);
  fs.closeSync(out);
}

module.exports = { accountDomain, inOldDomain, SITE_FILES, PARIS };
if (require.main === module) {
  const [mode, a, b] = process.argv.slice(2);
  if (mode === 'crafted') crafted(a);
  else if (mode === 'sites') sites(a);
  else if (mode === 'fleet') fleet(Number(a), b);
  else if (mode === 'sweep') sweepFile(Number(a), b, Number(process.argv[5] || 0), process.argv[6], process.argv[7]);
  else {
    console.error('usage: make_records.js crafted DIR | sites DIR | fleet N FILE | sweep N FILE [FIRST [SITE [START]]]');
    process.exit(2);
  }
}
