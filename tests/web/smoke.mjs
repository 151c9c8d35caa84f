// The WebAssembly core without a browser: Node loads it as the page does, checks a signed
// package, and updates a simulated K64E through the WebSocket bridge; the simulated receiver
// must report the whole transfer without an error.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { WebSocket } from 'ws';
import { makePackage, site, startBootsim, startServer } from './harness.mjs';
import { StandInPort } from './standin_serial.js';

await import(path.join(site, 'crypto.js'));
const { Core, SerialLine } = await import(path.join(site, 'core.js'));
const factory = loadFactory();

// orvane-core.js is a classic script for the page; Node runs it as one too.
function loadFactory() {
  const file = path.join(site, 'orvane-core.js');
  const module = { exports: {} };
  new Function('module', 'exports', 'require', '__dirname', '__filename', fs.readFileSync(file, 'utf8'))(
    module, module.exports, createRequire(file), site, file);
  return module.exports;
}

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'orvane-web-smoke-'));
const made = makePackage(work);
const link = path.join(work, 'link');
const sim = startBootsim(['--id', 'K64E', '--firmware', made.pkg, '--exit-after-complete'], link, path.join(work, 'report.json'));
let server;
try {
  await sim.ready;
  server = await startServer({ folders: [site], link });
  const core = await Core.load(factory, { wasmBinary: fs.readFileSync(path.join(site, 'orvane-core.wasm')) });
  assert.equal(core.addTrustedKey(fs.readFileSync(made.key, 'utf8'), 'vendor.pub'), '');
  const files = made.files.map((name) => ({ name, bytes: new Uint8Array(fs.readFileSync(path.join(made.pkg, name))) }));
  const loaded = core.loadPackage('pkg', files);
  assert.equal(loaded.ok, true, loaded.error);

  const events = [];
  let ended;
  const done = new Promise((resolve) => { ended = resolve; });
  const line = new SerialLine(core, {
    onEvents: (list) => {
      events.push(...list);
      const end = list.find((e) => e.type === 'ended');
      if (end) ended(end);
    },
  });
  const started = performance.now();
  await line.connect(new StandInPort(server.bridgeUrl, { WebSocketImpl: WebSocket }), { label: 'smoke' });
  line.update();
  const end = await Promise.race([done, new Promise((_, reject) => setTimeout(() => reject(new Error('no end in 120 s')), 120000))]);
  const seconds = (performance.now() - started) / 1000;
  assert.equal(end.outcome, 'complete', JSON.stringify(end));
  assert.equal(end.exitCode, 0);
  const sent = events.filter((e) => e.type === 'blockSent').length;
  assert.equal(end.state.blocksAcknowledged, sent);
  const { code } = await sim.exited;
  assert.equal(code, 0, sim.stderr());
  const report = sim.report();
  assert.deepEqual(report.errors, []);
  assert.equal(report.completed, true);
  assert.equal(report.blocksAccepted, sent);
  const result = core.report();
  assert.equal(result.result, 'complete');
  assert.equal(result.images[0].sha256, loaded.images.find((i) => i.name === 'G').sha256);
  await line.disconnect();
  console.log(`smoke: K64E updated by the WebAssembly core in Node: ${sent} blocks in ${seconds.toFixed(2)} s`);
  console.log('1 passed, 0 failed');
} finally {
  await sim.stop();
  await server?.close();
  fs.rmSync(work, { recursive: true, force: true });
}
