// The page in a real browser: Debian's Chromium, headless, driven by puppeteer-core. The page
// gets a stand-in Web Serial port whose far end is orvane-bootsim (through the WebSocket
// bridge, speed changes included); everything else is the page's own code. Each case runs a
// receiver of its own, and the simulated receiver's report must show no error.
//   node tests/web/page_test.mjs [--screenshot docs/screenshot-web.png] [--only NAME]
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';
import { makePackage, root, runCli, site, startBootsim, startServer } from './harness.mjs';

const args = process.argv.slice(2);
const option = (name) => { const i = args.indexOf(name); return i >= 0 ? args[i + 1] : undefined; };
const only = option('--only');
const screenshotPath = option('--screenshot');

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'orvane-web-page-'));
const made = makePackage(work);
// The tests' own files beside the page: the trusted key, the good package and a tampered copy
// (one image byte changed after signing), as a vendor would put its own beside it.
const overlay = path.join(work, 'overlay');
fs.mkdirSync(path.join(overlay, 'packages'), { recursive: true });
fs.cpSync(made.pkg, path.join(overlay, 'packages/good'), { recursive: true });
fs.cpSync(made.pkg, path.join(overlay, 'packages/tampered'), { recursive: true });
const tamperedImage = path.join(overlay, 'packages/tampered/G.bin');
const image = fs.readFileSync(tamperedImage);
image[1000] ^= 0x01;
fs.writeFileSync(tamperedImage, image);
fs.mkdirSync(path.join(overlay, 'keys'));
fs.copyFileSync(made.key, path.join(overlay, 'keys/vendor.pub'));
fs.writeFileSync(path.join(overlay, 'orvane-web.json'), JSON.stringify({
  trustedKeys: ['keys/vendor.pub'],
  packages: [{ label: 'web test', folder: 'packages/good/' }, { label: 'tampered', folder: 'packages/tampered/' }],
}));
const standIn = fs.readFileSync(path.join(root, 'tests/web/standin_serial.js'), 'utf8').replace(/^export /m, '');

const browser = await puppeteer.launch({
  executablePath: process.env.ORVANE_CHROMIUM || '/usr/bin/chromium',
  headless: true,
  userDataDir: path.join(work, 'chromium-profile'),
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--no-first-run', '--window-size=1100,900'],
});

const figures = {};
let serverCount = 0;

// A receiver, the page's server with the bridge to it, and a page with the stand-in port.
async function open(bootsimArgs, { query = '', serial = true } = {}) {
  const link = path.join(work, `link-${++serverCount}`);
  const sim = startBootsim([...bootsimArgs, '--firmware', made.pkg], link, path.join(work, `report-${serverCount}.json`));
  await sim.ready;
  const server = await startServer({ folders: [overlay, site], link });
  const tab = await browser.newPage();
  await tab.setViewport({ width: 1100, height: 900 });
  const problems = [];
  tab.on('pageerror', (e) => problems.push(String(e)));
  tab.on('console', (m) => { if (process.env.ORVANE_WEB_DEBUG) console.log(`page: ${m.text()}`); });
  if (serial) {
    await tab.evaluateOnNewDocument(`${standIn}
      Object.defineProperty(navigator, 'serial', { configurable: true, value: {
        requestPort: async () => new StandInPort(${JSON.stringify(server.bridgeUrl)}),
        getPorts: async () => [],
        addEventListener() {}, removeEventListener() {},
      } });`);
  } else {
    await tab.evaluateOnNewDocument(`delete Navigator.prototype.serial;`);
  }
  await tab.goto(`${server.url}${query}`);
  await tab.waitForSelector('body[data-ready="yes"]', { timeout: 20000 });
  return {
    sim, server, tab, problems,
    async close() {
      await tab.close();
      await sim.stop();
      await server.close();
    },
  };
}

async function connectAndLoad(tab, folder = 'packages/good/') {
  await tab.click('#connect');
  await tab.waitForSelector('body[data-linked="yes"]');
  await tab.select('#package-list', folder);
  await tab.waitForFunction(() => document.body.dataset.packageResult !== undefined);
}

async function runUpdate(tab, outcome, timeout = 180000) {
  const started = Date.now();
  await tab.click('#update');
  await tab.waitForFunction((o) => document.body.dataset.state === o, { timeout }, outcome);
  return (Date.now() - started) / 1000;
}

async function okBox(tab) {
  await tab.waitForSelector('#box[open]');
  const text = await tab.$eval('#box-text', (e) => e.textContent);
  await tab.click('#box-ok');
  return text;
}

