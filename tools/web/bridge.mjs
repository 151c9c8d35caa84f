// The far end of the tests' stand-in serial port: a WebSocket that relays bytes to and from a
// pseudo-terminal (orvane-bootsim --link PATH). Text messages are the port's own steps:
//   {"open": BAUD}   the page opened the port at BAUD: the terminal is set to that speed, so the
//                    simulated receiver checks every frame at the speed the page set
//   {"close": true}  the page closed the port: what arrives meanwhile is lost, as on a cable
// Binary messages are the bytes on the line, both ways.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import tty from 'node:tty';
import { WebSocketServer } from 'ws';

// Sets the terminal's speed and raw mode with stty (the line settings are the simulated
// receiver's too: a pseudo-terminal's two sides share them).
function setLine(path, baud) {
  const r = spawnSync('stty', ['-F', path, String(baud), 'raw', '-echo', '-hupcl'], { encoding: 'utf8' });
  if (r.status !== 0) throw new Error(`stty ${path} ${baud}: ${r.stderr.trim()}`);
}

export class PtyBridge {
  constructor(linkPath, { log = () => {} } = {}) {
    this.linkPath = linkPath;
    this.log = log;
    this.socket = null;
    this.open = false;
    this.stats = { opens: [], bytesToReceiver: 0, bytesFromReceiver: 0 };
  }

  attach(server, route = '/bridge') {
    this.wss = new WebSocketServer({ noServer: true });
    server.on('upgrade', (request, socket, head) => {
      if (new URL(request.url, 'http://localhost').pathname !== route) {
        socket.destroy();
        return;
      }
      this.wss.handleUpgrade(request, socket, head, (ws) => this.accept(ws));
    });
  }

  ensureTerminal() {
    if (this.reader) return;
    const path = fs.realpathSync(this.linkPath);
    setLine(path, 9600);
    this.path = path;
    this.writeFd = fs.openSync(path, fs.constants.O_RDWR | fs.constants.O_NOCTTY);
    this.reader = new tty.ReadStream(fs.openSync(path, fs.constants.O_RDWR | fs.constants.O_NOCTTY));
    this.reader.on('data', (data) => {
      this.stats.bytesFromReceiver += data.length;
      if (this.open && this.socket) this.socket.send(data);
    });
    this.reader.on('error', (e) => this.log(`terminal: ${e.message}`));
  }

  accept(ws) {
    if (this.socket) this.socket.close();
    this.socket = ws;
    ws.on('message', (data, isBinary) => {
      try {
        if (!isBinary) {
          const step = JSON.parse(data.toString());
          if (step.open) {
            this.ensureTerminal();
            setLine(this.path, step.open);
            this.open = true;
            this.stats.opens.push(step.open);
            this.log(`open at ${step.open} baud`);
            ws.send(JSON.stringify({ opened: step.open }));
          } else if (step.close) {
            this.open = false;
            this.log('closed');
            ws.send(JSON.stringify({ closed: true }));
          }
          return;
        }
        if (!this.open) return; // a closed port writes nothing
        this.stats.bytesToReceiver += data.length;
        fs.writeSync(this.writeFd, data);
      } catch (e) {
        this.log(`bridge: ${e.message}`);
        ws.close();
      }
    });
    ws.on('close', () => {
      if (this.socket === ws) {
        this.socket = null;
        this.open = false;
      }
    });
  }

  close() {
    this.wss?.close();
    this.socket?.close();
    this.reader?.destroy();
    if (this.writeFd !== undefined) fs.closeSync(this.writeFd);
  }
}
