// Not a test: how quickly a fleet report opens and answers in headless
// Chromium, timed inside the page with its performance clock. Prints one
// line a figure, in milliseconds:
//   NODE_PATH=.../node_modules node bench-report-page.js PAGE.html [RUNS]
// first contentful paint and the table drawn, both after navigation; then,
// RUNS times each, the search box narrowed to one host, and the whole fleet
// sorted by host name and by free space, each until the next frame is drawn.
'use strict';
const fs = require('fs');
const path = require('path');
const { withChromium } = require('../tests/report/chromium.js');

const file = path.resolve(process.argv[2]);
const runs = Number(process.argv[3] || 3);

// Runs an action in the page and waits for the frame that shows its result.
async function timed(page, action, arg) {
  return page.evaluate(async (action, arg) => {
    const frame = () => new Promise((done) => requestAnimationFrame(() => setTimeout(done, 0)));
    await frame();
    const t0 = performance.now();
    if (action === 'search') {
      const input = document.getElementById('f-text');
      input.value = arg;
      input.dispatchEvent(new Event('input', { bubbles: true }));
    } else if (action === 'sort') {
      document.querySelector(`th[data-col="${arg}"] button`).click();
    }
    await frame();
    return { ms: performance.now() - t0, rows: document.querySelectorAll('#hosts tbody tr.row').length,
      count: document.getElementById('count').textContent };
  }, action, arg);
}

(async () => {
  let failed = false;
  try {
    await withChromium('qvx-bench-chromium-', async (browser) => {
      const page = await browser.newPage();
      const problems = [];
      page.on('pageerror', (e) => problems.push(String(e)));
      page.on('console', (m) => { if (m.type() === 'error') problems.push(m.text()); });
      // When the page's script marks the table drawn, on the page's own clock.
      await page.evaluateOnNewDocument(() => {
        new MutationObserver((_, observer) => {
          if (document.documentElement && document.documentElement.hasAttribute('data-ready')) {
            window.__qvxReadyAt = performance.now();
            observer.disconnect();
          }
        }).observe(document, { attributes: true, subtree: true, attributeFilter: ['data-ready'] });
      });
      await page.goto('file://' + file, { waitUntil: 'load', timeout: 120000 });
      await page.waitForSelector('html[data-ready]', { timeout: 120000 });
      const opened = await page.evaluate(() => {
        const fcp = performance.getEntriesByName('first-contentful-paint')[0];
        return { fcp: fcp ? fcp.startTime : null, ready: window.__qvxReadyAt,
          hosts: document.getElementById('count').textContent };
      });
      console.log(`page: ${(fs.statSync(file).size / 1e6).toFixed(1)} MB, ${opened.hosts}`);
      console.log(`first contentful paint: ${Math.round(opened.fcp)} ms`);
      console.log(`table drawn: ${Math.round(opened.ready)} ms`);
      const one = await page.$eval('#hosts tbody tr.row:nth-child(37) td[data-col=h]', (td) => td.textContent);
      const figures = { 'search to one host': [], 'sort by host': [], 'sort by free space': [] };
      for (let k = 0; k < runs; k++) {
        const found = await timed(page, 'search', one);
        if (found.rows !== 1) throw new Error(`search for ${one} shows ${found.rows} rows`);
        figures['search to one host'].push(found.ms);
        await timed(page, 'search', '');
        figures['sort by host'].push((await timed(page, 'sort', 'h')).ms);
        figures['sort by free space'].push((await timed(page, 'sort', 'fb')).ms);
      }
      for (const [name, ms] of Object.entries(figures)) {
        const sorted = ms.slice().sort((a, b) => a - b);
        console.log(`${name}: median ${Math.round(sorted[sorted.length >> 1])} ms (runs: ${ms.map(Math.round).join(', ')})`);
      }
      if (problems.length) throw new Error(problems.join(' | '));
    });
  } catch (e) {
    console.log(`failed: ${e.stack}`);
    failed = true;
  }
  process.exit(failed ? 1 : 0);
})();
