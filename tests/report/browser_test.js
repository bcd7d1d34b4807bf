// Drives headless Chromium over the reports that tests/suites/report.sh made,
// comparing what the page shows with the JSON Lines it was made from.
//   node browser_test.js DIR
// DIR holds crafted.jsonl/.html, older.jsonl, since.html, fleet.jsonl/.html,
// the three sites' records with sites.html and, when a sweep ran,
// sweep.jsonl/.html. QVX_SCREENSHOT=FILE also saves a
// picture of demo.html.
'use strict';
const fs = require('fs');
const path = require('path');
const { withChromium } = require('./chromium.js');
const { accountDomain, inOldDomain, SITE_FILES, PARIS } = require('./make_records.js');

const dir = process.argv[2];
let passed = 0;
let failed = 0;
function check(name, ok, detail) {
  if (ok) { passed++; console.log(`ok - ${name}`); } else { failed++; console.log(`not ok - ${name}${detail ? ': ' + detail : ''}`); }
}
const readRecords = (file) => fs.readFileSync(file, 'utf8').split('\n').filter((l) => l).map((l) => JSON.parse(l));
// The page shows control characters as their visible symbols.
const visible = (s) => s.replace(/[\u0000-\u0008\u000b-\u001f\u007f]/g,
  (c) => String.fromCharCode(c === '\u007f' ? 0x2421 : 0x2400 + c.charCodeAt(0)));
const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);

async function open(browser, file) {
  const page = await browser.newPage();
  const problems = [];
  const requests = [];
  const url = 'file://' + path.resolve(file);
  page.on('console', (m) => { if (m.type() === 'error' || m.type() === 'warning') problems.push(m.text()); });
  page.on('pageerror', (e) => problems.push(String(e)));
  page.on('request', (r) => { if (r.url() !== url) requests.push(r.url()); });
  await page.goto(url, { waitUntil: 'load' });
  await page.waitForSelector('html[data-ready]', { timeout: 10000 });
  return { page, problems, requests };
}

const shownHosts = (page) => page.$$eval('#hosts tbody tr.row td[data-col=h]', (tds) => tds.map((td) => td.textContent));
const shownIndexes = (page) => page.$$eval('#hosts tbody tr.row', (trs) => trs.map((tr) => +tr.dataset.i));
async function choose(page, id, label) {
  const value = await page.$eval(`#${id}`, (s, label) => {
    const o = Array.from(s.options).find((o) => o.textContent === label || o.textContent.startsWith(label + ' ('));
    return o ? o.value : null;
  }, label);
  if (value === null) return false;
  await page.select(`#${id}`, value);
  return true;
}
async function clear(page) { await page.click('#f-clear'); }

async function tiles(page) {
  return page.$$eval('.tile', (ts) => Object.fromEntries(ts.map((t) => [t.dataset.tile, +t.querySelector('.value').textContent])));
}
function expectedTiles(records) {
  return {
    checked: records.length,
    ready: records.filter((r) => r.exit_code === 0).length,
    'not-ready': records.filter((r) => r.exit_code !== 0).length,
    unreachable: records.filter((r) => r.exit_code === 1 || r.exit_code === 2 || r.timed_out).length,
    'timed-out': records.filter((r) => r.timed_out).length,
  };
}

// The blockers a sweep knows, in the order the chart lists them.
const BLOCKERS = ['clock', 'reboot-pending', 'remote-registry', 'old-domain-services', 'old-domain-admins',
  'old-domain-profiles'];
const hasBlocker = (name) => (r) => r.blockers !== null && r.blockers.includes(name);
async function blockerBars(page) {
  return page.$$eval('#chart-blockers .bar', (gs) => gs.map((g) => {
    const texts = g.querySelectorAll('text');
    return [g.getAttribute('data-value'), +texts[texts.length - 1].textContent];
  }));
}
function expectedBlockerBars(records) {
  return BLOCKERS.map((b) => [b, records.filter(hasBlocker(b)).length])
    .concat([['', records.filter((r) => r.blockers === null).length]]);
}
async function clickBar(page, value) {
  await page.click(`#chart-blockers .bar[data-value="${value}"] text`);
}

