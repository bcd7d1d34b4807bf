// Headless Chromium as the report's tests and its benchmark drive it: a
// profile folder of its own, no network of its own beyond the page's
// (which the page's policy forbids anyway), closed and removed however
// `use` ends. puppeteer-core is found through NODE_PATH.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const puppeteer = require('puppeteer-core');

async function withChromium(prefix, use) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
  let browser;
  try {
    browser = await puppeteer.launch({
      executablePath: process.env.QVX_CHROMIUM || '/usr/bin/chromium',
      headless: true,
      userDataDir: profile,
      args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
        '--disable-component-update', '--disable-sync', '--disable-dev-shm-usage'],
    });
    return await use(browser);
  } finally {
    if (browser) await browser.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
}

module.exports = { withChromium };