async function receiverReport(sim) {
  const { code } = await sim.exited;
  const report = sim.report();
  assert.deepEqual(report.errors, [], JSON.stringify(report.errors));
  assert.equal(report.completed, true);
  assert.equal(code, 0, sim.stderr());
  return report;
}

// The CLI on the same package and the same kind of line, for the time to compare with.
async function cliSeconds(id) {
  const link = path.join(work, `cli-${id}`);
  const sim = startBootsim(['--id', id, '--firmware', made.pkg, '--exit-after-complete'], link, path.join(work, `cli-${id}.json`));
  await sim.ready;
  const result = path.join(work, `cli-${id}-result.json`);
  const r = runCli(['--firmware', made.pkg, '--trusted-key', made.key, '--port', link, '--result-json', result]);
  await sim.stop();
  assert.equal(r.code, 0, r.stderr);
  return JSON.parse(fs.readFileSync(result, 'utf8')).seconds;
}

const cases = {
  async K64E() {
    const s = await open(['--id', 'K64E', '--exit-after-complete']);
    try {
      await connectAndLoad(s.tab);
      figures.firstPaintMs = await s.tab.evaluate(() => performance.getEntriesByName('first-contentful-paint')[0]?.startTime);
      const seconds = await runUpdate(s.tab, 'complete');
      assert.match(await okBox(s.tab), /Firmware update complete/);
      const report = await receiverReport(s.sim);
      const blocks = await s.tab.evaluate(() => window.orvanePage.transfer.blocks);
      assert.equal(report.blocksAccepted, blocks);
      // Save report: the result record, as the command-line updater writes it.
      await s.tab.click('#save-report');
      const saved = await s.tab.evaluate(() => window.orvanePage.savedReport);
      assert.equal(saved.result, 'complete');
      assert.equal(saved.exitCode, 0);
      assert.equal(saved.identifier, 'K64E');
      assert.equal(saved.blocksAcknowledged, blocks);
      figures.K64E = { page: seconds, blocks };
      assert.deepEqual(s.problems, []);
    } finally { await s.close(); }
  },

  async '11S2'() {
    const s = await open(['--id', '11S2', '--exit-after-complete']);
    try {
      await connectAndLoad(s.tab);
      const started = Date.now();
      await s.tab.click('#update');
      if (screenshotPath) {
        // Mid-update: a third of the blocks out.
        await s.tab.waitForFunction(() => (window.orvanePage.transfer?.blocks || 0) > 800, { timeout: 60000 });
        await s.tab.screenshot({ path: screenshotPath });
      }
      await s.tab.waitForFunction(() => document.body.dataset.state === 'complete', { timeout: 180000 });
      const seconds = (Date.now() - started) / 1000;
      await okBox(s.tab);
      const report = await receiverReport(s.sim);
      assert.equal(report.initialBaud, 9600);
      assert.ok(report.speedChanges.some((c) => c.to === 115200 || c.baud === 115200), JSON.stringify(report.speedChanges));
      assert.deepEqual(s.server.bridge.stats.opens, [9600, 115200]);
      const gaps = await s.tab.evaluate(() => window.orvanePage.line.reopenGaps);
      assert.equal(gaps.length, 1);
      figures['11S2'] = { page: seconds, blocks: report.blocksAccepted, reopenGapMs: gaps[0] };
      assert.deepEqual(s.problems, []);
    } finally { await s.close(); }
  },

  async K64U() {
    const s = await open(['--id', 'K64U', '--exit-after-complete', '--completion-delay', '500']);
    try {
      await connectAndLoad(s.tab);
      await s.tab.click('#update');
      await s.tab.waitForFunction(() => document.body.dataset.state === 'awaiting', { timeout: 120000 });
      await s.tab.waitForFunction(() => document.body.dataset.state === 'complete', { timeout: 60000 });
      await okBox(s.tab);
      const report = await receiverReport(s.sim);
      assert.equal(report.completionSent, true);
      assert.deepEqual(s.problems, []);
    } finally { await s.close(); }
  },

  async ZZZZ() {
    const s = await open(['--id', 'ZZZZ']);
    try {
      await connectAndLoad(s.tab);
      await runUpdate(s.tab, 'unknownIdentifier', 30000);
      assert.match(await okBox(s.tab), /ZZZZ/);
      const end = await s.tab.evaluate(() => window.orvanePage.lastEnd);
      assert.equal(end.exitCode, 2);
      assert.equal(end.state.blocksSent, 0);
      await s.sim.stop();
      assert.equal(s.sim.report().blocksAccepted, 0);
    } finally { await s.close(); }
  },

  async tampered() {
    const s = await open(['--id', 'K64E']);
    try {
      await connectAndLoad(s.tab, 'packages/tampered/');
      assert.equal(await s.tab.evaluate(() => document.body.dataset.packageResult), 'refused');
      assert.match(await okBox(s.tab), /G\.bin: its SHA-256 is not the one manifest\.json gives/);
      assert.equal(await s.tab.$eval('#update', (b) => b.disabled), true);
      await s.tab.evaluate(() => document.getElementById('update').click());
      await new Promise((resolve) => setTimeout(resolve, 1000));
      assert.equal(s.server.bridge.stats.bytesToReceiver, 0);
      await s.sim.stop();
      assert.equal(s.sim.report().handshakesSeen, 0);
    } finally { await s.close(); }
  },

  async stall() {
    const s = await open(['--id', 'K64E', '--drop-ack', '10'], { query: '?stall=2' });
    try {
      await connectAndLoad(s.tab);
      await runUpdate(s.tab, 'stalled', 60000);
      await s.tab.waitForSelector('#box[open][data-question="yes"]');
      const text = await s.tab.$eval('#box-text', (e) => e.textContent);
      assert.match(text, /has not acknowledged block 10 .* the transfer has stopped/);
      assert.match(text, /The last block acknowledged was block 9/);
      const sent = s.server.bridge.stats.bytesToReceiver;
      await s.tab.click('#box-yes'); // Try again: a new handshake, as the window's Yes does
      await s.tab.waitForFunction(() => document.body.dataset.state !== 'stalled', { timeout: 5000 });
      await new Promise((resolve) => setTimeout(resolve, 1500));
      assert.ok(s.server.bridge.stats.bytesToReceiver > sent);
      await s.sim.stop();
      const report = s.sim.report();
      assert.equal(report.droppedAcks.length, 1);
      assert.ok(report.handshakesSeen >= 2, JSON.stringify(report));
    } finally { await s.close(); }
  },

  async language() {
    const s = await open(['--id', 'K64E']);
    try {
      await s.tab.select('#language', 'zh');
      assert.equal(await s.tab.$eval('#update', (b) => b.textContent), '升级');
      assert.equal(await s.tab.$eval('#connect', (b) => b.textContent), '连接');
      await s.tab.reload();
      await s.tab.waitForSelector('body[data-ready="yes"]');
      assert.equal(await s.tab.$eval('#update', (b) => b.textContent), '升级');
      await s.tab.select('#language', 'en');
      assert.equal(await s.tab.$eval('#update', (b) => b.textContent), 'Update');
    } finally { await s.close(); }
  },

  async 'no Web Serial'() {
    const s = await open(['--id', 'K64E'], { serial: false });
    try {
      assert.equal(await s.tab.$eval('#no-serial', (e) => e.hidden), false);
      assert.match(await s.tab.$eval('#no-serial', (e) => e.textContent), /Chrome,\s+Microsoft Edge or Opera/);
      assert.equal(await s.tab.$eval('#connect', (b) => b.disabled), true);
    } finally { await s.close(); }
  },
};

let passed = 0;
let failed = 0;
try {
  for (const [name, run] of Object.entries(cases)) {
    if (only && name !== only) continue;
    const started = Date.now();
    try {
      await run();
      passed++;
      console.log(`ok     ${name} (${((Date.now() - started) / 1000).toFixed(1)} s)`);
    } catch (e) {
      failed++;
      console.log(`FAILED ${name}: ${e.stack || e}`);
    }
  }
  if (figures.K64E) figures.K64E.cli = await cliSeconds('K64E');
  if (figures['11S2']) figures['11S2'].cli = await cliSeconds('11S2');
  const wasm = fs.statSync(path.join(site, 'orvane-core.wasm')).size;
  const pageBytes = fs.readdirSync(site, { recursive: true })
    .map((f) => path.join(site, f)).filter((f) => fs.statSync(f).isFile()).reduce((n, f) => n + fs.statSync(f).size, 0);
  console.log(`figures: ${JSON.stringify({ wasmBytes: wasm, pageBytes, ...figures })}`);
} finally {
  await browser.close();
  fs.rmSync(work, { recursive: true, force: true });
}
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed ? 1 : 0);