// The lists an opened row shows under "Before the move", cell by cell, and
// which rows it marks as the old domain's.
async function moveLists(page, i) {
  return page.$eval(`#hosts tbody tr.row[data-i="${i}"]`, (tr) => {
    const d = tr.nextElementSibling;
    if (!d || !d.classList.contains('detail')) return null;
    const lists = {};
    d.querySelectorAll('table.entries').forEach((t) => {
      lists[t.dataset.list] = Array.from(t.querySelectorAll('tr.entry')).map((r) => ({
        cells: Array.from(r.querySelectorAll('td:not(.mark)')).map((td) => td.textContent),
        old: r.classList.contains('old') && r.querySelector('td.mark').textContent === 'old domain',
      }));
    });
    const facts = {};
    const dts = d.querySelectorAll('.move dl.facts dt');
    dts.forEach((dt) => { facts[dt.textContent] = dt.nextElementSibling.textContent; });
    return { lists, facts, blockers: Array.from(d.querySelectorAll('.move ul.blockers li')).map((li) => li.textContent) };
  });
}
function expectedLists(r) {
  const shown = (entries, cells, domainOf) => entries.map((e) => ({ cells: cells(e), old: inOldDomain(r, domainOf(e)) }));
  const lists = {};
  if (r.domain_services && r.domain_services.length) {
    lists.services = shown(r.domain_services, (s) => [s.name, s.display_name, s.account, s.start_type, s.state],
      (s) => accountDomain(s.account));
  }
  if (r.local_admins && r.local_admins.length) {
    lists.admins = shown(r.local_admins, (a) => [a.name, a.domain, a.kind, a.sid], (a) => a.domain);
  }
  if (r.profiles && r.profiles.length) lists.profiles = shown(r.profiles, (p) => [p.sid, p.name, p.domain], (p) => p.domain);
  return lists;
}

