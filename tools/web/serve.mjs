#!/usr/bin/env node
// Serves the browser page on this machine (Web Serial needs a secure context: https, or
// http on localhost). Any static HTTPS server serves the same folder in the field; this one
// is for trying it out and for the tests, which also put their bridge to the simulated
// receiver beside it (--bridge PATH, the --link of orvane-bootsim).
//   node tools/web/serve.mjs [--port 8080] [--bridge PATH] FOLDER [FOLDER...]
// A file is looked for in the folders in order, and the first that has it wins: a folder of
// one's own packages, keys and orvane-web.json named before the page's folder stands beside
// the page without changing it.
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const types = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.json': 'application/json; charset=utf-8',
  '.wasm': 'application/wasm',
  '.svg': 'image/svg+xml',
  '.png': 'image/png',
  '.ts': 'application/xml; charset=utf-8',
};

export function serveFolders(folders) {
  const roots = folders.map((f) => path.resolve(f));
  return (request, response) => {
    let name;
    try {
      name = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
    } catch {
      response.writeHead(400).end();
      return;
    }
    if (name.endsWith('/')) name += 'index.html';
    for (const base of roots) {
      const file = path.join(base, name);
      if (!file.startsWith(base + path.sep)) break; // never a path out of the folder
      let stat;
      try { stat = fs.statSync(file); } catch { continue; }
      if (!stat.isFile()) continue;
      response.writeHead(200, {
        'Content-Type': types[path.extname(file)] || 'application/octet-stream',
        'Content-Length': stat.size,
        'Cache-Control': 'no-cache',
      });
      fs.createReadStream(file).pipe(response);
      return;
    }
    response.writeHead(404, { 'Content-Type': 'text/plain' }).end('not found\n');
  };
}

async function main(argv) {
  let port = 8080;
  let link = null;
  const folders = [];
  for (let i = 0; i < argv.length; i++) {
    if (argv[i] === '--port') port = Number(argv[++i]);
    else if (argv[i] === '--bridge') link = argv[++i];
    else folders.push(argv[i]);
  }
  if (!folders.length || !Number.isInteger(port)) {
    console.error('usage: serve.mjs [--port N] [--bridge PATH] FOLDER [FOLDER...]');
    process.exit(64);
  }
  const server = http.createServer(serveFolders(folders));
  if (link) {
    const { PtyBridge } = await import('./bridge.mjs');
    new PtyBridge(link, { log: (m) => console.log(`bridge: ${m}`) }).attach(server);
  }
  server.listen(port, '127.0.0.1', () => {
    console.log(`The updater's page: http://localhost:${port}/ (Ctrl-C ends)`);
  });
}

if (process.argv[1] && fileURLToPath(import.meta.url) === path.resolve(process.argv[1])) {
  main(process.argv.slice(2));
}
