#include "report/page_assets.h"

namespace quorvex::report {

// System fonts only: the page must not ask for anything when it opens.
const char PageStyle[] = R"css(
:root { --ok: #1a7f37; --bad: #c62828; --warn: #b26a00; --grey: #57606a; --line: #d0d7de;
  --bar: #3f6fb5; --bg: #f6f8fa; color-scheme: light; }
* { box-sizing: border-box; }
body { margin: 0; font: 14px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, sans-serif;
  color: #1f2328; background: #fff; }
header, main { max-width: 1280px; margin: 0 auto; padding: 0 20px; }
header { padding-top: 18px; }
h1 { font-size: 22px; margin: 0 0 2px; }
h2 { font-size: 17px; margin: 26px 0 10px; }
.muted { color: var(--grey); }
.tiles { display: grid; grid-template-columns: repeat(auto-fit, minmax(150px, 1fr)); gap: 12px; margin: 16px 0; }
.tile { border: 1px solid var(--line); border-radius: 8px; padding: 12px 14px; background: var(--bg);
  border-top: 4px solid var(--grey); }
.tile .value { display: block; font-size: 28px; font-weight: 600; }
.tile .label { color: var(--grey); }
.tile.ready { border-top-color: var(--ok); }
.tile.not-ready { border-top-color: var(--bad); }
.tile.timed-out { border-top-color: var(--warn); }
.charts { display: grid; grid-template-columns: repeat(auto-fit, minmax(340px, 1fr)); gap: 16px; }
.chart { margin: 0; border: 1px solid var(--line); border-radius: 8px; padding: 10px 12px; }
.chart figcaption { font-weight: 600; margin-bottom: 6px; }
.chart svg { font-size: 12px; display: block; }
.chart rect { fill: var(--bar); }
.chart text { fill: #1f2328; }
#chart-parts rect { fill: var(--bad); }
#chart-blockers rect { fill: var(--warn); }
#chart-blockers .bar[data-filter=blocker-unknown] rect { fill: var(--grey); }
.bar.link { cursor: pointer; }
.bar.link:hover rect { opacity: .75; }
.changes { margin: 6px 0; }
.changes ul { margin: 4px 0 8px; columns: 2 320px; }
.controls { display: flex; flex-wrap: wrap; gap: 10px 16px; align-items: end; margin-bottom: 6px; }
.controls label, .pager label { display: flex; flex-direction: column; font-size: 12px; color: var(--grey); }
.pager label { flex-direction: row; align-items: center; gap: 6px; }
input, select, button { font: inherit; padding: 4px 6px; border: 1px solid var(--line); border-radius: 5px; background: #fff; }
#f-text { width: 260px; }
button { cursor: pointer; }
.table-wrap { overflow-x: auto; border: 1px solid var(--line); border-radius: 8px; }
table { border-collapse: collapse; width: 100%; }
th, td { padding: 5px 8px; text-align: left; border-bottom: 1px solid var(--line); vertical-align: top; }
th { background: var(--bg); position: sticky; top: 0; white-space: nowrap; }
th button { border: 0; background: none; padding: 0; font-weight: 600; color: inherit; }
th[aria-sort=ascending] button::after { content: " \25B2"; }
th[aria-sort=descending] button::after { content: " \25BC"; }
td.num, th.num { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
td { overflow-wrap: anywhere; max-width: 360px; }
td[data-col=h] { min-width: 15em; }
td[data-col=a] { white-space: nowrap; }
tr.row { cursor: pointer; }
tr.row:hover, tr.row:focus { background: #eef4fc; outline: none; }
tr.row.ok td[data-col=c] { color: var(--ok); font-weight: 600; }
tr.row.bad td[data-col=c] { color: var(--bad); font-weight: 600; }
tr.detail > td { background: #fbfcfd; }
.detail-grid { display: grid; grid-template-columns: minmax(300px, 2fr) minmax(260px, 1fr); gap: 14px; }
.detail h3 { font-size: 13px; margin: 4px 0; }
pre.lines { margin: 0; padding: 8px; background: #fff; border: 1px solid var(--line); border-radius: 5px;
  white-space: pre-wrap; overflow-wrap: anywhere; font: 12px/1.4 ui-monospace, Consolas, monospace; }
dl.facts { display: grid; grid-template-columns: max-content 1fr; gap: 1px 10px; margin: 0; font-size: 12px; }
dl.facts dt { color: var(--grey); }
dl.facts dd { margin: 0; overflow-wrap: anywhere; }
table.errors, table.entries { font-size: 12px; width: auto; margin-top: 4px; }
.detail-grid > .move { grid-column: 1 / -1; }
.move ul.blockers { margin: 2px 0 8px; padding-left: 18px; font-size: 13px; }
.move .lists { display: flex; flex-wrap: wrap; gap: 4px 24px; align-items: start; }
table.entries tr.old td { background: #fff4e0; }
table.entries td.mark { color: var(--warn); font-weight: 600; white-space: nowrap; }
.pager { display: flex; gap: 12px; align-items: center; margin: 8px 0 30px; }
#site-table { width: auto; min-width: 50%; }
#site-table tbody th { font-weight: 600; }
tr.site-row { cursor: pointer; }
tr.site-row:hover, tr.site-row:focus { background: #eef4fc; outline: none; }
@media print {
  header, main { max-width: none; padding: 0; }
  .controls, .pager { display: none; }
  .table-wrap { overflow: visible; border: 0; }
  th { position: static; }
  tr { break-inside: avoid; }
  .chart, .tile { break-inside: avoid; }
  td { max-width: none; }
}
)css";

// Every text that came from a host reaches the page through textContent and
// never through markup, so a host named "<script>" is a host named "<script>".
const char PageScript[] = R"js(
// The data names texts and lists that repeat by their place in its tables,
// and texts built around a host's own name, address or domain by a
// template (report/page_data.h); each host becomes the object the table,
// the filters and the opened rows read.
function decodeFleetData(data) {
  'use strict';
  const T = data.t, P = data.p, V = data.v;
  let host = null, label = null;
  const field = (f) => f === 0 ? host.h : f === 1 ? label : f === 2 ? host.a : host.d;
  const text = (r) => typeof r === 'number' ? (r >= 0 ? T[r] : fill(P[-1 - r])) : r;
  const fill = (p) => text(p[0]) + field(p[1]) + text(p[2]);
  const list = (r) => typeof r === 'number' ? V[r] : r;
  const texts = (r) => { const l = list(r); return l === null ? null : l.map(text); };
  // Entries of the move facts: texts, then 1 when the old domain's.
  const entries = (r) => {
    const l = list(r);
    return l === null ? null : l.map((e) => list(e).map((x, k, all) => k < all.length - 1 ? text(x) : x));
  };
  return data.hosts.map((row, i) => {
    const flags = row[3];
    host = { i, h: row[0], c: row[1], a: text(row[4]), d: text(row[7]) };
    label = host.h.split('.')[0].toUpperCase();
    const h = host, failed = text(row[2]), os = list(row[16]), sm = list(row[18]), mv = row[21];
    h.f = failed ? failed.split(' ') : [];
    h.to = (flags & 1) !== 0;
    h.cr = (flags & 2) !== 0;
    h.as = flags & 4 ? true : flags & 8 ? false : null;
    h.fn = text(row[5]);
    h.nb = text(row[6]);
    h.pt = text(row[8]);
    h.ov = text(row[9]);
    h.fb = row[10];
    h.e = row[11];
    h.at = text(row[12]);
    h.l = texts(row[13]);
    h.fam = text(row[14]);
    h.bld = text(row[15]);
    h.os = [text(os[0]), text(os[1]), text(os[2]), text(os[3]), os[4], os[5]];
    h.er = list(row[17]).map((e) => { const x = list(e); return [text(x[0]), x[1], text(x[2])]; });
    h.sm = sm === null ? null : [text(sm[0]), sm[1]];
    h.ch = text(row[19]);
    h.b = texts(row[20]);
    h.s = text(row[22]);
    h.mv = mv === null ? null : [mv[0], texts(mv[1]), texts(mv[2]), entries(mv[3]), entries(mv[4]),
      entries(mv[5]), text(mv[6]), text(mv[7])];
    return h;
  });
}
(function () {
  'use strict';
  const byId = (id) => document.getElementById(id);
  const make = (tag, cls, text) => {
    const e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined && text !== null) e.textContent = visible(String(text));
    return e;
  };
  // Control characters shown as their visible symbols rather than swallowed.
  const visible = (s) => s.replace(/[\u0000-\u0008\u000b-\u001f\u007f]/g,
    (c) => String.fromCharCode(c === '\u007f' ? 0x2421 : 0x2400 + c.charCodeAt(0)));
  const PARTS = ['unreachable', 'no-management', 'name-mismatch', 'domain', 'admin-share', 'role',
    'os-version', 'registry', 'usage', 'invalid'];

  function bytes(n) {
    if (n === null || n === undefined) return '';
    const units = ['B', 'KiB', 'MiB', 'GiB', 'TiB', 'PiB'];
    let i = 0;
    while (n >= 1024 && i < units.length - 1) { n /= 1024; i++; }
    return (i ? n.toFixed(n < 10 ? 1 : 0) : String(n)) + ' ' + units[i];
  }
  function addressKey(a) {
    const m = /^(\d+)\.(\d+)\.(\d+)\.(\d+)$/.exec(a || '');
    return m ? ((+m[1] * 256 + +m[2]) * 256 + +m[3]) * 256 + +m[4] : null;
  }
  function buildKey(b) {
    const m = /^(\d+)(?:\.(\d+))?$/.exec(b || '');
    return m ? +m[1] * 1e7 + (m[2] ? +m[2] : 0) : (b ? b : null);
  }
  const lower = (s) => (s === null || s === undefined || s === '') ? null : String(s).toLowerCase();

  function start() {
    const data = JSON.parse(byId('qvx-data').textContent);
    const hosts = decodeFleetData(data);
    const BLOCKERS = data.blockers.map((b) => b[0]);
    const MEANING = new Map(data.blockers);
    // Absent when no record has a site; the table of sites names them by index.
    const SITES = data.sites;
    hosts.forEach((h) => {
      h.fk = h.f.join(' ');
      if (h.b) h.b = Array.from(new Set(h.b));
      h.bk = h.b ? h.b.join(', ') : null;
      h.q = [h.h, h.s, h.a, h.fn, h.nb, h.d, h.fam, h.bld, h.fk, h.ch, h.bk].join('\n').toLowerCase();
    });

    const columns = [
      { key: 'h', title: 'Host', text: (h) => h.h, sort: (h) => lower(h.h) },
      { key: 'c', title: 'Exit code', num: true, text: (h) => h.c, sort: (h) => h.c },
      { key: 'f', title: 'Failed', text: (h) => h.fk + (h.to ? ' (timed out)' : '') + (h.cr ? ' (crashed)' : ''),
        sort: (h) => lower(h.fk) },
      // Fewest blockers first, then by their names; hosts never checked last.
      { key: 'b', title: 'Blockers', text: (h) => h.b === null ? '' : h.b.length ? h.bk : 'none',
        sort: (h) => h.b === null ? null : String(h.b.length).padStart(3, '0') + ' ' + h.bk.toLowerCase() },
      { key: 'a', title: 'Address', text: (h) => h.a, sort: (h) => addressKey(h.a) },
      { key: 'd', title: 'Domain', text: (h) => h.d, sort: (h) => lower(h.d) },
      { key: 'fam', title: 'OS family', text: (h) => h.fam, sort: (h) => lower(h.fam) },
      { key: 'bld', title: 'Build', num: true, text: (h) => h.bld, sort: (h) => buildKey(h.bld) },
      { key: 'fb', title: 'admin$ free', num: true, text: (h) => bytes(h.fb), sort: (h) => h.fb },
      { key: 'e', title: 'Time', num: true, text: (h) => (h.e / 1000).toFixed(1) + ' s', sort: (h) => h.e },
    ];
    if (data.since) columns.push({ key: 'ch', title: 'Change', text: (h) => h.ch, sort: (h) => lower(h.ch) });
    if (SITES) columns.splice(1, 0, { key: 's', title: 'Site', text: (h) => h.s, sort: (h) => lower(h.s) });

    // Filter choices are kept by index, so no host text is ever a control value.
    const count = (key) => {
      const m = new Map();
      hosts.forEach((h) => { const k = key(h); m.set(k, (m.get(k) || 0) + 1); });
      return m;
    };
    const partCounts = new Map();
    hosts.forEach((h) => h.f.forEach((p) => partCounts.set(p, (partCounts.get(p) || 0) + 1)));
    const parts = PARTS.filter((p) => partCounts.has(p));
    const families = Array.from(count((h) => h.fam)).sort((x, y) => y[1] - x[1]).map((x) => x[0]);
    const domains = Array.from(count((h) => h.d === null ? null : h.d).keys())
      .sort((x, y) => x === null ? 1 : y === null ? -1 : x.toLowerCase() < y.toLowerCase() ? -1 : 1);
    const blockerCounts = new Map();
    hosts.forEach((h) => { if (h.b) h.b.forEach((b) => blockerCounts.set(b, (blockerCounts.get(b) || 0) + 1)); });
    const blockerNames = BLOCKERS.filter((b) => blockerCounts.has(b))
      .concat(Array.from(blockerCounts.keys()).filter((b) => BLOCKERS.indexOf(b) < 0).sort());
    const blockerChoices = blockerNames.map((b) => ({
      label: b + ' (' + blockerCounts.get(b) + ')', test: (h) => h.b !== null && h.b.indexOf(b) >= 0,
    })).concat([
      { label: '(none found)', test: (h) => h.b !== null && h.b.length === 0 },
      { label: '(not checked)', test: (h) => h.b === null },
    ]);
    const changeNames = ['became ready', 'stopped being ready', 'new', 'blockers appeared', 'blockers cleared',
      'OS changed', ''];
    const fill = (select, values, label) => values.forEach((v, i) => {
      const o = make('option', null, label(v));
      o.value = String(i);
      select.appendChild(o);
    });
    fill(byId('f-part'), parts, (p) => p + ' (' + partCounts.get(p) + ')');
    fill(byId('f-blocker'), blockerChoices, (c) => c.label);
    fill(byId('f-family'), families, (f) => f);
    fill(byId('f-domain'), domains, (d) => d === null ? '(none reported)' : d);
    if (data.since) fill(byId('f-change'), changeNames, (c) => c === '' ? '(unchanged)' : c);
    if (SITES) fill(byId('f-site'), SITES, (s) => s === null ? '(no site)' : s);

    const state = { sort: 0, dir: 1, page: 0, size: 100, open: new Set() };
    let view = hosts.slice();

    const headRow = document.querySelector('#hosts thead tr');
    columns.forEach((col, ci) => {
      const th = make('th', col.num ? 'num' : null);
      th.dataset.col = col.key;
      const b = make('button', null, col.title);
      b.type = 'button';
      b.addEventListener('click', () => {
        state.dir = state.sort === ci ? -state.dir : 1;
        state.sort = ci;
        state.page = 0;
        apply();
      });
      th.appendChild(b);
      headRow.appendChild(th);
    });

    const chosen = (id, values) => {
      const s = byId(id);
      return s && s.value !== '' ? { v: values[+s.value] } : null;
    };
    function apply() {
      const part = chosen('f-part', parts), family = chosen('f-family', families);
      const domain = chosen('f-domain', domains), change = chosen('f-change', changeNames);
      const blocker = chosen('f-blocker', blockerChoices), site = chosen('f-site', SITES);
      const text = byId('f-text').value.trim().toLowerCase();
      view = hosts.filter((h) =>
        (!part || h.f.indexOf(part.v) >= 0) && (!family || h.fam === family.v) && (!blocker || blocker.v.test(h)) &&
        (!domain || h.d === domain.v) && (!change || h.ch === change.v) && (!site || h.s === site.v) &&
        (!text || h.q.indexOf(text) >= 0));
      const col = columns[state.sort], dir = state.dir;
      const keys = new Array(hosts.length);
      view.forEach((h) => { keys[h.i] = col.sort(h); });
      view.sort((a, b) => {
        const x = keys[a.i], y = keys[b.i];
        const xn = x === null || x === undefined, yn = y === null || y === undefined;
        if (xn || yn) return xn === yn ? a.i - b.i : xn ? 1 : -1;  // unknown last either way
        if (typeof x !== typeof y) return (typeof x === 'number' ? -1 : 1) * dir;
        return x < y ? -dir : x > y ? dir : a.i - b.i;
      });
      headRow.querySelectorAll('th').forEach((th, ci) => {
        if (ci === state.sort) th.setAttribute('aria-sort', dir > 0 ? 'ascending' : 'descending');
        else th.removeAttribute('aria-sort');
      });
      const pages = Math.max(1, Math.ceil(view.length / state.size));
      if (state.page >= pages) state.page = pages - 1;
      render(state.page * state.size, Math.min(view.length, (state.page + 1) * state.size));
    }

    const tbody = document.querySelector('#hosts tbody');
    function row(h) {
      const tr = make('tr', 'row ' + (h.c === 0 ? 'ok' : 'bad'));
      tr.dataset.i = h.i;
      tr.tabIndex = 0;
      tr.setAttribute('aria-expanded', state.open.has(h.i) ? 'true' : 'false');
      columns.forEach((col) => {
        const td = make('td', col.num ? 'num' : null, col.text(h));
        td.dataset.col = col.key;
        tr.appendChild(td);
      });
      return tr;
    }
    function fact(dl, name, value) {
      if (value === null || value === undefined || value === '') return;
      dl.appendChild(make('dt', null, name));
      dl.appendChild(make('dd', null, value));
    }
    function entries(kind, title, list, heads) {
      const box = make('div', 'list');
      box.appendChild(make('h3', null, list && list.length ? title + ' (' + list.length + ')' : title));
      if (!list || !list.length) {
        box.appendChild(make('p', 'muted', list ? 'none' : 'not learned'));
        return box;
      }
      const t = make('table', 'entries');
      t.dataset.list = kind;
      const head = make('tr');
      heads.concat(['']).forEach((c) => head.appendChild(make('th', null, c)));
      t.appendChild(head);
      list.forEach((e) => {
        const old = e[e.length - 1] === 1;
        const r = make('tr', old ? 'entry old' : 'entry');
        for (let k = 0; k < e.length - 1; k++) r.appendChild(make('td', null, e[k]));
        r.appendChild(make('td', 'mark', old ? 'old domain' : ''));
        t.appendChild(r);
      });
      box.appendChild(t);
      return box;
    }
    function skew(s) {
      return (s > 0 ? '+' : '') + s.toFixed(1) + ' s' + (s > 0 ? ' (host ahead)' : s < 0 ? ' (host behind)' : '');
    }
    function move(h) {
      const box = make('div', 'move');
      box.appendChild(make('h3', null, 'Before the move'));
      const m = h.mv;
      if (h.b === null) {
        box.appendChild(make('p', 'muted', 'blockers not checked'));
      } else if (!h.b.length) {
        box.appendChild(make('p', 'muted', 'no blocker found'));
      } else {
        const ul = make('ul', 'blockers');
        h.b.forEach((b) => {
          const li = make('li');
          li.appendChild(make('strong', null, b));
          if (MEANING.has(b)) li.appendChild(make('span', 'meaning', ' \u2014 ' + MEANING.get(b)));
          ul.appendChild(li);
        });
        box.appendChild(ul);
      }
      if (!m) return box;
      const dl = make('dl', 'facts');
      const names = (list) => list === null ? null : list.length ? list.join(', ') : 'none';
      fact(dl, 'old domain', m[6]);
      fact(dl, 'DNS domain', m[7]);
      fact(dl, 'clock skew', m[0] === null ? null : skew(m[0]));
      fact(dl, 'pending reboot', names(m[1]));
      fact(dl, 'Remote Registry', m[2] === null ? null : m[2][0] + ', start type ' + m[2][1]);
      box.appendChild(dl);
      const lists = make('div', 'lists');
      lists.appendChild(entries('services', 'Services with domain accounts', m[3],
        ['name', 'display name', 'account', 'start type', 'state']));
      lists.appendChild(entries('admins', 'Local administrators', m[4], ['name', 'domain', 'kind', 'SID']));
      lists.appendChild(entries('profiles', 'Profiles', m[5], ['SID', 'name', 'domain']));
      box.appendChild(lists);
      return box;
    }
    function detail(h) {
      const tr = make('tr', 'detail');
      tr.dataset.i = h.i;
      const td = make('td');
      td.colSpan = columns.length;
      const grid = make('div', 'detail-grid');
      const left = make('div');
      left.appendChild(make('h3', null, 'Status lines'));
      left.appendChild(make('pre', 'lines', h.l.length ? h.l.join('\n') : '(no lines recorded)'));
      left.appendChild(make('h3', null, 'Failed calls'));
      if (h.er.length) {
        const t = make('table', 'errors');
        const head = make('tr');
        ['call', 'status', 'name'].forEach((c) => head.appendChild(make('th', null, c)));
        t.appendChild(head);
        h.er.forEach((e) => {
          const r = make('tr', 'error');
          r.appendChild(make('td', null, e[0]));
          r.appendChild(make('td', 'num', e[1] + ' (0x' + (e[1] >>> 0).toString(16).toUpperCase() + ')'));
          r.appendChild(make('td', null, e[2] || '(unknown)'));
          t.appendChild(r);
        });
        left.appendChild(t);
      } else {
        left.appendChild(make('p', 'muted', 'none recorded'));
      }
      const right = make('div');
      right.appendChild(make('h3', null, 'Facts'));
      const dl = make('dl', 'facts');
      const yes = (b) => b === null || b === undefined ? null : b ? 'yes' : 'no';
      const os = h.os;
      fact(dl, 'checked at', h.at);
      fact(dl, 'address', h.a);
      fact(dl, 'full name', h.fn);
      fact(dl, 'NetBIOS name', h.nb);
      fact(dl, 'domain', h.d);
      fact(dl, 'timed out', h.to ? 'yes' : null);
      fact(dl, 'crashed', h.cr ? 'yes' : null);
      fact(dl, 'admin$ share', yes(h.as));
      fact(dl, 'free bytes', h.fb === null ? null : h.fb.toLocaleString('en-US'));
      fact(dl, 'OS family', h.fam);
      fact(dl, 'ProductName', os[0]);
      fact(dl, 'EditionID', os[1]);
      fact(dl, 'DisplayVersion', os[2]);
      fact(dl, 'InstallationType', os[3]);
      fact(dl, 'version', os[4] === null ? h.ov : os[4] + '.' + (os[5] === null ? '?' : os[5]));
      fact(dl, 'build', h.bld);
      fact(dl, 'product type', h.pt);
      if (h.sm) {
        fact(dl, 'SMB dialect', h.sm[0]);
        fact(dl, 'SMB signing required', yes(h.sm[1]));
      }
      right.appendChild(dl);
      grid.appendChild(left);
      grid.appendChild(right);
      grid.appendChild(move(h));
      td.appendChild(grid);
      tr.appendChild(td);
      return tr;
    }
    function render(from, to) {
      const frag = document.createDocumentFragment();
      for (let k = from; k < to; k++) {
        const h = view[k];
        frag.appendChild(row(h));
        if (state.open.has(h.i)) frag.appendChild(detail(h));
      }
      tbody.textContent = '';
      tbody.appendChild(frag);
      byId('count').textContent = view.length + ' of ' + hosts.length + ' hosts';
      byId('p-info').textContent = view.length ? (from + 1) + '\u2013' + to + ' of ' + view.length : 'no host matches';
      byId('p-prev').disabled = from === 0;
      byId('p-next').disabled = to >= view.length;
    }
    function toggle(tr) {
      const i = +tr.dataset.i, next = tr.nextElementSibling;
      if (state.open.has(i)) {
        state.open.delete(i);
        if (next && next.classList.contains('detail')) next.remove();
        tr.setAttribute('aria-expanded', 'false');
      } else {
        state.open.add(i);
        tr.after(detail(hosts[i]));
        tr.setAttribute('aria-expanded', 'true');
      }
    }
    tbody.addEventListener('click', (ev) => {
      const tr = ev.target.closest('tr.row');
      if (tr) toggle(tr);
    });
    tbody.addEventListener('keydown', (ev) => {
      const tr = ev.target.closest('tr.row');
      if (tr && (ev.key === 'Enter' || ev.key === ' ')) { ev.preventDefault(); toggle(tr); }
    });

    const refilter = () => { state.page = 0; apply(); };
    byId('f-text').addEventListener('input', refilter);
    const selects = ['f-site', 'f-part', 'f-blocker', 'f-family', 'f-domain', 'f-change'];
    selects.forEach((id) => {
      if (byId(id)) byId(id).addEventListener('change', refilter);
    });
    byId('f-clear').addEventListener('click', () => {
      byId('f-text').value = '';
      selects.forEach((id) => { if (byId(id)) byId(id).value = ''; });
      refilter();
    });
    byId('p-prev').addEventListener('click', () => { state.page--; apply(); });
    byId('p-next').addEventListener('click', () => { state.page++; apply(); });
    byId('p-size').addEventListener('change', (ev) => { state.size = +ev.target.value; refilter(); });

    // A bar of the failure, blocker or family chart filters the table to its hosts.
    const barFilters = {
      part: (v) => ['f-part', parts.indexOf(v)],
      blocker: (v) => ['f-blocker', blockerNames.indexOf(v)],
      'blocker-unknown': () => ['f-blocker', blockerChoices.length - 1],
      family: (v) => ['f-family', families.indexOf(v)],
    };
    document.querySelectorAll('.bar.link').forEach((g) => g.addEventListener('click', () => {
      const kind = g.getAttribute('data-filter'), value = g.getAttribute('data-value');
      if (!Object.prototype.hasOwnProperty.call(barFilters, kind)) return;
      const [id, i] = barFilters[kind](value);
      if (i < 0) return;
      byId(id).value = String(i);
      refilter();
      byId('hosts-section').scrollIntoView();
    }));

    // A row of the table of sites filters the hosts table to that site.
    document.querySelectorAll('#site-table tr.site-row').forEach((tr) => {
      const pick = () => {
        byId('f-site').value = tr.getAttribute('data-site');
        refilter();
        byId('hosts-section').scrollIntoView();
      };
      tr.addEventListener('click', pick);
      tr.addEventListener('keydown', (ev) => {
        if (ev.key === 'Enter' || ev.key === ' ') { ev.preventDefault(); pick(); }
      });
    });

    // Paper gets every matching row, not just the page on screen.
    window.addEventListener('beforeprint', () => render(0, Math.min(view.length, 5000)));
    window.addEventListener('afterprint', apply);

    apply();
    document.documentElement.setAttribute('data-ready', '1');
  }

  // Let the counts and charts paint before the table's data is parsed.
  if (document.visibilityState === 'hidden') start();
  else requestAnimationFrame(() => setTimeout(start, 0));
})();
)js";

}  // namespace quorvex::report