async function crafted(browser) {
  const records = readRecords(path.join(dir, 'crafted.jsonl'));
  const { page, problems, requests } = await open(browser, path.join(dir, 'crafted.html'));
  await page.select('#p-size', '500');

  check('page loads with no console error', problems.length === 0, problems.join(' | '));
  check('page makes no network request', requests.length === 0, requests.join(' '));
  const t = await tiles(page);
  check('tiles equal the counts in the JSON Lines', same(t, expectedTiles(records)), JSON.stringify(t));
  check('every record is a row', (await shownHosts(page)).length === records.length);
  const oneSite = await siteRows(page);
  check('one file of an older sweep is one site, named by its file',
    same(oneSite, expectedSiteRows(records.map((r) => Object.assign({}, r, { site: 'crafted' })))), JSON.stringify(oneSite));

  const filters = [
    ['f-part', 'admin-share', (r) => r.failed.includes('admin-share')],
    ['f-part', 'unreachable', (r) => r.failed.includes('unreachable')],
    ['f-family', 'Windows Server 2022', (r) => r.os.family === 'Windows Server 2022'],
    // A record without a family of its own gets one from its older registry texts.
    ['f-family', 'unknown', (r) => !r.os.family && !r.product_type],
    ['f-domain', 'CORP', (r) => r.domain === 'CORP'],
    ['f-domain', 'SÄLJARE', (r) => r.domain === 'SÄLJARE'],
  ];
  for (const [id, label, match] of filters) {
    await clear(page);
    const found = await choose(page, id, label);
    const want = records.filter(match).map((r) => visible(r.host)).sort();
    const got = (await shownHosts(page)).sort();
    check(`filter ${id} ${label} shows exactly its hosts`, found && want.length > 0 && same(got, want),
      `want ${want.length} ${JSON.stringify(want)}, got ${JSON.stringify(got)}`);
  }
  await clear(page);
  await page.type('#f-text', 'WS-00');
  const want = records.filter((r) => r.host.startsWith('ws-00')).map((r) => r.host).sort();
  check('free text filter shows exactly its hosts', same((await shownHosts(page)).sort(), want));
  await clear(page);
  await choose(page, 'f-part', 'admin-share');
  await choose(page, 'f-domain', 'SÄLJARE');
  check('filters combine', same((await shownHosts(page)).sort(),
    records.filter((r) => r.failed.includes('admin-share') && r.domain === 'SÄLJARE').map((r) => r.host).sort()));
  await clear(page);

  const bars = await blockerBars(page);
  check('the blocker chart has a bar per blocker, in order, counting its hosts',
    same(bars, expectedBlockerBars(records)) && bars.slice(0, -1).every(([, n]) => n > 0), JSON.stringify(bars));
  for (const [value, match] of BLOCKERS.map((b) => [b, hasBlocker(b)]).concat([['', (r) => r.blockers === null]])) {
    await clear(page);
    await clickBar(page, value);
    const want = records.filter(match).map((r) => visible(r.host)).sort();
    const got = (await shownHosts(page)).sort();
    check(`clicking the blocker bar ${value || 'not checked'} shows exactly its hosts`, same(got, want),
      `want ${JSON.stringify(want)}, got ${JSON.stringify(got)}`);
  }
  const blockerFilters = [
    ['old-domain-admins', hasBlocker('old-domain-admins')],
    ['(none found)', (r) => r.blockers !== null && r.blockers.length === 0],
    ['(not checked)', (r) => r.blockers === null],
    // A blocker this version does not know still filters, by its text.
    ['<img src=x onerror="window.__qvxPwned=13">', hasBlocker('<img src=x onerror="window.__qvxPwned=13">')],
  ];
  for (const [label, match] of blockerFilters) {
    await clear(page);
    const found = await choose(page, 'f-blocker', label);
    const want = records.filter(match).map((r) => visible(r.host)).sort();
    const got = (await shownHosts(page)).sort();
    check(`the Blockers filter ${label} shows exactly its hosts`, found && want.length > 0 && same(got, want),
      `want ${JSON.stringify(want)}, got ${JSON.stringify(got)}`);
  }
  await clear(page);
  await page.click('th[data-col=b] button');
  const byBlockers = (await shownIndexes(page)).map((i) => records[i].blockers);
  const checked = byBlockers.filter((b) => b !== null);
  check('sorting by blockers orders the rows by how many, hosts never checked last',
    checked.every((b, k) => k === 0 || checked[k - 1].length <= b.length) &&
    byBlockers.slice(checked.length).every((b) => b === null) && checked.length > 3, JSON.stringify(byBlockers));
  await clear(page);

  await page.click('th[data-col=fb] button');

  const up = (await shownIndexes(page)).map((i) => records[i].free_bytes);
  const known = up.filter((v) => v !== null);
  check('sorting by free space orders the rows, unknown last',
    known.every((v, k) => k === 0 || known[k - 1] <= v) && up.slice(known.length).every((v) => v === null) && known.length > 3,
    JSON.stringify(up));
  await page.click('th[data-col=fb] button');
  const down = (await shownIndexes(page)).map((i) => records[i].free_bytes).filter((v) => v !== null);
  check('sorting again reverses it', down.every((v, k) => k === 0 || down[k - 1] >= v));

  const target = records.findIndex((r) => r.host === 'qvxhost-noreg');
  await page.click(`#hosts tbody tr.row[data-i="${target}"]`);
  const opened = await page.$eval(`#hosts tbody tr.row[data-i="${target}"]`, (tr) => {
    const d = tr.nextElementSibling;
    return d && d.classList.contains('detail')
      ? { lines: d.querySelector('pre.lines').textContent, errors: d.querySelectorAll('tr.error').length } : null;
  });
  check('a row opens to its status lines and errors', opened && opened.lines === records[target].lines.join('\n') &&
    opened.errors === records[target].errors.length, JSON.stringify(opened));
  const noreg = await moveLists(page, target);
  check('a host whose Remote Registry is stopped says to enable and start it',
    noreg && noreg.blockers.length === 1 && noreg.blockers[0].startsWith('remote-registry') &&
    noreg.blockers[0].includes('Enable and start it (for example by Group Policy)') &&
    noreg.facts['Remote Registry'] === 'stopped, start type disabled', JSON.stringify(noreg));

  const ws2 = records.findIndex((r) => r.host === 'ws-002.corp.example');
  await page.click(`#hosts tbody tr.row[data-i="${ws2}"]`);
  const lists = await moveLists(page, ws2);
  check('an opened row lists services, administrators and profiles, the old domain\'s marked',
    lists && same(lists.lists, expectedLists(records[ws2])) && lists.lists.services.filter((s) => s.old).length === 2,
    JSON.stringify(lists && lists.lists));
  check('an opened row shows the clock skew, the pending reboot and what each blocker means',
    lists && lists.facts['clock skew'] === '+412.3 s (host ahead)' &&
    lists.facts['pending reboot'] === 'windows-update, file-rename' && lists.blockers.length === 3 &&
    lists.blockers[0].startsWith('clock \u2014 ') && lists.blockers[0].includes('Kerberos'), JSON.stringify(lists));
  await page.click(`#hosts tbody tr.row[data-i="${ws2}"]`);

  // Hostile texts: open every row, then look for anything that ran or was parsed as markup.
  await page.$$eval('#hosts tbody tr.row', (trs) => trs.forEach((tr) => tr.click()));
  const hostileHosts = records.filter((r) => /[<>"\u0000-\u001f]/.test(r.host)).map((r) => visible(r.host));
  const shown = await shownHosts(page);
  check('hostile host names render as their text', hostileHosts.length >= 3 && hostileHosts.every((h) => shown.includes(h)),
    JSON.stringify(hostileHosts));
  const dom = await page.evaluate(() => ({
    pwned: window.__qvxPwned,
    scripts: document.scripts.length,
    imgs: document.querySelectorAll('img, iframe, b, u, i').length,
    svgs: document.querySelectorAll('svg').length,
  }));
  check('no script from host data runs and no markup from it appears',
    dom.pwned === undefined && dom.scripts === 2 && dom.imgs === 0 && dom.svgs === 4, JSON.stringify(dom));
  const hostileMove = records.findIndex((r) => r.domain_services && r.domain_services.some((s) => s.account.includes('<img')));
  const hostileLists = await moveLists(page, hostileMove);
  check('hostile service, administrator and profile texts render as their text',
    hostileLists && same(hostileLists.lists, expectedLists(records[hostileMove])) &&
    hostileLists.facts['pending reboot'] === records[hostileMove].reboot_pending[0],
    JSON.stringify(hostileLists && hostileLists.lists));
  const hostileLine = records.find((r) => r.lines.some((l) => l.startsWith('<svg')));
  const lineShown = await page.$$eval('pre.lines', (ps, l) => ps.some((p) => p.textContent.includes(l)),
    hostileLine.lines.find((l) => l.startsWith('<svg')));
  check('hostile status lines render as text', lineShown);
  check('still no console error after opening every row', problems.length === 0, problems.join(' | '));
  await page.close();
}

async function since(browser) {
  const { page, problems, requests } = await open(browser, path.join(dir, 'since.html'));
  check('comparison page loads cleanly', problems.length === 0 && requests.length === 0, problems.concat(requests).join(' | '));
  const counts = await page.$$eval('#changes details', (ds) => Object.fromEntries(ds.map((d) => [d.dataset.change, +d.querySelector('summary b').textContent])));
  const want = { 'became-ready': 1, 'stopped-being-ready': 1, new: 4, 'no-longer-listed': 1, 'os-changed': 1,
    'blockers-appeared': 3, 'blockers-cleared': 2 };
  check('the changes section counts what changed', same(counts, want), JSON.stringify(counts));
  const cleared = await page.$$eval('#changes details[data-change=blockers-cleared] li', (lis) => lis.map((li) => li.textContent));
  check('the changes section names the blockers cleared',
    same(cleared, ['qvxhost-noreg \u2014 clock', 'ws-004.corp.example \u2014 old-domain-admins']), JSON.stringify(cleared));
  await page.select('#p-size', '500');
  const changeFilters = [
    ['stopped being ready', ['ws-003.corp.example']],
    // ws-002 gained blockers too, but became ready, which says more.
    ['blockers appeared', ['ws-001.corp.example', 'ws-006.corp.example']],
    ['blockers cleared', ['qvxhost-noreg', 'ws-004.corp.example']],
  ];
  for (const [label, hosts] of changeFilters) {
    await choose(page, 'f-change', label);
    const got = (await shownHosts(page)).sort();
    check(`the change column filters ${label}`, same(got, hosts), JSON.stringify(got));
  }
  await page.close();
}

// The site table's rows as shown: the site, then each count by its key.
async function siteRows(page) {
  return page.$$eval('#site-table tr.site-row', (trs) => trs.map((tr) => [tr.querySelector('th').textContent]
    .concat(Array.from(tr.querySelectorAll('td[data-count]')).map((td) => td.dataset.count + '=' + td.textContent))));
}
function expectedSiteRows(records) {
  const names = Array.from(new Set(records.map((r) => r.site)))
    .sort((a, b) => a.toLowerCase() < b.toLowerCase() ? -1 : 1);
  return names.map((site) => {
    const of = records.filter((r) => r.site === site);
    const t = expectedTiles(of);
    return [site, 'hosts=' + of.length, 'ready=' + t.ready, 'not-ready=' + t['not-ready'],
      'unreachable=' + t.unreachable, 'blocked=' + of.filter((r) => r.blockers && r.blockers.length).length];
  });
}

async function sites(browser) {
  // What the page should hold: each host once, the record of its latest
  // check (the file named last on a tie), a record without a site named by
  // its file.
  const superseded = [['shared-01.corp.example', 'paris.jsonl', 'lyon.jsonl'],
    ['shared-02.corp.example', 'lyon.jsonl', 'old-branch.jsonl']];
  const records = [];
  for (const file of SITE_FILES) {
    for (const r of readRecords(path.join(dir, file))) {
      if (superseded.some(([host, dropped]) => dropped === file && host === r.host.toLowerCase())) continue;
      records.push(Object.assign(r, { site: r.site || file.replace(/\.jsonl$/, '') }));
    }
  }
  const { page, problems, requests } = await open(browser, path.join(dir, 'sites.html'));
  await page.select('#p-size', '500');
  check('three sites\' page loads cleanly', problems.length === 0 && requests.length === 0,
    problems.concat(requests).join(' | '));
  check('three sites\' tiles count each host once', same(await tiles(page), expectedTiles(records)));
  const rows = await siteRows(page);
  check('the table of sites counts each site\'s records, the older sweep\'s by its file name',
    same(rows, expectedSiteRows(records)) && rows.length === 3 && rows.some((r) => r[0] === 'old-branch'),
    JSON.stringify(rows));
  const notes = await page.$$eval('#merged details[data-merge=records]', (ds) => ds.map((d) => ({
    count: +d.querySelector('summary b').textContent,
    items: Array.from(d.querySelectorAll('li')).map((li) => li.textContent),
  })));
  check('the page says which records a later check superseded, naming the host and both files',
    notes.length === 1 && notes[0].count === superseded.length && superseded.every(([host, dropped, kept], k) =>
      notes[0].items[k].startsWith(host + ' \u2014 ' + path.join(dir, dropped) + ' (') &&
      notes[0].items[k].includes('kept ' + path.join(dir, kept) + ' (')),
    JSON.stringify(notes));

  const ofSite = (site) => records.filter((r) => r.site === site).map((r) => r.host).sort();
  const shownSites = () => page.$$eval('#hosts tbody tr.row td[data-col=s]', (tds) => tds.map((td) => td.textContent));
  for (const site of ['Lyon', PARIS, 'old-branch']) {
    await clear(page);
    const found = await choose(page, 'f-site', site);
    const got = (await shownHosts(page)).sort();
    check(`the Site filter ${site} shows exactly its hosts, in its column`,
      found && same(got, ofSite(site)) && (await shownSites()).every((s) => s === site), JSON.stringify(got));
  }
  await clear(page);
  const index = expectedSiteRows(records).findIndex((r) => r[0] === 'old-branch');
  await page.click(`#site-table tr.site-row[data-site="${index}"] th`);
  const clicked = (await shownHosts(page)).sort();
  check('clicking a site\'s row shows exactly its hosts and sets the Site filter',
    same(clicked, ofSite('old-branch')) &&
    await page.$eval('#f-site', (s) => s.options[s.selectedIndex].textContent) === 'old-branch', JSON.stringify(clicked));
  await clear(page);
  const paris = expectedSiteRows(records).findIndex((r) => r[0] === PARIS);
  await page.focus(`#site-table tr.site-row[data-site="${paris}"]`);
  await page.keyboard.press('Enter');
  check('a site\'s row answers the keyboard too', same((await shownHosts(page)).sort(), ofSite(PARIS)));
  check('a hostile site name stays text', await page.evaluate(() => document.querySelectorAll('i').length) === 0 &&
    problems.length === 0, problems.join(' | '));
  await page.close();
}

async function sweep(browser) {
  const file = path.join(dir, 'sweep.jsonl');
  if (!fs.existsSync(file)) return;
  const records = readRecords(file);
  const { page, problems, requests } = await open(browser, path.join(dir, 'sweep.html'));
  check('a real sweep\'s report loads cleanly', problems.length === 0 && requests.length === 0, problems.concat(requests).join(' | '));
  check('a real sweep\'s tiles equal its records', same(await tiles(page), expectedTiles(records)));
  await page.close();
}

async function fleet(browser) {
  const records = readRecords(path.join(dir, 'fleet.jsonl'));
  const { page, problems } = await open(browser, path.join(dir, 'fleet.html'));
  const timing = await page.evaluate(() => {
    const fcp = performance.getEntriesByName('first-contentful-paint')[0];
    return { fcp: fcp ? fcp.startTime : null };
  });
  check(`${records.length} hosts: first frame within 2 s (${Math.round(timing.fcp)} ms)`, timing.fcp !== null && timing.fcp < 2000);
  check(`${records.length} hosts: tiles equal the JSON Lines`, same(await tiles(page), expectedTiles(records)));
  const one = records[records.length - 7].host;
  const started = Date.now();
  await page.$eval('#f-text', (input, text) => {
    input.value = text;
    input.dispatchEvent(new Event('input', { bubbles: true }));
  }, one);
  await page.waitForFunction(() => document.querySelectorAll('#hosts tbody tr.row').length === 1, { timeout: 5000 });
  const took = Date.now() - started;
  check(`${records.length} hosts: filtering to one host within 2 s (${took} ms)`, took < 2000 && same(await shownHosts(page), [one]));
  check(`${records.length} hosts: the blocker chart counts the JSON Lines`,
    same(await blockerBars(page), expectedBlockerBars(records)));
  await clear(page);
  const clicked = Date.now();
  await clickBar(page, 'old-domain-profiles');
  const profiles = records.filter(hasBlocker('old-domain-profiles')).length;
  await page.waitForFunction((n) => document.getElementById('count').textContent.startsWith(n + ' of '), { timeout: 5000 }, profiles);
  const tookBar = Date.now() - clicked;
  check(`${records.length} hosts: a blocker bar filters within 2 s (${tookBar} ms)`, tookBar < 2000);
  check(`${records.length} hosts: no console error`, problems.length === 0, problems.join(' | '));
  await page.close();
}

async function screenshot(browser, file) {
  const page = await browser.newPage();
  await page.setViewport({ width: 1200, height: 1020 });
  await page.goto('file://' + path.resolve(path.join(dir, 'demo.html')), { waitUntil: 'load' });
  await page.waitForSelector('html[data-ready]');
  await page.select('#p-size', '50');
  await page.click('#hosts tbody tr.row:nth-child(3)');
  await page.screenshot({ path: file, type: 'png' });
  await page.close();
}

(async () => {
  try {
    await withChromium('qvx-report-chromium-', async (browser) => {
      await crafted(browser);
      await since(browser);
      await sites(browser);
      await sweep(browser);
      await fleet(browser);
      if (process.env.QVX_SCREENSHOT) await screenshot(browser, process.env.QVX_SCREENSHOT);
    });
  } catch (e) {
    check('browser run', false, e.stack);
  }
  console.log(`browser checks: ${passed} passed, ${failed} failed`);
  process.exit(failed ? 1 : 0);
})();
