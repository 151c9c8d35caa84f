// What the browser tests share: a signed firmware package made as a vendor makes one, the
// simulated receiver on a pseudo-terminal, and the page's server with the bridge to it.
import { spawn, spawnSync } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { PtyBridge } from '../../tools/web/bridge.mjs';
import { serveFolders } from '../../tools/web/serve.mjs';

export const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const site = path.join(root, 'build/web/site');
export const bootsimPath = process.env.ORVANE_BOOTSIM || path.join(root, 'build/demo/tools/bootsim/orvane-bootsim');
export const cliPath = process.env.ORVANE_CLI || path.join(root, 'build/demo/src/cli/orvane-update-cli');

// An image of whole 129-byte records: `t25` of type 25, then `t24` of type 24.
function recordImage(t25, t24) {
  const bytes = crypto.randomBytes((t25 + t24) * 129);
  for (let r = 0; r < t25 + t24; r++) bytes[r * 129] = r < t25 ? 25 : 24;
  return bytes;
}

// A package with the images of K64E (G), 11S2 (J) and K64U (PXA271 + FPGA, smaller than real
// ones so that the two-stage case stays quick), signed with a new key by minisign.
export function makePackage(dir) {
  fs.mkdirSync(path.join(dir, 'pkg'), { recursive: true });
  const images = {
    G: recordImage(113, 463),
    J: recordImage(0, 2514),
    PXA271: crypto.randomBytes(20000),
    FPGA: crypto.randomBytes(30000),
  };
  const manifest = { format: 1, release: 'web test 2026.11', date: '2026-11-30', images: {} };
  for (const [name, bytes] of Object.entries(images)) {
    fs.writeFileSync(path.join(dir, 'pkg', `${name}.bin`), bytes);
    manifest.images[name] = { file: `${name}.bin`, length: bytes.length, sha256: crypto.createHash('sha256').update(bytes).digest('hex') };
  }
  fs.writeFileSync(path.join(dir, 'pkg/manifest.json'), JSON.stringify(manifest, null, 1));
  const run = (args) => {
    const r = spawnSync('minisign', args, { encoding: 'utf8' });
    if (r.status !== 0) throw new Error(`minisign ${args.join(' ')}: ${r.stderr}`);
  };
  run(['-G', '-W', '-f', '-p', path.join(dir, 'vendor.pub'), '-s', path.join(dir, 'vendor.key')]);
  run(['-S', '-s', path.join(dir, 'vendor.key'), '-m', path.join(dir, 'pkg/manifest.json')]);
  return { pkg: path.join(dir, 'pkg'), key: path.join(dir, 'vendor.pub'), files: ['manifest.json', 'manifest.json.minisig', ...Object.keys(images).map((n) => `${n}.bin`)] };
}

// orvane-bootsim on a new pseudo-terminal behind `link`; resolves once it answers.
export function startBootsim(args, link, reportPath) {
  const child = spawn(bootsimPath, [...args, '--link', link, '--report', reportPath], { stdio: ['ignore', 'pipe', 'pipe'] });
  let out = '';
  let err = '';
  child.stderr.on('data', (d) => { err += d; });
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
  const ready = new Promise((resolve, reject) => {
    child.stdout.on('data', (d) => {
      out += d;
      if (out.includes('port: ')) resolve();
    });
    exited.then(({ code }) => reject(new Error(`orvane-bootsim ended (${code}) before answering: ${err}`)));
  });
  return {
    child,
    ready,
    exited,
    stderr: () => err,
    report: () => JSON.parse(fs.readFileSync(reportPath, 'utf8')),
    stop: async () => {
      if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
      return exited;
    },
  };
}

// The page's folder (and the tests' own files over it) on a local port, with the bridge.
export async function startServer({ folders, link, log }) {
  const bridge = new PtyBridge(link, { log });
  const server = http.createServer(serveFolders(folders));
  bridge.attach(server);
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  return {
    bridge,
    url: `http://127.0.0.1:${port}/`,
    bridgeUrl: `ws://127.0.0.1:${port}/bridge`,
    close: () => { bridge.close(); server.closeAllConnections?.(); return new Promise((resolve) => server.close(resolve)); },
  };
}

// orvane-update-cli on the same kind of line, for the times to compare with.
export function runCli(args) {
  const started = performance.now();
  const r = spawnSync(cliPath, args, { encoding: 'utf8', timeout: 300000 });
  return { code: r.status, seconds: (performance.now() - started) / 1000, stdout: r.stdout, stderr: r.stderr };
}
